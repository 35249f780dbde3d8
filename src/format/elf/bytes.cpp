#include "format/elf/bytes.hpp"

namespace elf {

uint32_t Bytes::read_u32(size_t at) const {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{b_[at + i]} << (big_ ? 8 * (3 - i) : 8 * i);
  return v;
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
  uint8_t* p = grow(s.size() + 1);
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  p[s.size()] = 0;
}

void Bytes::pad_to(size_t alignment) {
  b_.resize((b_.size() + alignment - 1) / alignment * alignment);
}

}  // namespace elf
