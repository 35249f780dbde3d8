#include "format/elf/bytes.hpp"

namespace elf {

void Bytes::str(std::string_view s) {
  b_.insert(b_.end(), s.begin(), s.end());
  b_.push_back(0);
}

void Bytes::pad_to(size_t alignment) {
  b_.resize((b_.size() + alignment - 1) / alignment * alignment);
}

}  // namespace elf
