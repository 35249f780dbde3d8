// The options added to the command line: --help, -h and --version anywhere, -o, -q, --strict
// and --cpd-dir, run as a process. Each case checks standard output, standard error, the status
// and every file the run leaves in its directory.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
namespace R = tekrec;
namespace fs = std::filesystem;

namespace {

class OptionsTest : public TempDirTest {};

// The smallest input, HDR and END, and its context file.
const Bytes INPUT = Builder().hdr().end().bytes();
const std::string CTX = [] {
  Bytes b = Ctx().header().predefined().bytes();
  return std::string(b.begin(), b.end());
}();
const std::string PLAIN(INPUT.begin(), INPUT.end());
// An input whose pass ends early: a record code that no record has.
const std::string DAMAGED = [] {
  Bytes b = Builder().hdr().record(0x12, R::Fields().u8(0)).end().bytes();
  return std::string(b.begin(), b.end());
}();
const std::string DAMAGED_LINE = line::fmt(
    "tekconv: bad.abs:0x%zx: warning: record code 0x12 is not a TEKA record; the pass ends here\n",
    Builder().hdr().bytes().size());

using Files = std::map<std::string, std::string>;

struct Case {
  std::vector<std::string> args;
  std::string out;  // the whole of standard output
  std::string err;
  int status;
  Files made = {};  // files the run adds to the directory
};

// Runs each case in a directory holding prog.abs, bad.abs and the directory out/.
void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
    write_file("prog.abs", PLAIN);
    write_file("bad.abs", DAMAGED);
    fs::create_directory("out");
    Files expected = snapshot();
    for (const auto& [name, bytes] : c.made) expected[name] = bytes;
    RunResult r = run_binary_stderr(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(snapshot(), expected);
  }
}

std::string banner(const std::string& rest) {
  return BANNER + rest;
}

TEST_F(OptionsTest, HelpAndVersionAnywhere) {
  const RunResult help = run_binary_stderr({"--help"});
  ASSERT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  // One screen, and every option named.
  std::istringstream lines(help.out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_LE(line.size(), 80u) << line;
  }
  EXPECT_LE(count, 24);
  for (const char* option :
       {"-o FILE", "-q",  "-v",  "--strict", "--cpd-dir DIR", "-s ", "-sf",       "-st",
        "-sg",     "-ss", "-sl", "-ps",      "-m16",          "-l ", "-fullpath", "-c",
        "-d",      "-k",  "-h",  "--help",   "--version",     "255", "128+n"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const std::string version = "tekconv 1.18\ncontext format version 118\n";
  check({
      {{"-h"}, help.out, "", 0},
      {{"-s", "--help", "prog.abs"}, help.out, "", 0},
      {{"prog.abs", "-h"}, help.out, "", 0},
      {{"-k", "prog.abs", "--help"}, help.out, "", 0},
      {{"--version"}, version, "", 0},
      {{"-o", "x.ctx", "--version", "prog.abs"}, version, "", 0},
      {{"prog.abs", "--version"}, version, "", 0},
  });
}

TEST_F(OptionsTest, OutputName) {
  const std::string usage_hint = " (tekconv --help lists the options)\n";
  check({
      {{"-o", "out/x.ctx", "prog.abs"}, banner("Created out/x.ctx\n"), "", 0, {{"out/x.ctx", CTX}}},
      {{"-o", "x", "prog.abs"}, banner("Created x\n"), "", 0, {{"x", CTX}}},
      // Options on either side; the last -o wins.
      {{"-c", "-o", "a.ctx", "-o", "b.ctx", "-ps", "prog.abs"},
       banner("Created b.ctx\n"),
       "",
       0,
       {{"b.ctx", CTX}}},
      // -o takes the next argument whatever it is: here a file named -s.
      {{"-o", "-s", "prog.abs"}, banner("Created -s\n"), "", 0, {{"-s", CTX}}},
      // The last argument is never an option: prog.abs is converted as before, and the -o
      // that cannot act is named.
      {{"prog.abs", "-o"},
       banner("Created prog.ctx\n"),
       "tekconv: warning: ignoring '-o': options come before the input file\n",
       0,
       {{"prog.ctx", CTX}}},
      // The input is never overwritten, whatever name it is given by.
      {{"-o", "prog.abs", "prog.abs"},
       banner("Error : Cannot create file\n"),
       "tekconv: error: cannot create 'prog.abs': it is the input file\n",
       255},
      {{"-o", "out/../prog.abs", "prog.abs"},
       banner("Error : Cannot create file\n"),
       "tekconv: error: cannot create 'out/../prog.abs': it is the input file\n",
       255},
      // A dump or check writes no context file: naming one is a mistake.
      {{"-o", "x.ctx", "-s", "prog.abs"},
       banner(""),
       "tekconv: error: -o names the output file of a conversion; a dump or -k writes none" +
           usage_hint,
       255},
      {{"-sg", "-o", "x.ctx", "prog.abs"},
       banner(""),
       "tekconv: error: -o names the output file of a conversion; a dump or -k writes none" +
           usage_hint,
       255},
      {{"-k", "-o", "x.ctx", "prog.abs"},
       banner(""),
       "tekconv: error: -o names the output file of a conversion; a dump or -k writes none" +
           usage_hint,
       255},
      {{"-o", "prog.abs"},
       banner(""),
       "tekconv: error: option -o needs a value, then the input file" + usage_hint,
       255},
  });
}

TEST_F(OptionsTest, Quiet) {
  check({
      {{"-q", "prog.abs"}, "", "", 0, {{"prog.ctx", CTX}}},
      {{"-q", "-o", "out/p.ctx", "prog.abs"}, "", "", 0, {{"out/p.ctx", CTX}}},
      // Messages about the input still print, on both outputs.
      {{"-q", "bad.abs"}, "Invalid record\n", DAMAGED_LINE, 0, {{"bad.ctx", CTX}}},
      {{"-q", "-sg", "prog.abs"}, line::header(), "", 0},
      {{"-q", "missing.abs"},
       "Error : Cannot open file\n",
       "tekconv: error: cannot open 'missing.abs': No such file or directory\n",
       255},
      // Alone, -q is the input, as any last argument is.
      {{"-q"},
       banner("Error : Cannot open file\n"),
       "tekconv: warning: '-q' is read as the input file: the last argument is never an "
       "option\ntekconv: error: cannot open '-q': No such file or directory\n",
       255},
  });
}

TEST_F(OptionsTest, StrictFailsOnAnyProblemAndLeavesNoContextFile) {
  const std::string refused =
      "tekconv: error: --strict: the input has problems; no context file is written\n";
  check({
      {{"--strict", "prog.abs"}, banner("Created prog.ctx\n"), "", 0, {{"prog.ctx", CTX}}},
      {{"--strict", "bad.abs"}, banner("Invalid record\n"), DAMAGED_LINE + refused, 2},
      {{"--strict", "-o", "out/b.ctx", "bad.abs"},
       banner("Invalid record\n"),
       DAMAGED_LINE + refused,
       2},
      // A dump prints what it always did, and fails.
      {{"--strict", "-sg", "bad.abs"},
       banner(line::header() + "Invalid record\n"),
       DAMAGED_LINE + "tekconv: error: --strict: the input has problems\n",
       2},
      {{"--strict", "-sg", "prog.abs"}, banner(line::header()), "", 0},
      // Fatal errors keep their status.
      {{"--strict", "missing.abs"},
       banner("Error : Cannot open file\n"),
       "tekconv: error: cannot open 'missing.abs': No such file or directory\n",
       255},
  });

  // A warning that lets the pass go on is enough.
  Builder b = program();
  b.symbol(sym(R::VARIABLE, "v", R::basic_type(1), R::in_section(2, 1, 0, 4))).dpt(7).end();
  b.write("warn.abs");
  RunResult r = run_binary_stderr({"--strict", "warn.abs"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.body(), "Found invalid pointer type 07 (DPT)\n");
  EXPECT_EQ(r.err, "tekconv: 1 warning; run with -v to list it\n" + refused);
  EXPECT_FALSE(exists("warn.ctx"));
  EXPECT_FALSE(exists("warn.ct$"));
  EXPECT_FALSE(exists("warn.cl$"));

  // A context file of an earlier run stays as it was.
  write_file("warn.ctx", "earlier");
  EXPECT_EQ(run_binary_stderr({"--strict", "warn.abs"}).status, 2);
  EXPECT_EQ(read_file("warn.ctx"), "earlier");
  for (const std::string& name : dir_entries()) EXPECT_NE(name.rfind(".warn", 0), 0u) << name;
}

// The companion files of an H8 program come from the directory given.
TEST_F(OptionsTest, CompanionDirectory) {
  Builder b = program("H8S2600");
  b.srcfiles({{"C:\\src\\", "main.c"}});
  b.symbol(sym(R::VARIABLE, "_Foo", R::basic_type(1), R::in_section(2, 0, 0x10, 4))).end();
  b.write("h8.abs");
  ASSERT_EQ(::mkdir("cpd", 0755), 0);
  write_file("cpd/main.cpd", "[HD]\n[DEBUG]\n1 x 0 Foo _Foo\n");
  const std::string renamed = BANNER + line::header() + line::pub(0x1010, T_INT, "Foo");
  const std::string as_is = BANNER + line::header() + line::pub(0x1010, T_INT, "_Foo");

  RunResult r = run_binary_stderr({"--cpd-dir", "cpd", "-sg", "h8.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, renamed);
  EXPECT_EQ(r.err, "");
  // Without it the current directory has no companion file.
  r = run_binary_stderr({"-sg", "h8.abs"});
  EXPECT_EQ(r.out, as_is);
  EXPECT_EQ(r.err, "tekconv: 1 warning; run with -v to list it\n");
  // The conversion gives the context file it gives with the companion file at hand.
  r = run_binary_stderr({"--cpd-dir", "cpd", "-o", "a.ctx", "h8.abs"});
  EXPECT_EQ(r.status, 0);
  fs::copy_file("cpd/main.cpd", "main.cpd");
  r = run_binary_stderr({"-o", "b.ctx", "h8.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_BYTES(file_bytes("a.ctx"), file_bytes("b.ctx"));
  // A directory that is not one is refused before anything is read.
  r = run_binary_stderr({"--cpd-dir", "none", "h8.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            "tekconv: error: cannot use companion directory 'none': No such file or directory "
            "(tekconv --help lists the options)\n");
  r = run_binary_stderr({"--cpd-dir", "h8.abs", "h8.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            "tekconv: error: cannot use companion directory 'h8.abs': Not a directory "
            "(tekconv --help lists the options)\n");
  EXPECT_FALSE(exists("h8.ctx"));
}

}  // namespace
