// A string table (.strtab, .debug_str): NUL-terminated strings, each stored once.
//
// The strings are looked up where they are stored: an open-addressing hash set holds the offset
// and length of each string in the table's bytes, so a lookup compares the bytes in place and
// allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "format/elf/bytes.hpp"

namespace elf {

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
  const Bytes& bytes() const { return bytes_; }
  Bytes& bytes() { return bytes_; }
  size_t count() const { return count_; }

 private:
  static constexpr uint32_t EMPTY = UINT32_MAX;  // the length of a free slot
  struct Slot {
    uint32_t offset = 0, len = EMPTY, hash = 0;
  };
  static uint32_t hash(std::string_view s) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(s));
  }
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
