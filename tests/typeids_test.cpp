// Type ids and selfix numbering, the basic types (BASETYPE), debug units (DBGUNIT), and the
// state that a second pass over the same input keeps or starts afresh.
#include "debuginfo/typeids.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "driver/run.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::Symbol;

namespace {

class TypeIdsTest : public TempDirTest {};

const char* const CREATED = "Created in.ctx\n";
const char* const UNDEFINED = "undefined id (get_sid)\n";
const std::string HEADER_LINE = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";

// Console output of a converter, kept in memory. Declare it before the Converter that writes
// to it.
class Console {
 public:
  Console() : f_(::open_memstream(&text_, &size_)) {}
  ~Console() {
    std::fclose(f_);
    std::free(text_);
  }
  FILE* file() const { return f_; }
  // Everything written since the last call.
  std::string take() {
    std::fflush(f_);
    std::string s(text_ + taken_, size_ - taken_);
    taken_ = size_;
    return s;
  }

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
  size_t taken_ = 0;
  FILE* f_;
};

// A converter at the start of a pass, its console in memory.
struct Fresh {
  Console console;
  tek::Converter cv;
  Fresh() {
    cv.out.console = console.file();
    tek::reset_type_ids(cv.types);
  }
};

// ---------------------------------------------------------------------------------------------
// set_sid, get_sid, rebase_type_ids

TEST_F(TypeIdsTest, SelfixNumbering) {
  Fresh f;
  tek::set_sid(f.cv, 0x20);
  tek::set_sid(f.cv, 0x10);
  EXPECT_EQ(tek::get_sid(f.cv, 0x20), 288);
  EXPECT_EQ(tek::get_sid(f.cv, 0x10), 289);
  EXPECT_EQ(f.console.take(), "");
  EXPECT_EQ(tek::get_sid(f.cv, 0x30), 0x4000 + 288);
  EXPECT_EQ(tek::get_sid(f.cv, 0), 0x4000 + 288);
  EXPECT_EQ(f.console.take(), std::string(UNDEFINED) + UNDEFINED);
}

// Registering an id again uses up a slot; lookups find the first registration.
TEST_F(TypeIdsTest, DuplicateRegistration) {
  Fresh f;
  tek::set_sid(f.cv, 5);
  tek::set_sid(f.cv, 5);
  tek::set_sid(f.cv, 6);
  EXPECT_EQ(tek::get_sid(f.cv, 5), 288);
  EXPECT_EQ(tek::get_sid(f.cv, 6), 290);
  EXPECT_EQ(f.console.take(), "");
}

// A rebase starts a new fill: numbering goes on without a gap and earlier ids are forgotten.
TEST_F(TypeIdsTest, RebaseContinuesNumbering) {
  Fresh f;
  for (uint16_t id = 1; id <= 5; ++id) tek::set_sid(f.cv, id);
  tek::rebase_type_ids(f.cv);
  tek::set_sid(f.cv, 9);
  tek::set_sid(f.cv, 3);
  EXPECT_EQ(tek::get_sid(f.cv, 9), 293);
  EXPECT_EQ(tek::get_sid(f.cv, 3), 294);
  EXPECT_EQ(f.console.take(), "");
  EXPECT_EQ(tek::get_sid(f.cv, 1), 5 + 0x4000 + 288);
  EXPECT_EQ(f.console.take(), UNDEFINED);
  tek::rebase_type_ids(f.cv);
  EXPECT_EQ(tek::get_sid(f.cv, 9), 7 + 0x4000 + 288);
  tek::set_sid(f.cv, 9);
  EXPECT_EQ(tek::get_sid(f.cv, 9), 7 + 288);
}

// A full fill counts further registrations but stores none of them.
TEST_F(TypeIdsTest, FullTable) {
  Fresh f;
  for (uint32_t id = 0; id < 0x4000; ++id) tek::set_sid(f.cv, static_cast<uint16_t>(id + 0x100));
  EXPECT_EQ(tek::get_sid(f.cv, 0x100), 288);
  EXPECT_EQ(tek::get_sid(f.cv, 0x40FF), 0x3FFF + 288);
  tek::set_sid(f.cv, 0x7000);  // no room
  tek::set_sid(f.cv, 0x0105);  // no room, but registered before
  EXPECT_EQ(f.console.take(), "");
  EXPECT_EQ(tek::get_sid(f.cv, 0x7000), 0x4000 + 288);
  EXPECT_EQ(f.console.take(), UNDEFINED);
  EXPECT_EQ(tek::get_sid(f.cv, 0x0105), 5 + 288);
  EXPECT_EQ(f.console.take(), "");
  // Both registrations were counted: the next fill starts at 0x4002.
  tek::rebase_type_ids(f.cv);
  tek::set_sid(f.cv, 0x7000);
  EXPECT_EQ(tek::get_sid(f.cv, 0x7000), 0x4002 + 288);
}

// The id 0xFFFF takes no slot but is counted, and is never found.
TEST_F(TypeIdsTest, IdFFFF) {
  Fresh f;
  tek::set_sid(f.cv, 0xFFFF);
  tek::set_sid(f.cv, 3);
  tek::set_sid(f.cv, 0xFFFF);
  tek::set_sid(f.cv, 4);
  EXPECT_EQ(tek::get_sid(f.cv, 3), 288);
  EXPECT_EQ(tek::get_sid(f.cv, 4), 289);
  EXPECT_EQ(f.console.take(), "");
  EXPECT_EQ(tek::get_sid(f.cv, 0xFFFF), 0x4000 + 288);
  EXPECT_EQ(f.console.take(), UNDEFINED);
  tek::rebase_type_ids(f.cv);
  EXPECT_EQ(tek::get_sid(f.cv, 0xFFFF), 4 + 0x4000 + 288);
  tek::set_sid(f.cv, 8);
  EXPECT_EQ(tek::get_sid(f.cv, 8), 4 + 288);
}

// ---------------------------------------------------------------------------------------------
// The same through records

// A unit with 4-byte addresses and one section at 0x1000.
Builder program() {
  Builder b;
  b.hdr();
  b.unit("m", "MC68000", 1, 0x04).cl(0x1000, "P");
  return b;
}

Ctx program_main() {
  return Ctx().header().module(1, "m");
}

Symbol variable(const std::string& name, tekrec::Fields type, uint32_t offset) {
  return {tekrec::VARIABLE, 0, name, type, tekrec::in_section(2, 0, offset, 4), {}};
}

// FUNCTYPE numbers its type from the anonymous id counter; SRCFILES starts a new fill, after
// which ids of the earlier fill are undefined.
TEST_F(TypeIdsTest, RebaseBySrcfiles) {
  Builder b = program();
  b.dbgunit(0x01, 0);
  for (int i = 0; i < 5; ++i) b.functype();  // ids 0x8000 to 0x8004
  b.srcfiles({{"", "a.c"}});
  b.functype();  // id 0x8005
  b.symbol(variable("old", tekrec::type_id(0x8000), 4));
  b.symbol(variable("new", tekrec::type_id(0x8005), 8));
  b.end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string(UNDEFINED) + CREATED);
  // Each FUNCTYPE returns the symbol state's type, which the previous FUNCTYPE set.
  Ctx want = program_main();
  want.pub(0, 0x1004, 1, 5 + 0x4000 + 288, 1, "old")
      .pub(0, 0x1008, 1, 293, 1, "new")
      .predefined()
      .function(16, 288, 0, 0)
      .function(16, 289, 288, 0)
      .function(16, 290, 289, 0)
      .function(16, 291, 290, 0)
      .function(16, 292, 291, 0)
      .function(16, 293, 292, 0);
  std::string ctx = read_file("in.ctx");
  EXPECT_BYTES(Bytes(ctx.begin(), ctx.end()), want.bytes());
}

// Two debug units without SRCFILES between them share one fill; the anonymous id counter
// restarts at 0x8000, whose lookup finds the first unit's registration.
TEST_F(TypeIdsTest, DebugUnitsShareOneFill) {
  Builder b = program();
  b.dbgunit(0x01, 0).functype();             // 0x8000: slot 0
  b.dbgunit(0x01, 0).functype().functype();  // 0x8000 again: slot 1; 0x8001: slot 2
  b.symbol(variable("v", tekrec::type_id(0x8001), 0));
  b.end();
  Ctx want = program_main();
  want.pub(0, 0x1000, 1, 290, 1, "v")
      .predefined()
      .function(16, 288, 0, 0)
      .function(16, 288, 288, 0)
      .function(16, 290, 288, 0);
  EXPECT_BYTES(convert(b), want.bytes());
}

// A function registers its own id; a second function with the same id shares the first one's
// selfix, while its registration still uses up a slot.
TEST_F(TypeIdsTest, FunctionsWithTheSameId) {
  Builder b = program();
  b.dbgunit(0x01, 0);
  auto function = [](const std::string& name, uint32_t offset) {
    return Symbol{tekrec::FUNCTION,
                  0x40,
                  name,
                  tekrec::basic_type(0),
                  tekrec::in_section(2, 0, offset, 1),
                  {}};
  };
  b.symbol(function("f", 0x10)).symbol(function("g", 0x20)).blkend(0);
  b.functype().end();
  Ctx want = program_main();
  want.pub(0, 0x1010, 1, 288, 1, "f")
      .pub(0, 0x1020, 1, 288, 1, "g")
      .start_local(0x1010)
      .start_local(0x1020)
      .predefined()
      .function(16, 288, 0, 0)
      .function(16, 288, 0, 0)
      .function(16, 290, 0, 0);
  EXPECT_BYTES(convert(b), want.bytes());
}

// ---------------------------------------------------------------------------------------------
// BASETYPE

struct BaseTypeCase {
  uint8_t code;
  uint32_t size;
  uint8_t flags;
  uint32_t stored;
};

// Each BASETYPE sets one index; a variable of that basic type shows the stored value as its
// type (through SETLOCAL, for a frame variable).
TEST_F(TypeIdsTest, BaseTypeMapping) {
  // clang-format off
  const BaseTypeCase cases[] = {
      {0, 0, 0, 257}, {0, 4, 0x4F, 257}, {1, 4, 0, 0}, {2, 1, 0, 258},
      {2, 1, 0x40, 259}, {6, 1, 0x00, 258}, {6, 1, 0xC0, 259}, {6, 1, 0x3F, 258},
      {3, 4, 0, 262}, {3, 4, 0x40, 263}, {3, 2, 0, 260}, {3, 2, 0x40, 261},
      {3, 1, 0x40, 261}, {3, 8, 0, 260},
      {3, 0x104, 0, 262},  // only the low 8 bits of the size count
      {3, 0x4, 0xBF, 262},  // bit 6 clear
      {4, 4, 0, 266}, {4, 8, 0x01, 267}, {4, 8, 0x08, 267}, {4, 4, 0x40, 266},
      {4, 4, 0xF0, 266}, {5, 1, 0, 27}, {7, 4, 0, 0}, {8, 2, 0, 15},
      {9, 12, 0, 13}, {10, 12, 0x40, 14}, {11, 4, 0, 0}, {12, 4, 0, 0},
      {13, 4, 0, 0}, {14, 4, 0, 0}, {15, 4, 0, 0}, {16, 4, 0, 0},
      {17, 2, 0, 17}, {17, 2, 0x40, 18}, {17, 4, 0, 18}, {17, 4, 0x40, 19},
      {17, 0x202, 0x40, 18}, {17, 3, 0, 0x000311}, {17, 3, 0x40, 0x400312}, {17, 8, 0xC5, 0xC50812},
      {17, 0, 0x01, 0x010011}, {17, 0x1FF, 0x80, 0x80FF11}, {18, 4, 0, 0}, {32, 4, 0, 0},
      {255, 4, 0x40, 0},
  };
  // clang-format on

  Builder b = program();
  Ctx locals;
  uint8_t index = 0;
  for (const BaseTypeCase& c : cases) {
    const std::string name = "v" + std::to_string(index);
    b.basetype(index, c.code, c.size, c.flags, "type " + name);
    b.symbol({tekrec::VARIABLE, 0, name, tekrec::basic_type(index), tekrec::in_frame(index), {}});
    locals.set_local(3, index, c.stored, name);
    ++index;
  }
  b.end();
  EXPECT_BYTES(convert(b), program_main().append(locals).predefined().bytes());
}

// An index of 128 or more is read and ignored; it does not reach entry index & 0x7F.
TEST_F(TypeIdsTest, BaseTypeIndexOutsideTheTable) {
  Builder b = program();
  b.basetype(0, 2, 1, 0).basetype(127, 8, 4, 0);
  b.basetype(128, 0, 4, 0).basetype(255, 9, 4, 0, "a name of some length");
  b.symbol({tekrec::VARIABLE, 0, "a", tekrec::basic_type(0), tekrec::in_frame(0), {}});
  b.symbol({tekrec::VARIABLE, 0, "b", tekrec::basic_type(127), tekrec::in_frame(4), {}});
  b.symbol({tekrec::VARIABLE, 0, "c", tekrec::basic_type(1), tekrec::in_frame(8), {}});
  b.end();
  EXPECT_BYTES(convert(b), program_main()
                               .set_local(3, 0, 258, "a")
                               .set_local(3, 4, 15, "b")
                               .set_local(3, 8, 0, "c")  // never set
                               .predefined()
                               .bytes());
}

// ---------------------------------------------------------------------------------------------
// DBGUNIT

struct DbgUnitCase {
  uint8_t hdr_level;
  uint8_t flags;
  bool far_all;  // option -l
  uint8_t kind;
};

// The unit flags choose the debug format level (whether SYMBOL records carry the extra word,
// which the builder writes accordingly) and the far function flag (FARFUNC or FUNCTION).
TEST_F(TypeIdsTest, DbgUnitFlags) {
  const DbgUnitCase cases[] = {
      {2, 0x10, false, 22}, {2, 0x01, false, 16}, {2, 0x11, false, 16},
      {2, 0x00, false, 22}, {3, 0xF0, false, 22}, {2, 0x0F, false, 16},
      {1, 0x10, false, 22}, {2, 0x01, true, 22},  {0, 0x20, false, 22},
  };
  for (const DbgUnitCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.hdr_level) + " " + std::to_string(c.flags));
    Builder b;
    b.hdr(0, c.hdr_level);
    b.unit("m", "MC68000", 1, 0x04).cl(0x1000, "P");
    b.basetype(1, 3, 4, 0);
    b.dbgunit(c.flags, 0);
    b.symbol({tekrec::FUNCTION,
              0x10,
              "f",
              tekrec::basic_type(1),
              tekrec::in_section(2, 0, 0x20, 0x10),
              {}});
    b.end();
    std::vector<std::string> options;
    if (c.far_all) options.push_back("-l");
    EXPECT_BYTES(convert(b, options), program_main()
                                          .pub(0, 0x1020, 1, 288, 1, "f")
                                          .start_local(0x1020)
                                          .predefined()
                                          .function(c.kind, 288, 262, 0)
                                          .bytes());
  }
}

// DBGUNIT writes a pending symbol before it reads its fields (the symbol keeps the unit it was
// read in), then makes its unit the current one.
TEST_F(TypeIdsTest, DbgUnitFlushesThenSelectsUnit) {
  Builder b;
  b.hdr();
  b.unit("a", "MC68000", 1, 0x04).cl(0x1000, "P");
  b.unit("b", "MC68000", 1, 0x04).cl(0x2000, "Q");
  b.symbol(variable("x", tekrec::basic_type(0), 4));
  b.dbgunit(0x01, 0);
  b.symbol(variable("y", tekrec::basic_type(0), 4));
  b.end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "a")
                               .module(2, "b")
                               .pub(0, 0x2004, 1, 0, 2, "x")
                               .pub(0, 0x1004, 1, 0, 1, "y")
                               .predefined()
                               .bytes());
}

// A debug unit naming a unit that no UNIT record opened: no sections, the MC68000 registers.
TEST_F(TypeIdsTest, DbgUnitNamingAnUnopenedUnit) {
  Builder b;
  b.hdr();
  b.unit("a", "ARM", 1, 0x04).cl(0x1000, "P");
  b.dbgunit(0x01, 3);
  b.symbol({tekrec::VARIABLE, 0, "r", tekrec::basic_type(0), tekrec::in_register("D3"), {}});
  b.aflag(0, 0, 1);
  b.end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Invalid section number (AFLAG)\n") + CREATED);
  std::string ctx = read_file("in.ctx");
  EXPECT_BYTES(Bytes(ctx.begin(), ctx.end()),
               Ctx().header().module(1, "a").set_local(4, 3, 0, "r").predefined().bytes());
}

// The file numbering restarts with each debug unit: its first file takes slot 0 again.
TEST_F(TypeIdsTest, DbgUnitRestartsSourceFileNumbering) {
  Builder b = program();
  b.dbgunit(0x01, 0).srcfiles({{"", "a.c"}, {"", "b.c"}});
  b.dbgunit(0x01, 0).srcfiles({{"", "c.c"}});
  b.curfile(0).lines({}).curfile(1).lines({}).end();
  EXPECT_BYTES(convert(b),
               program_main().file("c.c").end_line().file("b.c").end_line().predefined().bytes());
}

// ---------------------------------------------------------------------------------------------
// Two passes over one input on one converter, as the type index check runs them.

// A record body written as the reader sees it once the address width is 4, while the builder
// still writes 1-byte addresses: BASETYPE index 1, code 3, size 00 00 00 04, flags 0x40.
Fields wide_basetype() {
  return Fields().name("").u8(1).u8(3).u32(4).u8(0x40);
}

Symbol classed(const std::string& name, uint8_t value) {
  return {tekrec::CLASSED, 0, name, {}, tekrec::classed(2, 1, value), {}};
}

TEST_F(TypeIdsTest, SecondPassKeepsAndResetsState) {
  Builder b;
  b.hdr();
  b.record(tekrec::BASETYPE, wide_basetype());
  b.data({0x11, 0x22});  // at the current location
  b.functype();          // before any DBGUNIT
  b.symbol(classed(".x", 0x42)).symbol(classed("P", 0x43)).blkend(0);
  b.unit("m", "RI10", 1, 0x04).cl(0x1000, "P");
  b.symbol({tekrec::VARIABLE, 0, "v", tekrec::basic_type(1), tekrec::in_frame(8), {}});
  b.symbol({tekrec::VARIABLE, 0, "w", tekrec::basic_type(2), tekrec::in_frame(12), {}});
  b.sect(0, 0).data({1, 2, 3});
  b.dbgunit(0x00, 0);  // far functions
  b.basetype(2, 2, 1, 0);
  b.unit("h", "H8/300H", 0, 0x04);
  b.end();
  b.write("in.abs");

  Console console;
  tek::Converter cv;
  cv.out.console = console.file();
  cv.settings.dump_mask = 0xFFFFFFFF;

  // Pass 1: address width 0 until the UNIT (BASETYPE reads a 1-byte size 0 and flags 0), RI
  // mode 0 until the UNIT, the location 0, no far functions, basic index 2 not yet set.
  tek::run_pass(cv, "in.abs");
  EXPECT_EQ(console.take(),
            predefined_dump() + HEADER_LINE +
                "\nObject : 00000000 - 00000001"
                "\nTYPE:      type=0x10:FUNCTION  ,selfix=00000120,retix=00000000 ,argc=0000"
                "\nPUBLIC:    mode=0000,addr=00000042,class=EXT ,typeix=00000100,modix=00000000,"
                "name=[.x]"
                "\nPUBLIC:    mode=0000,addr=00000043,class=EXT ,typeix=00000100,modix=00000000,"
                "name=[P]"
                "\nMODULE:    modix=00000001,name=[m]"
                "\nSETLOCAL:  offset=00000008,class=AUTO,typeix=00000104,name=[v]"
                "\nObject : 00001000 - 00001002"
                "\nSETLOCAL:  offset=0000000c,class=AUTO,typeix=00000000,name=[w]"
                "\nMODULE:    modix=00000002,name=[h]");
  EXPECT_EQ(cv.units.addr_width, 4);
  EXPECT_TRUE(cv.units.h8);
  EXPECT_EQ(cv.units.ri_mode, 1);
  EXPECT_EQ(cv.units.location, 0x1003u);
  EXPECT_TRUE(cv.types.far_functions);

  // Pass 2: the address width (BASETYPE now reads size 4 and flags 0x40), RI mode (".x" is
  // not written), the location, the far function flag and the basic type table carry over.
  // The type ids (FUNCTYPE is 288 again), the current unit (the UNIT is unit 0 again) and the
  // section names ("P" is written again before its CL) start afresh.
  tek::run_pass(cv, "in.abs");
  EXPECT_EQ(console.take(),
            predefined_dump() + HEADER_LINE +
                "\nObject : 00001003 - 00001004"
                "\nTYPE:      type=0x16:FARFUNC   ,selfix=00000120,retix=00000000 ,argc=0000"
                "\nPUBLIC:    mode=0000,addr=00000043,class=EXT ,typeix=00000100,modix=00000000,"
                "name=[P]"
                "\nMODULE:    modix=00000001,name=[m]"
                "\nSETLOCAL:  offset=00000008,class=AUTO,typeix=00000107,name=[v]"
                "\nObject : 00001000 - 00001002"
                "\nSETLOCAL:  offset=0000000c,class=AUTO,typeix=00000102,name=[w]"
                "\nMODULE:    modix=00000002,name=[h]");
  EXPECT_TRUE(cv.units.h8);
  EXPECT_EQ(cv.units.ri_mode, 1);
}

}  // namespace
