// The command-line conventions of tekconv and ctxdump, run as processes: unknown long options,
// "--", joined option values, standard input and output, arguments the run does not use, and
// the help and version texts. Each case checks standard output, standard error, the status and
// every file the run leaves in its directory.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ctxdump_support.hpp"
#include "example_program.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
namespace R = tekrec;
namespace fs = std::filesystem;

namespace {

class CommandLineTest : public TempDirTest {};

// The smallest input, HDR and END, and its context file.
const Bytes INPUT = Builder().hdr().end().bytes();
const std::string PLAIN(INPUT.begin(), INPUT.end());
const std::string CTX = [] {
  Bytes b = Ctx().header().predefined().bytes();
  return std::string(b.begin(), b.end());
}();
// An input whose pass ends early: a record code that no record has.
const std::string DAMAGED = [] {
  Bytes b = Builder().hdr().record(0x12, R::Fields().u8(0)).end().bytes();
  return std::string(b.begin(), b.end());
}();
std::string damaged_line(const std::string& name) {
  return line::fmt(
      "tekconv: %s:0x%zx: warning: record code 0x12 is not a TEKA record; the pass "
      "ends here\n",
      name.c_str(), Builder().hdr().bytes().size());
}

// The report of the type index check on the smallest input: nothing refers to the predefined
// types.
const std::string CHECK_REPORT = [] {
  std::string s;
  for (uint32_t ix = 256; ix < 272; ++ix) s += line::fmt("No reference self index %08x\n", ix);
  return s + "Type index is good\n";
}();

const std::string HINT = " (tekconv --help lists the options)\n";
std::string refused(const std::string& text) {
  return "tekconv: error: " + text + HINT;
}
std::string warning(const std::string& text) {
  return "tekconv: warning: " + text + "\n";
}

using Files = std::map<std::string, std::string>;

// Standard input of a run: the bytes, through a pipe or from a file.
struct Stdin {
  std::string bytes;
  bool pipe = true;
};

// Runs the binary with the given standard input (or the test's own), capturing both outputs.
RunResult run_with_stdin(const std::vector<std::string>& args, const std::optional<Stdin>& in) {
  if (!in) return run_binary_stderr(args);
  int fd = -1;
  if (in->pipe) {
    int p[2];
    if (::pipe(p) != 0) return {};
    // The inputs of these tests fit into the pipe's buffer.
    EXPECT_EQ(::write(p[1], in->bytes.data(), in->bytes.size()),
              static_cast<ssize_t>(in->bytes.size()));
    ::close(p[1]);
    fd = p[0];
  } else {
    FILE* f = std::tmpfile();
    std::fwrite(in->bytes.data(), 1, in->bytes.size(), f);
    std::fflush(f);
    fd = ::dup(::fileno(f));
    std::fclose(f);
    ::lseek(fd, 0, SEEK_SET);
  }
  const int saved = ::dup(0);
  ::dup2(fd, 0);  // the child inherits it
  ::close(fd);
  RunResult r = run_binary_stderr(args);
  ::dup2(saved, 0);
  ::close(saved);
  return r;
}

struct Case {
  std::vector<std::string> args;
  std::string out;  // the whole of standard output
  std::string err;
  int status;
  Files made = {};  // files the run adds to the directory
  std::optional<Stdin> in = {};
  Files put = {};  // files put into the directory before the run
};

// Runs each case in a directory holding prog.abs, bad.abs and the directory out/.
void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + (c.in ? c.in->pipe ? " <pipe" : " <file" : ""));
    for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
    write_file("prog.abs", PLAIN);
    write_file("bad.abs", DAMAGED);
    fs::create_directory("out");
    for (const auto& [name, bytes] : c.put) write_file(name, bytes);
    Files expected = snapshot();
    for (const auto& [name, bytes] : c.made) expected[name] = bytes;
    RunResult r = run_with_stdin(c.args, c.in);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(snapshot(), expected);
  }
}

// Reported by a new user: each of these was a "cannot open" on an option, or an argument dropped
// without a word.
TEST_F(CommandLineTest, MistakesAreNamedWhereTheyAre) {
  const std::string created = BANNER + std::string("Created prog.ctx\n");
  check({
      // A "--name" that is no option, where the input or the options are.
      {{"--bogus", "prog.abs"}, BANNER, refused("unrecognized option '--bogus'"), 255},
      {{"-q", "--bogus", "prog.abs"}, "", refused("unrecognized option '--bogus'"), 255},
      {{"-x", "--output=", "prog.abs"}, BANNER, refused("option --output needs a value"), 255},
      // -k acts only as the first argument; -o and the other options with a value need it.
      {{"-q", "-k", "prog.abs"},
       "",
       refused("-k selects the type index check only as the first argument: tekconv -k "
               "input_file"),
       255},
      {{"-q", "-o"}, "", refused("option -o needs a value, then the input file"), 255},
      {{"-q", "--output"}, "", refused("option --output needs a value, then the input file"), 255},
      {{"-q", "-O"}, "", refused("option -O needs a value, then the input file"), 255},
      {{"-O"}, BANNER, refused("option -O needs a value, then the input file"), 255},
      {{"-Obogus", "prog.abs"}, BANNER, refused("-O takes elf or ctx, not 'bogus'"), 255},
      {{"--"}, BANNER, refused("'--' ends the options; the input file follows it"), 255},
      // A second input is not converted, and says so.
      {{"prog.abs", "prog2.abs"},
       created,
       warning("ignoring extra argument 'prog2.abs'"),
       0,
       {{"prog.ctx", CTX}}},
      {{"prog.abs", "--bogus", "x"},
       created,
       warning("ignoring unrecognized option '--bogus'") + warning("ignoring extra argument 'x'"),
       0,
       {{"prog.ctx", CTX}}},
      {{"prog.abs", "-s"},
       created,
       warning("ignoring '-s': options come before the input file"),
       0,
       {{"prog.ctx", CTX}}},
      {{"prog.abs", "-k"},
       created,
       warning("ignoring '-k': the type index check takes it as the first argument"),
       0,
       {{"prog.ctx", CTX}}},
      // A word that is read as the input file because of where it stands.
      {{"-x", "prog.abs"},
       BANNER + std::string("Error : Cannot open file\n"),
       warning("'-x' is not an option; it is read as the input file") +
           warning("ignoring extra argument 'prog.abs'") +
           "tekconv: error: cannot open '-x': No such file or directory\n",
       255},
      {{"-q", "-s"},
       "Error : Cannot open file\n",
       warning("'-s' is read as the input file: the last argument is never an option") +
           "tekconv: error: cannot open '-s': No such file or directory\n",
       255},
      {{"-k", "-q", "prog.abs"},
       "Error : Cannot open file\n",
       warning("'-q' is read as the input file: -k takes the argument after it") +
           warning("ignoring extra argument 'prog.abs'") +
           "tekconv: error: cannot open '-q': No such file or directory\n",
       255,
       {{"selfix.$$$", ""}}},
      {{"-k"},
       BANNER + std::string("Error : Cannot open file\n"),
       warning("-k needs the input file after it") +
           "tekconv: error: cannot open file: No such file or directory\n",
       255,
       // The scratch file stays after a fatal error of the check, as it always has.
       {{"selfix.$$$", ""}}},
  });
}

TEST_F(CommandLineTest, DoubleDashAndJoinedValues) {
  check({
      {{"-q", "--", "prog.abs"}, "", "", 0, {{"prog.ctx", CTX}}},
      {{"--", "-x.abs"},
       BANNER + std::string("Created -x.ctx\n"),
       "",
       0,
       {{"-x.ctx", CTX}},
       std::nullopt,
       {{"-x.abs", PLAIN}}},
      // After "--" nothing is an option.
      {{"-q", "--", "-s", "prog.abs"},
       "",
       warning("ignoring extra argument 'prog.abs'"),
       0,
       {{"-s.ctx", CTX}},
       std::nullopt,
       {{"-s", PLAIN}}},
      {{"-k", "--", "-x.abs"}, BANNER + CHECK_REPORT, "", 0, {}, std::nullopt, {{"-x.abs", PLAIN}}},
      {{"--output=out/x.ctx", "prog.abs"},
       BANNER + std::string("Created out/x.ctx\n"),
       "",
       0,
       {{"out/x.ctx", CTX}}},
      {{"--output", "x.ctx", "-q", "prog.abs"}, "", "", 0, {{"x.ctx", CTX}}},
      {{"-O=ctx", "-q", "prog.abs"}, "", "", 0, {{"prog.ctx", CTX}}},
      {{"-Octx", "-q", "prog.abs"}, "", "", 0, {{"prog.ctx", CTX}}},
      {{"--cpd-dir=out", "-q", "prog.abs"}, "", "", 0, {{"prog.ctx", CTX}}},
      {{"--cpd-dir=none", "prog.abs"},
       BANNER,
       refused("cannot use companion directory 'none': No such file or directory"),
       255},
  });
}

TEST_F(CommandLineTest, StandardInputAndOutput) {
  const std::string header = line::header();
  std::vector<Case> cases;
  for (bool pipe : {true, false}) {
    const Stdin plain{PLAIN, pipe}, damaged{DAMAGED, pipe};
    const std::vector<Case> each = {
        // The context file alone on standard output; the rest on standard error.
        {{"-q", "-o", "-", "-"}, CTX, "", 0, {}, plain},
        {{"-o", "-", "-"}, CTX, BANNER + std::string("Created -\n"), 0, {}, plain},
        {{"-q", "-o", "out/x.ctx", "-"}, "", "", 0, {{"out/x.ctx", CTX}}, plain},
        {{"-sg", "-"}, BANNER + header, "", 0, {}, plain},
        // The check reads a pipe once and a file twice; both passes see the same bytes.
        {{"-k", "-"}, BANNER + CHECK_REPORT, "", 0, {}, plain},
        {{"-q", "--", "-"},
         "",
         refused("the input is standard input: a conversion needs -o FILE "
                 "(-o - writes to standard output)"),
         255,
         {},
         plain},
        // Messages about the input go with the banner.
        {{"-o", "-", "-"},
         CTX,
         BANNER + std::string("Invalid record\n") + damaged_line("-") + "Created -\n",
         0,
         {},
         damaged},
        // A run that fails writes nothing to standard output.
        {{"-q", "--strict", "-o", "-", "-"},
         "",
         "Invalid record\n" + damaged_line("-") +
             "tekconv: error: --strict: the input has problems; no context file is written\n",
         2,
         {},
         damaged},
    };
    cases.insert(cases.end(), each.begin(), each.end());
  }
  const std::vector<Case> files = {
      {{"-o", "-", "prog.abs"}, CTX, BANNER + std::string("Created -\n"), 0},
      {{"-q", "-o", "-", "missing.abs"},
       "",
       "tekconv: error: cannot open 'missing.abs': No such file or directory\nError : Cannot "
       "open file\n",
       255},
      // -o - names no file of a dump: the error goes with the banner, to standard error.
      {{"-o", "-", "-s", "prog.abs"},
       "",
       BANNER + refused("-o names the output file of a conversion; a dump or -k writes none"),
       255},
      {{"-q", "-"},
       "",
       refused("the input is standard input: a conversion needs -o FILE (-o - "
               "writes to standard output)"),
       255},
  };
  cases.insert(cases.end(), files.begin(), files.end());
  check(cases);
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// What -o - writes is the file that -o FILE writes, for each output kind and either input.
TEST_F(CommandLineTest, StandardOutputCarriesTheBytesOfTheFile) {
  R::example_program().write("prog.abs");
  const std::string program = read_file("prog.abs");
  for (const char* kind : {"ctx", "elf"}) {
    SCOPED_TRACE(kind);
    const std::string file = std::string("prog.") + kind;
    RunResult to_file = run_binary_stderr({"-v", "-O", kind, "-o", file, "prog.abs"});
    ASSERT_EQ(to_file.status, 0) << to_file.err;
    const std::string bytes = read_file(file);
    ASSERT_GT(bytes.size(), 1000u);
    fs::remove(file);
    const auto before = snapshot();
    const std::vector<std::optional<Stdin>> inputs = {std::nullopt, Stdin{program, true},
                                                      Stdin{program, false}};
    for (const std::optional<Stdin>& in : inputs) {
      RunResult r = run_with_stdin({"-v", "-O", kind, "-o", "-", in ? "-" : "prog.abs"}, in);
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(r.out == bytes) << "standard output differs from " << file;
      // The banner, the messages and the Created line, as a run into a file prints them.
      std::string expected = to_file.out + to_file.err;
      expected.replace(expected.find("Created " + file), 8 + file.size(), "Created -");
      std::string got = r.err;
      if (in) {  // located warnings name the input as given
        ASSERT_NE(got.find("tekconv: -:0x"), std::string::npos) << got;
        for (size_t at; (at = got.find("tekconv: -:")) != std::string::npos;)
          got.replace(at, 11, "tekconv: prog.abs:");
      }
      EXPECT_EQ(sorted_lines(got), sorted_lines(expected));
      EXPECT_EQ(snapshot(), before);
    }
  }
}

// Every command line that worked keeps its standard output, status and files; what it ignores
// is named on standard error.
TEST_F(CommandLineTest, WorkingCommandLinesKeepTheirOutput) {
  const std::string HELP = run_binary({"--help"}).out;
  ASSERT_EQ(HELP.rfind("Usage: tekconv", 0), 0u);
  const std::string created = BANNER + std::string("Created prog.ctx\n");
  const Files prog_ctx = {{"prog.ctx", CTX}};
  check({
      {{"prog.abs"}, created, "", 0, prog_ctx},
      {{"-c", "-d", "-ps", "-m16", "-l", "-fullpath", "prog.abs"}, created, "", 0, prog_ctx},
      {{"-o", "-s", "prog.abs"}, BANNER + std::string("Created -s\n"), "", 0, {{"-s", CTX}}},
      {{"-o", "--x", "prog.abs"}, BANNER + std::string("Created --x\n"), "", 0, {{"--x", CTX}}},
      {{"-sg", "prog.abs", "-x"},
       BANNER + line::header(),
       warning("ignoring extra argument '-x'"),
       0},
      {{"-ss", "prog.abs", "-sl"},
       BANNER + line::header(),
       warning("ignoring '-sl': options come before the input file"),
       0},
      // The input is the argument after as many arguments as the options took, wherever they
      // stand.
      {{"junk", "prog.abs", "-q", "last"},
       "",
       warning("ignoring extra argument 'junk'") + warning("ignoring extra argument 'last'"),
       0,
       prog_ctx},
      {{"--bogus", "prog.abs", "-q", "z"},
       "",
       warning("ignoring unrecognized option '--bogus'") + warning("ignoring extra argument 'z'"),
       0,
       prog_ctx},
      // --help, -h and --version answer wherever they stand, also after "--".
      {{"-q", "--", "--help"}, HELP, "", 0},
      // "--" after the input ends the options; what follows it is not read.
      {{"-q", "prog.abs", "--", "x"},
       "",
       warning("ignoring extra argument '--'") + warning("ignoring extra argument 'x'"),
       0,
       prog_ctx},
      {{"prog.abs", "--"}, created, warning("ignoring extra argument '--'"), 0, prog_ctx},
      // A file named like an option is read when it exists.
      {{"-x"},
       BANNER + std::string("Created -x.ctx\n"),
       "",
       0,
       {{"-x.ctx", CTX}},
       std::nullopt,
       {{"-x", PLAIN}}},
      {{"-q", "-k"}, "", "", 0, {{"-k.ctx", CTX}}, std::nullopt, {{"-k", PLAIN}}},
      {{"--strict", "bad.abs", "-v"},
       BANNER + std::string("Invalid record\n"),
       warning("ignoring '-v': options come before the input file") + damaged_line("bad.abs") +
           "tekconv: error: --strict: the input has problems; no context file is written\n",
       2},
  });
}

// The first line of a help text that begins with "Example: ", without those words.
std::string example_of(const std::string& help) {
  const size_t at = help.find("\nExample: ");
  if (at == std::string::npos) return std::string();
  const size_t from = at + 10;
  return help.substr(from, help.find('\n', from) - from);
}

void expect_fits_a_screen(const std::string& help, size_t max_lines) {
  std::istringstream lines(help);
  size_t count = 0;
  for (std::string l; std::getline(lines, l); ++count) EXPECT_LE(l.size(), 80u) << l;
  EXPECT_LE(count, max_lines);
}

TEST_F(CommandLineTest, HelpNamesEveryOptionAndItsExampleWorks) {
  const RunResult help = run_binary_stderr({"--help"});
  ASSERT_EQ(help.status, 0);
  expect_fits_a_screen(help.out, 24);
  for (const char* words : {"-O FORMAT", "ctx", "elf", "-o -", "--output=FILE", "-OFORMAT",
                            "-O=FORMAT", "--cpd-dir=DIR", "--", "stdin", "tekconv -k input_file",
                            "list the records", "Exit status", "128+n"})
    EXPECT_NE(help.out.find(words), std::string::npos) << words;

  // The example runs as it is written.
  const std::string example = example_of(help.out);
  ASSERT_EQ(example.rfind("tekconv ", 0), 0u) << example;
  std::vector<std::string> args;
  std::istringstream words(example.substr(8));
  for (std::string w; words >> w;) args.push_back(w);
  write_file("prog.abs", PLAIN);
  fs::create_directory("build");
  RunResult r = run_binary_stderr(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(read_file("build/prog.ctx"), CTX);
}

TEST_F(CommandLineTest, CtxdumpConventions) {
  using ctxdumptest::run_ctxdump;
  write_file("prog.abs", PLAIN);
  ASSERT_EQ(run_binary({"-q", "prog.abs"}).status, 0);
  const std::string listing = run_ctxdump({"prog.ctx"}).out;
  const std::string verdict = "prog.ctx: sound: 17 records, 109 bytes\n";
  ASSERT_EQ(run_ctxdump({"--verify", "prog.ctx"}).out, verdict);

  // --version as tekconv prints it, under its own name.
  const std::string version = run_binary({"--version"}).out;
  ASSERT_EQ(version.rfind("tekconv ", 0), 0u);
  ctxdumptest::DumpRun r = run_ctxdump({"--version", "prog.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ctxdump " + version.substr(8));
  EXPECT_EQ(r.err, "");

  const std::string usage =
      "Usage: ctxdump [-x|--hex] [--json] file.ctx...\n"
      "       ctxdump --verify file.ctx...\n"
      "ctxdump --help lists the options.\n";
  r = run_ctxdump({"--bogus", "prog.ctx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ctxdump: unrecognized option '--bogus'\n" + usage);
  r = run_ctxdump({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, usage);

  r = run_ctxdump({"--help"});
  EXPECT_EQ(r.status, 0);
  expect_fits_a_screen(r.out, 24);
  for (const char* words : {"-x, --hex", "--json", "--verify", "--version", "-h, --help", "--",
                            "standard input", "Exit status", "Example: "})
    EXPECT_NE(r.out.find(words), std::string::npos) << words;
  // The example runs as it is written.
  EXPECT_EQ(example_of(r.out), "ctxdump --verify prog.ctx");

  // "-" is standard input, also after "--", through a pipe or from a file; "./-" is a file.
  const std::string ctx = read_file("prog.ctx");
  for (bool pipe : {true, false}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--verify", "-"}, {"-"}, {"--", "-"}}) {
      SCOPED_TRACE(testing::PrintToString(args) + (pipe ? " <pipe" : " <file"));
      int fd;
      FILE* f = nullptr;
      if (pipe) {
        int p[2];
        ASSERT_EQ(::pipe(p), 0);
        ASSERT_EQ(::write(p[1], ctx.data(), ctx.size()), static_cast<ssize_t>(ctx.size()));
        ::close(p[1]);
        fd = p[0];
      } else {
        f = std::tmpfile();
        std::fwrite(ctx.data(), 1, ctx.size(), f);
        std::fflush(f);
        fd = ::dup(::fileno(f));
        ::lseek(fd, 0, SEEK_SET);
      }
      const int saved = ::dup(0);
      ::dup2(fd, 0);
      ::close(fd);
      r = run_ctxdump(args);
      ::dup2(saved, 0);
      ::close(saved);
      if (f) std::fclose(f);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, args[0] == "--verify" ? "-" + verdict.substr(8) : listing);
      EXPECT_EQ(r.err, "");
    }
  }
  r = run_ctxdump({"./-"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ctxdump: ./-: cannot read: No such file or directory\n");
}

}  // namespace
