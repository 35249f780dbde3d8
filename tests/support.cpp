#include "support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tools/tekconv/tool.hpp"

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

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator("."))
    paths[e.path().lexically_relative(".").string()] =
        e.is_directory() ? "<dir>" : read_file(e.path().string());
  return paths;
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
  std::vector<std::string> argv = {"tekconv"};
  argv.insert(argv.end(), args.begin(), args.end());
  r.status = tek::tekconv_main(argv, console);
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

RunResult run_binary(const std::vector<std::string>& args, uint64_t file_size_limit) {
  int pipefd[2];
  RunResult r;
  if (::pipe(pipefd) != 0) {
    ADD_FAILURE() << "pipe";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    if (file_size_limit != UINT64_MAX) {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit rl = {file_size_limit, file_size_limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(126);
    }
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

RunResult run_binary_stderr(const std::vector<std::string>& args, uint64_t file_size_limit) {
  // Standard error goes to an unnamed file, read after the run: no second pipe to drain.
  FILE* err = std::tmpfile();
  if (!err) {
    ADD_FAILURE() << "tmpfile";
    return {};
  }
  const int saved = ::dup(2);
  ::dup2(::fileno(err), 2);  // the child inherits it
  RunResult r = run_binary(args, file_size_limit);
  ::dup2(saved, 2);
  ::close(saved);
  std::rewind(err);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, err)) > 0) r.err.append(buf, n);
  std::fclose(err);
  return r;
}

ShellRun run_shell(const std::string& command) {
  ShellRun r;
  FILE* f = ::popen(command.c_str(), "r");
  if (!f) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) r.out.append(buf, n);
  const int st = ::pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

Bytes file_bytes(const std::string& path) {
  std::string s = read_file(path);
  return Bytes(s.begin(), s.end());
}

bool is_dir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

namespace line {

std::string fmt(const char* format, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

namespace {

const char* kind_name(uint32_t kind) {
  static const char* const names[] = {
      "?",         "VOID",       "8SIGNED",  "8UNSIGNED",  "16SIGNED", "16UNSIGNED",
      "32SIGNED",  "32UNSIGNED", "64SIGNED", "64UNSIGNED", "32FLOAT",  "64FLOAT",
      "EXTFLOAT",  "STRUCT",     "UNION",    "ENUM",       "FUNCTION", "16POINTER",
      "32POINTER", "ARRAY",      "BITFIELD", "TYPEDEF",    "FARFUNC",  "ESPOINTER",
      "SSPOINTER", "CSPOINTER",  "HUGEPNT",  "BIT",        "CLASS"};
  return kind < 29 ? names[kind] : "?";
}

}  // namespace

std::string header() {
  return "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
}
std::string module(uint32_t modix, const std::string& name) {
  return fmt("\nMODULE:    modix=%08x,name=[%s]", modix, name.c_str());
}
std::string pub(uint32_t addr, uint32_t typeix, const std::string& name, const char* cls,
                uint32_t modix, uint32_t mode) {
  return fmt("\nPUBLIC:    mode=%04x,addr=%08x,class=%-4s,typeix=%08x,modix=%08x,name=[%s]", mode,
             addr, cls, typeix, modix, name.c_str());
}
std::string setl(uint32_t offset, const char* cls, uint32_t typeix, const std::string& name) {
  return fmt("\nSETLOCAL:  offset=%08x,class=%-4s,typeix=%08x,name=[%s]", offset, cls, typeix,
             name.c_str());
}
std::string startl(uint32_t addr) {
  return fmt("\nSTARTLOCAL:addr=%08x", addr);
}
std::string endl(uint32_t addr) {
  return fmt("\nENDLOCAL:  addr=%08x", addr);
}
std::string file(const std::string& name) {
  return "\nFILE:      [" + name + "]";
}
std::string line(int32_t number, uint32_t addr) {
  return fmt("\nLINE:      line=%-6d,addr=%08x", number, addr);
}
std::string endline(uint32_t mode) {
  return fmt("\nENDLINE:   mode=%04x", mode);
}
std::string object(uint32_t addr, uint32_t length) {
  return fmt("\nObject : %08x - %08x", addr, addr + length - 1);
}
std::string addr_flag(uint32_t addr, uint32_t flag) {
  return fmt("\nADDRFLAG:    addr=%08x,flag=%08x", addr, flag);
}
std::string type(uint32_t kind, uint32_t selfix) {
  return fmt("\nTYPE:      type=0x%02x:%-10s,selfix=%08x", kind, kind_name(kind), selfix);
}
std::string agg(uint32_t kind, uint32_t selfix, uint32_t size, uint32_t count,
                const std::string& name) {
  return type(kind, selfix) + fmt(",size=%08x,count=%04x,name=[%s]", size, count, name.c_str());
}
std::string enm(uint32_t selfix, const std::string& name) {
  return type(15, selfix) + ",name=[" + name + "]";
}
std::string func(uint32_t selfix, uint32_t retix, uint32_t argc, bool far) {
  return type(far ? 22 : 16, selfix) + fmt(",retix=%08x ,argc=%04x", retix, argc);
}
std::string ptr(uint32_t kind, uint32_t selfix, uint32_t typeix) {
  return type(kind, selfix) + fmt(",typeix=%08x", typeix);
}
std::string arr(uint32_t selfix, uint32_t typeix, uint32_t limit) {
  return type(19, selfix) + fmt(",typeix=%08x,limit=%08x", typeix, limit);
}
std::string tdef(uint32_t selfix, uint32_t typeix, const std::string& name) {
  return type(21, selfix) + fmt(",typeix=%08x,name=[%s]", typeix, name.c_str());
}
std::string bit(uint32_t selfix, uint32_t sign, uint32_t size, uint32_t offs) {
  return type(27, selfix) + fmt(",sign=%02x,size=%04x,offs=%04x", sign, size, offs);
}
std::string mem(uint32_t typeix, uint32_t offset, const std::string& name) {
  return fmt("\nMEMBER:typeix=%08x,offset=%04x,name=[%s]", typeix, offset, name.c_str());
}
std::string cnst(uint32_t value, const std::string& name) {
  return fmt("\nMEMBER:value=%08x,name=[%s]", value, name.c_str());
}
std::string bfmem(uint32_t typeix, uint32_t bitoffs, uint32_t bitsize, const std::string& name) {
  return fmt("\nMEMBER:typeix=%08x,bitoffs=%04x,bitsize=%04x,name=[%s]", typeix, bitoffs, bitsize,
             name.c_str());
}

}  // namespace line

tekrec::Symbol sym(uint8_t category, const std::string& name, std::optional<tekrec::Fields> type,
                   std::optional<tekrec::Fields> location, uint16_t own_id) {
  tekrec::Symbol s;
  s.category = category;
  s.own_id = own_id;
  s.name = name;
  s.type = std::move(type);
  s.location = std::move(location);
  return s;
}
tekrec::Symbol structure(uint16_t id, const std::string& name, uint32_t size) {
  return sym(tekrec::STRUCT_TAG, name, {}, tekrec::aggregate_tag(size), id);
}
tekrec::Symbol union_tag(uint16_t id, const std::string& name, uint32_t size) {
  return sym(tekrec::UNION_TAG, name, {}, tekrec::aggregate_tag(size), id);
}
tekrec::Symbol enum_tag(uint16_t id, const std::string& name) {
  return sym(tekrec::ENUM_TAG, name, {}, tekrec::enum_tag(), id);
}
tekrec::Symbol member(const std::string& name, uint8_t basic, uint32_t offset) {
  return sym(tekrec::MEMBER, name, tekrec::basic_type(basic), tekrec::member_at(offset));
}
tekrec::Symbol member_of(const std::string& name, uint16_t type_id, uint32_t offset) {
  return sym(tekrec::MEMBER, name, tekrec::type_id(type_id), tekrec::member_at(offset));
}
tekrec::Symbol constant(const std::string& name, std::string_view hex_digits) {
  return sym(tekrec::HEXVALUE, name, {}, tekrec::hex_digits(hex_digits));
}

tekrec::Builder program(std::string_view processor, uint8_t unit_flags) {
  tekrec::Builder b;
  b.hdr().unit("m", processor, 3, unit_flags).cl(0x1000, "P").cl(0x2000, "D").cl(0x3000, "B");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0).basetype(2, 2, 1, 0).basetype(3, 3, 2, 0x40);
  return b;
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
