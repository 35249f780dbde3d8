#include "format/elf/dwarf_info.hpp"

namespace dwarf {

Die::Die(bool big_endian, Tag tag, bool children) : values_(big_endian) {
  shape_.reserve(32);
  values_.data().reserve(32);
  add_uleb(tag);
  shape_.push_back(static_cast<char>(children));
}

void Die::add_uleb(uint64_t v) {
  uint8_t buf[10];
  shape_.append(reinterpret_cast<const char*>(buf), elf::encode_uleb(v, buf));
}

void Die::spec(Attr at, Form form) {
  add_uleb(at);
  add_uleb(form);
}

Die& Die::addr(Attr at, uint32_t a) {
  spec(at, DW_FORM_addr);
  values_.u32(a);
  return *this;
}
Die& Die::data1(Attr at, uint8_t v) {
  spec(at, DW_FORM_data1);
  values_.u8(v);
  return *this;
}
Die& Die::data2(Attr at, uint16_t v) {
  spec(at, DW_FORM_data2);
  values_.u16(v);
  return *this;
}
Die& Die::data4(Attr at, uint32_t v) {
  spec(at, DW_FORM_data4);
  values_.u32(v);
  return *this;
}
Die& Die::udata(Attr at, uint64_t v) {
  spec(at, DW_FORM_udata);
  values_.uleb(v);
  return *this;
}
Die& Die::sdata(Attr at, int64_t v) {
  spec(at, DW_FORM_sdata);
  values_.sleb(v);
  return *this;
}
Die& Die::flag(Attr at) {
  spec(at, DW_FORM_flag_present);
  return *this;
}
Die& Die::str(Attr at, std::string_view s) {
  spec(at, DW_FORM_strp);
  strings_.emplace_back(values_.size(), std::string(s));
  values_.u32(0);
  return *this;
}
Die& Die::ref(Attr at, uint64_t key) {
  spec(at, DW_FORM_ref_addr);
  refs_.emplace_back(values_.size(), key);
  values_.u32(0);
  return *this;
}
Die& Die::sec_offset(Attr at, uint32_t offset) {
  spec(at, DW_FORM_sec_offset);
  values_.u32(offset);
  return *this;
}
Die& Die::expr(Attr at, const elf::Bytes& ops) {
  spec(at, DW_FORM_exprloc);
  values_.uleb(ops.size());
  values_.append(ops);
  return *this;
}

InfoWriter::InfoWriter(bool big_endian) : info_(big_endian) {}

void InfoWriter::begin_unit() {
  unit_start_ = static_cast<uint32_t>(info_.size());
  info_.u32(0);  // unit_length, filled in by end_unit
  info_.u16(4);  // version
  info_.u32(0);  // debug_abbrev_offset: one table for all units
  info_.u8(4);   // address_size
}

void InfoWriter::end_unit() {
  info_.patch_u32(unit_start_, static_cast<uint32_t>(info_.size() - unit_start_ - 4));
}

uint32_t InfoWriter::put(const Die& d) {
  auto [it, fresh] = codes_.try_emplace(d.shape_, static_cast<uint32_t>(shapes_.size() + 1));
  if (fresh) shapes_.push_back(&it->first);
  uint32_t offset = static_cast<uint32_t>(info_.size());
  info_.uleb(it->second);
  size_t base = info_.size();
  info_.append(d.values_);
  for (const auto& [at, s] : d.strings_) info_.patch_u32(base + at, strings_.add(s));
  for (const auto& [at, key] : d.refs_) refs_.emplace_back(base + at, key);
  return offset;
}

bool InfoWriter::resolve_refs(const std::function<std::optional<uint32_t>(uint64_t)>& resolve) {
  bool all = true;
  for (const auto& [at, key] : refs_) {
    std::optional<uint32_t> target = resolve(key);
    all = all && target.has_value();
    info_.patch_u32(at, target.value_or(0));
  }
  return all;
}

elf::Bytes InfoWriter::abbrev() const {
  elf::Bytes out;
  for (size_t i = 0; i < shapes_.size(); ++i) {
    out.uleb(i + 1);
    // The shape is the tag, the children byte and the attribute/form pairs, as the table wants
    // them; only the terminating pair is missing.
    const std::string& s = *shapes_[i];
    out.raw(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    out.u8(0);
    out.u8(0);
  }
  out.u8(0);
  return out;
}

}  // namespace dwarf
