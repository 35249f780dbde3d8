// The ctxdump program at its limits: endless input in bounded memory, memory running out,
// output that cannot be written. Each case runs the binary as a process.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support.hpp"

using namespace tektest;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

// Peak resident memory that a reader of endless input may reach.
constexpr long RSS_LIMIT_KB = SANITIZED ? 160 * 1024 : 32 * 1024;

class CtxdumpLimitsTest : public TempDirTest {};

struct Child {
  int status = -1;       // exit status, -1 when killed by a signal
  bool killed = false;   // by the test: still running at the deadline, or grown past the limit
  long peak_rss_kb = 0;  // of the whole run
  std::string err;
};

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

struct Spawn {
  std::vector<std::string> args;
  int in = -1, out = -1;  // standard input and output (-1: /dev/null)
  double seconds = 30;    // killed then
  rlim_t address_space = RLIM_INFINITY;
  long rss_limit_kb = RSS_LIMIT_KB;  // killed when its memory grows past this
  bool ignore_sigpipe = false;
};

// Runs ctxdump with standard error in a file, killing it at the deadline or as soon as its
// memory grows past the limit.
Child run(const Spawn& s) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(s.in >= 0 ? s.in : null, 0);
    ::dup2(s.out >= 0 ? s.out : null, 1);
    ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (s.address_space != RLIM_INFINITY) {
      const rlimit limit = {s.address_space, s.address_space};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (s.ignore_sigpipe) ::signal(SIGPIPE, SIG_IGN);
    std::vector<char*> argv = {const_cast<char*>(CTXDUMP_BINARY)};
    for (const std::string& a : s.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(CTXDUMP_BINARY, argv.data());
    ::_exit(127);
  }
  Child c;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(s.seconds);
  int st = 0;
  rusage usage{};
  while (::wait4(pid, &st, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline || rss_kb(pid) > s.rss_limit_kb) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &st, 0, &usage);
      c.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  c.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  c.peak_rss_kb = usage.ru_maxrss;
  c.err = read_file("err.txt");
  return c;
}

// A process that writes the record given, over and over, into a pipe, changing the 4 bytes at
// `counter` in each copy, until the reader goes. Returns the reading end.
int endless_pipe(const Bytes& record, size_t counter, pid_t& writer) {
  int p[2];
  EXPECT_EQ(::pipe(p), 0);
  writer = ::fork();
  if (writer == 0) {
    ::close(p[0]);
    Bytes buf;
    for (uint32_t n = 0;; ++n) {
      Bytes r = record;
      for (int i = 0; i < 4 && counter + i < r.size(); ++i) r[counter + i] = uint8_t(n >> (8 * i));
      buf.insert(buf.end(), r.begin(), r.end());
      if (buf.size() < 1 << 16) continue;
      if (::write(p[1], buf.data(), buf.size()) < 0) ::_exit(0);
      buf.clear();
    }
  }
  ::close(p[1]);
  return p[0];
}

void end_writer(pid_t writer, int fd) {
  ::close(fd);
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
}

// /dev/zero is an endless run of HEADER records: listed, or checked, read from the device or
// from a pipe (read once), memory stays small until the process is stopped.
TEST_F(CtxdumpLimitsTest, EndlessInputInBoundedMemory) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--verify"}, {"--json", "-x"}}) {
    for (const bool pipe : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(options) + (pipe ? " pipe" : " device"));
      Spawn s{options};
      pid_t writer = 0;
      if (pipe) s.in = endless_pipe(Bytes(13, 0), 13, writer);
      s.args.push_back(pipe ? "/dev/stdin" : "/dev/zero");
      s.seconds = 1;
      const Child c = run(s);
      if (pipe) end_writer(writer, s.in);
      EXPECT_TRUE(c.killed);
      EXPECT_LT(c.peak_rss_kb, RSS_LIMIT_KB);
      EXPECT_EQ(c.err, "");
    }
  }
}

// Types without end, each of its own selfix, fill memory with what --verify must remember: a
// message and status 2, not an abort.
TEST_F(CtxdumpLimitsTest, MemoryRunningOutIsAFailureOfItsOwn) {
  if (SANITIZED) GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
  const Bytes type = {9, 1, 0, 0, 0, 0};  // a VOID type, selfix counting up
  pid_t writer = 0;
  Spawn s{{"--verify", "/dev/stdin"}};
  s.in = endless_pipe(type, 2, writer);
  s.address_space = 96 << 20;
  s.rss_limit_kb = 96 * 1024;
  const Child c = run(s);
  end_writer(writer, s.in);
  EXPECT_FALSE(c.killed);
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.err, "ctxdump: /dev/stdin: out of memory\n");
}

// A listing or report that cannot be written, to a full device or a pipe that its reader has
// closed (with SIGPIPE ignored), fails the run with status 2, also on endless input.
TEST_F(CtxdumpLimitsTest, OutputThatCannotBeWritten) {
  const Bytes b = Ctx().file("a.c").line(10, 0x1000).bytes();
  write_file("t.ctx", std::string(b.begin(), b.end()));
  const std::string full = "ctxdump: cannot write the output: No space left on device\n";
  const std::string closed = "ctxdump: cannot write the output: Broken pipe\n";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"t.ctx"},
                                               {"--verify", "t.ctx"},
                                               {"--json", "t.ctx", "t.ctx"},
                                               {"-x", "/dev/zero"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    Spawn s{args};
    s.out = ::open("/dev/full", O_WRONLY);
    Child c = run(s);
    ::close(s.out);
    EXPECT_FALSE(c.killed);
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.err, full);

    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[0]);
    s.out = p[1];
    s.ignore_sigpipe = true;
    c = run(s);
    ::close(p[1]);
    EXPECT_FALSE(c.killed);
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.err, closed);
  }
}

}  // namespace
