// The command line, run as a process: usage, the option scan, the context file name, and the
// fatal paths with the files each leaves behind.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "driver/fatal.hpp"
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

Names all_paths() {
  Names names;
  for (const auto& e : fs::recursive_directory_iterator("."))
    names.push_back(e.path().lexically_relative(".").string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs each case in an emptied directory. Afterwards the directory holds what the case put there,
// unchanged, and the context file if the run reports one.
void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + std::to_string(c.file_size_limit));
    for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
    Names files;
    for (const Put& p : c.setup) {
      for (fs::path d = fs::path(p.name).parent_path(); !d.empty(); d = d.parent_path())
        if (d != ".") files.push_back(d.string());
      files.push_back(fs::path(p.name).lexically_normal().string());
      switch (p.what) {
        case Put::INPUT_FILE:
          if (fs::path(p.name).has_parent_path())
            fs::create_directories(fs::path(p.name).parent_path());
          write_file(p.name, std::string(INPUT.begin(), INPUT.end()));
          break;
        case Put::DIRECTORY:
          ASSERT_EQ(::mkdir(p.name.c_str(), 0755), 0);
          break;
        case Put::SYMLINK:
          ASSERT_EQ(::symlink(p.target.c_str(), p.name.c_str()), 0);
          break;
        case Put::LINK:
          ASSERT_EQ(::link(p.target.c_str(), p.name.c_str()), 0);
          break;
      }
    }
    RunResult r = run_binary(c.args, c.file_size_limit);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body(), c.out);
    if (c.out.rfind("Created ", 0) == 0) {
      const std::string ctx = c.out.substr(8, c.out.size() - 9);
      EXPECT_BYTES(file_bytes(ctx), CTX);
      files.push_back(ctx);
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(all_paths(), files);
    for (const Put& p : c.setup) {
      EXPECT_TRUE(p.what != Put::INPUT_FILE || file_bytes(p.name) == INPUT) << p.name;
      EXPECT_TRUE(p.what != Put::DIRECTORY || is_dir(p.name)) << p.name;
    }
  }
}

TEST_F(CliTest, OptionsComeBeforeTheInputAndTheLastArgumentIsNeverOne) {
  const char* const created = "Created prog.ctx\n";
  check({
      {{}, USAGE, 255},
      {{"prog.abs"}, created, 0},
      // -x is no option, so it is taken as the input: its outputs are created, then removed.
      {{"-x", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-S", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-st", "-x", "prog.abs"}, CANNOT_OPEN, 255},
      {{"-s"}, CANNOT_OPEN, 255},
      {{"prog.abs", "-s"}, created, 0},
      {{"-c", "prog.abs"}, created, 0},
      {{"-d", "prog.abs"}, created, 0},
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
  check({
      {{"missing.abs"}, CANNOT_OPEN, 255, {}},
      {{"-s", "missing.abs"}, CANNOT_OPEN, 255, {}},
      {{"dir.abs"}, CANNOT_OPEN, 255, {dir}},
      {{"-st", "dir.abs"}, CANNOT_OPEN, 255, {dir}},
      // A directory that carries an output's name stays.
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::DIRECTORY, "prog.ctx"}}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::DIRECTORY, "prog.ct$"}}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::DIRECTORY, "prog.cl$"}}},
      // The converter never overwrites its input, whether it exists or not.
      {{"prog.ctx"}, CANNOT_CREATE, 255, {{Put::INPUT_FILE, "prog.ctx"}}},
      {{"prog.ct$"}, CANNOT_CREATE, 255, {{Put::INPUT_FILE, "prog.ct$"}}},
      {{"prog.cl$"}, CANNOT_CREATE, 255, {{Put::INPUT_FILE, "prog.cl$"}}},
      {{"prog.ct$"}, CANNOT_CREATE, 255, {}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::LINK, "prog.ctx", "prog.abs"}}},
      {{"./prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::LINK, "prog.ctx", "prog.abs"}}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::SYMLINK, "prog.ct$", "prog.abs"}}},
      {{"prog.abs"}, CANNOT_CREATE, 255, {PROG, {Put::SYMLINK, "prog.cl$", "prog.abs"}}},
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

TEST_F(CliTest, OutputNamesLinkedToDevices) {
  if (!exists("/dev/zero") || !exists("/dev/full")) GTEST_SKIP() << "no /dev/zero or /dev/full";
  write_file("prog.abs", std::string(INPUT.begin(), INPUT.end()));
  ASSERT_EQ(::symlink("/dev/full", "prog.ctx"), 0);
  RunResult r = run_binary({"prog.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), WRITE_ERROR);
  EXPECT_EQ(dir_entries(), Names{"prog.abs"});
  // Whatever carries a temporary stream's name is replaced by the run's own file: a link to a
  // device that swallows or invents bytes changes nothing in the context file.
  ASSERT_EQ(::symlink("/dev/zero", "prog.ct$"), 0);
  ASSERT_EQ(::symlink("/dev/full", "prog.cl$"), 0);
  r = run_binary({"prog.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created prog.ctx\n");
  EXPECT_BYTES(file_bytes("prog.ctx"), CTX);
  EXPECT_EQ(dir_entries(), (Names{"prog.abs", "prog.ctx"}));
}

TEST_F(CliTest, FatalErrorTable) {
  // The messages of codes 1 to 12; the table has no code 11.
  const std::string messages[] = {"Cannot open file",
                                  "Cannot create file",
                                  "Read error",
                                  "Write error",
                                  "Seek error",
                                  "Format error",
                                  "No debug information",
                                  "No map file",
                                  "No symbol file",
                                  "Sum check error",
                                  "",
                                  "Memory allocation error"};
  for (int code = -1; code <= 13; ++code) {
    SCOPED_TRACE(code);
    // fatal_error on a converter whose three outputs are open.
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    int status = 0;
    {
      auto cv = std::make_unique<tek::Converter>();
      cv->out.console = console;
      cv->out.ctx_name = "a.ctx";
      cv->out.type_name = "a.ct$";
      cv->out.local_name = "a.cl$";
      EXPECT_TRUE(tek::out_open(cv->out.main, "a.ctx", false));
      EXPECT_TRUE(tek::out_open(cv->out.type, "a.ct$", true));
      EXPECT_TRUE(tek::out_open(cv->out.local, "a.cl$", true));
      try {
        tek::fatal_error(*cv, code);
      } catch (const tek::RunExit& e) {
        status = e.status;
      }
    }
    std::fclose(console);
    const std::string out(text, size);
    std::free(text);
    EXPECT_EQ(status, 255);
    if (code >= 1 && code <= 12 && !messages[code - 1].empty()) {
      EXPECT_EQ(out, "Error : " + messages[code - 1] + "\n");
      EXPECT_EQ(dir_entries(), Names{});
    } else {
      // A code the table lacks: the message says so, and nothing is cleaned up.
      EXPECT_EQ(out, "Internal error (No error message)\n");
      EXPECT_EQ(dir_entries(), (Names{"a.cl$", "a.ct$", "a.ctx"}));
    }
    for (const std::string& f : dir_entries()) ::unlink(f.c_str());
  }
}

}  // namespace
