// Source file names (SRCFILES), the current file (CURFILE) and line number tables (LINES), in
// the context file and in the -sf dump.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "driver/converter.hpp"
#include "driver/run.hpp"
#include "support.hpp"

using namespace tektest;
using namespace std::string_literals;
using tekrec::Builder;

namespace {

class SourceLinesTest : public TempDirTest {};

const std::string HEADER_LINE = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";

// HDR, an unsegmented unit "m" with 4-byte addresses and one section at base, and a debug
// unit for it.
Builder prologue(uint32_t base = 0x2000) {
  Builder b;
  b.hdr().unit("m", "SH7032", 1, 0x04).cl(base, "P").dbgunit(0x00, 0);
  return b;
}

// Two SRCFILES records naming files 0 to 3, then line tables for files 1, 0, 2 and 3.
Builder four_files() {
  Builder b = prologue();
  b.srcfiles({{"C:\\src\\", "main.c"}, {"", "io.h"}});
  b.srcfiles({{"dir/", "sub\\x.c"}, {"C:\\src\\", "x.c"}});
  b.locate(0);
  b.curfile(1).lines({{10, 0x0}, {12, 0x4}});
  b.curfile(0).lines({{1, 0x8}, {0xFFFF, 0x1234}});
  b.curfile(2).lines({});
  b.curfile(3).lines({{7, 0x10}});
  b.end();
  return b;
}

TEST_F(SourceLinesTest, ContextRecordsWithAndWithoutFullPath) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> names;  // as the FILE records of files 1, 0, 2, 3 store them
  };
  const std::vector<Case> cases = {
      {{}, {"io.h", "main.c", "sub\\x.c", "x.c"}},
      {{"-fullpath"}, {"io.h", "C:\\src\\main.c", "dir/sub\\x.c", "C:\\src\\x.c"}},
  };
  for (const Case& c : cases) {
    Bytes expected = Ctx()
                         .header()
                         .module(1, "m")
                         .file(c.names[0])
                         .line(10, 0x2000)
                         .line(12, 0x2004)
                         .end_line(0)
                         .file(c.names[1])
                         .line(1, 0x2008)
                         .line(65535, 0x3234)
                         .end_line(0)
                         .file(c.names[2])
                         .end_line(0)
                         .file(c.names[3])
                         .line(7, 0x2010)
                         .end_line(0)
                         .predefined()
                         .bytes();
    EXPECT_BYTES(convert(four_files(), c.options), expected);
  }
}

TEST_F(SourceLinesTest, DumpWithAndWithoutFullPath) {
  const std::string lines_of_file_1 =
      "\nLINE:      line=10    ,addr=00002000"
      "\nLINE:      line=12    ,addr=00002004"
      "\nENDLINE:   mode=0000";
  const std::string rest =
      "\nLINE:      line=1     ,addr=00002008"
      "\nLINE:      line=65535 ,addr=00003234"
      "\nENDLINE:   mode=0000";
  EXPECT_EQ(dump(four_files(), "-sf"), HEADER_LINE + "\nFILE:      [io.h]"s + lines_of_file_1 +
                                           "\nFILE:      [main.c]" + rest +
                                           "\nFILE:      [sub\\x.c]\nENDLINE:   mode=0000"
                                           "\nFILE:      [x.c]"
                                           "\nLINE:      line=7     ,addr=00002010"
                                           "\nENDLINE:   mode=0000");
  EXPECT_EQ(dump(four_files(), "-sf", {"-fullpath"}),
            HEADER_LINE + "\nFILE:      [io.h]"s + lines_of_file_1 +
                "\nFILE:      [C:\\src\\main.c]" + rest +
                "\nFILE:      [dir/sub\\x.c]\nENDLINE:   mode=0000"
                "\nFILE:      [C:\\src\\x.c]"
                "\nLINE:      line=7     ,addr=00002010"
                "\nENDLINE:   mode=0000");
  // Dump options without the FILE category list none of these lines.
  EXPECT_EQ(dump(four_files(), "-st"), predefined_dump() + HEADER_LINE);
}

// A new debug unit numbers its files from 0 again; slots it does not fill keep their names;
// the current file stays selected across debug units.
TEST_F(SourceLinesTest, SlotsRestartAfterDebugUnit) {
  Builder b = prologue();
  b.srcfiles({{"", "a.c"}, {"", "b.c"}, {"", "c.c"}});
  b.locate(0).curfile(2);
  b.dbgunit(0x00, 0).srcfiles({{"", "d.c"}});
  b.lines({{1, 0}});  // still file 2
  b.curfile(0).lines({{2, 0}});
  b.curfile(1).lines({{3, 0}});
  b.srcfiles({{"", "e.c"}});  // continues the numbering of this debug unit: slot 1
  b.lines({{4, 0}});
  b.dbgunit(0x00, 0).srcfiles({{"", ""}});  // an empty name overwrites slot 0 too
  b.curfile(0).lines({{5, 0}});
  b.end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .file("c.c")
                       .line(1, 0x2000)
                       .end_line()
                       .file("d.c")
                       .line(2, 0x2000)
                       .end_line()
                       .file("b.c")
                       .line(3, 0x2000)
                       .end_line()
                       .file("e.c")
                       .line(4, 0x2000)
                       .end_line()
                       .file("")
                       .line(5, 0x2000)
                       .end_line()
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

TEST_F(SourceLinesTest, NamesAsStored) {
  const std::string a(200, 'A'), bb(100, 'B');
  Builder b = prologue();
  b.srcfiles({{a, bb},                       // cut to 255 bytes
              {"ab\0cd"s, "ef"},             // ends at the 0 byte
              {"x", "y\0z"s},                // ends at the 0 byte of the second part
              {"", ""},                      // empty
              {std::string(255, 'C'), "D"},  // a full first part
              {"C:\\" + std::string(250, 'E') + "\\", "f.c"}});  // cut inside the file name
  b.locate(0);
  for (uint16_t f = 0; f < 7; ++f) b.curfile(f).lines({});
  b.curfile(0x4000).lines({});  // never filled
  b.curfile(0xFFFF).lines({});
  b.end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .file(a + bb.substr(0, 55))
                       .end_line()
                       .file("ab")
                       .end_line()
                       .file("xy")
                       .end_line()
                       .file("")
                       .end_line()
                       .file(std::string(255, 'C'))
                       .end_line()
                       .file("C:\\" + std::string(250, 'E') + "\\f")
                       .end_line()
                       .file("")  // slot 6: never filled
                       .end_line()
                       .file("")
                       .end_line()
                       .file("")
                       .end_line()
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b, {"-fullpath"}), expected);
}

// The file-name table has room for more than 0x4000 files in one debug unit.
TEST_F(SourceLinesTest, ManyFiles) {
  Builder b = prologue();
  const int per_record = 4000, records = 5;
  for (int r = 0; r < records; ++r) {
    std::vector<tekrec::SourceFile> files;
    for (int i = 0; i < per_record; ++i)
      files.push_back({"", "f" + std::to_string(r * per_record + i)});
    b.srcfiles(files);
  }
  b.locate(0);
  for (uint16_t f : {0, 3999, 4000, 0x3FFF, 0x4000, 19999, 20000}) b.curfile(f).lines({{1, 0}});
  b.end();
  Ctx expected;
  expected.header().module(1, "m");
  for (const char* name : {"f0", "f3999", "f4000", "f16383", "f16384", "f19999", ""})
    expected.file(name).line(1, 0x2000).end_line();
  expected.predefined();
  EXPECT_BYTES(convert(b), expected.bytes());
}

// LINE addresses are the current location plus the offset, in the unit's address form; the
// offset has address-width bytes.
TEST_F(SourceLinesTest, LineAddresses) {
  struct Case {
    const char* what;
    uint8_t flags;        // UNIT flags: address width, segmented bit
    uint8_t space_width;  // address-space width
    std::vector<std::string> options;
    uint32_t base;
    std::vector<std::pair<uint16_t, uint32_t>> pairs;
    std::vector<std::pair<uint32_t, uint32_t>> lines;  // expected line, addr
  };
  const std::vector<Case> cases = {
      {"segmented, address-space width 24",
       0x84,
       24,
       {},
       0x123400,
       {{1, 0x10}, {2, 0x1FF}},
       {{1, 0x12340010}, {2, 0x123500FF}}},
      {"segmented, address-space width 20",
       0x84,
       20,
       {},
       0x12340,
       {{1, 0x5}, {2, 0x2F}},
       {{1, 0x12340005}, {2, 0x1236000F}}},
      {"segmented, width 16 with -m16",
       0x84,
       16,
       {"-m16"},
       0x123400,
       {{1, 0x10}},
       {{1, 0x12340010}}},
      {"segmented, width 16 without -m16", 0x84, 16, {}, 0x123400, {{1, 0x10}}, {{1, 0x123410}}},
      {"2-byte offsets",
       0x02,
       0,
       {},
       0x1000,
       {{1, 0xFFFF}, {2, 0x0102}},
       {{1, 0x10FFF}, {2, 0x1102}}},
      {"3-byte offsets", 0x03, 0, {}, 0x100000, {{1, 0x123456}}, {{1, 0x223456}}},
      {"the sum wraps at 32 bits", 0x04, 0, {}, 0xFFFFFFF0, {{1, 0x20}}, {{1, 0x10}}},
  };
  for (const Case& c : cases) {
    Builder b;
    b.hdr().unit("seg", "SH7032", 1, c.flags, c.space_width);
    const bool converted =
        (c.flags & 0x80) && (c.space_width == 20 || c.space_width == 24 || !c.options.empty());
    if (converted)
      b.cl(c.base, "P", 0, 0);
    else
      b.cl(c.base, "P");
    b.dbgunit(0, 0).srcfiles({{"", "s.c"}}).locate(0).curfile(0).lines(c.pairs).end();
    Ctx expected;
    expected.header().module(1, "seg").file("s.c");
    for (const auto& [line, addr] : c.lines) expected.line(line, addr);
    expected.end_line().predefined();
    EXPECT_BYTES(convert(b, c.options), expected.bytes()) << c.what;
  }
}

// LINES use the current location as it stands: set by LOCATE or SECT, advanced by image
// records, and not changed by LINES itself.
TEST_F(SourceLinesTest, LinesFollowTheCurrentLocation) {
  Builder b;
  b.hdr().unit("m", "SH7032", 2, 0x04).cl(0x2000, "P").cl(0x8000, "D").dbgunit(0, 0);
  b.srcfiles({{"", "s.c"}}).curfile(0);
  b.lines({{1, 4}});  // before any LOCATE: location 0
  b.locate(1).lines({{2, 4}}).lines({{3, 4}});
  b.sect(0, 0).lines({{4, 0}});
  b.data({0xAA, 0xBB}).lines({{5, 0}});
  b.end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .file("s.c")
                       .line(1, 0x4)
                       .end_line()
                       .file("s.c")
                       .line(2, 0x8004)
                       .end_line()
                       .file("s.c")
                       .line(3, 0x8004)
                       .end_line()
                       .file("s.c")
                       .line(4, 0x2000)
                       .end_line()
                       .object(0x2000, {0xAA, 0xBB})
                       .file("s.c")
                       .line(5, 0x2002)
                       .end_line()
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

// SRCFILES starts a new fill of the type id table: ids registered before it are no longer
// found, and the selfix values continue after the earlier ones.
TEST_F(SourceLinesTest, SourceFilesRebaseTypeIds) {
  auto tag = [](const std::string& name) {
    tekrec::Symbol s;
    s.category = tekrec::STRUCT_TAG;
    s.own_id = 0x10;
    s.name = name;
    s.location = tekrec::aggregate_tag(4);
    return s;
  };
  auto var = [](const std::string& name, uint32_t offset) {
    tekrec::Symbol s;
    s.name = name;
    s.type = tekrec::type_id(0x10);
    s.location = tekrec::in_section(2, 0, offset, 4);
    return s;
  };
  Builder b = prologue();
  b.symbol(tag("S")).aggr_begin().aggr_end();
  b.symbol(var("u", 0)).blkend(0);  // flushed before SRCFILES: the id is found
  b.srcfiles({{"", "a.c"}});
  b.symbol(var("v", 4));  // flushed by the next SYMBOL: the id is gone
  b.symbol(tag("T")).aggr_begin().aggr_end();
  b.symbol(var("w", 8));
  b.end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "undefined id (get_sid)\nCreated in.ctx\n");
  // One registration (S) before SRCFILES: the selfix base becomes 1, v's lookup fails with
  // 1 + 0x4000 + 288, and T takes slot 0 of the new fill, selfix 1 + 0 + 288.
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .pub(0, 0x2000, 1, 288, 1, "u")
                       .pub(0, 0x2004, 1, 1 + 0x4000 + 288, 1, "v")
                       .pub(0, 0x2008, 1, 289, 1, "w")
                       .predefined()
                       .aggregate(13, 288, 4, 0, "S")
                       .aggregate(13, 289, 4, 0, "T")
                       .bytes();
  std::string ctx = read_file("in.ctx");
  EXPECT_BYTES(Bytes(ctx.begin(), ctx.end()), expected);
}

// Runs passes in-process on one converter, as the two passes of a run share it, and returns
// what the -sf dump printed.
std::string dump_passes(const std::vector<std::pair<std::string, Builder>>& inputs) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  {
    auto cv = std::make_unique<tek::Converter>();
    cv->out.console = console;
    cv->settings.dump_mask = 0x01;
    for (const auto& [path, b] : inputs) {
      b.write(path);
      tek::run_pass(*cv, path);
    }
  }
  std::fclose(console);
  std::string out(text, size);
  std::free(text);
  return out;
}

// The file-name slots and the current file survive the end of a pass.
TEST_F(SourceLinesTest, StateSurvivesPasses) {
  Builder first = prologue();
  first.srcfiles({{"", "one.c"}, {"", "two.c"}}).curfile(1).end();
  Builder second;
  second.hdr().unit("m", "SH7032", 1, 0x04).cl(0x3000, "P").locate(0);
  second.lines({{5, 2}});
  second.dbgunit(0, 0).srcfiles({{"", "three.c"}}).lines({{6, 0}});
  second.curfile(0).lines({{7, 0}});
  second.end();
  EXPECT_EQ(dump_passes({{"a.abs", first}, {"b.abs", second}}),
            HEADER_LINE + HEADER_LINE +
                "\nFILE:      [two.c]\nLINE:      line=5     ,addr=00003002\nENDLINE:   mode=0000"
                "\nFILE:      [two.c]\nLINE:      line=6     ,addr=00003000\nENDLINE:   mode=0000"
                "\nFILE:      [three.c]\nLINE:      line=7     ,addr=00003000"
                "\nENDLINE:   mode=0000");
}

// A record cut short reads its missing fields as 0.
TEST_F(SourceLinesTest, ShortRecords) {
  Builder b = prologue();
  b.srcfiles({{"", "s.c"}}).locate(0);
  b.record(tekrec::CURFILE, tekrec::Fields());                       // file 0
  b.record(tekrec::LINES, tekrec::Fields().u16(2).u16(9).u32(0x4));  // second pair missing
  b.end();
  Bytes expected = Ctx()
                       .header()
                       .module(1, "m")
                       .file("s.c")
                       .line(9, 0x2004)
                       .line(0, 0x2000)
                       .end_line()
                       .predefined()
                       .bytes();
  EXPECT_BYTES(convert(b), expected);
}

}  // namespace

namespace {

// A SRCFILES record whose entry count runs past its body: the entries beyond the body are empty
// names, which empty their slots, and the count still advances by the whole entry count.
TEST_F(SourceLinesTest, EntryCountBeyondTheBody) {
  Builder b = prologue();
  std::vector<tekrec::SourceFile> twelve;
  for (int i = 0; i < 12; ++i) twelve.push_back({"", "f" + std::to_string(i) + ".c"});
  b.srcfiles(twelve);
  b.dbgunit(0x00, 0);
  // Entry count 0xFFFF, but only two entries in the body.
  b.record(tekrec::SRCFILES, tekrec::Fields()
                                 .u16(0xFFFF)
                                 .name("")
                                 .name("a.c")
                                 .u16(0)
                                 .u16(0)
                                 .u16(0)
                                 .u16(0)
                                 .name("")
                                 .name("b.c")
                                 .u16(0)
                                 .u16(0)
                                 .u16(0)
                                 .u16(0));
  b.srcfiles({{"", "next.c"}});  // slot 0xFFFF
  b.locate(0);
  for (uint16_t file : {0, 1, 2, 11, 0xFFFE, 0xFFFF}) b.curfile(file).lines({});
  b.end();
  const std::string expected =
      "\nFILE:      [a.c]\nENDLINE:   mode=0000"
      "\nFILE:      [b.c]\nENDLINE:   mode=0000"
      "\nFILE:      []\nENDLINE:   mode=0000"
      "\nFILE:      []\nENDLINE:   mode=0000"
      "\nFILE:      []\nENDLINE:   mode=0000"
      "\nFILE:      [next.c]\nENDLINE:   mode=0000";
  EXPECT_EQ(dump(b, "-sf"), HEADER_LINE + expected);
}

}  // namespace
