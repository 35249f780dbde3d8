// Type index check (-k): whole reports on small programs, the fields that are checked, the
// command-line forms, the scratch file's life, and the state that the second pass inherits.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "core/emit.hpp"
#include "core/sinks/type_check.hpp"
#include "emit_state.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::basic_type;
using tekrec::Builder;
using tekrec::Fields;
using tekrec::type_id;

namespace {

const char* const SCRATCH = "selfix.$$$";
const std::string GOOD = "Type index is good\n";

std::string unsolved(uint32_t ix) {
  return line::fmt("Unsolved typeix %08x\n", ix);
}

std::string unreferenced(uint32_t ix) {
  return line::fmt("No reference self index %08x\n", ix);
}

// The report lines of the predefined types (selfix 256 to 271) that nothing referred to.
std::string predefined_unreferenced(const std::set<uint32_t>& referenced = {}) {
  std::string s;
  for (uint32_t ix = 256; ix < 272; ++ix)
    if (!referenced.count(ix)) s += unreferenced(ix);
  return s;
}

tekrec::Symbol var(const std::string& name, const Fields& type) {
  return sym(tekrec::VARIABLE, name, type, {});
}

tekrec::Symbol function(const std::string& name, uint16_t own_id, const Fields& return_type) {
  return sym(tekrec::FUNCTION, name, return_type, {}, own_id);
}

// hdr, basic type 1 = int (262), one variable of it.
Builder one_variable() {
  return Builder().hdr().basetype(1, 3, 4, 0).symbol(var("x", basic_type(1))).end();
}

// Chains of pointers that make the scratch file longer than one read chunk: each pointer refers
// to the one before, the last is the variable's type. Every debug unit restarts the anonymous ids
// and every SRCFILES starts a new table fill, so the selfix numbers run on without a gap: 288, ...
Builder longer_than_one_read_chunk() {
  Builder b;
  b.hdr().basetype(1, 3, 4, 0);  // 262
  const uint32_t chain = 0xFFFE - 288 + 1;
  uint32_t made = 0;
  for (int unit = 0; made < chain; ++unit) {
    b.dbgunit(0x01, 0).srcfiles({}).symbol(var("s" + std::to_string(unit), basic_type(1)));
    for (uint32_t i = 0; i < 30000 && made < chain; ++i, ++made) {
      if (i == 16000) b.srcfiles({});
      b.dpt(4);
    }
  }
  b.dbgunit(0x01, 0).srcfiles({});
  b.symbol(var("__Tb", basic_type(1))).dpt(4);  // nobody uses its pointer 0xFFFF
  b.symbol(var("__Tc", basic_type(1))).dpt(4);  // nor 0x10000
  b.symbol(var("d", basic_type(1))).dpt(4);     // 0x10001, used
  return b.end();
}

class TypeCheckTest : public TempDirTest {};

// Whole reports of programs; the scratch file is gone afterwards.
TEST_F(TypeCheckTest, Reports) {
  struct Row {
    const char* what;
    Builder input;
    std::string report;
  };
  const Row rows[] = {
      {"every reference solved, forward ones too",
       program()                                // basic types 1 = 262, 2 = 258, 3 = 261
           .symbol(structure(0x10, "node", 8))  // 288, written at its end
           .aggr_begin()
           .symbol(member_of("next", 0x10, 0))
           .dpt(4)  // 289 -> 288, before the STRUCT record
           .symbol(member("val", 1, 4))
           .aggr_end()
           .symbol(var("head", type_id(0x10)))
           .dpt(4)  // 290 -> 288
           .symbol(var("arr", basic_type(1)))
           .arrtype({9})                                // 291 -> 262
           .symbol(function("f", 0x20, basic_type(3)))  // PUBLIC 292 comes before TYPE 292
           .symbol(sym(tekrec::VARIABLE, "n", basic_type(2), tekrec::in_frame(0xFFFFFFFC)))
           .symbol(sym(tekrec::UNTYPED, "start", {}, tekrec::at_section(0, 0x10)))  // 256
           .blkend(0x40)
           .end(),
       predefined_unreferenced({256, 258, 261, 262}) + GOOD},
      {"defined but unreferenced, in ascending order",
       Builder()
           .hdr()
           .basetype(1, 3, 4, 0)             // 262
           .symbol(structure(0x10, "s", 4))  // 288
           .aggr_begin()
           .symbol(member("a", 1, 0))
           .aggr_end()
           .symbol(enum_tag(0x11, "e"))  // 289, registered at its end
           .aggr_begin()
           .symbol(member("RED", 9, 0))
           .aggr_end()
           .symbol(var("x", basic_type(1)))
           .end(),
       predefined_unreferenced({262}) + unreferenced(288) + unreferenced(289) + GOOD},
      // References to type indices below 256 (the bare kind codes of basic types that name no
      // TYPE record), to one never set (0), to one registered without a TYPE record between two
      // defined ones, and to one beyond the highest: each is reported where the input makes it.
      {"unsolved references, in input order",
       Builder()
           .hdr()
           .basetype(1, 9, 0, 0)                                                    // 13
           .basetype(2, 10, 0, 0)                                                   // 14
           .basetype(3, 8, 0, 0)                                                    // 15
           .basetype(4, 5, 0, 0)                                                    // 27
           .basetype(5, 17, 4, 0x40)                                                // 19
           .symbol(var("g", basic_type(1)))                                         // PUBLIC 13
           .symbol(sym(tekrec::VARIABLE, "l", basic_type(2), tekrec::in_frame(8)))  // SETLOCAL 14
           .symbol(var("gap", basic_type(1)))  // 288 registered, no TYPE record for it
           .arrtype({})
           .symbol(function("f", 0x20, basic_type(3)))  // 289; FUNCTION retix 15
           .symbol(var("fp", basic_type(8)))            // index 8 never set: 0
           .functype()                                  // 290; FUNCTION retix 0
           .symbol(var("p", basic_type(4)))
           .dpt(4)                           // 291; 32POINTER typeix 27
           .symbol(structure(0x30, "S", 4))  // 292
           .aggr_begin()
           .symbol(member("m", 5, 0))  // MEMBER typeix 19
           // BIT 293, not checked; MEMBER typeix 293
           .symbol(sym(tekrec::MEMBER, "bf", basic_type(1), tekrec::bitfield_at(0, 3, 2)))
           .aggr_end()
           .symbol(var("far", type_id(0x55)))  // never registered: 0x4000 + 288
           .end(),
       // The unknown id is looked up in each pass; no "Type index is good" after an unsolved one.
       "undefined id (get_sid)\n" + unsolved(13) + unsolved(14) + unsolved(288) + unsolved(15) +
           unsolved(0) + unsolved(27) + unsolved(19) + "undefined id (get_sid)\n" +
           unsolved(0x4120) + predefined_unreferenced() + unreferenced(292)},
      {"handler messages once per pass, and a pass that ends early",
       Builder().hdr().basetype(1, 9, 0, 0).symbol(var("a", basic_type(1))).dpt(7),
       // The symbol is flushed after the pass ended, and still checked.
       "Found invalid pointer type 07 (DPT)\nInvalid record\n"
       "Found invalid pointer type 07 (DPT)\nInvalid record\n" +
           unsolved(13) + predefined_unreferenced()},
      {"empty input", Builder(), predefined_unreferenced() + GOOD},
      // The report is read back from the scratch file in chunks; offsets past the first chunk
      // must be reported correctly.
      {"a scratch file longer than one read chunk", longer_than_one_read_chunk(),
       predefined_unreferenced({262}) + unreferenced(0xFFFF) + unreferenced(0x10000) + GOOD},
      // A BASETYPE before the first UNIT: in the first pass its size is one byte wide, in the
      // second the UNIT's width of 4 bytes applies. Read with 1 byte: size 2, flags 0 (the
      // pointer kind code 17); read with 4 bytes: size 0x02000004, flags 0x40 (19).
      {"the address width carries into the second pass",
       Builder()
           .hdr()
           .record(tekrec::BASETYPE, Fields().u8(0).u8(1).u8(17).u8(2).u8(0).u8(0).u8(4).u8(0x40))
           .unit("m", "MC68000", 1, 0x04)
           .symbol(var("p", basic_type(1)))
           .end(),
       unsolved(19) + predefined_unreferenced()},
      {"the basic type table carries into the second pass",
       Builder()
           .hdr()
           .symbol(var("early", basic_type(1)))  // before BASETYPE: 0 in pass 1, 262 in pass 2
           .basetype(1, 3, 4, 0)
           .symbol(var("late", basic_type(1)))
           .end(),
       predefined_unreferenced({262}) + GOOD},
      // In RI mode a PUBLIC whose name begins with "." is not written, so it is not checked.
      {"RI mode carries into the second pass",
       Builder()
           .hdr()
           .symbol(var(".x", basic_type(1)))  // index 1 never set: 0
           .blkend(0)                         // flushed before the RI10 unit of the first pass
           .unit("m", "RI10", 1, 0x04)
           .end(),
       predefined_unreferenced() + GOOD},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RunResult r = run_on(row.input, {"-k"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), row.report);
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
  }
}

// ---------------------------------------------------------------------------------------------
// The emit operations in the two passes

// The emit operations' state in a check pass, with its console output captured.
struct CheckPass {
  explicit CheckPass(int32_t pass) {
    state.out.console = console;
    state.out.sink = &check;
    check.begin_pass(pass);
  }
  ~CheckPass() {
    std::fclose(console);
    std::free(text);
  }
  std::string printed() {
    std::fflush(console);
    return std::string(text, size);
  }
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  EmitState state;
  tek::TypeIndexCheck check{console, UINT64_MAX};
};

// Every kind of TYPE record, followed by a MEMBER, a PUBLIC and a SETLOCAL record. In the
// definition pass only the TYPE record's selfix is marked. In the reference pass, with nothing
// marked, every value handed to the check is unsolved, so the output names exactly the fields
// that are checked: the TYPE record's retix (41) or typeix (42), the MEMBER's typeix (43), and
// those of the PUBLIC (44) and SETLOCAL (45) records.
TEST(TypeCheckEmit, EachPassMarksOrChecksExactlyItsFields) {
  const std::set<uint32_t> by_retix = {16, 22}, by_typeix = {17, 18, 19, 21, 23, 24, 25, 26},
                           with_members = {13, 14, 20, 28};
  std::vector<uint8_t> marked(0x301, 0);
  marked[0x300] = 1;
  tek::TypeValue t{
      .selfix = 0x300, .size = 0x46, .retix = 0x41, .typeix = 0x42, .limit = 0x47, .name = "t"};
  for (uint32_t kind = 1; kind <= 28; ++kind) {
    for (int32_t pass : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << ", pass " << pass);
      CheckPass c(pass);
      t.kind = kind;
      tek::emit_type(c.state.output, c.state.reporter, t);
      tek::emit_member(c.state.output, {0x43, 0x48, 0x48, 0x48, 0x48, "m"});
      tek::emit_public(c.state.output, {.cls = 1, .typeix = 0x44, .modix = 1, .name = "p"});
      tek::emit_set_local(c.state.output, {.cls = 3, .typeix = 0x45, .name = "l"});
      std::string expected;
      if (by_retix.count(kind)) expected += unsolved(0x41);
      if (by_typeix.count(kind)) expected += unsolved(0x42);
      if (with_members.count(kind)) expected += unsolved(0x43);
      expected += unsolved(0x44) + unsolved(0x45);
      EXPECT_EQ(c.check.marks(), pass == 1 ? marked : std::vector<uint8_t>{});
      EXPECT_EQ(c.printed(), pass == 1 ? "" : expected);
      EXPECT_EQ(c.check.unsolved(), pass == 2);
    }
  }
}

TEST(TypeCheckEmit, ReferenceLookupAndMarks) {
  CheckPass c(1);
  // As the scratch file holds it after the definition pass: 256 and 258 defined.
  c.check.mark_selfix(258);
  c.check.mark_selfix(256);
  c.check.begin_pass(2);
  for (uint32_t ix :
       {258u, 256u, 258u, 257u, 259u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFF02u})
    c.check.check_typeix(ix);
  std::vector<uint8_t> expected(259, 0);
  expected[256] = expected[258] = 2;
  EXPECT_EQ(c.check.marks(), expected);
  EXPECT_TRUE(c.check.unsolved());
  // 257: a gap; 259: the end of the file; the rest far beyond it, or negative as offsets.
  EXPECT_EQ(c.printed(), unsolved(257) + unsolved(259) + unsolved(0x7FFFFFFF) +
                             unsolved(0x80000000) + unsolved(0xFFFFFFFF) + unsolved(0xFFFFFF02));
}

// ---------------------------------------------------------------------------------------------
// Command line and scratch file

TEST_F(TypeCheckTest, CommandLineForms) {
  const std::string good = predefined_unreferenced({262}) + GOOD;
  const std::string no_input = "Error : Cannot open file\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string body;
    std::vector<std::string> after;
  } rows[] = {
      // An option after the input is not scanned.
      {{"-k", "in.abs", "-l"}, 0, good, {"-sg", "in.abs"}},
      {{"-k", "in.abs", "-s"}, 0, good, {"-sg", "in.abs"}},
      // The input is always the second argument; the empty scratch file stays after the error.
      {{"-k", "-l", "in.abs"}, 255, no_input, {"-sg", "in.abs", SCRATCH}},
      {{"-k"}, 255, no_input, {"-sg", "in.abs", SCRATCH}},
      // A dump option wins over -k, which is no option of the scan: the input is the argument
      // after the dump option.
      {{"-k", "-sg", "in.abs"},
       0,
       line::header() + line::pub(0, 262, "x", "CONST", 0),
       {"-sg", "in.abs"}},
      {{"-k", "-s", "in.abs"}, 255, no_input, {"-sg", "in.abs"}},
  };
  one_variable().write("in.abs");
  one_variable().write("-sg");
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    std::remove(SCRATCH);
    RunResult r = run_tekconv(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.body(), row.body);
    EXPECT_EQ(dir_entries(), row.after);
    EXPECT_EQ(read_file(SCRATCH), "");
  }
}

// The scratch file is never the input (the same path, or the same file through another path or
// link), is always the run's own new file, and is made before the passes. A run either refuses
// (status 255) or reports the program's types. Each row's shell commands prepare the directory,
// which holds the program in in.abs.
TEST_F(TypeCheckTest, ScratchFileCases) {
  const Builder input = one_variable();
  const std::string program(input.bytes().begin(), input.bytes().end());
  const struct {
    const char* input;
    int status;
    const char* setup;
    std::vector<std::string> after;
  } rows[] = {
      {SCRATCH, 255, "mv in.abs 'selfix.$$$'", {SCRATCH}},
      {"in.abs", 255, "ln in.abs 'selfix.$$$'", {"in.abs", SCRATCH}},
      {"in.abs", 255, "ln -s in.abs 'selfix.$$$'", {"in.abs", SCRATCH}},
      {"lnk", 255, "mv in.abs 'selfix.$$$' && ln -s 'selfix.$$$' lnk", {"lnk", SCRATCH}},
      // Inputs that do not exist yet: creating the scratch file would create them.
      {"./selfix.$$$", 255, "rm in.abs", {}},
      {"target.abs", 255, "rm in.abs && ln -s target.abs 'selfix.$$$'", {SCRATCH}},
      // The scratch name, but another file.
      {"sub/selfix.$$$", 0, "mkdir sub && mv in.abs sub/'selfix.$$$'", {"sub"}},
      // Not creatable.
      {"in.abs", 255, "mkdir 'selfix.$$$'", {"in.abs", SCRATCH}},
      // Marks left by an earlier run do not count.
      {"in.abs", 0, "head -c 400 /dev/zero | tr '\\0' '\\1' >'selfix.$$$'", {"in.abs"}},
      // A link carrying the scratch name (to a device that refuses every write) is replaced by a
      // new file, and removed with it.
      {"in.abs", 0, "ln -s /dev/full 'selfix.$$$'", {"in.abs"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setup);
    for (const std::string& name : dir_entries()) std::filesystem::remove_all(name);
    write_file("in.abs", program);
    ASSERT_EQ(std::system(row.setup), 0);
    RunResult r = run_tekconv({"-k", row.input});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.body(),
              row.status ? "Error : Cannot create file\n" : predefined_unreferenced({262}) + GOOD);
    EXPECT_EQ(dir_entries(), row.after);
    // The input, and every file left that is no directory, still holds the program.
    std::vector<std::string> kept = row.after;
    kept.push_back(row.input);
    for (const std::string& name : kept) {
      if (!std::filesystem::is_regular_file(name)) continue;
      EXPECT_EQ(read_file(name), program) << name;
    }
  }
}

TEST_F(TypeCheckTest, FileSizeLimitEndsTheCheck) {
  // 288 bytes hold the marks of the predefined types (up to offset 271) but not of selfix 288.
  const uint64_t limit = 288;
  Builder().hdr().end().write("fits.abs");
  RunResult r = run_binary({"-k", "fits.abs"}, limit);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), predefined_unreferenced() + GOOD);
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"fits.abs"});

  Builder().hdr().symbol(structure(0x10, "s", 0)).aggr_begin().aggr_end().end().write("over.abs");
  r = run_binary({"-k", "over.abs"}, limit);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Write error\n");
  // As after every fatal error of the check, the scratch file stays.
  EXPECT_EQ(dir_entries(), (std::vector<std::string>{"fits.abs", "over.abs", SCRATCH}));
  EXPECT_LE(file_bytes(SCRATCH).size(), limit);
}

}  // namespace
