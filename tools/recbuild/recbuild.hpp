// Record builder: writes TEKA object files record by record.
//
// Each input record has a function of its own; fields are big-endian, the length byte (or the
// 2-byte length, with bit 0 of the type byte set, for bodies of 256 bytes or more) and the
// trailer byte are added by record(). Address fields take the address width that the file's
// first UNIT record establishes, and SYMBOL records carry the extra word that the current
// debug format level asks for, exactly as a reader of the file will see them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/teka/records.hpp"

namespace tekrec {

// Record codes and symbol categories, as the format layer names them.
using Code = tek::teka::Code;
using enum tek::teka::Code;
using Category = tek::teka::Category;
using enum tek::teka::Category;

// A list of record fields. Address fields are sized when the record is written.
class Fields {
 public:
  Fields& u8(uint32_t v) { return add(U8, v); }
  Fields& u16(uint32_t v) { return add(U16, v); }
  Fields& u24(uint32_t v) { return add(U24, v); }
  Fields& u32(uint32_t v) { return add(U32, v); }
  Fields& addr(uint32_t v) { return add(ADDR, v); }
  // A length byte and the characters.
  Fields& name(std::string_view s);
  Fields& bytes(std::string_view s);
  Fields& bytes(const std::vector<uint8_t>& s);
  Fields& append(const Fields& other);

  bool empty() const { return fields_.empty(); }
  std::vector<uint8_t> encode(int addr_width) const;

 private:
  enum Width { U8, U16, U24, U32, ADDR, BYTES };
  struct Field {
    Width width;
    uint32_t value;
    std::string bytes;
  };
  Fields& add(Width w, uint32_t v);
  std::vector<Field> fields_;
};

// Type parts of a SYMBOL record.
Fields basic_type(uint8_t index);  // type byte with bit 7 clear
Fields type_id(uint16_t id);       // type byte 0x80 and the type id

// Location parts of a SYMBOL record, by category.
Fields at_section(uint16_t section, uint32_t offset);  // category 1
Fields hex_digits(std::string_view digits);            // category 5
Fields member_at(uint32_t offset, uint32_t size = 0);  // category 7, not a bit-field
Fields bitfield_at(uint32_t offset, uint32_t width, int8_t bit_offset);  // category 7
Fields enum_tag();                                                       // category 8
Fields aggregate_tag(uint32_t size);                                     // categories 9, 10
Fields classed(uint8_t cls, uint8_t value_size, uint32_t value);         // category 15
// Location forms, for every other category.
Fields in_register(std::string_view reg, uint32_t size = 4);                        // form 1
Fields in_section(uint8_t form, uint16_t section, uint32_t offset, uint32_t size);  // 2 to 5
Fields in_frame(uint32_t offset, uint32_t size = 4);                                // form 6
Fields in_registers(const std::vector<std::string>& regs, uint32_t size = 4);       // form 7
Fields bare_form(uint8_t form);

struct Symbol {
  uint8_t category = VARIABLE;
  uint16_t own_id = 0;
  std::string name;
  std::optional<Fields> type;      // kind bit 0
  std::optional<Fields> location;  // kind bit 1
  Fields rest;                     // bytes after the parts, skipped by the reader
};

struct SourceFile {
  std::string dir;   // first name part
  std::string file;  // second name part
};

class Builder {
 public:
  // Appends one record: type byte, length, body, trailer byte.
  Builder& record(uint8_t code, const Fields& body);
  Builder& raw(const std::vector<uint8_t>& bytes);

  Builder& hdr(uint8_t header_type = 0, uint8_t debug_level = 1);
  Builder& unit(std::string_view module, std::string_view processor, uint16_t sections,
                uint8_t flags, uint8_t space_width = 0);
  // base_addend is written when the reader's address form for the unit is not 0.
  Builder& cl(uint32_t base, std::string_view name, uint8_t flags = 0,
              std::optional<uint32_t> base_addend = {});
  Builder& sect(uint16_t unit, uint16_t section);
  Builder& locate(uint16_t section);
  Builder& aflag(uint16_t section, uint32_t offset, uint8_t flag);
  Builder& data(const std::vector<uint8_t>& bytes);
  Builder& zero(uint16_t count);
  Builder& repeat(uint16_t count, const std::vector<uint8_t>& pattern);
  Builder& dbgunit(uint8_t flags, uint16_t unit);
  Builder& basetype(uint8_t index, uint8_t code, uint32_t size, uint8_t flags,
                    std::string_view name = "");
  Builder& srcfiles(const std::vector<SourceFile>& files);
  Builder& curfile(uint16_t file);
  Builder& lines(const std::vector<std::pair<uint16_t, uint32_t>>& pairs);
  Builder& symbol(const Symbol& s);
  Builder& attr(uint8_t flags, uint8_t attribute = 0);
  Builder& functype();
  Builder& blkend(uint8_t flags);
  Builder& aggr_begin();
  Builder& aggr_end();
  Builder& arrtype(const std::vector<uint32_t>& upper_bounds);
  Builder& dpt(uint8_t pointer_type);
  Builder& end();

  // The address width that address fields are written with (the first nonzero UNIT width).
  int addr_width() const { return addr_width_; }
  void set_addr_width(int w) { addr_width_ = w; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  void write(const std::string& path) const;

 private:
  std::vector<uint8_t> bytes_;
  int addr_width_ = 0;
  int file_level_ = 0;
  int debug_level_ = 0;
};

}  // namespace tekrec
