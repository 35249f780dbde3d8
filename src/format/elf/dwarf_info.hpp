// Writer of .debug_info and .debug_abbrev (DWARF 4, 32-bit format, 4-byte addresses).
//
// A DIE is assembled as a list of attributes with their forms and values; the writer gives
// every distinct shape (tag, children flag, attribute and form list) one abbreviation code.
// Strings go to .debug_str (DW_FORM_strp). References between DIEs are DW_FORM_ref_addr to a
// key of the caller's choosing, resolved to .debug_info offsets when all units are written, so
// that a DIE can refer to one that comes later or lies in another unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "format/elf/bytes.hpp"
#include "format/elf/dwarf.hpp"
#include "format/elf/strings.hpp"

namespace dwarf {

class Die {
 public:
  Die(bool big_endian, Tag tag, bool children);

  Die& addr(Attr at, uint32_t a);
  Die& data1(Attr at, uint8_t v);
  Die& data2(Attr at, uint16_t v);
  Die& data4(Attr at, uint32_t v);
  Die& udata(Attr at, uint64_t v);
  Die& sdata(Attr at, int64_t v);
  Die& flag(Attr at);
  Die& str(Attr at, std::string_view s);
  Die& ref(Attr at, uint64_t key);
  Die& sec_offset(Attr at, uint32_t offset);
  Die& expr(Attr at, const elf::Bytes& ops);

 private:
  friend class InfoWriter;
  void spec(Attr at, Form form);
  void add_uleb(uint64_t v);  // to the shape
  std::string shape_;         // tag, children, attribute and form pairs: the abbreviation's key
  elf::Bytes values_;
  std::vector<std::pair<size_t, std::string>> strings_;  // strp fields: offset in values_
  std::vector<std::pair<size_t, uint64_t>> refs_;        // ref_addr fields: offset in values_
};

class InfoWriter {
 public:
  explicit InfoWriter(bool big_endian);

  bool big_endian() const { return info_.big_endian(); }
  Die die(Tag tag, bool children) const { return Die(info_.big_endian(), tag, children); }

  void begin_unit();
  void end_unit();
  // Appends a DIE and returns its offset in .debug_info.
  uint32_t put(const Die& d);
  // Closes the children of the latest open DIE with children.
  void end_children() { info_.u8(0); }
  // Where the current unit began (for .debug_aranges).
  uint32_t unit_offset() const { return unit_start_; }

  // Fills in the references; a key that resolve does not know is an error of the caller, and
  // is reported by the return value false (the reference then points at the unit header).
  bool resolve_refs(const std::function<std::optional<uint32_t>(uint64_t)>& resolve);

  const elf::Bytes& info() const { return info_; }
  elf::Bytes abbrev() const;
  const elf::Bytes& str() const { return strings_.bytes(); }

 private:
  elf::Bytes info_;
  elf::StringTable strings_{false};
  std::unordered_map<std::string, uint32_t> codes_;
  std::vector<const std::string*> shapes_;  // by code - 1
  std::vector<std::pair<size_t, uint64_t>> refs_;
  uint32_t unit_start_ = 0;
};

}  // namespace dwarf
