// Units, processors and sections: UNIT, CL, SECT, LOCATE and AFLAG records, processor
// identification, register lookup and the segmented address forms.
#include "core/reader/units.hpp"

#include <string>
#include <vector>

#include "core/record_reader.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::Symbol;

namespace {

class UnitsTest : public TempDirTest {};

// What a -s dump prints before the input's first record.
const std::string TOP = predefined_dump() + line::header();

// The dump line of an OBJECT record of one byte.
std::string byte_at(uint32_t addr) {
  return line::object(addr, 1);
}

// Makes a record body holding one length-prefixed name the input of the record reader,
// positioned at the body with the body length covering it, as a handler finds it.
void load_name(tek::RecordReader& rd, const std::string& name) {
  Bytes b = Fields().name(name).encode(rd.addr_width());
  write_file("body.bin", std::string(b.begin(), b.end()));
  ASSERT_TRUE(rd.open("body.bin"));
  rd.set_remaining(static_cast<uint16_t>(b.size()));
}

// A variable held in a register: flushed as SETLOCAL class 4 with the register number.
Symbol reg_var(const std::string& name, const std::string& reg) {
  return sym(tekrec::VARIABLE, name, tekrec::basic_type(0), tekrec::in_register(reg));
}

// ---------------------------------------------------------------------------------------------
// UNIT

// The first UNIT with a nonzero width nibble sets the address width for good; the segmented flag
// of the latest UNIT holds for all units. Only a unit of processor code 43 (ARM) writes ADDRFLAG
// records: flag 1 as 1, flag 2 as 0, other flags not at all. The address is the section base
// plus the offset, never converted; bytes after the flag are skipped.
TEST_F(UnitsTest, AddressWidthSegmentedFlagAndAddressFlags) {
  Builder b;
  b.hdr();
  b.unit("z", "ARM", 1, 0x00);  // width nibble 0: the width stays unset, addresses are 1 byte
  b.cl(0x40, "Z");
  b.unit("s", "ARM", 1, 0x84, 20);  // width 4, segmented: form 1 for this unit
  b.cl(0x12300, "S", 0, 0x45);      // base plus base addend
  b.sect(0, 0).data({0xBB});        // space width 0: form 0 even while segmented
  b.sect(1, 0).data({0xAA});
  b.aflag(0, 0x10, 2);
  b.record(tekrec::AFLAG, Fields().u16(0).addr(0x20).u8(1).u8(0xEE).u16(0xBEEF));
  b.aflag(0, 0x30, 0).aflag(0, 0x30, 3).aflag(0, 0x30, 0x81);  // other flags: nothing
  b.unit("t", "ARM7TDMI", 1, 0x02, 20);  // width stays 4; the segmented flag is cleared for all
  b.cl(0x00ABCDEF, "T");                 // 4-byte base, no addend
  b.sect(1, 0).data({0xCC});
  b.sect(2, 0).data({0xDD});
  b.aflag(0, 0x01020304, 1);
  b.end();
  ASSERT_EQ(b.addr_width(), 4);
  EXPECT_EQ(dump(b), TOP + line::module(1, "z") + line::module(2, "s") + byte_at(0x40) +
                         byte_at(0x12340005) + line::addr_flag(0x12355, 0) +
                         line::addr_flag(0x12365, 1) + line::module(3, "t") + byte_at(0x12345) +
                         byte_at(0xABCDEF) + line::addr_flag(0x01ADD0F3, 1));
}

// A UNIT record opens the slot after the current unit, also when SECT or DBGUNIT has moved the
// current unit: a slot opened before is opened afresh, with new sections and a new processor, and
// the slots that a DBGUNIT skipped stay unopened.
TEST_F(UnitsTest, UnitOpensTheSlotAfterTheCurrentUnit) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 2, 0x04).cl(0x1000, "A0").cl(0x2000, "A1");
  b.unit("b", "ARM", 2, 0x04).cl(0x3000, "B0").cl(0x4000, "B1");
  b.sect(0, 1).data({1});
  b.unit("c", "SH7032", 1, 0x04);  // unit 1 again
  b.sect(1, 0).data({2});          // declared but not yet given a base: 0
  b.cl(0x5000, "C0");
  b.sect(1, 0).data({3});
  b.aflag(0, 0x10, 1);                             // unit 1 is no longer ARM: no ADDRFLAG
  b.sect(0, 1).data({4});                          // unit 0 untouched
  b.dbgunit(0x01, 4);                              // beyond the opened units
  b.unit("d", "MC68000", 1, 0x04).cl(0x700, "P");  // unit 5
  b.sect(5, 0).data({5});
  b.sect(3, 0).data({6}).end();
  EXPECT_EQ(dump(b), TOP + line::module(1, "a") + line::module(2, "b") + byte_at(0x2000) +
                         line::module(2, "c") + byte_at(0) + byte_at(0x5000) + byte_at(0x2000) +
                         line::module(6, "d") + byte_at(0x700) + "Invalid section number (SECT)\n");
}

// CL fills the slot of the current section and advances it; LOCATE sets it, SECT leaves it.
TEST_F(UnitsTest, CurrentSectionRoles) {
  Builder b;
  b.hdr();
  b.unit("u", "MC68000", 2, 0x04).cl(0x1000, "A");
  b.sect(0, 0).data({1});
  b.cl(0x2000, "B", 0xF7);  // section 1; flag bits other than 0x08 are not looked at
  b.locate(1).data({2});
  b.locate(0).data({3});
  b.cl(0x3000, "A2");  // section 0 again
  b.locate(0).data({4});
  b.sect(0, 1).data({5});
  b.end();
  EXPECT_EQ(dump(b), TOP + line::module(1, "u") + byte_at(0x1000) + byte_at(0x2000) +
                         byte_at(0x1000) + byte_at(0x3000) + byte_at(0x2000));
}

// ---------------------------------------------------------------------------------------------
// identify_processor

TEST_F(UnitsTest, IdentifyProcessor) {
  const struct {
    const char* name;
    int code;
  } cases[] = {
      // clang-format off
      // Every table name. Names that begin with "SH" give 9 and names that begin with "H8"
      // give 20, whatever follows.
      {"MC68000", 0}, {"MC68008", 1}, {"MC68010", 2}, {"MC68HC000", 3}, {"MC68HC001", 4},
      {"MC68EC000", 5}, {"MC68020", 6}, {"MC68030", 7}, {"MC68040", 8}, {"SH7032", 9},
      {"SH7604", 9}, {"SH7750", 9}, {"SH7708", 9}, {"SH7709", 9}, {"SH7709A", 9},
      {"SH7729", 9}, {"MPC821", 16}, {"MPC860", 17}, {"SR320S30", 18}, {"SR320", 19},
      {"H8S2600", 20}, {"H8S2655", 20}, {"HD6432655", 22}, {"HD6432653", 23},
      {"HD6472655", 24}, {"HD6413003", 25}, {"HD6433040", 26}, {"HD6433041", 27},
      {"HD6433042", 28}, {"HD6473042", 29}, {"HD6473072", 30}, {"HD6433071", 31},
      {"HD6433070", 32}, {"HD6413002", 33}, {"HD6433048", 34}, {"HD6473048", 35},
      {"HD6433047", 36}, {"HD6433044", 37}, {"HD64F3048", 38}, {"M8086-16", 39},
      {"V8086-16", 40}, {"M8086", 41}, {"V8086", 42}, {"ARM", 43}, {"RI10", 44}, {"RI20", 45},
      // Prefix rules and the substring scan in table order: "SH7709" comes before "SH7709A",
      // MC68000 before RI20.
      {"H8/300H", 20}, {"H8", 20}, {"SHARC", 9}, {"xSH7750", 11}, {"xSH7709A", 13},
      {"xH8S2655", 21}, {"HD6433042F", 28}, {"SR320S", 19}, {"SR320S30X", 18},
      {"M8086-16B", 39}, {"M8086-8", 41}, {"ARM7TDMI", 43}, {"StrongARM", 43},
      {"MC68000-RI20", 0}, {"xRI20", 45}, {"RI10RI20", 44},
      // Nothing found (the comparison is case-sensitive): code 0.
      {"", 0}, {"Z80", 0}, {"sh7750", 0}, {"h8/300", 0}, {"arm", 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tek::RecordReader rd;
    tek::UnitState us;
    load_name(rd, c.name);
    EXPECT_EQ(tek::identify_processor(rd, us), c.code);
    EXPECT_EQ(rd.remaining(), 0);
  }
}

// Only the "H8" prefix rule sets the H8 flag, which is never cleared; RI10 and RI20 found by the
// scan set RI mode, which never goes back to 0.
TEST_F(UnitsTest, ProcessorFlags) {
  tek::RecordReader rd;
  tek::UnitState us;
  const struct {
    const char* name;
    bool h8;
    uint8_t ri_mode;
  } steps[] = {
      {"HD6433042", false, 0}, {"xH8S2655", false, 0}, {"MC68000-RI20", false, 0},
      {"RI20", false, 2},      {"MC68000", false, 2},  {"RI10RI20", false, 1},
      {"H8/300H", true, 1},    {"ARM", true, 1},       {"xRI20", true, 2},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    load_name(rd, s.name);
    tek::identify_processor(rd, us);
    EXPECT_EQ(us.h8, s.h8);
    EXPECT_EQ(us.ri_mode, s.ri_mode);
  }
}

// ---------------------------------------------------------------------------------------------
// get_register

TEST_F(UnitsTest, GetRegister) {
  const struct {
    int processor;
    uint8_t ri_mode;
    const char* name;
    int number;
  } cases[] = {
      // clang-format off
      // The first and last names of each range of each list, in either letter case, for codes
      // across each range of processors; a name not in the list gives 0.
      {0, 0, "D0", 0}, {0, 0, "d7", 7}, {3, 0, "A0", 8}, {8, 0, "a7", 15}, {0, 0, "FR3", 0},
      {9, 0, "R0", 0}, {15, 0, "r15", 15}, {10, 0, "FR1", 0}, {11, 0, "R15", 15},
      {11, 0, "FR0", 16}, {11, 0, "fr15", 31}, {11, 0, "FR16", 0}, {16, 0, "R0", 0},
      {19, 0, "r31", 31}, {17, 0, "R32", 0}, {20, 0, "R0H", 0}, {21, 0, "r7h", 7},
      {28, 0, "R0L", 8}, {38, 0, "R7L", 15}, {33, 0, "R0", 16}, {20, 0, "R7", 23},
      {20, 0, "e0", 24}, {20, 0, "E7", 31}, {20, 0, "ER0", 32}, {38, 0, "er7", 39},
      {20, 0, "R8", 0}, {39, 0, "AX", 0}, {40, 0, "bx", 1}, {41, 0, "Sp", 4}, {42, 0, "DI", 7},
      {42, 0, "cs", 8}, {39, 0, "ES", 11}, {39, 0, "eax", 0}, {43, 0, "r13", 13},
      {43, 0, "R15", 15}, {43, 0, "pc", 0},
      {44, 1, "G0", 0}, {44, 1, "G3", 3}, {44, 1, "P", 4}, {44, 1, "LS", 5}, {44, 1, "LI", 6},
      {44, 1, "LN", 7}, {44, 1, "SP", 8}, {44, 1, "PC", 9}, {44, 1, "C0", 10},
      {44, 1, "C15", 25}, {44, 1, "H0", 26}, {44, 1, "H15", 41}, {45, 2, "I0", 42},
      {45, 2, "I3", 45}, {45, 2, "L0", 46}, {45, 2, "L7", 53}, {45, 2, "D", 54},
      {45, 2, "D1", 55}, {45, 2, "D15", 69}, {45, 2, "GL", 70}, {45, 2, "gh", 71},
      // The extra table, in RI mode only, numbers with bit 7 set.
      {44, 1, "R0", 0x80}, {44, 1, "R31", 0x9F}, {44, 1, "A", 0xA0}, {44, 1, "F", 0xA1},
      {44, 1, "T", 0xA2}, {44, 1, "V", 0xA3}, {44, 1, "C", 0xA4}, {44, 1, "M", 0xA5},
      {44, 1, "AL", 0xA6}, {44, 1, "ah", 0xA7}, {44, 1, "FL", 0xA8}, {44, 1, "FH", 0xA9},
      {44, 1, "T0", 0xAA}, {44, 1, "T7", 0xB1}, {44, 1, "XYZ", 0},
      // RI mode left by an earlier unit: the unit's own list first, then the extra table. An
      // RI processor code without RI mode has no extra table.
      {43, 2, "R5", 5}, {43, 2, "AL", 0xA6}, {0, 1, "R5", 0x85}, {0, 1, "D5", 5},
      {44, 0, "AL", 0}, {0, 0, "", 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.processor) + " " + c.name);
    tek::RecordReader rd;
    tek::UnitState us;
    us.units.resize(1);
    us.units[0].opened = true;
    us.units[0].processor = c.processor;
    us.current_unit = 0;
    us.ri_mode = c.ri_mode;
    load_name(rd, c.name);
    EXPECT_EQ(tek::get_register(rd, us), c.number);
    EXPECT_EQ(rd.remaining(), 0);
  }
}

// Register variables follow the processor of their unit; a unit that no UNIT record opened has
// the MC68000 registers.
TEST_F(UnitsTest, RegisterVariablesFollowTheirUnitsProcessor) {
  Builder b;
  b.hdr();
  b.unit("a", "ARM7TDMI", 0, 0x04).symbol(reg_var("a", "r13"));
  b.unit("x", "V8086", 0, 0x04).symbol(reg_var("x", "ss"));
  b.dbgunit(0x01, 9).symbol(reg_var("d", "a1"));
  b.end();
  EXPECT_EQ(dump(b, "-sl"), line::header() + line::setl(13, "REG", 0, "a") +
                                line::setl(10, "REG", 0, "x") + line::setl(9, "REG", 0, "d"));
}

// ---------------------------------------------------------------------------------------------
// Segmented address forms, seen through the OBJECT address of one image byte.

TEST_F(UnitsTest, AddressForms) {
  const struct {
    const char* what;
    uint8_t flags;
    uint8_t space_width;
    bool m16;
    bool addend;  // the CL record carries a base addend (the form is not 0)
    uint32_t location;
    uint32_t written;
  } cases[] = {
      {"form 1, bits 20-31 dropped", 0x84, 20, false, true, 0xFFF12345, 0x12340005},
      {"form 2, bits 24-31 dropped", 0x84, 24, false, true, 0xAB123456, 0x12340056},
      {"-m16 over width 20", 0x84, 20, true, true, 0x12345, 0x01230045},
      {"-m16 over width 0", 0x84, 0, true, true, 0x1234, 0x00120034},
      {"segmented, width 16", 0x84, 16, false, false, 0x12345, 0x12345},
      {"unsegmented, width 24, -m16", 0x04, 24, true, false, 0x123456, 0x123456},
  };
  for (const auto& c : cases) {
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
    EXPECT_EQ(dump(b, "-s", options), TOP + line::module(1, "u") + byte_at(c.written));
  }
}

// ---------------------------------------------------------------------------------------------
// CL

// The list holds at most 0x3FFF names and duplicates take no room: 0x3FFE names, a duplicate,
// then one new name fill it exactly. A CL arriving at the full list fails, whether its name is
// new or already listed.
TEST_F(UnitsTest, SectionNameListLimit) {
  for (const char* last : {"Q", "S1"}) {
    SCOPED_TRACE(last);
    Builder b;
    b.hdr();
    b.unit("a", "MC68000", 0x3FFF, 0x04);
    for (int i = 0; i < 0x3FFE; ++i) b.cl(0x100, "S" + std::to_string(i));
    b.cl(0x77, "S5");  // section 0x3FFE, a duplicate: its base is still stored
    b.sect(0, 0x3FFE).data({1});
    b.unit("b", "MC68000", 2, 0x04).cl(0x5000, "P");  // the 0x3FFFth name
    b.sect(1, 0).data({2});
    b.cl(0x6000, last);
    b.data({3}).end();
    EXPECT_EQ(dump(b), TOP + line::module(1, "a") + byte_at(0x77) + line::module(2, "b") +
                           byte_at(0x5000) + "Section buffer overflow\n");
  }
}

// A section whose name contains "PR_" (case-sensitive) becomes a program section when its CL
// record is read in RI mode 2, whatever the unit's processor: a variable placed in it is written
// with mode 0xA0, a function keeps mode 0. The "PR_" section of the RI10 unit read before the
// RI20 unit stays kind 0.
TEST_F(UnitsTest, RiProgramSections) {
  Builder b;
  b.hdr();
  b.unit("a", "RI10", 1, 0x04).cl(0x100, "PR_A");
  b.unit("b", "RI20", 4, 0x04).cl(0x200, "PR_MAIN").cl(0x300, "XPR_A").cl(0x400, "P");
  b.cl(0x500, "pr_x");
  b.unit("c", "MC68000", 1, 0x04).cl(0x600, "PR_C");
  const struct {
    uint16_t unit, section;
  } places[] = {{0, 0}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 0}};
  char name = 'a';
  for (const auto& p : places) {
    b.sect(p.unit, p.section);
    b.symbol(sym(tekrec::VARIABLE, std::string(1, name++), tekrec::basic_type(0),
                 tekrec::in_section(2, p.section, 0x10, 4)))
        .blkend(0);  // flushed here, in its own unit
  }
  b.sect(1, 0).symbol(sym(tekrec::FUNCTION, "g", tekrec::basic_type(0),
                          tekrec::in_section(3, 0, 0x20, 0x10), 0x21));
  b.end();
  EXPECT_EQ(dump(b, "-sg"),
            line::header() + line::pub(0x110, 0, "a", "EXT", 1) +
                line::pub(0x210, 0, "b", "EXT", 2, 0xA0) +
                line::pub(0x310, 0, "c", "EXT", 2, 0xA0) + line::pub(0x410, 0, "d", "EXT", 2) +
                line::pub(0x510, 0, "e", "EXT", 2) + line::pub(0x610, 0, "f", "EXT", 3, 0xA0) +
                line::pub(0x220, FIRST_SELFIX, "g", "EXT", 2));
}

// ---------------------------------------------------------------------------------------------
// Records naming a unit or section that does not exist end the pass, and so does a CL record
// with flag bit 0x08 (not supported), tested before anything else.

TEST_F(UnitsTest, RecordsThatEndThePass) {
  const std::string invalid = "Invalid section number ";
  const struct {
    const char* what;
    int sections;  // of a unit whose section 0 is described; -1: no UNIT record
    void (*records)(Builder&);
    std::string message;
  } cases[] = {
      {"SECT before any UNIT", -1, [](Builder& b) { b.sect(0, 0); }, invalid + "(SECT)"},
      {"SECT section equal to the count", 2, [](Builder& b) { b.sect(0, 2); }, invalid + "(SECT)"},
      {"LOCATE section equal to the count", 1, [](Builder& b) { b.locate(1); },
       invalid + "(LOCATE)"},
      {"AFLAG section equal to the count", 1, [](Builder& b) { b.aflag(1, 0, 1); },
       invalid + "(AFLAG)"},
      {"CL beyond the declared count", 1, [](Builder& b) { b.cl(0x20, "Q"); }, invalid + "(CL)"},
      {"CL in an unopened unit named by DBGUNIT", 1,
       [](Builder& b) { b.dbgunit(0x01, 7).cl(0x20, "Q"); }, invalid + "(CL)"},
      {"CL flag 0x08", 2, [](Builder& b) { b.cl(0x20, "Q", 0x08); }, "Not support record (CL)"},
      {"CL flag 0x08 before any UNIT", -1, [](Builder& b) { b.cl(0x20, "Q", 0x08); },
       "Not support record (CL)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b;
    b.hdr();
    if (c.sections >= 0)
      b.unit("u", "MC68000", static_cast<uint16_t>(c.sections), 0x04).cl(0x10, "P");
    c.records(b);
    b.data({0x99}).end();  // never read
    EXPECT_EQ(dump(b), TOP + (c.sections >= 0 ? line::module(1, "u") : "") + c.message + "\n");
  }
}

}  // namespace
