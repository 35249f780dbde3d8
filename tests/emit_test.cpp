// The emit operations: the exact bytes of every context record, the stream each goes to, the
// MEMBER layout picked by the last TYPE kind, the three run modes, and the undefined-kind stop.
#include "context/emit.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <memory>

#include "driver/converter.hpp"
#include "driver/fatal.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

using tek::MemberValue;
using tek::PublicValue;
using tek::SetLocalValue;
using tek::TypeValue;

Bytes read_bytes(const std::string& path) {
  std::string s = read_file(path);
  return Bytes(s.begin(), s.end());
}

// A name as the context file holds it: the length byte and the characters.
Bytes with_name(Bytes b, const std::string& name) {
  b.push_back(static_cast<uint8_t>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TypeValue type_value(uint32_t kind, uint32_t selfix) {
  TypeValue v;
  v.kind = kind;
  v.selfix = selfix;
  return v;
}

struct Streams {
  Bytes main, type, local;
};

class EmitTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    console_ = ::open_memstream(&text_, &size_);
    cv->out.console = console_;
  }
  void TearDown() override {
    cv.reset();
    std::fclose(console_);
    std::free(text_);
    TempDirTest::TearDown();
  }
  // A fresh converter, as a new run starts with.
  void restart() {
    cv = std::make_unique<tek::Converter>();
    cv->out.console = console_;
  }
  void open_streams() {
    ASSERT_TRUE(tek::out_open(cv->out.main, "main.bin", false));
    ASSERT_TRUE(tek::out_open(cv->out.type, "type.bin", true));
    ASSERT_TRUE(tek::out_open(cv->out.local, "local.bin", true));
  }
  Streams close_streams() {
    tek::out_close(*cv, cv->out.main);
    tek::out_close(*cv, cv->out.type);
    tek::out_close(*cv, cv->out.local);
    return {read_bytes("main.bin"), read_bytes("type.bin"), read_bytes("local.bin")};
  }
  std::string printed() {
    std::fflush(console_);
    return std::string(text_, size_);
  }

  std::unique_ptr<tek::Converter> cv = std::make_unique<tek::Converter>();

 private:
  FILE* console_ = nullptr;
  char* text_ = nullptr;
  size_t size_ = 0;
};

PublicValue public_value(const std::string& name) {
  PublicValue v;
  v.mode = 0xA0;
  v.addr = 0x12345678;
  v.cls = 1;
  v.typeix = 0x120;
  v.modix = 2;
  v.name = name;
  return v;
}

SetLocalValue set_local_value(const std::string& name) {
  SetLocalValue v;
  v.cls = 3;
  v.offset = 0xFFFFFFFC;
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

struct LayoutCase {
  const char* what;
  std::function<void(tek::Converter&)> emit;
  Streams expected;
};

const uint8_t DATA3[] = {0xDE, 0xAD, 0x01};

std::vector<LayoutCase> layout_cases() {
  using tek::Converter;
  auto type_case = [](const char* what, TypeValue v, Bytes expected) {
    return LayoutCase{what, [v](Converter& cv) { tek::emit_type(cv, v); }, {{}, expected, {}}};
  };
  TypeValue agg = type_value(13, 0x120);
  agg.size = 8;
  agg.count = 2;
  agg.name = "abc";
  TypeValue uni = agg, cls = agg, bitfield = agg;
  uni.kind = 14;
  cls.kind = 28;
  bitfield.kind = 20;
  TypeValue en = type_value(15, 0x121);
  en.count = 3;
  en.name = "col";
  TypeValue fn = type_value(16, 0x122);
  fn.retix = 0x106;
  fn.argc = 0x0102;
  TypeValue far = fn;
  far.kind = 22;
  TypeValue arr = type_value(19, 0x123);
  arr.typeix = 0x102;
  arr.limit = 10;
  TypeValue td = type_value(21, 0x124);
  td.typeix = 0x106;
  td.name = "uint";
  TypeValue bit = type_value(27, 0x125);
  bit.sign = 1;
  bit.size = 3;
  bit.offs = 5;

  std::vector<LayoutCase> cases = {
      {"HEADER",
       [](Converter& cv) {
         tek::emit_header(cv, {0x01020304, 0x0506, 0x0708090A, 0x0B0C});
       },
       {{0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x0A, 0x09, 0x08, 0x07, 0x0C, 0x0B}, {}, {}}},
      {"PUBLIC",
       [](Converter& cv) { tek::emit_public(cv, public_value("main")); },
       {Ctx().pub(0xA0, 0x12345678, 1, 0x120, 2, "main").bytes(), {}, {}}},
      {"STARTLOCAL",
       [](Converter& cv) { tek::emit_start_local(cv, 0x1000); },
       {{}, {}, {0x02, 0x00, 0x10, 0x00, 0x00}}},
      {"ENDLOCAL",
       [](Converter& cv) { tek::emit_end_local(cv, 0x10FF); },
       {{}, {}, {0x03, 0xFF, 0x10, 0x00, 0x00}}},
      {"SETLOCAL",
       [](Converter& cv) { tek::emit_set_local(cv, set_local_value("i")); },
       {{}, {}, {0x04, 0x03, 0xFC, 0xFF, 0xFF, 0xFF, 0x06, 0x01, 0x00, 0x00, 0x01, 'i'}}},
      {"FILE keeps what follows the last slash",
       [](Converter& cv) { tek::emit_file(cv, "dir/sub\\x.c"); },
       {Ctx().file("sub\\x.c").bytes(), {}, {}}},
      {"FILE without a slash keeps what follows the last backslash",
       [](Converter& cv) { tek::emit_file(cv, "C:\\src\\x.c"); },
       {Ctx().file("x.c").bytes(), {}, {}}},
      {"FILE of a bare name",
       [](Converter& cv) { tek::emit_file(cv, "x.c"); },
       {Ctx().file("x.c").bytes(), {}, {}}},
      {"FILE under -fullpath",
       [](Converter& cv) {
         cv.settings.fullpath = 1;
         tek::emit_file(cv, "dir/sub\\x.c");
         tek::emit_file(cv, "C:\\src\\x.c");
       },
       {Ctx().file("dir/sub\\x.c").file("C:\\src\\x.c").bytes(), {}, {}}},
      {"ENDLINE",
       [](Converter& cv) { tek::emit_end_line(cv, 0x1234); },
       {{0x06, 0x34, 0x12}, {}, {}}},
      {"LINE",
       [](Converter& cv) { tek::emit_line(cv, 10, 0x2004); },
       {{0x07, 0x0A, 0x00, 0x00, 0x00, 0x04, 0x20, 0x00, 0x00}, {}, {}}},
      {"OBJECT",
       [](Converter& cv) { tek::emit_object(cv, 2, 0x1000, 3, DATA3); },
       {{0x0B, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x03, 0x00, 0xDE, 0xAD, 0x01}, {}, {}}},
      {"OBJECT of no bytes",
       [](Converter& cv) { tek::emit_object(cv, 2, 0, 0, DATA3); },
       {Ctx().object(0, {}).bytes(), {}, {}}},
      {"MODULE",
       [](Converter& cv) { tek::emit_module(cv, 1, "prog"); },
       {{0x0D, 0x01, 0x00, 0x00, 0x00, 0x04, 'p', 'r', 'o', 'g'}, {}, {}}},
      {"ADDRFLAG",
       [](Converter& cv) { tek::emit_addr_flag(cv, 0x8010, 1); },
       {{0x0E, 0x10, 0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, {}, {}}},
      type_case("TYPE 8SIGNED", type_value(2, 258), {0x09, 0x02, 0x02, 0x01, 0x00, 0x00}),
      type_case("TYPE 64UNSIGNED", type_value(9, 0x130), Ctx().type(9, 0x130).bytes()),
      type_case("TYPE STRUCT abc", agg,
                {0x09, 0x0D, 0x20, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                 0x03, 'a', 'b', 'c'}),
      type_case("TYPE UNION", uni, Ctx().aggregate(14, 0x120, 8, 2, "abc").bytes()),
      type_case("TYPE CLASS", cls, Ctx().aggregate(28, 0x120, 8, 2, "abc").bytes()),
      type_case("TYPE BITFIELD", bitfield, Ctx().aggregate(20, 0x120, 8, 2, "abc").bytes()),
      type_case("TYPE ENUM", en,
                {0x09, 0x0F, 0x21, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 'c', 'o', 'l'}),
      type_case("TYPE FUNCTION", fn,
                {0x09, 0x10, 0x22, 0x01, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00, 0x02, 0x01}),
      type_case("TYPE FARFUNC", far, Ctx().function(22, 0x122, 0x106, 0x0102).bytes()),
      type_case("TYPE ARRAY", arr,
                {0x09, 0x13, 0x23, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00,
                 0x00}),
      type_case("TYPE TYPEDEF", td,
                with_name(cat({{0x09, 0x15}, le32(0x124), le32(0x106)}), "uint")),
      type_case("TYPE BIT", bit,
                {0x09, 0x1B, 0x25, 0x01, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00,
                 0x00}),
  };
  for (uint32_t kind : {17u, 18u, 23u, 24u, 25u, 26u}) {
    TypeValue p = type_value(kind, 0x126);
    p.typeix = 0x103;
    cases.push_back(type_case("TYPE pointer", p, Ctx().pointer(kind, 0x126, 0x103).bytes()));
  }
  return cases;
}

TEST_F(EmitTest, EveryRecordLayoutByteForByteOnItsStream) {
  for (const LayoutCase& c : layout_cases()) {
    SCOPED_TRACE(c.what);
    restart();
    open_streams();
    c.emit(*cv);
    Streams s = close_streams();
    EXPECT_BYTES(s.main, c.expected.main);
    EXPECT_BYTES(s.type, c.expected.type);
    EXPECT_BYTES(s.local, c.expected.local);
  }
}

TEST_F(EmitTest, MemberLayoutFollowsTheLastTypeKind) {
  const MemberValue m = member_value("y");
  const Bytes aggregate_member = Ctx().member(0x106, 4, "y").bytes();
  const Bytes enum_constant = Ctx().constant(7, "y").bytes();
  const Bytes bit_member = with_name(cat({{0x0A}, le32(0x106), le32(3), le32(5)}), "y");
  const Bytes tag_alone = {0x0A};
  struct Case {
    uint32_t kind;  // 0: no TYPE record before the MEMBER
    Bytes member;
  } cases[] = {
      {0, tag_alone},      {13, aggregate_member}, {14, aggregate_member}, {28, aggregate_member},
      {15, enum_constant}, {20, bit_member},       {16, tag_alone},        {22, tag_alone},
      {1, tag_alone},      {12, tag_alone},        {17, tag_alone},        {19, tag_alone},
      {21, tag_alone},     {27, tag_alone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    restart();
    open_streams();
    if (c.kind != 0) tek::emit_type(*cv, type_value(c.kind, 0x300));
    tek::out_flush(*cv, cv->out.type);
    const size_t at = read_bytes("type.bin").size();
    tek::emit_member(*cv, m);
    tek::emit_member(*cv, m);  // the kind stays until the next TYPE record
    const Bytes all = close_streams().type;
    ASSERT_GE(all.size(), at);
    EXPECT_BYTES(Bytes(all.begin() + static_cast<long>(at), all.end()), cat({c.member, c.member}));
  }
}

TEST_F(EmitTest, EmitTypeSetsTheLastKindInEveryRunMode) {
  struct Mode {
    const char* what;
    uint32_t dump_mask;
    int32_t check_pass;
  } modes[] = {{"conversion", 0, 0},
               {"dump of PUBLIC only", 0x04, 0},
               {"dump", 0x02, 0},
               {"check pass 1", 0, 1},
               {"check pass 2", 0, 2}};
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.what);
    restart();
    cv->settings.dump_mask = mode.dump_mask;
    cv->settings.check_pass = mode.check_pass;
    if (mode.check_pass == 2) cv->check.marks.assign(0x400, 1);
    tek::emit_type(*cv, type_value(15, 0x301));
    EXPECT_EQ(cv->out.last_kind, 15);
    // Back in conversion, a MEMBER now takes the enumeration constant layout.
    cv->settings.dump_mask = 0;
    cv->settings.check_pass = 0;
    open_streams();
    tek::emit_member(*cv, member_value("y"));
    EXPECT_BYTES(close_streams().type, Ctx().constant(7, "y").bytes());
  }
}

TEST_F(EmitTest, NamesAreCutAt255BytesAndAtAZeroByte) {
  const std::string longest(255, 'n');
  const std::string too_long = longest + "xyz";
  const std::string with_zero("ab\0cd", 5);
  for (const auto& [given, stored] :
       {std::pair{too_long, longest}, std::pair{with_zero, std::string("ab")}}) {
    restart();
    open_streams();
    tek::emit_public(*cv, public_value(given));
    tek::emit_set_local(*cv, set_local_value(given));
    tek::emit_module(*cv, 1, given.c_str());
    tek::emit_file(*cv, given.c_str());
    TypeValue agg = type_value(13, 0x120);
    agg.name = given;
    tek::emit_type(*cv, agg);
    tek::emit_member(*cv, member_value(given));
    TypeValue en = type_value(15, 0x121);
    en.name = given;
    tek::emit_type(*cv, en);
    TypeValue td = type_value(21, 0x122);
    td.typeix = 0x106;
    td.name = given;
    tek::emit_type(*cv, td);
    Streams s = close_streams();
    EXPECT_BYTES(
        s.main,
        Ctx().pub(0xA0, 0x12345678, 1, 0x120, 2, stored).module(1, stored).file(stored).bytes());
    EXPECT_BYTES(s.local, Ctx().set_local(3, 0xFFFFFFFC, 0x106, stored).bytes());
    Bytes types = Ctx()
                      .aggregate(13, 0x120, 0, 0, stored)
                      .member(0x106, 4, stored)
                      .enumeration(0x121, 0, stored)
                      .bytes();
    Bytes typedef_record = with_name(cat({{0x09, 0x15}, le32(0x122), le32(0x106)}), stored);
    EXPECT_BYTES(s.type, cat({types, typedef_record}));
  }
}

// Calls every emit operation once.
void emit_all(tek::Converter& cv) {
  tek::emit_header(cv, {118, 6, 0, 0});
  tek::emit_public(cv, public_value("p"));
  tek::emit_start_local(cv, 0x400);
  tek::emit_set_local(cv, set_local_value("i"));
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
  tek::emit_object(cv, 2, 0x1000, 3, DATA3);
  tek::emit_module(cv, 1, "m");
  tek::emit_addr_flag(cv, 0x8010, 1);
}

TEST_F(EmitTest, DumpAndCheckModesWriteNoRecord) {
  struct Mode {
    const char* what;
    uint32_t dump_mask;
    int32_t check_pass;
  } modes[] = {{"dump -s", 0xFFFFFFFF, 0},
               {"dump -sf", 0x01, 0},
               {"dump with a check pass set", 0x02, 1},
               {"check pass 1", 0, 1},
               {"check pass 2", 0, 2}};
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.what);
    restart();
    cv->settings.dump_mask = mode.dump_mask;
    cv->settings.check_pass = mode.check_pass;
    if (mode.check_pass == 2) cv->check.marks.assign(0x400, 1);
    open_streams();
    emit_all(*cv);
    Streams s = close_streams();
    EXPECT_TRUE(s.main.empty()) << hex(s.main);
    EXPECT_TRUE(s.type.empty()) << hex(s.type);
    EXPECT_TRUE(s.local.empty()) << hex(s.local);
  }
}

TEST_F(EmitTest, ConversionEmitsPrintNothing) {
  open_streams();
  emit_all(*cv);
  close_streams();
  EXPECT_EQ(printed(), "");
}

TEST_F(EmitTest, UndefinedKindStopsAfterTheCommonPartWithStatus1) {
  for (uint32_t kind : {0u, 29u, 255u}) {
    SCOPED_TRACE(kind);
    restart();
    open_streams();
    tek::emit_header(*cv, {118, 6, 0, 0});
    const std::string before = printed();
    TypeValue v = type_value(kind, 0x140);
    v.typeix = 0x106;
    v.name = "x";
    int status = -1;
    try {
      tek::emit_type(*cv, v);
    } catch (const tek::RunExit& e) {
      status = e.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(printed().substr(before.size()), "\nUndefined type");
    EXPECT_EQ(cv->out.last_kind, kind);
    // The run ends here: the streams are neither joined nor deleted, and what was emitted
    // stays in them.
    restart();
    EXPECT_BYTES(read_bytes("main.bin"), Ctx().header().bytes());
    EXPECT_BYTES(read_bytes("type.bin"), Ctx().type(static_cast<uint8_t>(kind), 0x140).bytes());
    EXPECT_BYTES(read_bytes("local.bin"), Bytes{});
  }
}

TEST_F(EmitTest, UndefinedKindInTheDumpEndsRightAfterItsMessage) {
  struct Case {
    uint32_t mask;
    bool type_line;
  } cases[] = {{0x02, true}, {0xFFFFFFFF, true}, {0x04, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    restart();
    cv->settings.dump_mask = c.mask;
    const size_t start = printed().size();
    EXPECT_THROW(tek::emit_type(*cv, type_value(29, 0x140)), tek::RunExit);
    const std::string out = printed().substr(start);
    if (c.type_line) {
      EXPECT_EQ(out.substr(0, 22), "\nTYPE:      type=0x1d:");
      EXPECT_EQ(out.substr(32), ",selfix=00000140\nUndefined type");
    } else {
      EXPECT_EQ(out, "\nUndefined type");
    }
  }
}

TEST_F(EmitTest, UndefinedKindInTheCheckIsMarkedFirstInPass1) {
  cv->settings.check_pass = 1;
  EXPECT_THROW(tek::emit_type(*cv, type_value(0, 0x140)), tek::RunExit);
  ASSERT_GT(cv->check.marks.size(), 0x140u);
  EXPECT_EQ(cv->check.marks[0x140], 1);
  EXPECT_EQ(printed(), "\nUndefined type");
}

}  // namespace
