#include "format/elf/bytes.hpp"

namespace elf {

void Bytes::put(uint32_t v, int width) {
  for (int i = 0; i < width; ++i) {
    int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
    b_.push_back(static_cast<uint8_t>(v >> shift));
  }
}

void Bytes::patch_u32(size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    int shift = big_ ? 8 * (3 - i) : 8 * i;
    b_[at + i] = static_cast<uint8_t>(v >> shift);
  }
}

void Bytes::uleb(uint64_t v) {
  uint8_t buf[10];
  raw(buf, encode_uleb(v, buf));
}

void Bytes::sleb(int64_t v) {
  for (;;) {
    uint8_t byte = v & 0x7F;
    v >>= 7;  // arithmetic shift: the sign propagates
    bool done = (v == 0 && !(byte & 0x40)) || (v == -1 && (byte & 0x40));
    if (!done) byte |= 0x80;
    b_.push_back(byte);
    if (done) return;
  }
}

void Bytes::str(std::string_view s) {
  b_.insert(b_.end(), s.begin(), s.end());
  b_.push_back(0);
}

void Bytes::pad_to(size_t alignment) {
  while (b_.size() % alignment) b_.push_back(0);
}

}  // namespace elf
