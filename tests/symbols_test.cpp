// Symbol definitions: SYMBOL location parts, flushing, functions and their scopes.
#include <cstdarg>
#include <cstdio>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
namespace R = tekrec;

namespace {

// Dump lines, formatted with the listing's own format texts.
std::string fmt(const char* format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

std::string pub(uint32_t mode, uint32_t addr, const char* cls, uint32_t typeix, uint32_t modix,
                const std::string& name) {
  return fmt("\nPUBLIC:    mode=%04x,addr=%08x,class=%-4s,typeix=%08x,modix=%08x,name=[%s]", mode,
             addr, cls, typeix, modix, name.c_str());
}
std::string setl(uint32_t offset, const char* cls, uint32_t typeix, const std::string& name) {
  return fmt("\nSETLOCAL:  offset=%08x,class=%-4s,typeix=%08x,name=[%s]", offset, cls, typeix,
             name.c_str());
}
std::string startl(uint32_t addr) {
  return fmt("\nSTARTLOCAL:addr=%08x", addr);
}
std::string endl_(uint32_t addr) {
  return fmt("\nENDLOCAL:  addr=%08x", addr);
}
std::string func(uint32_t selfix, uint32_t retix, uint32_t argc, bool far = false) {
  return fmt("\nTYPE:      type=0x%02x:%-10s,selfix=%08x,retix=%08x ,argc=%04x", far ? 22 : 16,
             far ? "FARFUNC" : "FUNCTION", selfix, retix, argc);
}
std::string ptr32(uint32_t selfix, uint32_t typeix) {
  return fmt("\nTYPE:      type=0x12:32POINTER ,selfix=%08x,typeix=%08x", selfix, typeix);
}
std::string bit(uint32_t selfix, uint32_t sign, uint32_t size, uint32_t offs) {
  return fmt("\nTYPE:      type=0x1b:BIT       ,selfix=%08x,sign=%02x,size=%04x,offs=%04x", selfix,
             sign, size, offs);
}
std::string strct(uint32_t selfix, uint32_t size, uint32_t count, const std::string& name) {
  return fmt("\nTYPE:      type=0x0d:STRUCT    ,selfix=%08x,size=%08x,count=%04x,name=[%s]", selfix,
             size, count, name.c_str());
}
std::string enm(uint32_t selfix, const std::string& name) {
  return fmt("\nTYPE:      type=0x0f:ENUM      ,selfix=%08x,name=[%s]", selfix, name.c_str());
}
std::string mem(uint32_t typeix, uint32_t offset, const std::string& name) {
  return fmt("\nMEMBER:typeix=%08x,offset=%04x,name=[%s]", typeix, offset, name.c_str());
}
std::string cnst(uint32_t value, const std::string& name) {
  return fmt("\nMEMBER:value=%08x,name=[%s]", value, name.c_str());
}

const std::string HEADER_LINE = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
std::string module_line(uint32_t modix, const std::string& name) {
  return fmt("\nMODULE:    modix=%08x,name=[%s]", modix, name.c_str());
}
// Everything a -s dump of program() prints before the symbols.
const std::string HEAD = predefined_dump() + HEADER_LINE + module_line(1, "m");

// Selfix values: predefined 32SIGNED, 8SIGNED, 8UNSIGNED, VOID; the first registered ids.
constexpr uint32_t INT = 262, CHAR = 258, UCHAR = 259, VOID = 256;
constexpr uint32_t FIRST = 288, UNDEFINED = 288 + 0x4000;

// One unit "m" of the given processor with sections P at 0x1000, D at 0x2000 and B at 0x3000,
// a debug unit at level 1 with near functions, and basic types 1 = int, 2 = char, 3 = unsigned
// char.
Builder program(std::string_view processor = "SH7032", uint8_t flags = 0x04) {
  Builder b;
  b.hdr()
      .unit("m", processor, 3, flags)
      .cl(0x1000, "P")
      .cl(0x2000, "D")
      .cl(0x3000, "B")
      .dbgunit(0x01, 0)
      .basetype(1, 3, 4, 0)
      .basetype(2, 2, 1, 0)
      .basetype(3, 2, 1, 0x40);
  return b;
}

R::Symbol sym(uint8_t category, const std::string& name, std::optional<Fields> type,
              std::optional<Fields> location, uint16_t own_id = 0) {
  R::Symbol s;
  s.category = category;
  s.own_id = own_id;
  s.name = name;
  s.type = std::move(type);
  s.location = std::move(location);
  return s;
}

// A variable of type int.
R::Symbol var(const std::string& name, std::optional<Fields> location) {
  return sym(R::VARIABLE, name, R::basic_type(1), std::move(location));
}
// A function returning int.
R::Symbol fn(uint16_t id, const std::string& name, std::optional<Fields> location) {
  return sym(R::FUNCTION, name, R::basic_type(1), std::move(location), id);
}

class SymbolTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// SYMBOL: location parts by category and location form.

struct LocationCase {
  const char* what;
  R::Symbol symbol;
  std::string written;
};

TEST_F(SymbolTest, LocationPartsByCategoryAndForm) {
  Fields past_value = R::classed(2, 3, 0);
  const LocationCase cases[] = {
      {"form 2", var("g", R::in_section(2, 1, 0x10, 4)), pub(0, 0x2010, "EXT", INT, 1, "g")},
      {"form 3", var("g", R::in_section(3, 1, 0x10, 4)), pub(0, 0x2010, "EXT", INT, 1, "g")},
      {"form 4", var("g", R::in_section(4, 1, 0x10, 4)), setl(0x2010, "STAT", INT, "g")},
      {"form 5", var("g", R::in_section(5, 1, 0x10, 4)), pub(0, 0x2010, "STAT", INT, 1, "g")},
      {"form 6", var("g", R::in_frame(0xFFFFFFF0)), setl(0xFFFFFFF0, "AUTO", INT, "g")},
      {"form 1", var("g", R::in_register("r5")), setl(5, "REG", INT, "g")},
      {"form 1, unknown register", var("g", R::in_register("FR3")), setl(0, "REG", INT, "g")},
      {"form 7", var("g", R::in_registers({"R4", "R5"})), setl(4, "REG", INT, "g")},
      {"form 7, no register", var("g", R::in_registers({})), setl(0, "REG", INT, "g")},
      {"form 0", var("g", R::bare_form(0)), ""},
      {"form 8", var("g", R::bare_form(8)), ""},
      {"form 9", var("g", R::bare_form(9)), ""},
      {"form 255", var("g", R::bare_form(255)), ""},
      {"category 14, form 6", sym(R::VARIABLE2, "g", R::basic_type(2), R::in_frame(4)),
       setl(4, "AUTO", CHAR, "g")},
      {"category 14, form 5", sym(R::VARIABLE2, "g", R::basic_type(2), R::in_section(5, 2, 0, 1)),
       pub(0, 0x3000, "STAT", CHAR, 1, "g")},
      {"untyped", sym(R::UNTYPED, "lab", {}, R::at_section(2, 8)),
       pub(0, 0x3008, "EXT", VOID, 1, "lab")},
      {"untyped with a type byte", sym(R::UNTYPED, "lab", R::basic_type(1), R::at_section(2, 8)),
       pub(0, 0x3008, "EXT", VOID, 1, "lab")},
      {"untyped, named like a section", sym(R::UNTYPED, "D", {}, R::at_section(1, 0)), ""},
      {"untyped, section name in other case", sym(R::UNTYPED, "d", {}, R::at_section(1, 0)),
       pub(0, 0x2000, "EXT", VOID, 1, "d")},
      {"classed 2, long", sym(R::CLASSED, "c", {}, R::classed(2, 4, 0x12345678)),
       pub(0, 0x12345678, "EXT", VOID, 1, "c")},
      {"classed 3, word", sym(R::CLASSED, "c", {}, R::classed(3, 2, 0xABCD)),
       pub(0, 0xABCD, "EXT", VOID, 1, "c")},
      {"classed 4, byte", sym(R::CLASSED, "c", {}, R::classed(4, 1, 0x7F)),
       setl(0x7F, "STAT", VOID, "c")},
      {"classed 5", sym(R::CLASSED, "c", {}, R::classed(5, 1, 0x80)),
       setl(0x80, "STAT", VOID, "c")},
      {"classed 1 leaves the class unset", sym(R::CLASSED, "c", {}, R::classed(1, 4, 5)),
       setl(5, "STAT", VOID, "c")},
      {"classed, value size 3 reads no value",
       sym(R::CLASSED, "c", {}, past_value.append(Fields().u32(0x11223344))),
       pub(0, 0, "EXT", VOID, 1, "c")},
      {"classed, named like a section", sym(R::CLASSED, "P", {}, R::classed(2, 1, 1)), ""},
      {"member outside a body", sym(R::MEMBER, "m", R::basic_type(1), R::member_at(0)),
       "logic error (member set)\n"},
      {"__v member outside a body", sym(R::MEMBER, "__vm", R::basic_type(1), R::member_at(0)), ""},
      {"enumeration tag", sym(R::ENUM_TAG, "E", {}, R::enum_tag(), 0x40),
       "logic error (tag set)\n"},
      {"structure tag", sym(R::STRUCT_TAG, "S", {}, R::aggregate_tag(4), 0x40),
       "logic error (tag set)\n"},
      {"union tag", sym(R::UNION_TAG, "U", {}, R::aggregate_tag(4), 0x40),
       "logic error (tag set)\n"},
      {"category 5", sym(R::HEXVALUE, "h", {}, R::hex_digits("1F")), ""},
  };
  for (const LocationCase& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program();
    b.symbol(c.symbol).end();
    EXPECT_EQ(dump(b), HEAD + c.written);
  }
}

TEST_F(SymbolTest, CategoriesWithoutOutputWriteNothing) {
  for (uint8_t category : {2, 4, 6, 11, 12, 13, 16, 40, 63}) {
    SCOPED_TRACE(category);
    Builder b = program();
    b.symbol(sym(category, "g", R::basic_type(1), R::in_section(2, 1, 0, 4)))
        .symbol(var("h", R::in_frame(8)))
        .end();
    EXPECT_EQ(dump(b), HEAD + setl(8, "AUTO", INT, "h"));
  }
}

TEST_F(SymbolTest, ExtraWordAboveDebugLevelOne) {
  struct Case {
    uint8_t file_level;
    uint8_t unit_flags;
    bool extra;
  } cases[] = {{2, 0x11, true}, {5, 0x21, true}, {2, 0x01, false}, {1, 0x11, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.file_level) << " " << int(c.unit_flags));
    Builder b;
    b.hdr(0, c.file_level).unit("m", "SH7032", 3, 0x04).cl(0x1000, "P").dbgunit(c.unit_flags, 0);
    Fields f;
    f.u8(R::VARIABLE << 2 | 3).u16(0);
    if (c.extra) f.u16(0x0301);
    f.name("g").u8(0x80).u16(0x7777).u8(2).addr(4).u16(0).addr(0x20);
    b.record(R::SYMBOL, f).end();
    EXPECT_EQ(dump(b),
              HEAD + "undefined id (get_sid)\n" + pub(0, 0x1020, "EXT", UNDEFINED, 1, "g"));
  }
}

TEST_F(SymbolTest, TypeByteBasicOrTypeId) {
  Builder b = program();
  b.symbol(fn(0x10, "f", R::in_section(2, 0, 0, 0x10)))
      .symbol(sym(R::VARIABLE, "v", R::type_id(0x10), R::in_section(2, 1, 0, 4)))
      .symbol(sym(R::VARIABLE, "w", R::basic_type(3), R::in_section(2, 1, 4, 4)))
      .symbol(sym(R::VARIABLE, "u", R::basic_type(9), R::in_section(2, 1, 8, 4)))
      .symbol(sym(R::VARIABLE, "x", R::type_id(0x11), R::in_section(2, 1, 12, 4)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1000, "EXT", FIRST, 1, "f") + func(FIRST, INT, 0) +
                         startl(0x1000) + pub(0, 0x2000, "EXT", FIRST, 1, "v") +
                         pub(0, 0x2004, "EXT", UCHAR, 1, "w") + pub(0, 0x2008, "EXT", 0, 1, "u") +
                         "undefined id (get_sid)\n" + pub(0, 0x200C, "EXT", UNDEFINED, 1, "x"));
}

// Disabled: shows a fault of get_sid (typeids.cpp). The id 0xFFFF marks a free slot, so the
// lookup of 0xFFFF finds the first free slot and returns its selfix without a message; the
// converter reports it as undefined instead.
// The id 0xFFFF marks a free slot, so it can never be found: its type is the undefined-id
// selfix, whatever the table holds.
TEST_F(SymbolTest, TypeIdFFFFIsNeverFound) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x10)))
      .symbol(sym(R::VARIABLE, "v", R::type_id(0xFFFF), R::in_section(2, 1, 0, 4)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1000, "EXT", FIRST, 1, "f") + func(FIRST, INT, 0) +
                         startl(0x1000) + "undefined id (get_sid)\n" +
                         pub(0, 0x2000, "EXT", UNDEFINED, 1, "v"));
}

TEST_F(SymbolTest, InvalidSectionEndsThePass) {
  struct Case {
    const char* what;
    uint16_t debug_unit;
    R::Symbol bad;
  } cases[] = {
      {"form 2", 0, var("bad", R::in_section(2, 3, 0, 4))},
      {"form 3", 0, var("bad", R::in_section(3, 7, 0, 4))},
      {"form 4", 0, var("bad", R::in_section(4, 3, 0, 4))},
      {"form 5", 0, var("bad", R::in_section(5, 3, 0, 4))},
      {"category 1", 0, sym(R::UNTYPED, "bad", {}, R::at_section(3, 0))},
      {"unit not opened", 1, sym(R::UNTYPED, "bad", {}, R::at_section(0, 0))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program();
    b.symbol(var("g", R::in_frame(4)))
        .dbgunit(0x01, c.debug_unit)
        .symbol(var("h", R::in_frame(8)))
        .symbol(c.bad)
        .symbol(var("after", R::in_frame(12)))
        .end();
    EXPECT_EQ(dump(b), HEAD + setl(4, "AUTO", INT, "g") + setl(8, "AUTO", INT, "h") +
                           "Invalid section number (SYMBOL)\n");
  }
}

// ---------------------------------------------------------------------------------------------
// Registers.

struct RegisterCase {
  std::vector<std::string> regs;
  uint32_t value;
};

std::string register_dump(std::string_view processor, const R::Symbol& s) {
  Builder b;
  b.hdr().unit("m", processor, 1, 0x04).cl(0x1000, "P").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(s).end();
  return dump(b, "-sl");
}

TEST_F(SymbolTest, RegisterListOnSH7750Unit) {
  // "xSH7750" is identified as SH7750 (its name does not begin with "SH").
  const RegisterCase cases[] = {
      {{"FR2", "FR3"}, 34}, {{"FR0", "FR1"}, 16},   {{"FR1", "FR2"}, 33},
      {{"FR5"}, 21},        {{"R4", "R5"}, 4},      {{"FR3", "FR2"}, 19},
      {{"R15", "FR0"}, 15}, {{"fr14", "FR15"}, 46}, {{}, 0},
  };
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.regs));
    EXPECT_EQ(register_dump("xSH7750", var("r", R::in_registers(c.regs))),
              HEADER_LINE + setl(c.value, "REG", INT, "r"));
  }
}

TEST_F(SymbolTest, RegisterListOutsideSH7750) {
  // A name beginning with "SH" is identified as SH7032, whose registers are R0 to R15 only.
  const RegisterCase cases[] = {{{"FR2", "FR3"}, 0}, {{"R2", "R3"}, 2}, {{"R9"}, 9}};
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.regs));
    EXPECT_EQ(register_dump("SH7750", var("r", R::in_registers(c.regs))),
              HEADER_LINE + setl(c.value, "REG", INT, "r"));
  }
}

TEST_F(SymbolTest, RegisterListInRIMode) {
  const RegisterCase cases[] = {
      {{"LS"}, 0xFFFFFF05},
      {{"G1", "G2"}, 0xFFFF0102},
      {{"G0", "G1", "G2", "G3", "P"}, 0x01020304},
      {{"AL"}, 0xFFFFFFA6},  // extra table: AL is 38, marked with 0x80
      {{"nope"}, 0xFFFFFF00},
      {{}, 0xFFFFFFFF},
  };
  for (const char* processor : {"RI10", "RI20"}) {
    for (const RegisterCase& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.regs) + processor);
      EXPECT_EQ(register_dump(processor, var("r", R::in_registers(c.regs))),
                HEADER_LINE + setl(c.value, "REG", INT, "r"));
    }
  }
  EXPECT_EQ(register_dump("RI20", var("r", R::in_register("al"))),
            HEADER_LINE + setl(0xA6, "REG", INT, "r"));
}

// ---------------------------------------------------------------------------------------------
// Category 5: hexadecimal values, seen through enumeration constants.

TEST_F(SymbolTest, HexadecimalValues) {
  const struct {
    const char* digits;
    uint32_t value;
  } cases[] = {
      {"1F", 0x1F},
      {"", 0},
      {"0", 0},
      {"DEADBEEF", 0xDEADBEEF},
      {"123456789", 0x23456789},
      {"!", 0xFFFFFFEA},  // below '0': c - 0x37 is negative and sets the high bits
      {"1!", 0xFFFFFFFA},
      {"a", 0x2A},
      {"ff", 0x2FF},
      {"G", 0x10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    Builder b = program();
    b.symbol(sym(R::ENUM_TAG, "E", {}, R::enum_tag(), 0x40))
        .aggr_begin()
        .symbol(sym(R::HEXVALUE, "k", {}, R::hex_digits(c.digits)))
        .aggr_end()
        .end();
    EXPECT_EQ(dump(b, "-st"),
              predefined_dump() + HEADER_LINE + enm(FIRST, "E") + cnst(c.value, "k"));
  }
}

// ---------------------------------------------------------------------------------------------
// Bit-fields and "__v" members.

TEST_F(SymbolTest, BitFieldMembersGetBitTypes) {
  Builder b = program();
  b.symbol(sym(R::STRUCT_TAG, "S", {}, R::aggregate_tag(4), 0x30))
      .aggr_begin()
      .symbol(sym(R::MEMBER, "a", R::basic_type(2), R::bitfield_at(0, 3, 0)))
      .symbol(sym(R::MEMBER, "b", R::basic_type(3), R::bitfield_at(0, 5, 3)))
      .symbol(sym(R::MEMBER, "c", R::type_id(0x30), R::bitfield_at(1, 2, -1)))
      .symbol(sym(R::MEMBER, "__vptr", R::basic_type(1), R::member_at(2)))
      .symbol(sym(R::MEMBER, "d", R::basic_type(1), R::bitfield_at(2, 4, 7)))
      .symbol(sym(R::MEMBER, "e", R::basic_type(1), R::member_at(3)))
      .symbol(sym(R::MEMBER, "__vnoloc", R::basic_type(2), {}))
      .aggr_end()
      .end();
  // The tag takes selfix 288; the bit types take the anonymous ids 0x8000 on (289 on).
  EXPECT_EQ(dump(b, "-st"), predefined_dump() + HEADER_LINE + bit(289, 1, 3, 0) +
                                bit(290, 0, 5, 3) + bit(291, 0, 2, 0xFFFFFFFF) + bit(292, 1, 4, 7) +
                                strct(FIRST, 4, 6, "S") + mem(289, 0, "a") + mem(290, 0, "b") +
                                mem(291, 1, "c") + mem(292, 2, "d") + mem(INT, 3, "e") +
                                mem(CHAR, 3, "__vnoloc"));
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
    Builder b;
    b.hdr().unit("m", "SH7032", 1, c.width).cl(0, "P").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
    // The second symbol has no location part: it shows the value the first one kept.
    b.symbol(var("a", R::in_frame(c.offset))).symbol(var("k", {})).end();
    EXPECT_EQ(dump(b),
              HEAD + setl(c.written, "AUTO", INT, "a") + pub(0, c.written, "CONST", INT, 1, "k"));
  }
}

TEST_F(SymbolTest, NamesBeginningWithTWriteNothingAndClearTheState) {
  Builder b = program();
  b.symbol(var("__Tx", R::in_section(4, 1, 0x10, 4)))  // class 2, local static
      .symbol(var("l", R::in_section(5, 1, 0x24, 4)))  // local static cleared: PUBLIC
      .symbol(var("__Ty", R::in_section(2, 1, 0x20, 4)))
      .symbol(var("k", {}))  // class cleared, value kept
      .symbol(fn(0x21, "__Tf", R::in_section(2, 0, 0, 0x10)))
      .attr(0, 5)
      .blkend(0x40)
      .symbol(fn(0x22, "g", R::in_section(2, 0, 0x10, 0x10)))
      .end();
  // "__Tf" registers no id and opens no scope; its ATTR does not reach "g".
  EXPECT_EQ(dump(b),
            HEAD + pub(0, 0x2024, "STAT", INT, 1, "l") + pub(0, 0x2020, "CONST", INT, 1, "k") +
                pub(0, 0x1010, "EXT", FIRST, 1, "g") + func(FIRST, INT, 0) + startl(0x1010));
}

TEST_F(SymbolTest, VtblVariablesAreNotWrittenButFunctionsAre) {
  Builder b = program();
  b.symbol(var("__vtbl_x", R::in_section(2, 1, 0, 4)))
      .symbol(sym(R::UNTYPED, "__vtbl_l", {}, R::at_section(1, 4)))
      .symbol(fn(0x21, "__vtbl_f", R::in_section(2, 0, 0, 0x10)))
      .symbol(var("__vt", R::in_section(2, 1, 8, 4)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1000, "EXT", FIRST, 1, "__vtbl_f") + func(FIRST, INT, 0) +
                         startl(0x1000) + pub(0, 0x2008, "EXT", INT, 1, "__vt"));
}

TEST_F(SymbolTest, DotNamesHaveNoPublicInRIMode) {
  for (const char* processor : {"RI10", "RI20", "SH7032"}) {
    SCOPED_TRACE(processor);
    const bool ri = processor[0] == 'R';
    Builder b = program(processor);
    b.symbol(var(".x", R::in_section(2, 1, 0, 4)))
        .symbol(fn(0x21, ".f", R::in_section(2, 0, 0, 0x10)))
        .symbol(sym(R::UNTYPED, ".l", {}, R::at_section(1, 4)))
        .symbol(var("y", R::in_section(2, 1, 8, 4)))
        .end();
    std::string expected = HEAD;
    if (!ri) expected += pub(0, 0x2000, "EXT", INT, 1, ".x");
    if (!ri) expected += pub(0, 0x1000, "EXT", FIRST, 1, ".f");
    expected += func(FIRST, INT, 0) + startl(0x1000);
    if (!ri) expected += pub(0, 0x2004, "EXT", VOID, 1, ".l");
    expected += pub(0, 0x2008, "EXT", INT, 1, "y");
    EXPECT_EQ(dump(b), expected);
  }
}

TEST_F(SymbolTest, RI20ProgramSections) {
  Builder b;
  b.hdr()
      .unit("m", "RI20", 3, 0x04)
      .cl(0x1000, "PR_MAIN")
      .cl(0x2000, "D")
      .cl(0x3000, "XPR_A")
      .dbgunit(0x01, 0)
      .basetype(1, 3, 4, 0);
  b.symbol(var("a", R::in_section(2, 0, 4, 4)))
      .symbol(var("b", R::in_section(3, 2, 4, 4)))
      .symbol(var("c", R::in_section(2, 1, 4, 4)))
      .symbol(var("d", R::in_section(5, 0, 8, 4)))
      .symbol(fn(0x21, "f", R::in_section(3, 0, 0x10, 0x10)))
      .symbol(sym(R::UNTYPED, "l", {}, R::at_section(0, 0x20)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0xA0, 0x1004, "EXT", INT, 1, "a") +
                         pub(0xA0, 0x3004, "EXT", INT, 1, "b") +
                         pub(0, 0x2004, "EXT", INT, 1, "c") + pub(0, 0x1008, "STAT", INT, 1, "d") +
                         pub(0, 0x1010, "EXT", FIRST, 1, "f") + func(FIRST, INT, 0) +
                         startl(0x1010) + pub(0, 0x1020, "EXT", VOID, 1, "l"));
}

TEST_F(SymbolTest, RI10SectionsAreNeverProgramSections) {
  Builder b;
  b.hdr().unit("m", "RI10", 1, 0x04).cl(0x1000, "PR_MAIN").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(var("a", R::in_section(2, 0, 4, 4))).end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1004, "EXT", INT, 1, "a"));
}

TEST_F(SymbolTest, RenamesThroughCompanionFile) {
  write_file("main.cpd",
             "[HD]\n[DEBUG]\n"
             "1 x 0 b a\n"
             "2 x 0 c b\n"
             "3 x 0 __Thidden t\n"
             "4 x 0 P sec\n"
             "5 x 0 \"ren\" _var\n");
  Builder b;
  b.hdr()
      .unit("m", "H8/300H", 3, 0x04)
      .cl(0x1000, "P")
      .cl(0x2000, "D")
      .cl(0x3000, "B")
      .dbgunit(0x01, 0)
      .srcfiles({{"", "main.c"}})
      .basetype(1, 3, 4, 0);
  b.symbol(var("a", R::in_section(2, 1, 0, 4)))                 // a -> b, then b -> c
      .symbol(var("a", R::in_frame(4)))                         // one rename only: b
      .symbol(fn(0x21, "a", R::in_section(2, 0, 0, 0x10)))      // a -> b -> c
      .symbol(sym(R::UNTYPED, "a", {}, R::at_section(1, 8)))    // a -> b -> c
      .symbol(var("t", R::in_section(2, 1, 0xC, 4)))            // becomes "__T...": nothing
      .symbol(sym(R::UNTYPED, "sec", {}, R::at_section(0, 0)))  // becomes a section name
      .symbol(var("_var", R::in_section(2, 1, 0x10, 4)))
      .symbol(var("other", R::in_section(2, 1, 0x14, 4)))
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x2000, "EXT", INT, 1, "c") + setl(4, "AUTO", INT, "b") +
                         pub(0, 0x1000, "EXT", FIRST, 1, "c") + func(FIRST, INT, 0) +
                         startl(0x1000) + pub(0, 0x2008, "EXT", VOID, 1, "c") +
                         pub(0, 0x2010, "EXT", INT, 1, "ren") +
                         pub(0, 0x2014, "EXT", INT, 1, "other"));
}

TEST_F(SymbolTest, FieldsKeptBetweenSymbols) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0x10, 0x20)))
      .blkend(0x40)
      .symbol(var("k", {}))       // value kept, class cleared
      .symbol(fn(0x22, "g", {}))  // value and size kept
      .blkend(0x40)
      .symbol(sym(R::VARIABLE, "v", R::type_id(0x21), R::in_section(2, 1, 0, 4)))
      .symbol(sym(R::VARIABLE, "w", {}, R::in_section(2, 1, 4, 4)))  // type_ref kept
      .symbol(var("x", R::in_section(2, 1, 8, 4)))
      .symbol(sym(R::VARIABLE, "y", {}, R::in_section(2, 1, 12, 4)))  // still kept
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1010, "EXT", FIRST, 1, "f") + func(FIRST, INT, 0) +
                         startl(0x1010) + endl_(0x102F) + pub(0, 0x1010, "CONST", INT, 1, "k") +
                         pub(0, 0x1010, "CONST", FIRST + 1, 1, "g") + func(FIRST + 1, INT, 0) +
                         startl(0x1010) + endl_(0x102F) + pub(0, 0x2000, "EXT", FIRST, 1, "v") +
                         pub(0, 0x2004, "EXT", FIRST, 1, "w") + pub(0, 0x2008, "EXT", INT, 1, "x") +
                         pub(0, 0x200C, "EXT", FIRST, 1, "y"));
}

TEST_F(SymbolTest, MemberClassKeptAfterTheBody) {
  Builder b = program();
  b.symbol(sym(R::STRUCT_TAG, "S", {}, R::aggregate_tag(8), 0x30))
      .aggr_begin()
      .symbol(var("in", R::in_section(2, 1, 0x40, 4)))  // appended: class 1 stays
      .aggr_end()
      .symbol(var("k", {}))
      .end();
  EXPECT_EQ(dump(b), HEAD + strct(FIRST, 8, 1, "S") + mem(INT, 0x2040, "in") +
                         pub(0, 0x2040, "EXT", INT, 1, "k"));
}

TEST_F(SymbolTest, ModixIsTheCurrentUnitWhenFlushed) {
  Builder b;
  b.hdr()
      .unit("m", "SH7032", 1, 0x04)
      .cl(0x1000, "P")
      .unit("n", "SH7032", 1, 0x04)
      .cl(0x5000, "Q")
      .dbgunit(0x01, 0)
      .basetype(1, 3, 4, 0);
  b.symbol(var("g", R::in_section(2, 0, 4, 4)))
      .dbgunit(0x01, 1)  // flushes g in unit 0
      .symbol(var("h", R::in_section(2, 0, 4, 4)))
      .sect(0, 0)  // h was read in unit 1, is flushed in unit 0
      .symbol(var("i", R::in_section(2, 0, 8, 4)))
      .sect(1, 0)
      .end();
  EXPECT_EQ(dump(b), predefined_dump() + HEADER_LINE + module_line(1, "m") + module_line(2, "n") +
                         pub(0, 0x1004, "EXT", INT, 1, "g") + pub(0, 0x5004, "EXT", INT, 1, "h") +
                         pub(0, 0x1008, "EXT", INT, 2, "i"));
}

TEST_F(SymbolTest, AddressesConvertedWhenWritten) {
  // Segmented unit with a 20-bit address space: a is written as (a >> 4) << 16 | (a & 0xF).
  Builder b;
  b.hdr().unit("m", "SH7032", 1, 0x84, 20).cl(0x12340, "P", 0, 0).dbgunit(0x01, 0);
  b.basetype(1, 3, 4, 0);
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x20)))
      .symbol(var("a", R::in_frame(0x12345)))
      .symbol(var("r", R::in_registers({"R14"})))
      .symbol(var("s", R::in_section(4, 0, 5, 4)))
      .symbol(sym(R::CLASSED, "c", {}, R::classed(4, 4, 0x12345)))
      .blkend(0x40)
      .symbol(var("g", R::in_section(2, 0, 0x15, 4)))
      .end();
  Bytes ctx = convert(b);
  EXPECT_BYTES(ctx, Ctx()
                        .header()
                        .module(1, "m")
                        .pub(0, 0x12340000, 1, FIRST, 1, "f")
                        .pub(0, 0x12350005, 1, INT, 1, "g")
                        .start_local(0x12340000)
                        .set_local(3, 0x12345, INT, "a")
                        .set_local(4, 14, INT, "r")
                        .set_local(2, 0x12340005, INT, "s")
                        .set_local(2, 0x12340005, VOID, "c")
                        .end_local(0x1235000F)
                        .predefined()
                        .function(16, FIRST, INT, 0)
                        .bytes());
}

// ---------------------------------------------------------------------------------------------
// Functions.

TEST_F(SymbolTest, FunctionWithParametersAndScope) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x20)))
      .attr(0x00, 2)
      .attr(0x80)  // no attribute byte: argc stays 2
      .symbol(var("a", R::in_frame(8)))
      .symbol(sym(R::VARIABLE, "b", R::basic_type(2), R::in_frame(0xFFFFFFFC)))
      .symbol(var("r", R::in_register("R3")))
      .symbol(var("s", R::in_section(4, 1, 4, 4)))
      .blkend(0x40)  // flushes s, then closes f at 0x101F
      .blkend(0x40)  // nothing open
      .symbol(fn(0x22, "g", R::in_section(2, 0, 0x20, 1)))
      .blkend(0x00)  // flushes g; bit 6 clear
      .blkend(0x40)  // size 1: end equals start, nothing written
      .symbol(fn(0x23, "h", R::in_section(2, 0, 0x30, 0x10)))
      .blkend(0x00)                  // flushes h, whose scope stays open
      .unit("n", "SH7032", 1, 0x04)  // a new unit forgets the scope without closing it
      .blkend(0x40)
      .end();
  Bytes ctx = convert(b);
  EXPECT_BYTES(ctx, Ctx()
                        .header()
                        .module(1, "m")
                        .pub(0, 0x1000, 1, FIRST, 1, "f")
                        .pub(0, 0x1020, 1, FIRST + 1, 1, "g")
                        .pub(0, 0x1030, 1, FIRST + 2, 1, "h")
                        .module(2, "n")
                        .start_local(0x1000)
                        .set_local(3, 8, INT, "a")
                        .set_local(3, 0xFFFFFFFC, CHAR, "b")
                        .set_local(4, 3, INT, "r")
                        .set_local(2, 0x2004, INT, "s")
                        .end_local(0x101F)
                        .start_local(0x1020)
                        .start_local(0x1030)
                        .predefined()
                        .function(16, FIRST, INT, 2)
                        .function(16, FIRST + 1, INT, 0)
                        .function(16, FIRST + 2, INT, 0)
                        .bytes());
}

TEST_F(SymbolTest, FarFunctions) {
  const struct {
    uint8_t unit_flags;
    std::vector<std::string> options;
    bool far;
  } cases[] = {
      {0x01, {}, false}, {0x01, {"-l"}, true},
      {0x00, {}, true},  // low nibble 0: the debug unit's functions are far
      {0x10, {}, true},  {0x11, {"-l"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.unit_flags) << testing::PrintToString(c.options));
    Builder b;
    b.hdr().unit("m", "SH7032", 1, 0x04).cl(0x1000, "P").dbgunit(c.unit_flags, 0);
    b.basetype(1, 3, 4, 0);
    b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x10)))
        .symbol(sym(R::VARIABLE, "fp", R::type_id(0x21), R::in_frame(4)))
        .functype()
        .end();
    std::vector<std::string> options = {"-st"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    RunResult r = run_on(b, options);
    EXPECT_EQ(r.body(), predefined_dump() + HEADER_LINE + func(FIRST, INT, 0, c.far) +
                            func(FIRST + 1, FIRST, 0, c.far));
  }
}

TEST_F(SymbolTest, FunctypeMakesTheSymbolAFunctionType) {
  Builder b = program();
  b.symbol(fn(0x21, "f", R::in_section(2, 0, 0, 0x10)))
      .symbol(sym(R::VARIABLE, "fp", R::type_id(0x21), R::in_section(2, 1, 0, 4)))
      .attr(0, 4)
      .functype()
      .dpt(0)
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0, 0x1000, "EXT", FIRST, 1, "f") + func(FIRST, INT, 0) +
                         startl(0x1000) + func(FIRST + 1, FIRST, 4) + ptr32(FIRST + 2, FIRST + 1) +
                         pub(0, 0x2000, "EXT", FIRST + 2, 1, "fp"));
}

// FUNCTYPE changes the symbol state only: a member keeps the type it was collected with.
TEST_F(SymbolTest, FunctypeAfterAMemberLeavesTheMember) {
  Builder b = program();
  b.symbol(sym(R::STRUCT_TAG, "S", {}, R::aggregate_tag(4), 0x30))
      .aggr_begin()
      .symbol(sym(R::MEMBER, "cb", R::basic_type(1), R::member_at(0)))
      .functype()
      .dpt(0)  // wraps the member's own type
      .aggr_end()
      .end();
  EXPECT_EQ(dump(b, "-st"), predefined_dump() + HEADER_LINE + func(FIRST + 1, INT, 0) +
                                ptr32(FIRST + 2, INT) + strct(FIRST, 4, 1, "S") +
                                mem(FIRST + 2, 0, "cb"));
}

TEST_F(SymbolTest, FunctionSymbolInsideABodyIsAMember) {
  Builder b = program();
  b.symbol(sym(R::STRUCT_TAG, "S", {}, R::aggregate_tag(4), 0x30))
      .aggr_begin()
      .symbol(fn(0x21, "method", R::in_section(2, 0, 0, 0x10)))
      .symbol(var("__Tm", R::in_frame(8)))
      .aggr_end()
      .blkend(0x40)
      .end();
  EXPECT_EQ(dump(b),
            HEAD + strct(FIRST, 4, 2, "S") + mem(INT, 0x1000, "method") + mem(INT, 8, "__Tm"));
}

}  // namespace
