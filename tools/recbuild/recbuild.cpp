#include "recbuild/recbuild.hpp"

#include <fstream>
#include <stdexcept>

namespace tekrec {

namespace {

void put_be(std::vector<uint8_t>& out, uint32_t v, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The reader's field width for an address: 2, 3 or 4 bytes, else 1.
int address_bytes(int width) {
  return width >= 2 && width <= 4 ? width : 1;
}

}  // namespace

Fields& Fields::add(Width w, uint32_t v) {
  fields_.push_back({w, v, {}});
  return *this;
}

Fields& Fields::name(std::string_view s) {
  u8(static_cast<uint32_t>(s.size()));
  return bytes(s);
}

Fields& Fields::bytes(std::string_view s) {
  fields_.push_back({BYTES, 0, std::string(s)});
  return *this;
}

Fields& Fields::bytes(const std::vector<uint8_t>& s) {
  return bytes(std::string_view(reinterpret_cast<const char*>(s.data()), s.size()));
}

Fields& Fields::append(const Fields& other) {
  fields_.insert(fields_.end(), other.fields_.begin(), other.fields_.end());
  return *this;
}

std::vector<uint8_t> Fields::encode(int addr_width) const {
  std::vector<uint8_t> out;
  for (const Field& f : fields_) {
    switch (f.width) {
      case U8:
        put_be(out, f.value, 1);
        break;
      case U16:
        put_be(out, f.value, 2);
        break;
      case U24:
        put_be(out, f.value, 3);
        break;
      case U32:
        put_be(out, f.value, 4);
        break;
      case ADDR:
        put_be(out, f.value, address_bytes(addr_width));
        break;
      case BYTES:
        out.insert(out.end(), f.bytes.begin(), f.bytes.end());
        break;
    }
  }
  return out;
}

Fields basic_type(uint8_t index) {
  return Fields().u8(index & 0x7F);
}
Fields type_id(uint16_t id) {
  return Fields().u8(0x80).u16(id);
}

Fields at_section(uint16_t section, uint32_t offset) {
  return Fields().u8(0).u16(section).addr(offset);
}

Fields hex_digits(std::string_view digits) {
  return Fields().name(digits);
}

Fields member_at(uint32_t offset, uint32_t size) {
  return Fields().u8(0).addr(size).addr(offset).u8(0);
}

Fields bitfield_at(uint32_t offset, uint32_t width, int8_t bit_offset) {
  return Fields().u8(0x80).addr(width).addr(offset).u8(static_cast<uint8_t>(bit_offset));
}

Fields enum_tag() {
  return Fields().u8(0);
}
Fields aggregate_tag(uint32_t size) {
  return Fields().addr(size);
}

Fields classed(uint8_t cls, uint8_t value_size, uint32_t value) {
  Fields f;
  f.u8(cls).u8(value_size);
  if (value_size == 1) f.u8(value);
  if (value_size == 2) f.u16(value);
  if (value_size == 4) f.u32(value);
  return f;
}

Fields in_register(std::string_view reg, uint32_t size) {
  return Fields().u8(1).addr(size).addr(0).name(reg);
}

Fields in_section(uint8_t form, uint16_t section, uint32_t offset, uint32_t size) {
  return Fields().u8(form).addr(size).u16(section).addr(offset);
}

Fields in_frame(uint32_t offset, uint32_t size) {
  return Fields().u8(6).addr(size).addr(offset);
}

Fields in_registers(const std::vector<std::string>& regs, uint32_t size) {
  Fields f;
  f.u8(7).addr(size).addr(0).u8(static_cast<uint32_t>(regs.size()));
  for (const std::string& r : regs) f.name(r);
  return f;
}

Fields bare_form(uint8_t form) {
  return Fields().u8(form);
}

Builder& Builder::raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Builder& Builder::record(uint8_t code, const Fields& body) {
  std::vector<uint8_t> b = body.encode(addr_width_);
  if (b.size() > 0xFFFF) throw std::length_error("record body over 65535 bytes");
  if (b.size() > 0xFF) {
    bytes_.push_back(static_cast<uint8_t>(code | 1));
    put_be(bytes_, static_cast<uint32_t>(b.size()), 2);
  } else {
    bytes_.push_back(code);
    bytes_.push_back(static_cast<uint8_t>(b.size()));
  }
  bytes_.insert(bytes_.end(), b.begin(), b.end());
  bytes_.push_back(0);  // trailer byte
  return *this;
}

Builder& Builder::hdr(uint8_t header_type, uint8_t debug_level) {
  file_level_ = debug_level_ = debug_level;
  return record(HDR, Fields().u8(header_type).u16(0).u16(0).u8(0).u8(debug_level));
}

Builder& Builder::unit(std::string_view module, std::string_view processor, uint16_t sections,
                       uint8_t flags, uint8_t space_width) {
  if (addr_width_ == 0) addr_width_ = flags & 0x0F;
  return record(UNIT, Fields()
                          .u8(0)
                          .u16(sections)
                          .u16(0)
                          .u16(0)
                          .u16(0)
                          .u8(0)
                          .u8(flags)
                          .u8(space_width)
                          .u8(0)
                          .name(module)
                          .name(processor));
}

Builder& Builder::cl(uint32_t base, std::string_view name, uint8_t flags,
                     std::optional<uint32_t> base_addend) {
  Fields f;
  f.u8(flags).addr(base);
  if (base_addend) f.addr(*base_addend);
  f.addr(0).u16(0).u16(0).u32(0).name(name);
  return record(CL, f);
}

Builder& Builder::sect(uint16_t unit, uint16_t section) {
  return record(SECT, Fields().u16(unit).u16(section));
}

Builder& Builder::locate(uint16_t section) {
  return record(LOCATE, Fields().u16(section));
}

Builder& Builder::aflag(uint16_t section, uint32_t offset, uint8_t flag) {
  return record(AFLAG, Fields().u16(section).addr(offset).u8(flag));
}

Builder& Builder::data(const std::vector<uint8_t>& bytes) {
  return record(DATA, Fields().bytes(bytes));
}

Builder& Builder::zero(uint16_t count) {
  return record(ZERO, Fields().u16(count));
}

Builder& Builder::repeat(uint16_t count, const std::vector<uint8_t>& pattern) {
  return record(REPEAT, Fields().u16(count).bytes(pattern));
}

Builder& Builder::dbgunit(uint8_t flags, uint16_t unit) {
  debug_level_ = (flags >> 4) ? file_level_ : 1;
  return record(DBGUNIT, Fields().u8(flags).u16(unit).u16(0).u16(0).u8(0).u8(0));
}

Builder& Builder::basetype(uint8_t index, uint8_t code, uint32_t size, uint8_t flags,
                           std::string_view name) {
  return record(BASETYPE, Fields().name(name).u8(index).u8(code).addr(size).u8(flags));
}

Builder& Builder::srcfiles(const std::vector<SourceFile>& files) {
  Fields f;
  f.u16(static_cast<uint32_t>(files.size()));
  for (const SourceFile& s : files) f.name(s.dir).name(s.file).u16(0).u16(0).u16(0).u16(0);
  return record(SRCFILES, f);
}

Builder& Builder::curfile(uint16_t file) {
  return record(CURFILE, Fields().u16(file));
}

Builder& Builder::lines(const std::vector<std::pair<uint16_t, uint32_t>>& pairs) {
  Fields f;
  f.u16(static_cast<uint32_t>(pairs.size()));
  for (const auto& [line, offset] : pairs) f.u16(line).addr(offset);
  return record(LINES, f);
}

Builder& Builder::symbol(const Symbol& s) {
  uint8_t kind = static_cast<uint8_t>(s.category << 2);
  if (s.type) kind |= 1;
  if (s.location) kind |= 2;
  Fields f;
  f.u8(kind).u16(s.own_id);
  if (debug_level_ > 1) f.u16(0);
  f.name(s.name);
  if (s.type) f.append(*s.type);
  if (s.location) f.append(*s.location);
  f.append(s.rest);
  return record(SYMBOL, f);
}

Builder& Builder::attr(uint8_t flags, uint8_t attribute) {
  Fields f;
  f.u8(flags);
  if ((flags & 0x80) == 0) f.u8(attribute);
  return record(ATTR, f);
}

Builder& Builder::functype() {
  return record(FUNCTYPE, Fields());
}
Builder& Builder::blkend(uint8_t flags) {
  return record(BLKEND, Fields().u8(flags));
}
Builder& Builder::aggr_begin() {
  return record(AGGR, Fields().u8(0x00));
}
Builder& Builder::aggr_end() {
  return record(AGGR, Fields().u8(0x80));
}

Builder& Builder::arrtype(const std::vector<uint32_t>& upper_bounds) {
  Fields f;
  f.addr(0).u8(static_cast<uint32_t>(upper_bounds.size()));
  for (uint32_t bound : upper_bounds) f.u8(0).addr(bound);
  return record(ARRTYPE, f);
}

Builder& Builder::dpt(uint8_t pointer_type) {
  return record(DPT, Fields().u8(pointer_type));
}
Builder& Builder::end() {
  return record(END, Fields());
}

void Builder::write(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()),
            static_cast<std::streamsize>(bytes_.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace tekrec
