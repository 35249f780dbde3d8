// The symbol dump: kind and class names, the categories each dump option lists, and whole dumps
// of a small program, with its context file. The line of every record, and the records each mask
// bit lists, are checked in emit_test.cpp.
#include "context/dump.hpp"

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

class DumpTest : public TempDirTest {};

TEST_F(DumpTest, KindAndClassNames) {
  const char* kinds[] = {
      "VOID",     "8SIGNED",    "8UNSIGNED", "16SIGNED",  "16UNSIGNED", "32SIGNED", "32UNSIGNED",
      "64SIGNED", "64UNSIGNED", "32FLOAT",   "64FLOAT",   "EXTFLOAT",   "STRUCT",   "UNION",
      "ENUM",     "FUNCTION",   "16POINTER", "32POINTER", "ARRAY",      "BITFIELD", "TYPEDEF",
      "FARFUNC",  "ESPOINTER",  "SSPOINTER", "CSPOINTER", "HUGEPNT",    "BIT",      "CLASS"};
  for (int k = 1; k <= 28; ++k) EXPECT_STREQ(tek::kind_name(static_cast<uint8_t>(k)), kinds[k - 1]);
  const std::pair<uint8_t, const char*> classes[] = {{0, "CONST"}, {1, "EXT"}, {2, "STAT"},
                                                     {3, "AUTO"},  {4, "REG"}, {6, "MOD"},
                                                     {7, "NONE"},  {8, "REF"}};
  for (const auto& [code, name] : classes) EXPECT_STREQ(tek::class_name(code), name);
}

// An ARM unit with two sections, three image bytes, an address flag, a function f of 4 bytes
// with a local variable i, and two source lines.
Builder small_program() {
  Builder b;
  b.hdr().unit("m", "ARM", 2, 0x04).cl(0x1000, "P").cl(0x8000, "Q").sect(0, 0).data({1, 2, 3});
  b.aflag(1, 0x10, 2).dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(sym(tekrec::FUNCTION, "f", tekrec::basic_type(1), tekrec::in_section(2, 0, 0, 4), 0x21))
      .symbol(sym(tekrec::VARIABLE, "i", tekrec::basic_type(1), tekrec::in_frame(8)))
      .blkend(0x40);
  b.srcfiles({{"src/", "a.c"}}).curfile(0).locate(0).lines({{5, 0}, {6, 2}}).end();
  return b;
}

// The same records as the dump below lists, in the context file's order: the main stream, then
// the local stream, then the type stream.
TEST_F(DumpTest, ConversionOfTheSmallProgram) {
  Ctx main, local, types;
  main.header().module(1, "m").object(0x1000, {1, 2, 3}).addr_flag(0x8010, 0);
  main.pub(0, 0x1000, 1, FIRST_SELFIX, 1, "f").file("a.c").line(5, 0x1000).line(6, 0x1002);
  main.end_line();
  local.start_local(0x1000).set_local(3, 8, T_INT, "i").end_local(0x1003);
  types.predefined().function(16, FIRST_SELFIX, T_INT, 0);
  EXPECT_BYTES(convert(small_program()), main.append(local).append(types).bytes());
}

TEST_F(DumpTest, WholeDumpsOfASmallProgram) {
  small_program().write("in.abs");
  const std::string head = line::header() + line::addr_flag(0x8010, 0);
  const std::string types = line::func(FIRST_SELFIX, T_INT, 0);
  const std::string publics = line::pub(0x1000, FIRST_SELFIX, "f");
  const std::string setlocals = line::setl(8, "AUTO", T_INT, "i");
  const std::string lines = line::line(5, 0x1000) + line::line(6, 0x1002) + line::endline();
  const std::string files = line::file("a.c") + lines;
  const struct {
    std::vector<std::string> options;
    std::string out;
  } cases[] = {
      {{"-s"},
       predefined_dump() + line::header() + line::module(1, "m") + line::object(0x1000, 3) +
           line::addr_flag(0x8010, 0) + publics + types + line::startl(0x1000) + setlocals +
           line::endl(0x1003) + files},
      {{"-sf"}, head + files},
      {{"-st"}, predefined_dump() + head + types},
      {{"-sg"}, head + publics},
      {{"-ss"}, head + line::startl(0x1000) + line::endl(0x1003)},
      {{"-sl"}, head + setlocals},
      {{"-s", "-sf"}, head + files},
      {{"-sf", "-st"}, predefined_dump() + head + types},
      {{"-sf", "-fullpath"}, head + line::file("src/a.c") + lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::vector<std::string> args = c.options;
    args.push_back("in.abs");
    RunResult r = run_tekconv(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
  }
}

TEST_F(DumpTest, MessagesAppearAmongTheLines) {
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).raw({0x02, 0x00, 0x00});
  EXPECT_EQ(dump(b, "-s"),
            predefined_dump() + line::header() + line::module(1, "m") + "Invalid record\n");
}

}  // namespace
