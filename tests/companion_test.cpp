// Companion description files: the reader, the three lookups, loading per source file, and the
// renames and class/member marks they cause in the converter's output.
#include "reader/companion.hpp"

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "support.hpp"

using namespace tektest;
using namespace std::string_literals;
using tekrec::Builder;

namespace {

class CompanionTest : public TempDirTest {};

// The table a companion file gives, one line per stored entry (index order), or "unchanged"
// when the file leaves the table as it was.
std::string render(const std::optional<std::shared_ptr<const tek::CompanionTable>>& t) {
  if (!t) return "unchanged";
  std::string s = "count=" + std::to_string((*t)->entry_count);
  for (const auto& [index, e] : (*t)->entries)
    s += "\n" + std::to_string(index) + ":[" + e.s1 + "][" + e.s2 + "][" + e.s3 + "][" + e.s4 + "]";
  return s;
}

std::string read_table(const std::string& content) {
  write_file("t.cpd", content);
  return render(tek::read_companion_file("t.cpd"));
}

const std::string HEAD = "[HD]\n[DEBUG]\n";

struct ReaderCase {
  const char* what;
  std::string content;
  std::string expected;
};

TEST_F(CompanionTest, ReaderEdgeCases) {
  const std::vector<ReaderCase> cases = {
      {"two entry lines with blanks, commas and a comment",
       HEAD + "1 cl 0 \"Foo\" _Foo\n2,bcl,0,\"Base\",__b_Base ;comment, with; separators\n",
       "count=2\n1:[cl][0][Foo][_Foo]\n2:[bcl][0][Base][__b_Base]"},
      {"empty file", "", "unchanged"},
      {"first line [HD] followed by a blank", "[HD] \n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"first line with a leading blank", " [HD]\n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"first line in lower case", "[hd]\n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"first line not [HD], [HD] later", "x\n[HD]\n[DEBUG]\n1 cl 0 A a\n", "unchanged"},
      {"[HD] without a line end", "[HD]", "unchanged"},
      {"empty lines before [HD]", "\n\n\r\n\r[HD]\n[DEBUG]\n1 cl 0 A a\n",
       "count=1\n1:[cl][0][A][a]"},
      {"CR LF line ends", "[HD]\r\n[DEBUG]\r\n1 cl 0 A a\r\n\r\n2 bcl 0 B b\r\n",
       "count=2\n1:[cl][0][A][a]\n2:[bcl][0][B][b]"},
      {"CR line ends", "[HD]\r[DEBUG]\r1 cl 0 A a\r2 bcl 0 B b\r",
       "count=2\n1:[cl][0][A][a]\n2:[bcl][0][B][b]"},
      {"a CR inside an entry line ends it", HEAD + "1 cl\r0 B b\n",
       "count=1\n0:[B][b][][]\n1:[cl][][][]"},
      {"no [DEBUG] line empties the table", "[HD]\n1 cl 0 A a\n", "count=0"},
      {"[DEBUG] without a line end", "[HD]\n[DEBUG]", "count=0"},
      {"[DEBUG] inside a line; lines before it ignored",
       "[HD]\n1 cl 0 A a\nxx [DEBUG] yy\n2 cl 0 B b\n", "count=2\n2:[cl][0][B][b]"},
      {"only the first [DEBUG] line is skipped", "[HD]\n[DEBUG]\n[DEBUG]\n3 cl 0 C c\n",
       "count=3\n0:[][][][]\n3:[cl][0][C][c]"},
      {"empty lines between entries", HEAD + "\n\n1 cl 0 A a\n\n\n2 cl 0 B b\n\n",
       "count=2\n1:[cl][0][A][a]\n2:[cl][0][B][b]"},
      {"last line without a line end is dropped", HEAD + "1 cl 0 A a\n2 cl 0 B b",
       "count=1\n1:[cl][0][A][a]"},
      {"two separators enclose an empty field", HEAD + "3, cl\n", "count=3\n3:[][cl][][]"},
      {"empty fields between commas", HEAD + "4,,,x,y\n", "count=4\n4:[][][x][y]"},
      {"leading blank gives index 0", HEAD + " 7 cl 0 A a\n", "count=0\n0:[7][cl][0][A]"},
      {"index 0", HEAD + "0 cl 0 A a\n", "count=0\n0:[cl][0][A][a]"},
      {"a semicolon ends the entry line", HEAD + "5 cl;0 A a\n", "count=5\n5:[cl][][][]"},
      {"a semicolon right after the index", HEAD + "6;cl 0 A a\n", "count=6\n6:[][][][]"},
      {"a tab is not a separator", HEAD + "\t8\tcl 0 A a\n", "count=8\n8:[0][A][a][]"},
      {"fields after field 4 ignored", HEAD + "1 cl 0 A a extra more\n",
       "count=1\n1:[cl][0][A][a]"},
      {"missing fields are empty", HEAD + "9 cl\n", "count=9\n9:[cl][][][]"},
      {"sparse indices 1 and 5", HEAD + "1 cl 0 A a\n5 bcl 0 E e\n",
       "count=5\n1:[cl][0][A][a]\n5:[bcl][0][E][e]"},
      {"a later line replaces the entry", HEAD + "2 cl 0 A a\n1 x 0 B b\n2 bcl 0 C c\n",
       "count=2\n1:[x][0][B][b]\n2:[bcl][0][C][c]"},
      {"entry count is the highest index, not the last one", HEAD + "7 a\n3 b\n",
       "count=7\n3:[b][][][]\n7:[a][][][]"},
      {"quotes removed from string 3 only", HEAD + "1 \"cl\" \"0\" \"Foo\" \"_Foo\"\n",
       "count=1\n1:[\"cl\"][\"0\"][Foo][\"_Foo\"]"},
      {"a single double quote stays", HEAD + "1 cl 0 \" a\n", "count=1\n1:[cl][0][\"][a]"},
      {"two double quotes give an empty name", HEAD + "1 cl 0 \"\" a\n", "count=1\n1:[cl][0][][a]"},
      {"only enclosing quotes are removed",
       HEAD + "1 cl 0 \"a\"b\" x\n2 cl 0 \"ab x\n3 cl 0 ab\" x\n",
       "count=3\n1:[cl][0][a\"b][x]\n2:[cl][0][\"ab][x]\n3:[cl][0][ab\"][x]"},
      {"a 0 byte ends the line's text", HEAD + "1 cl 0 A a\0 2 cl 0 B b\n3 cl 0 C c\n"s,
       "count=3\n1:[cl][0][A][a]\n3:[cl][0][C][c]"},
      {"text after a 0 byte in the first line", "[HD]\0junk\n[DEBUG]\n1 cl 0 A a\n"s,
       "count=1\n1:[cl][0][A][a]"},
      {"a 0 byte cuts [DEBUG]", "[HD]\n[DE\0BUG]\n[DEBUG]\n1 cl 0 A a\n"s,
       "count=1\n1:[cl][0][A][a]"},
  };
  for (const ReaderCase& c : cases) EXPECT_EQ(read_table(c.content), c.expected) << c.what;
}

// The index is a decimal long integer (64 bits, clamped on overflow) taken as unsigned 32-bit.
TEST_F(CompanionTest, EntryIndexConversion) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+5", "5"},
      {"007", "7"},
      {"12abc", "12"},
      {"abc", "0"},
      {"0x10", "0"},
      {"-", "0"},
      {"\t\t42", "42"},
      {"4294967295", "4294967295"},
      {"-1", "4294967295"},
      {"-2", "4294967294"},
      {"4294967296", "0"},
      {"4294967297", "1"},
      {"-4294967295", "1"},
      {"99999999999999999999", "4294967295"},  // clamped to the largest long
      {"-99999999999999999999", "0"},          // clamped to the smallest long
      {"9223372036854775807", "4294967295"},
  };
  for (const auto& [field, index] : cases) {
    std::string t = read_table(HEAD + field + " k\n");
    EXPECT_EQ(t.substr(t.find('\n') + 1), index + ":[k][][][]") << field;
  }
}

TEST_F(CompanionTest, HugeIndexStoredWithoutHugeTable) {
  EXPECT_EQ(read_table(HEAD + "4294967295 cl 0 Top top\n1 cl 0 One one\n"),
            "count=4294967295\n1:[cl][0][One][one]\n4294967295:[cl][0][Top][top]");
}

TEST_F(CompanionTest, LongLinesAndFieldsReadWhole) {
  const std::string a(5000, 'a'), b(300, 'b'), c(4100, 'c');
  EXPECT_EQ(read_table(HEAD + "1 " + a + " 0 " + b + " " + c + "\n2 x\n"),
            "count=2\n1:[" + a + "][0][" + b + "][" + c + "]\n2:[x][][][]");
  // A line far beyond 4095 characters whose entry fields come first.
  EXPECT_EQ(read_table(HEAD + "3 k 0 N n " + std::string(9000, 'z') + "\n"),
            "count=3\n3:[k][0][N][n]");
}

TEST(CompanionName, Derivation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\src\\main.c", "main.cpd"},
      {"io.h", "io.cpd"},
      {"makefile", "makefile.cpd"},
      {"dir/sub.x/file", "file.cpd"},
      {"C:\\a/b.c", "a/b.cpd"},  // backslash first, a slash after it stays
      {"a\\b/c.d\\e.f", "e.cpd"},
      {"x.y\\z", "z.cpd"},   // the dot before the backslash is not in the part
      {"a.b.c", "a.b.cpd"},  // only the last dot
      {".c", ".cpd"},
      {"dir\\", ".cpd"},
      {"", ".cpd"},
      {"d.x/f", "f.cpd"},
      {"a/b.c/", ".cpd"},
  };
  for (const auto& [source, expected] : cases)
    EXPECT_EQ(tek::companion_file_name(source), expected) << source;
}

// A converter whose companion table is driven directly, as a pass drives it.
struct Table {
  std::unique_ptr<tek::Converter> cv = std::make_unique<tek::Converter>();
  explicit Table(bool h8 = true) {
    cv->units.h8 = h8;
    tek::init_companion(*cv);
  }
  ~Table() { tek::free_companion(*cv); }
  void load(const std::string& source) { tek::load_companion(*cv, source); }
  std::optional<std::string> rename(const char* name) const {
    const std::string* r = tek::find_rename(*cv, name);
    return r ? std::optional<std::string>(*r) : std::nullopt;
  }
  bool cl(const char* name) const { return tek::is_cl(*cv, name); }
  bool bcl(const char* name) const { return tek::is_bcl(*cv, name); }
};

TEST_F(CompanionTest, LookupsOfTheTwoLineExample) {
  write_file("main.cpd", HEAD + "1 cl 0 \"Foo\" _Foo\n2,bcl,0,\"Base\",__b_Base ;comment\n");
  Table t;
  t.load("C:\\src\\main.c");
  EXPECT_EQ(t.rename("_Foo"), "Foo");
  EXPECT_TRUE(t.cl("Foo"));
  EXPECT_FALSE(t.cl("_Foo"));
  EXPECT_TRUE(t.bcl("__b_Base"));
  EXPECT_FALSE(t.bcl("Base"));
  EXPECT_FALSE(t.bcl("_Foo"));  // a "cl" entry is not a "bcl" one
  EXPECT_FALSE(t.cl("Base"));   // nor the other way round
  EXPECT_EQ(t.rename("__b_Base"), "Base");
  EXPECT_EQ(t.rename("Foo"), std::nullopt);  // renames go from string 4 to string 3
  EXPECT_EQ(t.rename("_foo"), std::nullopt);
  EXPECT_FALSE(t.cl("foo"));
}

struct LookupCase {
  const char* what;
  std::string entries;  // entry lines after "[DEBUG]"
  std::string name;
  std::optional<std::string> rename;
  bool cl;
  bool bcl;
};

TEST_F(CompanionTest, LookupRules) {
  const std::optional<std::string> none;
  const std::vector<LookupCase> cases = {
      {"first match in index order, not in line order", "5 x 0 Five n\n2 x 0 Two n\n", "n", "Two",
       false, false},
      {"a replaced entry no longer matches its old name", "1 x 0 A n\n3 x 0 C n\n1 x 0 B m\n", "n",
       "C", false, false},
      {"the replacing line matches its new name", "1 x 0 A n\n3 x 0 C n\n1 x 0 B m\n", "m", "B",
       false, false},
      {"a replacement line can take the first place", "3 x 0 C n\n1 y 0 B m\n1 x 0 A n\n", "n", "A",
       false, false},
      {"entry 0 is never examined", "0 bcl 0 Zero z\n", "z", none, false, false},
      {"entry 0 is never examined for cl", "0 cl 0 Zero z\n", "Zero", none, false, false},
      {"empty entries between sparse ones", "1 x 0 A a\n5 bcl 0 E e\n", "e", "E", false, true},
      {"is_cl finds a later cl entry behind a plain one", "1 x 0 Foo a\n2 cl 0 Foo b\n", "Foo",
       none, true, false},
      {"is_bcl finds a later bcl entry behind a cl one", "1 cl 0 A m\n2 bcl 0 B m\n", "m", "A",
       false, true},
      {"an empty display name is a replacement", "1 x 0 \"\" _gone\n", "_gone", "", false, false},
      {"an empty string 3 field is a replacement", "1 x 0  _gone\n", "_gone", "", false, false},
      {"the kind is compared exactly", "1 CL 0 N n\n2 cls 0 N n\n3 bcl0 0 N n\n", "N", none, false,
       false},
      {"the kind is compared exactly for bcl", "1 BCL 0 N n\n2 bc 0 N n\n", "n", "N", false, false},
      {"cl marks by the quoted display name", "1 cl 0 \"Dev\" _Dev\n", "Dev", none, true, false},
      {"index 4294967295 is examined", "4294967295 bcl 0 Top top\n", "top", "Top", false, true},
      {"index -1 is 4294967295", "-1 cl 0 Top top\n", "Top", none, true, false},
      {"a name that no entry holds", "1 cl 0 A a\n", "b", none, false, false},
      {"names are case-sensitive", "1 bcl 0 A abc\n", "ABC", none, false, false},
  };
  for (const LookupCase& c : cases) {
    write_file("main.cpd", HEAD + c.entries);
    Table t;
    t.load("main.c");
    EXPECT_EQ(t.rename(c.name.c_str()), c.rename) << c.what;
    EXPECT_EQ(t.cl(c.name.c_str()), c.cl) << c.what;
    EXPECT_EQ(t.bcl(c.name.c_str()), c.bcl) << c.what;
  }
}

TEST_F(CompanionTest, EmptyNameNeverMatches) {
  // Entries with empty strings 3 and 4, of both kinds.
  write_file("main.cpd", HEAD + "1 cl\n2 bcl\n3 cl 0 \"\" \n");
  Table t;
  t.load("main.c");
  EXPECT_EQ(t.rename(""), std::nullopt);
  EXPECT_FALSE(t.cl(""));
  EXPECT_FALSE(t.bcl(""));
}

TEST_F(CompanionTest, LoadingFollowsTheFileRules) {
  write_file("main.cpd", HEAD + "1 x 0 Main a\n");
  write_file("io.cpd", HEAD + "1 x 0 Io b\n");
  write_file("bad.cpd", "[HD] \n[DEBUG]\n1 x 0 Bad a\n");
  write_file("nodebug.cpd", "[HD]\n1 x 0 NoDebug a\n");

  {
    Table t;
    t.load("C:\\src\\main.c");
    EXPECT_EQ(t.rename("a"), "Main");
    t.load("missing.c");  // no companion file: the table stays
    EXPECT_EQ(t.rename("a"), "Main");
    t.load("bad.c");  // not beginning with "[HD]": the table stays
    EXPECT_EQ(t.rename("a"), "Main");
    t.load("io.h");  // a second file replaces the first one's entries
    EXPECT_EQ(t.rename("a"), std::nullopt);
    EXPECT_EQ(t.rename("b"), "Io");
    t.load("lib/main.c");  // back to the first file
    EXPECT_EQ(t.rename("a"), "Main");
    EXPECT_EQ(t.rename("b"), std::nullopt);
    t.load("nodebug.c");  // "[HD]" without "[DEBUG]": the table ends up empty
    EXPECT_EQ(t.rename("a"), std::nullopt);
    t.load("io.h");
    EXPECT_EQ(t.rename("b"), "Io");
  }
  {
    Table t(false);  // without the H8 flag nothing is loaded
    t.load("main.c");
    EXPECT_EQ(t.rename("a"), std::nullopt);
  }
  {
    Table t;  // a new pass starts empty and reads the file again
    EXPECT_EQ(t.rename("a"), std::nullopt);
    write_file("main.cpd", HEAD + "1 x 0 Changed a\n");
    t.load("main.c");
    EXPECT_EQ(t.rename("a"), "Changed");
  }
}

TEST_F(CompanionTest, CompanionFileInSubdirectoryAndLongPath) {
  ASSERT_EQ(::mkdir("a", 0755), 0);
  write_file("a/b.cpd", HEAD + "1 x 0 Sub s\n");
  Table t;
  t.load("C:\\a/b.c");
  EXPECT_EQ(t.rename("s"), "Sub");

  // A derived name far longer than 255 characters is used as it is.
  const std::string d1(200, 'p'), d2(200, 'q'), f(150, 'r');
  ASSERT_EQ(::mkdir(d1.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((d1 + "/" + d2).c_str(), 0755), 0);
  write_file(d1 + "/" + d2 + "/" + f + ".cpd", HEAD + "1 x 0 Long l\n");
  t.load("C:\\src\\" + d1 + "/" + d2 + "/" + f + ".c");
  EXPECT_EQ(t.rename("l"), "Long");
}

TEST_F(CompanionTest, LookupsFailWithoutATable) {
  Table t;
  tek::free_companion(*t.cv);
  EXPECT_EQ(t.rename("a"), std::nullopt);
  EXPECT_FALSE(t.cl("a"));
  EXPECT_FALSE(t.bcl("a"));
  EXPECT_EQ(tek::find_rename(*t.cv, nullptr), nullptr);
}

// --- Through the converter ---

// A 32-bit variable at offset in section 0: a PUBLIC record once flushed.
tekrec::Symbol var(const std::string& name, uint32_t offset) {
  tekrec::Symbol s;
  s.name = name;
  s.type = tekrec::basic_type(1);
  s.location = tekrec::in_section(2, 0, offset, 4);
  return s;
}

// HDR, an H8 unit with one section at 0x1000, basic type 1 a 32-bit int, and a debug unit.
Builder h8_unit() {
  Builder b;
  b.hdr().unit("m", "H8/300H", 1, 0x04).cl(0x1000, "P").basetype(1, 3, 4, 0).dbgunit(0, 0);
  return b;
}

// One debug unit with source file C:\src\main.c (processor given), a variable _Foo, and a
// structure Dev with the members __b_Base and _x.
Builder program(const std::string& processor, const std::string& second_processor = "") {
  Builder b;
  b.hdr().unit("main", processor, 1, 0x04).cl(0x1000, "P");
  uint16_t unit = 0;
  if (!second_processor.empty()) {
    b.unit("drv", second_processor, 1, 0x04).cl(0x3000, "Q");
    unit = 1;
  }
  b.dbgunit(0x00, unit).srcfiles({{"C:\\src\\", "main.c"}}).basetype(1, 3, 4, 0);
  b.symbol(var("_Foo", 0x10));
  tekrec::Symbol tag;
  tag.category = tekrec::STRUCT_TAG;
  tag.own_id = 0x100;
  tag.name = "Dev";
  tag.location = tekrec::aggregate_tag(8);
  b.symbol(tag).aggr_begin();
  for (auto [name, offset] : {std::pair<const char*, uint32_t>{"__b_Base", 0}, {"_x", 4}}) {
    tekrec::Symbol m;
    m.category = tekrec::MEMBER;
    m.name = name;
    m.type = tekrec::basic_type(1);
    m.location = tekrec::member_at(offset, 4);
    b.symbol(m);
  }
  b.aggr_end().end();
  return b;
}

const std::string MAIN_CPD =
    "[HD]\n[DEBUG]\n1 cl 0 \"Dev\" _Dev\n2 bcl 0 \"Base\" __b_Base\n3 x 0 x _x\n4 x 0 Foo _Foo\n";

TEST_F(CompanionTest, H8ProgramRenamesAndMarks) {
  write_file("main.cpd", MAIN_CPD);
  Bytes expected = Ctx()
                       .header()
                       .module(1, "main")
                       .pub(0, 0x1010, 1, 262, 1, "Foo")
                       .predefined()
                       .aggregate(28, 288, 8, 2, "Dev")
                       .member(262, 0, "")
                       .member(262, 4, "x")
                       .bytes();
  EXPECT_BYTES(convert(program("H8/300H")), expected);
}

TEST_F(CompanionTest, NoCompanionFilesWithoutH8) {
  write_file("main.cpd", MAIN_CPD);
  Bytes expected = Ctx()
                       .header()
                       .module(1, "main")
                       .pub(0, 0x1010, 1, 262, 1, "_Foo")
                       .predefined()
                       .aggregate(13, 288, 8, 2, "Dev")
                       .member(262, 0, "__b_Base")
                       .member(262, 4, "_x")
                       .bytes();
  EXPECT_BYTES(convert(program("SH7032")), expected);
  // HD64 names do not set the H8 flag.
  EXPECT_BYTES(convert(program("HD6433042")), expected);
}

TEST_F(CompanionTest, H8FlagFromAnEarlierUnit) {
  write_file("main.cpd", MAIN_CPD);
  Bytes expected = Ctx()
                       .header()
                       .module(1, "main")
                       .module(2, "drv")
                       .pub(0, 0x3010, 1, 262, 2, "Foo")
                       .predefined()
                       .aggregate(28, 288, 8, 2, "Dev")
                       .member(262, 0, "")
                       .member(262, 4, "x")
                       .bytes();
  EXPECT_BYTES(convert(program("H8S2600", "SH7032")), expected);
}

TEST_F(CompanionTest, RenamesInTheDump) {
  write_file("main.cpd", MAIN_CPD);
  EXPECT_EQ(dump(program("H8/300H"), "-sg"),
            "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0"
            "\nPUBLIC:    mode=0000,addr=00001010,class=EXT ,typeix=00000106,modix=00000001,"
            "name=[Foo]");
  EXPECT_EQ(dump(program("H8/300H"), "-st").substr(predefined_dump().size()),
            "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0"
            "\nTYPE:      type=0x1c:CLASS     ,selfix=00000120,size=00000008,count=0002,name=[Dev]"
            "\nMEMBER:typeix=00000106,offset=0000,name=[]"
            "\nMEMBER:typeix=00000106,offset=0004,name=[x]");
}

// A source file without a companion file keeps the entries of the previous one, across debug
// units; a new companion file replaces them.
TEST_F(CompanionTest, TableSurvivesDebugUnits) {
  write_file("main.cpd", HEAD + "1 x 0 A _a\n");
  write_file("other.cpd", HEAD + "1 x 0 B _b\n");
  Builder b = h8_unit();
  b.srcfiles({{"", "main.c"}}).symbol(var("_a", 0));
  b.dbgunit(0, 0).srcfiles({{"", "nothing.c"}}).symbol(var("_a", 4)).symbol(var("_b", 8));
  b.dbgunit(0, 0).srcfiles({{"", "other.c"}}).symbol(var("_a", 12)).symbol(var("_b", 16));
  b.end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .pub(0, 0x1000, 1, 262, 1, "A")
                       .pub(0, 0x1004, 1, 262, 1, "A")
                       .pub(0, 0x1008, 1, 262, 1, "_b")
                       .pub(0, 0x100C, 1, 262, 1, "_a")
                       .pub(0, 0x1010, 1, 262, 1, "B")
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

// Two names in one SRCFILES record, both with companion files: the second file's entries
// remain. The companion file name comes from the stored name, cut to 255 bytes.
TEST_F(CompanionTest, SourceFileNamesLoadInOrder) {
  write_file("main.cpd", HEAD + "1 x 0 A _a\n");
  const std::string dir(241, 'y');
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  // "dir\" + 241 y + "/" is 246 bytes; with "abcdefghij.c" the name is cut after "abcdefghi".
  write_file(dir + "/abcdefghi.cpd", HEAD + "1 x 0 Cut _b\n");
  write_file(dir + "/abcdefghij.cpd", HEAD + "1 x 0 Whole _b\n");
  Builder b = h8_unit();
  b.srcfiles({{"", "main.c"}, {"dir\\" + dir + "/", "abcdefghij.c"}});
  b.symbol(var("_a", 0)).symbol(var("_b", 0)).end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .pub(0, 0x1000, 1, 262, 1, "_a")
                       .pub(0, 0x1000, 1, 262, 1, "Cut")
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

// A replacement longer than 255 bytes is cut, and the data symbol's second rename looks up
// the cut name.
TEST_F(CompanionTest, LongReplacementIsCut) {
  const std::string long_name(300, 'L');
  write_file("main.cpd", HEAD + "1 x 0 " + long_name + " _v\n2 x 0 Short " +
                             long_name.substr(0, 255) + "\n4 x 0 \"\" _gone\n");
  Builder b = h8_unit();
  b.srcfiles({{"", "main.c"}}).symbol(var("_v", 0)).symbol(var("_gone", 0)).end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .pub(0, 0x1000, 1, 262, 1, "Short")
                       .pub(0, 0x1000, 1, 262, 1, "")
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

// A source file name ends at its first 0 byte; its companion file is named after that text.
TEST_F(CompanionTest, SourceNameEndsAtZeroByte) {
  write_file("main.cpd", HEAD + "1 x 0 Main _a\n");
  write_file("other.cpd", HEAD + "1 x 0 Other _a\n");
  Builder b = h8_unit();
  b.srcfiles({{"main\0x"s, ".h"}}).symbol(var("_a", 0)).blkend(0);  // flushed here
  b.srcfiles({{"", "other.c\0.h"s}}).symbol(var("_a", 4)).end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .pub(0, 0x1000, 1, 262, 1, "Main")
                       .pub(0, 0x1004, 1, 262, 1, "Other")
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

}  // namespace
