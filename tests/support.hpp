// Test support: a private working directory, in-process runs of the converter, runs of the
// tekconv binary, and an independent writer of expected context records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "recbuild/recbuild.hpp"

namespace tektest {

using Bytes = std::vector<uint8_t>;

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool exists(const std::string& path);
// Names of the entries of the current directory, sorted.
std::vector<std::string> dir_entries();

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

// Runs the tekconv binary as a process in the current directory.
RunResult run_binary(const std::vector<std::string>& args);

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

// A hex rendering that makes byte mismatches readable in failure messages.
std::string hex(const Bytes& b);

}  // namespace tektest

#define EXPECT_BYTES(actual, expected) EXPECT_EQ(tektest::hex(actual), tektest::hex(expected))
