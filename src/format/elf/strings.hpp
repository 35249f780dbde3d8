// A string table (.strtab, .debug_str): NUL-terminated strings, each stored once.
//
// The strings are looked up where they are stored: an open-addressing hash set holds the offset
// and length of each string in the table's bytes, so a lookup compares the bytes in place and
// allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "format/elf/bytes.hpp"

namespace elf {

// A hash of short strings (names of types, members, variables, symbols): a few loads of up to
// eight bytes (the last ones overlapping), a multiply and a fold each, cheaper than a general
// string hash.
inline uint32_t short_hash(std::string_view s) {
  constexpr uint64_t K = 0xFF51AFD7ED558CCDull;
  const char* p = s.data();
  const size_t n = s.size();
  auto load = [](const char* at, size_t bytes) {
    uint64_t w = 0;
    std::memcpy(&w, at, bytes);
    return w;
  };
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  auto mix = [&](uint64_t w) {
    h = (h ^ w) * K;
    h ^= h >> 32;
  };
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) mix(load(p + i, 8));
    mix(load(p + n - 8, 8));
  } else if (n >= 4) {
    mix(load(p, 4) | load(p + n - 4, 4) << 32);
  } else if (n > 0) {
    mix(uint64_t{static_cast<uint8_t>(p[0])} | uint64_t{static_cast<uint8_t>(p[n / 2])} << 8 |
        uint64_t{static_cast<uint8_t>(p[n - 1])} << 16);
  }
  return static_cast<uint32_t>(h * K >> 32);
}

class StringTable {
 public:
  // With a leading empty string at offset 0, as .strtab needs.
  explicit StringTable(bool leading_empty) : slots_(64) {
    if (leading_empty) add("");
  }

  // The offset of s in the table, added when it is not there yet. Two strings are the same
  // when all their bytes are, so one with a NUL inside is stored apart from its prefix.
  uint32_t add(std::string_view s) {
    const uint32_t h = hash(s);
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.len == EMPTY) break;
      if (slot.hash == h && slot.len == s.size() &&
          (s.empty() || std::memcmp(bytes_.data().data() + slot.offset, s.data(), s.size()) == 0))
        return slot.offset;
    }
    const uint32_t offset = static_cast<uint32_t>(bytes_.size());
    bytes_.str(s);
    if (++count_ * 2 > slots_.size()) grow();
    insert({offset, static_cast<uint32_t>(s.size()), h});
    return offset;
  }
  // Room for n strings in all without growing the table on the way.
  void reserve(size_t n) {
    size_t slots = slots_.size();
    while (slots < 2 * n) slots *= 2;
    if (slots == slots_.size()) return;
    std::vector<Slot> old(slots);
    old.swap(slots_);
    for (const Slot& s : old)
      if (s.len != EMPTY) insert(s);
  }
  const Bytes& bytes() const { return bytes_; }
  Bytes& bytes() { return bytes_; }
  size_t count() const { return count_; }

 private:
  static constexpr uint32_t EMPTY = UINT32_MAX;  // the length of a free slot
  struct Slot {
    uint32_t offset = 0, len = EMPTY, hash = 0;
  };
  static uint32_t hash(std::string_view s) { return short_hash(s); }
  void insert(const Slot& s) {
    const size_t mask = slots_.size() - 1;
    size_t i = s.hash & mask;
    while (slots_[i].len != EMPTY) i = (i + 1) & mask;
    slots_[i] = s;
  }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old)
      if (s.len != EMPTY) insert(s);
  }

  Bytes bytes_;
  std::vector<Slot> slots_;  // a power of two of them, at most half in use
  size_t count_ = 0;
};

}  // namespace elf
