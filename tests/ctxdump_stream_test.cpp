// ctxdump reading in pieces: files larger than its buffer, with records across each refill, and
// pipes, which --verify reads once, list and check as the same bytes do in memory.
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "ctxdump_support.hpp"
#include "example_program.hpp"

using namespace ctxdumptest;

namespace {

class CtxdumpStreamTest : public TempDirTest {};

void replace_all(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

// Runs ctxdump in-process on the bytes written into a pipe, in pieces of changing sizes, by
// another thread; the pipe's name in the output is replaced by "t.ctx".
DumpRun run_on_pipe(std::vector<std::string> args, const Bytes& bytes) {
  int p[2];
  EXPECT_EQ(::pipe(p), 0);
  std::thread writer([&] {
    // A reader that stops early closes the pipe: the write fails instead of raising SIGPIPE.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    size_t piece = 1;
    for (size_t at = 0; at < bytes.size(); piece = piece * 7 % 20011 + 1) {
      const ssize_t n = ::write(p[1], bytes.data() + at, std::min(piece, bytes.size() - at));
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::close(p[1]);
  });
  const std::string name = "/dev/fd/" + std::to_string(p[0]);
  args.push_back(name);
  DumpRun r = run_ctxdump(args);
  ::close(p[0]);
  writer.join();
  replace_all(r.out, name, "t.ctx");
  replace_all(r.err, name, "t.ctx");
  return r;
}

// The bytes in memory, in a file and through a pipe give the same listing, JSON lines and
// report.
void check_read_alike(const Bytes& bytes) {
  write_file("t.ctx", std::string(bytes.begin(), bytes.end()));
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-x"}, {"--json", "-x"}, {"--verify"}}) {
    SCOPED_TRACE(testing::PrintToString(options) + " " + std::to_string(bytes.size()) + " bytes");
    tek::CtxdumpOptions o;
    o.hex = true;
    o.json = options[0] == "--json";
    o.verify = options[0] == "--verify";
    char* text = nullptr;
    size_t size = 0;
    FILE* f = ::open_memstream(&text, &size);
    const int status = tek::ctxdump_bytes(bytes, "t.ctx", o, f, f);
    std::fclose(f);
    const std::string in_memory(text, size);
    std::free(text);

    std::vector<std::string> args = options;
    args.push_back("t.ctx");
    const DumpRun file = run_ctxdump(args);
    EXPECT_EQ(file.status, status);
    EXPECT_EQ(file.out + file.err, in_memory);
    const DumpRun pipe = run_on_pipe(options, bytes);
    EXPECT_EQ(pipe.status, status);
    EXPECT_EQ(pipe.out + pipe.err, in_memory);
  }
}

// Records of every size up to the largest, OBJECT records of 65535 bytes among them, so that
// records lie across every refill of the buffer; cut copies end inside a record at a refill.
TEST_F(CtxdumpStreamTest, LargeFilesAcrossTheBuffer) {
  std::mt19937 rng(7);
  Ctx c;
  c.header().module(1, "m");
  uint32_t selfix = 0x120;
  for (int i = 0; i < 60; ++i) {
    const size_t length = i % 7 == 0 ? 0xFFFF : rng() % 3000;
    Bytes data(length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    c.object(0x1000 * i, data)
        .pub(0, 0x1000 * i, 1, 0x120 + rng() % 80, 1, std::string(rng() % 256, 'p'));
  }
  c.predefined();
  for (int i = 0; i < 4000; ++i)
    c.aggregate(13, selfix++, 8, 1, "s" + std::to_string(i)).member(0x100 + rng() % 400, 0, "m");
  const Bytes& all = c.bytes();
  ASSERT_GT(all.size(), 6 * tek::MAX_RECORD_SIZE);
  check_read_alike(all);
  for (size_t cut : {tek::MAX_RECORD_SIZE, 2 * tek::MAX_RECORD_SIZE - 3, all.size() - 5})
    check_read_alike(Bytes(all.begin(), all.begin() + cut));
}

// --verify of a pipe, read once, reports what the file read twice does: forward references and
// modules, undefined ones, problems at one offset in their order, files that stop early.
TEST_F(CtxdumpStreamTest, VerifyOfAPipeReportsAsOfTheFile) {
  const Ctx start = Ctx().header().pub(0, 0, 1, 0x121, 2, "fwd").pub(0, 0, 1, 0x300, 9, "undef");
  const Bytes body = Ctx(start)
                         .module(2, "late")
                         .start_local(0x10)
                         .set_local(3, 0, 0x122, "x")
                         .predefined()
                         .pointer(18, 0x120, 0x120)  // itself
                         .pointer(18, 0x121, 0x301)
                         .member(1, 2, "stray")  // after a pointer: a count and a reference
                         .aggregate(13, 0x122, 4, 2, "s")
                         .member(0x121, 0, "a")
                         .member(0x302, 0, "b")
                         .type(1, 0x121)
                         .bytes();
  const Bytes members = Ctx().aggregate(13, 0x123, 4, 1, "t").bytes();
  std::vector<Bytes> files = {body, Bytes(body.begin(), body.end() - 3), body};
  files[2].push_back(12);  // an unknown tag
  files.push_back(Ctx().predefined().bytes());
  files.push_back(members);
  for (const Bytes& b : files) check_read_alike(b);

  write_file("main.cpd", example_companion());
  files = {convert(example_program())};
  for (uint32_t seed = 1; seed <= 20; ++seed)
    files.push_back(convert(ProgramGenerator(seed).make()));
  for (const Bytes& b : files) {
    write_file("t.ctx", std::string(b.begin(), b.end()));
    const DumpRun file = run_ctxdump({"--verify", "t.ctx"});
    const DumpRun pipe = run_on_pipe({"--verify"}, b);
    EXPECT_EQ(pipe.out, file.out);
    EXPECT_EQ(pipe.status, file.status);
  }
}

}  // namespace
