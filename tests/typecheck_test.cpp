// Type index check (-k): whole reports on small programs, the fields that are checked, the
// command-line forms, the scratch file's life, and the state that the second pass inherits.
#include "driver/typecheck.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "context/emit.hpp"
#include "driver/converter.hpp"
#include "driver/fatal.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::Symbol;

namespace {

const char* const SCRATCH = "selfix.$$$";
const std::string GOOD = "Type index is good\n";

std::string unsolved(uint32_t ix) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Unsolved typeix %08x\n", ix);
  return buf;
}

std::string unreferenced(uint32_t ix) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "No reference self index %08x\n", ix);
  return buf;
}

// The report lines of the predefined types (selfix 256 to 271) that nothing referred to.
std::string predefined_unreferenced(const std::set<uint32_t>& referenced = {}) {
  std::string s;
  for (uint32_t ix = 256; ix < 272; ++ix)
    if (!referenced.count(ix)) s += unreferenced(ix);
  return s;
}

// Symbols, one helper per kind of SYMBOL record the tests use.
Symbol variable(const std::string& name, const Fields& type) {
  Symbol s;
  s.category = tekrec::VARIABLE;
  s.name = name;
  s.type = type;
  return s;
}

Symbol frame_variable(const std::string& name, const Fields& type, uint32_t offset) {
  Symbol s = variable(name, type);
  s.location = tekrec::in_frame(offset);
  return s;
}

Symbol function(const std::string& name, uint16_t own_id, const Fields& return_type) {
  Symbol s;
  s.category = tekrec::FUNCTION;
  s.own_id = own_id;
  s.name = name;
  s.type = return_type;
  return s;
}

Symbol untyped(const std::string& name, uint16_t section, uint32_t offset) {
  Symbol s;
  s.category = tekrec::UNTYPED;
  s.name = name;
  s.location = tekrec::at_section(section, offset);
  return s;
}

Symbol tag(uint8_t category, const std::string& name, uint16_t own_id, uint32_t size) {
  Symbol s;
  s.category = category;
  s.own_id = own_id;
  s.name = name;
  s.location = category == tekrec::ENUM_TAG ? tekrec::enum_tag() : tekrec::aggregate_tag(size);
  return s;
}

Symbol member(const std::string& name, const Fields& type, uint32_t offset) {
  Symbol s;
  s.category = tekrec::MEMBER;
  s.name = name;
  s.type = type;
  s.location = tekrec::member_at(offset);
  return s;
}

Symbol bitfield(const std::string& name, const Fields& type, uint32_t width, int8_t bit_offset) {
  Symbol s = member(name, type, 0);
  s.location = tekrec::bitfield_at(0, width, bit_offset);
  return s;
}

Fields basic(uint8_t index) {
  return tekrec::basic_type(index);
}
Fields id(uint16_t type_id) {
  return tekrec::type_id(type_id);
}

RunResult check(const Builder& b, const std::vector<std::string>& more = {}) {
  std::vector<std::string> options = {"-k"};
  options.insert(options.end(), more.begin(), more.end());
  return run_on(b, options);
}

std::vector<std::string> files(std::initializer_list<const char*> names) {
  std::vector<std::string> v(names.begin(), names.end());
  std::sort(v.begin(), v.end());
  return v;
}

off_t file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Runs the binary with a limit on the size of the files it writes; SIGXFSZ is ignored, so a
// write past the limit fails with EFBIG instead of killing the process.
RunResult run_binary_with_file_limit(const std::vector<std::string>& args, rlim_t limit) {
  RunResult r;
  int pipefd[2];
  if (::pipe(pipefd) != 0) {
    ADD_FAILURE() << "pipe";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 1);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TEKCONV_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TEKCONV_BINARY, argv.data());
    _exit(127);
  }
  ::close(pipefd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
  ::close(pipefd[0]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

class TypeCheckTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// Whole reports

TEST_F(TypeCheckTest, EveryReferenceSolved) {
  Builder b;
  b.hdr()
      .unit("main", "MC68000", 1, 0x04)
      .cl(0x1000, "P")
      .basetype(1, 0, 4, 0)                              // 257 VOID
      .basetype(2, 2, 1, 0)                              // 258 8SIGNED
      .basetype(3, 2, 1, 0x40)                           // 259 8UNSIGNED
      .basetype(4, 3, 2, 0)                              // 260 16SIGNED
      .basetype(5, 3, 2, 0x40)                           // 261 16UNSIGNED
      .basetype(6, 3, 4, 0)                              // 262 32SIGNED
      .basetype(7, 3, 4, 0x40)                           // 263 32UNSIGNED
      .basetype(8, 4, 4, 0)                              // 266 32FLOAT
      .basetype(9, 4, 8, 0x01)                           // 267 64FLOAT
      .symbol(tag(tekrec::STRUCT_TAG, "pair", 0x10, 8))  // selfix 288
      .aggr_begin()
      .symbol(member("lo", basic(6), 0))
      .symbol(member("hi", basic(7), 4))
      .aggr_end()
      .symbol(variable("v1", basic(1)))
      .symbol(variable("v2", basic(2)))
      .symbol(variable("v3", basic(3)))
      .symbol(variable("v4", basic(4)))
      .symbol(variable("v8", basic(8)))
      .symbol(variable("v9", basic(9)))
      .symbol(variable("whole", id(0x10)))
      .symbol(variable("ptr", id(0x10)))
      .dpt(4)  // 289 -> 288
      .symbol(variable("arr", basic(6)))
      .arrtype({9})                           // 290 -> 262
      .symbol(function("f", 0x20, basic(4)))  // 291, returns 260
      .symbol(frame_variable("n", basic(5), 0xFFFFFFFC))
      .symbol(untyped("start", 0, 0x10))  // 256
      .blkend(0x40)
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  // Selfix 264, 265 and 268 to 271 cannot be named by any basic type, so they are always left.
  EXPECT_EQ(r.body(),
            "No reference self index 00000108\n"
            "No reference self index 00000109\n"
            "No reference self index 0000010c\n"
            "No reference self index 0000010d\n"
            "No reference self index 0000010e\n"
            "No reference self index 0000010f\n"
            "Type index is good\n");
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

TEST_F(TypeCheckTest, DefinedButUnreferencedInAscendingOrder) {
  Builder b;
  b.hdr()
      .basetype(1, 3, 4, 0)                           // 262
      .symbol(tag(tekrec::STRUCT_TAG, "s", 0x10, 4))  // 288
      .aggr_begin()
      .symbol(member("a", basic(1), 0))
      .aggr_end()
      .symbol(tag(tekrec::ENUM_TAG, "e", 0x11, 0))  // 289, registered at its end
      .aggr_begin()
      .symbol(member("RED", basic(9), 0))
      .aggr_end()
      .symbol(variable("x", basic(1)))
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(),
            predefined_unreferenced({262}) + unreferenced(288) + unreferenced(289) + GOOD);
}

TEST_F(TypeCheckTest, UnsolvedReferencesInInputOrder) {
  Builder b;
  b.hdr()
      .basetype(1, 9, 0, 0)             // the bare kind code 13
      .basetype(3, 3, 4, 0)             // 262
      .symbol(variable("a", basic(1)))  // 13: below 256
      .symbol(variable("z", basic(2)))  // index never set: 0
      .symbol(variable("gap", basic(3)))
      .arrtype({})  // 288 registered, no TYPE record for it
      .symbol(variable("q", basic(3)))
      .dpt(4)                             // 289 -> 262, defined after the gap
      .symbol(variable("far", id(0x55)))  // never registered: 0x4000 + 288
      .symbol(variable("a2", basic(1)))   // 13 again
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  const std::string definition_pass = "undefined id (get_sid)\n";
  const std::string reference_pass = unsolved(13) + unsolved(0) + unsolved(288) +
                                     "undefined id (get_sid)\n" + unsolved(0x4120) + unsolved(13);
  // No "Type index is good" after an unsolved reference.
  EXPECT_EQ(r.body(), definition_pass + reference_pass + predefined_unreferenced({262}));
}

TEST_F(TypeCheckTest, ForwardReferencesAreSolved) {
  Builder b;
  b.hdr()
      .basetype(1, 3, 4, 0)                              // 262
      .symbol(tag(tekrec::STRUCT_TAG, "node", 0x10, 8))  // 288, written at its end
      .aggr_begin()
      .symbol(member("next", id(0x10), 0))
      .dpt(4)  // 289 -> 288, before the STRUCT record
      .symbol(member("val", basic(1), 4))
      .aggr_end()
      .symbol(variable("head", id(0x10)))
      .dpt(4)                                    // 290 -> 288
      .symbol(function("main", 0x20, basic(1)))  // PUBLIC 291 comes before TYPE 291
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({262}) + GOOD);
}

TEST_F(TypeCheckTest, HandlerMessagesOncePerPassAndEarlyEnd) {
  Builder b;
  b.hdr()
      .basetype(1, 9, 0, 0)  // 13
      .symbol(variable("a", basic(1)))
      .dpt(7);  // warns and goes on; the file then ends without END
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  const std::string pass_messages = "Found invalid pointer type 07 (DPT)\nInvalid record\n";
  // The symbol is flushed after the pass ended, and still checked.
  EXPECT_EQ(r.body(), pass_messages + pass_messages + unsolved(13) + predefined_unreferenced());
}

TEST_F(TypeCheckTest, EmptyInputReportsThePredefinedTypes) {
  write_file("in.abs", "");
  RunResult r = run_tekconv({"-k", "in.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced() + GOOD);
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

// The report is read back from the scratch file in chunks; a file longer than one chunk must
// report offsets past the first chunk correctly.
TEST_F(TypeCheckTest, ScratchFileLongerThanOneReadChunk) {
  Builder b;
  b.hdr().basetype(1, 3, 4, 0);  // 262
  // Chains of pointers: each pointer refers to the one before, the last is the variable's type.
  // Every debug unit restarts the anonymous ids and every SRCFILES starts a new table fill,
  // so the selfix numbers run on without a gap: 288, 289, ...
  const uint32_t chain = 0xFFFE - 288 + 1;
  uint32_t made = 0;
  for (int unit = 0; made < chain; ++unit) {
    b.dbgunit(0x01, 0).srcfiles({}).symbol(variable("s" + std::to_string(unit), basic(1)));
    for (uint32_t i = 0; i < 30000 && made < chain; ++i, ++made) {
      if (i == 16000) b.srcfiles({});
      b.dpt(4);
    }
  }
  b.dbgunit(0x01, 0)
      .srcfiles({})
      .symbol(variable("__Tb", basic(1)))  // written by nobody: its pointer 0xFFFF is unused
      .dpt(4)
      .symbol(variable("__Tc", basic(1)))  // 0x10000 unused as well
      .dpt(4)
      .symbol(variable("d", basic(1)))  // 0x10001, used
      .dpt(4)
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(),
            predefined_unreferenced({262}) + unreferenced(0xFFFF) + unreferenced(0x10000) + GOOD);
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

// ---------------------------------------------------------------------------------------------
// Which fields are checked

TEST_F(TypeCheckTest, CheckedFieldsOfAProgram) {
  // The companion file marks the structure tag Cls as a class.
  write_file("a.cpd", "[HD]\n[DEBUG]\n1 cl 0 Cls Cls\n");
  Builder b;
  b.hdr()
      .unit("m", "H8/300H", 1, 0x04)
      .srcfiles({{"", "a.c"}})
      // Basic types that name no TYPE record: the bare kind codes of the basic type table.
      .basetype(1, 9, 0, 0)                      // 13
      .basetype(2, 10, 0, 0)                     // 14
      .basetype(3, 8, 0, 0)                      // 15
      .basetype(4, 5, 0, 0)                      // 27
      .basetype(5, 17, 2, 0)                     // 17
      .basetype(6, 17, 2, 0x40)                  // 18
      .basetype(7, 17, 4, 0x40)                  // 19
      .symbol(variable("g", basic(1)))           // PUBLIC typeix 13
      .symbol(frame_variable("l", basic(2), 8))  // SETLOCAL typeix 14
      .symbol(function("f", 0x20, basic(3)))     // 288; FUNCTION retix 15
      .symbol(variable("fp", basic(8)))          // index 8 never set: 0
      .functype()                                // 289; FUNCTION retix 0
      .symbol(variable("p", basic(4)))
      .dpt(4)  // 290; 32POINTER typeix 27
      .symbol(variable("p16", basic(5)))
      .dpt(2)  // 291; 16POINTER typeix 17
      .symbol(variable("arr", basic(6)))
      .arrtype({3})                                   // 292; ARRAY typeix 18
      .symbol(tag(tekrec::STRUCT_TAG, "S", 0x30, 4))  // 293
      .aggr_begin()
      .symbol(member("m", basic(7), 0))        // MEMBER typeix 19
      .symbol(bitfield("bf", basic(1), 3, 2))  // BIT 294, not checked; MEMBER typeix 294
      .aggr_end()
      .symbol(tag(tekrec::UNION_TAG, "U", 0x31, 4))  // 295
      .aggr_begin()
      .symbol(member("u", basic(8), 0))  // MEMBER typeix 0
      .aggr_end()
      .symbol(tag(tekrec::STRUCT_TAG, "Cls", 0x32, 4))  // 296, CLASS
      .aggr_begin()
      .symbol(member("c", basic(2), 0))  // MEMBER typeix 14
      .aggr_end()
      .symbol(tag(tekrec::ENUM_TAG, "E", 0x33, 0))  // 297
      .aggr_begin()
      .symbol(member("K", basic(1), 5))  // an enumeration constant has no type to check
      .aggr_end()
      .dbgunit(0x00, 0)                        // function types become FARFUNC
      .symbol(function("ff", 0x21, basic(4)))  // 298; FARFUNC retix 27
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), unsolved(13)        // PUBLIC g
                          + unsolved(14)  // SETLOCAL l
                          + unsolved(15)  // FUNCTION of f
                          + unsolved(0)   // FUNCTION of FUNCTYPE
                          + unsolved(27)  // 32POINTER
                          + unsolved(17)  // 16POINTER
                          + unsolved(18)  // ARRAY
                          + unsolved(19)  // MEMBER m of STRUCT
                          + unsolved(0)   // MEMBER u of UNION
                          + unsolved(14)  // MEMBER c of CLASS
                          + unsolved(27)  // FARFUNC of ff
                          + predefined_unreferenced() + unreferenced(293) + unreferenced(295) +
                          unreferenced(296) + unreferenced(297));
  EXPECT_EQ(dir_entries(), files({"a.cpd", "in.abs"}));
}

// Every kind of TYPE record, followed by a MEMBER record, in the reference pass with an empty
// scratch file: every value handed to the check is unsolved, so the output names exactly the
// fields that are checked.
TEST(TypeCheckEmit, ReferencePassChecksExactlyTheReferenceFields) {
  struct Row {
    uint32_t kind;
    const char* type_line;    // after the TYPE record
    const char* member_line;  // after a MEMBER record that follows it
  };
  const std::string R = "Unsolved typeix 00000041\n";  // retix
  const std::string T = "Unsolved typeix 00000042\n";  // typeix of the TYPE record
  const std::string M = "Unsolved typeix 00000043\n";  // typeix of the MEMBER record
  const Row rows[] = {
      {1, "", ""},         {2, "", ""},         {3, "", ""},         {4, "", ""},
      {5, "", ""},         {6, "", ""},         {7, "", ""},         {8, "", ""},
      {9, "", ""},         {10, "", ""},        {11, "", ""},        {12, "", ""},
      {13, "", M.c_str()}, {14, "", M.c_str()}, {15, "", ""},        {16, R.c_str(), ""},
      {17, T.c_str(), ""}, {18, T.c_str(), ""}, {19, T.c_str(), ""}, {20, "", M.c_str()},
      {21, T.c_str(), ""}, {22, R.c_str(), ""}, {23, T.c_str(), ""}, {24, T.c_str(), ""},
      {25, T.c_str(), ""}, {26, T.c_str(), ""}, {27, "", ""},        {28, "", M.c_str()},
  };
  for (const Row& row : rows) {
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    {
      tek::Converter cv;
      cv.out.console = console;
      cv.settings.check_pass = 2;
      tek::TypeValue t;
      t.kind = row.kind;
      t.selfix = 0x300;
      t.retix = 0x41;
      t.typeix = 0x42;
      t.size = 0x44;
      t.count = 1;
      t.limit = 0x45;
      t.name = "t";
      tek::emit_type(cv, t);
      std::fflush(console);
      EXPECT_EQ(std::string(text, size), row.type_line) << "TYPE kind " << row.kind;
      tek::MemberValue m;
      m.typeix = 0x43;
      m.offset = m.value = m.bitoffs = m.bitsize = 0x46;
      m.name = "m";
      tek::emit_member(cv, m);
      std::fflush(console);
      EXPECT_EQ(std::string(text, size), std::string(row.type_line) + row.member_line)
          << "MEMBER after kind " << row.kind;
      EXPECT_TRUE(cv.check.marks.empty()) << "the reference pass marked kind " << row.kind;
    }
    std::fclose(console);
    std::free(text);
  }
}

TEST(TypeCheckEmit, OtherRecordsCheckNothingAndWriteNothing) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  {
    tek::Converter cv;
    cv.out.console = console;
    cv.settings.check_pass = 2;
    // No stream is open: writing any record would fail.
    const uint8_t data[4] = {1, 2, 3, 4};
    tek::emit_header(cv, tek::HeaderValue{118, 6, 0, 0});
    tek::emit_start_local(cv, 0x1000);
    tek::emit_end_local(cv, 0x101F);
    tek::emit_file(cv, "dir/a.c");
    tek::emit_line(cv, 10, 0x1000);
    tek::emit_end_line(cv, 0);
    tek::emit_object(cv, 2, 0x1000, 4, data);
    tek::emit_module(cv, 1, "m");
    tek::emit_addr_flag(cv, 0x8010, 1);
    EXPECT_TRUE(cv.check.marks.empty());
    EXPECT_FALSE(cv.settings.unsolved);
  }
  std::fclose(console);
  EXPECT_EQ(std::string(text, size), "");
  std::free(text);
}

TEST(TypeCheckEmit, DefinitionPassMarksEveryTypeAndChecksNothing) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  {
    tek::Converter cv;
    cv.out.console = console;
    cv.settings.check_pass = 1;
    tek::TypeValue fn;
    fn.kind = 16;
    fn.selfix = 290;
    fn.retix = 5;  // would be unsolved in the reference pass
    tek::emit_type(cv, fn);
    tek::TypeValue st;
    st.kind = 13;
    st.selfix = 288;
    tek::emit_type(cv, st);
    tek::MemberValue m;
    m.typeix = 7;
    tek::emit_member(cv, m);
    tek::PublicValue p;
    p.typeix = 9;
    tek::emit_public(cv, p);
    tek::SetLocalValue l;
    l.cls = 3;
    l.typeix = 11;
    tek::emit_set_local(cv, l);
    std::vector<uint8_t> expected(291, 0);
    expected[288] = expected[290] = 1;
    EXPECT_EQ(cv.check.marks, expected);
    EXPECT_FALSE(cv.settings.unsolved);
    // A TYPE record of an undefined kind is marked before the run ends with status 1.
    tek::TypeValue bad;
    bad.kind = 29;
    bad.selfix = 300;
    try {
      tek::emit_type(cv, bad);
      ADD_FAILURE() << "an undefined kind must end the run";
    } catch (const tek::RunExit& e) {
      EXPECT_EQ(e.status, 1);
    }
    ASSERT_EQ(cv.check.marks.size(), 301u);
    EXPECT_EQ(cv.check.marks[300], 1);
  }
  std::fclose(console);
  EXPECT_EQ(std::string(text, size), "\nUndefined type");
  std::free(text);
}

TEST(TypeCheckEmit, ReferenceLookupAndMarks) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  {
    tek::Converter cv;
    cv.out.console = console;
    cv.settings.check_pass = 2;
    // As the scratch file holds it after the definition pass: 256 and 258 defined.
    cv.check.marks.assign(259, 0);
    cv.check.marks[256] = cv.check.marks[258] = 1;
    const uint32_t refs[] = {258,        256,        258,        257,       259,
                             0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFF02};
    for (uint32_t ix : refs) tek::check_typeix(cv, ix);
    std::vector<uint8_t> expected(259, 0);
    expected[256] = expected[258] = 2;
    EXPECT_EQ(cv.check.marks, expected);
    EXPECT_TRUE(cv.settings.unsolved);
  }
  std::fclose(console);
  // 257: a gap; 259: the end of the file; the rest far beyond it, or negative as offsets.
  EXPECT_EQ(std::string(text, size), unsolved(257) + unsolved(259) + unsolved(0x7FFFFFFF) +
                                         unsolved(0x80000000) + unsolved(0xFFFFFFFF) +
                                         unsolved(0xFFFFFF02));
  std::free(text);
}

// ---------------------------------------------------------------------------------------------
// Command line

Builder one_variable() {
  Builder b;
  b.hdr().basetype(1, 3, 4, 0).symbol(variable("x", basic(1))).end();  // 262
  return b;
}

TEST_F(TypeCheckTest, OptionsAfterTheInputAreNotScanned) {
  const std::string expected = predefined_unreferenced({262}) + GOOD;
  one_variable().write("in.abs");
  for (const char* last : {"-l", "-s", "-st", "-ps"}) {
    RunResult r = run_tekconv({"-k", "in.abs", last});
    EXPECT_EQ(r.status, 0) << last;
    EXPECT_EQ(r.body(), expected) << last;
    EXPECT_EQ(dir_entries(), files({"in.abs"})) << last;
  }
}

TEST_F(TypeCheckTest, OptionsAfterKTakeTheInputsPlace) {
  for (const char* option : {"-l", "-ps", "-m16", "-fullpath", "-c"}) {
    one_variable().write("in.abs");
    RunResult r = run_tekconv({"-k", option, "in.abs"});
    EXPECT_EQ(r.status, 255) << option;
    EXPECT_EQ(r.body(), "Error : Cannot open file\n") << option;
    // The scratch file was created before the input failed to open, and stays.
    EXPECT_EQ(dir_entries(), files({SCRATCH, "in.abs"})) << option;
    EXPECT_EQ(file_size(SCRATCH), 0) << option;
    std::remove(SCRATCH);
  }
}

TEST_F(TypeCheckTest, KAloneHasNoInput) {
  RunResult r = run_tekconv({"-k"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Cannot open file\n");
  EXPECT_EQ(dir_entries(), files({SCRATCH}));
}

TEST_F(TypeCheckTest, DumpOptionWinsOverK) {
  // -k is not an option of the scan, so the input is the argument after the dump option.
  Builder b;
  b.hdr().symbol(variable("x", basic(1))).end();
  b.write("-sg");
  RunResult r = run_tekconv({"-k", "-sg", "in.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(),
            "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0"
            "\nPUBLIC:    mode=0000,addr=00000000,class=CONST,typeix=00000000,modix=00000000,"
            "name=[x]");
  EXPECT_EQ(dir_entries(), files({"-sg"}));

  std::remove("-sg");
  one_variable().write("in.abs");
  r = run_tekconv({"-k", "-s", "in.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Cannot open file\n");
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

TEST_F(TypeCheckTest, BinaryRunLeavesOnlyTheInput) {
  one_variable().write("in.abs");
  RunResult r = run_binary({"-k", "in.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({262}) + GOOD);
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

// ---------------------------------------------------------------------------------------------
// The scratch file

TEST_F(TypeCheckTest, ScratchFileNamingTheInputIsRefused) {
  struct Case {
    const char* what;
    std::function<void()> setup;
    std::vector<std::string> args;
    std::vector<std::string> after;
  };
  const Builder b = one_variable();
  const std::string program(b.bytes().begin(), b.bytes().end());
  auto put = [&](const char* name) { write_file(name, program); };
  const Case cases[] = {
      {"same path", [&] { put(SCRATCH); }, {"-k", SCRATCH}, files({SCRATCH})},
      {"dot path", [&] { put(SCRATCH); }, {"-k", "./selfix.$$$"}, files({SCRATCH})},
      {"hard link",
       [&] {
         put("in.abs");
         ASSERT_EQ(::link("in.abs", SCRATCH), 0);
       },
       {"-k", "in.abs"},
       files({SCRATCH, "in.abs"})},
      {"scratch is a symlink to the input",
       [&] {
         put("in.abs");
         ASSERT_EQ(::symlink("in.abs", SCRATCH), 0);
       },
       {"-k", "in.abs"},
       files({SCRATCH, "in.abs"})},
      {"input is a symlink to the scratch",
       [&] {
         put(SCRATCH);
         ASSERT_EQ(::symlink(SCRATCH, "lnk"), 0);
       },
       {"-k", "lnk"},
       files({SCRATCH, "lnk"})},
      // Inputs that do not exist yet: creating the scratch file would create them.
      {"missing input, same file", [] {}, {"-k", "./selfix.$$$"}, {}},
      {"missing input, dangling link",
       [] { ASSERT_EQ(::symlink("target.abs", SCRATCH), 0); },
       {"-k", "target.abs"},
       files({SCRATCH})},
  };
  for (const Case& c : cases) {
    for (const std::string& name : dir_entries()) std::remove(name.c_str());
    c.setup();
    RunResult r = run_tekconv(c.args);
    EXPECT_EQ(r.status, 255) << c.what;
    EXPECT_EQ(r.body(), "Error : Cannot create file\n") << c.what;
    EXPECT_EQ(dir_entries(), c.after) << c.what;
    for (const std::string& name : c.after) {
      struct stat st;
      if (::stat(name.c_str(), &st) != 0) continue;  // a dangling link has no content
      EXPECT_EQ(read_file(name), program) << c.what << ": " << name;
    }
  }
}

TEST_F(TypeCheckTest, InputOfTheScratchNameInAnotherDirectory) {
  ASSERT_EQ(::mkdir("sub", 0755), 0);
  one_variable().write("sub/selfix.$$$");
  RunResult r = run_tekconv({"-k", "sub/selfix.$$$"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({262}) + GOOD);
  EXPECT_EQ(dir_entries(), files({"sub"}));
  EXPECT_TRUE(exists("sub/selfix.$$$"));
}

TEST_F(TypeCheckTest, ScratchFileNotCreatable) {
  one_variable().write("in.abs");
  ASSERT_EQ(::mkdir(SCRATCH, 0755), 0);
  RunResult r = run_tekconv({"-k", "in.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Cannot create file\n");
  EXPECT_EQ(dir_entries(), files({SCRATCH, "in.abs"}));
}

TEST_F(TypeCheckTest, ScratchFileEmptiedBeforeUse) {
  // A scratch file left by an earlier run holds marks that must not count.
  write_file(SCRATCH, std::string(400, '\x01'));
  Builder b;
  b.hdr().symbol(variable("x", basic(1))).end();  // index 1 never set: 0
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), unsolved(0) + predefined_unreferenced());
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

// The scratch file is the run's own: a link carrying its name (here to a device that refuses
// every write) is replaced by a new file, and removed with it at the end.
TEST_F(TypeCheckTest, ScratchNameLinkedToADevice) {
  if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(::symlink("/dev/full", SCRATCH), 0);
  RunResult r = check(one_variable());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({262}) + GOOD);
  EXPECT_EQ(dir_entries(), files({"in.abs"}));
}

TEST_F(TypeCheckTest, FileSizeLimitEndsTheCheck) {
  // 288 bytes hold the marks of the predefined types (up to offset 271) but not of selfix 288.
  const rlim_t limit = 288;
  Builder fits;
  fits.hdr().end();
  fits.write("fits.abs");
  RunResult r = run_binary_with_file_limit({"-k", "fits.abs"}, limit);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced() + GOOD);
  EXPECT_EQ(dir_entries(), files({"fits.abs"}));

  Builder over;
  over.hdr()
      .symbol(tag(tekrec::STRUCT_TAG, "s", 0x10, 0))  // 288
      .aggr_begin()
      .aggr_end()
      .end();
  over.write("over.abs");
  r = run_binary_with_file_limit({"-k", "over.abs"}, limit);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Write error\n");
  // As after every fatal error of the check, the scratch file stays.
  EXPECT_EQ(dir_entries(), files({"fits.abs", "over.abs", SCRATCH}));
  EXPECT_LE(file_size(SCRATCH), static_cast<off_t>(limit));
}

// ---------------------------------------------------------------------------------------------
// State that the reference pass inherits from the definition pass

TEST_F(TypeCheckTest, AddressWidthCarriesIntoTheSecondPass) {
  // A BASETYPE record before the first UNIT: in the first pass its size is one byte wide, in the
  // second pass the UNIT's width of 4 bytes applies. Read with 1 byte: size 2, flags 0 (the
  // pointer kind code 17); read with 4 bytes: size 0x02000004, flags 0x40 (19).
  Builder b;
  b.hdr()
      .record(tekrec::BASETYPE, Fields().u8(0).u8(1).u8(17).u8(2).u8(0).u8(0).u8(4).u8(0x40))
      .unit("m", "MC68000", 1, 0x04)
      .symbol(variable("p", basic(1)))
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), unsolved(19) + predefined_unreferenced());
}

TEST_F(TypeCheckTest, AddressWidthOfTheFirstUnitHoldsInBothPasses) {
  // The second UNIT's width 2 never applies: in both passes the BASETYPE size after it is read
  // 4 bytes wide, and both passes number the types alike.
  Builder b;
  b.hdr().unit("a", "MC68000", 1, 0x04).unit("b", "MC68000", 1, 0x02);
  b.basetype(1, 3, 4, 0x40);                  // 263, its size written 4 bytes wide
  b.symbol(variable("x", basic(1))).dpt(15);  // 32POINTER for width 4; 288 -> 263
  b.symbol(variable("y", basic(1))).end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({263}) + GOOD);
}

TEST_F(TypeCheckTest, BasicTypeTableCarriesIntoTheSecondPass) {
  Builder b;
  b.hdr()
      .symbol(variable("early", basic(1)))  // before BASETYPE: 0 in pass 1, 262 in pass 2
      .basetype(1, 3, 4, 0)
      .symbol(variable("late", basic(1)))
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced({262}) + GOOD);
}

TEST_F(TypeCheckTest, RiModeCarriesIntoTheSecondPass) {
  // In RI mode a PUBLIC whose name begins with "." is not written, so it is not checked either.
  Builder b;
  b.hdr()
      .symbol(variable(".x", basic(1)))  // index 1 never set: 0
      .blkend(0)                         // flushed before the RI10 unit of the first pass
      .unit("m", "RI10", 1, 0x04)
      .end();
  RunResult r = check(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced() + GOOD);
}

}  // namespace
