// Byte buffers for ELF and DWARF data: fixed-width integers in the file's byte order, LEB128
// numbers and NUL-terminated strings.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace elf {

// A 4-byte field at p in the given byte order, stored and loaded at once.
inline void store_u32(uint8_t* p, uint32_t v, bool big_endian) {
  if (big_endian != (std::endian::native == std::endian::big)) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline uint32_t load_u32(const uint8_t* p, bool big_endian) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return big_endian != (std::endian::native == std::endian::big) ? __builtin_bswap32(v) : v;
}

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

// Writes the signed LEB128 encoding of v at out (room for 10 bytes) and returns its length.
inline size_t encode_sleb(int64_t v, uint8_t* out) {
  size_t n = 0;
  for (;;) {
    uint8_t byte = v & 0x7F;
    v >>= 7;  // arithmetic shift: the sign propagates
    const bool done = (v == 0 && !(byte & 0x40)) || (v == -1 && (byte & 0x40));
    out[n++] = done ? byte : byte | 0x80;
    if (done) return n;
  }
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
  void u16(uint32_t v) {
    room(2);
    const uint8_t hi = static_cast<uint8_t>(v >> 8), lo = static_cast<uint8_t>(v);
    b_.push_back(big_ ? hi : lo);
    b_.push_back(big_ ? lo : hi);
  }
  void u32(uint32_t v) {
    room(4);
    if (big_) v = __builtin_bswap32(v);
    for (int i = 0; i < 4; ++i) b_.push_back(static_cast<uint8_t>(v >> 8 * i));
  }
  void uleb(uint64_t v) {
    room(10);
    for (; v > 0x7F; v >>= 7) b_.push_back(static_cast<uint8_t>(v | 0x80));
    b_.push_back(static_cast<uint8_t>(v));
  }
  void sleb(int64_t v) {
    uint8_t buf[10];
    raw(buf, encode_sleb(v, buf));
  }
  void str(std::string_view s);  // with its terminating NUL
  void raw(const uint8_t* p, size_t n) { b_.insert(b_.end(), p, p + n); }
  void append(const Bytes& other) { raw(other.b_.data(), other.b_.size()); }
  void pad_to(size_t alignment);

  // Overwrites a 4-byte field written earlier (lengths, references known only later).
  void patch_u32(size_t at, uint32_t v) { store_u32(b_.data() + at, v, big_); }
  // Reads back a 4-byte field.
  uint32_t read_u32(size_t at) const { return load_u32(b_.data() + at, big_); }

 private:
  // Room for n more bytes without a reallocation on the way, so that the bytes of one field
  // are appended without growing the buffer in between.
  void room(size_t n) {
    if (b_.capacity() - b_.size() < n) b_.reserve(std::max(2 * b_.capacity(), b_.size() + n));
  }
  std::vector<uint8_t> b_;
  bool big_;
};

}  // namespace elf
