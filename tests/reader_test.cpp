// The record dispatcher: HDR first, END last, skipped and invalid codes, long lengths, and a
// stream that runs out before END. Each case converts a small file and checks the whole context
// file and the whole output after the banner.
#include <algorithm>
#include <string>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;

namespace {

class ReaderTest : public TempDirTest {};

// A UNIT record whose MODULE record (modix 1, name m) shows that the record after it was read.
Bytes unit_m() {
  return Builder().unit("m", "MC68000", 1, 0x04).bytes();
}

// One record rewritten with a 2-byte length: the type byte gets bit 0.
Bytes long_form(const Bytes& rec) {
  Bytes out(rec.size() + 1);
  out[0] = static_cast<uint8_t>(rec[0] | 1);
  out[1] = 0x00;
  std::copy(rec.begin() + 1, rec.end(), out.begin() + 2);
  return out;
}

// The context file of a run that read HDR and then the UNIT record.
Bytes header_module() {
  return Ctx().header().module(1, "m").predefined().bytes();
}

Bytes header_only() {
  return Ctx().header().predefined().bytes();
}

Bytes ctx_file() {
  std::string s = read_file("in.ctx");
  return Bytes(s.begin(), s.end());
}

TEST_F(ReaderTest, SmallestFileGivesHeaderAndPredefinedTypes) {
  Builder b;
  b.hdr().end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_only());
}

TEST_F(ReaderTest, HeaderRecordWorkedExample) {
  Builder b;
  b.hdr().end();
  Bytes ctx = convert(b);
  ASSERT_GE(ctx.size(), 13u);
  EXPECT_BYTES(
      Bytes(ctx.begin(), ctx.begin() + 13),
      (Bytes{0x00, 0x76, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ReaderTest, HdrWithTwoByteLengthIsAccepted) {
  Builder b;
  b.raw({0x05, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}).raw(unit_m()).end();
  EXPECT_BYTES(convert(b), header_module());
}

TEST_F(ReaderTest, HdrWithEmptyBodyStillGivesTheHeaderAndConsumesItsTrailer) {
  Builder b;
  // The trailer byte 0x02 would be an invalid record if it were left unread.
  b.raw({0x04, 0x00, 0x02}).raw(unit_m()).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, HdrBodyPastItsFieldsIsSkipped) {
  Builder b;
  b.record(tekrec::HDR, Fields().u8(0).u16(0).u16(0).u8(0).u8(1).bytes("\x7E\x04\x7E\x02"));
  b.raw(unit_m()).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, HdrHeaderTypeAbove15EndsThePass) {
  struct Case {
    uint8_t header_type;
    const char* out;
    Bytes ctx;
  } cases[] = {
      {0x00, "Created in.ctx\n", header_module()},
      {0x0F, "Created in.ctx\n", header_module()},
      {0x10, "Invalid record type (HDR)\nCreated in.ctx\n", Ctx().predefined().bytes()},
      {0xF0, "Invalid record type (HDR)\nCreated in.ctx\n", Ctx().predefined().bytes()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.header_type));
    Builder b;
    b.hdr(c.header_type).raw(unit_m()).end();
    RunResult r = run_on(b);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_BYTES(ctx_file(), c.ctx);
  }
}

TEST_F(ReaderTest, FirstRecordOtherThanHdrEndsThePassSilently) {
  struct Case {
    const char* what;
    Bytes first;
  } cases[] = {
      {"UNIT", unit_m()},
      {"END", Builder().end().bytes()},
      {"a skipped code", Builder().record(0x0C, Fields().u8(1)).bytes()},
      {"an invalid code", {0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b;
    b.raw(c.first).hdr().raw(unit_m()).end();
    RunResult r = run_on(b);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), "Created in.ctx\n");
    EXPECT_BYTES(ctx_file(), Ctx().predefined().bytes());
  }
}

TEST_F(ReaderTest, EmptyFileEndsThePassSilently) {
  Builder b;
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), Ctx().predefined().bytes());
}

TEST_F(ReaderTest, SecondHdrIsAnInvalidRecord) {
  Builder b;
  b.hdr().raw(unit_m()).hdr().unit("n", "MC68000", 1, 0x04).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Invalid record\nCreated in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, EndOfFileBeforeEndIsOneInvalidRecord) {
  Builder b;
  b.hdr().raw(unit_m());
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Invalid record\nCreated in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, RecordCutShortByTheEndOfFileStillReachesItsHandler) {
  Bytes unit = Builder().unit("abc", "MC68000", 1, 0x04).bytes();
  // Type byte, length, 13 body bytes before the module name, its length byte, 'a', 'b'.
  unit.resize(2 + 13 + 1 + 2);
  Builder b;
  b.hdr().raw(unit);
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Invalid record\nCreated in.ctx\n");
  EXPECT_BYTES(ctx_file(), Ctx().header().module(1, "ab").predefined().bytes());
}

TEST_F(ReaderTest, NothingAfterEndIsRead) {
  Builder b;
  b.hdr().end().raw({0x02, 0x00, 0x00}).raw(unit_m()).raw({0x04, 0x01});
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_only());
}

TEST_F(ReaderTest, EndWithABodyIsSkippedWhole) {
  Builder b;
  b.hdr().record(tekrec::END, Fields().u8(0x04).u8(0x7E));
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
}

constexpr uint8_t SKIPPED[] = {0x0C, 0x0E, 0x10, 0x14, 0x22, 0x24, 0x2C, 0x2E, 0x38, 0x3A,
                               0x42, 0x46, 0x6A, 0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C};

TEST_F(ReaderTest, SkippedCodesAreSteppedOverWithOneOrTwoLengthBytes) {
  for (uint8_t code : SKIPPED) {
    for (bool long_length : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "code " << static_cast<int>(code) << (long_length ? " long" : " short"));
      // A body that would read as END, HDR or an invalid record if it were taken as records.
      Bytes rec = Builder().record(code, Fields().u8(0x7E).u8(0x04).u8(0x02)).bytes();
      Builder b;
      b.hdr().raw(long_length ? long_form(rec) : rec).raw(unit_m()).end();
      RunResult r = run_on(b);
      EXPECT_EQ(r.body(), "Created in.ctx\n");
      EXPECT_BYTES(ctx_file(), header_module());
    }
  }
}

TEST_F(ReaderTest, SkippedRecordWithLength0xFFFFConsumes0x10000Bytes) {
  Builder b;
  b.hdr().record(0x0C, Fields().bytes(std::string(0xFFFF, '\x7E'))).raw(unit_m()).end();
  ASSERT_EQ(Bytes(b.bytes().begin() + 10, b.bytes().begin() + 13), (Bytes{0x0D, 0xFF, 0xFF}));
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, EveryOtherCodeIsInvalidAndEndsThePass) {
  const uint8_t invalid[] = {0x00, 0x01, 0x02, 0x03, 0x0A, 0x12, 0x16, 0x1E, 0x3C, 0x3E, 0x44,
                             0x60, 0x66, 0x7C, 0x80, 0x8E, 0x9E, 0xA2, 0xA4, 0xC0, 0xFE, 0xFF};
  for (uint8_t type_byte : invalid) {
    SCOPED_TRACE(static_cast<int>(type_byte));
    Builder b;
    b.hdr().raw({type_byte, 0x00, 0x00, 0x00}).raw(unit_m()).end();
    RunResult r = run_on(b);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), "Invalid record\nCreated in.ctx\n");
    EXPECT_BYTES(ctx_file(), header_only());
  }
}

TEST_F(ReaderTest, OddTypeByteSelectsTheHandlerWithATwoByteLength) {
  Builder b;
  b.hdr().raw(long_form(unit_m())).end();
  ASSERT_EQ(b.bytes()[10], 0x07);
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), "Created in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, FailingHandlerWhoseResultCountsEndsThePass) {
  Builder b;
  b.hdr().raw(unit_m()).cl(0x1000, "P", 0x08).unit("n", "MC68000", 1, 0x04).end();
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Not support record (CL)\nCreated in.ctx\n");
  EXPECT_BYTES(ctx_file(), header_module());
}

TEST_F(ReaderTest, DumpOfAFileWithoutHdrListsOnlyThePredefinedTypes) {
  Builder b;
  b.raw(unit_m()).end();
  EXPECT_EQ(dump(b, "-s"), predefined_dump());
}

}  // namespace
