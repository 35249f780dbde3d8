// The ELF writer's problems are the input's problems: reported at the record they concern,
// counted in the summary line, listed with -v, handed to a library caller's diagnostics, and
// fatal under --strict (no ELF file, an earlier one kept), as for the context file.
#include <cstdio>
#include <string>
#include <vector>

#include "support.hpp"
#include "tekconv/tekconv.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

class ElfDiagnostics : public TempDirTest {};

const std::string OVERLAP =
    "DATA record: OBJECT data overlap in 0x00000100-0x00000103: the later bytes are kept";

// Two blocks of data that overlap; clash is set to the offset of the second DATA record.
Builder overlapping(size_t& clash) {
  Builder b;
  b.hdr().unit("m", "ARM", 2, 0x04).cl(0x100, "P").cl(0x102, "Q");
  b.sect(0, 0).data({1, 2, 3, 4}).sect(0, 1);
  clash = b.bytes().size();
  b.data({9, 9}).end();
  return b;
}

std::string located(size_t offset, const std::string& text) {
  return line::fmt("tekconv: in.abs:0x%zx: warning: %s\n", offset, text.c_str());
}

TEST_F(ElfDiagnostics, CommandLineCountsListsAndFailsOnThem) {
  size_t clash = 0;
  overlapping(clash).write("in.abs");
  const std::string summary = "tekconv: 1 warning; run with -v to list it\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
    bool elf_written;
  };
  const std::vector<Case> cases = {
      {{"-O", "elf", "in.abs"}, 0, "Created in.elf\n", summary, true},
      {{"-v", "-O", "elf", "in.abs"}, 0, "Created in.elf\n", located(clash, OVERLAP), true},
      {{"--strict", "-O", "elf", "in.abs"},
       2,
       "",
       summary + "tekconv: error: --strict: the input has problems; no ELF file is written\n",
       false},
      // The context file has no such problem: the later bytes simply follow the earlier.
      {{"--strict", "in.abs"}, 0, "Created in.ctx\n", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::remove("in.elf");
    const RunResult r = run_binary_stderr(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(exists("in.elf"), c.elf_written);
  }
  // A strict run that fails keeps the ELF file of an earlier run, and leaves nothing else.
  write_file("in.elf", "earlier");
  EXPECT_EQ(run_binary_stderr({"--strict", "-O", "elf", "in.abs"}).status, 2);
  EXPECT_EQ(read_file("in.elf"), "earlier");
  for (const std::string& name : dir_entries()) EXPECT_NE(name.rfind(".in", 0), 0u) << name;
}

// A pass that ends early is a problem for the ELF output as for the context file.
TEST_F(ElfDiagnostics, StrictFailsOnACutInput) {
  Builder b = program("ARM");
  b.symbol(sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(2, 1, 0, 4)));
  b.write("in.abs");  // no END record
  const RunResult r = run_binary_stderr({"--strict", "-O", "elf", "in.abs"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no ELF file is written"), std::string::npos) << r.err;
  EXPECT_FALSE(exists("in.elf"));
  EXPECT_EQ(run_binary_stderr({"-O", "elf", "in.abs"}).status, 0);
  EXPECT_TRUE(exists("in.elf"));
}

TEST_F(ElfDiagnostics, LibraryHandsThemToTheCallersHandler) {
  size_t clash = 0;
  const Bytes input = overlapping(clash).bytes();
  std::vector<tekconv::Diagnostic> seen;
  tekconv::Options o;
  o.console = nullptr;  // no console text
  o.diagnostics = [&](const tekconv::Diagnostic& d) { seen.push_back(d); };
  std::vector<uint8_t> elf;
  std::vector<std::string> texts;
  EXPECT_EQ(tekconv::convert_elf(input, elf, o, &texts), 0);
  EXPECT_FALSE(elf.empty());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].severity, tekconv::Diagnostic::Severity::Warning);
  EXPECT_TRUE(seen[0].located);
  EXPECT_EQ(seen[0].offset, clash);
  EXPECT_EQ(seen[0].text, OVERLAP);
  EXPECT_EQ(texts, std::vector<std::string>{OVERLAP.substr(std::string("DATA record: ").size())});

  seen.clear();
  o.strict = true;
  EXPECT_EQ(tekconv::convert_elf(input, elf, o), 2);
  EXPECT_TRUE(elf.empty());
  EXPECT_EQ(seen.size(), 1u);
}

// Every entry point runs without a console, and says the same through diagnostics.
TEST_F(ElfDiagnostics, LibraryWithoutConsoleAndStrictInEveryMode) {
  Builder b = program();
  b.symbol(sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(2, 1, 0, 4)));
  b.dpt(7).end();  // a warning; the pass goes on
  const Bytes input = b.bytes();
  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict);
    tekconv::Options o;
    o.console = nullptr;
    o.strict = strict;
    int warnings = 0;
    o.diagnostics = [&](const tekconv::Diagnostic&) { ++warnings; };
    const int want = strict ? 2 : 0;
    std::vector<uint8_t> out;
    EXPECT_EQ(tekconv::convert(input, out, o), want);
    EXPECT_EQ(out.empty(), strict);
    EXPECT_EQ(tekconv::convert_elf(input, out, o), want);
    EXPECT_EQ(out.empty(), strict);
    EXPECT_EQ(tekconv::dump(input, tekconv::Dump::All, o), want);
    EXPECT_EQ(tekconv::check(input, o), want);
    write_file("in.abs", std::string(input.begin(), input.end()));
    std::remove("in.ctx");
    EXPECT_EQ(tekconv::convert_file("in.abs", "in.ctx", o), want);
    EXPECT_EQ(exists("in.ctx"), !strict);
    EXPECT_EQ(warnings, 5);  // once per run (the check reports it once for both readings)
  }
}

}  // namespace
