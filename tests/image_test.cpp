// Memory image records: DATA, ZERO and REPEAT blocks written as OBJECT records of at most 256
// bytes from the current location.
#include <string>
#include <vector>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;

namespace {

class ImageTest : public TempDirTest {};

const char* const CREATED = "Created in.ctx\n";

Bytes ctx_file() {
  std::string s = read_file("in.ctx");
  return Bytes(s.begin(), s.end());
}

// n bytes of a recognisable sequence.
Bytes seq(size_t n, uint8_t seed = 0) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

Bytes fill(size_t n, uint8_t value) {
  return Bytes(n, value);
}

Bytes slice(const Bytes& b, size_t at, size_t n) {
  return Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

Bytes repeated(const Bytes& pattern, size_t count) {
  Bytes v;
  for (size_t i = 0; i < count; ++i) v.insert(v.end(), pattern.begin(), pattern.end());
  return v;
}

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes v = a;
  v.insert(v.end(), b.begin(), b.end());
  return v;
}

struct Chunk {
  uint32_t addr;
  Bytes data;
};

// A plain MC68000 unit with 4-byte addresses whose section 0 starts at 0x1000; the current
// location is 0x1000 when the records of a case begin.
Builder at_0x1000() {
  Builder b;
  b.hdr();
  b.unit("m", "MC68000", 1, 0x04).cl(0x1000, "P").sect(0, 0);
  return b;
}

// The context file of at_0x1000() followed by the given OBJECT records.
Bytes expected(const std::vector<Chunk>& chunks) {
  Ctx c;
  c.header().module(1, "m");
  for (const Chunk& k : chunks) c.object(k.addr, k.data);
  return c.predefined().bytes();
}

struct ImageCase {
  const char* what;
  void (*records)(Builder&);
  std::vector<Chunk> chunks;
  uint32_t location;  // the current location afterwards
};

// Each case is followed by a one-byte DATA probe, which shows where the location ended.
TEST_F(ImageTest, Chunking) {
  const Bytes data600 = seq(600);
  const Bytes data512 = seq(512, 3);
  const Bytes pattern100 = seq(100, 9);
  const Bytes block300 = repeated(pattern100, 3);
  const Bytes pattern1000 = seq(1000, 1);
  const Bytes block2000 = repeated(pattern1000, 2);
  const Bytes abc100 = repeated({0x0A, 0x0B, 0x0C}, 100);

  const ImageCase cases[] = {
      {"DATA of 600 bytes",
       [](Builder& b) { b.data(seq(600)); },
       {{0x1000, slice(data600, 0, 256)},
        {0x1100, slice(data600, 256, 256)},
        {0x1200, slice(data600, 512, 88)}},
       0x1258},
      {"DATA of 256 bytes", [](Builder& b) { b.data(seq(256)); }, {{0x1000, seq(256)}}, 0x1100},
      {"DATA of 257 bytes",
       [](Builder& b) { b.data(seq(257)); },
       {{0x1000, seq(256)}, {0x1100, slice(seq(257), 256, 1)}},
       0x1101},
      {"DATA of 512 bytes",
       [](Builder& b) { b.data(seq(512, 3)); },
       {{0x1000, slice(data512, 0, 256)}, {0x1100, slice(data512, 256, 256)}},
       0x1200},
      {"DATA of 1 byte", [](Builder& b) { b.data({0x42}); }, {{0x1000, {0x42}}}, 0x1001},
      {"empty DATA", [](Builder& b) { b.data({}); }, {{0x1000, {}}}, 0x1000},
      {"two DATA records follow each other",
       [](Builder& b) {
         b.data({1, 2, 3}).data({4, 5});
       },
       {{0x1000, {1, 2, 3}}, {0x1003, {4, 5}}},
       0x1005},
      {"ZERO of 0x300",
       [](Builder& b) { b.zero(0x300); },
       {{0x1000, fill(256, 0)}, {0x1100, fill(256, 0)}, {0x1200, fill(256, 0)}},
       0x1300},
      {"ZERO of 0x301",
       [](Builder& b) { b.zero(0x301); },
       {{0x1000, fill(256, 0)}, {0x1100, fill(256, 0)}, {0x1200, fill(256, 0)}, {0x1300, {0}}},
       0x1301},
      {"ZERO of 5", [](Builder& b) { b.zero(5); }, {{0x1000, fill(5, 0)}}, 0x1005},
      {"ZERO of 0", [](Builder& b) { b.zero(0); }, {{0x1000, {}}}, 0x1000},
      {"REPEAT 100 x FF",
       [](Builder& b) { b.repeat(100, {0xFF}); },
       {{0x1000, fill(100, 0xFF)}},
       0x1064},
      {"REPEAT 256 x 11",
       [](Builder& b) { b.repeat(256, {0x11}); },
       {{0x1000, fill(256, 0x11)}},
       0x1100},
      {"REPEAT 200 x AA BB",
       [](Builder& b) {
         b.repeat(200, {0xAA, 0xBB});
       },
       {{0x1000, repeated({0xAA, 0xBB}, 128)}, {0x1100, repeated({0xAA, 0xBB}, 72)}},
       0x1190},
      {"REPEAT 0 x AB", [](Builder& b) { b.repeat(0, {0xAB}); }, {{0x1000, {}}}, 0x1000},
      {"REPEAT 5 x empty pattern", [](Builder& b) { b.repeat(5, {}); }, {{0x1000, {}}}, 0x1000},
      {"REPEAT with a 256-byte pattern",
       [](Builder& b) { b.repeat(2, seq(256, 5)); },
       {{0x1000, seq(256, 5)}, {0x1100, seq(256, 5)}},
       0x1200},
      // Pattern lengths that do not divide 256: cut like a DATA block of count x P bytes.
      {"REPEAT 100 x 0A 0B 0C",
       [](Builder& b) {
         b.repeat(100, {0x0A, 0x0B, 0x0C});
       },
       {{0x1000, slice(abc100, 0, 256)}, {0x1100, slice(abc100, 256, 44)}},
       0x112C},
      {"REPEAT 3 x 100-byte pattern",
       [](Builder& b) { b.repeat(3, seq(100, 9)); },
       {{0x1000, slice(block300, 0, 256)}, {0x1100, slice(block300, 256, 44)}},
       0x112C},
      {"REPEAT 1 x 300-byte pattern",
       [](Builder& b) { b.repeat(1, seq(300)); },
       {{0x1000, seq(256)}, {0x1100, slice(seq(300), 256, 44)}},
       0x112C},
      {"REPEAT 2 x 1000-byte pattern",
       [](Builder& b) { b.repeat(2, seq(1000, 1)); },
       {{0x1000, slice(block2000, 0, 256)},
        {0x1100, slice(block2000, 256, 256)},
        {0x1200, slice(block2000, 512, 256)},
        {0x1300, slice(block2000, 768, 256)},
        {0x1400, slice(block2000, 1024, 256)},
        {0x1500, slice(block2000, 1280, 256)},
        {0x1600, slice(block2000, 1536, 256)},
        {0x1700, slice(block2000, 1792, 208)}},
       0x17D0},
  };
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b = at_0x1000();
    c.records(b);
    b.data({0xEE}).end();
    std::vector<Chunk> want = c.chunks;
    want.push_back({c.location, {0xEE}});
    EXPECT_BYTES(convert(b), expected(want));
  }
}

// A long REPEAT block: the count times the pattern, in full chunks and one last chunk.
TEST_F(ImageTest, RepeatLargeCount) {
  Builder b = at_0x1000();
  b.repeat(0xFFFF, {0x01, 0x02, 0x03}).data({0xEE}).end();
  // 0xFFFF x 3 = 196605 bytes = 767 chunks of 256 and one of 253.
  const Bytes block = repeated({0x01, 0x02, 0x03}, 0xFFFF);
  std::vector<Chunk> want;
  for (uint32_t i = 0; i < 767; ++i) want.push_back({0x1000 + i * 256, slice(block, i * 256, 256)});
  want.push_back({0x1000 + 767 * 256, slice(block, 767 * 256, 253)});
  want.push_back({0x1000 + 196605, {0xEE}});
  EXPECT_BYTES(convert(b), expected(want));
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
  const Bytes data600 = seq(600);
  Ctx want;
  want.header()
      .module(1, "s")
      .object(0x120F0000, seq(0x20))
      .object(0x12110000, {0xEE})
      .object(0x120F0008, slice(data600, 0, 256))    // 0x120F8
      .object(0x121F0008, slice(data600, 256, 256))  // 0x121F8
      .object(0x122F0008, slice(data600, 512, 88))   // 0x122F8
      .object(0x12350000, fill(0x10, 0))             // 0x12350
      .object(0x12360000, {0xAA, 0xBB, 0xAA, 0xBB})  // 0x12360
      .object(0x12360004, {0xEF})                    // 0x12364
      .predefined();
  EXPECT_BYTES(convert(b), want.bytes());
}

// Form 2 (address-space width 24) keeps the low 8 bits as the offset.
TEST_F(ImageTest, SegmentedUnitForm2) {
  Builder b;
  b.hdr();
  b.unit("s", "MC68000", 1, 0x84, 24).cl(0x1234F0, "P", 0, 0);
  b.sect(0, 0).data(seq(0x20)).data({0xEE}).end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "s")
                               .object(0x123400F0, seq(0x20))
                               .object(0x12350010, {0xEE})
                               .predefined()
                               .bytes());
}

// Before any SECT or LOCATE the location is where the program started: 0.
TEST_F(ImageTest, LocationStartsAtZero) {
  Builder b;
  b.hdr().data({1, 2}).zero(2).end();
  EXPECT_BYTES(convert(b), Ctx().header().object(0, {1, 2}).object(2, {0, 0}).predefined().bytes());
}

// LOCATE selects a section of the current unit; the image continues from its base.
TEST_F(ImageTest, LocateMovesTheLocation) {
  Builder b;
  b.hdr();
  b.unit("m", "MC68000", 2, 0x04).cl(0x1000, "P").cl(0x8000, "D");
  b.locate(1).data({1}).locate(0).data({2}).data({3}).end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "m")
                               .object(0x8000, {1})
                               .object(0x1000, {2})
                               .object(0x1001, {3})
                               .predefined()
                               .bytes());
}

// A DATA body cut short by the end of the file still yields its chunks; what lies past the end
// reads as zero bytes. The pass then ends at the next record boundary.
TEST_F(ImageTest, DataCutShortByEndOfFile) {
  Builder b = at_0x1000();
  Bytes head = {0x27, 0x01, 0x2C};  // DATA with a 2-byte length: 300 bytes
  b.raw(concat(head, seq(100)));
  RunResult r = run_on(b);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body(), std::string("Invalid record\n") + CREATED);
  EXPECT_BYTES(ctx_file(),
               expected({{0x1000, concat(seq(100), fill(156, 0))}, {0x1100, fill(44, 0)}}));
}

TEST_F(ImageTest, RepeatCutShortByEndOfFile) {
  Builder b = at_0x1000();
  b.raw({0x2A, 0x06, 0x00, 0x03, 0x71, 0x72});  // count 3, pattern of 4 bytes, 2 present
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Invalid record\n") + CREATED);
  EXPECT_BYTES(ctx_file(), expected({{0x1000, repeated({0x71, 0x72, 0, 0}, 3)}}));
}

TEST_F(ImageTest, ZeroWithoutTrailer) {
  Builder b = at_0x1000();
  b.raw({0x28, 0x02, 0x01, 0x02});  // ZERO 0x102, the file ends before the trailer byte
  RunResult r = run_on(b);
  EXPECT_EQ(r.body(), std::string("Invalid record\n") + CREATED);
  EXPECT_BYTES(ctx_file(), expected({{0x1000, fill(256, 0)}, {0x1100, fill(2, 0)}}));
}

// The location is a 32-bit address and wraps past 0xFFFFFFFF.
TEST_F(ImageTest, LocationWraps) {
  Builder b;
  b.hdr();
  b.unit("m", "MC68000", 1, 0x04).cl(0xFFFFFF80, "P").sect(0, 0);
  b.zero(0x100).data({1}).end();
  EXPECT_BYTES(convert(b), Ctx()
                               .header()
                               .module(1, "m")
                               .object(0xFFFFFF80, fill(256, 0))
                               .object(0x80, {1})
                               .predefined()
                               .bytes());
}

}  // namespace
