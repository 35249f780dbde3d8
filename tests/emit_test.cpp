// The emit operations: the exact bytes of every context record on its stream in a conversion and
// its exact line in the dump, the MEMBER layout picked by the last TYPE kind, names, and the
// undefined-kind stop.
#include "context/emit.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <functional>
#include <memory>

#include "context/dump.hpp"
#include "driver/converter.hpp"
#include "driver/fatal.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

using tek::Converter;
using tek::TypeValue;

enum Stream { MAIN, TYPE, LOCAL };
using Streams = std::array<Bytes, 3>;

class EmitTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    console_ = ::open_memstream(&text_, &size_);
  }
  void TearDown() override {
    cv.reset();
    std::fclose(console_);
    std::free(text_);
    TempDirTest::TearDown();
  }
  // A fresh converter with its three streams open, converting (mask 0) or dumping.
  void start(uint32_t dump_mask = 0) {
    cv = std::make_unique<Converter>();
    cv->out.console = console_;
    cv->settings.dump_mask = dump_mask;
    ASSERT_TRUE(tek::out_open(cv->out.main, "main.bin", false));
    ASSERT_TRUE(tek::out_open(cv->out.type, "type.bin", true));
    ASSERT_TRUE(tek::out_open(cv->out.local, "local.bin", true));
    start_ = printed_all().size();
  }
  Streams finish() {
    tek::out_close(*cv, cv->out.main);
    tek::out_close(*cv, cv->out.type);
    tek::out_close(*cv, cv->out.local);
    return {file_bytes("main.bin"), file_bytes("type.bin"), file_bytes("local.bin")};
  }
  // What was printed since start().
  std::string printed() { return printed_all().substr(start_); }

  std::unique_ptr<Converter> cv;

 private:
  std::string printed_all() {
    std::fflush(console_);
    return std::string(text_, size_);
  }
  FILE* console_ = nullptr;
  char* text_ = nullptr;
  size_t size_ = 0;
  size_t start_ = 0;
};

void expect_streams(const Streams& actual, const Streams& expected) {
  for (int s : {MAIN, TYPE, LOCAL}) EXPECT_BYTES(actual[s], expected[s]) << "stream " << s;
}

// A TYPEDEF record, which the expected-record writer has no function for.
Bytes typedef_record(uint32_t selfix, uint32_t typeix, const std::string& name) {
  Bytes b = Ctx().pointer(21, selfix, typeix).bytes();
  b.push_back(static_cast<uint8_t>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

// Where a record goes: its stream in a conversion, and the dump mask bit that lists it (0: every
// nonzero mask).
struct Category {
  Stream stream;
  uint32_t bit;
};
const Category HEADER_REC{MAIN, 0}, PUBLIC_REC{MAIN, 0x04}, SCOPE_REC{LOCAL, 0x08},
    SETLOCAL_REC{LOCAL, 0x10}, FILE_REC{MAIN, 0x01}, TYPE_REC{TYPE, 0x02}, OBJECT_REC{MAIN, 0x100},
    MODULE_REC{MAIN, 0x80}, ADDRFLAG_REC{MAIN, 0};

struct RecordCase {
  std::string what;
  std::function<void(Converter&)> emit;
  Category category;
  Bytes bytes;
  std::string line;
};

const uint8_t DATA[256] = {0xDE, 0xAD, 0x01};

// An emit operation called with the given values.
template <class Emit, class... Args>
std::function<void(Converter&)> call(Emit emit, Args... args) {
  return [=](Converter& cv) { emit(cv, args...); };
}

std::vector<RecordCase> record_cases() {
  auto type_case = [](const char* what, TypeValue v, Bytes bytes, std::string line) {
    return RecordCase{what, [v](Converter& cv) { tek::emit_type(cv, v); }, TYPE_REC, bytes, line};
  };
  std::vector<RecordCase> cases = {
      {"HEADER",
       call(tek::emit_header, tek::HeaderValue{0x01020304, 0x0506, 0x0708090A, 0x0B0C}),
       HEADER_REC,
       {0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x0A, 0x09, 0x08, 0x07, 0x0C, 0x0B},
       "\nHEADER:    ver=16909060, compiler=1286, compiler_ver=117967114, cpu=2828"},
      {"PUBLIC of class EXT, padded to four",
       call(tek::emit_public, tek::PublicValue{0xA0, 0x12345678, 1, 0x120, 2, "main"}), PUBLIC_REC,
       Ctx().pub(0xA0, 0x12345678, 1, 0x120, 2, "main").bytes(),
       "\nPUBLIC:    mode=00a0,addr=12345678,class=EXT ,typeix=00000120,modix=00000002,"
       "name=[main]"},
      {"STARTLOCAL", call(tek::emit_start_local, 0x1000), SCOPE_REC,
       Ctx().start_local(0x1000).bytes(), "\nSTARTLOCAL:addr=00001000"},
      {"ENDLOCAL", call(tek::emit_end_local, 0x10FF), SCOPE_REC, Ctx().end_local(0x10FF).bytes(),
       "\nENDLOCAL:  addr=000010ff"},
      {"SETLOCAL of a stack offset",
       call(tek::emit_set_local, tek::SetLocalValue{3, 0xFFFFFFFC, 0x106, "i"}),
       SETLOCAL_REC,
       {0x04, 0x03, 0xFC, 0xFF, 0xFF, 0xFF, 0x06, 0x01, 0x00, 0x00, 0x01, 'i'},
       "\nSETLOCAL:  offset=fffffffc,class=AUTO,typeix=00000106,name=[i]"},
      {"FILE keeps what follows the last slash", call(tek::emit_file, "dir/sub\\x.c"), FILE_REC,
       Ctx().file("sub\\x.c").bytes(), "\nFILE:      [sub\\x.c]"},
      {"ENDLINE", call(tek::emit_end_line, 0x1234), FILE_REC, Ctx().end_line(0x1234).bytes(),
       "\nENDLINE:   mode=1234"},
      {"LINE", call(tek::emit_line, 10, 0x2004), FILE_REC, Ctx().line(10, 0x2004).bytes(),
       "\nLINE:      line=10    ,addr=00002004"},
      {"LINE number as signed decimal", call(tek::emit_line, 0xFFFFFFFF, 0x10), FILE_REC,
       Ctx().line(0xFFFFFFFF, 0x10).bytes(), "\nLINE:      line=-1    ,addr=00000010"},
      {"OBJECT",
       call(tek::emit_object, 2, 0x1000, 3, DATA),
       OBJECT_REC,
       {0x0B, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x03, 0x00, 0xDE, 0xAD, 0x01},
       line::object(0x1000, 3)},
      {"OBJECT of 256 bytes", call(tek::emit_object, 2, 0x1000, 256, DATA), OBJECT_REC,
       Ctx().object(0x1000, Bytes(DATA, DATA + 256)).bytes(), "\nObject : 00001000 - 000010ff"},
      {"OBJECT of no bytes at address 0", call(tek::emit_object, 2, 0, 0, DATA), OBJECT_REC,
       Ctx().object(0, {}).bytes(), "\nObject : 00000000 - ffffffff"},
      {"MODULE", call(tek::emit_module, 1, "prog"), MODULE_REC, Ctx().module(1, "prog").bytes(),
       line::module(1, "prog")},
      {"ADDRFLAG", call(tek::emit_addr_flag, 0x8010, 1), ADDRFLAG_REC,
       Ctx().addr_flag(0x8010, 1).bytes(), "\nADDRFLAG:    addr=00008010,flag=00000001"},
      type_case("TYPE 8SIGNED", {.kind = 2, .selfix = 258, .name = ""},
                {0x09, 0x02, 0x02, 0x01, 0x00, 0x00},
                "\nTYPE:      type=0x02:8SIGNED   ,selfix=00000102"),
      type_case("TYPE STRUCT abc",
                {.kind = 13, .selfix = 0x120, .size = 8, .count = 2, .name = "abc"},
                {0x09, 0x0D, 0x20, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                 0x03, 'a', 'b', 'c'},
                "\nTYPE:      type=0x0d:STRUCT    ,selfix=00000120,size=00000008,count=0002,"
                "name=[abc]"),
      type_case("TYPE UNION with more than 0xFFFF members",
                {.kind = 14, .selfix = 0x120, .size = 8, .count = 0x12345, .name = "u"},
                Ctx().aggregate(14, 0x120, 8, 0x12345, "u").bytes(),
                line::agg(14, 0x120, 8, 0x12345, "u")),
      type_case("TYPE CLASS", {.kind = 28, .selfix = 0x127, .size = 4, .count = 1, .name = "C"},
                Ctx().aggregate(28, 0x127, 4, 1, "C").bytes(), line::agg(28, 0x127, 4, 1, "C")),
      type_case("TYPE BITFIELD", {.kind = 20, .selfix = 0x128, .size = 2, .count = 3, .name = "bf"},
                Ctx().aggregate(20, 0x128, 2, 3, "bf").bytes(), line::agg(20, 0x128, 2, 3, "bf")),
      type_case("TYPE ENUM", {.kind = 15, .selfix = 0x121, .count = 3, .name = "col"},
                {0x09, 0x0F, 0x21, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 'c', 'o', 'l'},
                "\nTYPE:      type=0x0f:ENUM      ,selfix=00000121,name=[col]"),
      type_case("TYPE FUNCTION",
                {.kind = 16, .selfix = 0x122, .retix = 0x106, .argc = 0x0102, .name = ""},
                {0x09, 0x10, 0x22, 0x01, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00, 0x02, 0x01},
                "\nTYPE:      type=0x10:FUNCTION  ,selfix=00000122,retix=00000106 ,argc=0102"),
      type_case("TYPE FARFUNC", {.kind = 22, .selfix = 0x122, .retix = 0x101, .name = ""},
                Ctx().function(22, 0x122, 0x101, 0).bytes(), line::func(0x122, 0x101, 0, true)),
      type_case("TYPE ARRAY",
                {.kind = 19, .selfix = 0x123, .typeix = 0x102, .limit = 10, .name = ""},
                Ctx().array(0x123, 0x102, 10).bytes(), line::arr(0x123, 0x102, 10)),
      type_case("TYPE TYPEDEF", {.kind = 21, .selfix = 0x124, .typeix = 0x106, .name = "uint"},
                typedef_record(0x124, 0x106, "uint"), line::tdef(0x124, 0x106, "uint")),
      type_case("TYPE BIT",
                {.kind = 27, .selfix = 0x125, .size = 3, .sign = 1, .offs = 5, .name = ""},
                Ctx().bit(0x125, 1, 3, 5).bytes(), line::bit(0x125, 1, 3, 5)),
  };
  for (uint32_t kind : {17u, 18u, 23u, 24u, 25u, 26u}) {
    cases.push_back(type_case("TYPE pointer",
                              {.kind = kind, .selfix = 0x126, .typeix = 0x103, .name = ""},
                              Ctx().pointer(static_cast<uint8_t>(kind), 0x126, 0x103).bytes(),
                              line::ptr(kind, 0x126, 0x103)));
  }
  return cases;
}

TEST_F(EmitTest, EveryRecordWrittenInAConversionAndPrintedInTheDump) {
  for (const RecordCase& c : record_cases()) {
    SCOPED_TRACE(c.what);
    start();
    c.emit(*cv);
    Streams expected;
    expected[c.category.stream] = c.bytes;
    expect_streams(finish(), expected);
    EXPECT_EQ(printed(), "");
    start(0xFFFFFFFF);
    c.emit(*cv);
    expect_streams(finish(), {});
    EXPECT_EQ(printed(), c.line);
  }
}

TEST_F(EmitTest, DumpMaskBitsSelectTheLines) {
  const std::vector<RecordCase> cases = record_cases();
  for (uint32_t mask : {0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x80u, 0x100u, 0x40u}) {
    SCOPED_TRACE(mask);
    start(mask);
    std::string expected;
    for (const RecordCase& c : cases) {
      c.emit(*cv);
      if (c.category.bit == 0 || (mask & c.category.bit) != 0) expected += c.line;
    }
    expect_streams(finish(), {});
    EXPECT_EQ(printed(), expected);
  }
}

TEST_F(EmitTest, MemberLayoutFollowsTheLastTypeKindInEveryRunMode) {
  struct Case {
    uint32_t kind;  // 0: no TYPE record before the MEMBER
    Bytes member;
    std::string line;
  };
  std::vector<Case> cases = {
      {15, Ctx().constant(7, "y").bytes(), "\nMEMBER:value=00000007,name=[y]"},
      {20,
       {0x0A, 0x06, 0x01, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0, 1, 'y'},
       "\nMEMBER:typeix=00000106,bitoffs=0003,bitsize=0005,name=[y]"},
  };
  for (uint32_t kind : {13u, 14u, 28u})
    cases.push_back({kind, Ctx().member(0x106, 4, "y").bytes(),
                     "\nMEMBER:typeix=00000106,offset=0004,name=[y]"});
  for (uint32_t kind : {0u, 1u, 12u, 16u, 17u, 19u, 21u, 22u, 27u})
    cases.push_back({kind, {0x0A}, "\nMEMBER:"});
  const struct {
    uint32_t dump_mask;
    int32_t check_pass;
  } modes[] = {{0, 0}, {0x02, 0}, {0x04, 0}, {0, 1}, {0, 2}};
  for (const Case& c : cases) {
    for (const auto& mode : modes) {
      SCOPED_TRACE(testing::Message() << "kind " << c.kind << ", TYPE record under mask "
                                      << mode.dump_mask << ", check pass " << mode.check_pass);
      start(mode.dump_mask);
      cv->settings.check_pass = mode.check_pass;
      if (c.kind != 0) tek::emit_type(*cv, {.kind = c.kind, .selfix = 0x300, .name = ""});
      // The kind stays until the next TYPE record: a MEMBER in a conversion, then in the dump.
      cv->settings.check_pass = 0;
      cv->settings.dump_mask = 0;
      const size_t written = cv->out.type.written;
      tek::emit_member(*cv, {0x106, 4, 7, 3, 5, "y"});
      cv->settings.dump_mask = 0x02;
      const size_t shown = printed().size();
      tek::emit_member(*cv, {0x106, 4, 7, 3, 5, "y"});
      const Bytes types = finish()[TYPE];
      EXPECT_BYTES(Bytes(types.begin() + static_cast<long>(written), types.end()), c.member);
      EXPECT_EQ(printed().substr(shown), c.line);
    }
  }
}

// Every record that carries a name.
void emit_named(Converter& cv, const std::string& name) {
  tek::emit_public(cv, {0, 0x10, 1, 0x120, 1, name});
  tek::emit_set_local(cv, {3, 4, 0x106, name});
  tek::emit_module(cv, 1, name.c_str());
  tek::emit_file(cv, name.c_str());
  tek::emit_type(cv, {.kind = 13, .selfix = 0x120, .name = name});
  tek::emit_member(cv, {.typeix = 0x106, .name = name});
  tek::emit_type(cv, {.kind = 15, .selfix = 0x121, .name = name});
  tek::emit_type(cv, {.kind = 21, .selfix = 0x122, .typeix = 0x106, .name = name});
}

TEST_F(EmitTest, NamesAreCutAt255BytesAndAtAZeroByte) {
  const std::string longest(255, 'n');
  for (const auto& [given, s] : {std::pair{longest + "xyz", longest},
                                 std::pair{std::string("ab\0cd", 5), std::string("ab")}}) {
    start();
    emit_named(*cv, given);
    Bytes types =
        Ctx().aggregate(13, 0x120, 0, 0, s).member(0x106, 0, s).enumeration(0x121, 0, s).bytes();
    Bytes td = typedef_record(0x122, 0x106, s);
    types.insert(types.end(), td.begin(), td.end());
    expect_streams(finish(), {Ctx().pub(0, 0x10, 1, 0x120, 1, s).module(1, s).file(s).bytes(),
                              types, Ctx().set_local(3, 4, 0x106, s).bytes()});
    start(0xFFFFFFFF);
    emit_named(*cv, given);
    EXPECT_EQ(printed(), line::pub(0x10, 0x120, s) + line::setl(4, "AUTO", 0x106, s) +
                             line::module(1, s) + line::file(s) + line::agg(13, 0x120, 0, 0, s) +
                             line::mem(0x106, 0, s) + line::enm(0x121, s) +
                             line::tdef(0x122, 0x106, s));
  }
  // The dump prints a name cut to its length.
  start(0xFFFFFFFF);
  tek::print_name(cv->out.console, std::string_view("abcdef", 3));
  tek::print_name(cv->out.console, "");
  EXPECT_EQ(printed(), "[abc][]");
}

TEST_F(EmitTest, UndefinedKindStopsAfterTheCommonPartWithStatus1) {
  for (uint32_t kind : {0u, 29u, 255u}) {
    for (uint32_t mask : {0u, 0x02u, 0x04u}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << ", mask " << mask);
      start(mask);
      tek::emit_header(*cv, {118, 6, 0, 0});
      const size_t shown = printed().size();
      int status = -1;
      try {
        tek::emit_type(*cv, {.kind = kind, .selfix = 0x140, .typeix = 0x106, .name = "x"});
      } catch (const tek::RunExit& e) {
        status = e.status;
      }
      EXPECT_EQ(status, 1);
      const std::string out = printed().substr(shown);
      if (mask == 0x02) {
        // The kind has no name of its own; what stands for it is left open.
        const std::string begin = line::fmt("\nTYPE:      type=0x%02x:", kind);
        const std::string end = ",selfix=00000140\nUndefined type";
        ASSERT_GE(out.size(), begin.size() + end.size());
        EXPECT_EQ(out.substr(0, begin.size()), begin);
        EXPECT_EQ(out.substr(out.size() - end.size()), end);
      } else {
        EXPECT_EQ(out, "\nUndefined type");
      }
      // The run ends here: the streams are neither joined nor deleted, and what was written
      // stays in them.
      cv.reset();
      expect_streams({file_bytes("main.bin"), file_bytes("type.bin"), file_bytes("local.bin")},
                     mask != 0 ? Streams{}
                               : Streams{Ctx().header().bytes(),
                                         Ctx().type(static_cast<uint8_t>(kind), 0x140).bytes(),
                                         {}});
    }
  }
}

}  // namespace
