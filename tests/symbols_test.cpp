// Symbol definitions: SYMBOL location parts, flushing, functions and their scopes.
#include "support.hpp"

using namespace tektest;
using namespace tektest::line;
using tekrec::Builder;
using tekrec::Fields;
namespace R = tekrec;

namespace {

// Everything a -s dump of program() prints before the symbols.
const std::string HEAD = predefined_dump() + header() + module(1, "m");
constexpr uint32_t FIRST = FIRST_SELFIX;

// A variable of type int.
R::Symbol var(const std::string& name, std::optional<Fields> location) {
  return sym(R::VARIABLE, name, R::basic_type(1), std::move(location));
}
// A function returning int.
R::Symbol fn(uint16_t id, const std::string& name, std::optional<Fields> location) {
  return sym(R::FUNCTION, name, R::basic_type(1), std::move(location), id);
}
// An untyped symbol (category 1) at an offset in a section.
R::Symbol untyped(const std::string& name, uint16_t section, uint32_t offset) {
  return sym(R::UNTYPED, name, {}, R::at_section(section, offset));
}
// A category-15 symbol with class byte a and a value of s bytes.
R::Symbol classed(const std::string& name, uint8_t a, uint8_t s, uint32_t value) {
  return sym(R::CLASSED, name, {}, R::classed(a, s, value));
}

class SymbolTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// SYMBOL: location parts by category and location form.

TEST_F(SymbolTest, LocationPartsByCategoryAndForm) {
  Fields past_value = R::classed(2, 3, 0);
  const struct {
    const char* what;
    R::Symbol symbol;
    std::string written;
  } cases[] = {
      {"form 2", var("g", R::in_section(2, 1, 0x10, 4)), pub(0x2010, T_INT, "g")},
      {"form 3", var("g", R::in_section(3, 1, 0x10, 4)), pub(0x2010, T_INT, "g")},
      {"form 4", var("g", R::in_section(4, 1, 0x10, 4)), setl(0x2010, "STAT", T_INT, "g")},
      {"form 5", var("g", R::in_section(5, 1, 0x10, 4)), pub(0x2010, T_INT, "g", "STAT")},
      {"form 6", var("g", R::in_frame(0xFFFFFFF0)), setl(0xFFFFFFF0, "AUTO", T_INT, "g")},
      {"form 1", var("g", R::in_register("r5")), setl(5, "REG", T_INT, "g")},
      {"form 0", var("g", R::bare_form(0)), ""},
      {"form 8", var("g", R::bare_form(8)), ""},
      {"category 14, form 6", sym(R::VARIABLE2, "g", R::basic_type(2), R::in_frame(4)),
       setl(4, "AUTO", T_CHAR, "g")},
      {"category 14, form 5", sym(R::VARIABLE2, "g", R::basic_type(2), R::in_section(5, 2, 0, 1)),
       pub(0x3000, T_CHAR, "g", "STAT")},
      {"untyped", untyped("lab", 2, 8), pub(0x3008, T_VOID, "lab")},
      {"untyped with a type byte", sym(R::UNTYPED, "lab", R::basic_type(1), R::at_section(2, 8)),
       pub(0x3008, T_VOID, "lab")},
      {"untyped, named like a section", untyped("D", 1, 0), ""},
      {"untyped, a section name in other case", untyped("d", 1, 0), pub(0x2000, T_VOID, "d")},
      {"classed 2, long", classed("c", 2, 4, 0x12345678), pub(0x12345678, T_VOID, "c")},
      {"classed 3, word", classed("c", 3, 2, 0xABCD), pub(0xABCD, T_VOID, "c")},
      {"classed 4, byte", classed("c", 4, 1, 0x7F), setl(0x7F, "STAT", T_VOID, "c")},
      {"classed 5", classed("c", 5, 1, 0x80), setl(0x80, "STAT", T_VOID, "c")},
      {"classed 1 leaves the class unset", classed("c", 1, 4, 5), setl(5, "STAT", T_VOID, "c")},
      {"classed, value size 3 reads no value",
       sym(R::CLASSED, "c", {}, past_value.append(Fields().u32(0x11223344))), pub(0, T_VOID, "c")},
      {"classed, named like a section", classed("P", 2, 1, 1), ""},
      {"member outside a body", member("m", 1, 0), "logic error (member set)\n"},
      {"__v member outside a body", member("__vm", 1, 0), ""},
      {"union tag", union_tag(0x40, "U", 4), "logic error (tag set)\n"},
      {"category 5", constant("h", "1F"), ""},
      {"category 2", sym(2, "g", R::basic_type(1), R::in_section(2, 1, 0, 4)), ""},
      {"category 13", sym(13, "g", R::basic_type(1), R::in_frame(4)), ""},
      {"category 63", sym(63, "g", R::basic_type(1), R::in_section(4, 1, 0, 4)), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program();
    b.symbol(c.symbol).end();
    EXPECT_EQ(dump(b), HEAD + c.written);
  }
}

// A section the current unit does not have, or no opened unit: the symbol is dropped and the
// pass ends; the symbol pending before it is written first.
TEST_F(SymbolTest, InvalidSectionEndsThePass) {
  const struct {
    const char* what;
    uint16_t debug_unit;
    R::Symbol bad;
  } cases[] = {
      {"form 3", 0, var("bad", R::in_section(3, 7, 0, 4))},
      {"form 4", 0, var("bad", R::in_section(4, 3, 0, 4))},
      {"category 1", 0, untyped("bad", 3, 0)},
      {"unit not opened", 1, untyped("bad", 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program();
    b.symbol(var("g", R::in_frame(4))).dbgunit(0x01, c.debug_unit);
    b.symbol(var("h", R::in_frame(8))).symbol(c.bad).symbol(var("after", R::in_frame(12))).end();
    EXPECT_EQ(dump(b), HEAD + setl(4, "AUTO", T_INT, "g") + setl(8, "AUTO", T_INT, "h") +
                           "Invalid section number (SYMBOL)\n");
  }
}

// Location form 7: the SH7750 pair rule, the first register elsewhere, the packing in RI mode.
TEST_F(SymbolTest, RegisterListRule) {
  const struct {
    const char* processor;  // "xSH7750" is identified as SH7750, "SH7750" as SH7032
    std::vector<std::string> regs;
    uint32_t value;
  } cases[] = {
      {"xSH7750", {"FR2", "FR3"}, 34},
      {"xSH7750", {"FR0", "FR1"}, 16},
      {"xSH7750", {"FR1", "FR2"}, 33},
      {"xSH7750", {"FR5"}, 21},
      {"xSH7750", {"R4", "R5"}, 4},
      {"xSH7750", {"FR3", "FR2"}, 19},
      {"xSH7750", {}, 0},
      {"SH7750", {"FR2", "FR3"}, 0},
      {"MPC821", {"R20", "R21"}, 20},
      {"RI10", {"LS"}, 0xFFFFFF05},
      {"RI20", {"G1", "G2"}, 0xFFFF0102},
      {"RI10", {"G0", "G1", "G2", "G3", "P"}, 0x01020304},
      {"RI10", {"nope"}, 0xFFFFFF00},
      {"RI20", {}, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.processor + testing::PrintToString(c.regs));
    Builder b = program(c.processor, 0x04);
    b.symbol(var("r", R::in_registers(c.regs))).end();
    EXPECT_EQ(dump(b, "-sl"), header() + setl(c.value, "REG", T_INT, "r"));
  }
}

TEST_F(SymbolTest, BitFieldMembersGetBitTypes) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 4)).aggr_begin();
  b.symbol(sym(R::MEMBER, "a", R::basic_type(2), R::bitfield_at(0, 3, 0)));
  b.symbol(sym(R::MEMBER, "b", R::basic_type(3), R::bitfield_at(0, 5, 3)));
  b.symbol(sym(R::MEMBER, "c", R::type_id(0x30), R::bitfield_at(1, 2, -1)));
  b.symbol(member("__vptr", 1, 2));
  b.symbol(sym(R::MEMBER, "d", R::basic_type(1), R::bitfield_at(2, 4, 7)));
  b.symbol(member("e", 1, 3));
  b.symbol(sym(R::MEMBER, "__vnoloc", R::basic_type(2), {}));  // no location: appended
  b.aggr_end().end();
  // The tag takes selfix 288; the bit types take the anonymous ids 0x8000 on (289 on). Signed
  // char (258) gives sign 1, unsigned short (261) and a type id give 0.
  EXPECT_EQ(dump(b, "-st"), predefined_dump() + header() + bit(289, 1, 3, 0) + bit(290, 0, 5, 3) +
                                bit(291, 0, 2, 0xFFFFFFFF) + bit(292, 1, 4, 7) +
                                agg(13, FIRST, 4, 6, "S") + mem(289, 0, "a") + mem(290, 0, "b") +
                                mem(291, 1, "c") + mem(292, 2, "d") + mem(T_INT, 3, "e") +
                                mem(T_CHAR, 3, "__vnoloc"));
}

// ---------------------------------------------------------------------------------------------
// flush_symbol.

TEST_F(SymbolTest, AutoOffsetsAreSignExtendedByAddressWidth) {
  const struct {
    uint8_t width;
    uint32_t offset;
    uint32_t written;
  } cases[] = {
      {1, 0x80, 0xFFFFFF80},     {1, 0x7F, 0x7F},
      {2, 0xFFF0, 0xFFFFFFF0},   {2, 0x7FF0, 0x7FF0},
      {3, 0x800000, 0xFF800000}, {3, 0x7FFFFF, 0x7FFFFF},
      {4, 0xFFF0, 0xFFF0},       {4, 0x80000000, 0x80000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.width) << " " << c.offset);
    Builder b = program("SH7032", c.width);
    // The second symbol has no location part: it shows the value the first one kept.
    b.symbol(var("a", R::in_frame(c.offset))).symbol(var("k", {})).end();
    EXPECT_EQ(dump(b),
              HEAD + setl(c.written, "AUTO", T_INT, "a") + pub(c.written, T_INT, "k", "CONST"));
  }
}

TEST_F(SymbolTest, NamesBeginningWithTWriteNothingAndClearTheState) {
  Builder b = program();
  b.symbol(var("__Tx", R::in_section(4, 1, 0x10, 4)));  // class 2, local static
  b.symbol(var("l", R::in_section(5, 1, 0x24, 4)));     // local static cleared: PUBLIC
  b.symbol(var("__Ty", R::in_section(2, 1, 0x20, 4)));
  b.symbol(var("k", {}));  // class cleared, value kept
  b.symbol(fn(0x21, "__Tf", R::in_section(2, 0, 0, 0x10))).attr(0, 5).blkend(0x40);
  b.symbol(fn(0x22, "g", R::in_section(2, 0, 0x10, 0x10))).end();
  // "__Tf" registers no id and opens no scope; its ATTR does not reach "g".
  EXPECT_EQ(dump(b), HEAD + pub(0x2024, T_INT, "l", "STAT") + pub(0x2020, T_INT, "k", "CONST") +
                         pub(0x1010, FIRST, "g") + func(FIRST, T_INT, 0) + startl(0x1010));
}

// Variables named "__vtbl..." have no PUBLIC, functions do; in RI mode nothing named ".x" has a
// PUBLIC, and a function still writes its TYPE and STARTLOCAL records.
TEST_F(SymbolTest, NamesWithoutPublicRecords) {
  for (const char* processor : {"RI10", "RI20", "SH7032"}) {
    SCOPED_TRACE(processor);
    const bool ri = processor[0] == 'R';
    Builder b = program(processor);
    b.symbol(var("__vtbl_x", R::in_section(2, 1, 0, 4))).symbol(untyped("__vtbl_l", 1, 4));
    b.symbol(fn(0x21, "__vtbl_f", R::in_section(2, 0, 0, 0x10)));
    b.symbol(var("__vt", R::in_section(2, 1, 8, 4))).symbol(var(".x", R::in_section(2, 1, 0xC, 4)));
    b.symbol(fn(0x22, ".f", R::in_section(2, 0, 0x10, 0x10))).symbol(untyped(".l", 1, 0x10)).end();
    std::string expected = HEAD + pub(0x1000, FIRST, "__vtbl_f") + func(FIRST, T_INT, 0) +
                           startl(0x1000) + pub(0x2008, T_INT, "__vt");
    if (!ri) expected += pub(0x200C, T_INT, ".x") + pub(0x1010, FIRST + 1, ".f");
    expected += func(FIRST + 1, T_INT, 0) + startl(0x1010);
    if (!ri) expected += pub(0x2010, T_VOID, ".l");
    EXPECT_EQ(dump(b), expected);
  }
}

// A data symbol's name is renamed when flushed and again when its PUBLIC is written; other
// records use the first rename only. A replacement longer than 255 bytes is cut, and the second
// rename looks up the cut name; an empty replacement empties the name.
TEST_F(SymbolTest, RenamesThroughCompanionFile) {
  const std::string long_name(300, 'L');
  write_file("main.cpd",
             "[HD]\n[DEBUG]\n1 x 0 b a\n2 x 0 c b\n3 x 0 __Thidden t\n4 x 0 P sec\n"
             "5 x 0 \"ren\" _var\n6 x 0 " +
                 long_name + " _v\n7 x 0 Short " + long_name.substr(0, 255) +
                 "\n8 x 0 \"\" _gone\n");
  Builder b = program("H8/300H");
  b.srcfiles({{"", "main.c"}})
      .symbol(var("a", R::in_section(2, 1, 0, 4)))          // a -> b, then b -> c
      .symbol(var("a", R::in_frame(4)))                     // one rename only: b
      .symbol(fn(0x21, "a", R::in_section(2, 0, 0, 0x10)))  // a -> b -> c
      .symbol(untyped("a", 1, 8))                           // a -> b -> c
      .symbol(var("t", R::in_section(2, 1, 0xC, 4)))        // becomes "__T...": nothing
      .symbol(untyped("sec", 0, 0))                         // becomes a section name
      .symbol(var("_var", R::in_section(2, 1, 0x10, 4)))    // quoted replacement
      .symbol(var("_v", R::in_section(2, 1, 0x14, 4)))      // cut, then renamed
      .symbol(var("_gone", R::in_section(2, 1, 0x18, 4)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0x2000, T_INT, "c") + setl(4, "AUTO", T_INT, "b") +
                         pub(0x1000, FIRST, "c") + func(FIRST, T_INT, 0) + startl(0x1000) +
                         pub(0x2008, T_VOID, "c") + pub(0x2010, T_INT, "ren") +
                         pub(0x2014, T_INT, "Short") + pub(0x2018, T_INT, ""));
}

// A SYMBOL record without a location part keeps the value, size and class left by the previous
// symbol; one without a type id keeps the previous type id.
TEST_F(SymbolTest, FieldsKeptBetweenSymbols) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0x10, 0x20))).blkend(0x40);
  b.symbol(var("k", {}));                    // value kept, class cleared
  b.symbol(fn(0x22, "g", {})).blkend(0x40);  // value and size kept
  b.symbol(sym(R::VARIABLE, "v", R::type_id(0x21), R::in_section(2, 1, 0, 4)));
  b.symbol(sym(R::VARIABLE, "w", {}, R::in_section(2, 1, 4, 4)));  // type id kept
  b.symbol(var("x", R::in_section(2, 1, 8, 4)));
  b.symbol(sym(R::VARIABLE, "y", {}, R::in_section(2, 1, 12, 4)));  // still kept
  b.symbol(structure(0x30, "S", 8)).aggr_begin();
  b.symbol(var("in", R::in_section(2, 1, 0x40, 4))).aggr_end();  // appended: class 1 stays
  b.symbol(var("z", {})).end();
  EXPECT_EQ(dump(b), HEAD + pub(0x1010, FIRST, "f") + func(FIRST, T_INT, 0) + startl(0x1010) +
                         endl(0x102F) + pub(0x1010, T_INT, "k", "CONST") +
                         pub(0x1010, FIRST + 1, "g", "CONST") + func(FIRST + 1, T_INT, 0) +
                         startl(0x1010) + endl(0x102F) + pub(0x2000, FIRST, "v") +
                         pub(0x2004, FIRST, "w") + pub(0x2008, T_INT, "x") +
                         pub(0x200C, FIRST, "y") + agg(13, FIRST + 2, 8, 1, "S") +
                         mem(T_INT, 0x2040, "in") + pub(0x2040, T_INT, "z"));
}

// The module index is that of the unit current when the symbol is flushed; the section base was
// applied when it was read.
TEST_F(SymbolTest, ModixIsTheCurrentUnitWhenFlushed) {
  Builder b = program();
  b.unit("n", "SH7032", 1, 0x04).cl(0x5000, "Q").symbol(var("h", R::in_section(2, 0, 4, 4)));
  b.sect(0, 0);  // h was read in unit 1, is flushed in unit 0
  b.symbol(var("i", R::in_section(2, 0, 8, 4))).sect(1, 0).end();
  EXPECT_EQ(dump(b),
            HEAD + module(2, "n") + pub(0x5004, T_INT, "h") + pub(0x1008, T_INT, "i", "EXT", 2));
}

// The records on their streams, byte for byte, with addresses converted when written.
TEST_F(SymbolTest, AddressesConvertedWhenWritten) {
  // Segmented unit with a 20-bit address space: a is written as (a >> 4) << 16 | (a & 0xF).
  Builder b;
  b.hdr().unit("m", "SH7032", 1, 0x84, 20).cl(0x12340, "P", 0, 0).dbgunit(0x01, 0);
  b.basetype(1, 3, 4, 0);
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x20))).symbol(var("a", R::in_frame(0x12345)));
  b.symbol(var("s", R::in_section(4, 0, 5, 4))).symbol(classed("c", 4, 4, 0x12345)).blkend(0x40);
  b.symbol(var("g", R::in_section(2, 0, 0x15, 4))).end();
  Ctx main, local, types;
  main.header().module(1, "m").pub(0, 0x12340000, 1, FIRST, 1, "f");
  main.pub(0, 0x12350005, 1, T_INT, 1, "g");
  local.start_local(0x12340000).set_local(3, 0x12345, T_INT, "a");
  local.set_local(2, 0x12340005, T_INT, "s").set_local(2, 0x12340005, T_VOID, "c");
  local.end_local(0x1235000F);
  types.predefined().function(16, FIRST, T_INT, 0);
  EXPECT_BYTES(convert(b), main.append(local).append(types).bytes());
}

// ---------------------------------------------------------------------------------------------
// Functions.

// A function with its argument count, parameters and scope. FUNCTYPE wraps the symbol's type in
// a function type with the ATTR argc. Function types are far with -l (the other tests here show
// them near without it).
TEST_F(SymbolTest, FunctionsAndFunctionTypes) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x20))).attr(0x00, 2);
  b.attr(0x80)  // no attribute byte: argc stays 2
      .symbol(var("a", R::in_frame(8)))
      .symbol(sym(R::VARIABLE, "b", R::basic_type(2), R::in_frame(0xFFFFFFFC)))
      .symbol(var("r", R::in_register("R3")))
      .symbol(var("s", R::in_section(4, 1, 4, 4)))
      .blkend(0x40)  // flushes s, then closes f at 0x101F
      .blkend(0x40)  // nothing open
      .symbol(fn(0x22, "g", R::in_section(2, 0, 0x20, 1)))
      .blkend(0x00)   // flushes g; bit 6 clear
      .blkend(0x40);  // size 1: end equals start, nothing written
  b.symbol(sym(R::VARIABLE, "fp", R::type_id(0x21), R::in_section(2, 1, 0, 4)));
  b.attr(0, 4).functype().dpt(0).end();
  EXPECT_EQ(dump(b, "-s", {"-l"}),
            HEAD + pub(0x1000, FIRST, "f") + func(FIRST, T_INT, 2, true) + startl(0x1000) +
                setl(8, "AUTO", T_INT, "a") + setl(0xFFFFFFFC, "AUTO", T_CHAR, "b") +
                setl(3, "REG", T_INT, "r") + setl(0x2004, "STAT", T_INT, "s") + endl(0x101F) +
                pub(0x1020, FIRST + 1, "g") + func(FIRST + 1, T_INT, 0, true) + startl(0x1020) +
                func(FIRST + 2, FIRST, 4, true) + ptr(18, FIRST + 3, FIRST + 2) +
                pub(0x2000, FIRST + 3, "fp"));
}

// Inside a body a function symbol and a "__T" symbol are members like any other; FUNCTYPE after
// a member changes the symbol state only, while DPT wraps the member's own type.
TEST_F(SymbolTest, SymbolsInsideABodyAreMembers) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 4)).aggr_begin();
  b.symbol(fn(0x21, "method", R::in_section(2, 0, 0, 0x10)));
  b.symbol(var("__Tm", R::in_frame(8)));
  b.symbol(member("cb", 1, 0)).functype().dpt(0);
  b.aggr_end().blkend(0x40).end();
  EXPECT_EQ(dump(b), HEAD + func(FIRST + 1, T_INT, 0) + ptr(18, FIRST + 2, T_INT) +
                         agg(13, FIRST, 4, 3, "S") + mem(T_INT, 0x1000, "method") +
                         mem(T_INT, 8, "__Tm") + mem(FIRST + 2, 0, "cb"));
}

}  // namespace
