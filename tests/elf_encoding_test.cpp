// The byte encoders under the ELF and DWARF writers: LEB128 and fixed-width fields in both byte
// orders, in the general buffer and in the one .debug_info is written through.
#include <gtest/gtest.h>

#include <vector>

#include "format/elf/bytes.hpp"
#include "format/elf/dwarf_info.hpp"

namespace {

using Encoded = std::vector<uint8_t>;

// The examples of the DWARF standard, and the edges where a byte is added.
TEST(ElfBytes, Uleb128) {
  struct Row {
    uint64_t value;
    Encoded bytes;
  };
  const Row rows[] = {
      {0, {0x00}},
      {2, {0x02}},
      {127, {0x7f}},
      {128, {0x80, 0x01}},
      {129, {0x81, 0x01}},
      {130, {0x82, 0x01}},
      {12857, {0xb9, 0x64}},
      {16383, {0xff, 0x7f}},
      {16384, {0x80, 0x80, 0x01}},
      {0xffffffffu, {0xff, 0xff, 0xff, 0xff, 0x0f}},
      {~uint64_t{0}, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
  };
  for (const Row& r : rows) {
    elf::Bytes b;
    b.uleb(r.value);
    EXPECT_EQ(b.data(), r.bytes) << r.value;
    uint8_t raw[10];
    EXPECT_EQ(Encoded(raw, raw + elf::encode_uleb(r.value, raw)), r.bytes) << r.value;
    dwarf::InfoBuffer info(false);
    info.uleb(r.value);
    EXPECT_EQ(info.bytes().data(), r.bytes) << r.value;
  }
}

TEST(ElfBytes, Sleb128) {
  struct Row {
    int64_t value;
    Encoded bytes;
  };
  const Row rows[] = {
      {0, {0x00}},
      {2, {0x02}},
      {-2, {0x7e}},
      {63, {0x3f}},
      {64, {0xc0, 0x00}},
      {-64, {0x40}},
      {-65, {0xbf, 0x7f}},
      {127, {0xff, 0x00}},
      {-127, {0x81, 0x7f}},
      {128, {0x80, 0x01}},
      {-128, {0x80, 0x7f}},
      {129, {0x81, 0x01}},
      {-129, {0xff, 0x7e}},
      {INT64_MIN, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7f}},
  };
  for (const Row& r : rows) {
    elf::Bytes b;
    b.sleb(r.value);
    EXPECT_EQ(b.data(), r.bytes) << r.value;
    dwarf::InfoBuffer info(false);
    info.sleb(r.value);
    EXPECT_EQ(info.bytes().data(), r.bytes) << r.value;
  }
}

TEST(ElfBytes, FieldsInBothByteOrdersAndPatching) {
  for (bool big : {false, true}) {
    elf::Bytes b(big);
    b.u8(0x01);
    b.u16(0x0203);
    b.u32(0x04050607);
    b.u32(0);
    b.patch_u32(7, 0x08090a0b);
    b.str("ab");
    b.pad_to(4);
    const Encoded want = big ? Encoded{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                       0x09, 0x0a, 0x0b, 'a',  'b',  0,    0,    0}
                             : Encoded{0x01, 0x03, 0x02, 0x07, 0x06, 0x05, 0x04, 0x0b,
                                       0x0a, 0x09, 0x08, 'a',  'b',  0,    0,    0};
    EXPECT_EQ(b.data(), want) << (big ? "big-endian" : "little-endian");
  }
}

// The .debug_info buffer grows from empty by many small fields; a gap opened for a longer
// abbreviation code moves the bytes after it.
TEST(InfoBuffer, FieldsInBothByteOrdersGapsAndGrowth) {
  for (bool big : {false, true}) {
    dwarf::InfoBuffer b(big);
    b.u8(0x01);
    b.u16(0x0203);
    b.u32(0x04050607);
    b.u32(0);
    b.patch_u32(7, 0x08090a0b);
    EXPECT_EQ(b.read_u32(7), 0x08090a0bu);
    b.open_gap(1, 2);
    const Encoded want =
        big ? Encoded{0x01, 0, 0, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b}
            : Encoded{0x01, 0, 0, 0x03, 0x02, 0x07, 0x06, 0x05, 0x04, 0x0b, 0x0a, 0x09, 0x08};
    EXPECT_EQ(b.bytes().data(), want) << (big ? "big-endian" : "little-endian");

    dwarf::InfoBuffer many(big);
    elf::Bytes same(big);
    for (uint32_t i = 0; i < 100000; ++i) {
      many.u32(i * 2654435761u);
      many.uleb(i);
      same.u32(i * 2654435761u);
      same.uleb(i);
    }
    EXPECT_EQ(many.bytes().data(), same.data());
  }
}

}  // namespace
