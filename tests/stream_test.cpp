// The record stream: its raw reads, framing and field readers, driven directly on an input file;
// and the record dispatcher (HDR first, END last, skipped and invalid codes, long lengths, a
// stream that runs out before END), each case of which converts a small file and checks the
// whole context file and the whole output after the banner.
#include <memory>
#include <string>
#include <vector>

#include "core/record_reader.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
using tekrec::Fields;

namespace {

class StreamTest : public TempDirTest {
 protected:
  // Makes the bytes the input of a fresh record reader, positioned at the first byte.
  void open(const Bytes& bytes) {
    rd = std::make_unique<tek::RecordReader>();
    write_file("in.abs", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(rd->open("in.abs"));
  }
  std::unique_ptr<tek::RecordReader> rd;
};

TEST_F(StreamTest, FieldReadersAccountForTheBody) {
  const struct {
    const char* what;
    uint32_t (tek::RecordReader::*read)();
    uint16_t rec_len;   // body bytes left before the read
    uint16_t width;     // address width, for get_addr
    uint32_t value;     // expected result
    uint16_t left;      // expected rec_len afterwards
    uint8_t next_byte;  // the file byte that the next raw read must deliver
  } cases[] = {
      // The file always holds 11 22 33 44 55 66 77 88 99.
      {"byte, nothing left: reads nothing", &tek::RecordReader::get_byte, 0, 0, 0, 0, 0x11},
      {"word, nothing left: reads nothing", &tek::RecordReader::get_word, 0, 0, 0, 0, 0x11},
      {"word with one body byte left runs into the trailer", &tek::RecordReader::get_word, 1, 0,
       0x1122, 0, 0x33},
      {"tri with two body bytes left: low byte 0", &tek::RecordReader::get_tri, 2, 0, 0x112200, 0,
       0x33},
      {"long, nothing left", &tek::RecordReader::get_long, 0, 0, 0, 0, 0x11},
      {"long with three body bytes left reads four", &tek::RecordReader::get_long, 3, 0, 0x11223344,
       0, 0x55},
      {"addr, width 0: one byte", &tek::RecordReader::get_addr, 8, 0, 0x11, 7, 0x22},
      {"addr, width 2: word", &tek::RecordReader::get_addr, 8, 2, 0x1122, 6, 0x33},
      {"addr, width 3: tri", &tek::RecordReader::get_addr, 8, 3, 0x112233, 5, 0x44},
      {"addr, width 4: long", &tek::RecordReader::get_addr, 8, 4, 0x11223344, 4, 0x55},
      {"addr, width 5: one byte", &tek::RecordReader::get_addr, 8, 5, 0x11, 7, 0x22},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    open({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99});
    rd->set_remaining(c.rec_len);
    rd->set_addr_width(c.width);
    EXPECT_EQ((rd.get()->*c.read)(), c.value);
    EXPECT_EQ(rd->remaining(), c.left);
    EXPECT_EQ(rd->get_raw(1), c.next_byte);
  }
}

TEST_F(StreamTest, RawReadsAreBigEndianLeaveTheBodyCountAloneAndReadZerosPastTheEnd) {
  open({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x02, 0xAB, 0xCD});
  rd->set_remaining(7);
  EXPECT_EQ(rd->get_raw(1), 0x12u);
  EXPECT_EQ(rd->get_raw(2), 0x3456u);
  EXPECT_EQ(rd->get_raw(3), 0x789ABCu);
  EXPECT_EQ(rd->get_raw(4), 0xDEF00102u);
  uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(rd->get_block(buf, 3), 2u);  // the bytes actually read
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0xAB, 0xCD, 0, 0xEE}));
  EXPECT_EQ(rd->remaining(), 7);
  EXPECT_EQ(rd->get_raw(4), 0u);
  EXPECT_EQ(rd->get_long(), 0u);
  EXPECT_EQ(rd->remaining(), 3);
}

// Each record: its type byte and length, one body byte, then skip_rec over the rest of the body
// and the trailer byte.
TEST_F(StreamTest, FramingAndSkip) {
  open({0x06, 0x02, 0xAA, 0xBB, 0x00, 0x07, 0x00, 0x01, 0xCC, 0x00, 0x7F, 0xFF, 0xEE});
  const struct {
    uint32_t code;
    uint16_t long_len, rec_len;
    uint32_t first;
  } records[] = {{0x06, 0, 2, 0xAA}, {0x06, 1, 1, 0xCC}, {0x7E, 1, 0xFFEE, 0}};
  for (const auto& r : records) {
    EXPECT_EQ(rd->get_rectype(), r.code);
    EXPECT_EQ(rd->long_length(), r.long_len != 0);
    rd->get_reclen();
    EXPECT_EQ(rd->remaining(), r.rec_len);
    EXPECT_EQ(rd->get_byte(), r.first);
    rd->skip_rec();
  }
}

// next_record frames as get_rectype and get_reclen do, and notes where each record begins and its
// code (without the length bit), which the diagnostics name.
TEST_F(StreamTest, NextRecordNotesItsPlace) {
  open({0x06, 0x02, 0xAA, 0xBB, 0x00, 0x07, 0x00, 0x01, 0xCC, 0x00, 0x7F, 0xFF, 0xEE});
  const struct {
    uint32_t code;
    uint64_t offset;
    uint16_t rec_len;
  } records[] = {{0x06, 0, 2}, {0x06, 5, 1}, {0x7E, 10, 0xFFEE}};
  for (const auto& r : records) {
    EXPECT_EQ(rd->next_record(), r.code);
    EXPECT_EQ(rd->place().offset, r.offset);
    EXPECT_EQ(rd->place().code, r.code);
    EXPECT_EQ(rd->remaining(), r.rec_len);
    rd->skip_rec();
  }
  // Past the end of the input the record reads as code 0, at the offset where the input ended.
  EXPECT_EQ(rd->next_record(), 0u);
  EXPECT_EQ(rd->place().offset, 13u);
  EXPECT_TRUE(tek::past_input_end(rd->in, rd->place().offset));
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
    rd->set_remaining(c.rec_len);
    char name[256];
    rd->get_name(name);
    EXPECT_EQ(std::string(name), c.name);
    EXPECT_EQ(rd->remaining(), c.left);
    EXPECT_EQ(rd->get_raw(1), c.next_byte);
  }
}

// A field or name that the input buffer's end cuts is read as one that lies whole in it: the
// file holds filler, then the field, at every offset from before to after the buffer's end.
TEST_F(StreamTest, FieldsAndNamesAcrossTheInputBuffersEnd) {
  const size_t end = tek::INPUT_BUFFER_SIZE;
  Bytes name = {200};
  for (int i = 0; i < 200; ++i) name.push_back(static_cast<uint8_t>(i == 150 ? 0 : 'A' + i % 26));
  std::string expected_name;
  for (int i = 0; i < 150; ++i) expected_name.push_back(static_cast<char>('A' + i % 26));
  for (size_t at = end - 210; at <= end + 1; ++at) {
    SCOPED_TRACE(at);
    Bytes file(at, 0xEE);
    file.insert(file.end(), {0x12, 0x34, 0x56, 0x78});
    file.insert(file.end(), name.begin(), name.end());
    file.push_back(0x77);
    open(file);
    std::vector<uint8_t> skip(at);
    ASSERT_EQ(rd->get_block(skip.data(), at), at);
    rd->set_remaining(4 + 201);
    EXPECT_EQ(rd->get_word(), 0x1234u);
    EXPECT_EQ(rd->get_word(), 0x5678u);
    char got[256];
    rd->get_name(got);
    EXPECT_EQ(std::string(got), expected_name);
    EXPECT_EQ(rd->remaining(), 0);
    EXPECT_EQ(rd->get_raw(1), 0x77u);
    // The same bytes as one long and as the name of a record cut one byte short.
    open(file);
    ASSERT_EQ(rd->get_block(skip.data(), at), at);
    rd->set_remaining(4 + 200);
    EXPECT_EQ(rd->get_long(), 0x12345678u);
    rd->get_name(got);
    EXPECT_EQ(std::string(got), expected_name);
    EXPECT_EQ(rd->remaining(), 0);
    EXPECT_EQ(rd->get_raw(1), static_cast<uint32_t>('A' + 199 % 26));
  }
}

// ---------------------------------------------------------------------------------------------
// The dispatcher

class ReaderTest : public TempDirTest {};

// One record rewritten with a 2-byte length: the type byte gets bit 0.
Bytes long_form(Bytes rec) {
  rec[0] |= 1;
  rec.insert(rec.begin() + 1, 0x00);
  return rec;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes HDR = Builder().hdr().bytes();
const Bytes END = Builder().end().bytes();
// A UNIT record whose MODULE record (modix 1, name m) shows that the record after it was read.
const Bytes UNIT_M = Builder().unit("m", "MC68000", 1, 0x04).bytes();
// The context files of a run that read nothing, HDR alone, and HDR and the UNIT record.
const Bytes NOTHING = Ctx().predefined().bytes();
const Bytes HEADER = Ctx().header().predefined().bytes();
const Bytes HEADER_MODULE = Ctx().header().module(1, "m").predefined().bytes();

struct Case {
  std::string what;
  Bytes input;
  std::string messages;  // printed before "Created in.ctx\n"
  Bytes ctx;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::unlink("in.ctx");
    Builder b;
    b.raw(c.input);
    RunResult r = run_on(b);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), c.messages + "Created in.ctx\n");
    EXPECT_BYTES(file_bytes("in.ctx"), c.ctx);
  }
}

TEST_F(ReaderTest, WhereThePassBeginsAndEnds) {
  Bytes cut_unit = Builder().unit("abc", "MC68000", 1, 0x04).bytes();
  // Type byte, length, 13 body bytes before the module name, its length byte, 'a', 'b'.
  cut_unit.resize(2 + 13 + 1 + 2);
  check({
      {"HDR and END", cat({HDR, END}), "", HEADER},
      {"HDR with a 2-byte length", cat({{0x05, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 1, 0}, UNIT_M, END}),
       "", HEADER_MODULE},
      // The trailer byte 0x02 would be an invalid record if it were left unread.
      {"HDR with an empty body", cat({{0x04, 0x00, 0x02}, UNIT_M, END}), "", HEADER_MODULE},
      {"HDR body past its fields",
       cat({Builder()
                .record(tekrec::HDR,
                        Fields().u8(0).u16(0).u16(0).u8(0).u8(1).bytes("\x7E\x04\x7E\x02"))
                .bytes(),
            UNIT_M, END}),
       "", HEADER_MODULE},
      {"header type 0x0F", cat({Builder().hdr(0x0F).bytes(), UNIT_M, END}), "", HEADER_MODULE},
      {"header type 0x10", cat({Builder().hdr(0x10).bytes(), UNIT_M, END}),
       "Invalid record type (HDR)\n", NOTHING},
      {"empty file", {}, "", NOTHING},
      {"UNIT first", cat({UNIT_M, HDR, UNIT_M, END}), "", NOTHING},
      {"END first", cat({END, HDR, UNIT_M, END}), "", NOTHING},
      {"skipped code first", cat({{0x0C, 0x00, 0x00}, HDR, UNIT_M, END}), "", NOTHING},
      {"invalid code first", cat({{0x00, 0x00, 0x00}, HDR, UNIT_M, END}), "", NOTHING},
      {"second HDR", cat({HDR, UNIT_M, HDR, END}), "Invalid record\n", HEADER_MODULE},
      {"no END", cat({HDR, UNIT_M}), "Invalid record\n", HEADER_MODULE},
      {"record cut short by the end of the file", cat({HDR, cut_unit}), "Invalid record\n",
       Ctx().header().module(1, "ab").predefined().bytes()},
      {"nothing after END is read", cat({HDR, END, {0x02, 0x00, 0x00}, UNIT_M}), "", HEADER},
  });
}

TEST_F(ReaderTest, RecordCodes) {
  std::vector<Case> cases = {
      {"odd type byte: UNIT with a 2-byte length", cat({HDR, long_form(UNIT_M), END}), "",
       HEADER_MODULE},
      {"skipped record of 0xFFFF bytes",
       cat({HDR, Builder().record(0x0C, Fields().bytes(std::string(0xFFFF, '\x7E'))).bytes(),
            UNIT_M, END}),
       "", HEADER_MODULE},
  };
  for (uint8_t code : {0x0C, 0x0E, 0x10, 0x14, 0x22, 0x24, 0x2C, 0x2E, 0x38, 0x3A, 0x42, 0x46, 0x6A,
                       0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C}) {
    // A body that would read as END, HDR or an invalid record if it were taken as records.
    Bytes rec = Builder().record(code, Fields().u8(0x7E).u8(0x04).u8(0x02)).bytes();
    const std::string what = "skipped code " + std::to_string(code);
    cases.push_back({what, cat({HDR, rec, UNIT_M, END}), "", HEADER_MODULE});
    cases.push_back({what + " long", cat({HDR, long_form(rec), UNIT_M, END}), "", HEADER_MODULE});
  }
  for (uint8_t type_byte : {0x00, 0x01, 0x02, 0x03, 0x0A, 0x12, 0x16, 0x1E, 0x3C, 0x3E, 0x44,
                            0x60, 0x66, 0x7C, 0x80, 0x8E, 0x9E, 0xA2, 0xA4, 0xC0, 0xFE, 0xFF}) {
    cases.push_back({"invalid type byte " + std::to_string(type_byte),
                     cat({HDR, {type_byte, 0x00, 0x00, 0x00}, UNIT_M, END}), "Invalid record\n",
                     HEADER});
  }
  check(cases);
}

}  // namespace
