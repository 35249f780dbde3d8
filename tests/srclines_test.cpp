// Source file names (SRCFILES), the current file (CURFILE) and line number tables (LINES).
#include <cstdio>

#include "core/converter.hpp"
#include "core/run.hpp"
#include "support.hpp"
#include "tools/tekconv/tool.hpp"

using namespace tektest;
using namespace std::string_literals;
using tekrec::Builder;

namespace {

class SourceLinesTest : public TempDirTest {};

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;  // line, addr

// The -sf dump lines of one LINES record: FILE, one LINE per pair, ENDLINE.
std::string table(const std::string& name, const Pairs& lines = {}) {
  std::string s = line::file(name);
  for (const auto& [number, addr] : lines) s += line::line(static_cast<int32_t>(number), addr);
  return s + line::endline();
}

// The whole context file; file names as stored without and with -fullpath. Two SRCFILES
// records number files 0 to 3; their names are the two parts joined.
TEST_F(SourceLinesTest, ContextRecordsWithAndWithoutFullPath) {
  Builder b = program();
  b.srcfiles({{"C:\\src\\", "main.c"}, {"", "io.h"}});
  b.srcfiles({{"dir/", "sub\\x.c"}, {"C:\\src\\", "x.c"}});
  b.locate(0);  // P at 0x1000
  b.curfile(1).lines({{10, 0x0}, {12, 0x4}});
  b.curfile(0).lines({{1, 0x8}, {0xFFFF, 0x1234}});
  b.curfile(2).lines({});
  b.curfile(3).lines({{7, 0x10}});
  b.end();
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{}, {"io.h", "main.c", "sub\\x.c", "x.c"}},
      {{"-fullpath"}, {"io.h", "C:\\src\\main.c", "dir/sub\\x.c", "C:\\src\\x.c"}},
  };
  for (const auto& [options, names] : cases) {
    Ctx expected;
    expected.header().module(1, "m");
    expected.file(names[0]).line(10, 0x1000).line(12, 0x1004).end_line(0);
    expected.file(names[1]).line(1, 0x1008).line(65535, 0x2234).end_line(0);
    expected.file(names[2]).end_line(0).file(names[3]).line(7, 0x1010).end_line(0);
    EXPECT_BYTES(convert(b, options), expected.predefined().bytes());
  }
}

// LINES use the current location as it stands: 0 before any LOCATE, set by LOCATE or SECT,
// advanced by image records, and not changed by LINES itself. A new debug unit numbers its files
// from 0 again; slots it does not fill keep their names; the current file stays selected across
// debug units.
TEST_F(SourceLinesTest, CurrentLocationAndCurrentFile) {
  Builder b = program();
  b.srcfiles({{"", "a.c"}, {"", "b.c"}, {"", "c.c"}}).curfile(2);
  b.lines({{1, 4}});
  b.locate(1).lines({{2, 4}}).lines({{3, 4}});
  b.sect(0, 0).data({0xAA, 0xBB}).lines({{4, 0}});
  b.dbgunit(0x01, 0).srcfiles({{"", "d.c"}});
  b.lines({{5, 0}});  // still file 2
  b.curfile(0).lines({{6, 0}});
  b.curfile(1).lines({{7, 0}});
  b.srcfiles({{"", "e.c"}});  // continues the numbering of this debug unit: slot 1
  b.lines({{8, 0}});
  b.dbgunit(0x01, 0).srcfiles({{"", ""}});  // an empty name overwrites slot 0 too
  b.curfile(0).lines({{9, 0}});
  b.end();
  EXPECT_EQ(dump(b, "-sf"), line::header() + table("c.c", {{1, 4}}) + table("c.c", {{2, 0x2004}}) +
                                table("c.c", {{3, 0x2004}}) + table("c.c", {{4, 0x1002}}) +
                                table("c.c", {{5, 0x1002}}) + table("d.c", {{6, 0x1002}}) +
                                table("b.c", {{7, 0x1002}}) + table("e.c", {{8, 0x1002}}) +
                                table("", {{9, 0x1002}}));
}

// A stored name keeps at most 255 bytes and ends at its first 0 byte; a slot that no SRCFILES
// record filled gives an empty name. The table has room for more than 0x4000 files in one debug
// unit.
TEST_F(SourceLinesTest, NamesAsStored) {
  const std::string a(200, 'A'), bb(100, 'B');
  Builder b = program();
  b.srcfiles({{a, bb}, {"ab\0cd"s, "ef"}, {"x", "y\0z"s}, {"", ""}});
  for (int r = 0; r < 5; ++r) {  // files 4 to 20003
    std::vector<tekrec::SourceFile> files;
    for (int i = 4; i < 4004; ++i) files.push_back({"", "f" + std::to_string(r * 4000 + i)});
    b.srcfiles(files);
  }
  b.locate(0);
  const std::pair<uint16_t, std::string> shown[] = {
      // clang-format off
      {0, a + bb.substr(0, 55)}, {1, "ab"}, {2, "xy"}, {3, ""}, {0x3FFF, "f16383"},
      {0x4000, "f16384"}, {20003, "f20003"}, {20004, ""}, {0xFFFF, ""},
      // clang-format on
  };
  std::string expected = line::header();
  for (const auto& [file, name] : shown) {
    b.curfile(file).lines({});
    expected += table(name);
  }
  b.end();
  EXPECT_EQ(dump(b, "-sf", {"-fullpath"}), expected);
}

// A LINE address is the current location plus the offset (address-width bytes), summed in 32
// bits and then put in the unit's address form (2 for a segmented unit of space width 24).
TEST_F(SourceLinesTest, LineAddresses) {
  const struct {
    uint8_t flags;        // UNIT flags: address width, segmented bit
    uint8_t space_width;  // 24 selects address form 2 in a segmented unit
    uint32_t base;
    uint32_t offset;
    uint32_t addr;
  } cases[] = {
      {0x84, 24, 0x123400, 0x10, 0x12340010},  {0x84, 24, 0x123400, 0x1FF, 0x123500FF},
      {0x02, 0, 0x1000, 0xFFFF, 0x10FFF},      {0x02, 0, 0x1000, 0x0102, 0x1102},
      {0x03, 0, 0x100000, 0x123456, 0x223456}, {0x04, 0, 0xFFFFFFF0, 0x20, 0x10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.flags) << " " << c.offset);
    Builder b;
    b.hdr().unit("seg", "SH7032", 1, c.flags, c.space_width);
    b.cl(c.base, "P", 0, c.flags & 0x80 ? std::optional<uint32_t>(0) : std::nullopt);
    b.dbgunit(0, 0).srcfiles({{"", "s.c"}}).locate(0).curfile(0).lines({{1, c.offset}}).end();
    EXPECT_EQ(dump(b, "-sf"), line::header() + table("s.c", {{1, c.addr}}));
  }
}

// Runs passes in-process on one converter, as the two passes of a run share it, and returns
// what the -sf dump printed.
std::string dump_passes(const std::vector<std::pair<std::string, Builder>>& inputs) {
  FILE* console = std::fopen("console.txt", "w");
  {
    tek::Converter cv;
    cv.out.console = console;
    cv.settings.dump_mask = 0x01;
    for (const auto& [path, b] : inputs) {
      b.write(path);
      cv.rd.source = tek::InputSource{path, false, {}};
      tek::dump_records(cv);
    }
  }
  std::fclose(console);
  return read_file("console.txt");
}

// The file-name slots and the current file survive the end of a pass.
TEST_F(SourceLinesTest, StateSurvivesPasses) {
  Builder first = program();
  first.srcfiles({{"", "one.c"}, {"", "two.c"}}).curfile(1).end();
  Builder second = program();
  second.locate(0).lines({{5, 2}});
  second.dbgunit(0, 0).srcfiles({{"", "three.c"}}).lines({{6, 0}});
  second.curfile(0).lines({{7, 0}});
  second.end();
  EXPECT_EQ(dump_passes({{"a.abs", first}, {"b.abs", second}}),
            line::header() + line::header() + table("two.c", {{5, 0x1002}}) +
                table("two.c", {{6, 0x1000}}) + table("three.c", {{7, 0x1000}}));
}

// A SRCFILES record whose entry count runs past its body: the entries beyond the body are empty
// names, which empty their slots, and the count still advances by the whole entry count. Other
// records cut short read their missing fields as 0 as well.
TEST_F(SourceLinesTest, EntryCountBeyondTheBody) {
  const auto entry = [](tekrec::Fields& f, const std::string& name) {
    f.name("").name(name).u16(0).u16(0).u16(0).u16(0);
  };
  // Names of the files 0 to 4, 11, 0xFFFE and 0xFFFF after the record.
  const std::vector<std::pair<uint16_t, std::vector<std::string>>> cases = {
      {4, {"a.c", "b.c", "", "", "next.c", "f11.c", "", ""}},
      {0xFFFF, {"a.c", "b.c", "", "", "", "", "", "next.c"}},
  };
  for (const auto& [count, names] : cases) {
    Builder b = program();
    std::vector<tekrec::SourceFile> twelve;
    for (int i = 0; i < 12; ++i) twelve.push_back({"", "f" + std::to_string(i) + ".c"});
    b.srcfiles(twelve);
    b.dbgunit(0x01, 0);
    tekrec::Fields body;
    body.u16(count);  // only two entries in the body
    entry(body, "a.c");
    entry(body, "b.c");
    b.record(tekrec::SRCFILES, body);
    b.srcfiles({{"", "next.c"}});  // slot count
    b.locate(0);
    for (uint16_t file : {0, 1, 2, 3, 4, 11, 0xFFFE, 0xFFFF}) b.curfile(file).lines({});
    b.record(tekrec::CURFILE, tekrec::Fields());                       // file 0
    b.record(tekrec::LINES, tekrec::Fields().u16(2).u16(9).u32(0x4));  // second pair missing
    b.end();
    std::string expected = line::header();
    for (const std::string& name : names) expected += table(name);
    expected += table("a.c", {{9, 0x1004}, {0, 0x1000}});
    EXPECT_EQ(dump(b, "-sf"), expected) << count;
  }
}

}  // namespace
