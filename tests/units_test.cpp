// Units, processors and sections: UNIT, CL, SECT, LOCATE and AFLAG records, processor
// identification, register lookup and the segmented address forms.
#include "reader/units.hpp"

#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::Symbol;

namespace {

class UnitsTest : public TempDirTest {};

const char* const CREATED = "Created in.ctx\n";

// Opens a file holding one record body as the input of the converter, positioned at the body
// with rec_len covering it, as a handler finds it.
void load_body(tek::Converter& cv, const Fields& body) {
  Bytes b = body.encode(cv.units.addr_width);
  write_file("body.bin", std::string(b.begin(), b.end()));
  ASSERT_TRUE(tek::open_input(cv, "body.bin"));
  cv.rd.rec_len = static_cast<uint16_t>(b.size());
}

Bytes ctx_file() {
  std::string s = read_file("in.ctx");
  return Bytes(s.begin(), s.end());
}

// A variable held in a register: flushed as SETLOCAL class 4 with the register number.
Symbol reg_var(const std::string& name, const std::string& reg) {
  return {tekrec::VARIABLE, 0, name, tekrec::basic_type(0), tekrec::in_register(reg), {}};
}

// ---------------------------------------------------------------------------------------------
// UNIT

TEST_F(UnitsTest, AddressWidthFromFirstNonzeroFlagsAndLatestSegmentedFlag) {
  Builder b;
  b.hdr();
  b.unit("z", "ARM", 1, 0x00);  // width nibble 0: the width stays unset, addresses are 1 byte
  b.cl(0x40, "Z");
  b.unit("s", "ARM", 1, 0x84, 20);  // width 4, segmented: form 1 for this unit
  b.cl(0x12300, "S", 0, 0x45);      // base plus base addend
  b.sect(0, 0).data({0xBB});        // space width 0: form 0 even while segmented
  b.sect(1, 0).data({0xAA});
  b.unit("t", "ARM", 1, 0x02, 20);  // width stays 4; the segmented flag is cleared for all
  b.cl(0x00ABCDEF, "T");            // 4-byte base, no addend
  b.sect(1, 0).data({0xCC});
  b.sect(2, 0).data({0xDD});
  b.aflag(0, 0x01020304, 1);
  b.end();
  ASSERT_EQ(b.addr_width(), 4);

  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), CREATED);
  Ctx want;
  want.header()
      .module(1, "z")
      .module(2, "s")
      .object(0x40, {0xBB})
      .object(0x12340005, {0xAA})
      .module(3, "t")
      .object(0x12345, {0xCC})
      .object(0xABCDEF, {0xDD})
      .addr_flag(0x01ADD0F3, 1)
      .predefined();
  EXPECT_BYTES(ctx_file(), want.bytes());
}

// A UNIT record opens the slot after the current unit, also when SECT has moved the current
// unit back: that slot is opened afresh, with new sections and a new processor.
TEST_F(UnitsTest, UnitReopensSlotAfterSectMovedCurrentUnit) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 2, 0x04).cl(0x1000, "A0").cl(0x2000, "A1");
  b.unit("b", "ARM", 2, 0x04).cl(0x3000, "B0").cl(0x4000, "B1");
  b.sect(0, 1).data({1});
  b.unit("c", "SH7032", 1, 0x04);  // unit 1 again
  b.sect(1, 0).data({2});          // declared but not yet given a base: 0
  b.cl(0x5000, "C0");
  b.sect(1, 0).data({3});
  b.aflag(0, 0x10, 1);     // unit 1 is no longer ARM: no ADDRFLAG
  b.sect(0, 1).data({4});  // unit 0 untouched
  b.sect(1, 1);            // unit 1 now has one section
  b.data({5}).end();

  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Invalid section number (SECT)\n") + CREATED);
  Ctx want;
  want.header()
      .module(1, "a")
      .module(2, "b")
      .object(0x2000, {1})
      .module(2, "c")
      .object(0, {2})
      .object(0x5000, {3})
      .object(0x2000, {4})
      .predefined();
  EXPECT_BYTES(ctx_file(), want.bytes());
}

// CL fills the slot of the current section and advances it; LOCATE sets it, SECT leaves it.
TEST_F(UnitsTest, CurrentSectionRoles) {
  Builder b;
  b.hdr();
  b.unit("u", "MC68000", 2, 0x04).cl(0x1000, "A");
  b.sect(0, 0).data({1});
  b.cl(0x2000, "B");  // section 1
  b.locate(1).data({2});
  b.locate(0).data({3});
  b.cl(0x3000, "A2");  // section 0 again
  b.locate(0).data({4});
  b.sect(0, 1).data({5});
  b.end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "u")
                               .object(0x1000, {1})
                               .object(0x2000, {2})
                               .object(0x1000, {3})
                               .object(0x3000, {4})
                               .object(0x2000, {5})
                               .predefined()
                               .bytes());
}

// DBGUNIT may name a unit beyond the opened ones; the next UNIT opens the slot after it, and
// the slots skipped in between stay unopened.
TEST_F(UnitsTest, UnitAfterDbgunitOpensFollowingSlot) {
  Builder b;
  b.hdr();
  b.dbgunit(0x01, 2);
  b.unit("u", "MC68000", 1, 0x04).cl(0x700, "P");
  b.sect(3, 0).data({7});
  b.sect(2, 0).data({8});
  b.end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Invalid section number (SECT)\n") + CREATED);
  EXPECT_BYTES(ctx_file(), Ctx().header().module(4, "u").object(0x700, {7}).predefined().bytes());
}

// A function opens a scope that BLKEND with bit 6 closes; a UNIT record in between clears it.
TEST_F(UnitsTest, UnitClearsOpenFunctionScope) {
  for (bool unit_between : {false, true}) {
    SCOPED_TRACE(unit_between ? "UNIT between" : "no UNIT");
    Builder b;
    b.hdr();
    b.unit("a", "MC68000", 1, 0x04).cl(0x1000, "P");
    b.symbol({tekrec::FUNCTION,
              0x10,
              "f",
              tekrec::basic_type(0),
              tekrec::in_section(2, 0, 0x20, 0x10),
              {}});
    b.blkend(0x00);  // writes the function, leaves its scope open
    if (unit_between) b.unit("b", "MC68000", 1, 0x04);
    b.blkend(0x40);
    b.end();

    Ctx want;
    want.header().module(1, "a").pub(0, 0x1020, 1, 288, 1, "f");
    if (unit_between) want.module(2, "b");
    want.start_local(0x1020);
    if (!unit_between) want.end_local(0x102F);
    want.predefined().function(16, 288, 0, 0);
    EXPECT_BYTES(convert(b), want.bytes());
  }
}

// ---------------------------------------------------------------------------------------------
// identify_processor

struct ProcessorCase {
  const char* name;
  int code;
  bool h8;
  uint8_t ri_mode;
};

TEST_F(UnitsTest, IdentifyProcessor) {
  // clang-format off
  const ProcessorCase cases[] = {
      // Every table name. Names that begin with "SH" give 9 and names that begin with "H8"
      // give 20 with the H8 flag, whatever follows.
      {"MC68000", 0, false, 0}, {"MC68008", 1, false, 0}, {"MC68010", 2, false, 0},
      {"MC68HC000", 3, false, 0}, {"MC68HC001", 4, false, 0}, {"MC68EC000", 5, false, 0},
      {"MC68020", 6, false, 0}, {"MC68030", 7, false, 0}, {"MC68040", 8, false, 0},
      {"SH7032", 9, false, 0}, {"SH7604", 9, false, 0}, {"SH7750", 9, false, 0},
      {"SH7708", 9, false, 0}, {"SH7709", 9, false, 0}, {"SH7709A", 9, false, 0},
      {"SH7729", 9, false, 0}, {"MPC821", 16, false, 0}, {"MPC860", 17, false, 0},
      {"SR320S30", 18, false, 0}, {"SR320", 19, false, 0}, {"H8S2600", 20, true, 0},
      {"H8S2655", 20, true, 0}, {"HD6432655", 22, false, 0}, {"HD6432653", 23, false, 0},
      {"HD6472655", 24, false, 0}, {"HD6413003", 25, false, 0}, {"HD6433040", 26, false, 0},
      {"HD6433041", 27, false, 0}, {"HD6433042", 28, false, 0}, {"HD6473042", 29, false, 0},
      {"HD6473072", 30, false, 0}, {"HD6433071", 31, false, 0}, {"HD6433070", 32, false, 0},
      {"HD6413002", 33, false, 0}, {"HD6433048", 34, false, 0}, {"HD6473048", 35, false, 0},
      {"HD6433047", 36, false, 0}, {"HD6433044", 37, false, 0}, {"HD64F3048", 38, false, 0},
      {"M8086-16", 39, false, 0}, {"V8086-16", 40, false, 0}, {"M8086", 41, false, 0},
      {"V8086", 42, false, 0}, {"ARM", 43, false, 0}, {"RI10", 44, false, 1},
      {"RI20", 45, false, 2},
      // Prefix rules and the substring scan in table order. "SH7709" comes before "SH7709A";
      // an H8 name found by the scan sets no H8 flag; MC68000 is found before RI20.
      {"H8/300H", 20, true, 0}, {"H8", 20, true, 0}, {"SH", 9, false, 0},
      {"SHARC", 9, false, 0}, {"xSH7750", 11, false, 0}, {"xSH7709A", 13, false, 0},
      {"xSH7729y", 15, false, 0}, {"xH8S2655", 21, false, 0}, {"HD6433042F", 28, false, 0},
      {"SR320S", 19, false, 0}, {"SR320S30X", 18, false, 0}, {"M8086-16B", 39, false, 0},
      {"M8086-8", 41, false, 0}, {"ARM7TDMI", 43, false, 0}, {"StrongARM", 43, false, 0},
      {"MC68000-RI20", 0, false, 0}, {"xRI20", 45, false, 2}, {"RI10RI20", 44, false, 1},
      // Nothing found (the comparison is case-sensitive): code 0.
      {"", 0, false, 0}, {"Z80", 0, false, 0}, {"sh7750", 0, false, 0},
      {"h8/300", 0, false, 0}, {"arm", 0, false, 0},
  };
  // clang-format on
  for (const ProcessorCase& c : cases) {
    SCOPED_TRACE(c.name);
    tek::Converter cv;
    load_body(cv, Fields().name(c.name));
    EXPECT_EQ(tek::identify_processor(cv), c.code);
    EXPECT_EQ(cv.units.h8, c.h8);
    EXPECT_EQ(cv.units.ri_mode, c.ri_mode);
    EXPECT_EQ(cv.rd.rec_len, 0);
  }
}

// The H8 flag is never cleared and RI mode never goes back to 0.
TEST_F(UnitsTest, ProcessorFlagsAccumulate) {
  tek::Converter cv;
  const struct {
    const char* name;
    bool h8;
    uint8_t ri_mode;
  } steps[] = {
      {"RI20", false, 2},   {"MC68000", false, 2}, {"RI10", false, 1},
      {"H8/300H", true, 1}, {"ARM", true, 1},      {"RI20", true, 2},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    load_body(cv, Fields().name(s.name));
    tek::identify_processor(cv);
    EXPECT_EQ(cv.units.h8, s.h8);
    EXPECT_EQ(cv.units.ri_mode, s.ri_mode);
  }
}

// ---------------------------------------------------------------------------------------------
// get_register

struct RegisterCase {
  int processor;
  uint8_t ri_mode;
  const char* name;
  int number;
};

TEST_F(UnitsTest, GetRegister) {
  const RegisterCase cases[] = {
      {0, 0, "D0", 0},
      {0, 0, "d7", 7},
      {0, 0, "A0", 8},
      {0, 0, "a7", 15},
      {0, 0, "FR3", 0},
      {0, 0, "R1", 0},
      {8, 0, "A6", 14},
      {3, 0, "D2", 2},
      {9, 0, "R0", 0},
      {9, 0, "r15", 15},
      {9, 0, "FR1", 0},
      {15, 0, "R7", 7},
      {11, 0, "R15", 15},
      {11, 0, "FR0", 16},
      {11, 0, "fr15", 31},
      {11, 0, "FR16", 0},
      {16, 0, "R31", 31},
      {17, 0, "r5", 5},
      {18, 0, "R20", 20},
      {19, 0, "R32", 0},
      {20, 0, "R0H", 0},
      {20, 0, "R7H", 7},
      {20, 0, "r0l", 8},
      {21, 0, "R7L", 15},
      {28, 0, "R0", 16},
      {28, 0, "R7", 23},
      {38, 0, "E0", 24},
      {38, 0, "E7", 31},
      {33, 0, "ER0", 32},
      {33, 0, "er7", 39},
      {20, 0, "R8", 0},
      {39, 0, "AX", 0},
      {39, 0, "bx", 1},
      {40, 0, "Sp", 4},
      {41, 0, "DI", 7},
      {42, 0, "cs", 8},
      {42, 0, "ES", 11},
      {42, 0, "eax", 0},
      {43, 0, "r13", 13},
      {43, 0, "R15", 15},
      {43, 0, "pc", 0},
      {44, 1, "G0", 0},
      {44, 1, "G3", 3},
      {44, 1, "P", 4},
      {44, 1, "LS", 5},
      {44, 1, "LI", 6},
      {44, 1, "LN", 7},
      {44, 1, "SP", 8},
      {44, 1, "PC", 9},
      {44, 1, "C0", 10},
      {44, 1, "C15", 25},
      {44, 1, "H0", 26},
      {44, 1, "H15", 41},
      {45, 2, "I0", 42},
      {45, 2, "I3", 45},
      {45, 2, "L0", 46},
      {45, 2, "L7", 53},
      {45, 2, "D", 54},
      {45, 2, "D1", 55},
      {45, 2, "D15", 69},
      {45, 2, "GL", 70},
      {45, 2, "gh", 71},
      // The extra table, in RI mode only, numbers with bit 7 set.
      {44, 1, "AL", 0xA6},
      {44, 1, "R0", 0x80},
      {44, 1, "R31", 0x9F},
      {44, 1, "A", 0xA0},
      {44, 1, "F", 0xA1},
      {44, 1, "T", 0xA2},
      {44, 1, "V", 0xA3},
      {44, 1, "C", 0xA4},
      {44, 1, "M", 0xA5},
      {44, 1, "ah", 0xA7},
      {44, 1, "FL", 0xA8},
      {44, 1, "FH", 0xA9},
      {44, 1, "T0", 0xAA},
      {44, 1, "T7", 0xB1},
      {44, 1, "XYZ", 0},
      // RI mode left by an earlier unit: the unit's own table first, then the extra table.
      {43, 2, "R5", 5},
      {43, 2, "AL", 0xA6},
      {0, 1, "R5", 0x85},
      {0, 1, "D5", 5},
      {44, 0, "AL", 0},  // an RI processor code without RI mode: no extra table
      {0, 0, "", 0},
  };
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.processor) + " " + c.name);
    tek::Converter cv;
    cv.units.units.resize(1);
    cv.units.units[0].opened = true;
    cv.units.units[0].processor = c.processor;
    cv.units.current_unit = 0;
    cv.units.ri_mode = c.ri_mode;
    load_body(cv, Fields().name(c.name));
    EXPECT_EQ(tek::get_register(cv), c.number);
    EXPECT_EQ(cv.rd.rec_len, 0);
  }
}

// Register variables in units of different processors, written as SETLOCAL class 4.
TEST_F(UnitsTest, RegisterVariablesFollowTheirUnitsProcessor) {
  Builder b;
  b.hdr();
  b.unit("a", "ARM7TDMI", 0, 0x04).symbol(reg_var("a", "r13"));
  b.unit("x", "V8086", 0, 0x04).symbol(reg_var("x", "AX")).symbol(reg_var("y", "ss"));
  b.unit("s", "xSH7750", 0, 0x04).symbol(reg_var("s", "FR3"));
  b.unit("r", "RI10", 0, 0x04).symbol(reg_var("r", "SP")).symbol(reg_var("q", "AL"));
  b.unit("m", "MC68000", 0, 0x04).symbol(reg_var("m", "FR3")).symbol(reg_var("n", "T0"));
  b.dbgunit(0x01, 9);  // an unopened unit: the MC68000 register list
  b.symbol(reg_var("d", "a1"));
  b.end();
  Ctx want;
  want.header()
      .module(1, "a")
      .module(2, "x")
      .module(3, "s")
      .module(4, "r")
      .module(5, "m")
      .set_local(4, 13, 0, "a")
      .set_local(4, 0, 0, "x")
      .set_local(4, 10, 0, "y")
      .set_local(4, 19, 0, "s")
      .set_local(4, 8, 0, "r")
      .set_local(4, 0xA6, 0, "q")
      .set_local(4, 0, 0, "m")
      .set_local(4, 0xAA, 0, "n")
      .set_local(4, 9, 0, "d")
      .predefined();
  EXPECT_BYTES(convert(b), want.bytes());
}

// ---------------------------------------------------------------------------------------------
// Segmented address forms

struct FormCase {
  const char* what;
  uint8_t flags;
  uint8_t space_width;
  bool m16;
  bool addend;  // the CL record carries a base addend (the form is not 0)
  uint32_t location;
  uint32_t written;
};

TEST_F(UnitsTest, AddressForms) {
  const FormCase cases[] = {
      {"form 1", 0x84, 20, false, true, 0x12345, 0x12340005},
      {"form 1 drops bits 20-31", 0x84, 20, false, true, 0xFFF12345, 0x12340005},
      {"form 2", 0x84, 24, false, true, 0x123456, 0x12340056},
      {"form 2 drops bits 24-31", 0x84, 24, false, true, 0xAB123456, 0x12340056},
      {"-m16 over width 20", 0x84, 20, true, true, 0x12345, 0x01230045},
      {"-m16 over width 16", 0x84, 16, true, true, 0x123456, 0x12340056},
      {"-m16 over width 0", 0x84, 0, true, true, 0x1234, 0x00120034},
      {"segmented, width 16", 0x84, 16, false, false, 0x12345, 0x12345},
      {"segmented, width 32", 0x84, 32, false, false, 0x12345, 0x12345},
      {"unsegmented, width 20", 0x04, 20, false, false, 0x12345, 0x12345},
      {"unsegmented, width 24, -m16", 0x04, 24, true, false, 0x123456, 0x123456},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b;
    b.hdr();
    b.unit("u", "MC68000", 1, c.flags, c.space_width);
    if (c.addend)
      b.cl(c.location - 5, "P", 0, 5);
    else
      b.cl(c.location, "P");
    b.sect(0, 0).data({0x5A}).end();
    std::vector<std::string> options;
    if (c.m16) options.push_back("-m16");
    EXPECT_BYTES(convert(b, options),
                 Ctx().header().module(1, "u").object(c.written, {0x5A}).predefined().bytes());
  }
}

// ---------------------------------------------------------------------------------------------
// CL

// Flag bit 0x08 marks a CL record that is not supported; the other bits are not looked at.
TEST_F(UnitsTest, ClFlags) {
  for (uint8_t flags : {0x08, 0xFF, 0xF7}) {
    SCOPED_TRACE(flags);
    const bool rejected = flags & 0x08;
    Builder b;
    b.hdr();
    b.unit("u", "MC68000", 2, 0x04).cl(0x1000, "P", flags);
    b.sect(0, 0).data({1}).end();
    RunResult r = run_on(b);
    EXPECT_EQ(r.body(), std::string(rejected ? "Not support record (CL)\n" : "") + CREATED);
    Ctx want;
    want.header().module(1, "u");
    if (!rejected) want.object(0x1000, {1});
    EXPECT_BYTES(ctx_file(), want.predefined().bytes());
  }
}

// The flag test comes before the section check.
TEST_F(UnitsTest, ClNotSupportedBeforeAnyUnit) {
  Builder b;
  b.hdr().cl(0x1000, "P", 0x08).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Not support record (CL)\n") + CREATED);
}

// A section name given in two units is listed once; the second CL still stores its base. An
// untyped symbol named like a listed section is not written; one differing in case is.
TEST_F(UnitsTest, SectionNamesAcrossUnits) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 1, 0x04).cl(0x1000, "P");
  b.unit("b", "MC68000", 1, 0x04).cl(0x2000, "P");
  b.symbol({tekrec::UNTYPED, 0, "P", {}, tekrec::at_section(0, 4), {}});
  b.symbol({tekrec::UNTYPED, 0, "p", {}, tekrec::at_section(0, 8), {}});
  b.sect(1, 0).data({1});
  b.end();
  Ctx want;
  want.header()
      .module(1, "a")
      .module(2, "b")
      .object(0x2000, {1})
      .pub(0, 0x2008, 1, 256, 2, "p")
      .predefined();
  EXPECT_BYTES(convert(b), want.bytes());
}

// The list holds at most 0x3FFF names; a CL arriving at a full list fails, even with a name
// that is already listed.
TEST_F(UnitsTest, SectionBufferOverflowAlsoForDuplicate) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 0x3FFF, 0x04);
  for (int i = 0; i < 0x3FFF; ++i) b.cl(static_cast<uint32_t>(i), "S" + std::to_string(i));
  b.unit("b", "MC68000", 2, 0x04).cl(0x9000, "S0");
  b.sect(1, 0).data({1}).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Section buffer overflow\n") + CREATED);
  EXPECT_BYTES(ctx_file(), Ctx().header().module(1, "a").module(2, "b").predefined().bytes());
}

// Duplicates do not take room: 0x3FFE names, a duplicate, then one new name fill the list
// exactly; only the CL after that fails.
TEST_F(UnitsTest, DuplicateNamesDoNotCountTowardsTheLimit) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 0x3FFF, 0x04);
  for (int i = 0; i < 0x3FFE; ++i) b.cl(0x100, "S" + std::to_string(i));
  b.cl(0x77, "S5");  // section 0x3FFE
  b.sect(0, 0x3FFE).data({1});
  b.unit("b", "MC68000", 2, 0x04).cl(0x5000, "P");  // the 0x3FFFth name
  b.sect(1, 0).data({2});
  b.cl(0x6000, "Q");
  b.data({3}).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Section buffer overflow\n") + CREATED);
  Ctx want;
  want.header().module(1, "a").object(0x77, {1}).module(2, "b").object(0x5000, {2}).predefined();
  EXPECT_BYTES(ctx_file(), want.bytes());
}

// In RI mode 2 a section whose name contains "PR_" is a program section: a variable placed in
// it is written with mode 0xA0 and class 1.
TEST_F(UnitsTest, RiProgramSections) {
  for (const char* processor : {"RI20", "RI10"}) {
    SCOPED_TRACE(processor);
    const bool ri20 = std::string(processor) == "RI20";
    Builder b;
    b.hdr();
    b.unit("r", processor, 4, 0x04);
    b.cl(0x100, "PR_MAIN").cl(0x200, "XPR_A").cl(0x300, "P").cl(0x400, "pr_x");
    const char* names[] = {"a", "b", "c", "d"};
    for (uint16_t s = 0; s < 4; ++s)
      b.symbol({tekrec::VARIABLE,
                0,
                names[s],
                tekrec::basic_type(0),
                tekrec::in_section(s % 2 ? 3 : 2, s, 0x10, 4),
                {}});
    b.end();
    Ctx want;
    want.header()
        .module(1, "r")
        .pub(ri20 ? 0xA0 : 0, 0x110, 1, 0, 1, "a")
        .pub(ri20 ? 0xA0 : 0, 0x210, 1, 0, 1, "b")
        .pub(0, 0x310, 1, 0, 1, "c")
        .pub(0, 0x410, 1, 0, 1, "d")
        .predefined();
    EXPECT_BYTES(convert(b), want.bytes());
  }
}

// Section kinds are set by CL records read while RI mode is 2, whatever the unit's processor:
// a "PR_" section of an RI10 unit read before the RI20 unit stays kind 0, while one of a later
// MC68000 unit becomes kind 1.
TEST_F(UnitsTest, SectionKindsSetOnlyInRiMode2) {
  Builder b;
  b.hdr();
  b.unit("a", "RI10", 1, 0x04).cl(0x100, "PR_A");
  b.unit("b", "RI20", 1, 0x04).cl(0x200, "PR_B");
  b.unit("c", "MC68000", 1, 0x04).cl(0x300, "PR_C");
  const char* names[] = {"x", "y", "z"};
  for (uint16_t u = 0; u < 3; ++u) {
    b.sect(u, 0);
    b.symbol({tekrec::VARIABLE,
              0,
              names[u],
              tekrec::basic_type(0),
              tekrec::in_section(2, 0, 0x10, 4),
              {}});
    b.blkend(0);
  }
  b.end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "a")
                               .module(2, "b")
                               .module(3, "c")
                               .pub(0, 0x110, 1, 0, 1, "x")
                               .pub(0xA0, 0x210, 1, 0, 2, "y")
                               .pub(0xA0, 0x310, 1, 0, 3, "z")
                               .predefined()
                               .bytes());
}

// ---------------------------------------------------------------------------------------------
// Records naming a unit or section that does not exist end the pass.

struct InvalidCase {
  const char* what;
  void (*records)(Builder&);
  const char* message;
  Ctx main;  // records written after HEADER
};

TEST_F(UnitsTest, InvalidSectionNumber) {
  const InvalidCase cases[] = {
      {"SECT before any UNIT", [](Builder& b) { b.sect(0, 0); }, "SECT", Ctx()},
      {"SECT to an unopened unit",
       [](Builder& b) { b.unit("u", "MC68000", 1, 0x04).cl(0x10, "P").sect(1, 0); }, "SECT",
       Ctx().module(1, "u")},
      {"SECT section equal to the count",
       [](Builder& b) { b.unit("u", "MC68000", 2, 0x04).cl(0x10, "P").sect(0, 2); }, "SECT",
       Ctx().module(1, "u")},
      {"SECT to a unit with no sections",
       [](Builder& b) { b.unit("u", "MC68000", 0, 0x04).sect(0, 0); }, "SECT",
       Ctx().module(1, "u")},
      {"LOCATE before any UNIT", [](Builder& b) { b.locate(0); }, "LOCATE", Ctx()},
      {"LOCATE section equal to the count",
       [](Builder& b) { b.unit("u", "MC68000", 1, 0x04).cl(0x10, "P").locate(1); }, "LOCATE",
       Ctx().module(1, "u")},
      {"LOCATE in an unopened unit named by DBGUNIT",
       [](Builder& b) { b.unit("u", "MC68000", 1, 0x04).cl(0x10, "P").dbgunit(0x01, 1).locate(0); },
       "LOCATE", Ctx().module(1, "u")},
      {"AFLAG before any UNIT", [](Builder& b) { b.aflag(0, 0, 1); }, "AFLAG", Ctx()},
      {"AFLAG section equal to the count",
       [](Builder& b) { b.unit("u", "ARM", 1, 0x04).cl(0x10, "P").aflag(1, 0, 1); }, "AFLAG",
       Ctx().module(1, "u")},
      {"CL before any UNIT", [](Builder& b) { b.cl(0x10, "P"); }, "CL", Ctx()},
      {"CL beyond the declared count",
       [](Builder& b) { b.unit("u", "MC68000", 1, 0x04).cl(0x10, "P").cl(0x20, "Q"); }, "CL",
       Ctx().module(1, "u")},
      {"CL in a unit with no sections",
       [](Builder& b) { b.unit("u", "MC68000", 0, 0x04).cl(0x10, "P"); }, "CL",
       Ctx().module(1, "u")},
      {"CL in an unopened unit named by DBGUNIT",
       [](Builder& b) { b.unit("u", "MC68000", 1, 0x04).dbgunit(0x01, 7).cl(0x10, "P"); }, "CL",
       Ctx().module(1, "u")},
  };
  for (const InvalidCase& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b;
    b.hdr();
    c.records(b);
    b.data({0x99}).end();  // never read
    RunResult r = run_on(b);
    EXPECT_EQ(r.body(), std::string("Invalid section number (") + c.message + ")\n" + CREATED);
    EXPECT_BYTES(ctx_file(), Ctx().header().append(c.main).predefined().bytes());
  }
}

// ---------------------------------------------------------------------------------------------
// AFLAG

struct AflagCase {
  const char* processor;
  uint8_t flag;
  bool written;
  uint32_t value;
};

TEST_F(UnitsTest, Aflag) {
  const AflagCase cases[] = {
      {"ARM", 1, true, 1},     {"ARM", 2, true, 0},      {"ARM", 0, false, 0},
      {"ARM", 3, false, 0},    {"ARM", 0x81, false, 0},  {"ARM7TDMI", 1, true, 1},
      {"SH7032", 1, false, 0}, {"MC68000", 2, false, 0}, {"RI20", 1, false, 0},
  };
  for (const AflagCase& c : cases) {
    SCOPED_TRACE(std::string(c.processor) + " flag " + std::to_string(c.flag));
    Builder b;
    b.hdr();
    b.unit("u", c.processor, 2, 0x04).cl(0, "A").cl(0x8000, "B");
    b.aflag(1, 0x10, c.flag);
    b.sect(0, 0).data({1}).end();
    Ctx want;
    want.header().module(1, "u");
    if (c.written) want.addr_flag(0x8010, c.value);
    want.object(0, {1}).predefined();
    EXPECT_BYTES(convert(b), want.bytes());
  }
}

// The ADDRFLAG address is the section base plus the offset, not converted; bytes after the
// flag are skipped.
TEST_F(UnitsTest, AflagAddressUnconvertedAndRestSkipped) {
  Builder b;
  b.hdr();
  b.unit("u", "ARM", 1, 0x84, 20).cl(0x12300, "P", 0, 0x45);
  b.aflag(0, 0x10, 2);
  b.record(tekrec::AFLAG, Fields().u16(0).addr(0x20).u8(1).u8(0xEE).u16(0xBEEF));
  b.sect(0, 0).data({1}).end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "u")
                               .addr_flag(0x12355, 0)
                               .addr_flag(0x12365, 1)
                               .object(0x12340005, {1})
                               .predefined()
                               .bytes());
}

}  // namespace
