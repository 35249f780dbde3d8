// The shipped examples: the files under examples/ are what the generators write, they convert
// without a message, and the README's gdb walk-through on examples/blink/ runs as written.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "blink_program.hpp"
#include "example_program.hpp"
#include "optional_tools.hpp"
#include "support.hpp"

using namespace tektest;
namespace fs = std::filesystem;

namespace {

const std::string EXAMPLES = std::string(TEKCONV_SOURCE_DIR) + "/examples";

std::string text_of(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// Copies the named files of a directory into the current one.
void copy_in(const std::string& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names)
    fs::copy_file(dir + "/" + name, name, fs::copy_options::overwrite_existing);
}

const std::vector<std::string> PROG_FILES = {"prog.abs", "main.cpd", "types.cpd", "uart.cpd"};
const std::vector<std::string> BLINK_FILES = {"blink.abs", "main.c", "led.c", "led.h"};

TEST(Examples, ShippedFilesAreWhatTheGeneratorsWrite) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"prog.abs", text_of(tekrec::example_program().bytes())},
      {"blink/blink.abs", text_of(tekrec::blink_program().bytes())},
  };
  for (const auto& [name, text] : tekrec::example_companions()) files.emplace_back(name, text);
  for (const auto& [name, want] : files) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(exists(EXAMPLES + "/" + name));
    EXPECT_EQ(read_file(EXAMPLES + "/" + name), want);
  }
}

class ExamplesRun : public TempDirTest {};

// Each run of the shipped files, as the manual page and the README give them, is silent.
TEST_F(ExamplesRun, ConvertStrictlyWithoutAMessage) {
  copy_in(EXAMPLES, PROG_FILES);
  copy_in(EXAMPLES + "/blink", BLINK_FILES);
  fs::create_directory("build");
  const std::vector<std::vector<std::string>> runs = {
      {"-q", "--strict", "prog.abs"},
      {"-q", "--strict", "-o", "build/prog.ctx", "prog.abs"},
      {"-q", "--strict", "blink.abs"},
      {"-q", "--strict", "-O", "elf", "blink.abs"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult r = run_binary_stderr(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  for (const char* made : {"prog.ctx", "build/prog.ctx", "blink.ctx", "blink.elf"})
    EXPECT_TRUE(exists(made)) << made;
}

// The companion file of types.h, the last one read for the H8 unit, keeps the renames and
// class marks of main.c's, and the one of uart.c changes nothing in the SH unit: the context
// file is the one that main.cpd alone gives.
TEST_F(ExamplesRun, CompanionFilesAgreeWithMainCpd) {
  copy_in(EXAMPLES, {"prog.abs", "main.cpd"});
  RunResult alone = run_binary_stderr({"-s", "prog.abs"});
  ASSERT_EQ(alone.status, 0);
  ASSERT_NE(alone.out.find("TYPE:      type=0x1c:CLASS     "), std::string::npos);
  ASSERT_EQ(run_binary_stderr({"-q", "-o", "alone.ctx", "prog.abs"}).status, 0);

  copy_in(EXAMPLES, {"types.cpd", "uart.cpd"});
  RunResult all = run_binary({"-s", "prog.abs"});
  ASSERT_EQ(all.status, 0);
  EXPECT_EQ(all.out, alone.out);
  ASSERT_EQ(run_binary({"-q", "-o", "all.ctx", "prog.abs"}).status, 0);
  EXPECT_EQ(file_bytes("all.ctx"), file_bytes("alone.ctx"));
}

// A command of the README and the output lines it shows.
struct Step {
  std::string command;
  std::vector<std::string> shown;
};

// The section under the "## " heading, up to the next one.
std::string readme_section(const std::string& readme, const std::string& heading) {
  size_t start = readme.find("\n## " + heading + "\n");
  if (start == std::string::npos) return "";
  size_t end = readme.find("\n## ", start + 1);
  return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The console blocks of a section: "$ " begins a command (a line ending in a backslash goes on
// in the next), the other lines are its output.
std::vector<Step> console_steps(const std::string& section) {
  std::vector<Step> steps;
  std::istringstream in(section);
  std::string line;
  bool in_block = false;
  bool continued = false;
  while (std::getline(in, line)) {
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block && line == "```console";
      continued = false;
      continue;
    }
    if (!in_block) continue;
    if (continued) {
      steps.back().command += "\n" + line;
    } else if (line.rfind("$ ", 0) == 0) {
      steps.push_back({line.substr(2), {}});
    } else if (!steps.empty() && !line.empty()) {
      steps.back().shown.push_back(line);
    }
    continued = !line.empty() && line.back() == '\\' && !steps.empty();
  }
  return steps;
}

// Runs of blanks become one blank, and blanks at either end go: gdb aligns with tabs, and
// S-records end in CR LF.
std::string squeeze(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\r') {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The programs a command line starts: the first word of each part of a list or pipeline
// (separators within quotes do not count).
std::vector<std::string> programs_of(const std::string& command) {
  std::vector<std::string> programs;
  bool at_start = true;
  char quote = 0;
  std::string word;
  for (size_t i = 0; i <= command.size(); ++i) {
    char c = i < command.size() ? command[i] : ' ';
    if (quote) {
      if (c == quote) quote = 0;
      word.push_back(c);
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      word.push_back(c);
    } else if (c == '&' || c == '|' || c == ';') {
      at_start = true;
      word.clear();
    } else if (c == ' ' || c == '\n' || c == '\\') {
      if (!word.empty() && at_start) {
        programs.push_back(word);
        at_start = false;
      }
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  return programs;
}

struct Shell {
  int status = -1;
  std::string out;  // standard output and standard error
};

Shell shell(const std::string& command) {
  const ShellRun run = run_shell("{\n" + command + "\n} 2>&1");
  return Shell{run.status, run.out};
}

TEST(Examples, ReadmeConsoleBlocksParse) {
  const std::string section =
      "\n## S\n\ntext\n\n```console\n$ a -x \\\n    -y\nout 1\n\nout 2\n$ b && c | d 'e|f' "
      "\"g;h\"\n```\n\n"
      "```sh\n$ not run\n```\n```console\n$ e\n```\n";
  std::vector<Step> steps = console_steps(readme_section(section, "S"));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].command, "a -x \\\n    -y");
  EXPECT_EQ(steps[0].shown, (std::vector<std::string>{"out 1", "out 2"}));
  EXPECT_EQ(steps[1].command, "b && c | d 'e|f' \"g;h\"");
  EXPECT_TRUE(steps[1].shown.empty());
  EXPECT_EQ(steps[2].command, "e");
  EXPECT_EQ(programs_of(steps[0].command), std::vector<std::string>{"a"});
  EXPECT_EQ(programs_of(steps[1].command), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_EQ(squeeze("  20\t    phase  = 1 \t"), "20 phase = 1");
}

// Runs every command of the README section in a copy of examples/blink/, with the built
// tekconv first on the PATH. Each command must succeed, and the lines the README shows after it
// must appear in its output, in that order.
TEST_F(ExamplesRun, ReadmeGdbWalkThrough) {
  const std::string section =
      readme_section(read_file(std::string(TEKCONV_SOURCE_DIR) + "/README.md"),
                     "Debugging a TEKA program with gdb");
  ASSERT_FALSE(section.empty()) << "README.md has no section \"Debugging a TEKA program with gdb\"";
  const std::vector<Step> steps = console_steps(section);
  std::string all;
  for (const Step& s : steps) all += s.command + "\n";
  for (const char* part : {"tekconv ", "gdb-multiarch ", "break ", "info scope", "ptype ",
                           "addr2line ", "-O binary", "-O srec"})
    EXPECT_NE(all.find(part), std::string::npos) << "the walk-through lost " << part;

  TEKTEST_REQUIRE_TOOL("gdb-multiarch", "readelf", "objcopy", "llvm-objcopy");
  for (const Step& s : steps)
    for (const std::string& program : programs_of(s.command))
      if (program != "tekconv" && shell("command -v " + program + " >/dev/null").status != 0)
        GTEST_FAIL() << "the README walk-through needs " << program
                     << ", which no optional test tool provides here";

  copy_in(EXAMPLES + "/blink", BLINK_FILES);
  const std::string bin_dir = fs::path(TEKCONV_BINARY).parent_path().string();
  const std::string path = "PATH='" + bin_dir + "':\"$PATH\"; export PATH\n";
  for (const Step& s : steps) {
    SCOPED_TRACE(s.command);
    Shell r = shell(path + s.command);
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream out(r.out);
    std::string line;
    size_t next = 0;
    while (next < s.shown.size() && std::getline(out, line))
      if (squeeze(line) == squeeze(s.shown[next])) ++next;
    EXPECT_EQ(next, s.shown.size())
        << "not in the output, in order: " << (next < s.shown.size() ? s.shown[next] : "")
        << "\noutput:\n"
        << r.out;
  }
}

}  // namespace
