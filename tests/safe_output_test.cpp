// The files a run leaves, through the tekconv and ctxdump binaries: a failed, interrupted or
// concurrent run never truncates, writes or deletes a file it did not create, and a context file
// appears whole or not at all. Every case checks the directory afterwards byte for byte.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "example_program.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uid_t NOBODY = 65534;
const char* const CANNOT_OPEN = "Error : Cannot open file\n";
const char* const CANNOT_CREATE = "Error : Cannot create file\n";
const char* const WRITE_ERROR = "Error : Write error\n";
const char* const CREATED = "Created prog.ctx\n";

class SafeOutputTest : public TempDirTest {};

// ---------------------------------------------------------------------------------------------
// Processes.

struct Spawn {
  explicit Spawn(std::vector<std::string> arguments) : args(std::move(arguments)) {}
  std::vector<std::string> args;
  const char* binary = TEKCONV_BINARY;
  std::string dir;  // working directory; empty: the test's
  int out = -1;     // standard output; -1: captured through a pipe
  rlim_t file_size = RLIM_INFINITY;
  bool ignore_sigxfsz = false;  // else every signal is at its default action
  bool unprivileged = false;    // run as nobody
  int gate[2] = {-1, -1};       // a pipe: the child waits until its writing end is closed
};

struct Proc {
  pid_t pid = -1;
  int out = -1;  // reading end of the captured standard output
  FILE* err = nullptr;
};

struct Result {
  int status = -1;      // exit status, or 128 + the signal that ended the process
  bool killed = false;  // by the test, still running at the deadline
  std::string out, err;
  long peak_rss_kb = 0;
  double seconds = 0;
  // Standard output after the two banner lines.
  std::string body() const { return RunResult{status, out, {}}.body(); }
};

bool drop_privileges() {
  if (::geteuid() != 0) return true;  // already an ordinary user
  return ::setgroups(0, nullptr) == 0 && ::setgid(NOBODY) == 0 && ::setuid(NOBODY) == 0;
}

Proc start(const Spawn& s) {
  Proc p;
  int pipefd[2] = {-1, -1};
  if (s.out < 0 && ::pipe2(pipefd, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
  p.err = std::tmpfile();
  p.pid = ::fork();
  if (p.pid == 0) {
    if (s.gate[0] >= 0) {
      ::close(s.gate[1]);
      char c;
      while (::read(s.gate[0], &c, 1) < 0 && errno == EINTR) {
      }
      ::close(s.gate[0]);
    }
    if (!s.dir.empty() && ::chdir(s.dir.c_str()) != 0) ::_exit(125);
    ::dup2(s.out >= 0 ? s.out : pipefd[1], 1);
    ::dup2(fileno(p.err), 2);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(sig, SIG_DFL);
    if (s.ignore_sigxfsz) ::signal(SIGXFSZ, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (s.file_size != RLIM_INFINITY) {
      const rlimit limit = {s.file_size, s.file_size};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (s.unprivileged && !drop_privileges()) ::_exit(126);
    std::vector<char*> argv = {const_cast<char*>(s.binary)};
    for (const std::string& a : s.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(s.binary, argv.data());
    ::_exit(127);
  }
  if (pipefd[1] >= 0) ::close(pipefd[1]);
  p.out = pipefd[0];
  return p;
}

// Collects the output and the end of a process, killing it at the deadline. With
// hang_up_after_first_line, the reader of its standard output goes away after the first line,
// as `| head -1` does.
Result finish(Proc& p, double seconds = 60, bool hang_up_after_first_line = false) {
  Result r;
  const auto begin = Clock::now();
  const auto deadline = begin + std::chrono::duration<double>(seconds);
  auto left_ms = [&] {
    return static_cast<int>(std::max<long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  if (p.out >= 0) {
    char buf[4096];
    for (;;) {
      pollfd pfd = {p.out, POLLIN, 0};
      const int ready = ::poll(&pfd, 1, left_ms());
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;  // the deadline
      const ssize_t n = ::read(p.out, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      r.out.append(buf, static_cast<size_t>(n));
      if (hang_up_after_first_line && r.out.find('\n') != std::string::npos) break;
    }
    ::close(p.out);
    p.out = -1;
  }
  int st = 0;
  rusage usage{};
  while (::wait4(p.pid, &st, WNOHANG, &usage) == 0) {
    if (Clock::now() >= deadline) {
      ::kill(p.pid, SIGKILL);
      ::wait4(p.pid, &st, 0, &usage);
      r.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.peak_rss_kb = usage.ru_maxrss;
  std::fflush(p.err);
  std::rewind(p.err);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p.err)) > 0;) r.err.append(buf, n);
  std::fclose(p.err);
  p.err = nullptr;
  return r;
}

Result run(const Spawn& s, double seconds = 60) {
  Proc p = start(s);
  return finish(p, seconds);
}

Result run(const std::vector<std::string>& args) {
  return run(Spawn{args});
}

// ---------------------------------------------------------------------------------------------
// Files.

void put(const std::string& path, const Bytes& bytes) {
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

// What a directory entry is: a regular file with its bytes, a link with its target, or another
// kind. Compared exactly; printed short.
struct Entry {
  std::string kind, content;
  bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os) {
  *os << e.kind;
  if (e.kind == "file") {
    uint64_t h = 1469598103934665603ull;  // FNV-1a, to tell contents apart in a message
    for (unsigned char c : e.content) h = (h ^ c) * 1099511628211ull;
    *os << " of " << e.content.size() << " bytes, hash " << std::hex << h << std::dec;
  } else if (!e.content.empty()) {
    *os << " to " << e.content;
  }
}

Entry file_entry(const Bytes& bytes) {
  return {"file", std::string(bytes.begin(), bytes.end())};
}

using State = std::map<std::string, Entry>;

// Every entry of the current directory, hidden ones included.
State state() {
  State entries;
  for (const std::string& name : dir_entries()) {
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode))
      entries[name] = {"file", read_file(name)};
    else if (S_ISLNK(st.st_mode))
      entries[name] = {"link", fs::read_symlink(name).string()};
    else if (S_ISFIFO(st.st_mode))
      entries[name] = {"fifo", ""};
    else
      entries[name] = {"other", ""};
  }
  return entries;
}

std::vector<std::string> temporaries() {
  std::vector<std::string> names;
  for (const std::string& name : dir_entries())
    if (name.rfind(".prog.ctx.", 0) == 0) names.push_back(name);
  return names;
}

// A directory of its own, removed when it goes.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "tekconv-safe-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) path = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// The context file that a run alone, in a directory of its own, makes of the input named `name`.
Bytes lone_run(const Bytes& input, const std::string& name = "prog.abs",
               const std::string& companion = "") {
  ScratchDir d;
  put(d.path + "/" + name, input);
  if (!companion.empty()) write_file(d.path + "/main.cpd", companion);
  Spawn s{{name}};
  s.dir = d.path;
  const Result r = run(s);
  EXPECT_EQ(r.status, 0) << r.out;
  return file_bytes(d.path + "/prog.ctx");
}

// ctxdump --verify finds the file sound.
void expect_sound(const std::string& path) {
  Spawn s{{"--verify", path}};
  s.binary = CTXDUMP_BINARY;
  const Result r = run(s);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// Should a reader of a pipe that the test feeds die, feeding fails instead of killing the test.
struct PipeIgnored {
  sighandler_t old = ::signal(SIGPIPE, SIG_IGN);
  ~PipeIgnored() { ::signal(SIGPIPE, old); }
};

// Opens the FIFO for writing once a run has opened it for reading; -1 if none does in 30 s.
int open_feed(const std::string& fifo) {
  const auto until = Clock::now() + std::chrono::seconds(30);
  for (;;) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // ENXIO until then
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, 0);
      return fd;
    }
    if (Clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// ---------------------------------------------------------------------------------------------
// Inputs.

const Bytes EXAMPLE = tekrec::example_program().bytes();

// A program made nearly all of SYMBOL records: per function a global beside it, the function and
// four locals. `prefix` makes the names of one program differ from another's. Function type ids
// repeat after 61440 functions.
Builder symbol_program(int functions, const std::string& prefix = "f") {
  Builder b = program();
  for (int i = 0; i < functions; ++i) {
    const std::string n = prefix + std::to_string(i);
    const uint32_t at = static_cast<uint32_t>(i) * 0x10;
    b.symbol(sym(tekrec::VARIABLE, "g_" + n, tekrec::basic_type(1),
                 tekrec::in_section(2, 2, at / 4, 4)));
    b.symbol(sym(tekrec::FUNCTION, n, tekrec::basic_type(1), tekrec::in_section(2, 0, at, 0x10),
                 static_cast<uint16_t>(1 + i % 0xF000)));
    b.attr(0x00, 1);
    for (uint32_t l = 0; l < 4; ++l)
      b.symbol(sym(tekrec::VARIABLE, "local" + std::to_string(l), tekrec::basic_type(2),
                   tekrec::in_frame(8 + 4 * l)));
    b.blkend(0x40);
  }
  return b.end();
}

// A program of `count` globals and nothing else.
Builder globals_program(int count) {
  Builder b = program();
  for (int i = 0; i < count; ++i)
    b.symbol(sym(tekrec::VARIABLE, "global" + std::to_string(i), tekrec::basic_type(1),
                 tekrec::in_section(2, 2, static_cast<uint32_t>(i) * 4, 4)));
  return b.end();
}

// A program whose conversion prints a message for each of `count` pointer records of a kind
// that does not exist, and goes on.
Builder chatty_program(int count) {
  Builder b = program();
  b.symbol(sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(2, 2, 0, 4)));
  for (int i = 0; i < count; ++i) b.dpt(5);
  return b.end();
}

// ---------------------------------------------------------------------------------------------
// 1. A missing input creates and deletes nothing.

TEST_F(SafeOutputTest, MistypedInputNameLeavesTheEarlierContextFile) {
  put("prog.abs", EXAMPLE);
  ASSERT_EQ(run({"prog.abs"}).status, 0);
  const auto before = state();
  const Result r = run({"prog.abz"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), CANNOT_OPEN);
  EXPECT_EQ(state(), before);
}

// ---------------------------------------------------------------------------------------------
// 2. Permissions: a context file is only ever replaced whole, by a run that succeeds.

// Why the permission cases cannot run here, or "" when they can: an ordinary user is needed, whom
// a directory without write permission stops.
std::string why_no_ordinary_user(const std::string& read_only_dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!drop_privileges()) ::_exit(1);
    ::_exit(::access(read_only_dir.c_str(), W_OK) == 0 ? 2 : 0);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (!WIFEXITED(st) || WEXITSTATUS(st) == 1) return "cannot drop privileges to uid 65534";
  if (WEXITSTATUS(st) == 2) return "an ordinary user here writes a read-only directory";
  return "";
}

TEST_F(SafeOutputTest, PermissionsNeverCostTheEarlierContextFile) {
  put("prog.abs", EXAMPLE);
  ASSERT_EQ(run({"prog.abs"}).status, 0);
  const Bytes expected = file_bytes("prog.ctx");
  const Bytes earlier = {'o', 'l', 'd'};
  ASSERT_EQ(::chmod(".", 0555), 0);
  if (const std::string why = why_no_ordinary_user("."); !why.empty()) GTEST_SKIP() << why;

  struct Case {
    const char* what;
    mode_t dir_mode, ctx_mode;
    const char* input;
    int status;
    std::string out;
    bool replaced;
  };
  const Case cases[] = {
      // A run cannot create its file in the directory: the writable file there stays whole.
      {"unwritable directory, writable file", 0555, 0666, "prog.abs", 255, CANNOT_CREATE, false},
      // A read-only file in a writable directory is replaced by a successful run only.
      {"read-only file, success", 0777, 0444, "prog.abs", 0, CREATED, true},
      {"read-only file, missing input", 0777, 0444, "prog.abz", 255, CANNOT_OPEN, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(::chmod(".", 0777), 0);
    ::unlink("prog.ctx");
    put("prog.ctx", earlier);
    ASSERT_EQ(::chmod("prog.ctx", c.ctx_mode), 0);
    ASSERT_EQ(::chmod(".", c.dir_mode), 0);
    auto after = state();
    if (c.replaced) after["prog.ctx"] = file_entry(expected);
    Spawn s{{c.input}};
    s.unprivileged = true;
    const Result r = run(s);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(state(), after);
  }
}

// ---------------------------------------------------------------------------------------------
// 3. A link at the context file name is replaced, never followed.

TEST_F(SafeOutputTest, LinkAtTheContextFileNameIsReplacedNotFollowed) {
  const Bytes expected = lone_run(EXAMPLE);
  const std::string victim = "victim's data\n";
  const std::string elsewhere = dir_ + "/victim";
  for (const std::string& target : {std::string("victim"), elsewhere, std::string("prog.ct$")}) {
    for (const std::string input : {"prog.abs", "prog.abz"}) {
      SCOPED_TRACE(target + " " + input);
      for (const auto& e : fs::directory_iterator(".")) fs::remove(e.path());
      put("prog.abs", EXAMPLE);
      write_file("victim", victim);
      fs::create_symlink(target, "prog.ctx");
      auto after = state();
      const bool good = input == "prog.abs";
      if (good) after["prog.ctx"] = file_entry(expected);
      const Result r = run({input});
      EXPECT_EQ(r.status, good ? 0 : 255);
      EXPECT_EQ(r.body(), good ? CREATED : CANNOT_OPEN);
      EXPECT_EQ(state(), after);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// 4. Runs whose inputs share a stem each write a file of their own.

TEST_F(SafeOutputTest, RunsWithTheSameStemEachLeaveACompleteFile) {
  const Bytes a = symbol_program(3000, "a").bytes(), b = symbol_program(4000, "b").bytes();
  put("prog.abs", a);
  put("prog.v2", b);
  const Bytes expect_a = lone_run(a), expect_b = lone_run(b, "prog.v2");
  ASSERT_NE(expect_a, expect_b);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  int won[2] = {0, 0};
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    // Both wait at the gate until it opens, then start at once.
    Spawn sa{{"prog.abs"}}, sb{{"prog.v2"}};
    int gate[2];
    ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
    for (Spawn* s : {&sa, &sb}) {
      s->out = null;
      s->gate[0] = gate[0];
      s->gate[1] = gate[1];
    }
    Proc pa = start(sa), pb = start(sb);
    ::close(gate[0]);
    ::close(gate[1]);
    const Result ra = finish(pa), rb = finish(pb);
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    const Bytes ctx = file_bytes("prog.ctx");
    const bool is_a = ctx == expect_a, is_b = ctx == expect_b;
    EXPECT_TRUE(is_a || is_b) << "prog.ctx of " << ctx.size() << " bytes is neither run's file";
    won[is_b ? 1 : 0] += is_a || is_b;
    expect_sound("prog.ctx");
    EXPECT_EQ(dir_entries(), (std::vector<std::string>{"prog.abs", "prog.ctx", "prog.v2"}));
    ::unlink("prog.ctx");
  }
  ::close(null);
  std::printf("last to finish: prog.abs %d times, prog.v2 %d times\n", won[0], won[1]);
}

// A run waits on an input that is a pipe with its temporary open; a second run with the same
// stem finishes meanwhile. Stopping the first by a signal removes its temporary alone; letting
// it finish makes its file the last one.
TEST_F(SafeOutputTest, SignalToOneOfTwoSameStemRunsRemovesOnlyItsOwnTemporary) {
  const Bytes a = EXAMPLE, b = symbol_program(500, "b").bytes();
  const Bytes expect_a = lone_run(a), expect_b = lone_run(b, "prog.v2");
  put("prog.v2", b);
  PipeIgnored pipe_ignored;
  for (const bool interrupt : {true, false}) {
    SCOPED_TRACE(interrupt ? "interrupted" : "finished");
    ::unlink("prog.abs");
    ::unlink("prog.ctx");
    ASSERT_EQ(::mkfifo("prog.abs", 0600), 0);
    Proc first = start(Spawn{{"prog.abs"}});
    const int feed = open_feed("prog.abs");
    ASSERT_GE(feed, 0) << "the first run never opened its input";
    for (auto until = Clock::now() + std::chrono::seconds(30);
         temporaries().empty() && Clock::now() < until;)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const std::vector<std::string> first_temp = temporaries();
    ASSERT_EQ(first_temp.size(), 1u);

    const Result second = run({"prog.v2"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.body(), CREATED);
    EXPECT_EQ(file_bytes("prog.ctx"), expect_b);
    EXPECT_EQ(temporaries(), first_temp);  // the first run's temporary is untouched

    if (interrupt) {
      ::kill(first.pid, SIGTERM);
    } else {
      EXPECT_EQ(::write(feed, a.data(), a.size()), static_cast<ssize_t>(a.size()));
    }
    ::close(feed);
    const Result r = finish(first);
    EXPECT_EQ(r.status, interrupt ? 128 + SIGTERM : 0);
    if (!interrupt) {
      EXPECT_EQ(r.body(), CREATED);
    }
    EXPECT_EQ(state(), (State{{"prog.abs", {"fifo", ""}},
                              {"prog.ctx", file_entry(interrupt ? expect_b : expect_a)},
                              {"prog.v2", file_entry(b)}}));
    expect_sound("prog.ctx");
  }
}

// ---------------------------------------------------------------------------------------------
// 5. A FIFO at the context file name is replaced, never opened.

TEST_F(SafeOutputTest, FifoAtTheContextFileNameIsReplacedWithoutBlocking) {
  const Bytes expected = lone_run(EXAMPLE);
  put("prog.abs", EXAMPLE);
  ASSERT_EQ(::mkfifo("prog.ctx", 0644), 0);
  const Result r = run(Spawn{{"prog.abs"}}, 30);
  ASSERT_FALSE(r.killed) << "the run blocked on the FIFO";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), CREATED);
  EXPECT_EQ(state(),
            (State{{"prog.abs", file_entry(EXAMPLE)}, {"prog.ctx", file_entry(expected)}}));
}

// ---------------------------------------------------------------------------------------------
// 6. SIGPIPE and SIGXFSZ end the run with 128 + the signal, after removing what it created.

TEST_F(SafeOutputTest, ConsoleReaderGoingAwayEndsTheRunBySigpipe) {
  // 20000 messages of 36 bytes: far more than a pipe holds.
  const Bytes input = chatty_program(20000).bytes();
  const Bytes earlier = lone_run(EXAMPLE);
  for (const bool had_earlier : {false, true}) {
    for (const char* option : {"", "-s"}) {
      SCOPED_TRACE(std::string(had_earlier ? "earlier prog.ctx " : "") + option);
      for (const auto& e : fs::directory_iterator(".")) fs::remove(e.path());
      put("prog.abs", input);
      if (had_earlier) put("prog.ctx", earlier);
      const auto before = state();
      Spawn s{{"prog.abs"}};
      if (*option) s.args.insert(s.args.begin(), option);
      Proc p = start(s);
      const Result r = finish(p, 60, true);
      const std::string banner = BANNER;
      EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), banner.substr(0, banner.find('\n') + 1));
      EXPECT_EQ(r.status, 128 + SIGPIPE);
      EXPECT_EQ(state(), before);
    }
  }
}

TEST_F(SafeOutputTest, FileSizeLimitEndsTheRunBySigxfszOrAWriteError) {
  const Bytes earlier = lone_run(EXAMPLE);
  ASSERT_GT(earlier.size(), 1000u);
  for (const bool had_earlier : {false, true}) {
    for (const rlim_t limit : {0, 1000}) {
      for (const bool ignored : {false, true}) {
        SCOPED_TRACE(std::to_string(limit) + (ignored ? " SIGXFSZ ignored" : " SIGXFSZ default") +
                     (had_earlier ? " earlier prog.ctx" : ""));
        for (const auto& e : fs::directory_iterator(".")) fs::remove(e.path());
        put("prog.abs", EXAMPLE);
        if (had_earlier) put("prog.ctx", earlier);
        const auto before = state();
        Spawn s{{"prog.abs"}};
        s.file_size = limit;
        s.ignore_sigxfsz = ignored;
        const Result r = run(s);
        // Ignored, the write fails and the run stops with its message; else the signal's
        // cleanup ends it.
        EXPECT_EQ(r.status, ignored ? 255 : 128 + SIGXFSZ);
        if (ignored) {
          EXPECT_EQ(r.body(), WRITE_ERROR);
        }
        EXPECT_EQ(state(), before);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// 7. A console that cannot be written fails the run, says so on standard error, and leaves no
// output file.

TEST_F(SafeOutputTest, ConsoleOnAFullDeviceFailsEveryRun) {
  put("prog.abs", EXAMPLE);
  ASSERT_EQ(run({"prog.abs"}).status, 0);
  const auto before = state();
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  struct Case {
    const char* binary;
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {TEKCONV_BINARY, {"-s", "prog.abs"}, 255},
      {TEKCONV_BINARY, {"-sg", "prog.abs"}, 255},
      {TEKCONV_BINARY, {"prog.abs"}, 255},
      {TEKCONV_BINARY, {"-k", "prog.abs"}, 255},
      {TEKCONV_BINARY, {}, 255},
      {CTXDUMP_BINARY, {"prog.ctx"}, 2},
      {CTXDUMP_BINARY, {"--verify", "prog.ctx"}, 2},
      {CTXDUMP_BINARY, {"-x", "prog.ctx"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.binary) + " " + testing::PrintToString(c.args));
    Spawn s{c.args};
    s.binary = c.binary;
    s.out = full;
    const Result r = run(s);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err, "") << "nothing said on standard error";
    EXPECT_EQ(state(), before);
  }
  ::close(full);
}

// ---------------------------------------------------------------------------------------------
// 9. A companion file that is not a regular file is absent.

TEST_F(SafeOutputTest, CompanionFileThatNeverEndsIsTakenAsAbsent) {
  put("prog.abs", EXAMPLE);
  const Result absent = run({"prog.abs"});
  ASSERT_EQ(absent.status, 0);
  const Bytes without = file_bytes("prog.ctx");
  // The companion file matters to this program: a real one changes the context file.
  ASSERT_NE(lone_run(EXAMPLE, "prog.abs", tekrec::example_companion()), without);
  ::unlink("prog.ctx");

  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link to /dev/zero");
    ::unlink("main.cpd");
    if (fifo)
      ASSERT_EQ(::mkfifo("main.cpd", 0644), 0);
    else
      fs::create_symlink("/dev/zero", "main.cpd");
    const Result r = run(Spawn{{"prog.abs"}}, 30);
    ASSERT_FALSE(r.killed) << "the run never finished";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, absent.out);
    EXPECT_EQ(file_bytes("prog.ctx"), without);
    ::unlink("prog.ctx");
  }
}

// ---------------------------------------------------------------------------------------------
// 10. Memory on an input made of SYMBOL records.

// The peak resident memory of the converter's own process image (VmHWM, read when it exits),
// or -1 when it cannot be watched. A child's ru_maxrss would also count the pages it held as a
// copy of this process before it started the converter.
long converter_peak_kb(const std::vector<std::string>& args, int& status) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(126);
    std::vector<char*> argv = {const_cast<char*>(TEKCONV_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TEKCONV_BINARY, argv.data());
    ::_exit(127);
  }
  long peak_kb = -1;
  int st = 0;
  ::waitpid(pid, &st, 0);  // stopped by the exec
  if (WIFSTOPPED(st)) {
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
    ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    while (::waitpid(pid, &st, 0) == pid && WIFSTOPPED(st)) {
      int deliver = 0;
      if ((st >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(in, line);)
          if (line.rfind("VmHWM:", 0) == 0) peak_kb = std::stol(line.substr(6));
      } else {
        deliver = WSTOPSIG(st);
      }
      ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
    }
  }
  status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return peak_kb;
}

// Writes the input in a child process, so that the test process does not grow by it.
void write_in_child(const std::string& path, Builder (*build)(int), int count) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    build(count).write(path);
    ::_exit(0);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

Builder functions_program(int count) {
  return symbol_program(count);
}

// About 15 MB of SYMBOL records, and twice as many: the converter's peak memory stays the same.
TEST_F(SafeOutputTest, PeakMemoryOnSymbolRecordsDoesNotFollowTheInput) {
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed memory in its quarantine and its leak check cannot run under
  // the tracer that reads the peak: the figure would not be the converter's.
  GTEST_SKIP() << "peak memory is not the converter's under AddressSanitizer";
#endif
  Builder().hdr().end().write("base.abs");
  int status = -1;
  const long base_kb = converter_peak_kb({"base.abs"}, status);
  if (base_kb < 0) GTEST_SKIP() << "the converter's memory cannot be watched (ptrace)";
  std::printf("HDR and END alone: peak RSS %.1f MB\n", static_cast<double>(base_kb) / 1024);
  struct Shape {
    const char* what;
    Builder (*build)(int);
    int count;  // for about 15 MB
  };
  for (const Shape& shape : {Shape{"functions with four locals", functions_program, 100000},
                             Shape{"globals", globals_program, 600000}}) {
    SCOPED_TRACE(shape.what);
    long peak_kb[2];
    for (int i = 0; i < 2; ++i) {
      const std::string name = i == 0 ? "single.abs" : "double.abs";
      write_in_child(name, shape.build, shape.count * (i + 1));
      peak_kb[i] = converter_peak_kb({name}, status);
      EXPECT_EQ(status, 0);
      std::printf("%s: %.1f MB of input, peak RSS %.1f MB\n", shape.what,
                  static_cast<double>(fs::file_size(name)) / 1e6,
                  static_cast<double>(peak_kb[i]) / 1024);
    }
    EXPECT_GT(fs::file_size("single.abs"), 15000000u);
    EXPECT_LT(peak_kb[0], 64 * 1024);
    EXPECT_LT(peak_kb[1], 64 * 1024);
    // Twice the input adds at most a quarter of what the input needed over the baseline.
    EXPECT_LT(peak_kb[1] - peak_kb[0], (peak_kb[0] - base_kb) / 4 + 1024);
  }
}

// ---------------------------------------------------------------------------------------------
// The type index check reads its input twice; from a pipe it works from the bytes read once,
// with the same report as from the file (opening a named pipe again would wait for a new writer,
// or read nothing and report every type referred to only in the second pass as unused).
TEST_F(SafeOutputTest, TypeCheckOfAPipeReportsAsFromTheFile) {
  put("prog.abs", EXAMPLE);
  const Result from_file = run({"-k", "prog.abs"});
  ASSERT_EQ(from_file.status, 0);
  ASSERT_EQ(::mkfifo("pipe.abs", 0600), 0);
  PipeIgnored pipe_ignored;
  Proc p = start(Spawn{{"-k", "pipe.abs"}});
  const int feed = open_feed("pipe.abs");
  ASSERT_GE(feed, 0) << "the check never opened its input";
  EXPECT_EQ(::write(feed, EXAMPLE.data(), EXAMPLE.size()), static_cast<ssize_t>(EXAMPLE.size()));
  ::close(feed);
  const Result r = finish(p, 30);
  EXPECT_FALSE(r.killed) << "the check never finished";
  EXPECT_EQ(r.status, from_file.status);
  EXPECT_EQ(r.out, from_file.out);
  EXPECT_EQ(dir_entries(), (std::vector<std::string>{"pipe.abs", "prog.abs"}));
}

}  // namespace
