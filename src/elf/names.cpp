#include <algorithm>
#include <cstring>

#include "elf/model.hpp"
#include "format/elf/strings.hpp"

namespace tek {

namespace {

size_t uleb_size(size_t v) {
  size_t n = 1;
  while (v >>= 7) ++n;
  return n;
}

// Whether names a and b have the same bytes. Most names are short: up to 16 bytes they are
// compared as two overlapping loads each, without calling memcmp.
bool same(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char *p = a.data(), *q = b.data();
  auto load = [](const char* at, auto word) {
    std::memcpy(&word, at, sizeof word);
    return word;
  };
  if (n > 16) return std::memcmp(p, q, n) == 0;
  if (n >= 8)
    return load(p, uint64_t{}) == load(q, uint64_t{}) &&
           load(p + n - 8, uint64_t{}) == load(q + n - 8, uint64_t{});
  if (n >= 4)
    return load(p, uint32_t{}) == load(q, uint32_t{}) &&
           load(p + n - 4, uint32_t{}) == load(q + n - 4, uint32_t{});
  return n == 0 || (p[0] == q[0] && p[n / 2] == q[n / 2] && p[n - 1] == q[n - 1]);
}

}  // namespace

Name NameStore::add(std::string_view s) {
  if (s.empty()) return {};
  // The name that followed the last one when that one came before is compared first, where it
  // lies: the bytes of names that came in order lie in order, and the table's slots, met at
  // random, are not read.
  if (const uint32_t guess = follows_[last_]; guess != 0 && same(view(Name{guess}), s))
    return Name{last_ = guess};
  const Name n = look_up(s);
  follows_[last_] = n.id;
  last_ = n.id;
  return n;
}

Name NameStore::look_up(std::string_view s) {
  if (table_.empty()) table_.resize(1024);
  const uint32_t h = elf::short_hash(s);
  const size_t i = slot_of(s, h);
  if (table_[i].id != 0) return Name{table_[i].id};
  const Name n = add_new(s);
  enter(i, n, h);
  return n;
}

void NameStore::intern(std::vector<Name>& names) {
  reserve(names.size());
  std::vector<uint32_t> hashes(names.size());
  for (size_t k = 0; k < names.size(); ++k) hashes[k] = elf::short_hash(view(names[k]));
  const size_t mask = table_.size() - 1;
  constexpr size_t AHEAD = 8;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k + AHEAD < names.size()) __builtin_prefetch(&table_[hashes[k + AHEAD] & mask]);
    if (names[k].empty()) continue;
    const size_t i = slot_of(view(names[k]), hashes[k]);
    if (table_[i].id != 0)
      names[k] = Name{table_[i].id};
    else
      enter(i, names[k], hashes[k]);
  }
}

void NameStore::reserve(size_t n) {
  size_t slots = std::max<size_t>(table_.size(), 1024);
  while ((in_table_ + n) * 4 > slots * 3) slots *= 2;
  if (slots != table_.size()) grow_table(slots);
}

Name NameStore::find(std::string_view s) const {
  if (s.empty() || table_.empty()) return {};
  return Name{table_[slot_of(s, elf::short_hash(s))].id};
}

size_t NameStore::slot_of(std::string_view s, uint32_t hash) const {
  const size_t mask = table_.size() - 1;
  size_t i = hash & mask;
  for (; table_[i].id != 0; i = (i + 1) & mask)
    if (table_[i].hash == hash && same(view(Name{table_[i].id}), s)) break;
  return i;
}

void NameStore::enter(size_t slot, Name n, uint32_t hash) {
  table_[slot] = {n.id, hash};
  if (++in_table_ * 4 > table_.size() * 3) grow_table(table_.size() * 2);
}

Name NameStore::add_new(std::string_view s) {
  if (s.empty()) return {};
  const size_t need = uleb_size(s.size()) + s.size();
  if (blocks_.empty() || used_ + need > BLOCK) {                   // also after a long name
    if (blocks_.size() >= size_t{1} << 12) stop_run(STOP_BUDGET);  // 4 GiB of names
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(std::max(BLOCK, need)));
    used_ = 0;
  }
  const Name n{static_cast<uint32_t>(places_.size())};
  places_.push_back(static_cast<uint32_t>((blocks_.size() - 1) << 20 | used_));
  follows_.push_back(0);
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

void NameStore::grow_table(size_t slots) {
  std::vector<Slot> old(slots);
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
