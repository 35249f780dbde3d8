// The command line, run as a process: usage, the option scan, the context file name, and the
// fatal paths with the files each leaves behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/run.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
namespace fs = std::filesystem;

namespace {

class CliTest : public TempDirTest {};

using Names = std::vector<std::string>;

const char* const USAGE =
    "Usage:tekconv [option] input_file\n"
    "  option: [-s]         Symbol dump\n"
    "          [-fullpath]  A path name is output in a full path.\n";
const char* const CANNOT_OPEN = "Error : Cannot open file\n";
const char* const CANNOT_CREATE = "Error : Cannot create file\n";
const char* const WRITE_ERROR = "Error : Write error\n";

// The smallest input, HDR and END, and its context file.
const Bytes INPUT = Builder().hdr().end().bytes();
const Bytes CTX = Ctx().header().predefined().bytes();

// What a case puts in the directory before the run.
struct Put {
  enum What { INPUT_FILE, DIRECTORY, SYMLINK, LINK } what;
  std::string name;
  std::string target = "";  // of a link
};

const Put PROG = {Put::INPUT_FILE, "prog.abs"};

struct Case {
  std::vector<std::string> args;
  std::string out;  // after the banner
  int status;
  std::vector<Put> setup = {PROG};
  uint64_t file_size_limit = UINT64_MAX;
};

// Runs each case in an emptied directory. Afterwards the directory holds what the case put there,
// unchanged, and the context file if the run reports one.
void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + std::to_string(c.file_size_limit));
    for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
    for (const Put& p : c.setup) {
      if (p.what == Put::INPUT_FILE) {
        fs::create_directories(fs::absolute(p.name).parent_path());
        write_file(p.name, std::string(INPUT.begin(), INPUT.end()));
      }
      if (p.what == Put::DIRECTORY) fs::create_directory(p.name);
      if (p.what == Put::SYMLINK) fs::create_symlink(p.target, p.name);
      if (p.what == Put::LINK) fs::create_hard_link(p.target, p.name);
    }
    auto expected = snapshot();
    RunResult r = run_binary(c.args, c.file_size_limit);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body(), c.out);
    if (c.out.rfind("Created ", 0) == 0)
      expected[c.out.substr(8, c.out.size() - 9)] = std::string(CTX.begin(), CTX.end());
    EXPECT_EQ(snapshot(), expected);
  }
}

TEST_F(CliTest, OptionsComeBeforeTheInputAndTheLastArgumentIsNeverOne) {
  const char* const created = "Created prog.ctx\n";
  check({
      {{}, USAGE, 255},
      {{"prog.abs"}, created, 0},
      // -x is no option, so it is taken as the input, which cannot be opened: nothing is created.
      {{"-x", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-S", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-st", "-x", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-s"}, CANNOT_OPEN, 255},
      {{"prog.abs", "-s"}, created, 0},
      {{"-c", "-d", "-c", "prog.abs"}, created, 0},
      {{"-ps", "-m16", "-l", "-fullpath", "prog.abs"}, created, 0},
      {{"-ss", "prog.abs", "-sl"}, line::header(), 0},
      // A dump writes nothing, so it may read a file named like a context file.
      {{"-sg", "prog.ctx"}, line::header(), 0, {{Put::INPUT_FILE, "prog.ctx"}}},
  });
}

TEST_F(CliTest, ContextFileNameReplacesFromTheLastDotOfTheWholePath) {
  // Paths longer than any 256-byte buffer work too.
  const std::string p = std::string(120, 'a') + "/" + std::string(120, 'b') + "/" +
                        std::string(120, 'c') + "/" + std::string(100, 'p');
  const std::pair<std::string, std::string> names[] = {
      {"dir.old/prog", "dir.ctx"}, {"noext", "noext.ctx"},     {"a.b.abs", "a.b.ctx"},
      {"sub/x", "sub/x.ctx"},      {"sub/a.abs", "sub/a.ctx"}, {"./prog", ".ctx"},
      {p + ".abs", p + ".ctx"},
  };
  for (const auto& [input, ctx] : names)
    check({{{input}, "Created " + ctx + "\n", 0, {{Put::INPUT_FILE, input}}}});
}

TEST_F(CliTest, InputsAndOutputsThatCannotBeUsed) {
  const Put dir = {Put::DIRECTORY, "dir.abs"};
  const std::string created = "Created prog.ctx\n";
  check({
      {{"missing.abs"}, CANNOT_OPEN, 255, {}},
      {{"-s", "missing.abs"}, CANNOT_OPEN, 255, {}},
      {{"dir.abs"}, CANNOT_OPEN, 255, {dir}},
      // A directory that carries the context file's name stays.
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::DIRECTORY, "prog.ctx"}}},
      // The type and local streams have no names: files named like them are not touched.
      {{"prog.abs"}, created, 0, {PROG, {Put::DIRECTORY, "prog.ct$"}}},
      {{"prog.abs"}, created, 0, {PROG, {Put::DIRECTORY, "prog.cl$"}}},
      {{"prog.abs"}, created, 0, {PROG, {Put::SYMLINK, "prog.ct$", "prog.abs"}}},
      {{"prog.ct$"}, created, 0, {{Put::INPUT_FILE, "prog.ct$"}}},
      {{"prog.cl$"}, created, 0, {{Put::INPUT_FILE, "prog.cl$"}}},
      {{"prog.ct$"}, CANNOT_OPEN, 255, {}},
      // The converter never overwrites its input, whether it exists or not.
      {{"prog.ctx"}, CANNOT_CREATE, 255, {{Put::INPUT_FILE, "prog.ctx"}}},
      {{"prog.ctx"}, CANNOT_CREATE, 255, {}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::LINK, "prog.ctx", "prog.abs"}}},
      {{"./prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::LINK, "prog.ctx", "prog.abs"}}},
  });
}

TEST_F(CliTest, WriteErrorRemovesTheOutputsAndIsNotReportedAsSuccess) {
  // The type stream alone is 96 bytes and the context file 109: a limit of 50 stops the first
  // write of the type stream, 100 the last write of the context file, 0 the first write.
  check({
      {{"prog.abs"}, WRITE_ERROR, 255, {PROG}, 0},
      {{"prog.abs"}, WRITE_ERROR, 255, {PROG}, 50},
      {{"prog.abs"}, WRITE_ERROR, 255, {PROG}, 100},
      {{"prog.abs"}, "Created prog.ctx\n", 0, {PROG}, 109},
  });
}

TEST_F(CliTest, FatalErrorTable) {
  // Every code of the table is raised somewhere in a run; the codes between them have no
  // message.
  const std::pair<tek::ErrorCode, const char*> table[] = {
      // clang-format off
      {tek::ERR_OPEN, "Cannot open file"}, {tek::ERR_CREATE, "Cannot create file"},
      {tek::ERR_READ, "Read error"}, {tek::ERR_WRITE, "Write error"}, {tek::ERR_SEEK, "Seek error"},
      {tek::ERR_MEMORY, "Memory allocation error"},
      // clang-format on
  };
  for (const auto& [code, message] : table) EXPECT_STREQ(tek::error_message(code), message);
  for (int code : {-1, 0, 6, 7, 8, 9, 10, 11, 13})
    EXPECT_EQ(tek::error_message(static_cast<tek::ErrorCode>(code)), nullptr) << code;

  // A fatal code the table lacks: the message says so, and the files of the run are not removed.
  // A code of the table: its message, and they are.
  struct Stop {
    int code;
    const char* text;
    bool cleaned;
  };
  for (const Stop& stop : {Stop{11, "Internal error (No error message)\n", false},
                           Stop{4, "Error : Write error\n", true}}) {
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    int status = 0;
    bool cleaned = false;
    {
      auto cv = std::make_unique<tek::Converter>();
      cv->out.console = console;
      status = tek::run_protected(
          *cv, [&]() -> int { tek::fatal_error(static_cast<tek::ErrorCode>(stop.code)); },
          [&] { cleaned = true; });
    }
    std::fclose(console);
    EXPECT_EQ(std::string(text, size), stop.text);
    std::free(text);
    EXPECT_EQ(status, 255);
    EXPECT_EQ(cleaned, stop.cleaned) << stop.code;
  }
}

// What ends a run at the top: each stop and each error, with the console text, the diagnostic
// that reaches the handler, the status and whether the run's files are removed.
TEST_F(CliTest, EachWayARunEndsHasItsStatus) {
  struct End {
    const char* what;
    std::function<void()> body;
    const char* console;
    const char* diagnostic;  // nullptr: none
    int status;
    bool cleaned;
  };
  const End ends[] = {
      {"undefined type", [] { tek::stop_run(tek::STOP_UNDEFINED_TYPE); }, "\nUndefined type",
       nullptr, 1, false},
      {"budget", [] { tek::stop_run(tek::STOP_BUDGET); }, "", nullptr, -1, false},
      {"console", [] { tek::stop_run(tek::STOP_CONSOLE); }, "", nullptr, 255, true},
      {"strict", [] { tek::stop_run(tek::STOP_STRICT); }, "", nullptr, 2, true},
      {"open", [] { tek::fatal_file_error(tek::ERR_OPEN, "x.abs", "it is gone"); },
       "Error : Cannot open file\n", "cannot open 'x.abs': it is gone", 255, true},
      {"seek", [] { tek::fatal_error(tek::ERR_SEEK); }, "Error : Seek error\n", "seek error", 255,
       true},
      {"memory", [] { throw std::bad_alloc(); }, "Error : Memory allocation error\n",
       "memory allocation error", 255, true},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.what);
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    std::vector<std::string> diagnostics;
    bool cleaned = false;
    int status = 0;
    {
      auto cv = std::make_unique<tek::Converter>();
      cv->out.console = console;
      cv->diag.handler = [&](const tek::Diagnostic& d) { diagnostics.push_back(d.text); };
      status = tek::run_protected(
          *cv,
          [&]() -> int {
            end.body();
            return 0;
          },
          [&] { cleaned = true; });
    }
    std::fclose(console);
    EXPECT_EQ(std::string(text, size), end.console);
    std::free(text);
    EXPECT_EQ(status, end.status);
    EXPECT_EQ(cleaned, end.cleaned);
    if (end.diagnostic)
      EXPECT_EQ(diagnostics, std::vector<std::string>{end.diagnostic});
    else
      EXPECT_TRUE(diagnostics.empty());
  }
}

}  // namespace
