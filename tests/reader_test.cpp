// The record dispatcher: HDR first, END last, skipped and invalid codes, long lengths, and a
// stream that runs out before END. Each case converts a small file and checks the whole context
// file and the whole output after the banner.
#include <algorithm>
#include <string>
#include <vector>

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

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes HDR = Builder().hdr().bytes();
const Bytes END = Builder().end().bytes();
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
      {"HDR with a 2-byte length", cat({{0x05, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 1, 0}, unit_m(), END}),
       "", HEADER_MODULE},
      // The trailer byte 0x02 would be an invalid record if it were left unread.
      {"HDR with an empty body", cat({{0x04, 0x00, 0x02}, unit_m(), END}), "", HEADER_MODULE},
      {"HDR body past its fields",
       cat({Builder()
                .record(tekrec::HDR,
                        Fields().u8(0).u16(0).u16(0).u8(0).u8(1).bytes("\x7E\x04\x7E\x02"))
                .bytes(),
            unit_m(), END}),
       "", HEADER_MODULE},
      {"header type 0x0F", cat({Builder().hdr(0x0F).bytes(), unit_m(), END}), "", HEADER_MODULE},
      {"header type 0x10", cat({Builder().hdr(0x10).bytes(), unit_m(), END}),
       "Invalid record type (HDR)\n", NOTHING},
      {"empty file", {}, "", NOTHING},
      {"UNIT first", cat({unit_m(), HDR, unit_m(), END}), "", NOTHING},
      {"END first", cat({END, HDR, unit_m(), END}), "", NOTHING},
      {"skipped code first", cat({{0x0C, 0x00, 0x00}, HDR, unit_m(), END}), "", NOTHING},
      {"invalid code first", cat({{0x00, 0x00, 0x00}, HDR, unit_m(), END}), "", NOTHING},
      {"second HDR", cat({HDR, unit_m(), HDR, END}), "Invalid record\n", HEADER_MODULE},
      {"no END", cat({HDR, unit_m()}), "Invalid record\n", HEADER_MODULE},
      {"record cut short by the end of the file", cat({HDR, cut_unit}), "Invalid record\n",
       Ctx().header().module(1, "ab").predefined().bytes()},
      {"nothing after END is read", cat({HDR, END, {0x02, 0x00, 0x00}, unit_m()}), "", HEADER},
  });
}

TEST_F(ReaderTest, RecordCodes) {
  std::vector<Case> cases = {
      {"odd type byte: UNIT with a 2-byte length", cat({HDR, long_form(unit_m()), END}), "",
       HEADER_MODULE},
      {"skipped record of 0xFFFF bytes",
       cat({HDR, Builder().record(0x0C, Fields().bytes(std::string(0xFFFF, '\x7E'))).bytes(),
            unit_m(), END}),
       "", HEADER_MODULE},
  };
  ASSERT_EQ(Bytes(cases[1].input.begin() + 10, cases[1].input.begin() + 13),
            (Bytes{0x0D, 0xFF, 0xFF}));
  for (uint8_t code : {0x0C, 0x0E, 0x10, 0x14, 0x22, 0x24, 0x2C, 0x2E, 0x38, 0x3A, 0x42, 0x46, 0x6A,
                       0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C}) {
    // A body that would read as END, HDR or an invalid record if it were taken as records.
    Bytes rec = Builder().record(code, Fields().u8(0x7E).u8(0x04).u8(0x02)).bytes();
    const std::string what = "skipped code " + std::to_string(code);
    cases.push_back({what, cat({HDR, rec, unit_m(), END}), "", HEADER_MODULE});
    cases.push_back({what + " long", cat({HDR, long_form(rec), unit_m(), END}), "", HEADER_MODULE});
  }
  for (uint8_t type_byte : {0x00, 0x01, 0x02, 0x03, 0x0A, 0x12, 0x16, 0x1E, 0x3C, 0x3E, 0x44,
                            0x60, 0x66, 0x7C, 0x80, 0x8E, 0x9E, 0xA2, 0xA4, 0xC0, 0xFE, 0xFF}) {
    cases.push_back({"invalid type byte " + std::to_string(type_byte),
                     cat({HDR, {type_byte, 0x00, 0x00, 0x00}, unit_m(), END}), "Invalid record\n",
                     HEADER});
  }
  check(cases);
}

}  // namespace
