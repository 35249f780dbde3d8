// The record stream's raw reads, framing and field readers, driven directly on an input file.
#include "reader/stream.hpp"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "driver/converter.hpp"
#include "driver/fatal.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

class StreamTest : public TempDirTest {
 protected:
  // Makes the bytes the converter's input, positioned at the first byte.
  void open(const Bytes& bytes) {
    write_file("in.abs", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(tek::open_input(*cv, "in.abs"));
  }
  std::unique_ptr<tek::Converter> cv = std::make_unique<tek::Converter>();
};

enum Reader { BYTE, WORD, TRI, LONG, ADDR };

struct FieldCase {
  const char* what;
  Reader reader;
  uint16_t rec_len;   // body bytes left before the read
  uint16_t width;     // address width, for ADDR
  uint32_t value;     // expected result
  uint16_t left;      // expected rec_len afterwards
  uint8_t next_byte;  // the file byte that the next raw read must deliver
};

// The file always holds 11 22 33 44 55 66 77 88 99.
const FieldCase FIELD_CASES[] = {
    {"byte, nothing left: reads nothing", BYTE, 0, 0, 0, 0, 0x11},
    {"byte", BYTE, 2, 0, 0x11, 1, 0x22},
    {"word, nothing left: reads nothing", WORD, 0, 0, 0, 0, 0x11},
    {"word", WORD, 3, 0, 0x1122, 1, 0x33},
    {"word with one body byte left runs into the trailer", WORD, 1, 0, 0x1122, 0, 0x33},
    {"tri, nothing left", TRI, 0, 0, 0, 0, 0x11},
    {"tri", TRI, 4, 0, 0x112233, 1, 0x44},
    {"tri with two body bytes left: low byte 0", TRI, 2, 0, 0x112200, 0, 0x33},
    {"tri with one body byte left", TRI, 1, 0, 0x110000, 0, 0x22},
    {"long, nothing left", LONG, 0, 0, 0, 0, 0x11},
    {"long", LONG, 6, 0, 0x11223344, 2, 0x55},
    {"long with one body byte left reads four", LONG, 1, 0, 0x11223344, 0, 0x55},
    {"long with three body bytes left reads four", LONG, 3, 0, 0x11223344, 0, 0x55},
    {"addr, width 0: one byte", ADDR, 8, 0, 0x11, 7, 0x22},
    {"addr, width 1: one byte", ADDR, 8, 1, 0x11, 7, 0x22},
    {"addr, width 2: word", ADDR, 8, 2, 0x1122, 6, 0x33},
    {"addr, width 3: tri", ADDR, 8, 3, 0x112233, 5, 0x44},
    {"addr, width 4: long", ADDR, 8, 4, 0x11223344, 4, 0x55},
    {"addr, width 5: one byte", ADDR, 8, 5, 0x11, 7, 0x22},
    {"addr, width 15: one byte", ADDR, 8, 15, 0x11, 7, 0x22},
    {"addr, width 3 with two left", ADDR, 2, 3, 0x112200, 0, 0x33},
};

TEST_F(StreamTest, FieldReadersAccountForTheBody) {
  for (const FieldCase& c : FIELD_CASES) {
    SCOPED_TRACE(c.what);
    cv = std::make_unique<tek::Converter>();
    open({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99});
    cv->rd.rec_len = c.rec_len;
    cv->units.addr_width = c.width;
    uint32_t v = 0;
    switch (c.reader) {
      case BYTE:
        v = tek::get_byte(*cv);
        break;
      case WORD:
        v = tek::get_word(*cv);
        break;
      case TRI:
        v = tek::get_tri(*cv);
        break;
      case LONG:
        v = tek::get_long(*cv);
        break;
      case ADDR:
        v = tek::get_addr(*cv);
        break;
    }
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(cv->rd.rec_len, c.left);
    EXPECT_EQ(tek::get_raw(*cv, 1), c.next_byte);
  }
}

TEST_F(StreamTest, RawReadsAreBigEndianAndLeaveTheBodyCountAlone) {
  open({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x02});
  cv->rd.rec_len = 7;
  EXPECT_EQ(tek::get_raw(*cv, 1), 0x12u);
  EXPECT_EQ(tek::get_raw(*cv, 2), 0x3456u);
  EXPECT_EQ(tek::get_raw(*cv, 3), 0x789ABCu);
  EXPECT_EQ(tek::get_raw(*cv, 4), 0xDEF00102u);
  EXPECT_EQ(cv->rd.rec_len, 7);
}

TEST_F(StreamTest, PastTheEndOfTheFileEveryByteReadsAsZero) {
  open({0xAB, 0xCD});
  EXPECT_EQ(tek::get_raw(*cv, 4), 0xABCD0000u);
  EXPECT_EQ(tek::get_raw(*cv, 1), 0u);
  cv->rd.rec_len = 4;
  EXPECT_EQ(tek::get_long(*cv), 0u);
  EXPECT_EQ(cv->rd.rec_len, 0);
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
  open({0x06, 0x05, 0x07, 0x01, 0x02, 0x7F, 0xFF, 0xEE, 0x00});
  EXPECT_EQ(tek::get_rectype(*cv), 0x06u);
  EXPECT_EQ(cv->rd.long_len, 0);
  tek::get_reclen(*cv);
  EXPECT_EQ(cv->rd.rec_len, 5);

  EXPECT_EQ(tek::get_rectype(*cv), 0x06u);  // 0x07: the same code with a 2-byte length
  EXPECT_EQ(cv->rd.long_len, 1);
  tek::get_reclen(*cv);
  EXPECT_EQ(cv->rd.rec_len, 0x0102);

  EXPECT_EQ(tek::get_rectype(*cv), 0x7Eu);
  EXPECT_EQ(cv->rd.long_len, 1);
  tek::get_reclen(*cv);
  EXPECT_EQ(cv->rd.rec_len, 0xFFEE);
}

TEST_F(StreamTest, SkipConsumesTheRestOfTheBodyAndTheTrailer) {
  open({0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
  cv->rd.rec_len = 4;
  EXPECT_EQ(tek::get_byte(*cv), 0x11u);
  tek::skip_rec(*cv);  // three body bytes and the trailer
  EXPECT_EQ(tek::get_raw(*cv, 1), 0x66u);
}

TEST_F(StreamTest, SkipOfTheLongestBodyConsumes0x10000Bytes) {
  Bytes file(0x10000, 0x00);
  file[0xFFFF] = 0x5A;  // the trailer byte
  file.push_back(0xA5);
  open(file);
  cv->rd.rec_len = 0xFFFF;
  tek::skip_rec(*cv);
  EXPECT_EQ(cv->rd.rec_len, 0xFFFF);
  EXPECT_EQ(tek::get_raw(*cv, 1), 0xA5u);
}

TEST_F(StreamTest, NamesEndAtTheirFirstZeroByteButConsumeTheirWholeLength) {
  open({5, 'a', 'b', 0, 'c', 'd', 0x77});
  cv->rd.rec_len = 7;
  char name[256];
  tek::get_name(*cv, name);
  EXPECT_STREQ(name, "ab");
  EXPECT_EQ(cv->rd.rec_len, 1);
  EXPECT_EQ(tek::get_byte(*cv), 0x77u);
}

TEST_F(StreamTest, NameCutShortByTheBodyReadsZerosForTheMissingBytes) {
  open({4, 'x', 'y', 0x7E, 0x00});
  cv->rd.rec_len = 3;  // length byte and two characters; the rest lies past the body
  char name[256];
  tek::get_name(*cv, name);
  EXPECT_STREQ(name, "xy");
  EXPECT_EQ(cv->rd.rec_len, 0);
  EXPECT_EQ(tek::get_raw(*cv, 1), 0x7Eu);  // the trailer byte stays unread
}

TEST_F(StreamTest, LongestNameFillsTheBuffer) {
  Bytes file = {255};
  for (int i = 0; i < 255; ++i) file.push_back(static_cast<uint8_t>('a' + i % 26));
  open(file);
  cv->rd.rec_len = 256;
  char name[256];
  tek::get_name(*cv, name);
  EXPECT_EQ(std::string(name).size(), 255u);
  EXPECT_EQ(name[254], 'a' + 254 % 26);
}

TEST_F(StreamTest, FailedReadIsAReadErrorNotTheEndOfTheFile) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  cv->out.console = console;
  open({0x04, 0x07, 0x00});
  cv->rd.in.fail_after = 2;  // the first read of the file fails
  int status = 0;
  try {
    tek::get_raw(*cv, 1);
  } catch (const tek::RunExit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 255);
  std::fclose(console);
  EXPECT_EQ(std::string(text, size), "Error : Read error\n");
  std::free(text);
  cv->out.console = stdout;
}

TEST_F(StreamTest, DirectoryIsNotAnInput) {
  ASSERT_EQ(::mkdir("d.abs", 0755), 0);
  EXPECT_FALSE(tek::open_input(*cv, "d.abs"));
  EXPECT_FALSE(tek::open_input(*cv, "missing.abs"));
  EXPECT_FALSE(tek::open_input(*cv, ""));
}

}  // namespace
