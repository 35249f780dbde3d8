#include "sample_programs.hpp"

#include <optional>

#include "example_program.hpp"

namespace tekrec {

namespace {

Builder with_unit(const char* processor, uint8_t flags = 0x04, uint8_t space_width = 0) {
  Builder b;
  b.hdr(0, 1);
  b.unit("m", processor, 3, flags, space_width);
  // Segmented units of address-space width 20 or 24 carry a base addend in their CL records.
  std::optional<uint32_t> addend;
  if ((flags & 0x80) && (space_width == 20 || space_width == 24)) addend = 0;
  b.cl(0x1000, "P", 0, addend).cl(0x2000, "C", 0, addend).cl(0x3000, "B", 0, addend);
  return b;
}

Builder debug_unit(const char* processor = "MC68000", uint8_t flags = 0x04) {
  Builder b = with_unit(processor, flags);
  b.dbgunit(0x00, 0).srcfiles({{"src/", "main.c"}});
  b.basetype(1, 3, 4, 0).basetype(2, 2, 1, 0x40).basetype(3, 4, 8, 1).basetype(4, 17, 4, 0);
  return b;
}

}  // namespace

std::vector<Sample> sample_programs() {
  std::vector<Sample> s;
  s.push_back({"empty-hdr", Builder().hdr().end(), {}});
  s.push_back({"example", example_program(), example_companion()});

  Builder image = with_unit("ARM7TDMI");
  image.sect(0, 0).data(std::vector<uint8_t>(300, 0x5A)).locate(1).zero(0x180);
  image.locate(2).repeat(9, {1, 2, 3}).aflag(0, 0x10, 1).aflag(1, 4, 2);
  image.record(0x0C, Fields().u16(0)).record(0x8C, Fields());
  s.push_back({"image", image.end(), {}});

  Builder seg = with_unit("HD6433042", 0x83, 20);
  seg.sect(0, 1).data({1, 2, 3, 4}).dbgunit(0x10, 0).srcfiles({{"", "s.c"}});
  seg.curfile(0).lines({{1, 0}, {2, 0x10}});
  s.push_back({"segmented", seg.end(), {}});

  Builder syms = debug_unit("xSH7750");
  syms.symbol({VARIABLE, 1, "g", basic_type(1), in_section(2, 2, 0x10, 4), {}});
  syms.symbol({VARIABLE, 2, "s", basic_type(2), in_section(5, 2, 0x20, 1), {}});
  syms.symbol({UNTYPED, 0, "label", {}, at_section(0, 0x40), {}});
  syms.symbol({CLASSED, 0, "k", {}, classed(4, 2, 0x1234), {}});
  syms.symbol({HEXVALUE, 0, "h", {}, hex_digits("1F"), {}});
  syms.symbol({FUNCTION, 0x10, "f", basic_type(1), in_section(2, 0, 0, 0x20), {}});
  syms.attr(0, 2);
  syms.symbol({VARIABLE, 0, "a", basic_type(1), in_frame(0xFFFC), {}});
  syms.symbol({VARIABLE, 0, "r", basic_type(1), in_register("R3"), {}});
  syms.symbol({VARIABLE, 0, "d", basic_type(3), in_registers({"FR2", "FR3"}), {}});
  syms.symbol({VARIABLE, 0, "ls", basic_type(1), in_section(4, 2, 0x30, 4), {}});
  syms.symbol({VARIABLE, 0, "p", basic_type(2), in_frame(8), {}});
  syms.dpt(0).dpt(15).functype();
  syms.blkend(0x40);
  syms.symbol({VARIABLE, 0, "__Tx", basic_type(1), bare_form(9), {}});
  s.push_back({"symbols", syms.end(), {}});

  Builder aggr = debug_unit("H8/300H");
  aggr.symbol({ENUM_TAG, 0x20, "e", {}, enum_tag(), {}}).aggr_begin();
  aggr.symbol({HEXVALUE, 0, "A", {}, hex_digits("0"), {}}).aggr_end();
  aggr.symbol({STRUCT_TAG, 0x21, "Cls", {}, aggregate_tag(16), {}}).aggr_begin();
  aggr.symbol({MEMBER, 0, "bits", basic_type(1), bitfield_at(0, 3, 1), {}});
  aggr.symbol({MEMBER, 0, "arr", basic_type(2), member_at(4, 6), {}}).arrtype({1, 2});
  aggr.symbol({UNION_TAG, 0x22, "u", {}, aggregate_tag(4), {}}).aggr_begin();
  aggr.symbol({MEMBER, 0, "x", basic_type(1), member_at(0, 4), {}}).dpt(2).aggr_end();
  aggr.symbol({MEMBER, 0, "__b_m", type_id(0x22), member_at(8, 4), {}});
  aggr.symbol({MEMBER, 0, "_old", basic_type(1), member_at(12, 4), {}}).aggr_end();
  const std::string cpd =
      "[HD]\n[DEBUG]\n1 cl 0 \"Cls\" Cls\n2,bcl,0,\"b\",__b_m\n3 - 0 new _old\n";
  s.push_back({"aggregates", aggr.end(), cpd});

  Builder ri = with_unit("RI20");
  ri.cl(0x4000, "PR_MAIN");
  ri.dbgunit(0x00, 0).basetype(1, 3, 4, 0);
  ri.symbol({VARIABLE, 0, "v", basic_type(1), in_section(2, 0, 4, 4), {}});
  ri.symbol({VARIABLE, 0, "regs", basic_type(1), in_registers({"G0", "AL"}), {}});
  s.push_back({"ri20", ri.end(), {}});

  Builder bad = with_unit("M8086-16", 0x02);
  bad.record(0x02, Fields().u8(0));
  s.push_back({"invalid", bad, {}});
  return s;
}

}  // namespace tekrec
