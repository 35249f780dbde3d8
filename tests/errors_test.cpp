// Errors outside a run: the command lines of tekconv and ctxdump read into a result that holds
// the job or what is wrong, the one exit status of each tool, and the library's calls on files
// that cannot be used: each ends with its status and its error, and no exception escapes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.hpp"
#include "tekconv/tekconv.hpp"
#include "tools/ctxdump/ctxdump.hpp"
#include "tools/tekconv/tool.hpp"

using namespace tektest;
using tekconv::Status;
namespace fs = std::filesystem;

namespace {

class ErrorsTest : public TempDirTest {};

const Bytes INPUT = tekrec::Builder().hdr().end().bytes();

void put(const std::string& name, const Bytes& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr) << name;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The files in the current directory, sorted.
std::vector<std::string> files_here() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A stream in memory, read back whole.
struct Captured {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* file = ::open_memstream(&buffer, &size);
  Captured() = default;
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  ~Captured() {
    if (file) std::fclose(file);
    std::free(buffer);
  }
  std::string text() {
    std::fflush(file);
    return std::string(buffer, size);
  }
};

std::vector<std::string> with_program(std::vector<std::string> args, const char* program) {
  args.insert(args.begin(), program);
  return args;
}

TEST_F(ErrorsTest, EachWrongCommandLineIsAnErrorWithItsText) {
  put("in.abs", INPUT);
  put("plain", INPUT);
  struct Case {
    std::vector<std::string> args;
    std::string text;
    bool quiet = false;  // the banner is left out: -q was read before the mistake
    bool to_standard_output = false;
  };
  const Case cases[] = {
      {{"--output=", "in.abs"}, "option --output needs a value"},
      {{"-q", "-O=", "in.abs"}, "option -O needs a value", true},
      {{"--cpd-dir=", "-q", "in.abs"}, "option --cpd-dir needs a value"},
      {{"-q", "-o", "in.abs"}, "option -o needs a value, then the input file", true},
      {{"-O", "pdf", "in.abs"}, "-O takes elf or ctx, not 'pdf'"},
      {{"-o", "-", "-s", "in.abs"},
       "-o names the output file of a conversion; a dump or -k writes none",
       false,
       true},
      {{"--bogus", "in.abs"}, "unrecognized option '--bogus'"},
      {{"--cpd-dir", "none", "in.abs"},
       "cannot use companion directory 'none': No such file or directory"},
      {{"--cpd-dir", "plain", "in.abs"}, "cannot use companion directory 'plain': Not a directory"},
      {{"-"},
       "the input is standard input: a conversion needs -o FILE (-o - writes to standard "
       "output)"},
      {{"-q", "--"}, "'--' ends the options; the input file follows it", true},
      {{"-q", "-k"},
       "-k selects the type index check only as the first argument: tekconv -k input_file",
       true},
      {{"-v", "--output"}, "option --output needs a value, then the input file"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> args = with_program(c.args, "tekconv");
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const tek::CommandLineReading reading = tek::read_command_line(args);
    ASSERT_FALSE(reading.command);
    EXPECT_EQ(reading.command.error().code(), tekconv::Error::Code::Usage);
    EXPECT_EQ(reading.command.error().message(), c.text);
    EXPECT_EQ(reading.quiet, c.quiet);
    EXPECT_EQ(reading.to_standard_output, c.to_standard_output);
    EXPECT_FALSE(reading.no_arguments);

    // The whole command: the banner (on standard error with -o -), the text with its hint, 255,
    // and no file made.
    ::testing::internal::CaptureStderr();
    const RunResult r = run_tekconv(c.args);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string banner = c.quiet ? ""
                                       : "ORVA Object File Converter for TEKA format V1.18\n"
                                         "Made by the tekconv developers\n";
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, c.to_standard_output ? "" : banner);
    EXPECT_EQ(err, (c.to_standard_output ? banner : "") + "tekconv: error: " + c.text +
                       " (tekconv --help lists the options)\n");
    EXPECT_EQ(files_here(), (std::vector<std::string>{"in.abs", "plain"}));
  }
}

TEST_F(ErrorsTest, RightCommandLinesGiveTheirJob) {
  put("in.abs", INPUT);
  struct Case {
    std::vector<std::string> args;
    tekconv::Mode mode;
    tekconv::Source::Kind input;
    tekconv::Target::Kind target;
    bool quiet;
    bool to_standard_output;
    std::vector<std::string> warnings;
  };
  using M = tekconv::Mode;
  using S = tekconv::Source::Kind;
  using T = tekconv::Target::Kind;
  const Case cases[] = {
      {{"in.abs"}, M::Convert, S::File, T::BesideInput, false, false, {}},
      {{"-q", "-o", "-", "-"}, M::Convert, S::StandardInput, T::StandardOutput, true, true, {}},
      {{"-st", "in.abs", "-s"},
       M::Dump,
       S::File,
       T::BesideInput,
       false,
       false,
       {"ignoring '-s': options come before the input file"}},
      {{"-k", "in.abs", "more"},
       M::Check,
       S::File,
       T::BesideInput,
       false,
       false,
       {"ignoring extra argument 'more'"}},
      {{"-x"},
       M::Convert,
       S::File,
       T::BesideInput,
       false,
       false,
       {"'-x' is not an option; it is read as the input file"}},
      {{"-k"},
       M::Check,
       S::File,
       T::BesideInput,
       false,
       false,
       {"-k needs the input file after it"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const tek::CommandLineReading reading = tek::read_command_line(with_program(c.args, "tekconv"));
    ASSERT_TRUE(reading.command) << reading.command.error().message();
    const tek::Command& command = *reading.command;
    EXPECT_EQ(command.job.mode, c.mode);
    EXPECT_EQ(command.job.input.kind, c.input);
    EXPECT_EQ(command.job.target.kind, c.target);
    EXPECT_EQ(reading.quiet, c.quiet);
    EXPECT_EQ(command.quiet, c.quiet);
    EXPECT_EQ(reading.to_standard_output, c.to_standard_output);
    EXPECT_EQ(command.warnings, c.warnings);
    EXPECT_TRUE(command.job.options.companions);
  }
  // Nothing but the program name: the short usage, status 255.
  const tek::CommandLineReading none = tek::read_command_line({"tekconv"});
  EXPECT_TRUE(none.no_arguments);
  EXPECT_FALSE(none.command);
  EXPECT_EQ(tek::exit_status(none.command.error()), 255);
}

TEST_F(ErrorsTest, OneExitStatusForEachResult) {
  const std::pair<tekconv::Expected<Status>, int> table[] = {
      {Status::Done, 0},
      {Status::UndefinedType, 1},
      {Status::Strict, 2},
      {Status::Fatal, 255},
      {Status::Abandoned, -1},
      {Status::Usage, 255},
      {tekconv::Error(tekconv::Error::Code::Usage, "wrong"), 255},
  };
  for (const auto& [result, status] : table) EXPECT_EQ(tek::exit_status(result), status);

  // The command returns what its job runner's status maps to.
  put("in.abs", INPUT);
  for (Status s :
       {Status::Done, Status::UndefinedType, Status::Strict, Status::Fatal, Status::Abandoned}) {
    const int status = tek::tekconv_main({"tekconv", "-q", "-s", "in.abs"}, stdout,
                                         [s](const tekconv::Job&) { return s; });
    EXPECT_EQ(status, tekconv::exit_status(s));
  }
}

TEST_F(ErrorsTest, CtxdumpCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> wrong;  // the error's text, or a right line
    tek::CtxdumpArguments::Request request = tek::CtxdumpArguments::Request::Run;
    std::vector<std::string> files = {};
  };
  using Rq = tek::CtxdumpArguments::Request;
  const Case cases[] = {
      {{"--bogus", "a.ctx"}, "unrecognized option '--bogus'"},
      {{"a.ctx", "-z"}, "unknown option -z"},
      {{"--json", "--verify", "a.ctx"}, "--json lists records and cannot be used with --verify"},
      {{"-x"}, ""},
      {{}, ""},
      {{"--bogus", "--help"}, "unrecognized option '--bogus'"},
      {{"--help", "--bogus"}, std::nullopt, Rq::Help},
      {{"a.ctx", "-h"}, std::nullopt, Rq::Help, {"a.ctx"}},
      {{"--version", "--json", "--verify"}, std::nullopt, Rq::Version},
      {{"--", "-x", "-"}, std::nullopt, Rq::Run, {"-x", "-"}},
      {{"-", "b.ctx", "--hex"}, std::nullopt, Rq::Run, {"-", "b.ctx"}},
  };
  const std::string synopsis =
      "Usage: ctxdump [-x|--hex] [--json] file.ctx...\n"
      "       ctxdump --verify file.ctx...\n"
      "ctxdump --help lists the options.\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const std::vector<std::string> args = with_program(c.args, "ctxdump");
    const tekconv::Expected<tek::CtxdumpArguments> a = tek::read_arguments(args);
    if (c.wrong) {
      ASSERT_FALSE(a);
      EXPECT_EQ(a.error().code(), tekconv::Error::Code::Usage);
      EXPECT_EQ(a.error().message(), *c.wrong);
      // The whole command: the text, the synopsis, status 2, nothing listed.
      Captured out, err;
      EXPECT_EQ(tek::ctxdump_main(args, out.file, err.file), 2);
      EXPECT_EQ(out.text(), "");
      EXPECT_EQ(err.text(), (c.wrong->empty() ? "" : "ctxdump: " + *c.wrong + "\n") + synopsis);
    } else {
      ASSERT_TRUE(a) << a.error().message();
      EXPECT_EQ(a->request, c.request);
      EXPECT_EQ(a->files, c.files);
    }
  }
}

TEST_F(ErrorsTest, CompanionDirectoryThatCannotBeUsed) {
  put("plain", INPUT);
  fs::create_directory("cpd");
  put("cpd/main.cpd", Bytes{'x', '\n'});
  struct Case {
    const char* dir;
    int errno_value;  // 0: usable
  };
  for (const Case& c : {Case{"none", ENOENT}, Case{"plain", ENOTDIR}, Case{"", ENOENT},
                        Case{"plain/below", ENOTDIR}, Case{"cpd", 0}}) {
    SCOPED_TRACE(c.dir);
    const tekconv::Expected<tekconv::CompanionLookup> lookup = tekconv::companion_directory(c.dir);
    if (c.errno_value != 0) {
      ASSERT_FALSE(lookup);
      EXPECT_EQ(lookup.error().code(), tekconv::Error::Code::System);
      EXPECT_EQ(lookup.error().system_error(), c.errno_value);
      EXPECT_EQ(lookup.error().message(),
                std::string("cannot use ") + c.dir + ": " + std::strerror(c.errno_value));
      continue;
    }
    ASSERT_TRUE(lookup);
    EXPECT_EQ((*lookup)("main.cpd"), std::optional<std::string>("x\n"));
    EXPECT_EQ((*lookup)("other.cpd"), std::nullopt);
  }
}

// A library call on files that cannot be used: its status and its one error diagnostic, no
// exception, and no file left but those that were there.
TEST_F(ErrorsTest, LibraryCallsOnFilesThatCannotBeUsed) {
  put("in.abs", INPUT);
  fs::create_directory("adir");
  struct Case {
    const char* what;
    std::function<int(const tekconv::Options&)> call;
    std::string error;  // the Error diagnostic's text
  };
  const Case cases[] = {
      {"missing input",
       [](const tekconv::Options& o) { return tekconv::convert_file("gone.abs", "out.ctx", o); },
       "cannot open 'gone.abs': No such file or directory"},
      {"input is a directory",
       [](const tekconv::Options& o) { return tekconv::convert_file("adir", "out.ctx", o); },
       "cannot open 'adir': Is a directory"},
      {"output in a missing directory",
       [](const tekconv::Options& o) {
         return tekconv::convert_file("in.abs", "nodir/out.ctx", o);
       },
       "cannot create 'nodir/out.ctx': No such file or directory"},
      {"output is the input",
       [](const tekconv::Options& o) { return tekconv::convert_file("in.abs", "./in.abs", o); },
       "cannot create './in.abs': it is the input file"},
      {"ELF output in a missing directory",
       [](const tekconv::Options& o) {
         return tekconv::convert_elf_file("in.abs", "nodir/out.elf", o);
       },
       "cannot create 'nodir/out.elf': No such file or directory"},
      // The scratch file is created exclusively: a directory there is in the way.
      {"check scratch is a directory",
       [](const tekconv::Options& o) {
         tekconv::Job job;
         job.mode = tekconv::Mode::Check;
         job.input = tekconv::Source::file("in.abs");
         job.check_scratch = "adir";
         job.options = o;
         return tekconv::exit_status(tekconv::run(job));
       },
       "cannot create 'adir': File exists"},
      {"memory target without bytes",
       [](const tekconv::Options& o) {
         tekconv::Job job;
         job.input = tekconv::Source::file("in.abs");
         job.target.kind = tekconv::Target::Kind::Memory;
         job.options = o;
         return tekconv::exit_status(tekconv::run(job));
       },
       "cannot create file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> errors;
    tekconv::Options options;
    options.console = nullptr;
    options.diagnostics = [&](const tekconv::Diagnostic& d) {
      if (d.severity == tekconv::Diagnostic::Severity::Error) errors.push_back(d.text);
    };
    int status = 0;
    EXPECT_NO_THROW(status = c.call(options));
    EXPECT_EQ(status, 255);
    EXPECT_EQ(errors, std::vector<std::string>{c.error});
    EXPECT_EQ(files_here(), (std::vector<std::string>{"adir", "in.abs"}));
  }
}

TEST_F(ErrorsTest, ConsoleThatCannotBeWrittenFailsWithoutAnError) {
  put("in.abs", INPUT);
  FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::vector<tekconv::Diagnostic> seen;
  tekconv::Options options;
  options.console = full;
  options.diagnostics = [&](const tekconv::Diagnostic& d) { seen.push_back(d); };
  int status = 0;
  EXPECT_NO_THROW(status = tekconv::dump(INPUT, tekconv::Dump::All, options));
  std::fclose(full);
  EXPECT_EQ(status, 255);
  EXPECT_TRUE(seen.empty());
}

// What the caller's own callbacks throw is what escapes a run; the run's temporary files are
// gone by then.
TEST_F(ErrorsTest, TheCallersExceptionsPassThrough) {
  put("in.abs", INPUT);
  tekconv::Options options;
  options.console = nullptr;
  options.diagnostics = [](const tekconv::Diagnostic&) { throw std::runtime_error("caller"); };
  EXPECT_THROW(tekconv::convert_file("gone.abs", "out.ctx", options), std::runtime_error);
  EXPECT_EQ(files_here(), std::vector<std::string>{"in.abs"});
}

}  // namespace
