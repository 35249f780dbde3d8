// The command line, run as a process: usage, the option scan, the context file name, and the
// fatal paths with the files each leaves behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "driver/fatal.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

class CliTest : public TempDirTest {};

using Names = std::vector<std::string>;

const char* const USAGE =
    "Usage:tekconv [option] input_file\n"
    "  option: [-s]         Symbol dump\n"
    "          [-fullpath]  A path name is output in a full path.\n";

// The smallest input: HDR and END.
void write_prog(const std::string& path = "prog.abs") {
  Builder().hdr().end().write(path);
}

Bytes smallest_ctx() {
  return Ctx().header().predefined().bytes();
}

Bytes file_bytes(const std::string& path) {
  std::string s = read_file(path);
  return Bytes(s.begin(), s.end());
}

bool is_dir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs the binary with a limit on the size of the files it writes; SIGXFSZ is ignored so that
// an oversized write fails instead of killing the process. A run that does not end within a
// minute is killed, so that a converter that never notices a failed write fails the test
// instead of hanging it.
RunResult run_with_file_limit(const std::vector<std::string>& args, rlim_t limit = RLIM_INFINITY) {
  int pipefd[2];
  RunResult r;
  if (::pipe(pipefd) != 0) {
    ADD_FAILURE() << "pipe";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(126);
    ::alarm(60);
    ::dup2(pipefd[1], 1);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
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

TEST_F(CliTest, NoArgumentShowsTheUsageAndCreatesNothing) {
  RunResult r = run_binary({});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, std::string(BANNER) + USAGE);
  EXPECT_EQ(dir_entries(), Names{});
}

TEST_F(CliTest, ConversionWritesTheContextFileAndRemovesItsTemporaries) {
  write_prog();
  RunResult r = run_binary({"prog.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(BANNER) + "Created prog.ctx\n");
  EXPECT_EQ(dir_entries(), (Names{"prog.abs", "prog.ctx"}));
  EXPECT_BYTES(file_bytes("prog.ctx"), smallest_ctx());
}

TEST_F(CliTest, OptionsComeBeforeTheInputAndTheLastArgumentIsNeverOne) {
  const std::string header = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
  const struct {
    std::vector<std::string> args;
    std::string out;
    int status;
    Names files;
  } cases[] = {
      // -x is no option, so it is taken as the input: its outputs are created, then removed.
      {{"-x", "prog.abs"}, "Error : Cannot open file\n", 255, {"prog.abs"}},
      {{"-S", "prog.abs"}, "Error : Cannot open file\n", 255, {"prog.abs"}},
      {{"-s"}, "Error : Cannot open file\n", 255, {"prog.abs"}},
      {{"prog.abs", "-s"}, "Created prog.ctx\n", 0, {"prog.abs", "prog.ctx"}},
      {{"-c", "prog.abs"}, "Created prog.ctx\n", 0, {"prog.abs", "prog.ctx"}},
      {{"-d", "prog.abs"}, "Created prog.ctx\n", 0, {"prog.abs", "prog.ctx"}},
      {{"-c", "-d", "-c", "prog.abs"}, "Created prog.ctx\n", 0, {"prog.abs", "prog.ctx"}},
      {{"-ss", "prog.abs", "-sl"}, header, 0, {"prog.abs"}},
      {{"-sf", "-st", "prog.abs"}, predefined_dump() + header, 0, {"prog.abs"}},
      {{"-st", "-sf", "prog.abs"}, header, 0, {"prog.abs"}},
      {{"-st", "-x", "prog.abs"}, "Error : Cannot open file\n", 255, {"prog.abs"}},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    write_prog();
    ::unlink("prog.ctx");
    RunResult r = run_binary(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(dir_entries(), c.files);
    if (c.status == 0 && c.files.size() == 2) {
      EXPECT_BYTES(file_bytes("prog.ctx"), smallest_ctx());
    }
  }
}

TEST_F(CliTest, DumpOptionsReplaceOneAnother) {
  Builder b;
  b.hdr().dbgunit(0x11, 0).srcfiles({{"", "a.c"}}).lines({}).end();
  b.write("prog.abs");
  const std::string header = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
  RunResult types = run_binary({"-sf", "-st", "prog.abs"});
  EXPECT_EQ(types.body(), predefined_dump() + header);
  RunResult files = run_binary({"-st", "-sf", "prog.abs"});
  EXPECT_EQ(files.body(), header + "\nFILE:      [a.c]\nENDLINE:   mode=0000");
  EXPECT_EQ(dir_entries(), Names{"prog.abs"});
}

TEST_F(CliTest, ContextFileNameReplacesFromTheLastDotOfTheWholePath) {
  ASSERT_EQ(::mkdir("dir.old", 0755), 0);
  ASSERT_EQ(::mkdir("sub", 0755), 0);
  const struct {
    std::string input;
    std::string ctx;
  } cases[] = {
      {"dir.old/prog", "dir.ctx"},      {"noext", "noext.ctx"}, {"a.b.abs", "a.b.ctx"},
      {"sub/prog.abs", "sub/prog.ctx"}, {"sub/x", "sub/x.ctx"}, {"./prog", ".ctx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    write_prog(c.input);
    RunResult r = run_binary({c.input});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), "Created " + c.ctx + "\n");
    EXPECT_BYTES(file_bytes(c.ctx), smallest_ctx());
    const std::string stem = c.ctx.substr(0, c.ctx.size() - 4);
    EXPECT_FALSE(exists(stem + ".ct$"));
    EXPECT_FALSE(exists(stem + ".cl$"));
  }
  EXPECT_EQ(dir_entries(), (Names{".ctx", "a.b.abs", "a.b.ctx", "dir.ctx", "dir.old", "noext",
                                  "noext.ctx", "prog", "sub"}));
}

TEST_F(CliTest, PathsLongerThan256BytesWork) {
  std::string dir = ".";
  for (int i = 0; i < 3; ++i) {
    dir += "/" + std::string(120, static_cast<char>('a' + i));
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  }
  const std::string input = dir + "/" + std::string(100, 'p') + ".abs";
  const std::string ctx = dir + "/" + std::string(100, 'p') + ".ctx";
  write_prog(input);
  RunResult r = run_binary({input});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created " + ctx + "\n");
  EXPECT_BYTES(file_bytes(ctx), smallest_ctx());
  EXPECT_FALSE(exists(dir + "/" + std::string(100, 'p') + ".ct$"));
}

TEST_F(CliTest, InputThatCannotBeOpened) {
  ASSERT_EQ(::mkdir("dir.abs", 0755), 0);
  const struct {
    std::vector<std::string> args;
    Names files;
  } cases[] = {
      {{"missing.abs"}, {"dir.abs"}},
      {{"dir.abs"}, {"dir.abs"}},
      {{"-s", "missing.abs"}, {"dir.abs"}},
      {{"-st", "dir.abs"}, {"dir.abs"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    RunResult r = run_binary(c.args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.body(), "Error : Cannot open file\n");
    EXPECT_EQ(dir_entries(), c.files);
    EXPECT_TRUE(is_dir("dir.abs"));
  }
}

TEST_F(CliTest, OutputThatCannotBeCreatedLeavesADirectoryOfItsNameAlone) {
  for (const char* taken : {"prog.ctx", "prog.ct$", "prog.cl$"}) {
    SCOPED_TRACE(taken);
    write_prog();
    ASSERT_EQ(::mkdir(taken, 0755), 0);
    RunResult r = run_binary({"prog.abs"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.body(), "Error : Cannot create file\n");
    EXPECT_EQ(dir_entries(), (Names{"prog.abs", taken}));
    EXPECT_TRUE(is_dir(taken));
    EXPECT_BYTES(file_bytes("prog.abs"), Builder().hdr().end().bytes());
    ASSERT_EQ(::rmdir(taken), 0);
  }
}

TEST_F(CliTest, WriteErrorRemovesTheOutputsAndIsNotReportedAsSuccess) {
  // The type stream alone is 96 bytes and the context file 109: a limit of 50 stops the first
  // write of the type stream, 100 the last write of the context file, 0 the first write.
  for (rlim_t limit : {0, 50, 100}) {
    SCOPED_TRACE(limit);
    write_prog();
    RunResult r = run_with_file_limit({"prog.abs"}, limit);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.body(), "Error : Write error\n");
    EXPECT_EQ(dir_entries(), Names{"prog.abs"});
  }
  write_prog();
  RunResult r = run_with_file_limit({"prog.abs"}, 109);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created prog.ctx\n");
  EXPECT_BYTES(file_bytes("prog.ctx"), smallest_ctx());
}

TEST_F(CliTest, WriteErrorOnAFullDevice) {
  if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  write_prog();
  ASSERT_EQ(::symlink("/dev/full", "prog.ctx"), 0);
  RunResult r = run_with_file_limit({"prog.abs"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Write error\n");
  EXPECT_EQ(dir_entries(), Names{"prog.abs"});
}

// Whatever carries a temporary stream's name is replaced by the run's own file: a link to a
// device that swallows or invents bytes changes nothing in the context file.
TEST_F(CliTest, TemporaryNamesLinkedToDevices) {
  if (!exists("/dev/zero") || !exists("/dev/full")) GTEST_SKIP() << "no /dev/zero or /dev/full";
  write_prog();
  ASSERT_EQ(::symlink("/dev/zero", "prog.ct$"), 0);
  ASSERT_EQ(::symlink("/dev/full", "prog.cl$"), 0);
  RunResult r = run_with_file_limit({"prog.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created prog.ctx\n");
  EXPECT_BYTES(file_bytes("prog.ctx"), smallest_ctx());
  EXPECT_EQ(dir_entries(), (Names{"prog.abs", "prog.ctx"}));
}

TEST_F(CliTest, ConverterNeverOverwritesItsInput) {
  const Bytes input = Builder().hdr().end().bytes();
  const struct {
    const char* what;
    std::string input;
    const char* link;  // a second name made for the input file
    bool symbolic;
  } cases[] = {
      {"input named like the context file", "prog.ctx", nullptr, false},
      {"input named like the type stream", "prog.ct$", nullptr, false},
      {"input named like the local stream", "prog.cl$", nullptr, false},
      {"context file hard-linked to the input", "prog.abs", "prog.ctx", false},
      {"type stream a symlink to the input", "prog.abs", "prog.ct$", true},
      {"local stream a symlink to the input", "prog.abs", "prog.cl$", true},
      {"another path to the input", "./prog.abs", "prog.ctx", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& f : dir_entries()) ::unlink(f.c_str());
    write_prog(c.input);
    if (c.link) {
      ASSERT_EQ(c.symbolic ? ::symlink(c.input.c_str(), c.link) : ::link(c.input.c_str(), c.link),
                0);
    }
    const Names before = dir_entries();
    RunResult r = run_binary({c.input});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.body(), "Error : Cannot create file\n");
    EXPECT_EQ(dir_entries(), before);
    EXPECT_BYTES(file_bytes(c.input), input);
  }
}

TEST_F(CliTest, InputNamedLikeAnOutputIsRefusedEvenWhenItDoesNotExist) {
  RunResult r = run_binary({"prog.ct$"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), "Error : Cannot create file\n");
  EXPECT_EQ(dir_entries(), Names{});
}

TEST_F(CliTest, DumpMayReadAFileNamedLikeAContextFile) {
  write_prog("prog.ctx");
  RunResult r = run_binary({"-sg", "prog.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0");
  EXPECT_EQ(dir_entries(), Names{"prog.ctx"});
}

// fatal_error on a converter whose three outputs are open: what it prints, its status, and
// whether the outputs are gone afterwards.
struct FatalOutcome {
  std::string out;
  int status = 0;
  Names files;
};

FatalOutcome fatal_with_open_outputs(int code) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  FatalOutcome r;
  {
    auto cv = std::make_unique<tek::Converter>();
    cv->out.console = console;
    tek::OutputState& out = cv->out;
    out.ctx_name = "a.ctx";
    out.type_name = "a.ct$";
    out.local_name = "a.cl$";
    EXPECT_TRUE(tek::out_open(out.main, "a.ctx", false));
    EXPECT_TRUE(tek::out_open(out.type, "a.ct$", true));
    EXPECT_TRUE(tek::out_open(out.local, "a.cl$", true));
    try {
      tek::fatal_error(*cv, code);
    } catch (const tek::RunExit& e) {
      r.status = e.status;
    }
  }
  std::fclose(console);
  r.out.assign(text, size);
  std::free(text);
  r.files = dir_entries();
  for (const std::string& f : r.files) ::unlink(f.c_str());
  return r;
}

TEST_F(CliTest, FatalErrorTable) {
  const std::pair<int, const char*> table[] = {
      {1, "Cannot open file"},
      {2, "Cannot create file"},
      {3, "Read error"},
      {4, "Write error"},
      {5, "Seek error"},
      {6, "Format error"},
      {7, "No debug information"},
      {8, "No map file"},
      {9, "No symbol file"},
      {10, "Sum check error"},
      {12, "Memory allocation error"},
  };
  for (const auto& [code, message] : table) {
    SCOPED_TRACE(code);
    FatalOutcome r = fatal_with_open_outputs(code);
    EXPECT_EQ(r.out, std::string("Error : ") + message + "\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.files, Names{});
  }
  // A code the table lacks: the message says so, and nothing is cleaned up.
  for (int code : {0, 11, 13, -1}) {
    SCOPED_TRACE(code);
    FatalOutcome r = fatal_with_open_outputs(code);
    EXPECT_EQ(r.out, "Internal error (No error message)\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.files, (Names{"a.cl$", "a.ct$", "a.ctx"}));
  }
}

}  // namespace
