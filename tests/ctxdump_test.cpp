// ctxdump: listing finished context files, checking their structure, agreeing with the
// converter's own symbol dump and type index check, and installing.
#include "ctxdump/ctxdump.hpp"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "context/ctxfile.hpp"
#include "support.hpp"

using namespace tektest;
using namespace tekrec;

namespace {

// ---------------------------------------------------------------------------------------------
// Helpers

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

void write_bytes(const std::string& path, const Bytes& b) {
  write_file(path, std::string(b.begin(), b.end()));
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Context records that support's Ctx has no function for, encoded by hand from their layouts.
struct Raw {
  Bytes b;
  Raw& u8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Raw& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Raw& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Raw& name(const std::string& s) {
    u8(static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
};

Bytes typedef_type(uint32_t selfix, uint32_t typeix, const std::string& name) {
  return Raw().u8(9).u8(21).u32(selfix).u32(typeix).name(name).b;
}
Bytes bitfield_member(uint32_t typeix, uint32_t bitoffs, uint32_t bitsize, const std::string& n) {
  return Raw().u8(10).u32(typeix).u32(bitoffs).u32(bitsize).name(n).b;
}
Bytes bare_member() {
  return {10};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The symbol dump and ctxdump print the same record lines; the dump lists them in emission
// order, the file holds the main, the local and the type stream one after the other.
struct Streams {
  std::vector<std::string> main, local, type;
};

Streams split_streams(const std::vector<std::string>& lines) {
  static const char* const MAIN[] = {"HEADER:    ", "PUBLIC:    ", "FILE:      ", "ENDLINE:   ",
                                     "LINE:      ", "Object : ",   "MODULE:    ", "ADDRFLAG:    "};
  static const char* const LOCAL[] = {"STARTLOCAL:", "ENDLOCAL:  ", "SETLOCAL:  "};
  static const char* const TYPE[] = {"TYPE:      ", "MEMBER:"};
  auto starts = [](const std::string& s, const char* p) { return s.rfind(p, 0) == 0; };
  Streams s;
  for (const std::string& l : lines) {
    if (std::any_of(std::begin(MAIN), std::end(MAIN), [&](auto p) { return starts(l, p); }))
      s.main.push_back(l);
    else if (std::any_of(std::begin(LOCAL), std::end(LOCAL), [&](auto p) { return starts(l, p); }))
      s.local.push_back(l);
    else if (std::any_of(std::begin(TYPE), std::end(TYPE), [&](auto p) { return starts(l, p); }))
      s.type.push_back(l);
    else
      ADD_FAILURE() << "not a record line: [" << l << "]";
  }
  return s;
}

// The record lines of a symbol dump, without the messages that the translation printed.
std::vector<std::string> dump_record_lines(std::string body) {
  const std::string message = "undefined id (get_sid)\n";
  for (size_t at; (at = body.find(message)) != std::string::npos;) body.erase(at, message.size());
  EXPECT_EQ(body.substr(0, 1), "\n");
  return lines_of(body.substr(1));
}

// The type indices named by the lines that match a pattern, as a sorted list (a multiset).
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
// are those the symbol dump lists, stream by stream; --verify finds the undefined type indices
// that -k reports. Returns the --verify output.
std::string check_round_trip(const Builder& b, const std::vector<std::string>& options = {}) {
  Bytes ctx = convert(b, options);
  EXPECT_FALSE(ctx.empty());

  std::vector<std::string> dump_options = options;
  dump_options.insert(dump_options.begin(), "-s");
  RunResult d = run_on(b, dump_options);
  EXPECT_EQ(d.status, 0);
  Streams emitted = split_streams(dump_record_lines(d.body()));

  DumpRun listed = run_ctxdump({"in.ctx"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.err, "");
  std::vector<std::string> file_lines = lines_of(listed.out);
  Streams read = split_streams(file_lines);
  EXPECT_EQ(read.main, emitted.main);
  EXPECT_EQ(read.local, emitted.local);
  EXPECT_EQ(read.type, emitted.type);
  // The file holds the streams one after the other.
  std::vector<std::string> joined = read.main;
  joined.insert(joined.end(), read.local.begin(), read.local.end());
  joined.insert(joined.end(), read.type.begin(), read.type.end());
  EXPECT_EQ(file_lines, joined);

  // The check mode takes no other option (after -k the input is the second argument).
  DumpRun verified = run_ctxdump({"--verify", "in.ctx"});
  if (options.empty()) {
    RunResult k = run_on(b, {"-k"});
    EXPECT_EQ(k.status, 0);
    EXPECT_EQ(indices(verified.out, UNDEFINED), indices(k.body(), UNSOLVED))
        << "--verify:\n"
        << verified.out << "-k:\n"
        << k.body();
  }
  return verified.out;
}

// Runs a program as a process with its output in files; returns the exit status.
int run_process(const std::string& command, std::string* out = nullptr,
                std::string* err = nullptr) {
  int st = std::system((command + " >proc.out 2>proc.err").c_str());
  if (out) *out = read_file("proc.out");
  if (err) *err = read_file("proc.err");
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string shell_quoted(const std::string& s) {
  return "'" + s + "'";
}

std::string hex_offset(size_t offset) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%08zx", offset);
  return buf;
}

class CtxdumpTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// Listing

TEST_F(CtxdumpTest, ListsEveryRecordInTheDumpLineFormats) {
  Ctx c;
  c.header()
      .module(1, "main")
      .pub(0, 0x1000, 1, 0x120, 1, "main")
      .file("main.c")
      .line(10, 0x1000)
      .end_line(0)
      .object(0x2000, {1, 2, 3})
      .addr_flag(0x3000, 1)
      .start_local(0x1000)
      .set_local(3, 0xFFFFFFFC, 0x106, "i")
      .end_local(0x103F)
      .aggregate(13, 0x121, 8, 2, "point")
      .member(0x106, 0, "x")
      .member(0x106, 4, "y")
      .enumeration(0x122, 1, "color")
      .constant(2, "BLUE")
      .function(16, 0x120, 0x106, 2);
  Bytes bytes = c.bytes() + bare_member();
  Ctx t;
  t.pointer(18, 0x123, 0x121).array(0x124, 0x102, 8).bit(0x125, 1, 3, 0xFFFFFFFE);
  bytes = bytes + t.bytes() + typedef_type(0x126, 0x121, "point_t");
  Ctx bf;
  bf.aggregate(20, 0x127, 4, 1, "flags");
  bytes = bytes + bf.bytes() + bitfield_member(0x125, 3, 5, "ready");
  write_bytes("t.ctx", bytes);

  DumpRun r = run_ctxdump({"t.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "HEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0\n"
            "MODULE:    modix=00000001,name=[main]\n"
            "PUBLIC:    mode=0000,addr=00001000,class=EXT ,typeix=00000120,modix=00000001,"
            "name=[main]\n"
            "FILE:      [main.c]\n"
            "LINE:      line=10    ,addr=00001000\n"
            "ENDLINE:   mode=0000\n"
            "Object : 00002000 - 00002002\n"
            "ADDRFLAG:    addr=00003000,flag=00000001\n"
            "STARTLOCAL:addr=00001000\n"
            "SETLOCAL:  offset=fffffffc,class=AUTO,typeix=00000106,name=[i]\n"
            "ENDLOCAL:  addr=0000103f\n"
            "TYPE:      type=0x0d:STRUCT    ,selfix=00000121,size=00000008,count=0002,"
            "name=[point]\n"
            "MEMBER:typeix=00000106,offset=0000,name=[x]\n"
            "MEMBER:typeix=00000106,offset=0004,name=[y]\n"
            "TYPE:      type=0x0f:ENUM      ,selfix=00000122,name=[color]\n"
            "MEMBER:value=00000002,name=[BLUE]\n"
            "TYPE:      type=0x10:FUNCTION  ,selfix=00000120,retix=00000106 ,argc=0002\n"
            "MEMBER:\n"
            "TYPE:      type=0x12:32POINTER ,selfix=00000123,typeix=00000121\n"
            "TYPE:      type=0x13:ARRAY     ,selfix=00000124,typeix=00000102,limit=00000008\n"
            "TYPE:      type=0x1b:BIT       ,selfix=00000125,sign=01,size=0003,offs=fffffffe\n"
            "TYPE:      type=0x15:TYPEDEF   ,selfix=00000126,typeix=00000121,name=[point_t]\n"
            "TYPE:      type=0x14:BITFIELD  ,selfix=00000127,size=00000004,count=0001,"
            "name=[flags]\n"
            "MEMBER:typeix=00000125,bitoffs=0003,bitsize=0005,name=[ready]\n");
}

// Record sizes as the format defines them; n is the name length.
TEST_F(CtxdumpTest, StepsOverEachRecordByItsLayout) {
  struct Case {
    const char* what;
    Bytes record;
    size_t size;
  };
  const Case cases[] = {
      {"HEADER", Ctx().header().bytes(), 13},
      {"PUBLIC n=3", Ctx().pub(0, 0, 1, 0, 1, "abc").bytes(), 17 + 3},
      {"STARTLOCAL", Ctx().start_local(1).bytes(), 5},
      {"ENDLOCAL", Ctx().end_local(1).bytes(), 5},
      {"SETLOCAL n=2", Ctx().set_local(3, 4, 5, "ab").bytes(), 11 + 2},
      {"FILE n=4", Ctx().file("x.c ").bytes(), 2 + 4},
      {"ENDLINE", Ctx().end_line().bytes(), 3},
      {"LINE", Ctx().line(1, 2).bytes(), 9},
      {"TYPE basic", Ctx().type(6, 0x100).bytes(), 6},
      {"TYPE STRUCT abc", Ctx().aggregate(13, 0x120, 4, 0, "abc").bytes(), 18},
      {"TYPE ENUM n=1", Ctx().enumeration(0x120, 0, "e").bytes(), 11 + 1},
      {"TYPE FUNCTION", Ctx().function(16, 0x120, 0x100, 1).bytes(), 12},
      {"TYPE pointer", Ctx().pointer(25, 0x120, 0x100).bytes(), 10},
      {"TYPE ARRAY", Ctx().array(0x120, 0x100, 3).bytes(), 15},
      {"TYPE BIT", Ctx().bit(0x120, 0, 3, 0).bytes(), 15},
      {"TYPE TYPEDEF n=2", typedef_type(0x120, 0x100, "td"), 11 + 2},
      {"OBJECT n=5", Ctx().object(0x10, {1, 2, 3, 4, 5}).bytes(), 9 + 5},
      {"MODULE n=4", Ctx().module(1, "main").bytes(), 6 + 4},
      {"ADDRFLAG", Ctx().addr_flag(1, 1).bytes(), 9},
  };
  for (const Case& c : cases) {
    // Each record followed by a HEADER: the reader must land exactly on it.
    Bytes bytes = c.record + Ctx().header().bytes();
    tek::CtxReader r{bytes};
    tek::CtxRecord rec;
    ASSERT_EQ(tek::read_record(r, rec), tek::CtxStep::Record) << c.what;
    EXPECT_EQ(rec.size, c.size) << c.what;
    ASSERT_EQ(tek::read_record(r, rec), tek::CtxStep::Record) << c.what;
    EXPECT_EQ(rec.offset, c.size) << c.what;
    EXPECT_EQ(rec.tag, tek::TAG_HEADER) << c.what;
    EXPECT_EQ(tek::read_record(r, rec), tek::CtxStep::End) << c.what;
  }
}

// MEMBER takes its layout from the TYPE before it: 10 + n after STRUCT, UNION and CLASS, 6 + n
// after ENUM, 14 + n after BITFIELD, the tag alone after anything else.
TEST_F(CtxdumpTest, MemberLayoutFollowsTheTypeBeforeIt) {
  struct Case {
    Bytes type;
    size_t member_size;
  };
  const Case cases[] = {
      {Ctx().aggregate(13, 0x120, 4, 1, "s").bytes(), 10 + 1},
      {Ctx().aggregate(14, 0x120, 4, 1, "u").bytes(), 10 + 1},
      {Ctx().aggregate(28, 0x120, 4, 1, "c").bytes(), 10 + 1},
      {Ctx().enumeration(0x120, 1, "e").bytes(), 6 + 1},
      {Ctx().aggregate(20, 0x120, 4, 1, "b").bytes(), 14 + 1},
      {Ctx().function(22, 0x120, 0x100, 0).bytes(), 1},
      {Ctx().type(1, 0x120).bytes(), 1},
  };
  for (const Case& c : cases) {
    Bytes member;
    if (c.member_size == 11) member = Raw().u8(10).u32(0x100).u32(0).name("m").b;
    if (c.member_size == 7) member = Raw().u8(10).u32(5).name("m").b;
    if (c.member_size == 15) member = Raw().u8(10).u32(0x100).u32(1).u32(2).name("m").b;
    if (c.member_size == 1) member = bare_member();
    ASSERT_EQ(member.size(), c.member_size);
    // The reader must land on the HEADER after the member.
    Bytes bytes = c.type + member + Ctx().header().bytes();
    tek::CtxReader r{bytes};
    tek::CtxRecord rec;
    const int kind = c.type[1];
    ASSERT_EQ(tek::read_record(r, rec), tek::CtxStep::Record);
    ASSERT_EQ(tek::read_record(r, rec), tek::CtxStep::Record) << kind;
    EXPECT_EQ(rec.size, c.member_size) << kind;
    EXPECT_EQ(rec.member_kind, kind);
    if (c.member_size > 1) {
      EXPECT_EQ(rec.member.name, "m") << kind;
    }
    ASSERT_EQ(tek::read_record(r, rec), tek::CtxStep::Record) << kind;
    EXPECT_EQ(rec.tag, tek::TAG_HEADER) << kind;
    EXPECT_EQ(tek::read_record(r, rec), tek::CtxStep::End) << kind;
  }
}

TEST_F(CtxdumpTest, HexListsObjectDataByLoadAddress) {
  Bytes data;
  for (int i = 0; i < 20; ++i) data.push_back(static_cast<uint8_t>(0xA0 + i));
  Ctx c;
  c.object(0xFFFFFFF8, data).object(0x1000, {}).line(1, 2);
  write_bytes("t.ctx", c.bytes());

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
  // Without -x only the lines.
  EXPECT_EQ(run_ctxdump({"t.ctx"}).out,
            "Object : fffffff8 - 0000000b\n"
            "Object : 00001000 - 00000fff\n"
            "LINE:      line=1     ,addr=00000002\n");
}

TEST_F(CtxdumpTest, NamesPrintUpToALengthOf255AndStopAtAZeroByte) {
  std::string long_name(255, 'n');
  Bytes bytes = Ctx().module(1, long_name).file(std::string("a\0b", 3)).bytes();
  write_bytes("t.ctx", bytes);
  DumpRun r = run_ctxdump({"t.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "MODULE:    modix=00000001,name=[" + long_name + "]\nFILE:      [a]\n");
}

TEST_F(CtxdumpTest, SeveralFilesAreHeadedByTheirNames) {
  write_bytes("a.ctx", Ctx().start_local(0x10).bytes());
  write_bytes("b.ctx", Ctx().end_local(0x20).bytes());
  write_bytes("empty.ctx", {});
  DumpRun r = run_ctxdump({"a.ctx", "empty.ctx", "b.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "==> a.ctx <==\n"
            "STARTLOCAL:addr=00000010\n"
            "\n==> empty.ctx <==\n"
            "\n==> b.ctx <==\n"
            "ENDLOCAL:  addr=00000020\n");
  // One file: no heading.
  EXPECT_EQ(run_ctxdump({"b.ctx"}).out, "ENDLOCAL:  addr=00000020\n");
}

TEST_F(CtxdumpTest, ListingStopsAtARecordItCannotRead) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::string err;
  };
  Bytes good = Ctx().start_local(0x10).bytes();  // 5 bytes
  Bytes pub = Ctx().pub(0, 1, 1, 0x100, 1, "name").bytes();
  const Case cases[] = {
      {"tag 8", good + Bytes{8, 1, 2},
       "ctxdump: t.ctx: offset 00000005: unknown record tag 08; the rest of the file cannot be "
       "read\n"},
      {"tag 12", good + Bytes{12},
       "ctxdump: t.ctx: offset 00000005: unknown record tag 0c; "
       "the rest of the file cannot be read\n"},
      {"tag 15", good + Bytes{15},
       "ctxdump: t.ctx: offset 00000005: unknown record tag 0f; "
       "the rest of the file cannot be read\n"},
      {"name cut", good + Bytes(pub.begin(), pub.end() - 1),
       "ctxdump: t.ctx: offset 00000005: PUBLIC record cut short by the end of the file (20 "
       "bytes left)\n"},
      {"fields cut", good + Bytes{3, 0x10, 0},
       "ctxdump: t.ctx: offset 00000005: ENDLOCAL record cut short by the end of the file (3 "
       "bytes left)\n"},
      {"object data cut", good + Bytes{11, 2, 0, 0, 0, 0, 0, 4, 0, 1, 2, 3},
       "ctxdump: t.ctx: offset 00000005: OBJECT record cut short by the end of the file (12 "
       "bytes left)\n"},
  };
  for (const Case& c : cases) {
    write_bytes("t.ctx", c.bytes);
    DumpRun r = run_ctxdump({"t.ctx"});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "STARTLOCAL:addr=00000010\n") << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
  }
}

TEST_F(CtxdumpTest, CommandLineErrorsAndUnreadableFiles) {
  write_bytes("a.ctx", Ctx().end_line(0).bytes());
  ::mkdir("dir.ctx", 0755);

  DumpRun none = run_ctxdump({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("Usage: ctxdump"), std::string::npos);

  DumpRun unknown = run_ctxdump({"-q", "a.ctx"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("ctxdump: unknown option -q\nUsage: ctxdump", 0), 0u);

  DumpRun help = run_ctxdump({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--verify"), std::string::npos);

  // The readable files are still listed; the status says that one could not be read.
  DumpRun missing = run_ctxdump({"missing.ctx", "a.ctx", "dir.ctx"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out,
            "==> missing.ctx <==\n\n==> a.ctx <==\nENDLINE:   mode=0000\n\n==> dir.ctx <==\n");
  EXPECT_EQ(missing.err,
            "ctxdump: missing.ctx: cannot read: No such file or directory\n"
            "ctxdump: dir.ctx: cannot read: Is a directory\n");

  // After "--" a name that begins with '-' is a file.
  write_bytes("-x", Ctx().end_line(1).bytes());
  DumpRun dashed = run_ctxdump({"--", "-x"});
  EXPECT_EQ(dashed.status, 0);
  EXPECT_EQ(dashed.out, "ENDLINE:   mode=0001\n");
}

// ---------------------------------------------------------------------------------------------
// Verification

// A sound file: HEADER, MODULE 1 and the 16 predefined types.
Ctx sound_start() {
  return Ctx().header().module(1, "m");
}

std::string problem(size_t offset, const std::string& text) {
  return "t.ctx: offset " + hex_offset(offset) + ": " + text + "\n";
}

struct VerifyCase {
  const char* what;
  Bytes bytes;
  std::string problems;  // the expected problem lines
  size_t records;
  int status;
};

void expect_verify(const VerifyCase& c, const std::string& note = "") {
  write_bytes("t.ctx", c.bytes);
  DumpRun r = run_ctxdump({"--verify", "t.ctx"});
  size_t n = std::count(c.problems.begin(), c.problems.end(), '\n');
  std::string summary =
      n == 0 ? "t.ctx: sound: "
             : "t.ctx: " + std::to_string(n) + (n == 1 ? " problem: " : " problems: ");
  summary += std::to_string(c.records) + " records, " + std::to_string(c.bytes.size()) + " bytes";
  EXPECT_EQ(r.out, c.problems + summary + note + "\n") << c.what;
  EXPECT_EQ(r.err, "") << c.what;
  EXPECT_EQ(r.status, c.status) << c.what;
}

TEST_F(CtxdumpTest, VerifyAcceptsASoundFile) {
  Ctx c = sound_start();
  c.pub(0, 0x1000, 1, 0x120, 1, "f")  // a forward reference to the FUNCTION type below
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
      .aggregate(14, 0x123, 0, 0, "none");
  expect_verify({"sound", c.bytes(), "", 2 + 5 + 16 + 6, 0});
  // An empty file has no type section.
  expect_verify(
      {"empty", {}, problem(0, "no type section: the 16 predefined types are missing"), 0, 1});
}

TEST_F(CtxdumpTest, VerifyChecksTheSectionOrder) {
  Ctx c = sound_start();
  c.start_local(0x10);
  size_t pub_at = c.bytes().size();
  c.pub(0, 0, 1, 0x100, 1, "late").line(1, 2);  // two main records after the local section
  c.set_local(3, 0, 0x100, "x").predefined();
  size_t file_at = c.bytes().size();
  c.file("f.c").end_line();
  size_t end_at = c.bytes().size();
  c.end_local(0x20).type(1, 0x120);
  expect_verify(
      {"order", c.bytes(),
       problem(pub_at, "PUBLIC record of the main section after records of the local section") +
           problem(file_at, "FILE record of the main section after records of the type section") +
           problem(end_at,
                   "ENDLOCAL record of the local section after records of the type section"),
       2 + 1 + 2 + 1 + 16 + 2 + 2, 1});
}

TEST_F(CtxdumpTest, VerifyChecksThePredefinedTypes) {
  Bytes start = sound_start().bytes();
  size_t at = start.size();

  Ctx wrong_kind;
  wrong_kind.type(1, 0x100).type(1, 0x101).type(3, 0x102);
  Bytes all_after = Ctx().predefined().bytes();
  Bytes rest(all_after.begin() + 18, all_after.end());
  expect_verify({"kind", start + wrong_kind.bytes() + rest,
                 problem(at + 12,
                         "type section does not begin with the 16 predefined types: expected "
                         "TYPE 00000102 (8SIGNED) here"),
                 2 + 16, 1});

  Bytes without_first(all_after.begin() + 6, all_after.end());
  expect_verify({"first missing", start + without_first,
                 problem(at,
                         "type section does not begin with the 16 predefined types: expected "
                         "TYPE 00000100 (VOID) here"),
                 2 + 15, 1});

  Bytes five(all_after.begin(), all_after.begin() + 5 * 6);
  expect_verify({"five", start + five,
                 problem(at + 30, "the file ends after 5 of the 16 predefined types"), 2 + 5, 1});

  expect_verify(
      {"none", start, problem(at, "no type section: the 16 predefined types are missing"), 2, 1});
}

TEST_F(CtxdumpTest, VerifyChecksMemberCounts) {
  Ctx c = sound_start();
  c.predefined();
  size_t struct_at = c.bytes().size();
  c.aggregate(13, 0x120, 8, 2, "two").member(0x100, 0, "only");
  size_t enum_at = c.bytes().size();
  c.enumeration(0x121, 0, "none").constant(1, "A").constant(2, "B");
  size_t function_at = c.bytes().size();
  c.function(16, 0x122, 0x100, 0);
  Bytes bytes = c.bytes() + bare_member();
  size_t class_at = bytes.size();
  Ctx tail;
  tail.aggregate(28, 0x123, 4, 1, "last");  // its member is missing at the end of the file
  bytes = bytes + tail.bytes();
  expect_verify(
      {"counts", bytes,
       problem(struct_at, "TYPE 00000120 (STRUCT) has a count of 2, but 1 MEMBER record follows") +
           problem(enum_at, "TYPE 00000121 (ENUM) has a count of 0, but 2 MEMBER records follow") +
           problem(function_at,
                   "TYPE 00000122 (FUNCTION) has no members, but 1 MEMBER record follows") +
           problem(class_at, "TYPE 00000123 (CLASS) has a count of 1, but 0 MEMBER records follow"),
       2 + 16 + 2 + 3 + 2 + 1, 1});

  // A MEMBER record that no TYPE record precedes; it has no fields then.
  Ctx s = sound_start();
  Bytes stray = s.bytes() + bare_member() + Ctx().predefined().bytes();
  size_t at = s.bytes().size();
  expect_verify({"stray", stray,
                 problem(at,
                         "type section does not begin with the 16 predefined types: expected "
                         "TYPE 00000100 (VOID) here") +
                     problem(at, "MEMBER record that follows no TYPE record"),
                 2 + 1 + 16, 1});
}

TEST_F(CtxdumpTest, VerifyFindsUndefinedTypeIndicesWhereTheCheckModeLooks) {
  Ctx c = sound_start();
  size_t pub_at = c.bytes().size();
  c.pub(0, 0, 1, 0x200, 1, "p");
  size_t set_at = c.bytes().size();
  c.set_local(4, 1, 0, "r");
  c.predefined();
  size_t fn_at = c.bytes().size();
  c.function(22, 0x120, 0x201, 0);
  size_t ptr_at = c.bytes().size();
  c.pointer(26, 0x121, 0x202);
  size_t arr_at = c.bytes().size();
  c.array(0x122, 0x203, 4);
  Bytes bytes = c.bytes();
  size_t td_at = bytes.size();
  bytes = bytes + typedef_type(0x124, 0x204, "t");
  Ctx s;
  s.aggregate(14, 0x125, 4, 2, "u").member(0x100, 0, "ok");
  size_t mem_at = bytes.size() + s.bytes().size();
  s.member(0x205, 0, "bad");
  // Not type references: an enumeration constant's value, a BIT type's size, a STRUCT's size.
  s.enumeration(0x126, 1, "e").constant(0x206, "C").bit(0x127, 0, 0x207, 0);
  s.aggregate(13, 0x128, 0x208, 0, "s").aggregate(20, 0x129, 4, 1, "bf");
  bytes = bytes + s.bytes();
  size_t bf_at = bytes.size();
  bytes = bytes + bitfield_member(0x209, 0, 1, "b");
  const std::string u = " refers to undefined type index ";
  expect_verify({"references", bytes,
                 problem(pub_at, "PUBLIC [p]" + u + "00000200") +
                     problem(set_at, "SETLOCAL [r]" + u + "00000000") +
                     problem(fn_at, "TYPE 00000120 (FARFUNC) retix" + u + "00000201") +
                     problem(ptr_at, "TYPE 00000121 (HUGEPNT)" + u + "00000202") +
                     problem(arr_at, "TYPE 00000122 (ARRAY)" + u + "00000203") +
                     problem(td_at, "TYPE 00000124 (TYPEDEF)" + u + "00000204") +
                     problem(mem_at, "MEMBER [bad] of TYPE 00000125 (UNION)" + u + "00000205") +
                     problem(bf_at, "MEMBER [b] of TYPE 00000129 (BITFIELD)" + u + "00000209"),
                 2 + 2 + 16 + 4 + 3 + 2 + 1 + 1 + 2, 1});
}

TEST_F(CtxdumpTest, VerifyChecksSelfixModulesAndScopes) {
  Ctx c = Ctx().header();
  size_t no_module_at = c.bytes().size();
  c.pub(0, 0, 1, 0x100, 2, "nowhere");
  size_t early_at = c.bytes().size();
  c.pub(0, 0, 1, 0x100, 3, "early");
  size_t module_at = c.bytes().size();
  c.module(3, "late").pub(0, 0, 1, 0x100, 3, "fine");
  size_t orphan_at = c.bytes().size();
  c.end_local(0x10).start_local(0x2000);
  size_t below_at = c.bytes().size();
  c.end_local(0x1FFF);
  size_t twice_at = c.bytes().size();
  c.end_local(0x3000).start_local(0x10).end_local(0x10).predefined();
  size_t again_at = c.bytes().size();
  c.type(6, 0x106);
  expect_verify(
      {"modules and scopes", c.bytes(),
       problem(no_module_at,
               "PUBLIC [nowhere] names module 00000002, which no MODULE record defines") +
           problem(early_at,
                   "PUBLIC [early] names module 00000003, whose MODULE record comes "
                   "only after it (offset " +
                       hex_offset(module_at) + ")") +
           problem(orphan_at, "ENDLOCAL 00000010 with no open STARTLOCAL before it") +
           problem(below_at, "ENDLOCAL 00001fff lies below its STARTLOCAL 00002000 (offset " +
                                 hex_offset(orphan_at + 5) + ")") +
           problem(twice_at, "ENDLOCAL 00003000 with no open STARTLOCAL before it") +
           // the sixth predefined type, after ENDLOCAL, STARTLOCAL and ENDLOCAL
           problem(again_at, "selfix 00000106 defined again (first at offset " +
                                 hex_offset(twice_at + 15 + 6 * 6) + ")"),
       5 + 6 + 16 + 1, 1});
}

TEST_F(CtxdumpTest, VerifyReadsOnAfterATypeOfUndefinedKind) {
  Ctx c = sound_start();
  c.predefined();
  size_t at = c.bytes().size();
  c.type(29, 0x120);
  Bytes bytes = c.bytes() + bare_member() + Ctx().type(0, 0x121).bytes();
  expect_verify(
      {"undefined kinds", bytes,
       problem(at, "TYPE 00000120 of undefined kind 1d, read without kind fields") +
           problem(at, "TYPE 00000120 (?) has no members, but 1 MEMBER record follows") +
           problem(at + 7, "TYPE 00000121 of undefined kind 00, read without kind fields"),
       2 + 16 + 3, 1});
}

TEST_F(CtxdumpTest, VerifyOfAFileThatCannotBeReadToTheEnd) {
  // Types after the break are unknown, so references are not judged; what was read is.
  Ctx c = sound_start();
  c.pub(0, 0, 1, 0x300, 1, "ref").pub(0, 0, 1, 0x100, 7, "mod");
  size_t pub_at = c.bytes().size() - (17 + 3);
  size_t cut_at = c.bytes().size();
  c.predefined();
  Bytes bytes = c.bytes();
  bytes.resize(cut_at + 4);
  const std::string stop =
      "; reading stopped at offset " + hex_offset(cut_at) + ", type references not checked";
  expect_verify({"cut", bytes,
                 problem(pub_at,
                         "PUBLIC [mod] names module 00000007, which no MODULE record before it "
                         "defines") +
                     problem(cut_at, "TYPE record cut short by the end of the file (4 bytes left)"),
                 4, 1},
                stop);

  bytes.resize(cut_at);
  bytes.push_back(0xFF);
  expect_verify(
      {"tag", bytes,
       problem(pub_at,
               "PUBLIC [mod] names module 00000007, which no MODULE record before it defines") +
           problem(cut_at, "unknown record tag ff; the rest of the file cannot be read"),
       4, 1},
      stop);
}

TEST_F(CtxdumpTest, VerifyStatusOverSeveralFiles) {
  write_bytes("good.ctx", sound_start().predefined().bytes());
  write_bytes("bad.ctx", Ctx().header().predefined().end_local(1).bytes());
  DumpRun r = run_ctxdump({"--verify", "good.ctx", "bad.ctx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "good.ctx: sound: 18 records, 116 bytes\n"
            "bad.ctx: offset 0000006d: ENDLOCAL record of the local section after records of "
            "the type section\n"
            "bad.ctx: offset 0000006d: ENDLOCAL 00000001 with no open STARTLOCAL before it\n"
            "bad.ctx: 2 problems: 18 records, 114 bytes\n");
  DumpRun with_missing = run_ctxdump({"--verify", "good.ctx", "missing.ctx", "bad.ctx"});
  EXPECT_EQ(with_missing.status, 2);
  EXPECT_EQ(with_missing.err, "ctxdump: missing.ctx: cannot read: No such file or directory\n");
  EXPECT_EQ(with_missing.out, r.out);
}

// ---------------------------------------------------------------------------------------------
// Agreement with the converter

TEST_F(CtxdumpTest, ExampleProgramRoundTrip) {
  ASSERT_EQ(run_process(shell_quoted(MAKE_EXAMPLE_BINARY) + " ."), 0);
  RunResult conv = run_tekconv({"prog.abs"});
  ASSERT_EQ(conv.status, 0) << conv.out;
  RunResult d = run_tekconv({"-s", "prog.abs"});
  ASSERT_EQ(d.status, 0);
  Streams emitted = split_streams(dump_record_lines(d.body()));
  EXPECT_GT(emitted.type.size(), 40u);

  DumpRun listed = run_ctxdump({"prog.ctx"});
  ASSERT_EQ(listed.status, 0);
  Streams read = split_streams(lines_of(listed.out));
  EXPECT_EQ(read.main, emitted.main);
  EXPECT_EQ(read.local, emitted.local);
  EXPECT_EQ(read.type, emitted.type);

  // The example is sound, and the check mode agrees.
  DumpRun verified = run_ctxdump({"--verify", "prog.ctx"});
  EXPECT_EQ(verified.status, 0) << verified.out;
  EXPECT_EQ(run_tekconv({"-k", "prog.abs"}).body().find("Unsolved"), std::string::npos);

  // The memory image comes back byte for byte: the example's first section holds 600 bytes
  // (seed 0x10, step 7) in OBJECT records of 256, 256 and 88 bytes.
  DumpRun hex = run_ctxdump({"-x", "prog.ctx"});
  EXPECT_NE(hex.out.find("Object : 00001200 - 00001257\n"
                         "  00001200: 10 17 1e 25 2c 33 3a 41 48 4f 56 5d 64 6b 72 79\n"),
            std::string::npos);
}

// Small programs whose references go astray in each of the ways the converter allows.
TEST_F(CtxdumpTest, ProgramsWithUndefinedTypesAgreeWithTheCheckMode) {
  auto program = [](auto body) {
    Builder b;
    b.hdr(0, 1).unit("m", "SH7032", 1, 0x04, 32).cl(0x1000, "P");
    b.dbgunit(0x01, 0).srcfiles({{"", "a.c"}});
    b.basetype(0, 3, 4, 0, "int").basetype(1, 9, 4, 0, "struct").basetype(2, 1, 0, 0, "none");
    body(b);
    b.end();
    return b;
  };
  struct Case {
    const char* what;
    Builder b;
    std::vector<std::string> undefined;
  };
  const Case cases[] = {
      {"kind code as a type",
       program([](Builder& b) {
         b.symbol({VARIABLE, 0, "v", basic_type(1), in_section(2, 0, 0, 4), {}});
       }),
       {"0000000d"}},
      {"no type",
       program([](Builder& b) {
         b.symbol({VARIABLE, 0, "v", basic_type(2), in_frame(4), {}});
         b.symbol({VARIABLE, 0, "w", basic_type(2), in_section(4, 0, 8, 4), {}});
       }),
       {"00000000", "00000000"}},
      {"array without dimensions",
       program([](Builder& b) {
         b.symbol({VARIABLE, 0, "a", basic_type(0), in_section(2, 0, 0, 4), {}});
         b.arrtype({});
       }),
       {"00000120"}},
      {"unknown type id",
       program([](Builder& b) {
         b.symbol({STRUCT_TAG, 0x10, "s", {}, aggregate_tag(8), {}});
         b.aggr_begin();
         b.symbol({MEMBER, 0, "x", type_id(0x77), member_at(0, 4), {}});
         b.symbol({MEMBER, 0, "p", type_id(0x78), member_at(4, 4), {}});
         b.dpt(3);
         b.aggr_end();
         b.symbol({FUNCTION, 0x20, "f", type_id(0x79), in_section(2, 0, 0, 0x10), {}});
         b.blkend(0x40);
       }),
       // get_sid of an unknown id: selfix base 0 + 0x4000 + 288
       {"00004120", "00004120", "00004120"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string verified = check_round_trip(c.b);
    EXPECT_EQ(indices(verified, UNDEFINED), c.undefined) << verified;
  }
}

// A random program made of the records the converter translates without complaint (apart from
// undefined type ids): units and sections, memory images, debug units with and without source
// files, basic types, nested aggregates with bit-fields, arrays and pointers, globals, functions
// with locals of every class, untyped and classed symbols, line tables.
class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint32_t seed) : rng_(seed) {}

  Builder make() {
    b_.hdr(0, pick(1, 2));
    const int units = pick(1, 3);
    static const char* const PROCESSORS[] = {"SH7032", "MC68000", "ARM", "MPC860"};
    for (int u = 0; u < units; ++u) {
      processor_.push_back(PROCESSORS[pick(0, 3)]);
      sections_.push_back(pick(1, 3));
      b_.unit("mod" + std::to_string(u), processor_[u], sections_[u], 0x04);
      for (int s = 0; s < sections_[u]; ++s)
        b_.cl(0x10000u * (u + 1) + 0x1000u * s, "S" + std::to_string(u) + std::to_string(s));
    }
    for (int u = 0; u < units; ++u) {
      b_.sect(u, 0).data(random_bytes(pick(0, 300)));
      if (chance(50)) b_.zero(static_cast<uint16_t>(pick(1, 40)));
      if (chance(50)) b_.repeat(static_cast<uint16_t>(pick(1, 5)), random_bytes(pick(1, 3)));
    }
    for (int u = 0; u < units; ++u) debug_unit(u);
    b_.end();
    return b_;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return pick(1, 100) <= percent; }

  Bytes random_bytes(int n) {
    Bytes v(n);
    for (auto& x : v) x = static_cast<uint8_t>(pick(0, 255));
    return v;
  }

  std::string name(const char* stem) { return stem + std::to_string(serial_++); }

  void debug_unit(int u) {
    unit_ = u;
    b_.dbgunit(chance(50) ? 0x01 : 0x10, static_cast<uint16_t>(u));
    // Without SRCFILES the unit shares the type id table with the one before it.
    has_source_ = u == 0 || chance(70);
    if (has_source_) {
      b_.srcfiles({{"src/", name("f") + ".c"}, {"", name("h") + ".h"}});
      known_ids_.clear();
    }
    if (u == 0) {
      // Every basic type index is set before any symbol uses it (the check mode's second pass
      // starts with the table that its first pass left, a conversion with an empty one): codes
      // for int, char, unsigned short, float, void, and two that name no TYPE record (a bare
      // kind code and no type).
      const uint8_t codes[][4] = {{3, 4, 0}, {2, 1, 0}, {3, 2, 0x40}, {4, 4, 0},
                                  {0, 0, 0}, {9, 4, 0}, {1, 0, 0},    {3, 4, 0x40}};
      for (uint8_t i = 0; i < 8; ++i) b_.basetype(i, codes[i][0], codes[i][1], codes[i][2]);
    }
    const int items = pick(2, 8);
    for (int i = 0; i < items; ++i) {
      switch (pick(0, 5)) {
        case 0:
          aggregate(0);
          break;
        case 1:
        case 2:
          global();
          break;
        case 3:
          function();
          break;
        case 4:
          b_.symbol({UNTYPED, 0, name("lbl"), {}, at_section(section(), pick(0, 0x100)), {}});
          break;
        case 5:
          b_.symbol({CLASSED, 0, name("k"), {}, classed(pick(2, 5), 4, pick(0, 0xFFFF)), {}});
          break;
      }
    }
    if (has_source_) {
      b_.sect(u, 0).curfile(static_cast<uint16_t>(pick(0, 1)));
      std::vector<std::pair<uint16_t, uint32_t>> pairs;
      for (int i = pick(0, 4); i > 0; --i)
        pairs.push_back({static_cast<uint16_t>(pick(1, 900)), static_cast<uint32_t>(pick(0, 99))});
      b_.lines(pairs);
    }
  }

  uint16_t section() { return static_cast<uint16_t>(pick(0, sections_[unit_] - 1)); }

  Fields type() {
    int k = pick(0, 9);
    if (k < 6 || known_ids_.empty()) return basic_type(static_cast<uint8_t>(pick(0, 7)));
    if (k < 9) return type_id(known_ids_[pick(0, static_cast<int>(known_ids_.size()) - 1)]);
    return type_id(static_cast<uint16_t>(pick(0x7000, 0x7010)));  // never registered
  }

  // ARRTYPE, DPT or nothing after a symbol or member.
  void refine() {
    switch (pick(0, 5)) {
      case 0: {
        std::vector<uint32_t> bounds;
        for (int i = pick(0, 2); i > 0; --i) bounds.push_back(static_cast<uint32_t>(pick(0, 9)));
        b_.arrtype(bounds);
        break;
      }
      case 1:
        b_.dpt(static_cast<uint8_t>(std::vector<int>{0, 2, 3, 4}[pick(0, 3)]));
        if (chance(30)) b_.dpt(0);
        break;
      default:
        break;
    }
  }

  void aggregate(int depth) {
    int category = pick(0, 2) == 0 ? ENUM_TAG : (chance(70) ? STRUCT_TAG : UNION_TAG);
    // Now and then a tag reuses an id, giving two TYPE records one selfix.
    uint16_t id = (!known_ids_.empty() && chance(10))
                      ? known_ids_[pick(0, static_cast<int>(known_ids_.size()) - 1)]
                      : next_id_++;
    if (category == ENUM_TAG) {
      b_.symbol({ENUM_TAG, id, name("e"), {}, enum_tag(), {}});
      b_.aggr_begin();
      for (int i = pick(0, 4); i > 0; --i)
        b_.symbol({HEXVALUE, 0, name("C"), {}, hex_digits(std::to_string(pick(0, 99))), {}});
      b_.aggr_end();
      known_ids_.push_back(id);
      return;
    }
    b_.symbol({static_cast<uint8_t>(category), id, name("s"), {}, aggregate_tag(pick(1, 64)), {}});
    known_ids_.push_back(id);  // registered by the tag's own record
    b_.aggr_begin();
    uint32_t offset = 0;
    for (int i = pick(0, 5); i > 0; --i) {
      if (depth < 3 && chance(15)) {
        aggregate(depth + 1);
        b_.symbol({MEMBER, 0, name("n"), type_id(known_ids_.back()), member_at(offset, 4), {}});
      } else if (chance(20)) {
        b_.symbol({MEMBER,
                   0,
                   name("b"),
                   type(),
                   bitfield_at(offset, pick(1, 7), static_cast<int8_t>(pick(-2, 7))),
                   {}});
      } else {
        b_.symbol({MEMBER, 0, name("m"), type(), member_at(offset, 4), {}});
        refine();
      }
      offset += 4;
    }
    b_.aggr_end();
  }

  Fields placed(uint8_t form) {
    return in_section(form, section(), static_cast<uint32_t>(pick(0, 0x200)), 4);
  }

  void global() {
    static const uint8_t FORMS[] = {2, 3, 4, 5};
    b_.symbol({VARIABLE, 0, name("g"), type(), placed(FORMS[pick(0, 3)]), {}});
    refine();
    if (chance(15)) b_.functype();
  }

  void function() {
    uint16_t id = next_id_++;
    uint32_t start = static_cast<uint32_t>(pick(0, 0x100));
    b_.symbol({FUNCTION,
               id,
               name("fn"),
               type(),
               in_section(chance(50) ? 2 : 3, section(), start, pick(1, 0x40)),
               {}});
    b_.attr(0, static_cast<uint8_t>(pick(0, 3)));
    for (int i = pick(0, 4); i > 0; --i) {
      switch (pick(0, 3)) {
        case 0:
          b_.symbol({VARIABLE, 0, name("a"), type(), in_frame(pick(0, 1) ? 8 : 0xFFFFFFF8), {}});
          break;
        case 1:
          b_.symbol({VARIABLE,
                     0,
                     name("r"),
                     type(),
                     in_register(processor_[unit_] == "MC68000" ? "D3" : "R5"),
                     {}});
          break;
        case 2:
          b_.symbol({VARIABLE, 0, name("st"), type(), placed(4), {}});
          break;
        case 3:
          b_.symbol({VARIABLE, 0, name("rr"), type(), in_registers({"R4", "R5"}), {}});
          break;
      }
      refine();
    }
    b_.blkend(chance(85) ? 0x40 : 0x00);
    known_ids_.push_back(id);
  }

  std::mt19937 rng_;
  Builder b_;
  std::vector<std::string> processor_;
  std::vector<int> sections_;
  std::vector<uint16_t> known_ids_;
  uint16_t next_id_ = 0x100;
  int unit_ = 0;
  bool has_source_ = false;
  int serial_ = 0;
};

TEST_F(CtxdumpTest, GeneratedProgramsRoundTripAndAgreeWithTheCheckMode) {
  size_t undefined = 0, duplicates = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Builder b = ProgramGenerator(seed).make();
    std::string verified = check_round_trip(
        b, seed % 4 == 0 ? std::vector<std::string>{"-l"} : std::vector<std::string>{});
    undefined += indices(verified, UNDEFINED).size();
    duplicates += indices(verified, "selfix ([0-9a-f]{8}) defined again").size();
    // The converter's files break no rule but those of the type graph.
    std::vector<std::string> lines = lines_of(verified);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("in.ctx: ", 0), 0u);
    lines.pop_back();
    for (const std::string& l : lines)
      EXPECT_TRUE(l.find("refers to undefined type index") != std::string::npos ||
                  l.find("defined again") != std::string::npos)
          << l;
  }
  // The generator reaches the cases the agreement is about.
  EXPECT_GT(undefined, 20u);
  EXPECT_GT(duplicates, 0u);
}

// ---------------------------------------------------------------------------------------------
// Robustness

// Every prefix of a real context file, and many damaged copies of it, are read without harm:
// a prefix that ends inside a record is reported as cut short at that record.
TEST_F(CtxdumpTest, DamagedFilesAreReportedNeverMisread) {
  ASSERT_EQ(run_process(shell_quoted(MAKE_EXAMPLE_BINARY) + " ."), 0);
  ASSERT_EQ(run_tekconv({"prog.abs"}).status, 0);
  std::string text = read_file("prog.ctx");
  Bytes ctx(text.begin(), text.end());

  std::vector<size_t> boundaries;
  {
    tek::CtxReader r{ctx};
    tek::CtxRecord rec;
    while (tek::read_record(r, rec) == tek::CtxStep::Record) boundaries.push_back(rec.offset);
    ASSERT_EQ(r.pos, ctx.size());
    boundaries.push_back(ctx.size());
  }
  FILE* null = std::fopen("/dev/null", "w");
  ASSERT_NE(null, nullptr);
  for (size_t n = 0; n <= ctx.size(); ++n) {
    std::span<const uint8_t> prefix(ctx.data(), n);
    tek::CtxVerdict v = tek::verify_ctx(prefix);
    auto next = std::upper_bound(boundaries.begin(), boundaries.end(), n);
    bool on_boundary = std::binary_search(boundaries.begin(), boundaries.end(), n);
    EXPECT_EQ(v.complete, on_boundary) << n;
    if (!on_boundary) {
      ASSERT_FALSE(v.problems.empty());
      EXPECT_EQ(v.problems.back().offset, *(next - 1)) << n;
      EXPECT_NE(v.problems.back().text.find("cut short"), std::string::npos) << n;
    }
    EXPECT_EQ(tek::ctxdump_bytes(prefix, "p", {false, true}, null, null), on_boundary ? 0 : 1);
  }

  std::mt19937 rng(7);
  for (int i = 0; i < 1000; ++i) {
    Bytes damaged = ctx;
    for (int k = std::uniform_int_distribution<int>(1, 8)(rng); k > 0; --k)
      damaged[std::uniform_int_distribution<size_t>(0, damaged.size() - 1)(rng)] =
          static_cast<uint8_t>(rng());
    tek::ctxdump_bytes(damaged, "d", {true, false}, null, null);
    tek::ctxdump_bytes(damaged, "d", {false, true}, null, null);
  }
  std::fclose(null);
}

// ---------------------------------------------------------------------------------------------
// The programs as installed

TEST_F(CtxdumpTest, ExitStatusesOfTheProgram) {
  write_bytes("good.ctx", sound_start().predefined().bytes());
  write_bytes("bad.ctx", Ctx().header().bytes());
  const std::string ctxdump = shell_quoted(CTXDUMP_BINARY);
  std::string out, err;
  EXPECT_EQ(run_process(ctxdump + " --verify good.ctx", &out), 0);
  EXPECT_EQ(out, "good.ctx: sound: 18 records, 116 bytes\n");
  EXPECT_EQ(run_process(ctxdump + " --verify good.ctx bad.ctx"), 1);
  EXPECT_EQ(run_process(ctxdump + " --verify nothing.ctx", nullptr, &err), 2);
  EXPECT_EQ(err, "ctxdump: nothing.ctx: cannot read: No such file or directory\n");
  EXPECT_EQ(run_process(ctxdump), 2);
  EXPECT_EQ(run_process(ctxdump + " bad.ctx", &out), 0);
  EXPECT_EQ(out, "HEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0\n");
}

TEST_F(CtxdumpTest, InstallPutsBothProgramsAndBothManPagesInPlace) {
  std::string prefix = dir_ + "/prefix";
  std::string log;
  ASSERT_EQ(run_process(shell_quoted(TEKCONV_CMAKE) + " --install " +
                            shell_quoted(TEKCONV_BUILD_DIR) + " --prefix " + shell_quoted(prefix),
                        &log, &log),
            0)
      << log;
  for (const char* page : {"tekconv", "ctxdump"}) {
    std::string text = read_file(prefix + "/share/man/man1/" + page + ".1");
    std::string upper = page;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_NE(text.find("\n.TH " + upper + " 1 "), std::string::npos) << page;
    for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH OPTIONS", ".SH EXIT STATUS",
                                ".SH FILES", ".SH EXAMPLES"})
      EXPECT_NE(text.find(section), std::string::npos) << page << " " << section;
  }
  std::string out;
  EXPECT_EQ(run_process(shell_quoted(prefix + "/bin/ctxdump") + " --help", &out), 0);
  EXPECT_EQ(out.rfind("Usage: ctxdump", 0), 0u);
  EXPECT_EQ(run_process(shell_quoted(prefix + "/bin/tekconv"), &out), 255);
  EXPECT_EQ(out.rfind("ORVA Object File Converter", 0), 0u);
}

}  // namespace
