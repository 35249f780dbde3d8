#include "support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "driver/converter.hpp"
#include "driver/run.hpp"

namespace tektest {

const char* const BANNER =
    "ORVA Object File Converter for TEKA format V1.18\nMade by the tekconv developers\n";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> dir_entries() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator("."))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void TempDirTest::SetUp() {
  char buf[4096];
  old_cwd_ = ::getcwd(buf, sizeof buf) ? buf : "/";
  std::string tmpl = (std::filesystem::temp_directory_path() / "tekconv-test-XXXXXX").string();
  std::vector<char> t(tmpl.begin(), tmpl.end());
  t.push_back('\0');
  ASSERT_NE(::mkdtemp(t.data()), nullptr);
  dir_ = t.data();
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
}

void TempDirTest::TearDown() {
  if (::chdir(old_cwd_.c_str()) != 0) return;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string RunResult::body() const {
  std::string banner = BANNER;
  if (out.compare(0, banner.size(), banner) == 0) return out.substr(banner.size());
  ADD_FAILURE() << "output does not begin with the banner:\n" << out;
  return out;
}

RunResult run_tekconv(const std::vector<std::string>& args) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  RunResult r;
  {
    auto cv = std::make_unique<tek::Converter>();
    cv->out.console = console;
    std::vector<std::string> argv = {"tekconv"};
    argv.insert(argv.end(), args.begin(), args.end());
    r.status = tek::tekconv_main(*cv, argv);
  }
  std::fclose(console);
  r.out.assign(text, size);
  std::free(text);
  return r;
}

RunResult run_on(const tekrec::Builder& b, const std::vector<std::string>& options) {
  b.write("in.abs");
  std::vector<std::string> args = options;
  args.push_back("in.abs");
  return run_tekconv(args);
}

std::string dump(const tekrec::Builder& b, const std::string& option,
                 const std::vector<std::string>& more) {
  std::vector<std::string> options = more;
  options.insert(options.begin(), option);
  RunResult r = run_on(b, options);
  EXPECT_EQ(r.status, 0) << r.out;
  return r.body();
}

Bytes convert(const tekrec::Builder& b, const std::vector<std::string>& options) {
  RunResult r = run_on(b, options);
  EXPECT_EQ(r.status, 0) << r.out;
  std::string ctx = read_file("in.ctx");
  return Bytes(ctx.begin(), ctx.end());
}

RunResult run_binary(const std::vector<std::string>& args) {
  int pipefd[2];
  RunResult r;
  if (::pipe(pipefd) != 0) {
    ADD_FAILURE() << "pipe";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
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

Ctx& Ctx::u8(uint32_t v) {
  b_.push_back(static_cast<uint8_t>(v));
  return *this;
}
Ctx& Ctx::u16(uint32_t v) {
  return u8(v).u8(v >> 8);
}
Ctx& Ctx::u32(uint32_t v) {
  return u16(v).u16(v >> 16);
}
Ctx& Ctx::name(const std::string& s) {
  u8(static_cast<uint32_t>(s.size()));
  b_.insert(b_.end(), s.begin(), s.end());
  return *this;
}

Ctx& Ctx::header() {
  return u8(0).u32(118).u16(6).u32(0).u16(0);
}
Ctx& Ctx::pub(uint16_t mode, uint32_t addr, uint8_t cls, uint32_t typeix, uint32_t modix,
              const std::string& n) {
  return u8(1).u16(mode).u32(addr).u8(cls).u32(typeix).u32(modix).name(n);
}
Ctx& Ctx::start_local(uint32_t addr) {
  return u8(2).u32(addr);
}
Ctx& Ctx::end_local(uint32_t addr) {
  return u8(3).u32(addr);
}
Ctx& Ctx::set_local(uint8_t cls, uint32_t offset, uint32_t typeix, const std::string& n) {
  return u8(4).u8(cls).u32(offset).u32(typeix).name(n);
}
Ctx& Ctx::file(const std::string& n) {
  return u8(5).name(n);
}
Ctx& Ctx::end_line(uint16_t mode) {
  return u8(6).u16(mode);
}
Ctx& Ctx::line(uint32_t l, uint32_t addr) {
  return u8(7).u32(l).u32(addr);
}
Ctx& Ctx::type(uint8_t kind, uint32_t selfix) {
  return u8(9).u8(kind).u32(selfix);
}
Ctx& Ctx::aggregate(uint8_t kind, uint32_t selfix, uint32_t size, uint32_t count,
                    const std::string& n) {
  return type(kind, selfix).u32(size).u32(count).name(n);
}
Ctx& Ctx::enumeration(uint32_t selfix, uint32_t count, const std::string& n) {
  return type(15, selfix).u32(count).name(n);
}
Ctx& Ctx::function(uint8_t kind, uint32_t selfix, uint32_t retix, uint16_t argc) {
  return type(kind, selfix).u32(retix).u16(argc);
}
Ctx& Ctx::pointer(uint8_t kind, uint32_t selfix, uint32_t typeix) {
  return type(kind, selfix).u32(typeix);
}
Ctx& Ctx::array(uint32_t selfix, uint32_t typeix, uint32_t limit) {
  return type(19, selfix).u32(typeix).u8(0).u32(limit);
}
Ctx& Ctx::bit(uint32_t selfix, uint8_t sign, uint32_t size, uint32_t offs) {
  return type(27, selfix).u8(sign).u32(size).u32(offs);
}
Ctx& Ctx::member(uint32_t typeix, uint32_t offset, const std::string& n) {
  return u8(10).u32(typeix).u32(offset).name(n);
}
Ctx& Ctx::constant(uint32_t value, const std::string& n) {
  return u8(10).u32(value).name(n);
}
Ctx& Ctx::object(uint32_t addr, const Bytes& data) {
  u8(11).u16(2).u32(addr).u16(static_cast<uint32_t>(data.size()));
  b_.insert(b_.end(), data.begin(), data.end());
  return *this;
}
Ctx& Ctx::module(uint32_t modix, const std::string& n) {
  return u8(13).u32(modix).name(n);
}
Ctx& Ctx::addr_flag(uint32_t addr, uint32_t flag) {
  return u8(14).u32(addr).u32(flag);
}
Ctx& Ctx::predefined() {
  const uint8_t kinds[16] = {1, 1, 2, 3, 4, 5, 6, 7, 6, 7, 10, 11, 12, 1, 1, 1};
  for (int i = 0; i < 16; ++i) type(kinds[i], 256 + i);
  return *this;
}
Ctx& Ctx::append(const Ctx& other) {
  b_.insert(b_.end(), other.b_.begin(), other.b_.end());
  return *this;
}

std::string predefined_dump() {
  return "\nTYPE:      type=0x01:VOID      ,selfix=00000100"
         "\nTYPE:      type=0x01:VOID      ,selfix=00000101"
         "\nTYPE:      type=0x02:8SIGNED   ,selfix=00000102"
         "\nTYPE:      type=0x03:8UNSIGNED ,selfix=00000103"
         "\nTYPE:      type=0x04:16SIGNED  ,selfix=00000104"
         "\nTYPE:      type=0x05:16UNSIGNED,selfix=00000105"
         "\nTYPE:      type=0x06:32SIGNED  ,selfix=00000106"
         "\nTYPE:      type=0x07:32UNSIGNED,selfix=00000107"
         "\nTYPE:      type=0x06:32SIGNED  ,selfix=00000108"
         "\nTYPE:      type=0x07:32UNSIGNED,selfix=00000109"
         "\nTYPE:      type=0x0a:32FLOAT   ,selfix=0000010a"
         "\nTYPE:      type=0x0b:64FLOAT   ,selfix=0000010b"
         "\nTYPE:      type=0x0c:EXTFLOAT  ,selfix=0000010c"
         "\nTYPE:      type=0x01:VOID      ,selfix=0000010d"
         "\nTYPE:      type=0x01:VOID      ,selfix=0000010e"
         "\nTYPE:      type=0x01:VOID      ,selfix=0000010f";
}

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
    s += (i % 16 == 15) ? '\n' : ' ';
  }
  return s;
}

}  // namespace tektest
