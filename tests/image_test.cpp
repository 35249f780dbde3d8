// Memory image records: DATA, ZERO and REPEAT blocks written as OBJECT records of at most 256
// bytes from the current location.
#include <string>
#include <vector>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

class ImageTest : public TempDirTest {};

// n bytes of a recognisable sequence.
Bytes seq(size_t n, uint8_t seed = 0) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

// A plain MC68000 unit with 4-byte addresses whose section 0 starts at 0x1000; the current
// location is 0x1000 when the records of a case begin.
Builder at_0x1000() {
  Builder b;
  b.hdr();
  b.unit("m", "MC68000", 1, 0x04).cl(0x1000, "P").sect(0, 0);
  return b;
}

// The records of at_0x1000() followed by the block placed from 0x1000 on, cut into `full`
// chunks of 256 bytes and a last chunk of `last` bytes.
Ctx image(const Bytes& block, size_t full, size_t last) {
  Ctx c;
  c.header().module(1, "m");
  EXPECT_EQ(block.size(), full * 256 + last);
  if (block.size() != full * 256 + last) return c;
  for (size_t i = 0; i <= full; ++i) {
    auto from = block.begin() + static_cast<long>(i * 256);
    c.object(static_cast<uint32_t>(0x1000 + i * 256), Bytes(from, from + (i < full ? 256 : last)));
  }
  return c;
}

// Each block is followed by a one-byte DATA probe, which shows where the location ended.
TEST_F(ImageTest, Chunking) {
  const struct {
    const char* what;
    uint8_t record;
    uint16_t count;  // ZERO and REPEAT
    Bytes bytes;     // DATA: the image; ZERO (00) and REPEAT: the pattern repeated count times
    size_t full;     // chunks of 256 bytes
    size_t last;     // length of the last chunk
  } cases[] = {
      {"DATA of 600 bytes", tekrec::DATA, 0, seq(600), 2, 88},
      {"DATA of 256 bytes", tekrec::DATA, 0, seq(256), 0, 256},
      {"DATA of 257 bytes", tekrec::DATA, 0, seq(257), 1, 1},
      {"empty DATA", tekrec::DATA, 0, {}, 0, 0},
      {"ZERO of 0x300", tekrec::ZERO, 0x300, {0}, 2, 256},
      {"ZERO of 0x301", tekrec::ZERO, 0x301, {0}, 3, 1},
      {"ZERO of 0", tekrec::ZERO, 0, {0}, 0, 0},
      {"REPEAT 100 x FF", tekrec::REPEAT, 100, {0xFF}, 0, 100},
      {"REPEAT 256 x 11", tekrec::REPEAT, 256, {0x11}, 0, 256},
      {"REPEAT 200 x AA BB", tekrec::REPEAT, 200, {0xAA, 0xBB}, 1, 144},
      {"REPEAT 0 x AB", tekrec::REPEAT, 0, {0xAB}, 0, 0},
      {"REPEAT 5 x empty pattern", tekrec::REPEAT, 5, {}, 0, 0},
      {"REPEAT 2 x 256-byte pattern", tekrec::REPEAT, 2, seq(256, 5), 1, 256},
      // Pattern lengths that do not divide 256: cut like a DATA block of count x P bytes.
      {"REPEAT 100 x 0A 0B 0C", tekrec::REPEAT, 100, {0x0A, 0x0B, 0x0C}, 1, 44},
      {"REPEAT 1 x 300-byte pattern", tekrec::REPEAT, 1, seq(300), 1, 44},
      {"REPEAT 2 x 1000-byte pattern", tekrec::REPEAT, 2, seq(1000, 1), 7, 208},
      {"REPEAT 0xFFFF x 01 02 03", tekrec::REPEAT, 0xFFFF, {1, 2, 3}, 767, 253},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = at_0x1000();
    if (c.record == tekrec::DATA) b.data(c.bytes);
    if (c.record == tekrec::ZERO) b.zero(c.count);
    if (c.record == tekrec::REPEAT) b.repeat(c.count, c.bytes);
    Bytes block = c.record == tekrec::DATA ? c.bytes : Bytes();
    for (size_t i = 0; c.record != tekrec::DATA && i < c.count; ++i)
      block.insert(block.end(), c.bytes.begin(), c.bytes.end());
    b.data({0xEE}).end();
    Ctx want = image(block, c.full, c.last);
    want.object(static_cast<uint32_t>(0x1000 + block.size()), {0xEE});
    EXPECT_BYTES(convert(b), want.predefined().bytes());
  }
}

// A body cut short by the end of the file still yields its chunks; what lies past the end reads
// as zero bytes. The pass then ends at the next record boundary.
TEST_F(ImageTest, BodyCutShortByEndOfFile) {
  Builder b = at_0x1000();
  b.raw({0x27, 0x01, 0x2C}).raw(seq(100));  // DATA of 300 bytes, 100 present
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), "Invalid record\nCreated in.ctx\n");
  Bytes block = seq(100);
  block.resize(300, 0);
  EXPECT_BYTES(file_bytes("in.ctx"), image(block, 1, 44).predefined().bytes());
}

// In a segmented unit the OBJECT address is converted while the location advances unconverted.
TEST_F(ImageTest, SegmentedUnit) {
  Builder b;
  b.hdr();
  b.unit("s", "MC68000", 2, 0x84, 20);
  b.cl(0x12000, "P", 0, 0xF0).cl(0x12000, "Q", 0, 0xF8);
  b.sect(0, 0).data(seq(0x20)).data({0xEE});
  b.sect(0, 1).data(seq(600)).zero(0x10).repeat(2, {0xAA, 0xBB}).data({0xEF});
  b.end();
  EXPECT_EQ(dump(b, "-s"), predefined_dump() + line::header() + line::module(1, "s") +
                               line::object(0x120F0000, 0x20) + line::object(0x12110000, 1) +
                               line::object(0x120F0008, 256) +  // location 0x120F8
                               line::object(0x121F0008, 256) +  // 0x121F8
                               line::object(0x122F0008, 88) +   // 0x122F8
                               line::object(0x12350000, 0x10) + line::object(0x12360000, 4) +
                               line::object(0x12360004, 1));
}

// Before any SECT or LOCATE the location is where the program started: 0. The location is a
// 32-bit address and wraps past 0xFFFFFFFF.
TEST_F(ImageTest, LocationStartsAtZeroAndWraps) {
  Builder b;
  b.hdr().data({1, 2}).zero(2);
  b.unit("m", "MC68000", 1, 0x04).cl(0xFFFFFF80, "P").sect(0, 0);
  b.zero(0x100).data({1}).end();
  EXPECT_EQ(dump(b, "-s"), predefined_dump() + line::header() + line::object(0, 2) +
                               line::object(2, 2) + line::module(1, "m") +
                               line::object(0xFFFFFF80, 256) + line::object(0x80, 1));
}

}  // namespace
