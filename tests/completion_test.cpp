// The bash completion of both programs: sourced into bash, asked to complete a command line,
// and installed where bash-completion looks for it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support.hpp"

using namespace tektest;
namespace fs = std::filesystem;

namespace {

class CompletionTest : public TempDirTest {};

bool have_bash() {
  return std::system("command -v bash >/dev/null 2>&1") == 0;
}

std::string capture(const std::string& command) {
  return run_shell(command).out;
}

std::string shell_quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The words bash offers for the last word of the command line, sorted.
std::vector<std::string> complete(const std::vector<std::string>& words) {
  const std::string tool = words.front();
  std::string script = "source " +
                       shell_quoted(TEKCONV_SOURCE_DIR "/completions/" + tool + ".bash") +
                       "; COMP_WORDS=(";
  for (const std::string& w : words) script += shell_quoted(w) + " ";
  script += "); COMP_CWORD=" + std::to_string(words.size() - 1) +
            "; COMP_LINE=\"${COMP_WORDS[*]}\"" + "; $(complete -p " + tool +
            " | sed 's/.*-F \\([^ ]*\\).*/\\1/') " + tool + "; printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::vector<std::string> offered;
  std::istringstream in(capture("bash --norc --noprofile -c " + shell_quoted(script)));
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) offered.push_back(l);
  std::sort(offered.begin(), offered.end());
  return offered;
}

using Words = std::vector<std::string>;

TEST_F(CompletionTest, OptionsValuesAndFiles) {
  if (!have_bash()) GTEST_SKIP() << "bash is not installed";
  write_file("prog.abs", "");
  write_file("prog.ctx", "");
  fs::create_directory("cpd");
  const struct {
    Words line;
    Words offered;
  } rows[] = {
      {{"tekconv", "--st"}, {"--strict"}},
      {{"tekconv", "-s"}, {"-s", "-sf", "-sg", "-sl", "-ss", "-st"}},
      {{"tekconv", "--"}, {"--", "--cpd-dir", "--help", "--output", "--strict", "--version"}},
      // -k only as the first argument.
      {{"tekconv", "-k"}, {"-k"}},
      {{"tekconv", "-q", "-k"}, {}},
      {{"tekconv", "-O", ""}, {"ctx", "elf"}},
      {{"tekconv", "-O", "e"}, {"elf"}},
      {{"tekconv", "-o", "prog."}, {"prog.abs", "prog.ctx"}},
      {{"tekconv", "--output", "=", "prog.c"}, {"prog.ctx"}},
      {{"tekconv", "--cpd-dir", "c"}, {"cpd"}},
      {{"tekconv", "-q", "pr"}, {"prog.abs", "prog.ctx"}},
      // After "--" a word that begins with '-' is a file.
      {{"tekconv", "--", "-s"}, {}},
      {{"ctxdump", "--v"}, {"--verify", "--version"}},
      {{"ctxdump", "-x", "--"}, {"--", "--help", "--hex", "--json", "--verify", "--version"}},
      {{"ctxdump", "prog.c"}, {"prog.ctx"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.line));
    EXPECT_EQ(complete(row.line), row.offered);
  }
}

// Every option offered is one that the program's help names.
TEST_F(CompletionTest, OffersOnlyOptionsTheHelpNames) {
  if (!have_bash()) GTEST_SKIP() << "bash is not installed";
  for (const char* tool : {"tekconv", "ctxdump"}) {
    SCOPED_TRACE(tool);
    const std::string binary = tool == std::string("tekconv") ? TEKCONV_BINARY : CTXDUMP_BINARY;
    const std::string help = capture(shell_quoted(binary) + " --help");
    const Words offered = complete({tool, "-"});
    EXPECT_GE(offered.size(), tool == std::string("tekconv") ? 22u : 8u);
    for (const std::string& option : offered) {
      // Options appear in the help led by a space or a comma and followed by a space, a comma
      // or '='.
      bool named = false;
      for (size_t at = help.find(option); at != std::string::npos && !named;
           at = help.find(option, at + 1)) {
        const char before = at == 0 ? ' ' : help[at - 1];
        const size_t end = at + option.size();
        const char after = end < help.size() ? help[end] : ' ';
        named = (before == ' ' || before == ',' || before == '(' || before == '|') &&
                (after == ' ' || after == ',' || after == '=' || after == '\n' || after == '|' ||
                 after == ';' || after == ']');
      }
      EXPECT_TRUE(named) << option;
    }
  }
}

TEST_F(CompletionTest, InstalledForBashCompletion) {
  const std::string prefix = dir_ + "/prefix";
  const std::string install = shell_quoted(TEKCONV_CMAKE) + " --install " +
                              shell_quoted(TEKCONV_BUILD_DIR) + " --prefix " +
                              shell_quoted(prefix) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0);
  for (const char* tool : {"tekconv", "ctxdump"}) {
    const std::string installed = prefix + "/share/bash-completion/completions/" + tool;
    ASSERT_TRUE(exists(installed)) << installed;
    EXPECT_EQ(read_file(installed),
              read_file(std::string(TEKCONV_SOURCE_DIR "/completions/") + tool + ".bash"));
  }
}

}  // namespace
