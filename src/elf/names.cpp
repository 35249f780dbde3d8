#include <cstring>

#include "elf/model.hpp"

namespace tek {

namespace {

size_t uleb_size(size_t v) {
  size_t n = 1;
  while (v >>= 7) ++n;
  return n;
}

// The names are short (type, member and variable names): a few loads of up to eight bytes
// (the last ones overlapping), a multiply and a fold each, cheaper than a general string hash.
uint32_t name_hash(std::string_view s) {
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

}  // namespace

Name NameStore::add(std::string_view s) {
  if (s.empty()) return {};
  if (table_.empty()) table_.resize(1024);
  const size_t mask = table_.size() - 1;
  const uint32_t h = name_hash(s);
  size_t i = h & mask;
  for (; table_[i].id != 0; i = (i + 1) & mask)
    if (table_[i].hash == h && view(Name{table_[i].id}) == s) return Name{table_[i].id};
  const Name n = add_new(s);
  table_[i] = {n.id, h};
  if (++in_table_ * 4 > table_.size() * 3) grow_table();
  return n;
}

Name NameStore::add_new(std::string_view s) {
  if (s.empty()) return {};
  const size_t need = uleb_size(s.size()) + s.size();
  if (blocks_.empty() || used_ + need > BLOCK) {                   // also after a long name
    if (blocks_.size() >= size_t{1} << 12) stop_run(STOP_BUDGET);  // 4 GiB of names
    blocks_.push_back(std::make_unique<uint8_t[]>(std::max(BLOCK, need)));
    used_ = 0;
  }
  const Name n{static_cast<uint32_t>(places_.size())};
  places_.push_back(static_cast<uint32_t>((blocks_.size() - 1) << 20 | used_));
  uint8_t* p = blocks_.back().get() + used_;
  for (size_t len = s.size();; len >>= 7) {
    *p++ = static_cast<uint8_t>((len & 0x7F) | (len > 0x7F ? 0x80 : 0));
    if (len <= 0x7F) break;
  }
  s.copy(reinterpret_cast<char*>(p), s.size());
  used_ += need;
  return n;
}

std::string_view NameStore::view(Name n) const {
  if (n.empty()) return {};
  const uint32_t at = places_[n.id];
  const uint8_t* p = blocks_[at >> 20].get() + (at & (BLOCK - 1));
  size_t len = 0;
  for (unsigned shift = 0;; shift += 7) {
    const uint8_t b = *p++;
    len |= size_t{b & 0x7Fu} << shift;
    if (!(b & 0x80)) break;
  }
  return {reinterpret_cast<const char*>(p), len};
}

void NameStore::grow_table() {
  std::vector<Slot> old(table_.size() * 2);
  old.swap(table_);
  const size_t mask = table_.size() - 1;
  for (const Slot& s : old) {
    if (s.id == 0) continue;
    size_t i = s.hash & mask;
    while (table_[i].id != 0) i = (i + 1) & mask;
    table_[i] = s;
  }
}

}  // namespace tek
