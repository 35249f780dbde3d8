// Context file record layouts, shared by the writer and by readers of finished files.
//
// A record is a tag byte followed by little-endian fields packed without padding; a name is a
// length byte and that many bytes. Each layout below lists the fields after the tag (after the
// common part, for TYPE), each with the member of the record's value struct that holds it, its
// name and how it reads, so that encoding, decoding and the listings by name follow one
// definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tek {

enum Tag : uint8_t {
  TAG_HEADER = 0,
  TAG_PUBLIC = 1,
  TAG_STARTLOCAL = 2,
  TAG_ENDLOCAL = 3,
  TAG_SETLOCAL = 4,
  TAG_FILE = 5,
  TAG_ENDLINE = 6,
  TAG_LINE = 7,
  TAG_TYPE = 9,
  TAG_MEMBER = 10,
  TAG_OBJECT = 11,
  TAG_MODULE = 13,
  TAG_ADDRFLAG = 14,
};

// Type kinds.
enum Kind : uint8_t {
  K_VOID = 1,
  K_8SIGNED = 2,
  K_8UNSIGNED = 3,
  K_16SIGNED = 4,
  K_16UNSIGNED = 5,
  K_32SIGNED = 6,
  K_32UNSIGNED = 7,
  K_64SIGNED = 8,
  K_64UNSIGNED = 9,
  K_32FLOAT = 10,
  K_64FLOAT = 11,
  K_EXTFLOAT = 12,
  K_STRUCT = 13,
  K_UNION = 14,
  K_ENUM = 15,
  K_FUNCTION = 16,
  K_16POINTER = 17,
  K_32POINTER = 18,
  K_ARRAY = 19,
  K_BITFIELD = 20,
  K_TYPEDEF = 21,
  K_FARFUNC = 22,
  K_ESPOINTER = 23,
  K_SSPOINTER = 24,
  K_CSPOINTER = 25,
  K_HUGEPNT = 26,
  K_BIT = 27,
  K_CLASS = 28,
};

// Storage classes of PUBLIC and SETLOCAL records.
enum StorageClass : uint8_t {
  CLASS_CONST = 0,
  CLASS_EXT = 1,
  CLASS_STAT = 2,
  CLASS_AUTO = 3,  // the offset is a stack offset, sign-extended
  CLASS_REG = 4,
  CLASS_MOD = 6,
  CLASS_NONE = 7,
  CLASS_REF = 8,
};

constexpr size_t MAX_NAME = 255;

// The predefined basic types that open every type section: selfix 256 to 271, these kinds.
constexpr uint32_t PREDEFINED_FIRST = 256;
constexpr size_t PREDEFINED_COUNT = 16;
constexpr uint8_t PREDEFINED_KINDS[PREDEFINED_COUNT] = {
    K_VOID,     K_VOID,       K_8SIGNED,  K_8UNSIGNED,  K_16SIGNED, K_16UNSIGNED,
    K_32SIGNED, K_32UNSIGNED, K_32SIGNED, K_32UNSIGNED, K_32FLOAT,  K_64FLOAT,
    K_EXTFLOAT, K_VOID,       K_VOID,     K_VOID};

// Record values. Numeric fields are held in 32 bits; the layouts give their widths in the file.
struct HeaderValue {
  uint32_t ver = 0, compiler = 0, compiler_ver = 0, cpu = 0;
};
struct PublicValue {
  uint32_t mode = 0, addr = 0, cls = 0, typeix = 0, modix = 0;
  std::string name;
};
struct StartLocalValue {
  uint32_t addr = 0;
};
struct EndLocalValue {
  uint32_t addr = 0;
};
struct SetLocalValue {
  uint32_t cls = 0, offset = 0, typeix = 0;
  std::string name;
};
struct FileValue {
  std::string name;
};
struct EndLineValue {
  uint32_t mode = 0;
};
struct LineValue {
  uint32_t line = 0, addr = 0;
};
struct TypeValue {
  uint32_t kind = 0, selfix = 0;
  uint32_t size = 0, count = 0, retix = 0, argc = 0, typeix = 0, reserved = 0, limit = 0, sign = 0,
           offs = 0;
  std::string name;
};
struct MemberValue {
  uint32_t typeix = 0, offset = 0, value = 0, bitoffs = 0, bitsize = 0;
  std::string name;
  // The kind of the TYPE record that the member follows; not stored in the record, it selects
  // the layout (0 when no TYPE record came before).
  uint32_t kind = 0;
};
struct ObjectValue {
  uint32_t mode = 0, addr = 0, length = 0;
  // The length data bytes, a view valid while the record is handled.
  std::span<const uint8_t> data;
};
struct ModuleValue {
  uint32_t modix = 0;
  std::string name;
};
struct AddrFlagValue {
  uint32_t addr = 0, flag = 0;
};

// How a field reads, for listings and readers of finished files.
enum class FieldForm : uint8_t {
  Unsigned,     // the stored bits as an unsigned number: addresses, indices, sizes, counts
  Signed,       // the stored bits as a two's complement number
  Kind,         // a type kind code, named by the kind's name where it has one
  Class,        // a storage class code, named by the class's name where it has one
  StackOffset,  // signed when the record's storage class is AUTO (a stack offset), else unsigned
  Name,         // the name: a length byte and that many bytes
};

// One field of a layout: its width in bytes (1, 2 or 4, or 0 for the name), the member that
// holds it, its name and how it reads. Every field has a name; the name of the name field is
// "name".
template <class V>
struct Field {
  constexpr Field(uint8_t w, uint32_t V::*m, const char* n, FieldForm f = FieldForm::Unsigned)
      : width(w), member(m), name(n), form(f) {}

  uint8_t width;
  uint32_t V::*member;
  const char* name;
  FieldForm form;
};

// The name field of a layout.
template <class V>
inline constexpr Field<V> NAME_FIELD{0, nullptr, "name", FieldForm::Name};

// The name of the OBJECT data bytes, which follow the fixed fields of the record.
inline constexpr const char* OBJECT_DATA_NAME = "data";

template <class V>
using Layout = std::span<const Field<V>>;

// The layouts of the records with fixed fields.
inline constexpr Field<HeaderValue> HEADER_FIELDS[] = {
    {4, &HeaderValue::ver, "ver", FieldForm::Signed},
    {2, &HeaderValue::compiler, "compiler"},
    {4, &HeaderValue::compiler_ver, "compiler_ver", FieldForm::Signed},
    {2, &HeaderValue::cpu, "cpu"}};

inline constexpr Field<PublicValue> PUBLIC_FIELDS[] = {
    {2, &PublicValue::mode, "mode"},
    {4, &PublicValue::addr, "addr"},
    {1, &PublicValue::cls, "class", FieldForm::Class},
    {4, &PublicValue::typeix, "typeix"},
    {4, &PublicValue::modix, "modix"},
    NAME_FIELD<PublicValue>};

inline constexpr Field<StartLocalValue> STARTLOCAL_FIELDS[] = {{4, &StartLocalValue::addr, "addr"}};
inline constexpr Field<EndLocalValue> ENDLOCAL_FIELDS[] = {{4, &EndLocalValue::addr, "addr"}};

inline constexpr Field<SetLocalValue> SETLOCAL_FIELDS[] = {
    {1, &SetLocalValue::cls, "class", FieldForm::Class},
    {4, &SetLocalValue::offset, "offset", FieldForm::StackOffset},
    {4, &SetLocalValue::typeix, "typeix"},
    NAME_FIELD<SetLocalValue>};

inline constexpr Field<FileValue> FILE_FIELDS[] = {NAME_FIELD<FileValue>};
inline constexpr Field<EndLineValue> ENDLINE_FIELDS[] = {{2, &EndLineValue::mode, "mode"}};
inline constexpr Field<LineValue> LINE_FIELDS[] = {{4, &LineValue::line, "line", FieldForm::Signed},
                                                   {4, &LineValue::addr, "addr"}};

// The kind is the field "type" of a TYPE record.
inline constexpr Field<TypeValue> TYPE_COMMON_FIELDS[] = {
    {1, &TypeValue::kind, "type", FieldForm::Kind}, {4, &TypeValue::selfix, "selfix"}};
inline constexpr Field<ObjectValue> OBJECT_FIELDS[] = {{2, &ObjectValue::mode, "mode"},
                                                       {4, &ObjectValue::addr, "addr"},
                                                       {2, &ObjectValue::length, "length"}};
inline constexpr Field<ModuleValue> MODULE_FIELDS[] = {{4, &ModuleValue::modix, "modix"},
                                                       NAME_FIELD<ModuleValue>};
inline constexpr Field<AddrFlagValue> ADDRFLAG_FIELDS[] = {{4, &AddrFlagValue::addr, "addr"},
                                                           {4, &AddrFlagValue::flag, "flag"}};

inline Layout<HeaderValue> header_layout() {
  return HEADER_FIELDS;
}
inline Layout<PublicValue> public_layout() {
  return PUBLIC_FIELDS;
}
inline Layout<StartLocalValue> start_local_layout() {
  return STARTLOCAL_FIELDS;
}
inline Layout<EndLocalValue> end_local_layout() {
  return ENDLOCAL_FIELDS;
}
inline Layout<SetLocalValue> set_local_layout() {
  return SETLOCAL_FIELDS;
}
inline Layout<FileValue> file_layout() {
  return FILE_FIELDS;
}
inline Layout<EndLineValue> end_line_layout() {
  return ENDLINE_FIELDS;
}
inline Layout<LineValue> line_layout() {
  return LINE_FIELDS;
}
inline Layout<TypeValue> type_common_layout() {
  return TYPE_COMMON_FIELDS;
}
// The fixed fields of OBJECT (mode, addr, length); the data bytes follow.
inline Layout<ObjectValue> object_layout() {
  return OBJECT_FIELDS;
}
inline Layout<ModuleValue> module_layout() {
  return MODULE_FIELDS;
}
inline Layout<AddrFlagValue> addr_flag_layout() {
  return ADDRFLAG_FIELDS;
}

// Kind-specific part of a TYPE record; empty for kinds 1-12 and for undefined kinds.
Layout<TypeValue> type_layout(uint32_t kind);
// MEMBER fields by the kind of the TYPE record before it; empty for kinds without members.
Layout<MemberValue> member_layout(uint32_t last_kind);

// The fields that refer to another type, for the type index check and readers that verify a
// file: those that the layouts hold as typeix or retix (a function's return type, the typeix of
// pointers, arrays and typedefs, of a member of a structure, union, class or bit-field; an
// enumeration constant carries a value, a BIT type none).
bool refers_by_retix(uint32_t kind);
bool refers_by_typeix(uint32_t kind);
bool members_refer_to_types(uint32_t last_kind);

// A name as stored: cut to 255 bytes and ending at its first 0 byte.
std::string_view record_name(std::string_view name);

uint32_t get_le(const uint8_t* p, int width);

// A record being encoded. Every record but OBJECT (whose data bytes are written on their own)
// fits: the longest is a name of 255 bytes behind at most 15 bytes of fields.
struct RecordBuffer {
  uint8_t bytes[320];
  size_t size = 0;

  void put(uint32_t value, int width) {
    uint8_t* p = bytes + size;
    switch (width) {
      case 4:
        p[3] = static_cast<uint8_t>(value >> 24);
        p[2] = static_cast<uint8_t>(value >> 16);
        [[fallthrough]];
      case 2:
        p[1] = static_cast<uint8_t>(value >> 8);
        [[fallthrough]];
      default:
        p[0] = static_cast<uint8_t>(value);
    }
    size += static_cast<size_t>(width);
  }
  void put_name(std::string_view name);
};

// Appends the fields of a layout; the name field writes the length byte and the name.
template <class V>
void encode_fields(RecordBuffer& out, const V& v, Layout<V> layout, std::string_view name) {
  for (const Field<V>& f : layout) {
    if (f.width == 0)
      out.put_name(name);
    else
      out.put(v.*f.member, f.width);
  }
}

// Reads the fields of a layout from bytes at pos; false when the bytes end first.
template <class V>
bool decode_fields(std::span<const uint8_t> bytes, size_t& pos, V& v, Layout<V> layout,
                   std::string* name) {
  for (const Field<V>& f : layout) {
    if (f.width == 0) {
      if (pos >= bytes.size()) return false;
      size_t n = bytes[pos];
      if (bytes.size() - pos - 1 < n) return false;
      if (name) name->assign(reinterpret_cast<const char*>(bytes.data() + pos + 1), n);
      pos += 1 + n;
    } else {
      if (bytes.size() - pos < f.width) return false;
      v.*f.member = get_le(bytes.data() + pos, f.width);
      pos += f.width;
    }
  }
  return true;
}

// Whether a numeric field of v reads as a signed number.
template <class V>
bool reads_signed(const V& v, const Field<V>& f) {
  if (f.form == FieldForm::Signed) return true;
  if constexpr (requires { v.cls; }) return f.form == FieldForm::StackOffset && v.cls == CLASS_AUTO;
  return false;
}

}  // namespace tek
