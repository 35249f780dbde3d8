// The record stream's raw reads, framing and field readers, driven directly on an input file.
#include "reader/stream.hpp"

#include <memory>

#include "driver/converter.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

class StreamTest : public TempDirTest {
 protected:
  // Makes the bytes the input of a fresh converter, positioned at the first byte.
  void open(const Bytes& bytes) {
    cv = std::make_unique<tek::Converter>();
    write_file("in.abs", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(tek::open_input(*cv, "in.abs"));
  }
  std::unique_ptr<tek::Converter> cv;
};

TEST_F(StreamTest, FieldReadersAccountForTheBody) {
  const struct {
    const char* what;
    uint32_t (*read)(tek::Converter&);
    uint16_t rec_len;   // body bytes left before the read
    uint16_t width;     // address width, for get_addr
    uint32_t value;     // expected result
    uint16_t left;      // expected rec_len afterwards
    uint8_t next_byte;  // the file byte that the next raw read must deliver
  } cases[] = {
      // The file always holds 11 22 33 44 55 66 77 88 99.
      {"byte, nothing left: reads nothing", tek::get_byte, 0, 0, 0, 0, 0x11},
      {"word, nothing left: reads nothing", tek::get_word, 0, 0, 0, 0, 0x11},
      {"word", tek::get_word, 3, 0, 0x1122, 1, 0x33},
      {"word with one body byte left runs into the trailer", tek::get_word, 1, 0, 0x1122, 0, 0x33},
      {"tri", tek::get_tri, 4, 0, 0x112233, 1, 0x44},
      {"tri with two body bytes left: low byte 0", tek::get_tri, 2, 0, 0x112200, 0, 0x33},
      {"long, nothing left", tek::get_long, 0, 0, 0, 0, 0x11},
      {"long", tek::get_long, 6, 0, 0x11223344, 2, 0x55},
      {"long with three body bytes left reads four", tek::get_long, 3, 0, 0x11223344, 0, 0x55},
      {"addr, width 0: one byte", tek::get_addr, 8, 0, 0x11, 7, 0x22},
      {"addr, width 2: word", tek::get_addr, 8, 2, 0x1122, 6, 0x33},
      {"addr, width 3: tri", tek::get_addr, 8, 3, 0x112233, 5, 0x44},
      {"addr, width 4: long", tek::get_addr, 8, 4, 0x11223344, 4, 0x55},
      {"addr, width 5: one byte", tek::get_addr, 8, 5, 0x11, 7, 0x22},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    open({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99});
    cv->rd.rec_len = c.rec_len;
    cv->units.addr_width = c.width;
    EXPECT_EQ(c.read(*cv), c.value);
    EXPECT_EQ(cv->rd.rec_len, c.left);
    EXPECT_EQ(tek::get_raw(*cv, 1), c.next_byte);
  }
}

TEST_F(StreamTest, RawReadsAreBigEndianLeaveTheBodyCountAloneAndReadZerosPastTheEnd) {
  open({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x02, 0xAB});
  cv->rd.rec_len = 7;
  EXPECT_EQ(tek::get_raw(*cv, 1), 0x12u);
  EXPECT_EQ(tek::get_raw(*cv, 2), 0x3456u);
  EXPECT_EQ(tek::get_raw(*cv, 3), 0x789ABCu);
  EXPECT_EQ(tek::get_raw(*cv, 4), 0xDEF00102u);
  EXPECT_EQ(cv->rd.rec_len, 7);
  EXPECT_EQ(tek::get_raw(*cv, 4), 0xAB000000u);
  EXPECT_EQ(tek::get_raw(*cv, 1), 0u);
  EXPECT_EQ(tek::get_long(*cv), 0u);
  EXPECT_EQ(cv->rd.rec_len, 3);
}

TEST_F(StreamTest, BlockReadFillsWhatLiesPastTheEndWithZeros) {
  open({1, 2, 3});
  uint8_t buf[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  cv->rd.rec_len = 9;
  EXPECT_EQ(tek::get_raw(*cv, 1), 1u);
  EXPECT_EQ(tek::get_block(*cv, buf, 5), 2u);  // the bytes actually read
  EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{2, 3, 0, 0, 0, 0xEE}));
  EXPECT_EQ(cv->rd.rec_len, 9);
}

TEST_F(StreamTest, FramingReadsTheTypeByteAndOneOrTwoLengthBytes) {
  open({0x06, 0x05, 0x07, 0x01, 0x02, 0x7F, 0xFF, 0xEE});
  const struct {
    uint32_t code;
    uint16_t long_len, rec_len;
  } records[] = {{0x06, 0, 5}, {0x06, 1, 0x0102}, {0x7E, 1, 0xFFEE}};
  for (const auto& r : records) {
    EXPECT_EQ(tek::get_rectype(*cv), r.code);
    EXPECT_EQ(cv->rd.long_len, r.long_len);
    tek::get_reclen(*cv);
    EXPECT_EQ(cv->rd.rec_len, r.rec_len);
  }
}

TEST_F(StreamTest, SkipConsumesTheRestOfTheBodyAndTheTrailer) {
  open({0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
  cv->rd.rec_len = 4;
  EXPECT_EQ(tek::get_byte(*cv), 0x11u);
  tek::skip_rec(*cv);  // three body bytes and the trailer
  EXPECT_EQ(tek::get_raw(*cv, 1), 0x66u);
}

TEST_F(StreamTest, NamesEndAtTheirFirstZeroByteButConsumeTheirWholeLength) {
  Bytes longest = {255};
  for (int i = 0; i < 255; ++i) longest.push_back(static_cast<uint8_t>('a' + i % 26));
  longest.push_back(0x77);
  const struct {
    const char* what;
    Bytes file;
    uint16_t rec_len;
    std::string name;
    uint16_t left;
    uint8_t next_byte;
  } cases[] = {
      {"a zero byte inside", {5, 'a', 'b', 0, 'c', 'd', 0x77}, 7, "ab", 1, 0x77},
      // The length byte and two characters; the rest lies past the body and reads as zeros.
      {"cut short by the body", {4, 'x', 'y', 0x7E, 0x00}, 3, "xy", 0, 0x7E},
      {"255 characters", longest, 256, std::string(longest.begin() + 1, longest.end() - 1), 0,
       0x77},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    open(c.file);
    cv->rd.rec_len = c.rec_len;
    char name[256];
    tek::get_name(*cv, name);
    EXPECT_EQ(std::string(name), c.name);
    EXPECT_EQ(cv->rd.rec_len, c.left);
    EXPECT_EQ(tek::get_raw(*cv, 1), c.next_byte);
  }
}

}  // namespace
