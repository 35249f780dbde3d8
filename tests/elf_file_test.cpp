// Whole-file tests of the ELF writer: headers, program headers, sections, symbols and DWARF of
// small programs, fed as finished context files or record by record.
#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "elf_sample.hpp"
#include "elf_support.hpp"
#include "optional_tools.hpp"

using namespace elftest;

namespace {

class ElfFile : public tektest::TempDirTest {};

uint32_t get(const Bytes& b, size_t at, int width, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    uint32_t byte = b[at + i];
    v |= big ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
  }
  return v;
}

struct Header {
  bool big;
  uint16_t machine;
  uint32_t flags;
};

Header header_of(const Bytes& elf) {
  bool big = elf[5] == 2;
  return {big, static_cast<uint16_t>(get(elf, 18, 2, big)), get(elf, 36, 4, big)};
}

// Machine, byte order and flags by processor, as the documentation's table gives them.
TEST_F(ElfFile, MachineByProcessor) {
  TEKTEST_REQUIRE_TOOL("readelf");
  struct Row {
    const char* processor;
    uint16_t machine;
    bool big;
    uint32_t flags;
    const char* readelf_machine;
  } rows[] = {
      {"MC68000", 4, true, 0, "MC68000"},
      {"MC68040", 4, true, 0, "MC68000"},
      {"SH7032", 42, true, 1, "Renesas / SuperH SH"},
      {"xSH7604", 42, true, 2, "Renesas / SuperH SH"},
      {"xSH7750", 42, true, 9, "Renesas / SuperH SH"},
      {"xSH7729", 42, true, 5, "Renesas / SuperH SH"},
      {"MPC821", 20, true, 0, "PowerPC"},
      {"H8S2655", 46, true, 0x820000, "Renesas H8/300"},
      {"HD6413003", 46, true, 0x810000, "Renesas H8/300"},
      {"ARM7TDMI", 40, false, 0x05000200, "ARM"},
      {"V8086-16", 3, false, 0, "Intel 80386"},
      {"SR320", 0, true, 0, "None"},
      {"RI10", 0, true, 0, "None"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.processor);
    tekrec::Builder b;
    b.hdr().unit("m", row.processor, 1, 0x04).cl(0x100, "P").sect(0, 0).data({1, 2}).end();
    ElfResult r = elf_of_ctx(tektest::convert(b), {{1, processor_code(row.processor)}});
    Header h = header_of(r.elf);
    EXPECT_EQ(h.machine, row.machine);
    EXPECT_EQ(h.big, row.big);
    EXPECT_EQ(h.flags, row.flags);
    write_bytes("m.elf", r.elf);
    if (have("readelf")) {
      EXPECT_NE(run("readelf -h m.elf").out.find(row.readelf_machine), std::string::npos);
    }
  }
}

TEST_F(ElfFile, UnitsOfDifferentProcessorsFollowTheFirst) {
  tekrec::Builder b;
  b.hdr().unit("a", "ARM", 1, 0x04).cl(0x100, "P").unit("b", "SH7032", 1, 0x04).cl(0x200, "Q");
  b.sect(0, 0).data({1}).end();
  ElfResult r = elf_of_ctx(tektest::convert(b), {{1, 43}, {2, 9}});
  EXPECT_EQ(header_of(r.elf).machine, 40);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].find("unit b is for the SH7032"), std::string::npos) << r.warnings[0];
}

// PT_LOAD segments and sections over the contiguous ranges: gaps split, blocks written in
// ascending addresses merge.
TEST_F(ElfFile, ImageRangesAndProgramHeaders) {
  TEKTEST_REQUIRE_TOOL("readelf");
  tekrec::Builder b;
  b.hdr().unit("m", "MC68000", 3, 0x04).cl(0x1000, "P").cl(0x1100, "Q").cl(0x4000, "R");
  b.sect(0, 1).data(std::vector<uint8_t>(0x40, 7));  // 0x1100-0x113F, adjacent to P's block
  b.sect(0, 0).data(std::vector<uint8_t>(0x100, 1)).zero(0);
  b.sect(0, 2).repeat(3, {9, 8});
  b.end();
  ElfResult r = elf_of_ctx(tektest::convert(b), {{1, 0}});
  write_bytes("m.elf", r.elf);
  std::string out = run("readelf -lW m.elf").out;
  // Q's block came first: the range is two segments, each where its bytes lie in the file.
  EXPECT_NE(out.find("0x00001000 0x00001000 0x00100 0x00100 RW  0x1"), std::string::npos) << out;
  EXPECT_NE(out.find("0x00001100 0x00001100 0x00040 0x00040 RW  0x1"), std::string::npos) << out;
  EXPECT_NE(out.find("0x00004000 0x00004000 0x00006 0x00006 RW  0x1"), std::string::npos) << out;
  EXPECT_NE(out.find("There are 3 program headers"), std::string::npos) << out;
  std::string sections = run("readelf -SW m.elf").out;
  EXPECT_NE(sections.find(".data.00001000    PROGBITS        00001000"), std::string::npos)
      << sections;
  // Each segment's file bytes are its part of the image.
  Bytes p(0x100, 1), q(0x40, 7), r_bytes = {9, 8, 9, 8, 9, 8};
  std::vector<Segment> segs = segments(r.elf);
  ASSERT_EQ(segs.size(), 3u);
  for (const auto& [seg, want] : {std::pair{segs[0], p}, {segs[1], q}, {segs[2], r_bytes}}) {
    ASSERT_LE(uint64_t{seg.offset} + seg.filesz, r.elf.size());
    EXPECT_TRUE(Bytes(r.elf.begin() + seg.offset, r.elf.begin() + seg.offset + seg.filesz) == want);
  }
}

TEST_F(ElfFile, OverlappingObjectsKeepTheLaterBytes) {
  tekrec::Builder b;
  b.hdr().unit("m", "ARM", 2, 0x04).cl(0x100, "P").cl(0x102, "Q");
  b.sect(0, 0).data({1, 2, 3, 4}).sect(0, 1).data({9, 9}).end();
  Bytes ctx = tektest::convert(b);
  ElfResult r = elf_of_ctx(ctx, {{1, 43}});
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].find("overlap in 0x00000100-0x00000103"), std::string::npos);
  const Bytes want = {1, 2, 9, 9};
  EXPECT_NE(std::search(r.elf.begin(), r.elf.end(), want.begin(), want.end()), r.elf.end());
}

// Segmented addresses (page in the upper half) come out linear in every part of the file.
TEST_F(ElfFile, SegmentedAddressesBecomeLinear) {
  TEKTEST_REQUIRE_TOOL("llvm-dwarfdump", "readelf");
  tekrec::Builder b;
  b.hdr().unit("m", "M8086", 1, 0x84, 20).cl(0x12340, "CODE", 0, 0);
  b.dbgunit(0x01, 0).srcfiles({{"", "a.c"}}).basetype(1, 3, 2, 0);
  b.symbol(tektest::sym(tekrec::FUNCTION, "f", tekrec::basic_type(1),
                        tekrec::in_section(2, 0, 0x20, 0x10), 0x30));
  b.symbol(
      tektest::sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(4, 0, 0x4, 2)));
  b.blkend(0x40);
  b.sect(0, 0).curfile(0).lines({{5, 0x20}}).data(std::vector<uint8_t>(0x30, 0x90));
  b.end();
  Bytes ctx = tektest::convert(b);
  ElfResult r = elf_of_ctx(ctx, {{1, 41}}, 1);
  write_bytes("m.elf", r.elf);
  std::string syms = run("readelf -sW m.elf").out;
  EXPECT_NE(syms.find("00012360    16 FUNC    GLOBAL DEFAULT    1 f"), std::string::npos) << syms;
  std::string dw = run("llvm-dwarfdump --debug-info --debug-line m.elf").out;
  EXPECT_NE(dw.find("DW_AT_low_pc\t(0x00012360)"), std::string::npos) << dw;
  EXPECT_NE(dw.find("DW_OP_addr 0x12344"), std::string::npos) << dw;
  EXPECT_NE(dw.find("0x0000000000012360      5"), std::string::npos) << dw;
  EXPECT_NE(run("readelf -lW m.elf").out.find("0x00012340"), std::string::npos);
}

// Feeding the records interleaved, as a conversion emits them, gives the same file as the
// finished context file's order (main, local, type).
TEST_F(ElfFile, StreamOrderDoesNotMatter) {
  Bytes ctx = tektest::convert(sample_program({"SH7032", "R9"}));
  ElfResult whole = elf_of_ctx(ctx, {{1, 9}});

  std::vector<std::vector<tek::CtxRecord>> streams(3);
  tek::CtxReader rd{ctx};
  tek::CtxRecord rec;
  while (tek::read_record(rd, rec) == tek::CtxStep::Record)
    streams[static_cast<int>(tek::stream_of(rec.tag))].push_back(rec);
  // Round robin over the streams: type, local, main, type, ...
  tek::ElfSink sink;
  std::vector<size_t> next(3, 0);
  for (bool more = true; more;) {
    more = false;
    for (int s : {2, 1, 0}) {
      if (next[s] >= streams[s].size()) continue;
      more = true;
      tek::feed_record(streams[s][next[s]++], sink);
    }
  }
  sink.unit_processor(1, 9);
  Bytes interleaved;
  sink.finish([&](const uint8_t* p, size_t n) { interleaved.insert(interleaved.end(), p, p + n); });
  EXPECT_TRUE(interleaved == whole.elf);
  EXPECT_GT(whole.elf.size(), 1000u);
}

// Types that no input record produces (TYPEDEF, BITFIELD), fed directly, and register
// locations of the processors whose registers need more than a number.
TEST_F(ElfFile, DirectRecordsAsDwarfdumpPrintsThem) {
  TEKTEST_REQUIRE_TOOL("llvm-dwarfdump");
  auto type = [](uint32_t kind, uint32_t selfix) {
    tek::TypeValue t;
    t.kind = kind;
    t.selfix = selfix;
    return t;
  };
  struct Case {
    int processor;
    uint32_t reg;
    uint32_t typeix;
    const char* location;
  } cases[] = {
      {11, 4, 262, "(DW_OP_reg4)"},                                                   // SH R4
      {11, 21, 266, "(DW_OP_reg30)"},                                                 // SH7750 FR5
      {11, 34, 267, "(DW_OP_reg27, DW_OP_piece 0x4, DW_OP_reg28, DW_OP_piece 0x4)"},  // DR2
      {20, 3, 258, "(DW_OP_reg3, DW_OP_bit_piece 0x8 0x8)"},                          // R3H
      {20, 26, 260, "(DW_OP_reg2, DW_OP_bit_piece 0x10 0x10)"},                       // E2
      {20, 37, 262, "(DW_OP_reg5)"},                                                  // ER5
      {41, 1, 260, "(DW_OP_reg3 EBX)"},                                               // bx
      {41, 9, 260, "(DW_OP_regx 0x2b)"},                                              // ds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    tek::ElfSink sink;
    for (size_t i = 0; i < tek::PREDEFINED_COUNT; ++i)
      sink.put(type(tek::PREDEFINED_KINDS[i], 256 + static_cast<uint32_t>(i)));
    tek::TypeValue td = type(tek::K_TYPEDEF, 300);
    td.typeix = 301;  // defined after its use
    td.name = "word_t";
    sink.put(td);
    tek::TypeValue bf = type(tek::K_BITFIELD, 301);
    bf.size = 2;
    bf.count = 1;
    bf.name = "bits";
    sink.put(bf);
    tek::MemberValue m;
    m.kind = tek::K_BITFIELD;
    m.typeix = 261;
    m.bitoffs = 3;
    m.bitsize = 5;
    m.name = "f";
    sink.put(m);
    tek::TypeValue fn = type(tek::K_FUNCTION, 302);
    fn.retix = 300;
    sink.put(fn);
    sink.put(tek::ModuleValue{1, "m"});
    sink.put(tek::PublicValue{0, 0x100, 1, 302, 1, "fn"});
    sink.put(tek::StartLocalValue{0x100});
    sink.put(tek::SetLocalValue{4, c.reg, c.typeix, "r"});
    sink.put(tek::EndLocalValue{0x10F});
    sink.unit_processor(1, c.processor);
    Bytes elf;
    sink.finish([&](const uint8_t* p, size_t n) { elf.insert(elf.end(), p, p + n); });
    write_bytes("d.elf", elf);
    std::string out = run("llvm-dwarfdump --debug-info d.elf").out;
    EXPECT_NE(out.find(c.location), std::string::npos) << out;
    EXPECT_NE(out.find("DW_TAG_typedef\n                DW_AT_name\t(\"word_t\")\n"
                       "                DW_AT_type\t(0x"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"bits\")\n                DW_AT_byte_size\t(2)"), std::string::npos);
    EXPECT_NE(out.find("DW_AT_bit_size\t(5)\n                  DW_AT_data_bit_offset\t(3)"),
              std::string::npos);
    EXPECT_NE(out.find("DW_AT_high_pc\t(0x00000110)"), std::string::npos) << out;
    EXPECT_NE(run("llvm-dwarfdump --verify d.elf").out.find("No errors."), std::string::npos);
  }
}

// The image of the benchmark's kind, smaller: several megabytes in many ranges.
TEST_F(ElfFile, LargeImageThroughObjcopy) {
  TEKTEST_REQUIRE_TOOL("objcopy");
  tekrec::Builder b;
  b.hdr().unit("m", "MPC860", 4, 0x04);
  for (uint32_t s = 0; s < 4; ++s) b.cl(0x100000 * (s + 1), "S" + std::to_string(s));
  std::vector<uint8_t> block(60000);
  for (uint32_t s = 0; s < 4; ++s) {
    b.sect(0, static_cast<uint16_t>(s));
    for (int k = 0; k < 16; ++k) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13 + k + s);
      b.data(block);
    }
    b.zero(0x1234).repeat(1000, {1, 2, 3});
  }
  b.end();
  Bytes ctx = tektest::convert(b);
  ElfResult r = elf_of_ctx(ctx, {{1, 17}});
  write_bytes("big.elf", r.elf);
  ASSERT_EQ(run("objcopy -I elf32-big -O binary big.elf big.bin").status, 0);
  uint32_t base = 0;
  Bytes expected = object_image(ctx, base);
  EXPECT_EQ(base, 0x100000u);
  EXPECT_TRUE(tektest::file_bytes("big.bin") == expected);
  EXPECT_EQ(header_of(r.elf).machine, 20);
}

}  // namespace

namespace {

// The sections of an ELF32 file by name: where their bytes lie.
std::map<std::string, std::pair<uint32_t, uint32_t>> section_places(const Bytes& elf) {
  const bool big = elf[5] == 2;
  const uint32_t shoff = get(elf, 32, 4, big), count = get(elf, 48, 2, big);
  const uint32_t names = shoff + 40 * get(elf, 50, 2, big);
  const uint32_t names_at = get(elf, names + 16, 4, big);
  std::map<std::string, std::pair<uint32_t, uint32_t>> places;
  for (uint32_t i = 1; i < count; ++i) {
    const uint32_t h = shoff + 40 * i;
    const char* name = reinterpret_cast<const char*>(elf.data() + names_at + get(elf, h, 4, big));
    places[name] = {get(elf, h + 16, 4, big), get(elf, h + 20, 4, big)};
  }
  return places;
}

// Public names alike to a type's, a member's, a module's, a source file's and to each other
// are stored once in .strtab and in .debug_str, and every symbol still reads its own name.
TEST_F(ElfFile, EachStringOnceInTheStringTables) {
  using namespace tekrec;
  using tektest::sym;
  Builder b;
  b.hdr().unit("main", "SH7032", 2, 0x04).cl(0x1000, "P").cl(0x2000, "D");
  b.dbgunit(0x01, 0).srcfiles({{"", "main.c"}}).basetype(1, 3, 4, 0);
  b.symbol(tektest::structure(0x11, "point", 8));
  b.aggr_begin();
  b.symbol(tektest::member("x", 1, 0));
  b.symbol(tektest::member("main", 1, 4));
  b.aggr_end();
  b.symbol(sym(VARIABLE, "point", type_id(0x11), in_section(2, 1, 0x0, 8)));
  b.symbol(sym(VARIABLE, "x", basic_type(1), in_section(2, 1, 0x8, 4)));
  b.symbol(sym(VARIABLE, "x", basic_type(1), in_section(5, 1, 0xC, 4)));
  b.symbol(sym(VARIABLE, "main.c", basic_type(1), in_section(2, 1, 0x10, 4)));
  b.symbol(sym(FUNCTION, "main", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x20);
  b.sect(0, 0).curfile(0).lines({{3, 0x10}}).data(std::vector<uint8_t>(0x40, 0));
  b.end();
  const Bytes elf = elf_of_ctx(tektest::convert(b), {{1, tek::PROC_SH7032}}).elf;
  const auto places = section_places(elf);

  auto strings_of = [&](const std::string& section) {
    const auto [at, size] = places.at(section);
    std::multiset<std::string> strings;
    for (uint32_t i = at; i < at + size;) {
      const std::string s(reinterpret_cast<const char*>(elf.data() + i));
      strings.insert(s);
      i += static_cast<uint32_t>(s.size() + 1);
    }
    return strings;
  };
  for (const char* section : {".strtab", ".debug_str"}) {
    const std::multiset<std::string> strings = strings_of(section);
    for (const std::string& s : strings) EXPECT_EQ(strings.count(s), 1u) << section << ": " << s;
  }
  EXPECT_EQ(strings_of(".debug_str").count("main.c"), 1u);

  // The symbols by name and type.
  const auto [symtab, symtab_size] = places.at(".symtab");
  const uint32_t strtab = places.at(".strtab").first;
  std::multiset<std::pair<std::string, int>> symbols;
  for (uint32_t at = symtab + 16; at < symtab + symtab_size; at += 16)
    symbols.insert({reinterpret_cast<const char*>(elf.data() + strtab + get(elf, at, 4, true)),
                    elf[at + 12] & 0xF});
  const std::multiset<std::pair<std::string, int>> want = {{"main", 4}, {"main", 2}, {"point", 1},
                                                           {"x", 1},    {"x", 1},    {"main.c", 1}};
  EXPECT_EQ(symbols, want);
}

}  // namespace
