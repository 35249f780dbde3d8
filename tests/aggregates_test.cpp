// Aggregates, arrays and pointers: the type graph built from AGGR, ARRTYPE and DPT records.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "driver/converter.hpp"
#include "driver/run.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
namespace R = tekrec;

namespace {

std::string fmt(const char* format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

// Dump lines, formatted with the listing's own format texts.
std::string pub(uint32_t addr, uint32_t typeix, const std::string& name) {
  return fmt("\nPUBLIC:    mode=0000,addr=%08x,class=EXT ,typeix=%08x,modix=00000001,name=[%s]",
             addr, typeix, name.c_str());
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
std::string func(uint32_t selfix, uint32_t retix, uint32_t argc) {
  return fmt("\nTYPE:      type=0x10:FUNCTION  ,selfix=%08x,retix=%08x ,argc=%04x", selfix, retix,
             argc);
}
std::string ptr(uint32_t kind, uint32_t selfix, uint32_t typeix) {
  return fmt("\nTYPE:      type=0x%02x:%-10s,selfix=%08x,typeix=%08x", kind,
             kind == 17 ? "16POINTER" : "32POINTER", selfix, typeix);
}
std::string arr(uint32_t selfix, uint32_t typeix, uint32_t limit) {
  return fmt("\nTYPE:      type=0x13:ARRAY     ,selfix=%08x,typeix=%08x,limit=%08x", selfix, typeix,
             limit);
}
std::string bit(uint32_t selfix, uint32_t sign, uint32_t size, uint32_t offs) {
  return fmt("\nTYPE:      type=0x1b:BIT       ,selfix=%08x,sign=%02x,size=%04x,offs=%04x", selfix,
             sign, size, offs);
}
std::string agg(uint32_t kind, uint32_t selfix, uint32_t size, uint32_t count,
                const std::string& name) {
  const char* kind_name = kind == 13 ? "STRUCT" : kind == 14 ? "UNION" : "CLASS";
  return fmt("\nTYPE:      type=0x%02x:%-10s,selfix=%08x,size=%08x,count=%04x,name=[%s]", kind,
             kind_name, selfix, size, count, name.c_str());
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
const std::string HEAD = predefined_dump() + HEADER_LINE + "\nMODULE:    modix=00000001,name=[m]";
const std::string TYPES_HEAD = predefined_dump() + HEADER_LINE;  // -st

constexpr uint32_t INT = 262, CHAR = 258, USHORT = 261;
constexpr uint32_t FIRST = 288, UNDEFINED = 288 + 0x4000;
constexpr uint8_t STRUCT = 13, UNION = 14, CLASS = 28, P16 = 17, P32 = 18;

// Unit "m" with sections P at 0x1000, D at 0x2000 and B at 0x3000; basic types 1 = int,
// 2 = char, 3 = unsigned short.
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
      .basetype(3, 3, 2, 0x40);
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
R::Symbol structure(uint16_t id, const std::string& name, uint32_t size) {
  return sym(R::STRUCT_TAG, name, {}, R::aggregate_tag(size), id);
}
R::Symbol uni(uint16_t id, const std::string& name, uint32_t size) {
  return sym(R::UNION_TAG, name, {}, R::aggregate_tag(size), id);
}
R::Symbol enumeration(uint16_t id, const std::string& name) {
  return sym(R::ENUM_TAG, name, {}, R::enum_tag(), id);
}
R::Symbol member(const std::string& name, uint8_t basic, uint32_t offset) {
  return sym(R::MEMBER, name, R::basic_type(basic), R::member_at(offset));
}
R::Symbol member_of(const std::string& name, uint16_t type, uint32_t offset) {
  return sym(R::MEMBER, name, R::type_id(type), R::member_at(offset));
}
R::Symbol constant(const std::string& name, std::string_view digits) {
  return sym(R::HEXVALUE, name, {}, R::hex_digits(digits));
}
R::Symbol var(const std::string& name, std::optional<Fields> type, Fields location) {
  return sym(R::VARIABLE, name, std::move(type), std::move(location));
}
R::Symbol global(const std::string& name, uint32_t offset, uint8_t basic = 1) {
  return var(name, R::basic_type(basic), R::in_section(2, 1, offset, 4));
}
R::Symbol fn(uint16_t id, const std::string& name, uint8_t basic, Fields location) {
  return sym(R::FUNCTION, name, R::basic_type(basic), std::move(location), id);
}

class AggregateTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// AGGR.

TEST_F(AggregateTest, EnumerationEmptyStructureAndUnion) {
  Builder b = program();
  b.symbol(enumeration(0x40, "E"))
      .aggr_begin()
      .symbol(constant("A", "1"))
      .symbol(constant("B", "2"))
      .symbol(constant("C", "FF"))
      .aggr_end()
      .symbol(structure(0x30, "S", 0))
      .aggr_begin()
      .aggr_end()
      .symbol(uni(0x31, "U", 8))
      .aggr_begin()
      .symbol(member("m1", 1, 0))
      .symbol(member("m2", 2, 0))
      .aggr_end()
      .symbol(var("e", R::type_id(0x40), R::in_section(2, 1, 0, 4)))
      .symbol(var("u", R::type_id(0x31), R::in_section(2, 1, 4, 4)))
      .end();
  // The enumeration registers its id at AGGR end, the structure and union at their tags.
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "m")
                               .pub(0, 0x2000, 1, FIRST, 1, "e")
                               .pub(0, 0x2004, 1, FIRST + 2, 1, "u")
                               .predefined()
                               .enumeration(FIRST, 3, "E")
                               .constant(1, "A")
                               .constant(2, "B")
                               .constant(0xFF, "C")
                               .aggregate(STRUCT, FIRST + 1, 0, 0, "S")
                               .aggregate(UNION, FIRST + 2, 8, 2, "U")
                               .member(INT, 0, "m1")
                               .member(CHAR, 0, "m2")
                               .bytes());
}

TEST_F(AggregateTest, NestedAggregatesComeFirstAndKeepTheOuterMembers) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 16))
      .aggr_begin()
      .symbol(member("a", 1, 0))
      .symbol(structure(0x31, "T", 4))
      .aggr_begin()
      .symbol(member("x", 1, 0))
      .aggr_end()
      .symbol(member_of("t", 0x31, 4))
      .symbol(uni(0x32, "U", 4))
      .aggr_begin()
      .symbol(member("u1", 1, 0))
      .symbol(member("u2", 2, 0))
      .aggr_end()
      .symbol(member_of("u", 0x32, 8))
      .symbol(member("b", 2, 12))
      .aggr_end()
      .symbol(var("s", R::type_id(0x30), R::in_section(2, 1, 0, 16)))
      .end();
  EXPECT_EQ(dump(b), HEAD + agg(STRUCT, FIRST + 1, 4, 1, "T") + mem(INT, 0, "x") +
                         agg(UNION, FIRST + 2, 4, 2, "U") + mem(INT, 0, "u1") + mem(CHAR, 0, "u2") +
                         agg(STRUCT, FIRST, 16, 4, "S") + mem(INT, 0, "a") +
                         mem(FIRST + 1, 4, "t") + mem(FIRST + 2, 8, "u") + mem(CHAR, 12, "b") +
                         pub(0x2000, FIRST, "s"));
}

TEST_F(AggregateTest, AnyNestingDepth) {
  constexpr int LEVELS = 14;  // more than the 11 levels a fixed stack of 10 would hold
  Builder b = program();
  for (int i = 0; i < LEVELS; ++i) {
    b.symbol(structure(static_cast<uint16_t>(0x100 + i), "S" + std::to_string(i), 12))
        .aggr_begin()
        .symbol(member("a" + std::to_string(i), 1, 0));
  }
  for (int i = LEVELS - 1; i >= 0; --i) {
    if (i < LEVELS - 1)
      b.symbol(member_of("n" + std::to_string(i), static_cast<uint16_t>(0x100 + i + 1), 4));
    b.symbol(member("b" + std::to_string(i), 2, 8)).aggr_end();
  }
  b.symbol(global("after", 0)).end();

  // Innermost first; tag i has selfix 288 + i.
  std::string expected = TYPES_HEAD;
  for (int i = LEVELS - 1; i >= 0; --i) {
    const std::string n = std::to_string(i);
    expected += agg(STRUCT, FIRST + i, 12, i < LEVELS - 1 ? 3 : 2, "S" + n) + mem(INT, 0, "a" + n);
    if (i < LEVELS - 1) expected += mem(FIRST + i + 1, 4, "n" + n);
    expected += mem(CHAR, 8, "b" + n);
  }
  EXPECT_EQ(dump(b, "-st"), expected);
  EXPECT_EQ(dump(b, "-sg"), HEADER_LINE + pub(0x2000, INT, "after"));
}

TEST_F(AggregateTest, TagWithoutAggrBegin) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 8))
      .aggr_begin()
      .symbol(member("a", 1, 0))
      .symbol(structure(0x31, "T", 4))  // opens a level that no AGGR begin follows
      .symbol(global("v", 0))           // flushes T; not collected: no body is open
      .aggr_end()                       // closes T's level, writing nothing; S is back
      .symbol(member("c", 2, 4))        // flushes v
      .aggr_end()
      .end();
  EXPECT_EQ(dump(b), HEAD + "logic error (tag set)\n" + pub(0x2000, INT, "v") +
                         agg(STRUCT, FIRST, 8, 2, "S") + mem(INT, 0, "a") + mem(CHAR, 4, "c"));
}

TEST_F(AggregateTest, TagWithoutAggrBeginAtTopLevel) {
  Builder b = program();
  b.symbol(enumeration(0x40, "E"))
      .symbol(global("v", 0))
      .symbol(global("w", 4))
      .symbol(member("m", 1, 0))
      .end();
  EXPECT_EQ(dump(b), HEAD + "logic error (tag set)\n" + pub(0x2000, INT, "v") +
                         pub(0x2004, INT, "w") + "logic error (member set)\n");
}

// A tag without a location part opens no level: its AGGR begin takes over the open body, and
// its AGGR end returns to the level saved before that body.
TEST_F(AggregateTest, TagWithoutLocationPartInsideANestedBody) {
  Builder b = program();
  b.symbol(structure(0x30, "R", 8))
      .aggr_begin()
      .symbol(member("r1", 1, 0))
      .symbol(structure(0x31, "S", 4))
      .aggr_begin()
      .symbol(sym(R::MEMBER, "a", R::basic_type(1), R::member_at(0, 4)))
      .symbol(sym(R::STRUCT_TAG, "T", {}, {}, 0x32))
      .aggr_begin()  // S's body and members are given up
      .symbol(member("x", 2, 0))
      .aggr_end()  // T keeps the size of the last location part
      .symbol(member("r2", 2, 4))
      .aggr_end()
      .end();
  EXPECT_EQ(dump(b, "-st"), TYPES_HEAD + "undefined id (get_sid)\n" +
                                agg(STRUCT, UNDEFINED, 4, 1, "T") + mem(CHAR, 0, "x") +
                                agg(STRUCT, FIRST, 8, 2, "R") + mem(INT, 0, "r1") +
                                mem(CHAR, 4, "r2"));
}

TEST_F(AggregateTest, TagWithoutLocationPartRegistersNothing) {
  Builder b = program();
  b.symbol(sym(R::STRUCT_TAG, "S", {}, {}, 0x30))
      .aggr_begin()
      .symbol(member("m", 1, 0))
      .aggr_end()
      .symbol(fn(0x21, "f", 1, R::in_section(2, 0, 0, 0x10)))
      .end();
  EXPECT_EQ(dump(b), HEAD + "undefined id (get_sid)\n" + agg(STRUCT, UNDEFINED, 0, 1, "S") +
                         mem(INT, 0, "m") + "\nPUBLIC:    mode=0000,addr=00001000,class=EXT ," +
                         "typeix=00000120,modix=00000001,name=[f]" + func(FIRST, INT, 0) +
                         startl(0x1000));
}

TEST_F(AggregateTest, AggrEndWithNoBodyOpenWritesNothing) {
  Builder b = program();
  b.aggr_end()
      .symbol(structure(0x30, "S", 4))
      .aggr_begin()
      .aggr_end()
      .aggr_end()                      // the body is closed already
      .symbol(enumeration(0x40, "E"))  // no AGGR begin: the enumeration registers nothing
      .aggr_end()
      .symbol(fn(0x21, "f", 1, R::in_section(2, 0, 0, 0x10)))
      .end();
  EXPECT_EQ(dump(b), HEAD + agg(STRUCT, FIRST, 4, 0, "S") + "logic error (tag set)\n" +
                         "\nPUBLIC:    mode=0000,addr=00001000,class=EXT ,typeix=00000121," +
                         "modix=00000001,name=[f]" + func(FIRST + 1, INT, 0) + startl(0x1000));
}

TEST_F(AggregateTest, AggrEndOfANonTagWritesNoRecords) {
  Builder b = program();
  b.symbol(global("v", 0))
      .aggr_begin()  // takes v as its tag: v is never flushed
      .symbol(member("m", 1, 0))
      .aggr_end()
      .symbol(global("w", 4))
      .symbol(member("n", 1, 0))  // no body open any more
      .end();
  EXPECT_EQ(dump(b), HEAD + pub(0x2004, INT, "w") + "logic error (member set)\n");
}

TEST_F(AggregateTest, CompanionClassBclAndMemberRenames) {
  write_file("main.cpd",
             "[HD]\n[DEBUG]\n"
             "1 cl 0 \"Foo\" _Foo\n"
             "2 bcl 0 \"Base\" __b_Base\n"
             "3 x 0 \"shown\" _m\n");
  Builder b;
  b.hdr()
      .unit("m", "H8/300H", 3, 0x04)
      .cl(0x1000, "P")
      .cl(0x2000, "D")
      .cl(0x3000, "B")
      .dbgunit(0x01, 0)
      .srcfiles({{"", "main.c"}})
      .basetype(1, 3, 4, 0)
      .basetype(2, 2, 1, 0);
  b.symbol(structure(0x30, "Foo", 8))
      .aggr_begin()
      .symbol(member("__b_Base", 1, 0))  // "bcl": no name, even though it has a rename
      .symbol(member("_m", 2, 4))
      .symbol(member("plain", 2, 5))
      .aggr_end()
      .symbol(uni(0x31, "Foo", 4))  // unions are never classes
      .aggr_begin()
      .symbol(member("_m", 1, 0))
      .aggr_end()
      .symbol(structure(0x32, "_Foo", 4))  // tag names are not renamed
      .aggr_begin()
      .aggr_end()
      .symbol(enumeration(0x40, "Foo"))
      .aggr_begin()
      .symbol(constant("_m", "3"))  // constants keep their names
      .symbol(constant("__b_Base", "4"))
      .aggr_end()
      .end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "m")
                               .predefined()
                               .aggregate(CLASS, FIRST, 8, 3, "Foo")
                               .member(INT, 0, "")
                               .member(CHAR, 4, "shown")
                               .member(CHAR, 5, "plain")
                               .aggregate(UNION, FIRST + 1, 4, 1, "Foo")
                               .member(INT, 0, "shown")
                               .aggregate(STRUCT, FIRST + 2, 4, 0, "_Foo")
                               .enumeration(FIRST + 3, 2, "Foo")
                               .constant(3, "_m")
                               .constant(4, "__b_Base")
                               .bytes());
}

TEST_F(AggregateTest, BodyHoldsUpTo16384Members) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 4)).aggr_begin();
  for (int i = 0; i < 0x4000; ++i) b.symbol(member("m", 1, 0));
  b.aggr_end().symbol(global("after", 0)).end();
  Ctx types;
  types.aggregate(STRUCT, FIRST, 4, 0x4000, "S");
  for (int i = 0; i < 0x4000; ++i) types.member(INT, 0, "m");
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "m")
                               .pub(0, 0x2000, 1, INT, 1, "after")
                               .predefined()
                               .append(types)
                               .bytes());
}

TEST_F(AggregateTest, MemberBeyond16384EndsThePass) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 4)).aggr_begin();
  for (int i = 0; i < 0x4001; ++i) b.symbol(member("m", 1, 0));
  b.aggr_end().symbol(global("after", 0)).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  // The refused member stays pending and is flushed after the pass: a member outside a body.
  EXPECT_EQ(r.body(),
            "The number of members exceeded 16384\nlogic error (member set)\nCreated in.ctx\n");
  std::string ctx = read_file("in.ctx");
  EXPECT_BYTES(Bytes(ctx.begin(), ctx.end()), Ctx().header().module(1, "m").predefined().bytes());
}

// Levels left open by one pass do not reach the next: the type index check reads the input
// twice with one converter.
TEST_F(AggregateTest, OpenLevelsDoNotOutliveThePass) {
  Builder b = program();
  b.symbol(member("m", 1, 0))  // no body open: flushed as a stray member
      .symbol(global("v", 0))
      .symbol(structure(0x30, "S", 8))
      .aggr_begin()
      .symbol(member("a", 1, 0))
      .symbol(structure(0x31, "T", 4))
      .aggr_begin()
      .symbol(member("x", 1, 0))
      .end();
  b.write("in.abs");
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  {
    auto cv = std::make_unique<tek::Converter>();
    cv->out.console = console;
    cv->settings.dump_mask = 0x04;  // PUBLIC lines only
    tek::run_pass(*cv, "in.abs");
    tek::run_pass(*cv, "in.abs");
  }
  std::fclose(console);
  std::string out(text, size);
  std::free(text);
  const std::string pass = HEADER_LINE + "logic error (member set)\n" + pub(0x2000, INT, "v");
  EXPECT_EQ(out, pass + pass);
}

// ---------------------------------------------------------------------------------------------
// ARRTYPE.

TEST_F(AggregateTest, Arrays) {
  const struct {
    const char* what;
    std::vector<uint32_t> bounds;
    std::string types;  // written by ARRTYPE and the DPT after it
    uint32_t typeix;    // of the variable
  } cases[] = {
      {"one dimension", {9}, arr(FIRST, INT, 10) + ptr(P32, FIRST + 1, FIRST), FIRST + 1},
      {"3 by 4",
       {2, 3},
       arr(FIRST, FIRST + 1, 3) + arr(FIRST + 1, INT, 4) + ptr(P32, FIRST + 2, FIRST),
       FIRST + 2},
      {"2 by 3 by 4",
       {1, 2, 3},
       arr(FIRST, FIRST + 1, 2) + arr(FIRST + 1, FIRST + 2, 3) + arr(FIRST + 2, INT, 4) +
           ptr(P32, FIRST + 3, FIRST),
       FIRST + 3},
      {"no dimension", {}, ptr(P32, FIRST + 1, FIRST), FIRST + 1},
      {"upper bound 0xFFFFFFFF",
       {0xFFFFFFFF},
       arr(FIRST, INT, 0) + ptr(P32, FIRST + 1, FIRST),
       FIRST + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program();
    b.symbol(global("v", 0)).arrtype(c.bounds).dpt(0).end();
    EXPECT_EQ(dump(b), HEAD + c.types + pub(0x2000, c.typeix, "v"));
  }
}

TEST_F(AggregateTest, ArrayBoundsHaveTheAddressWidth) {
  Builder b;
  b.hdr().unit("m", "SH7032", 1, 0x02).cl(0x1000, "P").dbgunit(0x01, 0).basetype(1, 3, 2, 0);
  b.symbol(var("v", R::basic_type(1), R::in_frame(2))).arrtype({0xFFFF, 0x10}).end();
  EXPECT_EQ(dump(b), HEAD + arr(FIRST, FIRST + 1, 0x10000) + arr(FIRST + 1, 260, 0x11) +
                         setl(2, "AUTO", FIRST, "v"));
}

TEST_F(AggregateTest, ArrayMembers) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 64))
      .aggr_begin()
      .symbol(member("m", 1, 0))
      .arrtype({2, 3})  // the member becomes the outer array
      .symbol(member("p", 1, 48))
      .dpt(0)
      .arrtype({4})  // the member's type no longer matches the symbol's: it keeps the pointer
      .symbol(member_of("r", 0x30, 52))
      .arrtype({1})  // both typed by an id (-1): the member becomes the array
      .aggr_end()
      .end();
  EXPECT_EQ(dump(b, "-st"), TYPES_HEAD + arr(FIRST + 1, FIRST + 2, 3) + arr(FIRST + 2, INT, 4) +
                                ptr(P32, FIRST + 3, INT) + arr(FIRST + 4, INT, 5) +
                                arr(FIRST + 5, FIRST, 2) + agg(STRUCT, FIRST, 64, 3, "S") +
                                mem(FIRST + 1, 0, "m") + mem(FIRST + 3, 48, "p") +
                                mem(FIRST + 5, 52, "r"));
}

// ---------------------------------------------------------------------------------------------
// DPT.

TEST_F(AggregateTest, PointerKinds) {
  const struct {
    uint8_t type;
    std::vector<std::string> options;
    uint8_t width;
    uint8_t kind;
  } cases[] = {
      {0, {}, 4, P32},       {0, {"-ps"}, 4, P16}, {2, {}, 4, P16},    {3, {}, 4, P32},
      {4, {}, 4, P32},       {0x12, {}, 4, P16},   {0xF4, {}, 4, P32}, {0xF0, {"-ps"}, 4, P16},
      {15, {}, 2, P16},      {15, {}, 3, P32},     {15, {}, 4, P32},   {0x3F, {}, 2, P16},
      {15, {"-ps"}, 4, P32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.type) << " width " << int(c.width) << testing::PrintToString(c.options));
    Builder b;
    b.hdr().unit("m", "SH7032", 1, c.width).cl(0, "P").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
    b.symbol(var("v", R::basic_type(1), R::in_frame(4))).dpt(c.type).end();
    std::vector<std::string> options = {"-s"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    RunResult r = run_on(b, options);
    EXPECT_EQ(r.body(), HEAD + ptr(c.kind, FIRST, INT) + setl(4, "AUTO", FIRST, "v"));
  }
}

TEST_F(AggregateTest, InvalidPointerTypesAreReportedAndSkipped) {
  for (uint8_t type : {1, 5, 7, 14, 0x17, 0xE1}) {
    SCOPED_TRACE(int(type));
    Builder b = program();
    b.symbol(var("v", R::basic_type(1), R::in_frame(4))).dpt(type).dpt(2).end();
    EXPECT_EQ(dump(b), HEAD + fmt("Found invalid pointer type %02x (DPT)\n", type & 0x0F) +
                           ptr(P16, FIRST, INT) + setl(4, "AUTO", FIRST, "v"));
  }
}

TEST_F(AggregateTest, PointerType15WithoutUsableWidthEndsThePass) {
  for (uint8_t width : {0, 1, 5}) {
    SCOPED_TRACE(int(width));
    Builder b;
    b.hdr().unit("m", "SH7032", 1, width).cl(0, "P").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
    b.symbol(var("v", R::basic_type(1), R::in_frame(4)))
        .dpt(15)
        .dpt(2)
        .symbol(var("w", R::basic_type(1), R::in_frame(8)))
        .end();
    EXPECT_EQ(dump(b), HEAD + "Found invalid pointer type (DPT)\n" + setl(4, "AUTO", INT, "v"));
  }
}

TEST_F(AggregateTest, PointerType15WithoutTargetStillEndsThePass) {
  Builder b;
  b.hdr().unit("m", "SH7032", 1, 0x01).cl(0, "P").dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.dpt(15).symbol(var("v", R::basic_type(1), R::in_frame(4))).end();
  EXPECT_EQ(dump(b), HEAD + "Found invalid pointer type (DPT)\n");
}

TEST_F(AggregateTest, PointerChainsTargetsAndNoTarget) {
  Builder b = program();
  b.dpt(2)  // no target: nothing written, no id used
      .dpt(7)
      .symbol(var("v", R::basic_type(1), R::in_frame(4)))
      .dpt(0)
      .dpt(0)  // pointer to pointer
      .symbol(structure(0x30, "S", 4))
      .aggr_begin()
      .dpt(2)  // a body with no member yet: no target
      .symbol(member("m", 1, 0))
      .dpt(2)  // the last member
      .dpt(3)
      .aggr_end()
      .end();
  EXPECT_EQ(dump(b), HEAD + "Found invalid pointer type 07 (DPT)\n" + ptr(P32, FIRST, INT) +
                         ptr(P32, FIRST + 1, FIRST) + setl(4, "AUTO", FIRST + 1, "v") +
                         ptr(P16, FIRST + 3, INT) + ptr(P32, FIRST + 4, FIRST + 3) +
                         agg(STRUCT, FIRST + 2, 4, 1, "S") + mem(FIRST + 4, 0, "m"));
}

// ---------------------------------------------------------------------------------------------
// A complete small program.

Builder small_program() {
  Builder b;
  b.hdr()
      .unit("prog", "H8/300H", 3, 0x04)
      .cl(0x1000, "P")
      .cl(0x2000, "D")
      .cl(0x3000, "B")
      .dbgunit(0x01, 0)
      .srcfiles({{"", "main.c"}})
      .basetype(1, 3, 4, 0)
      .basetype(2, 2, 1, 0)
      .basetype(3, 3, 2, 0x40);
  b.symbol(enumeration(0x40, "Color"))
      .aggr_begin()
      .symbol(constant("RED", "0"))
      .symbol(constant("GREEN", "1"))
      .symbol(constant("BLUE", "2"))
      .aggr_end();
  b.symbol(structure(0x41, "Point", 8))
      .aggr_begin()
      .symbol(member("x", 1, 0))
      .symbol(member("y", 1, 4))
      .aggr_end();
  b.symbol(structure(0x42, "Node", 24))
      .aggr_begin()
      .symbol(sym(R::MEMBER, "flags", R::basic_type(3), R::bitfield_at(0, 3, 0)))
      .symbol(member_of("kind", 0x40, 2))
      .symbol(member_of("next", 0x42, 4))
      .dpt(0)
      .symbol(member("name", 2, 8))
      .arrtype({7})
      .symbol(structure(0x43, "Pos", 8))
      .aggr_begin()
      .symbol(member_of("p", 0x41, 0))
      .aggr_end()
      .symbol(member_of("pos", 0x43, 12))
      .symbol(uni(0x44, "Val", 4))
      .aggr_begin()
      .symbol(member("i", 1, 0))
      .symbol(member("c", 2, 0))
      .aggr_end()
      .symbol(member_of("v", 0x44, 20))
      .aggr_end();
  b.symbol(structure(0x45, "Obj", 4)).aggr_begin().symbol(member("id", 1, 0)).aggr_end();
  b.symbol(var("head", R::type_id(0x42), R::in_section(2, 1, 0, 4)))
      .dpt(0)
      .symbol(global("table", 4))
      .arrtype({3, 1});
  b.symbol(fn(0x21, "main", 1, R::in_section(2, 0, 0, 0x40)))
      .attr(0, 2)
      .symbol(var("argc", R::basic_type(1), R::in_frame(8)))
      .symbol(var("argv", R::basic_type(2), R::in_frame(12)))
      .dpt(0)
      .dpt(0)
      .symbol(var("p", R::type_id(0x41), R::in_frame(0xFFFFFFF8)))
      .symbol(var("i", R::basic_type(1), R::in_register("ER4")))
      .symbol(var("count", R::basic_type(1), R::in_section(4, 2, 0, 4)))
      .blkend(0x40);
  b.symbol(fn(0x22, "helper", 2, R::in_section(2, 0, 0x40, 0x10))).blkend(0x40);
  b.symbol(var("obj", R::type_id(0x45), R::in_section(2, 1, 0x20, 4))).end();
  return b;
}

// Selfix values of the small program, in registration order.
enum : uint32_t {
  COLOR = FIRST,
  POINT,
  NODE,
  FLAGS_BIT,
  NEXT_PTR,
  NAME_ARR,
  POS,
  VAL,
  OBJ,
  HEAD_PTR,
  TABLE_ARR,
  TABLE_ROW,
  MAIN_FN,
  ARGV_PTR,
  ARGV_PTR2,
  HELPER_FN,
};

const char* const COMPANION = "[HD]\n[DEBUG]\n1 cl 0 \"Obj\" Obj\n";

TEST_F(AggregateTest, SmallProgramConversion) {
  write_file("main.cpd", COMPANION);
  Bytes ctx = convert(small_program());
  EXPECT_BYTES(ctx, Ctx()
                        .header()
                        .module(1, "prog")
                        .pub(0, 0x2000, 1, HEAD_PTR, 1, "head")
                        .pub(0, 0x2004, 1, TABLE_ARR, 1, "table")
                        .pub(0, 0x1000, 1, MAIN_FN, 1, "main")
                        .pub(0, 0x1040, 1, HELPER_FN, 1, "helper")
                        .pub(0, 0x2020, 1, OBJ, 1, "obj")
                        .start_local(0x1000)
                        .set_local(3, 8, INT, "argc")
                        .set_local(3, 12, ARGV_PTR2, "argv")
                        .set_local(3, 0xFFFFFFF8, POINT, "p")
                        .set_local(4, 36, INT, "i")
                        .set_local(2, 0x3000, INT, "count")
                        .end_local(0x103F)
                        .start_local(0x1040)
                        .end_local(0x104F)
                        .predefined()
                        .enumeration(COLOR, 3, "Color")
                        .constant(0, "RED")
                        .constant(1, "GREEN")
                        .constant(2, "BLUE")
                        .aggregate(STRUCT, POINT, 8, 2, "Point")
                        .member(INT, 0, "x")
                        .member(INT, 4, "y")
                        .bit(FLAGS_BIT, 0, 3, 0)
                        .pointer(P32, NEXT_PTR, NODE)
                        .array(NAME_ARR, CHAR, 8)
                        .aggregate(STRUCT, POS, 8, 1, "Pos")
                        .member(POINT, 0, "p")
                        .aggregate(UNION, VAL, 4, 2, "Val")
                        .member(INT, 0, "i")
                        .member(CHAR, 0, "c")
                        .aggregate(STRUCT, NODE, 24, 6, "Node")
                        .member(FLAGS_BIT, 0, "flags")
                        .member(COLOR, 2, "kind")
                        .member(NEXT_PTR, 4, "next")
                        .member(NAME_ARR, 8, "name")
                        .member(POS, 12, "pos")
                        .member(VAL, 20, "v")
                        .aggregate(CLASS, OBJ, 4, 1, "Obj")
                        .member(INT, 0, "id")
                        .pointer(P32, HEAD_PTR, NODE)
                        .array(TABLE_ARR, TABLE_ROW, 4)
                        .array(TABLE_ROW, INT, 2)
                        .function(16, MAIN_FN, INT, 2)
                        .pointer(P32, ARGV_PTR, CHAR)
                        .pointer(P32, ARGV_PTR2, ARGV_PTR)
                        .function(16, HELPER_FN, CHAR, 0)
                        .bytes());
}

TEST_F(AggregateTest, SmallProgramDump) {
  write_file("main.cpd", COMPANION);
  const std::string expected =
      predefined_dump() + HEADER_LINE + "\nMODULE:    modix=00000001,name=[prog]" +
      enm(COLOR, "Color") + cnst(0, "RED") + cnst(1, "GREEN") + cnst(2, "BLUE") +
      agg(STRUCT, POINT, 8, 2, "Point") + mem(INT, 0, "x") + mem(INT, 4, "y") +
      bit(FLAGS_BIT, 0, 3, 0) + ptr(P32, NEXT_PTR, NODE) + arr(NAME_ARR, CHAR, 8) +
      agg(STRUCT, POS, 8, 1, "Pos") + mem(POINT, 0, "p") + agg(UNION, VAL, 4, 2, "Val") +
      mem(INT, 0, "i") + mem(CHAR, 0, "c") + agg(STRUCT, NODE, 24, 6, "Node") +
      mem(FLAGS_BIT, 0, "flags") + mem(COLOR, 2, "kind") + mem(NEXT_PTR, 4, "next") +
      mem(NAME_ARR, 8, "name") + mem(POS, 12, "pos") + mem(VAL, 20, "v") +
      agg(CLASS, OBJ, 4, 1, "Obj") + mem(INT, 0, "id") + ptr(P32, HEAD_PTR, NODE) +
      pub(0x2000, HEAD_PTR, "head") + arr(TABLE_ARR, TABLE_ROW, 4) + arr(TABLE_ROW, INT, 2) +
      pub(0x2004, TABLE_ARR, "table") + pub(0x1000, MAIN_FN, "main") + func(MAIN_FN, INT, 2) +
      startl(0x1000) + setl(8, "AUTO", INT, "argc") + ptr(P32, ARGV_PTR, CHAR) +
      ptr(P32, ARGV_PTR2, ARGV_PTR) + setl(12, "AUTO", ARGV_PTR2, "argv") +
      setl(0xFFFFFFF8, "AUTO", POINT, "p") + setl(36, "REG", INT, "i") +
      setl(0x3000, "STAT", INT, "count") + endl_(0x103F) + pub(0x1040, HELPER_FN, "helper") +
      func(HELPER_FN, CHAR, 0) + startl(0x1040) + endl_(0x104F) + pub(0x2020, OBJ, "obj");
  EXPECT_EQ(dump(small_program()), expected);
}

}  // namespace
