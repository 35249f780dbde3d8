// Byte buffers for ELF and DWARF data: fixed-width integers in the file's byte order, LEB128
// numbers and NUL-terminated strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace elf {

// Writes the unsigned LEB128 encoding of v at out (room for 10 bytes) and returns its length.
inline size_t encode_uleb(uint64_t v, uint8_t* out) {
  size_t n = 0;
  do {
    uint8_t byte = v & 0x7F;
    v >>= 7;
    if (v) byte |= 0x80;
    out[n++] = byte;
  } while (v);
  return n;
}

// Length of the unsigned LEB128 encoding of v.
inline size_t uleb_size(uint64_t v) {
  size_t n = 1;
  while (v >>= 7) ++n;
  return n;
}

class Bytes {
 public:
  explicit Bytes(bool big_endian = false) : big_(big_endian) {}

  bool big_endian() const { return big_; }
  size_t size() const { return b_.size(); }
  const std::vector<uint8_t>& data() const { return b_; }
  std::vector<uint8_t>& data() { return b_; }

  void u8(uint32_t v) { b_.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) { store(grow(2), v, 2); }
  void u32(uint32_t v) { store(grow(4), v, 4); }
  void uleb(uint64_t v) {
    uint8_t buf[10];
    raw(buf, encode_uleb(v, buf));
  }
  void sleb(int64_t v);
  void str(std::string_view s);  // with its terminating NUL
  void raw(const uint8_t* p, size_t n) {
    if (n) std::memcpy(grow(n), p, n);
  }
  void append(const Bytes& other) { raw(other.b_.data(), other.b_.size()); }
  void pad_to(size_t alignment);

  // Overwrites a 4-byte field written earlier (lengths, references known only later).
  void patch_u32(size_t at, uint32_t v) { store(b_.data() + at, v, 4); }
  // Reads back a 4-byte field.
  uint32_t read_u32(size_t at) const;

 private:
  // Appends n bytes to be filled in and returns where they begin.
  uint8_t* grow(size_t n) {
    size_t at = b_.size();
    b_.resize(at + n);
    return b_.data() + at;
  }
  void store(uint8_t* p, uint32_t v, int width) const {
    for (int i = 0; i < width; ++i)
      p[i] = static_cast<uint8_t>(v >> (big_ ? 8 * (width - 1 - i) : 8 * i));
  }
  std::vector<uint8_t> b_;
  bool big_;
};

}  // namespace elf
