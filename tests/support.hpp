// Test support: a private working directory, in-process runs of the converter, runs of the
// tekconv binary, and an independent writer of expected context records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recbuild/recbuild.hpp"

namespace tektest {

using Bytes = std::vector<uint8_t>;

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool exists(const std::string& path);
// Names of the entries of the current directory, sorted.
std::vector<std::string> dir_entries();
// The paths under the current directory, each with its bytes ("<dir>" for a directory).
std::map<std::string, std::string> snapshot();

// Each test runs in a fresh temporary directory, removed afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;
  std::string old_cwd_;
};

struct RunResult {
  int status = 0;
  std::string out;  // standard output, banner included
  std::string err;  // standard error, for the runs that capture it
  // Standard output after the two banner lines.
  std::string body() const;
};

// Runs the converter in-process on the given arguments (without the program name).
RunResult run_tekconv(const std::vector<std::string>& args);
// Writes the records to in.abs, then runs with the options followed by in.abs.
RunResult run_on(const tekrec::Builder& b, const std::vector<std::string>& options = {});
// Symbol dump of the records with a dump option; returns standard output after the banner.
std::string dump(const tekrec::Builder& b, const std::string& option = "-s",
                 const std::vector<std::string>& more = {});
// Converts the records written to in.abs and returns the bytes of in.ctx (empty when the run
// failed; the status is checked to be 0).
Bytes convert(const tekrec::Builder& b, const std::vector<std::string>& options = {});

// Runs the tekconv binary as a process in the current directory. With a file size limit the
// process ignores SIGXFSZ, so that a write past the limit fails instead of killing it. A run
// that does not end within a minute is killed (a hang fails the test instead of stalling it).
RunResult run_binary(const std::vector<std::string>& args, uint64_t file_size_limit = UINT64_MAX);
// The same, with standard error captured too.
RunResult run_binary_stderr(const std::vector<std::string>& args,
                            uint64_t file_size_limit = UINT64_MAX);

Bytes file_bytes(const std::string& path);

// A shell command's exit status (-1 when it did not exit) and what it wrote on standard output.
struct ShellRun {
  int status = -1;
  std::string out;
};
ShellRun run_shell(const std::string& command);
// The lines of a text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);
bool is_dir(const std::string& path);

// The two banner lines.
extern const char* const BANNER;

// Expected context records, encoded independently of the converter's own encoder.
class Ctx {
 public:
  Ctx& header();
  Ctx& pub(uint16_t mode, uint32_t addr, uint8_t cls, uint32_t typeix, uint32_t modix,
           const std::string& name);
  Ctx& start_local(uint32_t addr);
  Ctx& end_local(uint32_t addr);
  Ctx& set_local(uint8_t cls, uint32_t offset, uint32_t typeix, const std::string& name);
  Ctx& file(const std::string& name);
  Ctx& end_line(uint16_t mode = 0);
  Ctx& line(uint32_t line, uint32_t addr);
  Ctx& type(uint8_t kind, uint32_t selfix);  // kinds without further fields
  Ctx& aggregate(uint8_t kind, uint32_t selfix, uint32_t size, uint32_t count,
                 const std::string& name);
  Ctx& enumeration(uint32_t selfix, uint32_t count, const std::string& name);
  Ctx& function(uint8_t kind, uint32_t selfix, uint32_t retix, uint16_t argc);
  Ctx& pointer(uint8_t kind, uint32_t selfix, uint32_t typeix);
  Ctx& array(uint32_t selfix, uint32_t typeix, uint32_t limit);
  Ctx& bit(uint32_t selfix, uint8_t sign, uint32_t size, uint32_t offs);
  Ctx& member(uint32_t typeix, uint32_t offset, const std::string& name);
  Ctx& constant(uint32_t value, const std::string& name);
  Ctx& object(uint32_t addr, const Bytes& data);
  Ctx& module(uint32_t modix, const std::string& name);
  Ctx& addr_flag(uint32_t addr, uint32_t flag);
  Ctx& predefined();  // the 16 predefined TYPE records
  Ctx& append(const Ctx& other);
  const Bytes& bytes() const { return b_; }

 private:
  Ctx& u8(uint32_t v);
  Ctx& u16(uint32_t v);
  Ctx& u32(uint32_t v);
  Ctx& name(const std::string& s);
  Bytes b_;
};

// The dump lines of the 16 predefined types, each beginning with "\n".
std::string predefined_dump();

// Expected dump lines, each beginning with "\n", written from the listing's format texts.
namespace line {
std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string header();
std::string module(uint32_t modix, const std::string& name);
std::string pub(uint32_t addr, uint32_t typeix, const std::string& name, const char* cls = "EXT",
                uint32_t modix = 1, uint32_t mode = 0);
std::string setl(uint32_t offset, const char* cls, uint32_t typeix, const std::string& name);
std::string startl(uint32_t addr);
std::string endl(uint32_t addr);
std::string file(const std::string& name);
std::string line(int32_t number, uint32_t addr);
std::string endline(uint32_t mode = 0);
std::string object(uint32_t addr, uint32_t length);
std::string addr_flag(uint32_t addr, uint32_t flag);
std::string type(uint32_t kind, uint32_t selfix);  // a basic kind: the common part alone
std::string agg(uint32_t kind, uint32_t selfix, uint32_t size, uint32_t count,
                const std::string& name);  // STRUCT, UNION, CLASS, BITFIELD
std::string enm(uint32_t selfix, const std::string& name);
std::string func(uint32_t selfix, uint32_t retix, uint32_t argc, bool far = false);
std::string ptr(uint32_t kind, uint32_t selfix, uint32_t typeix);
std::string arr(uint32_t selfix, uint32_t typeix, uint32_t limit);
std::string tdef(uint32_t selfix, uint32_t typeix, const std::string& name);
std::string bit(uint32_t selfix, uint32_t sign, uint32_t size, uint32_t offs);
std::string mem(uint32_t typeix, uint32_t offset, const std::string& name);
std::string cnst(uint32_t value, const std::string& name);
std::string bfmem(uint32_t typeix, uint32_t bitoffs, uint32_t bitsize, const std::string& name);
}  // namespace line

// Selfix values of predefined types, and of the first registered id of a pass.
constexpr uint32_t T_VOID = 256, T_CHAR = 258, T_SHORT = 260, T_INT = 262, T_UINT = 263;
constexpr uint32_t FIRST_SELFIX = 288, UNDEFINED_SELFIX = 288 + 0x4000;

// SYMBOL records in a line.
tekrec::Symbol sym(uint8_t category, const std::string& name, std::optional<tekrec::Fields> type,
                   std::optional<tekrec::Fields> location, uint16_t own_id = 0);
tekrec::Symbol structure(uint16_t id, const std::string& name, uint32_t size);
tekrec::Symbol union_tag(uint16_t id, const std::string& name, uint32_t size);
tekrec::Symbol enum_tag(uint16_t id, const std::string& name);
tekrec::Symbol member(const std::string& name, uint8_t basic, uint32_t offset);
tekrec::Symbol member_of(const std::string& name, uint16_t type_id, uint32_t offset);
tekrec::Symbol constant(const std::string& name, std::string_view hex_digits);

// HDR, unit "m" of the processor with sections P at 0x1000, D at 0x2000 and B at 0x3000, a debug
// unit at level 1 with near functions, and basic types 1 = int, 2 = char, 3 = unsigned short.
tekrec::Builder program(std::string_view processor = "SH7032", uint8_t unit_flags = 0x04);

// A hex rendering that makes byte mismatches readable in failure messages.
std::string hex(const Bytes& b);

}  // namespace tektest

#define EXPECT_BYTES(actual, expected) EXPECT_EQ(tektest::hex(actual), tektest::hex(expected))
