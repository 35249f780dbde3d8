#include "format/elf/bytes.hpp"

namespace elf {

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
  b_.resize((b_.size() + alignment - 1) / alignment * alignment);
}

}  // namespace elf
