// ctxdump: listing finished context files, checking their structure, agreeing with the
// converter's own symbol dump and type index check, and installing.
#include "ctxdump/ctxdump.hpp"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "context/ctxfile.hpp"
#include "example_program.hpp"
#include "support.hpp"

using namespace tektest;
using namespace tekrec;

namespace {

struct DumpRun {
  int status = 0;
  std::string out, err;
};

// Runs ctxdump in-process on the given arguments (without the program name).
DumpRun run_ctxdump(const std::vector<std::string>& args) {
  char *out_text = nullptr, *err_text = nullptr;
  size_t out_size = 0, err_size = 0;
  FILE* out = ::open_memstream(&out_text, &out_size);
  FILE* err = ::open_memstream(&err_text, &err_size);
  std::vector<std::string> argv = {"ctxdump"};
  argv.insert(argv.end(), args.begin(), args.end());
  DumpRun r;
  r.status = tek::ctxdump_main(argv, out, err);
  std::fclose(out);
  std::fclose(err);
  r.out.assign(out_text, out_size);
  r.err.assign(err_text, err_size);
  std::free(out_text);
  std::free(err_text);
  return r;
}

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

std::string hex_offset(size_t offset) {
  return line::fmt("%08zx", offset);
}

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A name length byte and the name.
Bytes named(const std::string& s) {
  return Bytes{static_cast<uint8_t>(s.size())} + Bytes(s.begin(), s.end());
}

// Context records that Ctx has no function for, encoded from their layouts.
Bytes typedef_type(uint32_t selfix, uint32_t typeix, const std::string& name) {
  return Bytes{9, 21} + le32(selfix) + le32(typeix) + named(name);
}
Bytes bitfield_member(uint32_t typeix, uint32_t bitoffs, uint32_t bitsize, const std::string& n) {
  return Bytes{10} + le32(typeix) + le32(bitoffs) + le32(bitsize) + named(n);
}
const Bytes BARE_MEMBER = {10};  // a MEMBER after a TYPE of a kind without members

// The listing of the records whose symbol dump text is given: ctxdump ends each line with a
// newline where the symbol dump begins it with one.
std::string listing(const std::string& dump) {
  return dump.substr(1) + "\n";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class CtxdumpTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// Listing

// Every record kind and every MEMBER layout, each record followed by another, so that a record
// read with a wrong size garbles what follows it.
TEST_F(CtxdumpTest, ListsEveryRecordInTheDumpLineFormats) {
  Ctx c;
  c.header().module(1, "main").pub(0, 0x1000, 1, 0x120, 1, "main").file("main.c");
  c.line(10, 0x1000).end_line(0).object(0x2000, {1, 2, 3}).addr_flag(0x3000, 1);
  c.start_local(0x1000).set_local(3, 0xFFFFFFFC, 0x106, "i").end_local(0x103F);
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

  DumpRun r = run_ctxdump({"t.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            listing(line::header() + line::module(1, "main") + line::pub(0x1000, 0x120, "main") +
                    line::file("main.c") + line::line(10, 0x1000) + line::endline(0) +
                    line::object(0x2000, 3) + line::addr_flag(0x3000, 1) + line::startl(0x1000) +
                    line::setl(0xFFFFFFFC, "AUTO", 0x106, "i") + line::endl(0x103F) +
                    line::agg(13, 0x121, 8, 2, "point") + line::mem(0x106, 0, "x") +
                    line::mem(0x106, 4, "y") + line::agg(14, 0x128, 4, 1, "word") +
                    line::mem(0x102, 0, "c") + line::agg(28, 0x129, 4, 1, "Dev") +
                    line::mem(0x107, 2, "id") + line::enm(0x122, "color") + line::cnst(2, "BLUE") +
                    line::func(0x120, 0x106, 2) + "\nMEMBER:" + line::ptr(18, 0x123, 0x121) +
                    line::ptr(26, 0x12a, 0x122) + line::arr(0x124, 0x102, 8) +
                    line::bit(0x125, 1, 3, 0xFFFFFFFE) + line::func(0x12b, 0x100, 0, true) +
                    line::type(11, 0x10b) + "\nMEMBER:" + line::tdef(0x126, 0x121, "point_t") +
                    line::agg(20, 0x127, 4, 1, "flags") + line::bfmem(0x125, 3, 5, "rdy")));
}

TEST_F(CtxdumpTest, HexListsObjectDataByLoadAddress) {
  Bytes data;
  for (int i = 0; i < 20; ++i) data.push_back(static_cast<uint8_t>(0xA0 + i));
  write_bytes("t.ctx", Ctx().object(0xFFFFFFF8, data).object(0x1000, {}).line(1, 2).bytes());

  DumpRun r = run_ctxdump({"-x", "t.ctx"});
  EXPECT_EQ(r.status, 0);
  // The second line of data begins 16 bytes on, where the 32-bit address wraps to 8.
  EXPECT_EQ(r.out,
            "Object : fffffff8 - 0000000b\n"
            "  fffffff8: a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\n"
            "  00000008: b0 b1 b2 b3\n"
            "Object : 00001000 - 00000fff\n"
            "LINE:      line=1     ,addr=00000002\n");
  EXPECT_EQ(run_ctxdump({"--hex", "t.ctx"}).out, r.out);
}

TEST_F(CtxdumpTest, NamesPrintUpToALengthOf255AndStopAtAZeroByte) {
  std::string long_name(255, 'n');
  write_bytes("t.ctx", Ctx().module(1, long_name).file(std::string("a\0b", 3)).bytes());
  DumpRun r = run_ctxdump({"t.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, listing(line::module(1, long_name) + line::file("a")));
}

TEST_F(CtxdumpTest, ListingStopsAtARecordItCannotRead) {
  const Bytes pub = Ctx().pub(0, 1, 1, 0x100, 1, "name").bytes();
  const struct {
    Bytes rest;
    std::string problem;
  } rows[] = {
      {{8, 1, 2}, "unknown record tag 08; the rest of the file cannot be read"},
      {{12}, "unknown record tag 0c; the rest of the file cannot be read"},
      {Bytes(pub.begin(), pub.end() - 1),
       "PUBLIC record cut short by the end of the file (20 bytes left)"},
      {{11, 2, 0, 0, 0, 0, 0, 4, 0, 1, 2, 3},
       "OBJECT record cut short by the end of the file (12 bytes left)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.problem);
    write_bytes("t.ctx", Ctx().start_local(0x10).bytes() + row.rest);
    DumpRun r = run_ctxdump({"t.ctx"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "STARTLOCAL:addr=00000010\n");
    EXPECT_EQ(r.err, "ctxdump: t.ctx: offset 00000005: " + row.problem + "\n");
  }
}

// A sound file: HEADER, MODULE 1 and the 16 predefined types.
Ctx sound_start() {
  return Ctx().header().module(1, "m");
}

TEST_F(CtxdumpTest, CommandLine) {
  write_bytes("a.ctx", Ctx().end_line(0).bytes());
  write_bytes("b.ctx", Ctx().end_local(0x20).bytes());
  write_bytes("empty.ctx", {});
  write_bytes("-x", Ctx().end_line(1).bytes());
  write_bytes("good.ctx", sound_start().predefined().bytes());
  write_bytes("bad.ctx", Ctx().header().predefined().end_local(1).bytes());
  ASSERT_EQ(::mkdir("dir.ctx", 0755), 0);
  const std::string a = "ENDLINE:   mode=0000\n", b = "ENDLOCAL:  addr=00000020\n";
  const std::string missing = "ctxdump: missing.ctx: cannot read: No such file or directory\n";
  const std::string verified =
      "good.ctx: sound: 18 records, 116 bytes\n"
      "bad.ctx: offset 0000006d: ENDLOCAL record of the local section after records of the type "
      "section\n"
      "bad.ctx: offset 0000006d: ENDLOCAL 00000001 with no open STARTLOCAL before it\n"
      "bad.ctx: 2 problems: 18 records, 114 bytes\n";
  const std::string usage = "Usage: ctxdump";  // the usage text that follows on standard error
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } rows[] = {
      {{"a.ctx", "empty.ctx", "b.ctx"},
       0,
       "==> a.ctx <==\n" + a + "\n==> empty.ctx <==\n\n==> b.ctx <==\n" + b,
       ""},
      // The readable files are still listed; the status says that one could not be read.
      {{"missing.ctx", "a.ctx", "dir.ctx"},
       2,
       "==> missing.ctx <==\n\n==> a.ctx <==\n" + a + "\n==> dir.ctx <==\n",
       missing + "ctxdump: dir.ctx: cannot read: Is a directory\n"},
      // After "--" a name that begins with '-' is a file.
      {{"--", "-x"}, 0, "ENDLINE:   mode=0001\n", ""},
      {{"--verify", "good.ctx", "missing.ctx", "bad.ctx"}, 2, verified, missing},
      {{}, 2, "", usage},
      {{"-q", "a.ctx"}, 2, "", "ctxdump: unknown option -q\n" + usage},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    DumpRun r = run_ctxdump(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(row.err.ends_with(usage) ? r.err.substr(0, row.err.size()) : r.err, row.err);
  }
  DumpRun help = run_ctxdump({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind(usage, 0), 0u);
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
  // A problem at the offset of the next record (or of the end of the file).
  Verified& problem(const std::string& text) { return problem_at(bytes_.size(), text); }
  Verified& problem_at(size_t offset, const std::string& text) {
    problems_ += "t.ctx: offset " + hex_offset(offset) + ": " + text + "\n";
    ++count_;
    return *this;
  }
  size_t size() const { return bytes_.size(); }

  // The whole report: the problems, then the summary line.
  void check(size_t records, const std::string& note = "") const {
    write_bytes("t.ctx", bytes_);
    DumpRun r = run_ctxdump({"--verify", "t.ctx"});
    std::string summary = count_ == 0 ? "sound: " : std::to_string(count_) + " problem";
    if (count_ != 0) summary += count_ == 1 ? ": " : "s: ";
    summary += std::to_string(records) + " records, " + std::to_string(bytes_.size()) + " bytes";
    EXPECT_EQ(r.out, problems_ + "t.ctx: " + summary + note + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, count_ == 0 ? 0 : 1);
  }

 private:
  Bytes bytes_;
  std::string problems_;
  size_t count_ = 0;
};

std::string not_predefined(const std::string& expected_type) {
  return "type section does not begin with the 16 predefined types: expected TYPE " +
         expected_type + " here";
}

TEST_F(CtxdumpTest, VerifyAcceptsASoundFile) {
  Verified()
      .add(sound_start()
               .pub(0, 0x1000, 1, 0x120, 1, "f")  // a forward reference to the FUNCTION below
               .start_local(0x1000)
               .set_local(3, 8, 0x121, "s")
               .end_local(0x1000)  // a function of one byte ends where it starts
               .start_local(0x2000)
               .predefined()
               .function(16, 0x120, 0x100, 1)
               .aggregate(13, 0x121, 8, 2, "pair")
               .member(0x121, 0, "self")
               .member(0x10F, 4, "last")
               .enumeration(0x122, 0, "empty")
               .aggregate(14, 0x123, 0, 0, "none"))
      .check(2 + 5 + 16 + 6);
}

TEST_F(CtxdumpTest, VerifyChecksTheSectionOrder) {
  // One line where the order turns back: the LINE after the PUBLIC is not reported again.
  Verified()
      .add(sound_start().start_local(0x10))
      .problem("PUBLIC record of the main section after records of the local section")
      .add(Ctx().pub(0, 0, 1, 0x100, 1, "late").line(1, 2))
      .add(Ctx().set_local(3, 0, 0x100, "x").predefined())
      .problem("FILE record of the main section after records of the type section")
      .add(Ctx().file("f.c").end_line())
      .problem("ENDLOCAL record of the local section after records of the type section")
      .add(Ctx().end_local(0x20).type(1, 0x120))
      .check(2 + 1 + 2 + 1 + 16 + 2 + 2);
}

TEST_F(CtxdumpTest, VerifyChecksThePredefinedTypes) {
  const Bytes all = Ctx().predefined().bytes();  // 16 records of 6 bytes
  Verified()
      .add(sound_start().type(1, 0x100).type(1, 0x101))
      .problem(not_predefined("00000102 (8SIGNED)"))
      .add(Ctx().type(3, 0x102))
      .add(Bytes(all.begin() + 18, all.end()))
      .check(2 + 16);
  Verified()
      .add(sound_start())
      .add(Bytes(all.begin(), all.begin() + 5 * 6))
      .problem("the file ends after 5 of the 16 predefined types")
      .check(2 + 5);
  Verified()
      .add(sound_start())
      .problem("no type section: the 16 predefined types are missing")
      .check(2);
}

TEST_F(CtxdumpTest, VerifyChecksMemberCountsAndKinds) {
  Verified()
      .add(sound_start().predefined())
      .problem("TYPE 00000120 (STRUCT) has a count of 2, but 1 MEMBER record follows")
      .add(Ctx().aggregate(13, 0x120, 8, 2, "two").member(0x100, 0, "only"))
      .problem("TYPE 00000121 (ENUM) has a count of 0, but 2 MEMBER records follow")
      .add(Ctx().enumeration(0x121, 0, "none").constant(1, "A").constant(2, "B"))
      .problem("TYPE 00000122 (FUNCTION) has no members, but 1 MEMBER record follows")
      .add(Ctx().function(16, 0x122, 0x100, 0))
      .add(BARE_MEMBER)
      // A TYPE record of an undefined kind is read without kind fields.
      .problem("TYPE 00000124 of undefined kind 1d, read without kind fields")
      .problem("TYPE 00000124 (?) has no members, but 1 MEMBER record follows")
      .add(Ctx().type(29, 0x124))
      .add(BARE_MEMBER)
      .problem("TYPE 00000125 of undefined kind 00, read without kind fields")
      .add(Ctx().type(0, 0x125))
      // Its member is missing at the end of the file.
      .problem("TYPE 00000123 (CLASS) has a count of 1, but 0 MEMBER records follow")
      .add(Ctx().aggregate(28, 0x123, 4, 1, "last"))
      .check(2 + 16 + 2 + 3 + 2 + 3 + 1);
  // A MEMBER record that no TYPE record precedes; it has no fields then.
  Verified()
      .add(sound_start())
      .problem(not_predefined("00000100 (VOID)"))
      .problem("MEMBER record that follows no TYPE record")
      .add(BARE_MEMBER)
      .add(Ctx().predefined())
      .check(2 + 1 + 16);
}

TEST_F(CtxdumpTest, VerifyFindsUndefinedTypeIndicesWhereTheCheckModeLooks) {
  const std::string u = " refers to undefined type index ";
  Verified()
      .add(sound_start())
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
      .add(Ctx().aggregate(14, 0x125, 4, 2, "u").member(0x100, 0, "ok"))
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
  const size_t early = f.size();
  f.add(Ctx().pub(0, 0, 1, 0x100, 3, "early"));
  f.problem_at(early,
               "PUBLIC [early] names module 00000003, whose MODULE record comes only after "
               "it (offset " +
                   hex_offset(f.size()) + ")")
      .add(Ctx().module(3, "late").pub(0, 0, 1, 0x100, 3, "fine"))
      .problem("ENDLOCAL 00000010 with no open STARTLOCAL before it")
      .add(Ctx().end_local(0x10));
  const size_t start = f.size();
  f.add(Ctx().start_local(0x2000))
      .problem("ENDLOCAL 00001fff lies below its STARTLOCAL 00002000 (offset " + hex_offset(start) +
               ")")
      .add(Ctx().end_local(0x1FFF))
      .problem("ENDLOCAL 00003000 with no open STARTLOCAL before it")
      .add(Ctx().end_local(0x3000).start_local(0x10).end_local(0x10));
  const size_t types = f.size();
  f.add(Ctx().predefined())
      .problem("selfix 00000106 defined again (first at offset " + hex_offset(types + 6 * 6) + ")")
      .add(Ctx().type(6, 0x106))
      .check(5 + 6 + 16 + 1);
}

TEST_F(CtxdumpTest, VerifyOfAFileThatCannotBeReadToTheEnd) {
  // Types after the break are unknown, so references are not judged; what was read is.
  Verified cut;
  cut.add(sound_start().pub(0, 0, 1, 0x300, 1, "ref"))
      .problem("PUBLIC [mod] names module 00000007, which no MODULE record before it defines")
      .add(Ctx().pub(0, 0, 1, 0x100, 7, "mod"));
  const std::string stop =
      "; reading stopped at offset " + hex_offset(cut.size()) + ", type references not checked";
  cut.problem("TYPE record cut short by the end of the file (4 bytes left)")
      .add(Bytes{9, 1, 0, 1})  // the first 4 bytes of the first predefined type
      .check(4, stop);
}

// ---------------------------------------------------------------------------------------------
// Agreement with the converter

// The record lines of a listing by section: main, local, type.
std::array<std::vector<std::string>, 3> by_section(const std::vector<std::string>& lines) {
  std::array<std::vector<std::string>, 3> s;
  for (const std::string& l : lines) {
    const std::string label = l.substr(0, l.find(':'));
    if (label == "STARTLOCAL" || label == "ENDLOCAL" || label == "SETLOCAL")
      s[1].push_back(l);
    else if (label == "TYPE" || label == "MEMBER")
      s[2].push_back(l);
    else
      s[0].push_back(l);
  }
  return s;
}

// The type indices named by the lines that match a pattern, sorted (a multiset).
std::vector<std::string> indices(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  std::regex re(pattern);
  for (const std::string& l : lines_of(text)) {
    std::smatch m;
    if (std::regex_search(l, m, re)) found.push_back(m[1]);
  }
  std::sort(found.begin(), found.end());
  return found;
}

const char* const UNSOLVED = "^Unsolved typeix ([0-9a-f]{8})$";
const char* const UNDEFINED = "refers to undefined type index ([0-9a-f]{8})$";

// Converts a program and checks ctxdump against the converter: the records read from the file
// are those the symbol dump lists, its main, local and type records one section after the other;
// --verify finds the undefined type indices that -k reports. Returns the --verify output.
std::string check_round_trip(const Builder& b, const std::vector<std::string>& options = {}) {
  EXPECT_FALSE(convert(b, options).empty());
  std::vector<std::string> dump_options = options;
  dump_options.insert(dump_options.begin(), "-s");
  RunResult d = run_on(b, dump_options);
  EXPECT_EQ(d.status, 0);
  // The record lines of the dump, without the messages of the translation.
  std::string dumped = d.body();
  const std::string message = "undefined id (get_sid)\n";
  for (size_t at; (at = dumped.find(message)) != std::string::npos;)
    dumped.erase(at, message.size());
  std::vector<std::string> in_file_order;
  for (const auto& section : by_section(lines_of(dumped.substr(1))))
    in_file_order.insert(in_file_order.end(), section.begin(), section.end());

  DumpRun listed = run_ctxdump({"in.ctx"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(lines_of(listed.out), in_file_order);

  DumpRun verified = run_ctxdump({"--verify", "in.ctx"});
  if (options.empty()) {  // the check mode takes no other option
    RunResult k = run_on(b, {"-k"});
    EXPECT_EQ(indices(verified.out, UNDEFINED), indices(k.body(), UNSOLVED))
        << "--verify:\n"
        << verified.out << "-k:\n"
        << k.body();
  }
  return verified.out;
}

TEST_F(CtxdumpTest, ExampleProgramRoundTripAndDamagedCopies) {
  write_file("main.cpd", example_companion());
  const std::string verified = check_round_trip(example_program());
  EXPECT_EQ(lines_of(verified).size(), 1u) << verified;
  EXPECT_EQ(verified.rfind("in.ctx: sound: ", 0), 0u) << verified;
  // The memory image comes back byte for byte: the example's first section holds 600 bytes
  // (seed 0x10, step 7) in OBJECT records of 256, 256 and 88 bytes.
  EXPECT_NE(run_ctxdump({"-x", "in.ctx"})
                .out.find("Object : 00001200 - 00001257\n"
                          "  00001200: 10 17 1e 25 2c 33 3a 41 48 4f 56 5d 64 6b 72 79\n"),
            std::string::npos);

  // Every prefix of the file is read without harm: a prefix that ends inside a record is reported
  // as cut short at that record.
  const Bytes ctx = file_bytes("in.ctx");
  std::vector<size_t> boundaries;
  tek::CtxReader reader{ctx};
  tek::CtxRecord rec;
  while (tek::read_record(reader, rec) == tek::CtxStep::Record) boundaries.push_back(rec.offset);
  ASSERT_EQ(reader.pos, ctx.size());
  boundaries.push_back(ctx.size());

  FILE* null = std::fopen("/dev/null", "w");
  ASSERT_NE(null, nullptr);
  for (size_t n = 0; n <= ctx.size(); ++n) {
    SCOPED_TRACE(n);
    const std::span<const uint8_t> prefix(ctx.data(), n);
    const tek::CtxVerdict v = tek::verify_ctx(prefix);
    const bool on_boundary = std::binary_search(boundaries.begin(), boundaries.end(), n);
    EXPECT_EQ(v.complete, on_boundary);
    if (!on_boundary) {
      ASSERT_FALSE(v.problems.empty());
      EXPECT_EQ(v.problems.back().offset,
                *(std::upper_bound(boundaries.begin(), boundaries.end(), n) - 1));
      EXPECT_NE(v.problems.back().text.find("cut short"), std::string::npos);
    }
    EXPECT_EQ(tek::ctxdump_bytes(prefix, "p", {false, true}, null, null), on_boundary ? 0 : 1);
  }
  std::fclose(null);
}

// A random program of the records the converter translates without complaint (apart from
// undefined type ids): memory images, debug units with and without source files, nested
// aggregates with bit-fields, arrays, pointers and function types, globals, functions with
// locals of every class, untyped symbols, line tables.
class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint32_t seed) : rng_(seed) {}

  Builder make() {
    // One unit with sections P, D and B; basic types 1 = int, 2 = char, 3 = unsigned short, and
    // two that name no TYPE record: a bare kind code (4 = 13) and no type (5 = 0). All are set
    // before any symbol uses them, since the check mode's second pass starts with the table
    // that its first pass left, and a conversion with an empty one.
    b_ = program(chance(50) ? "SH7032" : "MC68000");
    b_.basetype(4, 9, 4, 0).basetype(5, 1, 0, 0);
    debug_unit();
    const std::function<void()> items[] = {
        [&] { aggregate(0); },
        [&] { function(); },
        [&] { debug_unit(); },
        [&] {
          b_.symbol({UNTYPED, 0, name("l"), {}, at_section(1, pick(0, 0x100)), {}});
        },
        [&] { global(); },
        [&] { lines(); },
        [&] { image(); },
    };
    for (int i = pick(3, 30); i > 0; --i) items[pick(0, 6)]();
    return b_.end();
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return pick(1, 100) <= percent; }
  std::string name(const char* stem) { return stem + std::to_string(serial_++); }
  uint16_t known_id() { return ids_[pick(0, static_cast<int>(ids_.size()) - 1)]; }

  // Without SRCFILES a debug unit shares the type id table with the one before it.
  void debug_unit() {
    b_.dbgunit(chance(50) ? 0x01 : 0x10, 0);  // near or far functions
    source_ = chance(70);
    if (!source_) return;
    b_.srcfiles({{"src/", name("f") + ".c"}, {"", name("h") + ".h"}});
    ids_.clear();
  }

  void lines() {
    if (!source_) return;
    std::vector<std::pair<uint16_t, uint32_t>> pairs;
    for (int i = pick(1, 4); i > 0; --i) pairs.push_back({pick(1, 900), pick(0, 99)});
    b_.sect(0, 0).curfile(static_cast<uint16_t>(pick(0, 1))).lines(pairs);
  }

  void image() {
    Bytes data(pick(0, 600));
    for (auto& x : data) x = static_cast<uint8_t>(pick(0, 255));
    b_.sect(0, static_cast<uint16_t>(pick(0, 2))).data(data);
  }

  Fields type() {
    const int k = pick(0, 9);
    if (k < 6 || ids_.empty()) return basic_type(static_cast<uint8_t>(pick(1, 5)));
    if (k < 9) return type_id(known_id());
    return type_id(static_cast<uint16_t>(pick(0x7000, 0x7010)));  // never registered
  }

  Fields placed(int form) { return in_section(static_cast<uint8_t>(form), 2, pick(0, 0x200), 4); }

  // ARRTYPE (0 to 2 dimensions), DPT (one or two) or nothing after a symbol or member.
  void refine() {
    const int k = pick(0, 5);
    std::vector<uint32_t> bounds;
    for (int i = pick(0, 2); k == 0 && i > 0; --i) bounds.push_back(pick(0, 9));
    if (k == 0) b_.arrtype(bounds);
    if (k == 1) b_.dpt(static_cast<uint8_t>(std::vector<int>{0, 2, 3, 4}[pick(0, 3)]));
    if (k == 1 && chance(30)) b_.dpt(0);
  }

  void global() {
    b_.symbol({VARIABLE, 0, name("g"), type(), placed(pick(2, 5)), {}});
    refine();
    if (chance(15)) b_.functype();
  }

  void aggregate(int depth) {
    // Now and then a tag reuses an id, giving two TYPE records one selfix.
    const uint16_t id = (!ids_.empty() && chance(10)) ? known_id() : next_id_++;
    const int kind = pick(0, 2);
    b_.symbol(kind == 0   ? enum_tag(id, name("e"))
              : kind == 1 ? structure(id, name("s"), pick(1, 64))
                          : union_tag(id, name("u"), pick(1, 64)));
    ids_.push_back(id);
    b_.aggr_begin();
    for (uint32_t i = pick(0, 5), offset = 0; i > 0; --i, offset += 4) {
      const int k = pick(0, 9);
      const int8_t bit_offset = static_cast<int8_t>(pick(-2, 7));
      if (kind == 0) {
        b_.symbol(constant(name("C"), std::to_string(pick(0, 99))));
      } else if (k == 0 && depth < 3) {  // a member of a nested aggregate's type
        aggregate(depth + 1);
        b_.symbol(member_of(name("n"), ids_.back(), offset));
      } else if (k < 3) {
        b_.symbol({MEMBER, 0, name("b"), type(), bitfield_at(offset, pick(1, 7), bit_offset), {}});
      } else {
        b_.symbol({MEMBER, 0, name("m"), type(), member_at(offset, 4), {}});
        refine();
      }
    }
    b_.aggr_end();
  }

  void function() {
    const uint16_t id = next_id_++;
    const uint32_t start = pick(0, 0x100);
    b_.symbol({FUNCTION, id, name("fn"), type(), in_section(2, 0, start, pick(1, 0x40)), {}});
    b_.attr(0, static_cast<uint8_t>(pick(0, 3)));
    for (int i = pick(0, 4); i > 0; --i) {
      const Fields locations[] = {in_frame(chance(50) ? 8 : 0xFFFFFFF8), in_register("R5"),
                                  placed(4), in_registers({"R4", "R5"})};
      b_.symbol({VARIABLE, 0, name("v"), type(), locations[pick(0, 3)], {}});
      refine();
    }
    b_.blkend(chance(85) ? 0x40 : 0x00);
    ids_.push_back(id);
  }

  std::mt19937 rng_;
  Builder b_;
  bool source_ = false;
  std::vector<uint16_t> ids_;
  uint16_t next_id_ = 0x100;
  int serial_ = 0;
};

TEST_F(CtxdumpTest, GeneratedProgramsRoundTripAndAgreeWithTheCheckMode) {
  size_t undefined = 0, duplicates = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::vector<std::string> options;
    if (seed % 4 == 0) options = {"-l"};  // every function type FARFUNC
    const std::string verified = check_round_trip(ProgramGenerator(seed).make(), options);
    // The converter's files break no rule but those of the type graph.
    const size_t u = indices(verified, UNDEFINED).size();
    const size_t d = indices(verified, "selfix ([0-9a-f]{8}) defined again").size();
    EXPECT_EQ(lines_of(verified).size(), 1 + u + d) << verified;
    EXPECT_EQ(lines_of(verified).back().rfind("in.ctx: ", 0), 0u) << verified;
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
  std::string log;
  ASSERT_EQ(
      run_process("'" TEKCONV_CMAKE "' --install '" TEKCONV_BUILD_DIR "' --prefix '" + prefix + "'",
                  &log),
      0)
      << log;
  for (const std::string page : {"tekconv", "ctxdump"}) {
    const std::string text = read_file(prefix + "/share/man/man1/" + page + ".1");
    std::string upper = page;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_NE(text.find("\n.TH " + upper + " 1 "), std::string::npos) << page;
    for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH OPTIONS", ".SH EXIT STATUS",
                                ".SH FILES", ".SH EXAMPLES"})
      EXPECT_NE(text.find(section), std::string::npos) << page << " " << section;
  }
  // The installed programs run, with their exit statuses.
  write_bytes("good.ctx", sound_start().predefined().bytes());
  write_bytes("bad.ctx", Ctx().header().bytes());
  const std::string ctxdump = "'" + prefix + "/bin/ctxdump'";
  std::string out;
  EXPECT_EQ(run_process(ctxdump + " --verify good.ctx", &out), 0);
  EXPECT_EQ(out, "good.ctx: sound: 18 records, 116 bytes\n");
  EXPECT_EQ(run_process(ctxdump + " --verify good.ctx bad.ctx"), 1);
  EXPECT_EQ(run_process(ctxdump + " --verify nothing.ctx"), 2);
  EXPECT_EQ(run_process("'" + prefix + "/bin/tekconv'", &out), 255);
  EXPECT_EQ(out.rfind("ORVA Object File Converter", 0), 0u);
}

}  // namespace
