// The DWARF writer's own structures: the string table, the abbreviation table, DIEs written in
// place with their codes, and references resolved after the units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "format/elf/dwarf.hpp"
#include "format/elf/dwarf_info.hpp"
#include "format/elf/dwarf_line.hpp"
#include "format/elf/strings.hpp"

namespace {

using namespace dwarf;
using Encoded = std::vector<uint8_t>;

// The string at an offset of a table, up to its NUL.
std::string at(const elf::StringTable& t, uint32_t offset) {
  return reinterpret_cast<const char*>(t.bytes().data().data() + offset);
}

TEST(StringTable, EachStringOnceAtItsFirstOffset) {
  elf::StringTable t(true);
  const uint32_t main = t.add("main");
  const uint32_t ma = t.add("ma");  // a prefix is a string of its own
  const uint32_t in = t.add("in");  // so is a suffix
  EXPECT_EQ(t.add(""), 0u);         // the leading empty string
  EXPECT_EQ(t.add("main"), main);
  EXPECT_EQ(t.add(std::string("ma")), ma);
  EXPECT_EQ(t.add("in"), in);
  EXPECT_EQ((std::vector<uint32_t>{main, ma, in}), (std::vector<uint32_t>{1, 6, 9}));
  const std::string want("\0main\0ma\0in\0", 12);
  EXPECT_EQ(std::string(t.bytes().data().begin(), t.bytes().data().end()), want);
  EXPECT_EQ(t.count(), 4u);

  elf::StringTable debug(false);  // .debug_str: no leading empty string
  EXPECT_EQ(debug.add("x"), 0u);
  EXPECT_EQ(debug.add(""), 2u);
}

TEST(StringTable, NulInsideAStringKeepsItApartFromItsPrefix) {
  elf::StringTable t(false);
  const uint32_t a = t.add("a");
  const uint32_t anb = t.add(std::string_view("a\0b", 3));
  EXPECT_NE(a, anb);
  EXPECT_EQ(t.add(std::string_view("a\0b", 3)), anb);
  EXPECT_EQ(t.add("a"), a);
}

// Enough strings for the hash set to grow many times; every string keeps its offset, and the
// table holds each one once.
TEST(StringTable, ManyStringsKeepTheirOffsets) {
  elf::StringTable t(true);
  std::vector<uint32_t> first;
  size_t bytes = 1;
  for (int i = 0; i < 20000; ++i) {
    const std::string s = "sym" + std::to_string(i);
    first.push_back(t.add(s));
    bytes += s.size() + 1;
  }
  for (int i = 19999; i >= 0; --i) {
    const std::string s = "sym" + std::to_string(i);
    ASSERT_EQ(t.add(s), first[i]) << s;
    ASSERT_EQ(at(t, first[i]), s);
  }
  EXPECT_EQ(t.bytes().size(), bytes);
  EXPECT_EQ(t.count(), 20001u);
}

// A shape: tag, children, then attribute << 8 | form per attribute.
std::vector<uint32_t> shape(uint32_t tag, bool children, std::vector<std::pair<Attr, Form>> attrs) {
  std::vector<uint32_t> s{tag, children};
  for (auto [a, f] : attrs) s.push_back(uint32_t{a} << 8 | f);
  return s;
}

TEST(AbbrevTable, OneCodePerShapeInOrderOfFirstUse) {
  AbbrevTable t;
  auto code = [&](const std::vector<uint32_t>& s) { return t.code(s.data(), s.size()); };
  const auto base = shape(DW_TAG_base_type, false, {{DW_AT_name, DW_FORM_strp}});
  // Shapes that differ only in the children flag, a form, the order or the number of attributes.
  const std::vector<std::vector<uint32_t>> shapes = {
      base,
      shape(DW_TAG_base_type, true, {{DW_AT_name, DW_FORM_strp}}),
      shape(DW_TAG_base_type, false, {{DW_AT_name, DW_FORM_udata}}),
      shape(DW_TAG_base_type, false, {{DW_AT_name, DW_FORM_strp}, {DW_AT_type, DW_FORM_ref_addr}}),
      shape(DW_TAG_base_type, false, {{DW_AT_type, DW_FORM_ref_addr}, {DW_AT_name, DW_FORM_strp}}),
      shape(DW_TAG_base_type, false, {}),
      shape(DW_TAG_variable, false, {{DW_AT_name, DW_FORM_strp}}),
  };
  for (size_t i = 0; i < shapes.size(); ++i) EXPECT_EQ(code(shapes[i]), i + 1) << i;
  for (size_t i = shapes.size(); i-- > 0;) EXPECT_EQ(code(shapes[i]), i + 1) << i;
  EXPECT_EQ(t.size(), shapes.size());
}

TEST(AbbrevTable, TableBytes) {
  AbbrevTable t;
  auto s1 = shape(DW_TAG_compile_unit, true,
                  {{DW_AT_producer, DW_FORM_strp}, {DW_AT_language, DW_FORM_data2}});
  auto s2 = shape(DW_TAG_member, false,
                  {{DW_AT_data_bit_offset, DW_FORM_udata}, {DW_AT_type, DW_FORM_ref_addr}});
  t.code(s1.data(), s1.size());
  t.code(s2.data(), s2.size());
  t.code(s1.data(), s1.size());
  const Encoded want = {1,
                        DW_TAG_compile_unit,
                        1,
                        DW_AT_producer,
                        DW_FORM_strp,
                        DW_AT_language,
                        DW_FORM_data2,
                        0,
                        0,
                        2,
                        DW_TAG_member,
                        0,
                        DW_AT_data_bit_offset,
                        DW_FORM_udata,
                        DW_AT_type,
                        DW_FORM_ref_addr,
                        0,
                        0,
                        0};
  EXPECT_EQ(t.bytes().data(), want);
}

// Hundreds of shapes: the table grows, codes past 127 take two bytes, and every shape keeps
// its code.
TEST(AbbrevTable, ManyShapes) {
  AbbrevTable t;
  std::vector<std::vector<uint32_t>> shapes;
  for (uint32_t n = 0; n < 300; ++n) {
    shapes.push_back({DW_TAG_variable, n % 2});
    for (uint32_t k = 0; k < n / 2; ++k) shapes.back().push_back(uint32_t{DW_AT_name} << 8 | k);
    ASSERT_EQ(t.code(shapes.back().data(), shapes.back().size()), n + 1);
  }
  for (uint32_t n = 0; n < 300; ++n) ASSERT_EQ(t.code(shapes[n].data(), shapes[n].size()), n + 1);
  const Encoded b = t.bytes().data();
  // Code 128 begins after the 127 shapes before it; its code is two bytes.
  size_t off = 0;
  for (uint32_t n = 0; n < 127; ++n) off += 1 + 1 + 1 + 2 * (n / 2) + 2;
  EXPECT_EQ(Encoded(b.begin() + off, b.begin() + off + 3), (Encoded{0x80, 0x01, DW_TAG_variable}));
}

// One unit with a forward reference, a backward one and one across to a key never given, in
// both byte orders: every byte of .debug_info, .debug_abbrev and .debug_str.
TEST(InfoWriter, UnitWithReferences) {
  for (bool big : {false, true}) {
    InfoWriter w(big);
    w.begin_unit();
    Die cu = w.die(DW_TAG_compile_unit, true);
    cu.str(DW_AT_producer, "tekconv").data2(DW_AT_language, DW_LANG_C89).str(DW_AT_name, "m.c");
    EXPECT_EQ(w.put(cu), 11u);
    Die ptr = w.die(DW_TAG_pointer_type, false);
    ptr.data1(DW_AT_byte_size, 4).ref(DW_AT_type, 7);  // to the base type after it
    EXPECT_EQ(w.put(ptr), 22u);
    Die base = w.die(DW_TAG_base_type, false);
    base.str(DW_AT_name, "int").data1(DW_AT_byte_size, 4).data1(DW_AT_encoding, DW_ATE_signed);
    EXPECT_EQ(w.put(base), 28u);
    Die var = w.die(DW_TAG_variable, false);
    var.str(DW_AT_name, "m.c").ref(DW_AT_type, 9).ref(DW_AT_type, 99);
    EXPECT_EQ(w.put(var), 35u);
    w.end_children();
    w.end_unit();
    std::vector<uint64_t> asked;
    const bool all = w.resolve_refs([&](uint64_t key) -> std::optional<uint32_t> {
      asked.push_back(key);
      if (key == 7) return 28;
      if (key == 9) return 22;
      return std::nullopt;
    });
    EXPECT_FALSE(all);  // key 99
    EXPECT_EQ(asked, (std::vector<uint64_t>{7, 9, 99}));

    elf::Bytes want(big);
    want.u32(45);  // unit_length
    want.u16(4);
    want.u32(0);
    want.u8(4);
    want.u8(1);  // compile unit: producer at 0, name at 8 in .debug_str
    want.u32(0);
    want.u16(DW_LANG_C89);
    want.u32(8);
    want.u8(2);  // pointer
    want.u8(4);
    want.u32(28);
    want.u8(3);  // base type: "int" at 12
    want.u32(12);
    want.u8(4);
    want.u8(DW_ATE_signed);
    want.u8(4);  // variable: "m.c" once in .debug_str
    want.u32(8);
    want.u32(22);
    want.u32(0);  // unknown key
    want.u8(0);   // end of the unit's children
    EXPECT_EQ(w.info().data(), want.data()) << (big ? "big-endian" : "little-endian");
    const std::string str("tekconv\0m.c\0int\0", 16);
    EXPECT_EQ(std::string(w.str().data().begin(), w.str().data().end()), str);
    const Encoded abbrev = {1,
                            DW_TAG_compile_unit,
                            1,
                            DW_AT_producer,
                            DW_FORM_strp,
                            DW_AT_language,
                            DW_FORM_data2,
                            DW_AT_name,
                            DW_FORM_strp,
                            0,
                            0,  //
                            2,
                            DW_TAG_pointer_type,
                            0,
                            DW_AT_byte_size,
                            DW_FORM_data1,
                            DW_AT_type,
                            DW_FORM_ref_addr,
                            0,
                            0,  //
                            3,
                            DW_TAG_base_type,
                            0,
                            DW_AT_name,
                            DW_FORM_strp,
                            DW_AT_byte_size,
                            DW_FORM_data1,
                            DW_AT_encoding,
                            DW_FORM_data1,
                            0,
                            0,  //
                            4,
                            DW_TAG_variable,
                            0,
                            DW_AT_name,
                            DW_FORM_strp,
                            DW_AT_type,
                            DW_FORM_ref_addr,
                            DW_AT_type,
                            DW_FORM_ref_addr,
                            0,
                            0,  //
                            0};
    EXPECT_EQ(w.abbrev().data(), abbrev);
  }
}

// A DIE whose code takes two bytes moves its values up by one: its references still land in
// their fields, keys of 64 bits included.
TEST(InfoWriter, ReferencesAfterTwoByteCodes) {
  InfoWriter w(false);
  w.begin_unit();
  std::vector<uint32_t> offsets;
  for (uint32_t n = 0; n < 200; ++n) {
    Die d = w.die(DW_TAG_variable, false);
    for (uint32_t k = 0; k < n; ++k) d.flag(DW_AT_external);  // a shape each, code n + 1
    d.udata(DW_AT_byte_size, n).ref(DW_AT_type, uint64_t{n % 3} << 32 | n);
    offsets.push_back(w.put(d));
  }
  w.end_unit();
  ASSERT_TRUE(w.resolve_refs([](uint64_t key) -> std::optional<uint32_t> {
    return static_cast<uint32_t>(key >> 32) * 1000 + static_cast<uint32_t>(key);
  }));
  const elf::Bytes& info = w.info();
  for (uint32_t n = 0; n < 200; ++n) {
    // code, n flags of no bytes, the size, the reference
    const size_t code_size = n + 1 < 128 ? 1 : 2;
    const size_t size_at = offsets[n] + code_size;
    ASSERT_EQ(info.data()[size_at], n < 128 ? n : (n & 0x7F) | 0x80) << n;
    const size_t ref_at = size_at + (n < 128 ? 1 : 2);
    EXPECT_EQ(info.read_u32(ref_at), (n % 3) * 1000 + n) << n;
  }
  EXPECT_EQ(w.ref_count(), 200u);
}

// Keys beyond 32 bits resolve wherever the first of them comes: first of all, after narrow ones,
// or never.
TEST(InfoWriter, WideKeysResolveWhereverTheFirstComes) {
  const std::vector<std::vector<uint64_t>> runs = {
      {uint64_t{1} << 32},
      {uint64_t{1} << 32, 7, uint64_t{2} << 32 | 7},
      {7, 8, uint64_t{1} << 32, 9},
      {7, 8, 9},
  };
  for (const std::vector<uint64_t>& keys : runs) {
    SCOPED_TRACE(testing::PrintToString(keys));
    InfoWriter w(true);
    w.begin_unit();
    std::vector<uint32_t> at;
    for (uint64_t key : keys) {
      Die d = w.die(DW_TAG_variable, false);
      d.ref(DW_AT_type, key);
      at.push_back(w.put(d) + 1);  // after the one-byte code
    }
    w.end_unit();
    std::vector<uint64_t> asked;
    ASSERT_TRUE(w.resolve_refs([&](uint64_t key) -> std::optional<uint32_t> {
      asked.push_back(key);
      return static_cast<uint32_t>(key >> 32) * 1000 + static_cast<uint32_t>(key);
    }));
    EXPECT_EQ(asked, keys);
    for (size_t i = 0; i < keys.size(); ++i)
      EXPECT_EQ(w.info().read_u32(at[i]), (keys[i] >> 32) * 1000 + (keys[i] & 0xFFFFFFFF));
  }
}

TEST(InfoWriter, OneDieAtATime) {
  InfoWriter w(false);
  w.begin_unit();
  Die a = w.die(DW_TAG_variable, false);
  EXPECT_THROW(w.die(DW_TAG_variable, false), std::logic_error);
  EXPECT_THROW(w.end_children(), std::logic_error);
  EXPECT_THROW(w.end_unit(), std::logic_error);
  a.flag(DW_AT_external);
  w.put(a);
  EXPECT_THROW(a.flag(DW_AT_external), std::logic_error);
  EXPECT_THROW(w.put(a), std::logic_error);
  Die b = w.die(DW_TAG_variable, false);
  EXPECT_THROW(a.flag(DW_AT_external), std::logic_error);  // an old handle stays closed
  b.flag(DW_AT_external);
  EXPECT_EQ(w.put(b), 12u);
  EXPECT_EQ(w.abbrev().data(),
            (Encoded{1, DW_TAG_variable, 0, DW_AT_external, DW_FORM_flag_present, 0, 0, 0}));
}

// Three units, each a compile unit DIE and per_unit children written by child(n), n counting
// the children of all units.
template <class F>
void write_units(InfoWriter& w, int per_unit, F&& child) {
  uint32_t n = 0;
  for (int unit = 0; unit < 3; ++unit) {
    w.begin_unit();
    Die cu = w.die(DW_TAG_compile_unit, true);
    cu.str(DW_AT_name, "u.c");
    w.put(cu);
    for (int i = 0; i < per_unit; ++i) child(n++);
    w.end_children();
    w.end_unit();
  }
}

// Three units of DIEs with two-byte codes, forward and backward references and wide keys.
void write_units(InfoWriter& w) {
  write_units(w, 90, [&](uint32_t n) {
    Die d = w.die(DW_TAG_variable, false);
    for (uint32_t k = 0; k < n % 150; ++k) d.flag(DW_AT_external);
    d.udata(DW_AT_byte_size, n).ref(DW_AT_type, uint64_t{n % 2} << 32 | (n * 7 % 270));
    w.put(d);
  });
}

// The offsets of the keys of write_units: the high half of a key counts in 100000s.
std::optional<uint32_t> resolve_key(uint64_t key) {
  return static_cast<uint32_t>(key >> 32) * 100000 + static_cast<uint32_t>(key);
}

// Streamed to an output in small pieces, .debug_info holds the same bytes as written in memory,
// at the offset where the output ended, whatever the flush size.
TEST(InfoWriter, StreamedToAnOutputAsInMemory) {
  for (bool big : {false, true}) {
    InfoWriter whole(big);
    write_units(whole);
    ASSERT_TRUE(whole.resolve_refs(resolve_key));
    const std::vector<uint8_t> whole_info = whole.info().data();
    for (size_t flush_at : {1, 5, 64, 1000, 1 << 20}) {
      SCOPED_TRACE(testing::Message() << "flush at " << flush_at << (big ? ", big" : ""));
      std::vector<uint8_t> file;
      elf::MemoryOutput out(file);
      out.append_zeros(3);  // what the file holds before .debug_info
      InfoWriter w(big);
      w.stream_to(out, flush_at);
      write_units(w);
      ASSERT_TRUE(w.resolve_refs(resolve_key));
      EXPECT_EQ(w.output_offset(), 3u);
      EXPECT_EQ(w.size(), whole_info.size());
      EXPECT_TRUE(w.info().data().empty());
      std::vector<uint8_t> want(3, 0);
      want.insert(want.end(), whole_info.begin(), whole_info.end());
      EXPECT_EQ(file, want);
      EXPECT_EQ(w.abbrev().data(), whole.abbrev().data());
    }
  }
}

// A DIE of one of 256 shapes: each bit of shape adds one attribute of another form. The values
// vary with n, up to a 9-byte ULEB128, a 300-byte expression and keys wider than 32 bits.
template <class D>
void shaped_values(D& d, uint32_t shape, uint32_t n) {
  std::vector<uint8_t> ops(n % 7 == 0 ? 300 : n % 40, static_cast<uint8_t>(n));
  if (shape & 1) d.str(DW_AT_name, "v" + std::to_string(n % 50));
  if (shape & 2) d.data1(DW_AT_byte_size, static_cast<uint8_t>(n));
  if (shape & 4) d.sdata(DW_AT_const_value, -int64_t{n} * 1000003);
  if (shape & 8) d.udata(DW_AT_count, uint64_t{n} << (n % 57));
  if (shape & 16) d.ref(DW_AT_type, uint64_t{n % 2} << 32 | n);
  if (shape & 32) d.expr(DW_AT_location, ops.data(), ops.size());
  if (shape & 64) d.flag(DW_AT_external);
  if (shape & 128) d.addr(DW_AT_low_pc, n * 0x01010101u);
}

// Units of DIEs of every shape, written as Die or as SlotDie.
void write_shaped_units(InfoWriter& w, bool quick) {
  std::vector<ShapeSlot> slots(256);
  write_units(w, 400, [&](uint32_t n) {
    const uint32_t shape = n * 37 % 256;
    if (quick) {
      SlotDie d = w.die(slots[shape], DW_TAG_variable, false);
      shaped_values(d, shape, n);
      w.put(d);
    } else {
      Die d = w.die(DW_TAG_variable, false);
      shaped_values(d, shape, n);
      w.put(d);
    }
  });
}

// DIEs written the quick way are the DIEs written as Die, byte for byte, in memory and streamed
// in small pieces: codes past 127 on a slot's first DIE and after, references to fill in,
// expressions longer than the room made when a DIE opens.
TEST(InfoWriter, QuickDiesGiveTheSameBytes) {
  for (bool big : {false, true}) {
    InfoWriter plain(big);
    write_shaped_units(plain, false);
    ASSERT_TRUE(plain.resolve_refs(resolve_key));
    ASSERT_GT(plain.abbrev().size(), size_t{200} * 10);  // codes past 127
    for (size_t flush_at : {0, 1, 64, 1000}) {
      SCOPED_TRACE(testing::Message() << "flush at " << flush_at << (big ? ", big" : ""));
      std::vector<uint8_t> file;
      elf::MemoryOutput out(file);
      InfoWriter quick(big);
      if (flush_at) quick.stream_to(out, flush_at);
      write_shaped_units(quick, true);
      ASSERT_TRUE(quick.resolve_refs(resolve_key));
      EXPECT_EQ(quick.ref_count(), plain.ref_count());
      EXPECT_EQ(flush_at ? file : quick.info().data(), plain.info().data());
      EXPECT_EQ(quick.abbrev().data(), plain.abbrev().data());
      EXPECT_EQ(quick.str().data(), plain.str().data());
    }
  }
}

// An expression longer than the room a quick DIE opens with, at every distance from the end of
// the first .debug_info buffer (4 KiB): the DIE makes room for it, and holds the Die's bytes.
TEST(InfoWriter, QuickDieLongExpressionAtTheBuffersEnd) {
  const std::vector<uint8_t> ops(1000, DW_OP_addr);
  auto write = [&](size_t before, bool quick) {
    InfoWriter w(true);
    ShapeSlot filler, slot;
    w.begin_unit();
    for (size_t k = 0; k < before; ++k) {
      SlotDie f = w.die(filler, DW_TAG_label, false);
      w.put(f);
    }
    if (quick) {
      SlotDie d = w.die(slot, DW_TAG_variable, false);
      d.udata(DW_AT_count, before).expr(DW_AT_location, ops.data(), ops.size());
      d.data1(DW_AT_byte_size, 7);
      w.put(d);
    } else {
      Die d = w.die(DW_TAG_variable, false);
      d.udata(DW_AT_count, before).expr(DW_AT_location, ops.data(), ops.size());
      d.data1(DW_AT_byte_size, 7);
      w.put(d);
    }
    w.end_unit();
    return w.info().data();
  };
  for (size_t before = 2800; before < 4100; before += 7) {
    SCOPED_TRACE(before);
    EXPECT_EQ(write(before, true), write(before, false));
  }
}

// A quick DIE is refused what a Die is refused, a shape other than its slot's (another number of
// attributes; in builds with assertions, other attributes), and more attributes than it has
// room for.
TEST(InfoWriter, QuickDieMisuse) {
  InfoWriter w(false);
  ShapeSlot one, two, many;
  w.begin_unit();
  Die open = w.die(DW_TAG_variable, false);
  EXPECT_THROW(w.die(one, DW_TAG_variable, false), std::logic_error);
  w.put(open);

  SlotDie a = w.die(one, DW_TAG_variable, false);
  EXPECT_THROW(w.die(two, DW_TAG_variable, false), std::logic_error);
  EXPECT_THROW(w.end_unit(), std::logic_error);
  a.flag(DW_AT_external);
  w.put(a);
  EXPECT_THROW(a.flag(DW_AT_external), std::logic_error);  // after put
  EXPECT_THROW(w.put(a), std::logic_error);

  SlotDie b = w.die(one, DW_TAG_variable, false);
  b.flag(DW_AT_external).flag(DW_AT_declaration);  // another shape than the slot's
  EXPECT_THROW(w.put(b), std::logic_error);
#ifndef NDEBUG
  SlotDie other = w.die(one, DW_TAG_variable, false);
  other.flag(DW_AT_declaration);  // as many attributes, but another one
  EXPECT_THROW(w.put(other), std::logic_error);
#endif

  SlotDie c = w.die(many, DW_TAG_variable, false);
  for (size_t k = 0; k < SlotDie::MAX_ATTRS; ++k) c.udata(DW_AT_count, UINT64_MAX);
  EXPECT_THROW(c.udata(DW_AT_count, 1), std::logic_error);
}

// ---------------------------------------------------------------------------------------------
// Line number programs, run back as DWARF 4 says.

// A row of the line table, as the program's state machine emits it.
struct TableRow {
  uint64_t addr = 0;
  int64_t line = 1;
  uint64_t file = 1;
  bool end = false;
  bool operator==(const TableRow&) const = default;
};
void PrintTo(const TableRow& r, std::ostream* os) {
  *os << "{0x" << std::hex << r.addr << std::dec << ", line " << r.line << ", file " << r.file
      << (r.end ? ", end}" : "}");
}

// Runs the program at offset at: the standard opcodes, the extended ones and the special
// opcodes of its header.
std::vector<TableRow> run_program(const elf::Bytes& b, size_t at) {
  const std::vector<uint8_t>& d = b.data();
  size_t p = at;
  auto u8 = [&] { return d.at(p++); };
  auto u32 = [&] {
    const uint32_t v = b.read_u32(p);
    p += 4;
    return v;
  };
  auto uleb = [&] {
    uint64_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
      const uint8_t x = u8();
      v |= uint64_t{x & 0x7Fu} << shift;
      if (!(x & 0x80)) return v;
    }
  };
  auto sleb = [&] {
    int64_t v = 0;
    unsigned shift = 0;
    uint8_t x;
    do {
      x = u8();
      v |= int64_t{x & 0x7F} << shift;
      shift += 7;
    } while (x & 0x80);
    return shift < 64 && (x & 0x40) ? v | -(int64_t{1} << shift) : v;
  };
  const uint32_t unit_length = u32();
  const size_t end = p + unit_length;
  p += 2;  // version
  const uint32_t header_length = u32();
  const size_t program = p + header_length;
  p += 3;  // minimum_instruction_length, maximum_operations_per_instruction, default_is_stmt
  const int line_base = static_cast<int8_t>(u8());
  const int line_range = u8();
  const int opcode_base = u8();
  p = program;
  std::vector<TableRow> rows;
  TableRow r;
  while (p < end) {
    const uint8_t op = u8();
    if (op >= opcode_base) {
      const int adjusted = op - opcode_base;
      r.addr += static_cast<uint64_t>(adjusted / line_range);
      r.line += line_base + adjusted % line_range;
      rows.push_back(r);
    } else if (op == DW_LNS_copy) {
      rows.push_back(r);
    } else if (op == DW_LNS_advance_pc) {
      r.addr += uleb();
    } else if (op == DW_LNS_advance_line) {
      r.line += sleb();
    } else if (op == DW_LNS_set_file) {
      r.file = uleb();
    } else if (op == 0) {
      const size_t next = static_cast<size_t>(uleb());
      const size_t after = p + next;
      const uint8_t ext = u8();
      if (ext == DW_LNE_set_address) {
        r.addr = u32();
      } else if (ext == DW_LNE_end_sequence) {
        r.end = true;
        rows.push_back(r);
        r = TableRow{};
      }
      p = after;
    } else {
      ADD_FAILURE() << "opcode " << int{op};
      break;
    }
  }
  EXPECT_EQ(p, end);
  return rows;
}

// Every row comes back, with the ends of the sequences, in both byte orders: rows that a special
// opcode encodes, and rows whose every field changes as far as it can, which take the most bytes.
TEST(LineProgram, RowsComeBackFromTheProgram) {
  std::vector<LineRow> small, extreme;
  for (uint32_t i = 0; i < 3000; ++i) small.push_back({0x1000 + i * 4 + i % 3, 100 + i % 7, 1});
  extreme.push_back({0, UINT32_MAX, UINT32_MAX});
  for (uint32_t i = 0; i < 500; ++i) {
    extreme.push_back({0x10000000u + i * 0x7FFFFu, i % 2 ? UINT32_MAX : 0, i % 2 ? 1 : UINT32_MAX});
  }
  extreme.push_back({UINT32_MAX, 0, 2});
  const std::vector<LineSequence> seqs = {{small, 0x1000 + 3000 * 4 + 10}, {extreme, UINT32_MAX}};
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    elf::Bytes out(big);
    out.u8(0xAA);  // the program need not start the section
    const uint32_t at = write_line_program(out, {"/src"}, {{"a.c", 1}, {"b.h", 0}}, seqs);
    EXPECT_EQ(at, 1u);
    std::vector<TableRow> want;
    for (const LineSequence& s : seqs) {
      for (const LineRow& r : s.rows) want.push_back({r.addr, r.line, r.file, false});
      TableRow end = want.back();
      end.addr = std::max<uint64_t>(s.end, s.rows.back().addr);
      end.end = true;
      want.push_back(end);
    }
    const std::vector<TableRow> got = run_program(out, at);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "row " << i;
  }
}

}  // namespace
