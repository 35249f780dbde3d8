// The ELF output of the fuzz target's seed programs (every record type, symbol category and
// location form, several processors, the example) passes llvm-dwarfdump --verify and the libdw
// checker.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "optional_tools.hpp"
#include "sample_programs.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"
#ifdef TEKCONV_HAVE_DWCHECK
#include "dwcheck/dwcheck.hpp"
#endif

using namespace tektest;

namespace {

class ElfCorpus : public TempDirTest {};

TEST_F(ElfCorpus, SeedProgramsVerify) {
  TEKTEST_REQUIRE_TOOL("llvm-dwarfdump");
  int verified = 0;
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    SCOPED_TRACE(sample.name);
    const Bytes input = sample.object.bytes();
    tekconv::Options o;
    o.console = std::fopen("/dev/null", "w");
    o.companions = [&](const std::string& name) -> std::optional<std::string> {
      if (name == "main.cpd" && !sample.companion.empty()) return sample.companion;
      return std::nullopt;
    };
    Bytes elf;
    const int status = tekconv::convert_elf(input, elf, o);
    std::fclose(o.console);
    if (status != 0) continue;  // the input stops the run: there is no ELF file
    write_file("prog.elf", std::string(elf.begin(), elf.end()));
    const int rc = std::system("llvm-dwarfdump --verify prog.elf > verify.txt 2>&1");
    EXPECT_EQ(rc, 0) << read_file("verify.txt");
    EXPECT_NE(read_file("verify.txt").find("No errors."), std::string::npos)
        << read_file("verify.txt");
    ++verified;
  }
  EXPECT_GE(verified, 6);
}

TEST_F(ElfCorpus, SeedProgramsReadByLibdw) {
  TEKTEST_REQUIRE_TOOL("libdw");
#ifndef TEKCONV_HAVE_DWCHECK
  GTEST_SKIP() << "the libdw checker is not built";
#else
  int read = 0;
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    tekconv::Options o;
    o.console = std::fopen("/dev/null", "w");
    o.companions = [&](const std::string& name) -> std::optional<std::string> {
      if (name == "main.cpd" && !sample.companion.empty()) return sample.companion;
      return std::nullopt;
    };
    Bytes elf;
    const int status = tekconv::convert_elf(sample.object.bytes(), elf, o);
    std::fclose(o.console);
    if (status != 0) continue;
    const dwcheck::Report r = dwcheck::check(elf);
    EXPECT_EQ(r.problems, std::vector<std::string>{}) << sample.name;
    read += r.units > 0;
  }
  EXPECT_GE(read, 5);
#endif
}

}  // namespace
