// Hostile and damaged input, interrupted runs, failing reads, and bounded resources.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "api/job.hpp"
#include "core/converter.hpp"
#include "example_program.hpp"
#include "harness.hpp"
#include "support.hpp"
#include "tools/tekconv/tool.hpp"

using namespace tektest;
using namespace tekrec;

namespace {

class RobustnessTest : public TempDirTest {};

struct Child {
  pid_t pid = -1;
};

// Starts the tekconv binary with its output discarded, and the signals given ignored.
Child spawn(const std::vector<std::string>& args, std::initializer_list<int> ignored = {}) {
  Child c;
  c.pid = ::fork();
  if (c.pid == 0) {
    for (int sig : ignored) ::signal(sig, SIG_IGN);
    FILE* null = std::fopen("/dev/null", "w");
    ::dup2(fileno(null), 1);
    std::vector<char*> argv = {const_cast<char*>(TEKCONV_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TEKCONV_BINARY, argv.data());
    _exit(127);
  }
  return c;
}

struct Finished {
  int status = -1;  // exit status, or 128 + signal when killed
  long max_rss_kb = 0;
};

Finished wait_for(Child c) {
  int st = 0;
  struct rusage ru {};
  ::wait4(c.pid, &st, 0, &ru);
  Finished f;
  f.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  f.max_rss_kb = ru.ru_maxrss;
  return f;
}

// Until the context file's temporary (".in.ctx.XXXXXX") exists: the run is writing it.
bool wait_until_writing(pid_t pid) {
  for (int i = 0; i < 20000; ++i) {
    for (const std::string& name : dir_entries())
      if (name.rfind(".in.ctx.", 0) == 0) return true;
    int st;
    if (::waitpid(pid, &st, WNOHANG) == pid) return false;  // ended before
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool wait_until_exists(const std::string& path, pid_t pid) {
  for (int i = 0; i < 20000; ++i) {
    if (exists(path)) return true;
    int st;
    if (::waitpid(pid, &st, WNOHANG) == pid) return false;  // ended before
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// An input whose image takes long to write: REPEAT records of 65535 copies of 1000 bytes.
Builder long_image(int records) {
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").sect(0, 0);
  const std::vector<uint8_t> pattern(1000, 0xA5);
  for (int i = 0; i < records; ++i) b.repeat(0xFFFF, pattern);
  return b.end();
}

// ---------------------------------------------------------------------------------------------
// Interrupted runs remove what they created and end with 128 + the signal number.

TEST_F(RobustnessTest, SignalDuringConversionRemovesItsFiles) {
  long_image(60).write("in.abs");
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    SCOPED_TRACE(sig);
    Child c = spawn({"in.abs"});
    ASSERT_TRUE(wait_until_writing(c.pid)) << "the run ended before it could be stopped";
    ::kill(c.pid, sig);
    Finished f = wait_for(c);
    EXPECT_EQ(f.status, 128 + sig);
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
  }
}

TEST_F(RobustnessTest, SignalIgnoredOnEntryStaysIgnored) {
  // The input is a pipe, so the run waits for it with its files open, whatever the timing.
  ASSERT_EQ(::mkfifo("in.abs", 0600), 0);
  // Should the run die, feeding the pipe fails instead of killing the test.
  struct PipeIgnored {
    sighandler_t old = ::signal(SIGPIPE, SIG_IGN);
    ~PipeIgnored() { ::signal(SIGPIPE, old); }
  } pipe_ignored;
  Child c = spawn({"in.abs"}, {SIGHUP, SIGINT});
  FILE* feed = std::fopen("in.abs", "wb");
  ASSERT_NE(feed, nullptr);
  ASSERT_TRUE(wait_until_writing(c.pid));
  ::kill(c.pid, SIGHUP);
  ::kill(c.pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::vector<uint8_t> input = example_program().bytes();
  std::fwrite(input.data(), 1, input.size(), feed);
  std::fclose(feed);
  EXPECT_EQ(wait_for(c).status, 0);
  EXPECT_EQ(dir_entries(), (std::vector<std::string>{"in.abs", "in.ctx"}));
}

TEST_F(RobustnessTest, SignalDuringTypeCheckRemovesTheScratchFile) {
  long_image(60).write("in.abs");
  Child c = spawn({"-k", "in.abs"});
  ASSERT_TRUE(wait_until_exists("selfix.$$$", c.pid));
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(wait_for(c).status, 128 + SIGTERM);
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
}

// ---------------------------------------------------------------------------------------------
// An input read that fails is a read error, not the end of the file.

TEST_F(RobustnessTest, DeviceReadErrorIsFatal) {
  // Reading /proc/self/mem at offset 0 fails with EIO.
  RunResult r = run_binary({"-s", "/proc/self/mem"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.body(), predefined_dump() + "Error : Read error\n");
}

TEST_F(RobustnessTest, InjectedReadErrorEndsConversionAndRemovesItsFiles) {
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").sect(0, 0);
  b.data(std::vector<uint8_t>(5000, 1)).end();
  b.write("in.abs");

  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  int status;
  status = tek::tekconv_main({"tekconv", "in.abs"}, console, [](const tekconv::Job& job) {
    auto cv = std::make_unique<tek::Converter>();
    cv->rd.in.fail_after = 100;
    return tekconv::detail::run(job, *cv);
  });
  std::fclose(console);
  std::string out(text, size);
  std::free(text);

  EXPECT_EQ(status, 255);
  EXPECT_EQ(out, std::string(BANNER) + "Error : Read error\n");
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
}

// ---------------------------------------------------------------------------------------------
// Memory follows the input's records, not its count fields.

// Inputs whose count fields ask for far more than their records hold.
struct Hostile {
  const char* what;
  std::vector<std::string> args;
  std::string companion;  // main.cpd, when not empty
  Builder (*build)();
};

Builder huge_repeat() {  // 4 GiB of image from one record
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").sect(0, 0);
  return b.repeat(0xFFFF, std::vector<uint8_t>(65533, 0x11)).end();
}

Builder huge_companion_index() {
  Builder b;
  b.hdr().unit("m", "H8/300H", 1, 0x04).cl(0x100, "P");
  b.dbgunit(0, 0).srcfiles({{"", "main.c"}}).basetype(1, 3, 4, 0);
  b.symbol({VARIABLE, 0, "_far", basic_type(1), in_section(2, 0, 4, 4), {}});
  return b.end();
}

Builder many_units() {  // each declares 65535 sections; one is described
  Builder b;
  b.hdr();
  for (int i = 0; i < 20000; ++i) b.unit("u", "ARM", 0xFFFF, 0x04);
  return b.locate(0xFFFE).cl(0x1234, "LAST").end();
}

Builder deep_nesting() {  // 10000 nested bodies, each with one member
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").dbgunit(0, 0).basetype(1, 3, 4, 0);
  for (int i = 0; i < 10000; ++i) {
    b.symbol(structure(static_cast<uint16_t>(i), "s", 4)).aggr_begin();
    b.symbol(member("m", 1, 0));
  }
  for (int i = 0; i < 10000; ++i) b.aggr_end();
  return b.end();
}

TEST_F(RobustnessTest, MemoryFollowsTheRecordsNotTheirCounts) {
  const Hostile cases[] = {
      {"REPEAT of 65535 x 65533 bytes", {"-sg"}, "", huge_repeat},
      {"companion entry index 4294967295",
       {"-sg"},
       "[HD]\n[DEBUG]\n4294967295 - 0 far _far\n",
       huge_companion_index},
      {"many units with huge section counts", {}, "", many_units},
      {"deep aggregate nesting", {"-st"}, "", deep_nesting},
  };
  // A child's peak includes the pages it shares with this process until it starts the
  // converter, so every input is made first and the baseline is taken after them.
  for (size_t i = 0; i < std::size(cases); ++i) cases[i].build().write("in" + std::to_string(i));
  write_file("main.cpd", cases[1].companion);
  Builder().hdr().end().write("base.abs");
  const long base_kb = wait_for(spawn({"-s", "base.abs"})).max_rss_kb;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    std::vector<std::string> args = cases[i].args;
    args.push_back("in" + std::to_string(i));
    Finished f = wait_for(spawn(args));
    EXPECT_EQ(f.status, 0);
    EXPECT_LT(f.max_rss_kb, base_kb + 48 * 1024);
  }
  // The entry with the highest index is still found, and the innermost aggregate comes first.
  EXPECT_NE(run_tekconv({"-sg", "in1"}).out.find("name=[far]"), std::string::npos);
  const std::string out = run_tekconv({"-st", "in3"}).out;
  EXPECT_EQ(out.find("\nTYPE:      type=0x0d"), out.find(line::agg(13, 288 + 9999, 4, 1, "s")));
}

// ---------------------------------------------------------------------------------------------
// No input makes the run quadratic in its size.

TEST_F(RobustnessTest, NestedAggregatesInsideALargeBodyStayLinear) {
  // A body of 16000 members, then 20000 nested empty aggregates opened and closed inside it:
  // copying the enclosing members at every nested level would move gigabytes.
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").dbgunit(0, 0).basetype(1, 3, 4, 0);
  b.symbol({STRUCT_TAG, 1, "outer", {}, aggregate_tag(4), {}}).aggr_begin();
  for (int i = 0; i < 16000; ++i) b.symbol({MEMBER, 0, "m", basic_type(1), member_at(0, 4), {}});
  for (int i = 0; i < 20000; ++i)
    b.symbol({STRUCT_TAG, 2, "inner", {}, aggregate_tag(0), {}}).aggr_begin().aggr_end();
  b.symbol({MEMBER, 0, "last", basic_type(1), member_at(4, 4), {}});
  b.aggr_end().end();
  b.write("in.abs");

  auto start = std::chrono::steady_clock::now();
  RunResult r = run_tekconv({"-st", "in.abs"});
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(seconds, 30.0);
  // The outer body kept all its members around the nested ones.
  EXPECT_NE(r.out.find("size=00000004,count=3e81,name=[outer]"), std::string::npos);
}

TEST_F(RobustnessTest, CompanionFileIsReadOncePerPass) {
  // 20000 SRCFILES records naming the same H8 source: its 5000-line companion file is read once.
  std::string cpd = "[HD]\n[DEBUG]\n";
  for (int i = 1; i <= 5000; ++i) cpd += std::to_string(i) + " - 0 n" + std::to_string(i) + " o\n";
  write_file("main.cpd", cpd);
  Builder b;
  b.hdr().unit("m", "H8/300H", 1, 0x04).cl(0, "P").dbgunit(0, 0);
  for (int i = 0; i < 20000; ++i) b.srcfiles({{"", "main.c"}});
  b.end().write("in.abs");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run_tekconv({"-s", "in.abs"}).status, 0);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 30.0);
}

// ---------------------------------------------------------------------------------------------
// The fuzz harness: the example in every run mode, and every input the fuzzer found.

TEST_F(RobustnessTest, ExampleInEveryRunMode) {
  const Bytes object = example_program().bytes();
  for (int selector = 0; selector < 0x80; selector += 1) {
    if ((selector & 7) == tekfuzz::MODE_CTXDUMP) continue;  // reads the input as a context file
    std::vector<uint8_t> in =
        tekfuzz::make_input(static_cast<uint8_t>(selector), object, example_companion());
    EXPECT_EQ(tekfuzz::run_one(in.data(), in.size()), 0) << "selector " << selector;
    EXPECT_EQ(tekfuzz::run_cli_one(in.data(), in.size(), "."), 0) << "selector " << selector;
  }
  EXPECT_TRUE(dir_entries().empty());
}

TEST_F(RobustnessTest, FuzzRegressions) {
  const std::filesystem::path dir = std::filesystem::path(TEKCONV_SOURCE_DIR) / "fuzz/regressions";
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string data = read_file(entry.path().string());
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    for (int status :
         {tekfuzz::run_one(bytes, data.size()), tekfuzz::run_cli_one(bytes, data.size(), ".")})
      EXPECT_TRUE(status == 0 || status == 1 || status == 255 || status == -1) << status;
    ++replayed;
  }
  EXPECT_TRUE(dir_entries().empty());
  std::printf("replayed %d inputs\n", replayed);
}

}  // namespace
