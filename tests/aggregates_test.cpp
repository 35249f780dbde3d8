// Aggregates, arrays and pointers: the type graph built from AGGR, ARRTYPE and DPT records.
#include "support.hpp"

using namespace tektest;
using namespace tektest::line;
using tekrec::Builder;
namespace R = tekrec;

namespace {

const std::string HEAD = predefined_dump() + header() + module(1, "m");
const std::string TYPES_HEAD = predefined_dump() + header();  // -st
constexpr uint32_t FIRST = FIRST_SELFIX;
constexpr uint8_t STRUCT = 13, UNION = 14, CLASS = 28, P16 = 17, P32 = 18;

// A variable in section D.
R::Symbol global(const std::string& name, uint32_t offset, std::optional<tekrec::Fields> type) {
  return sym(R::VARIABLE, name, std::move(type), R::in_section(2, 1, offset, 4));
}
// An int variable in the frame.
R::Symbol local(const std::string& name, uint32_t offset) {
  return sym(R::VARIABLE, name, R::basic_type(1), R::in_frame(offset));
}

class AggregateTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// AGGR.

// The records on their streams, byte for byte. Enumeration constants carry their category-5
// values, read as hexadecimal digits in 32 bits.
TEST_F(AggregateTest, EnumerationEmptyStructureAndUnion) {
  // Of more than 8 digits the last 8 remain; for a character below '0', c - 0x37 is negative and
  // sets the high bits.
  const std::pair<const char*, uint32_t> constants[] = {
      {"1F", 0x1F},
      {"", 0},
      {"DEADBEEF", 0xDEADBEEF},
      {"123456789", 0x23456789},
      {"!", 0xFFFFFFEA},
      {"1!", 0xFFFFFFFA},
      {"a", 0x2A},
      {"ff", 0x2FF},
      {"G", 0x10},
  };
  Builder b = program();
  b.symbol(enum_tag(0x40, "E")).aggr_begin();
  Ctx types;
  types.predefined().enumeration(FIRST, std::size(constants), "E");
  for (const auto& [digits, value] : constants) {
    const std::string name = std::string("k_") + digits;
    b.symbol(constant(name, digits));
    types.constant(value, name);
  }
  b.aggr_end();
  b.symbol(structure(0x30, "S", 0)).aggr_begin().aggr_end();
  b.symbol(union_tag(0x31, "U", 8)).aggr_begin();
  b.symbol(member("m1", 1, 0)).symbol(member("m2", 2, 0)).aggr_end();
  b.symbol(global("e", 0, R::type_id(0x40))).end();
  // The enumeration registers its id at AGGR end, the structure and union at their tags.
  types.aggregate(STRUCT, FIRST + 1, 0, 0, "S")
      .aggregate(UNION, FIRST + 2, 8, 2, "U")
      .member(T_INT, 0, "m1")
      .member(T_CHAR, 0, "m2");
  EXPECT_BYTES(
      convert(b),
      Ctx().header().module(1, "m").pub(0, 0x2000, 1, FIRST, 1, "e").append(types).bytes());
}

// Each level saves the enclosing body, whose members before and after the nested aggregate are
// all written, after the nested one.
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
  b.symbol(global("after", 0, R::basic_type(1))).end();

  // Innermost first; tag i has selfix 288 + i.
  std::string expected = HEAD;
  for (int i = LEVELS - 1; i >= 0; --i) {
    const std::string n = std::to_string(i);
    expected +=
        agg(STRUCT, FIRST + i, 12, i < LEVELS - 1 ? 3 : 2, "S" + n) + mem(T_INT, 0, "a" + n);
    if (i < LEVELS - 1) expected += mem(FIRST + i + 1, 4, "n" + n);
    expected += mem(T_CHAR, 8, "b" + n);
  }
  EXPECT_EQ(dump(b), expected + pub(0x2000, T_INT, "after"));
}

TEST_F(AggregateTest, TagWithoutAggrBegin) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 8)).aggr_begin().symbol(member("a", 1, 0));
  b.symbol(structure(0x31, "T", 4));             // opens a level that no AGGR begin follows
  b.symbol(global("v", 0, R::basic_type(1)));    // flushes T; not collected: no body is open
  b.aggr_end();                                  // closes T's level, writing nothing; S is back
  b.symbol(member("c", 2, 4)).aggr_end().end();  // c flushes v
  EXPECT_EQ(dump(b), HEAD + "logic error (tag set)\n" + pub(0x2000, T_INT, "v") +
                         agg(STRUCT, FIRST, 8, 2, "S") + mem(T_INT, 0, "a") + mem(T_CHAR, 4, "c"));
}

// A tag without a location part opens no level and registers no id: its AGGR begin takes over
// the open body, and its AGGR end returns to the level saved before that body.
TEST_F(AggregateTest, TagWithoutLocationPartInsideANestedBody) {
  Builder b = program();
  b.symbol(structure(0x30, "R", 8)).aggr_begin().symbol(member("r1", 1, 0));
  b.symbol(structure(0x31, "S", 4)).aggr_begin();
  b.symbol(sym(R::MEMBER, "a", R::basic_type(1), R::member_at(0, 4)));
  b.symbol(sym(R::STRUCT_TAG, "T", {}, {}, 0x32)).aggr_begin();  // S's members are given up
  b.symbol(member("x", 2, 0)).aggr_end();  // T keeps the size of the last location part
  b.symbol(member("r2", 2, 4)).aggr_end().end();
  EXPECT_EQ(dump(b, "-st"), TYPES_HEAD + "undefined id (get_sid)\n" +
                                agg(STRUCT, UNDEFINED_SELFIX, 4, 1, "T") + mem(T_CHAR, 0, "x") +
                                agg(STRUCT, FIRST, 8, 2, "R") + mem(T_INT, 0, "r1") +
                                mem(T_CHAR, 4, "r2"));
}

// AGGR end with no body open writes nothing; one whose tag state holds no tag writes no records
// for the body it closes.
TEST_F(AggregateTest, AggrEndWithoutABodyOrATag) {
  Builder b = program();
  b.aggr_end();
  b.symbol(structure(0x30, "S", 4)).aggr_begin().aggr_end();
  b.aggr_end();                              // the body is closed already
  b.symbol(enum_tag(0x40, "E")).aggr_end();  // the enumeration registers nothing
  b.symbol(sym(R::FUNCTION, "f", R::basic_type(1), R::in_section(2, 0, 0, 0x10), 0x21));
  // AGGR begin takes v as its tag: v is never flushed.
  b.symbol(global("v", 0, R::basic_type(1))).aggr_begin().symbol(member("m", 1, 0)).aggr_end();
  b.symbol(global("w", 4, R::basic_type(1)));
  b.symbol(member("n", 1, 0)).end();  // no body open any more
  EXPECT_EQ(dump(b), HEAD + agg(STRUCT, FIRST, 4, 0, "S") + "logic error (tag set)\n" +
                         pub(0x1000, FIRST + 1, "f") + func(FIRST + 1, T_INT, 0) + startl(0x1000) +
                         pub(0x2004, T_INT, "w") + "logic error (member set)\n");
}

// "cl" makes a structure a class but not a union; "bcl" empties a member name before any rename;
// tag names and enumeration constants are not renamed.
TEST_F(AggregateTest, CompanionClassBclAndMemberRenames) {
  write_file("main.cpd",
             "[HD]\n[DEBUG]\n1 cl 0 \"Foo\" _Foo\n2 bcl 0 \"Base\" __b_Base\n3 x 0 shown _m\n");
  Builder b = program("H8/300H");
  b.srcfiles({{"", "main.c"}});
  b.symbol(structure(0x30, "Foo", 8)).aggr_begin();
  b.symbol(member("__b_Base", 1, 0)).symbol(member("_m", 2, 4)).aggr_end();
  b.symbol(union_tag(0x31, "Foo", 4)).aggr_begin().symbol(member("_m", 1, 0)).aggr_end();
  b.symbol(structure(0x32, "_Foo", 4)).aggr_begin().aggr_end();
  b.symbol(enum_tag(0x40, "Foo")).aggr_begin();
  b.symbol(constant("_m", "3")).symbol(constant("__b_Base", "4")).aggr_end().end();
  EXPECT_EQ(dump(b, "-st"), TYPES_HEAD + agg(CLASS, FIRST, 8, 2, "Foo") + mem(T_INT, 0, "") +
                                mem(T_CHAR, 4, "shown") + agg(UNION, FIRST + 1, 4, 1, "Foo") +
                                mem(T_INT, 0, "shown") + agg(STRUCT, FIRST + 2, 4, 0, "_Foo") +
                                enm(FIRST + 3, "Foo") + cnst(3, "_m") + cnst(4, "__b_Base"));
}

// A body holds 0x4000 members; the next one ends the pass and, still pending, is flushed after
// it as a member outside a body.
TEST_F(AggregateTest, MemberTableLimit) {
  for (int count : {0x4000, 0x4001}) {
    SCOPED_TRACE(count);
    Builder b = program();
    b.symbol(structure(0x30, "S", 4)).aggr_begin();
    for (int i = 0; i < count; ++i) b.symbol(member("m", 1, 0));
    b.aggr_end().symbol(global("after", 0, R::basic_type(1))).end();
    const std::string exceeded = "The number of members exceeded 16384\nlogic error (member set)\n";
    std::string all = agg(STRUCT, FIRST, 4, 0x4000, "S");
    for (int i = 0; i < 0x4000; ++i) all += mem(T_INT, 0, "m");
    EXPECT_EQ(dump(b), HEAD + (count == 0x4000 ? all + pub(0x2000, T_INT, "after") : exceeded));
  }
}

// Levels left open by one pass do not reach the next: the type index check reads the input
// twice with one converter, and the stray member is reported by both passes.
TEST_F(AggregateTest, OpenLevelsDoNotOutliveThePass) {
  Builder b = program();
  b.symbol(member("m", 1, 0));  // no body open: flushed as a stray member
  b.symbol(global("v", 0, R::basic_type(1)));
  b.symbol(structure(0x30, "S", 8)).aggr_begin().symbol(member("a", 1, 0));
  b.symbol(structure(0x31, "T", 4)).aggr_begin().symbol(member("x", 1, 0)).end();
  std::string unreferenced;  // the predefined types but int, which v refers to
  for (uint32_t t = T_VOID; t < T_VOID + 16; ++t)
    if (t != T_INT) unreferenced += fmt("No reference self index %08x\n", t);
  const std::string pass = "logic error (member set)\n";
  EXPECT_EQ(run_on(b, {"-k"}).body(), pass + pass + unreferenced + "Type index is good\n");
}

// ---------------------------------------------------------------------------------------------
// ARRTYPE.

// The symbol's type becomes the outermost array; a DPT after it shows the next free id. The
// bounds have the address width.
TEST_F(AggregateTest, Arrays) {
  const struct {
    const char* what;
    uint8_t unit_flags;  // the low nibble is the address width
    std::vector<uint32_t> bounds;
    uint32_t next;  // selfix of the pointer
    std::string arrays;
  } cases[] = {
      {"one dimension", 0x04, {9}, FIRST + 1, arr(FIRST, T_INT, 10)},
      {"3 by 4", 0x04, {2, 3}, FIRST + 2, arr(FIRST, FIRST + 1, 3) + arr(FIRST + 1, T_INT, 4)},
      {"no dimension", 0x04, {}, FIRST + 1, ""},
      {"upper bound 0xFFFFFFFF", 0x04, {0xFFFFFFFF}, FIRST + 1, arr(FIRST, T_INT, 0)},
      // clang-format off
      {"2-byte bounds", 0x02, {0xFFFF, 0x10}, FIRST + 2,
       arr(FIRST, FIRST + 1, 0x10000) + arr(FIRST + 1, T_INT, 0x11)},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = program("SH7032", c.unit_flags);
    b.symbol(global("v", 0, R::basic_type(1))).arrtype(c.bounds).dpt(0).end();
    EXPECT_EQ(dump(b), HEAD + c.arrays + ptr(P32, c.next, FIRST) + pub(0x2000, c.next, "v"));
  }
}

TEST_F(AggregateTest, ArrayMembers) {
  Builder b = program();
  b.symbol(structure(0x30, "S", 64)).aggr_begin();
  b.symbol(member("m", 1, 0)).arrtype({2, 3});  // the member becomes the outer array
  // The member's type no longer matches the symbol's: it keeps the pointer.
  b.symbol(member("p", 1, 48)).dpt(0).arrtype({4});
  b.symbol(member_of("r", 0x30, 52)).arrtype({1});  // both typed by an id (-1): an array
  b.aggr_end().end();
  EXPECT_EQ(dump(b, "-st"), TYPES_HEAD + arr(FIRST + 1, FIRST + 2, 3) + arr(FIRST + 2, T_INT, 4) +
                                ptr(P32, FIRST + 3, T_INT) + arr(FIRST + 4, T_INT, 5) +
                                arr(FIRST + 5, FIRST, 2) + agg(STRUCT, FIRST, 64, 3, "S") +
                                mem(FIRST + 1, 0, "m") + mem(FIRST + 3, 48, "p") +
                                mem(FIRST + 5, 52, "r"));
}

// ---------------------------------------------------------------------------------------------
// DPT.

// The kind by pointer type, -ps and address width; the other pointer types are reported and
// skipped; type 15 with an address width other than 2, 3 or 4 ends the pass.
TEST_F(AggregateTest, PointerTypes) {
  constexpr uint8_t SKIPPED = 0, ENDED = 1;  // instead of a kind
  const struct {
    uint8_t type;  // the high nibble is not interpreted
    std::vector<std::string> options;
    uint8_t width;
    uint8_t kind;
  } cases[] = {
      {0, {}, 4, P32},     {0, {"-ps"}, 4, P16}, {2, {}, 4, P16},         {3, {}, 4, P32},
      {4, {}, 4, P32},     {0xF4, {}, 4, P32},   {0xF0, {"-ps"}, 4, P16}, {15, {}, 2, P16},
      {15, {}, 3, P32},    {15, {}, 4, P32},     {15, {"-ps"}, 4, P32},   {1, {}, 4, SKIPPED},
      {5, {}, 4, SKIPPED}, {7, {}, 4, SKIPPED},  {14, {}, 4, SKIPPED},    {0xE1, {}, 4, SKIPPED},
      {15, {}, 0, ENDED},  {15, {}, 1, ENDED},   {15, {}, 5, ENDED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.type) << " width " << int(c.width) << testing::PrintToString(c.options));
    Builder b = program("SH7032", c.width);
    b.symbol(local("v", 4)).dpt(c.type).symbol(local("w", 8)).end();
    const std::string v = setl(4, "AUTO", T_INT, "v"), w = setl(8, "AUTO", T_INT, "w");
    std::string expected = HEAD + ptr(c.kind, FIRST, T_INT) + setl(4, "AUTO", FIRST, "v") + w;
    if (c.kind == SKIPPED)
      expected = HEAD + fmt("Found invalid pointer type %02x (DPT)\n", c.type & 0x0F) + v + w;
    if (c.kind == ENDED) expected = HEAD + "Found invalid pointer type (DPT)\n" + v;
    EXPECT_EQ(dump(b, "-s", c.options), expected);
  }
}

TEST_F(AggregateTest, PointerChainsTargetsAndNoTarget) {
  Builder b = program();
  b.dpt(2).dpt(7);                        // no target: nothing written, no id used
  b.symbol(local("v", 4)).dpt(0).dpt(0);  // pointer to pointer
  b.symbol(structure(0x30, "S", 4)).aggr_begin();
  b.dpt(2);                                   // a body with no member yet: no target
  b.symbol(member("m", 1, 0)).dpt(2).dpt(3);  // the last member
  b.aggr_end().symbol(global("q", 0, R::type_id(0x8003))).end();  // the fourth pointer id
  EXPECT_EQ(dump(b), HEAD + "Found invalid pointer type 07 (DPT)\n" + ptr(P32, FIRST, T_INT) +
                         ptr(P32, FIRST + 1, FIRST) + setl(4, "AUTO", FIRST + 1, "v") +
                         ptr(P16, FIRST + 3, T_INT) + ptr(P32, FIRST + 4, FIRST + 3) +
                         agg(STRUCT, FIRST + 2, 4, 1, "S") + mem(FIRST + 4, 0, "m") +
                         pub(0x2000, FIRST + 4, "q"));
}

}  // namespace
