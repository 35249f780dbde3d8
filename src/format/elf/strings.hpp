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
  explicit StringTable(bool leading_empty) : tags_(64), places_(64) {
    if (leading_empty) add("");
  }

  // The offset of s in the table, added when it is not there yet. Two strings are the same
  // when all their bytes are, so one with a NUL inside is stored apart from its prefix.
  uint32_t add(std::string_view s) {
    const uint32_t tag = tag_of(s);
    const size_t mask = tags_.size() - 1;
    size_t i = tag & mask;
    for (; tags_[i] != FREE; i = (i + 1) & mask) {
      if (tags_[i] != tag) continue;
      const Place& p = places_[i];
      if (p.len == s.size() &&
          (s.empty() || std::memcmp(bytes_.data().data() + p.offset, s.data(), s.size()) == 0))
        return p.offset;
    }
    const uint32_t offset = static_cast<uint32_t>(bytes_.size());
    bytes_.str(s);
    tags_[i] = tag;
    places_[i] = {offset, static_cast<uint32_t>(s.size())};
    if (++count_ * 2 > tags_.size()) rehash(tags_.size() * 2);
    return offset;
  }
  // Stores s at the end without looking for it or entering it for add() to find: for a string
  // that the caller knows is not in the table yet, and keeps the offset of.
  uint32_t append(std::string_view s) {
    const uint32_t offset = static_cast<uint32_t>(bytes_.size());
    bytes_.str(s);
    return offset;
  }
  const Bytes& bytes() const { return bytes_; }
  Bytes& bytes() { return bytes_; }
  size_t count() const { return count_; }

 private:
  // A slot holds the string's hash, never 0, which the search reads alone, and apart from it
  // where the string lies, read only when the hashes are equal: a search for a string not there
  // yet, as most are, touches 4 bytes in a table a third the size.
  static constexpr uint32_t FREE = 0;
  struct Place {
    uint32_t offset = 0, len = 0;
  };
  static uint32_t tag_of(std::string_view s) { return short_hash(s) | 1; }
  void rehash(size_t slots) {
    std::vector<uint32_t> tags(slots, FREE);
    std::vector<Place> places(slots);
    const size_t mask = slots - 1;
    for (size_t k = 0; k < tags_.size(); ++k) {
      if (tags_[k] == FREE) continue;
      size_t i = tags_[k] & mask;
      while (tags[i] != FREE) i = (i + 1) & mask;
      tags[i] = tags_[k];
      places[i] = places_[k];
    }
    tags_.swap(tags);
    places_.swap(places);
  }

  Bytes bytes_;
  std::vector<uint32_t> tags_;  // a power of two of them, at most half in use
  std::vector<Place> places_;   // by slot
  size_t count_ = 0;
};

}  // namespace elf
