// Type ids and selfix numbering, the basic types (BASETYPE), debug units (DBGUNIT), and the
// state that a second pass over the same input keeps or starts afresh.
#include "core/debuginfo/typeids.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/converter.hpp"
#include "core/run.hpp"
#include "support.hpp"
#include "tools/tekconv/tool.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::Symbol;

namespace {

class TypeIdsTest : public TempDirTest {};

const char* const UNDEFINED = "undefined id (get_sid)\n";
// What a -s dump of program() prints before its symbols.
const std::string HEAD = predefined_dump() + line::header() + line::module(1, "m");

// Console output of a converter, kept in memory.
struct Console {
  char* text = nullptr;
  size_t size = 0;
  size_t taken = 0;
  FILE* file = ::open_memstream(&text, &size);
  ~Console() {
    std::fclose(file);
    std::free(text);
  }
  // Everything written since the last call.
  std::string take() {
    std::fflush(file);
    std::string s(text + taken, size - taken);
    taken = size;
    return s;
  }
};

Symbol section_var(const std::string& name, Fields type, uint32_t offset) {
  return sym(tekrec::VARIABLE, name, type, tekrec::in_section(2, 0, offset, 4));
}

Symbol frame_var(const std::string& name, uint8_t basic, uint32_t offset) {
  return sym(tekrec::VARIABLE, name, tekrec::basic_type(basic), tekrec::in_frame(offset));
}

// ---------------------------------------------------------------------------------------------
// set_sid, get_sid, rebase_type_ids

struct Step {
  char op;  // S: set_sid; F: set_sid of 0x4000 ids from id on; R: rebase;
            // G: get_sid of a registered id; U: get_sid of an undefined id, with its message
  uint16_t id = 0;
  int32_t want = 0;
};

TEST_F(TypeIdsTest, SelfixNumbering) {
  constexpr int32_t U = UNDEFINED_SELFIX;
  const struct {
    const char* what;
    std::vector<Step> steps;
  } scripts[] = {
      // clang-format off
      {"selfix values follow the registrations",
       {{'S', 0x20}, {'S', 0x10}, {'G', 0x20, 288}, {'G', 0x10, 289}, {'U', 0x30, U},
        {'U', 0, U}}},
      {"a second registration uses up a slot; the first is found",
       {{'S', 5}, {'S', 5}, {'S', 6}, {'G', 5, 288}, {'G', 6, 290}}},
      {"a rebase continues the numbering and forgets earlier ids",
       {{'S', 1}, {'S', 2}, {'S', 3}, {'S', 4}, {'S', 5}, {'R'}, {'S', 9}, {'S', 3},
        {'G', 9, 293}, {'G', 3, 294}, {'U', 1, 5 + U}, {'R'}, {'U', 9, 7 + U}, {'S', 9},
        {'G', 9, 7 + 288}}},
      {"a full fill counts further registrations but stores none of them",
       {{'F', 0x100}, {'G', 0x100, 288}, {'G', 0x40FF, 0x3FFF + 288}, {'S', 0x7000},
        {'S', 0x105}, {'U', 0x7000, U}, {'G', 0x105, 5 + 288}, {'R'}, {'S', 0x7000},
        {'G', 0x7000, 0x4002 + 288}}},
      {"0xFFFF takes no slot but is counted, and is never found",
       {{'S', 0xFFFF}, {'S', 3}, {'S', 0xFFFF}, {'S', 4}, {'G', 3, 288}, {'G', 4, 289},
        {'U', 0xFFFF, U}, {'R'}, {'U', 0xFFFF, 4 + U}, {'S', 8}, {'G', 8, 4 + 288}}},
      // clang-format on
  };
  for (const auto& script : scripts) {
    SCOPED_TRACE(script.what);
    Console console;
    tek::TypeIdState types;
    tek::RecordReader rd;
    tek::DiagnosticsState diag;
    const tek::Reporter rep(console.file, diag, rd);
    tek::reset_type_ids(types);
    uint32_t undefined = 0;  // each undefined id is a warning
    for (const Step& s : script.steps) {
      SCOPED_TRACE(testing::Message() << s.op << " " << s.id);
      if (s.op == 'S') tek::set_sid(types, s.id);
      if (s.op == 'F')
        for (uint32_t i = 0; i < 0x4000; ++i) tek::set_sid(types, static_cast<uint16_t>(s.id + i));
      if (s.op == 'R') tek::rebase_type_ids(types);
      if (s.op == 'G' || s.op == 'U') {
        EXPECT_EQ(tek::get_sid(types, rep, s.id), s.want);
        EXPECT_EQ(console.take(), s.op == 'U' ? UNDEFINED : "");
        if (s.op == 'U') ++undefined;
        EXPECT_EQ(diag.warnings, undefined);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The same through records

// FUNCTYPE takes its id from the anonymous id counter, which each DBGUNIT sets back to 0x8000
// and SRCFILES leaves alone. Two debug units without SRCFILES between them share one fill:
// 0x8000 registered again is found at its first slot. SRCFILES starts a new fill, after which
// ids of the earlier fill are undefined. Each FUNCTYPE returns the type that the previous one
// gave the symbol state.
TEST_F(TypeIdsTest, AnonymousIdsAcrossDebugUnitsAndSourceFiles) {
  Builder b = program();
  b.functype();                          // 0x8000: slot 0
  b.dbgunit(0x01, 0);                    //
  b.functype().functype();               // 0x8000 again: slot 1; 0x8001: slot 2
  b.srcfiles({{"", "a.c"}}).functype();  // 0x8002: slot 0 of the new fill, base 3
  b.symbol(section_var("old", tekrec::type_id(0x8000), 4));
  b.symbol(section_var("new", tekrec::type_id(0x8002), 8));
  b.end();
  EXPECT_EQ(dump(b), HEAD + line::func(288, 0, 0) + line::func(288, 288, 0) +
                         line::func(290, 288, 0) + line::func(291, 290, 0) + UNDEFINED +
                         line::pub(0x1004, 3 + UNDEFINED_SELFIX, "old") +
                         line::pub(0x1008, 291, "new"));
}

// ---------------------------------------------------------------------------------------------
// BASETYPE

// Each BASETYPE sets one index; a frame variable of that basic type shows the stored value as
// its type.
TEST_F(TypeIdsTest, BaseTypeMapping) {
  const struct {
    uint8_t code;
    uint32_t size;
    uint8_t flags;
    uint32_t stored;
  } cases[] = {
      // clang-format off
      {0, 0, 0, 257}, {0, 4, 0x4F, 257}, {1, 4, 0, 0}, {2, 1, 0, 258}, {2, 1, 0x40, 259},
      {6, 1, 0x00, 258}, {6, 1, 0xC0, 259}, {6, 1, 0x3F, 258},
      // Code 3: size 4 or not, bit 6; only the low 8 bits of the size count.
      {3, 4, 0, 262}, {3, 4, 0x40, 263}, {3, 2, 0, 260}, {3, 2, 0x40, 261}, {3, 8, 0, 260},
      {3, 0x104, 0, 262}, {3, 0x4, 0xBF, 262},
      {4, 4, 0, 266}, {4, 8, 0x01, 267}, {4, 8, 0x08, 267}, {4, 4, 0xF0, 266}, {5, 1, 0, 27},
      {7, 4, 0, 0}, {8, 2, 0, 15}, {9, 12, 0, 13}, {10, 12, 0x40, 14}, {11, 4, 0, 0},
      {16, 4, 0, 0}, {18, 4, 0, 0}, {255, 4, 0x40, 0},
      // Code 17: pointer kinds for sizes 2 and 4; otherwise code, size and flags together.
      {17, 2, 0, 17}, {17, 2, 0x40, 18}, {17, 4, 0, 18}, {17, 4, 0x40, 19}, {17, 0x202, 0x40, 18},
      {17, 3, 0, 0x000311}, {17, 3, 0x40, 0x400312}, {17, 8, 0xC5, 0xC50812},
      {17, 0, 0x01, 0x010011}, {17, 0x1FF, 0x80, 0x80FF11},
      // clang-format on
  };
  Builder b = program();
  std::string want = HEAD;
  uint8_t index = 0;
  for (const auto& c : cases) {
    const std::string name = "v" + std::to_string(index);
    b.basetype(index, c.code, c.size, c.flags, "type " + name);
    b.symbol(frame_var(name, index, index));
    want += line::setl(index, "AUTO", c.stored, name);
    ++index;
  }
  // An index of 128 or more is read whole and stored nowhere: entry index & 0x7F keeps its
  // value (index 127 was never set).
  b.basetype(128 + 5, 9, 4, 0, "a name of some length").basetype(255, 9, 4, 0);
  b.symbol(frame_var("w", 5, 0x80)).symbol(frame_var("x", 127, 0x84)).end();
  want += line::setl(0x80, "AUTO", 258, "w") + line::setl(0x84, "AUTO", 0, "x");
  EXPECT_EQ(dump(b), want);
}

// ---------------------------------------------------------------------------------------------
// DBGUNIT

// The unit flags choose the debug format level (above 1, SYMBOL records carry an extra word,
// which the builder writes accordingly, so a wrong level misreads the symbol) and whether
// functions are far (low nibble 0).
TEST_F(TypeIdsTest, DbgUnitFlags) {
  const struct {
    uint8_t file_level;
    uint8_t flags;
    bool far;
  } cases[] = {
      {2, 0x10, true},  {2, 0x01, false}, {2, 0x11, false}, {2, 0x00, true}, {3, 0xF0, true},
      {2, 0x08, false}, {2, 0x21, false}, {1, 0x10, true},  {0, 0x20, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.file_level) << " " << int(c.flags));
    Builder b;
    b.hdr(0, c.file_level).unit("m", "MC68000", 1, 0x04).cl(0x1000, "P").dbgunit(c.flags, 0);
    b.symbol(sym(tekrec::FUNCTION, "f", tekrec::basic_type(0), tekrec::in_section(2, 0, 0x20, 0x10),
                 0x10));
    b.end();
    EXPECT_EQ(dump(b), HEAD + line::pub(0x1020, 288, "f") + line::func(288, 0, 0, c.far) +
                           line::startl(0x1020));
  }
}

// ---------------------------------------------------------------------------------------------
// Two passes over one input on one converter, as the type index check runs them.

Symbol classed(const std::string& name, uint8_t value) {
  return sym(tekrec::CLASSED, name, {}, tekrec::classed(2, 1, value));
}

TEST_F(TypeIdsTest, SecondPassKeepsAndResetsState) {
  Builder b;
  b.hdr();
  // A BASETYPE body written as the reader sees it once the address width is 4, while the
  // builder still writes 1-byte addresses: index 1, code 3, size 00 00 00 04, flags 0x40.
  b.record(tekrec::BASETYPE, Fields().name("").u8(1).u8(3).u32(4).u8(0x40));
  b.data({0x11, 0x22});  // at the current location
  b.functype();          // before any DBGUNIT
  b.symbol(classed(".x", 0x42)).symbol(classed("P", 0x43)).blkend(0);
  b.unit("m", "RI10", 1, 0x04).cl(0x1000, "P");
  b.symbol(frame_var("v", 1, 8)).symbol(frame_var("w", 2, 12));
  b.sect(0, 0).data({1, 2, 3});
  b.dbgunit(0x00, 0);  // far functions
  b.basetype(2, 2, 1, 0);
  b.unit("h", "H8/300H", 0, 0x04);
  b.end();
  b.write("in.abs");

  Console console;
  tek::Converter cv;
  cv.out.console = console.file;
  cv.settings.dump_mask = 0xFFFFFFFF;

  // Pass 1: address width 0 until the UNIT (BASETYPE reads a 1-byte size 0 and flags 0), RI
  // mode 0 until the UNIT, the location 0, no far functions, basic index 2 not yet set.
  cv.rd.source = tek::InputSource{"in.abs", false, {}};
  tek::dump_records(cv);
  EXPECT_EQ(console.take(), predefined_dump() + line::header() + line::object(0, 2) +
                                line::func(288, 0, 0) + line::pub(0x42, T_VOID, ".x", "EXT", 0) +
                                line::pub(0x43, T_VOID, "P", "EXT", 0) + line::module(1, "m") +
                                line::setl(8, "AUTO", T_SHORT, "v") + line::object(0x1000, 3) +
                                line::setl(12, "AUTO", 0, "w") + line::module(2, "h"));

  // Pass 2: the address width (BASETYPE now reads size 4 and flags 0x40), RI mode (".x" is
  // not written), the location, the far function flag and the basic type table carry over.
  // The type ids (FUNCTYPE is 288 again), the current unit (the UNIT is unit 0 again) and the
  // section names ("P" is written again before its CL) start afresh.
  cv.rd.source = tek::InputSource{"in.abs", false, {}};
  tek::dump_records(cv);
  EXPECT_EQ(console.take(), predefined_dump() + line::header() + line::object(0x1003, 2) +
                                line::func(288, 0, 0, true) +
                                line::pub(0x43, T_VOID, "P", "EXT", 0) + line::module(1, "m") +
                                line::setl(8, "AUTO", T_UINT, "v") + line::object(0x1000, 3) +
                                line::setl(12, "AUTO", T_CHAR, "w") + line::module(2, "h"));
}

}  // namespace
