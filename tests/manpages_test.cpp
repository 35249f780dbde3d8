// The manual pages as man shows them: every example line comes out as it is written in the
// page (quotes, backslashes, dashes and spacing intact), and the pages format without warnings.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "example_program.hpp"
#include "optional_tools.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

const char* const PAGES[] = {TEKCONV_SOURCE_DIR "/man/tekconv.1",
                             TEKCONV_SOURCE_DIR "/man/ctxdump.1"};

// Standard output of a shell command.
std::string capture(const std::string& command) {
  return run_shell(command).out;
}

std::string trimmed(const std::string& s) {
  const size_t from = s.find_first_not_of(' ');
  if (from == std::string::npos) return std::string();
  return s.substr(from, s.find_last_not_of(' ') - from + 1);
}

// The text a line of the page stands for: font changes dropped, the escapes of the characters
// that examples use replaced by the characters.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'f') {  // \fB, \f(CW, \f[CR]
      if (i + 1 < s.size() && s[i + 1] == '(')
        i += 3;
      else if (i + 1 < s.size() && s[i + 1] == '[')
        i = s.find(']', i);
      else
        ++i;
    } else if (c == '-' || c == 'e' || c == '\\') {
      out += c == '-' ? '-' : '\\';
    } else if (c == '&') {
    } else if (c == '(' && i + 2 < s.size()) {
      const std::string name = s.substr(i + 1, 2);
      i += 2;
      if (name == "dq")
        out += '"';
      else if (name == "aq")
        out += '\'';
      else if (name == "ti")
        out += '~';
      else if (name == "ha")
        out += '^';
      else if (name == "rs")
        out += '\\';
      else
        ADD_FAILURE() << "escape \\(" << name << " in " << s;
    } else {
      ADD_FAILURE() << "escape \\" << c << " in " << s;
    }
  }
  return out;
}

// The example lines of a page: every line of an .EX block, and in the EXAMPLES section every
// line set off by .RS, as a .B macro or as text.
std::vector<std::string> examples(const std::string& page) {
  std::vector<std::string> found;
  bool in_ex = false, in_examples = false, indented = false;
  for (const std::string& l : lines_of(read_file(page))) {
    if (l.starts_with(".SH")) in_examples = l == ".SH EXAMPLES";
    if (l == ".EX" || l == ".EE") {
      in_ex = l == ".EX";
    } else if (in_ex) {
      found.push_back(unescape(l));
    } else if (in_examples && (l == ".RS" || l == ".RE")) {
      indented = l == ".RS";
    } else if (in_examples && indented && l.starts_with(".B ")) {
      found.push_back(unescape(l.substr(3)));
    } else if (in_examples && indented && !l.starts_with(".")) {
      found.push_back(unescape(l));
    }
  }
  return found;
}

// Drops the overstrike (c BACKSPACE c, _ BACKSPACE c) that grotty uses for bold and italics.
std::string plain(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\b') {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out += c;
  }
  return out;
}

void expect_examples_as_written(const std::string& page, const std::string& rendered,
                                const char* how) {
  std::vector<std::string> shown;
  for (const std::string& l : lines_of(plain(rendered))) shown.push_back(trimmed(l));
  const std::vector<std::string> wanted = examples(page);
  EXPECT_GE(wanted.size(), 5u) << page;
  for (const std::string& w : wanted) {
    bool found = false;
    for (const std::string& s : shown) found = found || s == trimmed(w);
    EXPECT_TRUE(found) << page << " (" << how << "): example line not shown as written:\n  " << w;
  }
}

TEST(ManPages, ExamplesComeOutAsWritten) {
  TEKTEST_REQUIRE_TOOL("groff", "man");
  for (const char* page : PAGES) {
    SCOPED_TRACE(page);
    const std::string q = std::string("'") + page + "'";
    // Formatting warnings (unknown macros, bad escapes) are mistakes in the page.
    EXPECT_EQ(capture("groff -man -Tutf8 -ww -z " + q + " 2>&1"), "");
    expect_examples_as_written(page, capture("groff -man -Tutf8 " + q + " 2>/dev/null"),
                               "groff -man -Tutf8");
    expect_examples_as_written(
        page, capture("MANPAGER=cat PAGER=cat MANWIDTH=80 man -l " + q + " 2>/dev/null"), "man -l");
  }
}

// The checker itself: an example set as macro arguments loses its quotes and its spacing.
TEST(ManPages, ExampleInMacroArgumentsIsCaught) {
  TEKTEST_REQUIRE_TOOL("groff");
  const std::string page = ::testing::TempDir() + "/quoted.1";
  write_file(page,
             ".TH Q 1\n.SH EXAMPLES\n.RS\n.B jq \\-r 'select(.tag == \"PUBLIC\")'\n.RE\n"
             ".EX\na\\e\\(dqb\\(dq  c\n.EE\n");
  const std::vector<std::string> wanted = examples(page);
  ASSERT_EQ(wanted.size(), 2u);
  EXPECT_EQ(wanted[0], "jq -r 'select(.tag == \"PUBLIC\")'");
  EXPECT_EQ(wanted[1], "a\\\"b\"  c");
  std::vector<std::string> shown;
  for (const std::string& l : lines_of(plain(capture("groff -man -Tutf8 '" + page + "'"))))
    shown.push_back(trimmed(l));
  EXPECT_EQ(std::count(shown.begin(), shown.end(), wanted[0]), 0);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), wanted[1]), 1);
}

// The ctxdump page's jq example, as groff renders it, is a command that runs and lists the names
// of the PUBLIC records (those the text listing shows).
TEST(ManPages, CtxdumpJqExampleRuns) {
  TEKTEST_REQUIRE_TOOL("groff", "jq");
  const std::string dir = ::testing::TempDir() + "/jq-example";
  ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
  // One line per paragraph, without bold or underlining.
  const std::string page = capture("groff -man -Tutf8 -P-cbou -rLL=250n '" TEKCONV_SOURCE_DIR
                                   "/man/ctxdump.1' 2>/dev/null");
  std::string command;
  for (const std::string& l : lines_of(page))
    if (l.find("ctxdump --json prog.ctx | jq") != std::string::npos) command = trimmed(l);
  ASSERT_EQ(command.rfind("ctxdump ", 0), 0u) << page;

  tekrec::example_program().write(dir + "/prog.abs");
  write_file(dir + "/main.cpd", tekrec::example_companion());
  ASSERT_EQ(std::system(("cd '" + dir + "' && '" TEKCONV_BINARY "' -q prog.abs").c_str()), 0);
  std::string names;
  for (const std::string& l :
       lines_of(capture("cd '" + dir + "' && '" CTXDUMP_BINARY "' prog.ctx")))
    if (l.rfind("PUBLIC:", 0) == 0) {
      const size_t at = l.find("name=[");
      ASSERT_NE(at, std::string::npos) << l;
      names += l.substr(at + 6, l.size() - at - 7) + "\n";
    }
  ASSERT_FALSE(names.empty());
  command.replace(0, 7, "'" CTXDUMP_BINARY "'");
  EXPECT_EQ(capture("cd '" + dir + "' && " + command + " 2>&1"), names) << command;
}

}  // namespace
