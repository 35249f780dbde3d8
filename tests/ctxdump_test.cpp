// ctxdump: listing finished context files, checking their structure, agreeing with the
// converter's own symbol dump and type index check, and installing.
#include "tools/ctxdump/ctxdump.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>

#include "ctxdump_support.hpp"
#include "example_program.hpp"
#include "format/ctx/ctxfile.hpp"
#include "support.hpp"

using namespace tektest;
using namespace tekrec;
using namespace ctxdumptest;

namespace {

// Runs a program as a process with its output in files; returns the exit status.
int run_process(const std::string& command, std::string* out = nullptr) {
  int st = std::system((command + " >proc.out 2>proc.err").c_str());
  if (out) *out = read_file("proc.out");
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void write_bytes(const std::string& path, const Bytes& b) {
  write_file(path, std::string(b.begin(), b.end()));
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Context records that Ctx has no function for, encoded from their layouts.
Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes named(const std::string& s) {
  return Bytes{static_cast<uint8_t>(s.size())} + Bytes(s.begin(), s.end());
}
Bytes typedef_type(uint32_t selfix, uint32_t typeix, const std::string& name) {
  return Bytes{9, 21} + le32(selfix) + le32(typeix) + named(name);
}
Bytes bitfield_member(uint32_t typeix, uint32_t bitoffs, uint32_t bitsize, const std::string& n) {
  return Bytes{10} + le32(typeix) + le32(bitoffs) + le32(bitsize) + named(n);
}
const Bytes BARE_MEMBER = {10};  // a MEMBER after a TYPE of a kind without members

class CtxdumpTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// Listing

// Every record kind and every MEMBER layout, each record followed by another, so that a record
// read with a wrong size garbles what follows it. Names are read up to a length of 255 and
// printed up to a zero byte. With -x the data of an OBJECT follows its line, 16 bytes to a line
// led by the load address of the first, which wraps to 8 here.
TEST_F(CtxdumpTest, ListsEveryRecordInTheDumpLineFormats) {
  const std::string long_name(255, 'n');
  Bytes data;
  for (int i = 0; i < 20; ++i) data.push_back(static_cast<uint8_t>(0xA0 + i));
  Ctx c;
  c.header().module(1, long_name).pub(0, 0x1000, 1, 0x120, 1, "main");
  c.file(std::string("a\0b", 3)).line(10, 0x1000).end_line(0).object(0xFFFFFFF8, data);
  c.object(0x1000, {}).addr_flag(0x3000, 1).start_local(0x1000);
  c.set_local(3, 0xFFFFFFFC, 0x106, "i").end_local(0x103F);
  c.aggregate(13, 0x121, 8, 2, "point").member(0x106, 0, "x").member(0x106, 4, "y");
  c.aggregate(14, 0x128, 4, 1, "word").member(0x102, 0, "c");
  c.aggregate(28, 0x129, 4, 1, "Dev").member(0x107, 2, "id");
  c.enumeration(0x122, 1, "color").constant(2, "BLUE").function(16, 0x120, 0x106, 2);
  Ctx t;
  t.pointer(18, 0x123, 0x121).pointer(26, 0x12a, 0x122).array(0x124, 0x102, 8);
  t.bit(0x125, 1, 3, 0xFFFFFFFE).function(22, 0x12b, 0x100, 0).type(11, 0x10b);
  write_bytes("t.ctx", c.bytes() + BARE_MEMBER + t.bytes() + BARE_MEMBER +
                           typedef_type(0x126, 0x121, "point_t") +
                           Ctx().aggregate(20, 0x127, 4, 1, "flags").bytes() +
                           bitfield_member(0x125, 3, 5, "rdy"));

  // The dump lines begin with a newline; ctxdump ends each line with one instead.
  const std::string head = line::header() + line::module(1, long_name) +
                           line::pub(0x1000, 0x120, "main") + line::file("a") +
                           line::line(10, 0x1000) + line::endline(0) + line::object(0xFFFFFFF8, 20);
  const std::string hex =
      "\n  fffffff8: a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\n  00000008: b0 b1 b2 b3";
  const std::string rest =
      line::object(0x1000, 0) + line::addr_flag(0x3000, 1) + line::startl(0x1000) +
      line::setl(0xFFFFFFFC, "AUTO", 0x106, "i") + line::endl(0x103F) +
      line::agg(13, 0x121, 8, 2, "point") + line::mem(0x106, 0, "x") + line::mem(0x106, 4, "y") +
      line::agg(14, 0x128, 4, 1, "word") + line::mem(0x102, 0, "c") +
      line::agg(28, 0x129, 4, 1, "Dev") + line::mem(0x107, 2, "id") + line::enm(0x122, "color") +
      line::cnst(2, "BLUE") + line::func(0x120, 0x106, 2) +
      "\nMEMBER:" + line::ptr(18, 0x123, 0x121) + line::ptr(26, 0x12a, 0x122) +
      line::arr(0x124, 0x102, 8) + line::bit(0x125, 1, 3, 0xFFFFFFFE) +
      line::func(0x12b, 0x100, 0, true) + line::type(11, 0x10b) +
      "\nMEMBER:" + line::tdef(0x126, 0x121, "point_t") + line::agg(20, 0x127, 4, 1, "flags") +
      line::bfmem(0x125, 3, 5, "rdy");
  for (const auto& [args, dumped] : {std::pair{std::vector<std::string>{"t.ctx"}, head + rest},
                                     {{"-x", "t.ctx"}, head + hex + rest},
                                     {{"--hex", "t.ctx"}, head + hex + rest}}) {
    DumpRun r = run_ctxdump(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dumped.substr(1) + "\n");
  }
}

// The start of a sound file: HEADER and MODULE 1, before the 16 predefined types.
const Ctx SOUND_START = Ctx().header().module(1, "m");

TEST_F(CtxdumpTest, CommandLineAndExitStatus) {
  const Bytes start = Ctx().start_local(0x10).bytes();
  auto but_last = [](const Ctx& c) { return Bytes(c.bytes().begin(), c.bytes().end() - 1); };
  write_bytes("a.ctx", Ctx().end_line(0).bytes());
  write_bytes("empty.ctx", {});
  write_bytes("-x", Ctx().end_line(1).bytes());
  write_bytes("tag.ctx", start + Bytes{8, 1, 2});
  write_bytes("cut.ctx", start + but_last(Ctx().object(0, {1, 2, 3, 4})));
  write_bytes("name.ctx", start + but_last(Ctx().file("f.c")));
  write_bytes("good.ctx", Ctx(SOUND_START).predefined().bytes());
  const std::string a = "ENDLINE:   mode=0000\n", s = "STARTLOCAL:addr=00000010\n";
  const std::string missing = "ctxdump: missing.ctx: cannot read: No such file or directory\n";
  const std::string usage = "Usage: ctxdump";  // the beginning of the usage text
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } rows[] = {
      // A listing stops at a record it cannot read; the readable files are still listed, and
      // the status says that one could not be read.
      {{"missing.ctx", "a.ctx", "empty.ctx", "cut.ctx", ".", "name.ctx"},
       2,
       "==> missing.ctx <==\n\n==> a.ctx <==\n" + a + "\n==> empty.ctx <==\n\n==> cut.ctx <==\n" +
           s + "\n==> . <==\n\n==> name.ctx <==\n" + s,
       missing +
           "ctxdump: cut.ctx: offset 00000005: OBJECT record cut short by the end of the file (12 "
           "bytes left)\nctxdump: .: cannot read: Is a directory\nctxdump: name.ctx: offset "
           "00000005: FILE record cut short by the end of the file (4 bytes left)\n"},
      {{"tag.ctx"},
       1,
       s,
       "ctxdump: tag.ctx: offset 00000005: unknown record tag 08; the rest of the file cannot be "
       "read\n"},
      // After "--" a name that begins with '-' is a file.
      {{"--", "-x", "a.ctx"}, 0, "==> -x <==\nENDLINE:   mode=0001\n\n==> a.ctx <==\n" + a, ""},
      {{"--verify", "good.ctx", "missing.ctx", "empty.ctx"},
       2,
       "good.ctx: sound: 18 records, 116 bytes\n"
       "ctxdump: empty.ctx:0x0: error: no type section: the 16 predefined types are missing\n"
       "empty.ctx: 1 problem: 0 records, 0 bytes\n",
       missing},
      {{}, 2, "", usage},
      {{"-q", "a.ctx"}, 2, "", "ctxdump: unknown option -q\n" + usage},
      {{"--help"}, 0, usage, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    DumpRun r = run_ctxdump(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(row.out.ends_with(usage) ? r.out.substr(0, row.out.size()) : r.out, row.out);
    EXPECT_EQ(row.err.ends_with(usage) ? r.err.substr(0, row.err.size()) : r.err, row.err);
  }
}

// ---------------------------------------------------------------------------------------------
// Verification

// A context file built record by record, with the problem lines that --verify must print, each
// announced before the record it is reported at.
class Verified {
 public:
  Verified& add(const Ctx& c) { return add(c.bytes()); }
  Verified& add(const Bytes& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  // A problem at the offset of the next record (or of the end of the file), as a diagnostic.
  Verified& problem(const std::string& text) {
    problems_ += "ctxdump: t.ctx:" + line::fmt("0x%zx", bytes_.size()) + ": error: " + text + "\n";
    ++count_;
    return *this;
  }
  size_t size() const { return bytes_.size(); }

  // The whole report: the problems, then the summary line.
  void check(size_t records, const std::string& note = "") const {
    write_bytes("t.ctx", bytes_);
    DumpRun r = run_ctxdump({"--verify", "t.ctx"});
    const std::string found = count_ == 0   ? "sound"
                              : count_ == 1 ? "1 problem"
                                            : std::to_string(count_) + " problems";
    EXPECT_EQ(r.out, problems_ + "t.ctx: " + found + ": " + std::to_string(records) + " records, " +
                         std::to_string(bytes_.size()) + " bytes" + note + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, count_ == 0 ? 0 : 1);
  }

 private:
  Bytes bytes_;
  std::string problems_;
  size_t count_ = 0;
};

const std::string NOT_PREDEFINED =
    "type section does not begin with the 16 predefined types: expected TYPE ";

TEST_F(CtxdumpTest, VerifyAcceptsASoundFile) {
  Ctx c = SOUND_START;
  c.pub(0, 0x1000, 1, 0x120, 1, "f");  // a forward reference to the FUNCTION below
  // A function of one byte ends where it starts; the last scope is left open.
  c.start_local(0x1000).set_local(3, 8, 0x121, "s").end_local(0x1000).start_local(0x2000);
  c.predefined().function(16, 0x120, 0x100, 1).aggregate(13, 0x121, 8, 2, "pair");
  c.member(0x121, 0, "self").member(0x10F, 4, "last").enumeration(0x122, 0, "empty");
  Verified().add(c.aggregate(14, 0x123, 0, 0, "none")).check(2 + 5 + 16 + 6);
}

TEST_F(CtxdumpTest, VerifyChecksTheSectionOrder) {
  // One line where the order turns back: the LINE after the PUBLIC is not reported again.
  Verified()
      .add(Ctx(SOUND_START).start_local(0x10))
      .problem("PUBLIC record of the main section after records of the local section")
      .add(Ctx().pub(0, 0, 1, 0x100, 1, "late").line(1, 2))
      .add(Ctx().set_local(3, 0, 0x100, "x").predefined())
      .problem("ENDLOCAL record of the local section after records of the type section")
      .add(Ctx().end_local(0x20).type(1, 0x120))
      .check(2 + 1 + 2 + 1 + 16 + 2);
}

TEST_F(CtxdumpTest, VerifyChecksThePredefinedTypes) {
  const Bytes all = Ctx().predefined().bytes();  // 16 records of 6 bytes
  Verified()
      .add(Ctx(SOUND_START).type(1, 0x100).type(1, 0x101))
      .problem(NOT_PREDEFINED + "00000102 (8SIGNED) here")
      .add(Ctx().type(3, 0x102).bytes() + Bytes(all.begin() + 18, all.end()))
      .check(2 + 16);
  Verified()
      .add(SOUND_START.bytes() + Bytes(all.begin(), all.begin() + 5 * 6))
      .problem("the file ends after 5 of the 16 predefined types")
      .check(2 + 5);
}

TEST_F(CtxdumpTest, VerifyChecksMemberCountsAndKinds) {
  // A MEMBER record that no TYPE record precedes has no fields.
  Verified()
      .add(SOUND_START)
      .problem(NOT_PREDEFINED + "00000100 (VOID) here")
      .problem("MEMBER record that follows no TYPE record")
      .add(BARE_MEMBER)
      .add(Ctx().predefined())
      .problem("TYPE 00000120 (STRUCT) has a count of 2, but 1 MEMBER record follows")
      .add(Ctx().aggregate(13, 0x120, 8, 2, "two").member(0x100, 0, "only"))
      .problem("TYPE 00000121 (ENUM) has a count of 0, but 2 MEMBER records follow")
      .add(Ctx().enumeration(0x121, 0, "none").constant(1, "A").constant(2, "B"))
      // A TYPE record of an undefined kind is read without kind fields.
      .problem("TYPE 00000124 of undefined kind 1d, read without kind fields")
      .problem("TYPE 00000124 (?) has no members, but 1 MEMBER record follows")
      .add(Ctx().type(29, 0x124).bytes() + BARE_MEMBER)
      .problem("TYPE 00000125 of undefined kind 00, read without kind fields")
      .add(Ctx().type(0, 0x125))
      // Its member is missing at the end of the file.
      .problem("TYPE 00000123 (CLASS) has a count of 1, but 0 MEMBER records follow")
      .add(Ctx().aggregate(28, 0x123, 4, 1, "last"))
      .check(2 + 1 + 16 + 2 + 3 + 2 + 1 + 1);
}

TEST_F(CtxdumpTest, VerifyFindsUndefinedTypeIndicesWhereTheCheckModeLooks) {
  const std::string u = " refers to undefined type index ";
  Verified()
      .add(SOUND_START)
      .problem("PUBLIC [p]" + u + "00000200")
      .add(Ctx().pub(0, 0, 1, 0x200, 1, "p"))
      .problem("SETLOCAL [r]" + u + "00000000")
      .add(Ctx().set_local(4, 1, 0, "r").predefined())
      .problem("TYPE 00000120 (FARFUNC) retix" + u + "00000201")
      .add(Ctx().function(22, 0x120, 0x201, 0))
      .problem("TYPE 00000121 (HUGEPNT)" + u + "00000202")
      .add(Ctx().pointer(26, 0x121, 0x202))
      .problem("TYPE 00000122 (ARRAY)" + u + "00000203")
      .add(Ctx().array(0x122, 0x203, 4))
      .problem("TYPE 00000124 (TYPEDEF)" + u + "00000204")
      .add(typedef_type(0x124, 0x204, "t"))
      // The count is judged after the members, and reported before their problems.
      .problem("TYPE 00000125 (UNION) has a count of 3, but 2 MEMBER records follow")
      .add(Ctx().aggregate(14, 0x125, 4, 3, "u").member(0x100, 0, "ok"))
      .problem("MEMBER [bad] of TYPE 00000125 (UNION)" + u + "00000205")
      .add(Ctx().member(0x205, 0, "bad"))
      // Not type references: an enumeration constant's value, a BIT type's size, a STRUCT's size.
      .add(Ctx().enumeration(0x126, 1, "e").constant(0x206, "C").bit(0x127, 0, 0x207, 0))
      .add(Ctx().aggregate(13, 0x128, 0x208, 0, "s").aggregate(20, 0x129, 4, 1, "bf"))
      .problem("MEMBER [b] of TYPE 00000129 (BITFIELD)" + u + "00000209")
      .add(bitfield_member(0x209, 0, 1, "b"))
      .check(2 + 2 + 16 + 4 + 3 + 2 + 1 + 1 + 2);
}

TEST_F(CtxdumpTest, VerifyChecksSelfixModulesAndScopes) {
  Verified f;
  f.add(Ctx().header())
      .problem("PUBLIC [nowhere] names module 00000002, which no MODULE record defines")
      .add(Ctx().pub(0, 0, 1, 0x100, 2, "nowhere"));
  // A module may come after a PUBLIC that names it (a debug unit selected a later unit).
  f.add(Ctx().pub(0, 0, 1, 0x100, 3, "early"))
      .add(Ctx().module(3, "late").pub(0, 0, 1, 0x100, 3, "fine"))
      .problem("ENDLOCAL 00000010 with no open STARTLOCAL before it")
      .add(Ctx().end_local(0x10));
  const size_t start = f.size();
  f.add(Ctx().start_local(0x2000))
      .problem("ENDLOCAL 00001fff lies below its STARTLOCAL 00002000 (offset " +
               line::fmt("0x%zx", start) + ")")
      .add(Ctx().end_local(0x1FFF))
      .problem("ENDLOCAL 00003000 with no open STARTLOCAL before it")
      .add(Ctx().end_local(0x3000).start_local(0x10).end_local(0x10));
  const size_t types = f.size();
  f.add(Ctx().predefined())
      .problem("selfix 00000106 defined again (first at offset " +
               line::fmt("0x%zx", types + 6 * 6) + ")")
      .add(Ctx().type(6, 0x106))
      .check(5 + 6 + 16 + 1);
}

TEST_F(CtxdumpTest, VerifyOfAFileThatCannotBeReadToTheEnd) {
  // Types after the break are unknown, so references are not judged; what was read is.
  Verified cut;
  cut.add(Ctx(SOUND_START).pub(0, 0, 1, 0x300, 1, "ref"))
      .problem(
          "PUBLIC [mod] names module 00000007, which no MODULE record before the break defines")
      .add(Ctx().pub(0, 0, 1, 0x100, 7, "mod"));
  const std::string stop = "; reading stopped at offset " + line::fmt("%08zx", cut.size()) +
                           ", type references not checked";
  cut.problem("TYPE record cut short by the end of the file (4 bytes left)")
      .add(Bytes{9, 1, 0, 1})  // the first 4 bytes of the first predefined type
      .check(4, stop);
}

TEST_F(CtxdumpTest, VerifyWantsAHeaderRecordFirst) {
  // Reported at the first record, of any section; sound otherwise.
  Verified()
      .problem("the file begins with a MODULE record, not with a HEADER record")
      .add(Ctx().module(1, "m").header().predefined())
      .check(2 + 16);
  Verified()
      .problem("the file begins with a TYPE record, not with a HEADER record")
      .add(Ctx().predefined())
      .check(16);
  // A first byte that is no tag is a record that cannot be read, not a record of another kind.
  Verified()
      .problem("unknown record tag 08; the rest of the file cannot be read")
      .add(Bytes{8} + SOUND_START.bytes())
      .check(0, "; reading stopped at offset 00000000, type references not checked");
}

// Names in problems show control characters as \xNN, each problem on a line of its own; the
// other bytes stay as they are.
TEST_F(CtxdumpTest, VerifyShowsControlCharactersInNames) {
  Verified()
      .add(SOUND_START)
      .problem(
          "PUBLIC [a\\x0ab\\x1b[2J\\x7f\xe9] names module 00000002, which no MODULE record "
          "defines")
      .add(Ctx().pub(0, 0, 1, 0x100, 2, "a\nb\x1b[2J\x7f\xe9"))
      .problem("SETLOCAL [\\x09\\x0d] refers to undefined type index 00000300")
      .add(Ctx().set_local(3, 0, 0x300, "\t\r").predefined())
      .check(2 + 2 + 16);
}

// ---------------------------------------------------------------------------------------------
// Agreement with the converter

// The type indices that a pattern finds in a text, sorted (a multiset).
std::vector<std::string> indices(const std::string& text, const char* pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m)
    found.push_back((*m)[1]);
  std::sort(found.begin(), found.end());
  return found;
}

const char* const UNSOLVED = "Unsolved typeix ([0-9a-f]{8})\n";
const char* const UNDEFINED = "refers to undefined type index ([0-9a-f]{8})\n";

// Converts a program and checks ctxdump against the converter: the records read from the file
// are those the symbol dump lists, its main, local and type records one section after the other;
// --verify finds the undefined type indices that -k reports. Returns the --verify output.
std::string check_round_trip(const Builder& b) {
  EXPECT_FALSE(convert(b).empty());
  // The record lines of the dump, without the messages of the translation.
  const std::string dumped =
      std::regex_replace(dump(b), std::regex("undefined id \\(get_sid\\)\n"), "");
  std::vector<std::string> in_file_order = lines_of(dumped.substr(1));
  auto section = [](const std::string& l) {
    const std::string label = l.substr(0, l.find(':'));
    if (label == "STARTLOCAL" || label == "ENDLOCAL" || label == "SETLOCAL") return 1;
    return label == "TYPE" || label == "MEMBER" ? 2 : 0;
  };
  std::stable_sort(in_file_order.begin(), in_file_order.end(),
                   [&](const auto& x, const auto& y) { return section(x) < section(y); });

  DumpRun listed = run_ctxdump({"in.ctx"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(lines_of(listed.out), in_file_order);

  DumpRun verified = run_ctxdump({"--verify", "in.ctx"});
  RunResult k = run_on(b, {"-k"});
  EXPECT_EQ(indices(verified.out, UNDEFINED), indices(k.body(), UNSOLVED)) << k.body();
  return verified.out;
}

TEST_F(CtxdumpTest, ExampleProgramRoundTripAndCutCopies) {
  write_file("main.cpd", example_companion());
  const std::string verified = check_round_trip(example_program());
  EXPECT_EQ(verified.rfind("in.ctx: sound: ", 0), 0u) << verified;
  EXPECT_EQ(std::count(verified.begin(), verified.end(), '\n'), 1) << verified;

  // A copy cut anywhere inside a record is reported as cut short at that record.
  const Bytes ctx = file_bytes("in.ctx");
  std::vector<size_t> starts;  // of the records, and the end of the file
  tek::CtxRecord rec;
  for (tek::CtxReader r{ctx}; tek::read_record(r, rec) == tek::CtxStep::Record;)
    starts.push_back(rec.offset);
  starts.push_back(ctx.size());
  for (size_t n = 0; n <= ctx.size(); ++n) {
    const tekconv::Expected<tek::CtxVerdict> verdict = tek::verify_ctx({ctx.data(), n});
    ASSERT_TRUE(verdict) << n;
    const tek::CtxVerdict& v = *verdict;
    const size_t start = *(std::upper_bound(starts.begin(), starts.end(), n) - 1);
    EXPECT_EQ(v.complete, start == n) << n;
    if (start == n) continue;
    ASSERT_FALSE(v.problems.empty()) << n;
    EXPECT_EQ(v.problems.back().offset, start) << n;
  }
}

TEST_F(CtxdumpTest, GeneratedProgramsRoundTripAndAgreeWithTheCheckMode) {
  size_t undefined = 0, duplicates = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string verified = check_round_trip(ProgramGenerator(seed).make());
    // The converter's files break no rule but those of the type graph.
    const size_t u = indices(verified, UNDEFINED).size();
    const size_t d = indices(verified, "selfix ([0-9a-f]{8}) defined again").size();
    EXPECT_EQ(std::count(verified.begin(), verified.end(), '\n'), 1 + u + d) << verified;
    undefined += u;
    duplicates += d;
  }
  // The generator reaches the cases the agreement is about.
  EXPECT_GT(undefined, 20u);
  EXPECT_GT(duplicates, 0u);
}

// ---------------------------------------------------------------------------------------------
// The programs as installed

TEST_F(CtxdumpTest, InstallPutsBothProgramsAndBothManPagesInPlace) {
  const std::string prefix = dir_ + "/prefix";
  const std::string install =
      "'" TEKCONV_CMAKE "' --install '" TEKCONV_BUILD_DIR "' --prefix '" + prefix + "'";
  std::string out;
  ASSERT_EQ(run_process(install, &out), 0) << out;
  for (const auto& [page, title] : {std::pair{"tekconv", "TEKCONV"}, {"ctxdump", "CTXDUMP"}}) {
    const std::string text = read_file(prefix + "/share/man/man1/" + page + ".1");
    EXPECT_NE(text.find(std::string("\n.TH ") + title + " 1 "), std::string::npos) << page;
    for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH OPTIONS", ".SH EXIT STATUS",
                                ".SH FILES", ".SH EXAMPLES"})
      EXPECT_NE(text.find(section), std::string::npos) << page << " " << section;
  }
  // The installed programs run, with their exit statuses.
  write_bytes("good.ctx", Ctx(SOUND_START).predefined().bytes());
  const std::string ctxdump = "'" + prefix + "/bin/ctxdump'";
  EXPECT_EQ(run_process(ctxdump + " --verify good.ctx", &out), 0);
  EXPECT_EQ(out, "good.ctx: sound: 18 records, 116 bytes\n");
  EXPECT_EQ(run_process(ctxdump + " --verify nothing.ctx"), 2);
  EXPECT_EQ(run_process("'" + prefix + "/bin/tekconv'", &out), 255);
  EXPECT_EQ(out.rfind("ORVA Object File Converter", 0), 0u);
}

}  // namespace
