#include "format/elf/dwarf_info.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace dwarf {

// ---------------------------------------------------------------------------------------------
// Abbreviations.

uint32_t AbbrevTable::hash(const uint32_t* shape, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (size_t i = 0; i < n; ++i) h = (h ^ shape[i]) * 0xFF51AFD7ED558CCDull;
  return static_cast<uint32_t>(h >> 32);
}

void AbbrevTable::place(uint32_t code) {
  const size_t mask = slots_.size() - 1;
  size_t i = hashes_[code - 1] & mask;
  while (slots_[i]) i = (i + 1) & mask;
  slots_[i] = code;
}

uint32_t AbbrevTable::lookup(const uint32_t* shape, size_t n) {
  const uint32_t h = hash(shape, n);
  const size_t mask = slots_.size() - 1;
  for (size_t i = h & mask; slots_[i]; i = (i + 1) & mask) {
    const uint32_t c = slots_[i];
    if (hashes_[c - 1] == h && same(c, shape, n)) return c;
  }
  shapes_.insert(shapes_.end(), shape, shape + n);
  start_.push_back(static_cast<uint32_t>(shapes_.size()));
  hashes_.push_back(h);
  const uint32_t c = static_cast<uint32_t>(hashes_.size());
  if (2 * hashes_.size() > slots_.size()) {
    slots_.assign(slots_.size() * 2, 0);
    for (uint32_t k = 1; k <= c; ++k) place(k);
  } else {
    place(c);
  }
  return c;
}

elf::Bytes AbbrevTable::bytes() const {
  elf::Bytes out;
  for (size_t c = 1; c < start_.size(); ++c) {
    const uint32_t* s = shapes_.data() + start_[c - 1];
    const uint32_t* end = shapes_.data() + start_[c];
    out.uleb(c);
    out.uleb(s[0]);  // tag
    out.u8(s[1]);    // children
    for (s += 2; s < end; ++s) {
      out.uleb(*s >> 8);    // attribute
      out.uleb(*s & 0xFF);  // form
    }
    out.u8(0);
    out.u8(0);
  }
  out.u8(0);
  return out;
}

// ---------------------------------------------------------------------------------------------
// DIEs.

Die& Die::u32_checked(Attr at, Form form, uint32_t v) {
  spec(at, form).u32(v);
  return *this;
}
Die& Die::data1_checked(Attr at, uint8_t v) {
  spec(at, DW_FORM_data1).u8(v);
  return *this;
}
Die& Die::data2(Attr at, uint16_t v) {
  spec(at, DW_FORM_data2).u16(v);
  return *this;
}
Die& Die::udata_checked(Attr at, uint64_t v) {
  spec(at, DW_FORM_udata).uleb(v);
  return *this;
}
Die& Die::sdata(Attr at, int64_t v) {
  spec(at, DW_FORM_sdata).sleb(v);
  return *this;
}
Die& Die::flag_checked(Attr at) {
  spec(at, DW_FORM_flag_present);
  return *this;
}
Die& Die::str(Attr at, std::string_view s) {
  return strp(at, w_->string(s));
}
Die& Die::ref(Attr at, uint64_t key) {
  spec(at, DW_FORM_ref_addr);
  w_->add_ref(key);
  return *this;
}
Die& Die::expr(Attr at, const uint8_t* ops, size_t n) {
  InfoBuffer& info = spec(at, DW_FORM_exprloc);
  info.uleb(n);
  info.raw(ops, n);
  return *this;
}

SlotDie& SlotDie::str(Attr at, std::string_view s) {
  return strp(at, w_->string(s));
}
SlotDie& SlotDie::ref(Attr at, uint64_t key) {
  pair(at, DW_FORM_ref_addr);
  w_->add_ref_at(key, p_);
  p_ += 4;
  return *this;
}
void SlotDie::misuse() const {
  if (serial_ != w_->serial_) InfoWriter::not_open();
  throw std::logic_error("DWARF writer: more attributes than a quick DIE has room for");
}
void SlotDie::make_room(size_t n) {
  InfoBuffer& info = w_->info_;
  const size_t at = static_cast<size_t>(p_ - info.data());
  // The buffer's end stays at the DIE's start while it is open.
  info.reserve_room(at - info.size() + 10 + n + ROOM);
  p_ = info.data() + at;
}

// ---------------------------------------------------------------------------------------------
// The buffer.

void InfoBuffer::open_gap(size_t at, size_t k) {
  grow(k);
  std::memmove(buf_.data() + at + k, buf_.data() + at, n_ - k - at);
  std::memset(buf_.data() + at, 0, k);
}

void InfoBuffer::make_room(size_t k) {
  buf_.resize(std::max({2 * buf_.size(), n_ + k, size_t{4096}}));
}

elf::Bytes InfoBuffer::bytes() const {
  elf::Bytes b(big_);
  b.raw(buf_.data(), n_);
  return b;
}

// ---------------------------------------------------------------------------------------------
// The writer.

InfoWriter::InfoWriter(bool big_endian) : info_(big_endian) {}

void InfoWriter::still_open() {
  throw std::logic_error("DWARF writer: a DIE is still open");
}

void InfoWriter::grow_shape() {
  shape_.resize(2 * shape_.size());
}

void InfoWriter::not_open() {
  throw std::logic_error("DWARF writer: the DIE is not open");
}

void InfoWriter::add_ref(uint64_t key) {
  add_ref_at(key, info_.grow(4));
}

void InfoWriter::add_ref_at(uint64_t key, uint8_t* p) {
  // The key's low half stays in .debug_info until resolve_refs; high halves are kept from the
  // first key that has one on, with zeros for the keys before.
  const uint32_t high = static_cast<uint32_t>(key >> 32);
  if (high && !wide_refs_) {
    ref_high_.assign(ref_count_, 0);
    wide_refs_ = true;
  }
  die_refs_.push_back(flushed_ + static_cast<uint32_t>(p - info_.data()));
  ++ref_count_;
  if (wide_refs_) ref_high_.push_back(high);
  info_.store_u32(p, static_cast<uint32_t>(key));
}

void InfoWriter::wrong_slot() {
  throw std::logic_error("dwarf::InfoWriter: a DIE put with a slot of another shape");
}

uint32_t InfoWriter::put_long(uint32_t code) {
  uint8_t buf[10];
  const size_t n = elf::encode_uleb(code, buf);
  if (n > 1) {
    // A code past 127: the DIE's values move up to make room.
    info_.open_gap(die_at_ + 1, n - 1);
    for (uint32_t& at : die_refs_) at += static_cast<uint32_t>(n - 1);
  }
  std::memcpy(info_.data() + die_at_, buf, n);
  keep_refs();
  return flushed_ + static_cast<uint32_t>(die_at_);
}

void InfoWriter::keep_refs() {
  for (uint32_t at : die_refs_) {
    uint8_t step[5];
    const size_t k = elf::encode_uleb(at - last_ref_, step);
    ref_steps_.insert(ref_steps_.end(), step, step + k);
    last_ref_ = at;
  }
}

void InfoWriter::make_slot_room() {
  closed();
  if (out_ && info_.size() >= flush_at_) flush();
  info_.reserve_room(SlotDie::ROOM);
}

Die InfoWriter::die_checked(Tag tag, bool children) {
  closed();
  if (out_ && info_.size() >= flush_at_) flush();
  return start(tag, children);
}

void InfoWriter::begin_unit() {
  closed();
  unit_start_ = size();
  info_.u32(0);  // unit_length, filled in by end_unit
  info_.u16(4);  // version
  info_.u32(0);  // debug_abbrev_offset: one table for all units
  info_.u8(4);   // address_size
}

void InfoWriter::end_unit() {
  closed();
  const uint32_t length = size() - unit_start_ - 4;
  if (unit_start_ >= flushed_)
    info_.patch_u32(unit_start_ - flushed_, length);
  else
    late_.push_back({unit_start_, length});
}

void InfoWriter::stream_to(elf::Output& out, size_t flush_at) {
  if (size() != 0) throw std::logic_error("DWARF writer: streamed after the first DIE");
  out_ = &out;
  out_start_ = out.size();
  flush_at_ = flush_at;
}

void InfoWriter::flush() {
  out_->append(info_.data(), info_.size());
  flushed_ += static_cast<uint32_t>(info_.size());
  info_.clear();
}

uint32_t InfoWriter::block_end(uint32_t lo, const RefCursor& next, size_t l) const {
  uint32_t hi = static_cast<uint32_t>(
      std::min<uint64_t>(flushed_, uint64_t{lo} + std::max<size_t>(flush_at_, 1)));
  // The last field that begins before hi may end after it: the block takes it in whole.
  auto take_in = [&](uint32_t at) { hi = std::max(hi, std::min(at + 4, flushed_)); };
  RefCursor r = next;
  uint32_t last = 0;
  bool any = false;
  for (; r.valid() && r.at < hi; r.advance()) {
    last = r.at;
    any = true;
  }
  if (any) take_in(last);
  while (l < late_.size() && late_[l].first < hi) ++l;
  if (l > 0 && late_[l - 1].first >= lo) take_in(late_[l - 1].first);
  return hi;
}

void InfoWriter::read_block(elf::Bytes& block, uint32_t lo, uint32_t hi) {
  block.data().resize(hi - lo);
  out_->read(out_start_ + lo, block.data().data(), hi - lo);
}

void InfoWriter::write_block(const elf::Bytes& block, uint32_t lo) {
  out_->overwrite(out_start_ + lo, block.data().data(), block.size());
}

}  // namespace dwarf
