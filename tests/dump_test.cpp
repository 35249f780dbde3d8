// The symbol dump: the text line of every record, the categories each dump option lists, and
// whole dumps of small inputs.
#include "context/dump.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <memory>

#include "context/emit.hpp"
#include "driver/converter.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

using tek::MemberValue;
using tek::PublicValue;
using tek::SetLocalValue;
using tek::TypeValue;

TypeValue type_value(uint32_t kind, uint32_t selfix) {
  TypeValue v;
  v.kind = kind;
  v.selfix = selfix;
  return v;
}

PublicValue public_value(uint32_t cls, const std::string& name) {
  PublicValue v;
  v.mode = 0xA0;
  v.addr = 0x12345678;
  v.cls = cls;
  v.typeix = 0x120;
  v.modix = 2;
  v.name = name;
  return v;
}

SetLocalValue set_local_value(uint32_t cls, uint32_t offset, const std::string& name) {
  SetLocalValue v;
  v.cls = cls;
  v.offset = offset;
  v.typeix = 0x106;
  v.name = name;
  return v;
}

MemberValue member_value(const std::string& name) {
  MemberValue v;
  v.typeix = 0x106;
  v.offset = 4;
  v.value = 7;
  v.bitoffs = 3;
  v.bitsize = 5;
  v.name = name;
  return v;
}

// Runs emit operations in dump mode and collects what they print.
class DumpTest : public TempDirTest {
 protected:
  // Prints what emit does under the mask, on a fresh converter.
  std::string print(uint32_t mask, const std::function<void(tek::Converter&)>& emit) {
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    {
      auto cv = std::make_unique<tek::Converter>();
      cv->out.console = console;
      cv->settings.dump_mask = mask;
      emit(*cv);
    }
    std::fclose(console);
    std::string out(text, size);
    std::free(text);
    return out;
  }
};

struct LineCase {
  const char* what;
  std::function<void(tek::Converter&)> emit;
  const char* line;
};

const uint8_t DATA[256] = {};

const LineCase LINE_CASES[] = {
    {"PUBLIC of class EXT, padded to four",
     [](tek::Converter& cv) { tek::emit_public(cv, public_value(1, "main")); },
     "\nPUBLIC:    mode=00a0,addr=12345678,class=EXT ,typeix=00000120,modix=00000002,"
     "name=[main]"},
    {"PUBLIC of class STAT",
     [](tek::Converter& cv) {
       PublicValue v = public_value(2, "x");
       v.mode = 0;
       v.addr = 0x1000;
       v.modix = 0x10001;
       tek::emit_public(cv, v);
     },
     "\nPUBLIC:    mode=0000,addr=00001000,class=STAT,typeix=00000120,modix=00010001,name=[x]"},
    {"SETLOCAL of a stack offset",
     [](tek::Converter& cv) { tek::emit_set_local(cv, set_local_value(3, 0xFFFFFFFC, "i")); },
     "\nSETLOCAL:  offset=fffffffc,class=AUTO,typeix=00000106,name=[i]"},
    {"SETLOCAL of a register",
     [](tek::Converter& cv) { tek::emit_set_local(cv, set_local_value(4, 3, "r")); },
     "\nSETLOCAL:  offset=00000003,class=REG ,typeix=00000106,name=[r]"},
    {"FILE", [](tek::Converter& cv) { tek::emit_file(cv, "dir/sub\\x.c"); },
     "\nFILE:      [sub\\x.c]"},
    {"FILE under -fullpath",
     [](tek::Converter& cv) {
       cv.settings.fullpath = 1;
       tek::emit_file(cv, "dir/sub\\x.c");
     },
     "\nFILE:      [dir/sub\\x.c]"},
    {"LINE", [](tek::Converter& cv) { tek::emit_line(cv, 12, 0x2004); },
     "\nLINE:      line=12    ,addr=00002004"},
    {"LINE wider than six digits", [](tek::Converter& cv) { tek::emit_line(cv, 1234567, 0); },
     "\nLINE:      line=1234567,addr=00000000"},
    {"LINE number as signed decimal",
     [](tek::Converter& cv) { tek::emit_line(cv, 0xFFFFFFFF, 0x10); },
     "\nLINE:      line=-1    ,addr=00000010"},
    {"OBJECT", [](tek::Converter& cv) { tek::emit_object(cv, 2, 0x1000, 256, DATA); },
     "\nObject : 00001000 - 000010ff"},
    {"OBJECT of length 0 at address 0",
     [](tek::Converter& cv) { tek::emit_object(cv, 2, 0, 0, DATA); },
     "\nObject : 00000000 - ffffffff"},
    {"OBJECT ending at the top of the address space",
     [](tek::Converter& cv) { tek::emit_object(cv, 2, 0xFFFFFF00, 256, DATA); },
     "\nObject : ffffff00 - ffffffff"},
    {"TYPE of a basic kind", [](tek::Converter& cv) { tek::emit_type(cv, type_value(2, 258)); },
     "\nTYPE:      type=0x02:8SIGNED   ,selfix=00000102"},
    {"TYPE STRUCT",
     [](tek::Converter& cv) {
       TypeValue v = type_value(13, 0x120);
       v.size = 8;
       v.count = 2;
       v.name = "pt";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x0d:STRUCT    ,selfix=00000120,size=00000008,count=0002,name=[pt]"},
    {"TYPE UNION with more than 0xFFFF members",
     [](tek::Converter& cv) {
       TypeValue v = type_value(14, 0x120);
       v.size = 0x10;
       v.count = 0x12345;
       v.name = "u";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x0e:UNION     ,selfix=00000120,size=00000010,count=12345,name=[u]"},
    {"TYPE CLASS",
     [](tek::Converter& cv) {
       TypeValue v = type_value(28, 0x127);
       v.size = 4;
       v.count = 1;
       v.name = "C";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x1c:CLASS     ,selfix=00000127,size=00000004,count=0001,name=[C]"},
    {"TYPE BITFIELD",
     [](tek::Converter& cv) {
       TypeValue v = type_value(20, 0x128);
       v.size = 2;
       v.count = 3;
       v.name = "bf";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x14:BITFIELD  ,selfix=00000128,size=00000002,count=0003,name=[bf]"},
    {"TYPE ENUM: no count",
     [](tek::Converter& cv) {
       TypeValue v = type_value(15, 0x121);
       v.count = 3;
       v.name = "color";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x0f:ENUM      ,selfix=00000121,name=[color]"},
    {"TYPE FUNCTION: a blank before the comma",
     [](tek::Converter& cv) {
       TypeValue v = type_value(16, 0x122);
       v.retix = 0x106;
       v.argc = 2;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x10:FUNCTION  ,selfix=00000122,retix=00000106 ,argc=0002"},
    {"TYPE FARFUNC",
     [](tek::Converter& cv) {
       TypeValue v = type_value(22, 0x122);
       v.retix = 0x101;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x16:FARFUNC   ,selfix=00000122,retix=00000101 ,argc=0000"},
    {"TYPE 32POINTER",
     [](tek::Converter& cv) {
       TypeValue v = type_value(18, 0x126);
       v.typeix = 0x103;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x12:32POINTER ,selfix=00000126,typeix=00000103"},
    {"TYPE HUGEPNT",
     [](tek::Converter& cv) {
       TypeValue v = type_value(26, 0x126);
       v.typeix = 0x103;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x1a:HUGEPNT   ,selfix=00000126,typeix=00000103"},
    {"TYPE ARRAY: no reserved byte",
     [](tek::Converter& cv) {
       TypeValue v = type_value(19, 0x123);
       v.typeix = 0x102;
       v.limit = 10;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x13:ARRAY     ,selfix=00000123,typeix=00000102,limit=0000000a"},
    {"TYPE TYPEDEF",
     [](tek::Converter& cv) {
       TypeValue v = type_value(21, 0x124);
       v.typeix = 0x106;
       v.name = "uint";
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x15:TYPEDEF   ,selfix=00000124,typeix=00000106,name=[uint]"},
    {"TYPE BIT",
     [](tek::Converter& cv) {
       TypeValue v = type_value(27, 0x125);
       v.sign = 1;
       v.size = 3;
       v.offs = 5;
       tek::emit_type(cv, v);
     },
     "\nTYPE:      type=0x1b:BIT       ,selfix=00000125,sign=01,size=0003,offs=0005"},
    {"MEMBER of a structure",
     [](tek::Converter& cv) {
       tek::emit_type(cv, type_value(13, 0x120));
       tek::emit_member(cv, member_value("y"));
     },
     "\nTYPE:      type=0x0d:STRUCT    ,selfix=00000120,size=00000000,count=0000,name=[]"
     "\nMEMBER:typeix=00000106,offset=0004,name=[y]"},
    {"MEMBER of an enumeration",
     [](tek::Converter& cv) {
       tek::emit_type(cv, type_value(15, 0x121));
       tek::emit_member(cv, member_value("blue"));
     },
     "\nTYPE:      type=0x0f:ENUM      ,selfix=00000121,name=[]"
     "\nMEMBER:value=00000007,name=[blue]"},
    {"MEMBER of a bit field type",
     [](tek::Converter& cv) {
       tek::emit_type(cv, type_value(20, 0x128));
       tek::emit_member(cv, member_value("f"));
     },
     "\nTYPE:      type=0x14:BITFIELD  ,selfix=00000128,size=00000000,count=0000,name=[]"
     "\nMEMBER:typeix=00000106,bitoffs=0003,bitsize=0005,name=[f]"},
    {"MEMBER after a FUNCTION: the label alone",
     [](tek::Converter& cv) {
       tek::emit_type(cv, type_value(16, 0x122));
       tek::emit_member(cv, member_value("f"));
     },
     "\nTYPE:      type=0x10:FUNCTION  ,selfix=00000122,retix=00000000 ,argc=0000"
     "\nMEMBER:"},
    {"MEMBER before any TYPE", [](tek::Converter& cv) { tek::emit_member(cv, member_value("f")); },
     "\nMEMBER:"},
};

TEST_F(DumpTest, EveryLineFormat) {
  for (const LineCase& c : LINE_CASES) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(print(0xFFFFFFFF, c.emit), c.line);
  }
}

TEST_F(DumpTest, KindAndClassNames) {
  const char* kinds[] = {
      "VOID",     "8SIGNED",    "8UNSIGNED", "16SIGNED",  "16UNSIGNED", "32SIGNED", "32UNSIGNED",
      "64SIGNED", "64UNSIGNED", "32FLOAT",   "64FLOAT",   "EXTFLOAT",   "STRUCT",   "UNION",
      "ENUM",     "FUNCTION",   "16POINTER", "32POINTER", "ARRAY",      "BITFIELD", "TYPEDEF",
      "FARFUNC",  "ESPOINTER",  "SSPOINTER", "CSPOINTER", "HUGEPNT",    "BIT",      "CLASS"};
  for (int k = 1; k <= 28; ++k) EXPECT_STREQ(tek::kind_name(static_cast<uint8_t>(k)), kinds[k - 1]);
  const std::pair<uint8_t, const char*> classes[] = {{0, "CONST"}, {1, "EXT"}, {2, "STAT"},
                                                     {3, "AUTO"},  {4, "REG"}, {6, "MOD"},
                                                     {7, "NONE"},  {8, "REF"}};
  for (const auto& [code, name] : classes) EXPECT_STREQ(tek::class_name(code), name);
}

TEST_F(DumpTest, PrintNameCutsTheName) {
  EXPECT_EQ(print(0xFFFFFFFF,
                  [](tek::Converter& cv) {
                    EXPECT_EQ(tek::print_name(cv.out.console, std::string_view("abcdef", 3)), 5);
                    tek::print_name(cv.out.console, "");
                    tek::print_name(cv.out.console, std::string_view("ab\0cd", 5));
                  }),
            "[abc][][ab]");
  const std::string longest(255, 'q');
  EXPECT_EQ(print(0xFFFFFFFF,
                  [&](tek::Converter& cv) { tek::emit_module(cv, 1, (longest + "rst").c_str()); }),
            "\nMODULE:    modix=00000001,name=[" + longest + "]");
  EXPECT_EQ(print(0xFFFFFFFF,
                  [&](tek::Converter& cv) {
                    tek::emit_public(cv, public_value(1, std::string("abc\0def", 7)));
                  }),
            "\nPUBLIC:    mode=00a0,addr=12345678,class=EXT ,typeix=00000120,modix=00000002,"
            "name=[abc]");
  EXPECT_EQ(
      print(0xFFFFFFFF, [&](tek::Converter& cv) { tek::emit_file(cv, (longest + "x").c_str()); }),
      "\nFILE:      [" + longest + "]");
}

// One of every record, and the line each prints.
const char* const LINE_HEADER = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
const char* const LINE_PUBLIC =
    "\nPUBLIC:    mode=00a0,addr=12345678,class=EXT ,typeix=00000120,modix=00000002,name=[p]";
const char* const LINE_START = "\nSTARTLOCAL:addr=00000400";
const char* const LINE_SET = "\nSETLOCAL:  offset=fffffffc,class=AUTO,typeix=00000106,name=[i]";
const char* const LINE_END = "\nENDLOCAL:  addr=000004ff";
const char* const LINE_FILE = "\nFILE:      [a.c]";
const char* const LINE_LINE = "\nLINE:      line=3     ,addr=00000400";
const char* const LINE_ENDLINE = "\nENDLINE:   mode=0000";
const char* const LINE_STRUCT =
    "\nTYPE:      type=0x0d:STRUCT    ,selfix=00000120,size=00000000,count=0000,name=[s]";
const char* const LINE_MEMBER = "\nMEMBER:typeix=00000106,offset=0004,name=[m]";
const char* const LINE_POINTER =
    "\nTYPE:      type=0x12:32POINTER ,selfix=00000121,typeix=00000120";
const char* const LINE_OBJECT = "\nObject : 00001000 - 00001002";
const char* const LINE_MODULE = "\nMODULE:    modix=00000001,name=[m]";
const char* const LINE_ADDRFLAG = "\nADDRFLAG:    addr=00008010,flag=00000001";

void emit_all(tek::Converter& cv) {
  tek::emit_header(cv, {118, 6, 0, 0});
  tek::emit_public(cv, public_value(1, "p"));
  tek::emit_start_local(cv, 0x400);
  tek::emit_set_local(cv, set_local_value(3, 0xFFFFFFFC, "i"));
  tek::emit_end_local(cv, 0x4FF);
  tek::emit_file(cv, "a.c");
  tek::emit_line(cv, 3, 0x400);
  tek::emit_end_line(cv, 0);
  TypeValue agg = type_value(13, 0x120);
  agg.name = "s";
  tek::emit_type(cv, agg);
  tek::emit_member(cv, member_value("m"));
  TypeValue ptr = type_value(18, 0x121);
  ptr.typeix = 0x120;
  tek::emit_type(cv, ptr);
  tek::emit_object(cv, 2, 0x1000, 3, DATA);
  tek::emit_module(cv, 1, "m");
  tek::emit_addr_flag(cv, 0x8010, 1);
}

std::string lines(std::initializer_list<const char*> ls) {
  std::string s;
  for (const char* l : ls) s += l;
  return s;
}

TEST_F(DumpTest, MaskBitsSelectTheLines) {
  const struct {
    uint32_t mask;
    std::string out;
  } cases[] = {
      {0xFFFFFFFF, lines({LINE_HEADER, LINE_PUBLIC, LINE_START, LINE_SET, LINE_END, LINE_FILE,
                          LINE_LINE, LINE_ENDLINE, LINE_STRUCT, LINE_MEMBER, LINE_POINTER,
                          LINE_OBJECT, LINE_MODULE, LINE_ADDRFLAG})},
      {0x01, lines({LINE_HEADER, LINE_FILE, LINE_LINE, LINE_ENDLINE, LINE_ADDRFLAG})},
      {0x02, lines({LINE_HEADER, LINE_STRUCT, LINE_MEMBER, LINE_POINTER, LINE_ADDRFLAG})},
      {0x04, lines({LINE_HEADER, LINE_PUBLIC, LINE_ADDRFLAG})},
      {0x08, lines({LINE_HEADER, LINE_START, LINE_END, LINE_ADDRFLAG})},
      {0x10, lines({LINE_HEADER, LINE_SET, LINE_ADDRFLAG})},
      {0x80, lines({LINE_HEADER, LINE_MODULE, LINE_ADDRFLAG})},
      {0x100, lines({LINE_HEADER, LINE_OBJECT, LINE_ADDRFLAG})},
      {0x40, lines({LINE_HEADER, LINE_ADDRFLAG})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(print(c.mask, emit_all), c.out);
  }
}

TEST_F(DumpTest, UnlistedTypeStillSetsTheMemberLayout) {
  EXPECT_EQ(print(0x04,
                  [](tek::Converter& cv) {
                    tek::emit_type(cv, type_value(15, 0x121));
                    cv.settings.dump_mask = 0x02;
                    tek::emit_member(cv, member_value("red"));
                  }),
            "\nMEMBER:value=00000007,name=[red]");
}

// An ARM unit with two sections, three image bytes, an address flag and two lines.
Builder small_program() {
  Builder b;
  b.hdr()
      .unit("m", "ARM", 2, 0x04)
      .cl(0x1000, "P")
      .cl(0x8000, "Q")
      .sect(0, 0)
      .data({1, 2, 3})
      .aflag(1, 0x10, 2)
      .dbgunit(0x11, 0)
      .srcfiles({{"src/", "a.c"}})
      .curfile(0)
      .locate(0)
      .lines({{5, 0}, {6, 2}})
      .end();
  return b;
}

TEST_F(DumpTest, WholeDumpsOfASmallProgram) {
  const std::string header = "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0";
  const std::string aflag = "\nADDRFLAG:    addr=00008010,flag=00000000";
  const std::string line_lines =
      "\nLINE:      line=5     ,addr=00001000"
      "\nLINE:      line=6     ,addr=00001002"
      "\nENDLINE:   mode=0000";
  const std::string file_lines = "\nFILE:      [a.c]" + line_lines;
  const struct {
    std::vector<std::string> options;
    std::string out;
  } cases[] = {
      {{"-s"},
       predefined_dump() + header + "\nMODULE:    modix=00000001,name=[m]" +
           "\nObject : 00001000 - 00001002" + aflag + file_lines},
      {{"-sf"}, header + aflag + file_lines},
      {{"-st"}, predefined_dump() + header + aflag},
      {{"-sg"}, header + aflag},
      {{"-ss"}, header + aflag},
      {{"-sl"}, header + aflag},
      {{"-s", "-sf"}, header + aflag + file_lines},
      {{"-sf", "-st"}, predefined_dump() + header + aflag},
      {{"-sf", "-fullpath"}, header + aflag + "\nFILE:      [src/a.c]" + line_lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0] + (c.options.size() > 1 ? " " + c.options[1] : ""));
    small_program().write("in.abs");
    std::vector<std::string> args = c.options;
    args.push_back("in.abs");
    RunResult r = run_tekconv(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
  }
}

TEST_F(DumpTest, EmptyImageBlockAtAddressZeroEndsAtFfffffff) {
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).cl(0, "P").sect(0, 0).data({}).end();
  EXPECT_EQ(dump(b, "-s"), predefined_dump() +
                               "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0"
                               "\nMODULE:    modix=00000001,name=[m]"
                               "\nObject : 00000000 - ffffffff");
}

TEST_F(DumpTest, MessagesAppearAmongTheLines) {
  Builder b;
  b.hdr().unit("m", "MC68000", 1, 0x04).raw({0x02, 0x00, 0x00});
  EXPECT_EQ(dump(b, "-s"), predefined_dump() +
                               "\nHEADER:    ver=118, compiler=6, compiler_ver=0, cpu=0"
                               "\nMODULE:    modix=00000001,name=[m]Invalid record\n");
}

}  // namespace
