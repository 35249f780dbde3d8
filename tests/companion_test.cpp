// Companion description files: the reader, the three lookups, loading per source file, and the
// renames they cause in the converter's output.
#include "core/reader/companion.hpp"

#include <sys/stat.h>

#include "core/report.hpp"
#include "support.hpp"

using namespace tektest;
using namespace std::string_literals;
using tekrec::Builder;

namespace {

class CompanionTest : public TempDirTest {};

// The table a companion file gives, one line per stored entry (index order), or "unchanged"
// when the file leaves the table as it was.
std::string read_table(const std::string& content) {
  write_file("t.cpd", content);
  auto t = tek::read_companion_file("t.cpd");
  if (!t) return "unchanged";
  std::string s = "count=" + std::to_string((*t)->entry_count);
  for (const auto& [index, e] : (*t)->entries)
    s += "\n" + std::to_string(index) + ":[" + e.s1 + "][" + e.s2 + "][" + e.s3 + "][" + e.s4 + "]";
  return s;
}

const std::string HEAD = "[HD]\n[DEBUG]\n";

TEST_F(CompanionTest, ReaderEdgeCases) {
  const std::string a(5000, 'a'), b(300, 'b'), c(4100, 'c');
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Blanks, commas, and a ';' comment holding separators.
      {HEAD + "1 cl 0 \"Foo\" _Foo\n2,bcl,0,\"Base\",__b_Base ;comment, with; separators\n",
       "count=2\n1:[cl][0][Foo][_Foo]\n2:[bcl][0][Base][__b_Base]"},
      {"", "unchanged"},
      {"[HD] \n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"x\n[HD]\n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"[HD]", "unchanged"},  // the first line has no line end
      {"\n\n\r\n\r[HD]\n[DEBUG]\n1 cl 0 A a\n", "count=1\n1:[cl][0][A][a]"},
      {"[HD]\r\n[DEBUG]\r\n1 x\r\n\r\n2 y\r\n", "count=2\n1:[x][][][]\n2:[y][][][]"},
      {"[HD]\r[DEBUG]\r1 cl 0 A a\r2 bcl 0 B b\r", "count=2\n1:[cl][0][A][a]\n2:[bcl][0][B][b]"},
      {"[HD]\n1 cl 0 A a\n", "count=0"},  // no [DEBUG] line: the table is emptied
      {"[HD]\n1 cl 0 A a\nxx [DEBUG] yy\n2 cl 0 B b\n", "count=2\n2:[cl][0][B][b]"},
      {"[HD]\n[DEBUG]\n[DEBUG]\n3 cl 0 C c\n", "count=3\n0:[][][][]\n3:[cl][0][C][c]"},
      {HEAD + "1 cl 0 A a\n2 cl 0 B b", "count=1\n1:[cl][0][A][a]"},  // last line unended
      {HEAD + "3, cl\n", "count=3\n3:[][cl][][]"},
      {HEAD + " 7 cl 0 A a\n", "count=0\n0:[7][cl][0][A]"},
      {HEAD + "5 cl;0 A a\n", "count=5\n5:[cl][][][]"},
      {HEAD + "\t8\tcl 0 A a\n", "count=8\n8:[0][A][a][]"},  // a tab is not a separator
      {HEAD + "1 cl 0 A a extra more\n", "count=1\n1:[cl][0][A][a]"},
      {HEAD + "2 cl 0 A a\n1 x 0 B b\n2 bcl 0 C c\n", "count=2\n1:[x][0][B][b]\n2:[bcl][0][C][c]"},
      {HEAD + "4294967295 cl 0 Top top\n1 cl 0 One one\n",
       "count=4294967295\n1:[cl][0][One][one]\n4294967295:[cl][0][Top][top]"},
      // Enclosing double quotes are removed from string 3 only.
      {HEAD + "1 \"cl\" \"0\" \"Foo\" \"_Foo\"\n2 cl 0 \" a\n3 cl 0 \"\" a\n",
       "count=3\n1:[\"cl\"][\"0\"][Foo][\"_Foo\"]\n2:[cl][0][\"][a]\n3:[cl][0][][a]"},
      {HEAD + "1 cl 0 \"a\"b\" x\n2 cl 0 \"ab x\n3 cl 0 ab\" x\n",
       "count=3\n1:[cl][0][a\"b][x]\n2:[cl][0][\"ab][x]\n3:[cl][0][ab\"][x]"},
      {HEAD + "1 cl 0 A\0B b\n3 cl 0 C c\n"s, "count=3\n1:[cl][0][A][]\n3:[cl][0][C][c]"},
      // Lines and fields are read whole, whatever their length.
      {HEAD + "1 " + a + " 0 " + b + " " + c + "\n2 x\n",
       "count=2\n1:[" + a + "][0][" + b + "][" + c + "]\n2:[x][][][]"},
      // The index is a decimal long (64 bits, clamped on overflow) taken as unsigned 32-bit.
      {HEAD + "+5 k\n", "count=5\n5:[k][][][]"},
      {HEAD + "12abc k\n", "count=12\n12:[k][][][]"},
      {HEAD + "-1 k\n", "count=4294967295\n4294967295:[k][][][]"},
      {HEAD + "4294967297 k\n", "count=1\n1:[k][][][]"},
      {HEAD + "99999999999999999999 k\n", "count=4294967295\n4294967295:[k][][][]"},
      {HEAD + "-99999999999999999999 k\n", "count=0\n0:[k][][][]"},
  };
  for (const auto& [content, expected] : cases) EXPECT_EQ(read_table(content), expected) << content;
}

TEST(CompanionName, Derivation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\src\\main.c", "main.cpd"},
      {"io.h", "io.cpd"},
      {"makefile", "makefile.cpd"},
      {"dir/sub.x/file", "file.cpd"},
      {"a\\b/c.d\\e.f", "e.cpd"},
      {"x.y\\z", "z.cpd"},   // the dot before the backslash is not in the part
      {"a.b.c", "a.b.cpd"},  // only the last dot
      {".c", ".cpd"},
  };
  for (const auto& [source, expected] : cases)
    EXPECT_EQ(tek::companion_file_name(source), expected) << source;
}

// A companion table driven directly, as a pass of an H8 unit drives it.
struct Table {
  tek::CompanionState cs;
  tek::RecordReader rd;  // where a problem with a companion file is reported
  tek::DiagnosticsState diag;
  Table() {
    cs.lookup = tek::directory_lookup("");
    tek::init_companion(cs);
  }
  ~Table() { tek::free_companion(cs); }
  void load(const std::string& source) {
    tek::load_companion(cs, true, tek::Reporter(stdout, diag, rd), source);
  }
  std::optional<std::string> rename(const std::string& name) const {
    const std::string* r = tek::find_rename(cs, name.c_str());
    return r ? std::optional<std::string>(*r) : std::nullopt;
  }
};

struct Lookup {
  std::string name;
  std::optional<std::string> rename;
  bool cl;
  bool bcl;
};

TEST_F(CompanionTest, Lookups) {
  const std::optional<std::string> none;
  const std::vector<std::pair<std::string, std::vector<Lookup>>> cases = {
      // Renames go from string 4 to string 3; "cl" is looked up by string 3, "bcl" by string 4.
      {"1 cl 0 \"Foo\" _Foo\n2,bcl,0,\"Base\",__b_Base ;comment\n",
       {{"_Foo", "Foo", false, false},
        {"Foo", none, true, false},
        {"__b_Base", "Base", false, true},
        {"Base", none, false, false},
        {"_foo", none, false, false}}},
      // The first match in index order, not in line order; a later line replaces an entry.
      {"5 x 0 Five n\n2 x 0 Two n\n", {{"n", "Two", false, false}}},
      {"1 x 0 A n\n3 x 0 C n\n1 x 0 B m\n", {{"n", "C", false, false}, {"m", "B", false, false}}},
      {"3 x 0 C n\n1 y 0 B m\n1 x 0 A n\n", {{"n", "A", false, false}}},
      // Entry 0 is never examined; empty entries between sparse ones are passed over.
      {"0 bcl 0 Zero z\n", {{"z", none, false, false}}},
      {"0 cl 0 Zero z\n", {{"Zero", none, false, false}}},
      {"1 x 0 A a\n5 bcl 0 E e\n4294967295 bcl 0 Top top\n",
       {{"e", "E", false, true}, {"top", "Top", false, true}}},
      // A kind test looks past entries of the same name with another kind.
      {"1 x 0 Foo a\n2 cl 0 Foo b\n", {{"Foo", none, true, false}}},
      {"1 cl 0 A m\n2 bcl 0 B m\n", {{"m", "A", false, true}}},
      // An empty display name is a replacement; an empty name matches nothing.
      {"1 x 0 \"\" _gone\n", {{"_gone", "", false, false}}},
      {"1 cl\n2 bcl\n3 cl 0 \"\" \n", {{"", none, false, false}}},
      // A name matches whole: not its prefix, not a longer name that begins with it.
      {"1 cl 0 Name name\n2 bcl 0 Other other\n",
       {{"nam", none, false, false},
        {"names", none, false, false},
        {"Nam", none, false, false},
        {"Names", none, false, false},
        {"othe", none, false, false},
        {"others", none, false, false},
        {"name", "Name", false, false},
        {"Name", none, true, false},
        {"other", "Other", false, true}}},
      // The kinds are compared exactly.
      {"1 CL 0 N n\n2 cls 0 N n\n3 bcl0 0 N n\n4 BCL 0 N n\n5 bc 0 N n\n",
       {{"N", none, false, false}, {"n", "N", false, false}}},
  };
  for (const auto& [entries, lookups] : cases) {
    write_file("main.cpd", HEAD + entries);
    Table t;
    t.load("main.c");
    for (const Lookup& l : lookups) {
      EXPECT_EQ(t.rename(l.name), l.rename) << entries << l.name;
      EXPECT_EQ(tek::is_cl(t.cs, l.name.c_str()), l.cl) << entries << l.name;
      EXPECT_EQ(tek::is_bcl(t.cs, l.name.c_str()), l.bcl) << entries << l.name;
    }
  }
}

// A new pass starts empty and reads the file again; a derived name far longer than 255
// characters is used as it is.
TEST_F(CompanionTest, LoadingAcrossPassesAndLongNames) {
  write_file("main.cpd", HEAD + "1 x 0 Main a\n");
  Table t;
  t.load("main.c");
  EXPECT_EQ(t.rename("a"), "Main");
  tek::free_companion(t.cs);
  tek::init_companion(t.cs);
  EXPECT_EQ(t.rename("a"), std::nullopt);
  write_file("main.cpd", HEAD + "1 x 0 Changed a\n");
  t.load("main.c");
  EXPECT_EQ(t.rename("a"), "Changed");
  const std::string d1(200, 'p'), d2(200, 'q'), f(150, 'r');
  ASSERT_EQ(::mkdir(d1.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((d1 + "/" + d2).c_str(), 0755), 0);
  write_file(d1 + "/" + d2 + "/" + f + ".cpd", HEAD + "1 x 0 Long l\n");
  t.load("C:\\src\\" + d1 + "/" + d2 + "/" + f + ".c");
  EXPECT_EQ(t.rename("l"), "Long");
}

// --- Through the converter ---

// A variable in section P (0x1000) of the current unit.
tekrec::Symbol var(const std::string& name, uint32_t offset) {
  return sym(tekrec::VARIABLE, name, tekrec::basic_type(1), tekrec::in_section(2, 0, offset, 4));
}

// SRCFILES loads the companion file of each name only once an H8 unit (a processor name
// beginning with "H8") has been read, in this unit or an earlier one.
TEST_F(CompanionTest, LoadedForH8Programs) {
  write_file("main.cpd", HEAD + "1 x 0 Foo _Foo\n");
  const std::pair<const char*, const char*> cases[] = {
      {"H8/300H", "Foo"}, {"SH7032", "_Foo"}, {"HD6433042", "_Foo"}};
  for (const auto& [processor, shown] : cases) {
    Builder b = program(processor);
    b.srcfiles({{"C:\\src\\", "main.c"}}).symbol(var("_Foo", 0x10)).end();
    EXPECT_EQ(dump(b, "-sg"), line::header() + line::pub(0x1010, T_INT, shown)) << processor;
  }
  Builder b = program("H8S2600");  // then a unit of another processor holds the debug unit
  b.unit("drv", "SH7032", 1, 0x04).cl(0x4000, "Q").dbgunit(0x01, 1);
  b.srcfiles({{"", "main.c"}}).symbol(var("_Foo", 0x10)).end();
  EXPECT_EQ(dump(b, "-sg"), line::header() + line::pub(0x4010, T_INT, "Foo", "EXT", 2));
}

// SRCFILES loads the companion file of each stored name in turn. A source file without a
// companion file, or with one not beginning with "[HD]", leaves the table as it was, across debug
// units; one beginning with "[HD]" replaces it, emptying it when it has no "[DEBUG]" line. The
// name is cut to 255 bytes and at a 0 byte before the companion file name is derived, and that
// is opened relative to the current directory.
TEST_F(CompanionTest, EachSourceFileReplacesTheTable) {
  write_file("main.cpd", HEAD + "1 x 0 A _a\n");
  write_file("bad.cpd", "[HD] \n[DEBUG]\n1 x 0 Bad _a\n");
  write_file("other.cpd", HEAD + "1 x 0 B _b\n");
  write_file("nodebug.cpd", "[HD]\n1 x 0 NoDebug _b\n");
  ASSERT_EQ(::mkdir("a", 0755), 0);
  write_file("a/b.cpd", HEAD + "1 x 0 Sub _a\n");
  const std::string dir(241, 'y');
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  // "dir\" + 241 y + "/" is 246 bytes; with "abcdefghij.c" the name is cut after "abcdefghi".
  write_file(dir + "/abcdefghi.cpd", HEAD + "1 x 0 Cut _b\n");
  write_file(dir + "/abcdefghij.cpd", HEAD + "1 x 0 Whole _b\n");
  const struct {
    std::vector<tekrec::SourceFile> files;  // of a SRCFILES record in a new debug unit, if any
    const char* name;
    const char* shown;
  } steps[] = {
      {{{"", "main.c"}}, "_a", "A"},
      {{{"", "nothing.c"}, {"", "bad.c"}}, "_a", "A"},
      {{}, "_b", "_b"},
      {{{"", "other.c"}}, "_a", "_a"},
      {{}, "_b", "B"},
      {{{"", "nodebug.c"}}, "_b", "_b"},
      {{{"", "main.c"}, {"dir\\" + dir + "/", "abcdefghij.c"}}, "_b", "Cut"},
      {{}, "_a", "_a"},
      {{{"main\0x"s, ".h"}}, "_a", "A"},
      {{{"C:\\", "a/b.c"}}, "_a", "Sub"},
  };
  Builder b = program("H8/300H");
  std::string expected = line::header();
  uint32_t offset = 0;
  for (const auto& step : steps) {
    if (!step.files.empty()) b.dbgunit(0x01, 0).srcfiles(step.files);
    b.symbol(var(step.name, offset));
    expected += line::pub(0x1000 + offset, T_INT, step.shown);
    offset += 4;
  }
  b.end();
  EXPECT_EQ(dump(b, "-sg"), expected);
}

}  // namespace
