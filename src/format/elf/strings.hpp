// A string table (.strtab, .debug_str): NUL-terminated strings, each stored once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "format/elf/bytes.hpp"

namespace elf {

class StringTable {
 public:
  // With a leading empty string at offset 0, as .strtab needs.
  explicit StringTable(bool leading_empty) {
    if (leading_empty) add("");
  }
  uint32_t add(std::string_view s) {
    auto [it, fresh] = at_.try_emplace(std::string(s), static_cast<uint32_t>(bytes_.size()));
    if (fresh) bytes_.str(s);
    return it->second;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::unordered_map<std::string, uint32_t> at_;
};

}  // namespace elf
