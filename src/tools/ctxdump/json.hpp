// ctxdump --json: each record as one JSON object on a line of its own.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "format/ctx/ctxfile.hpp"

namespace tek {

// The keys of a line besides the record's fields; no field may be named like them.
inline constexpr const char* JSON_FILE_KEY = "file";
inline constexpr const char* JSON_OFFSET_KEY = "file_offset";
inline constexpr const char* JSON_TAG_KEY = "tag";
// The key of the name field (width 0 in a layout), and of the OBJECT data bytes.
inline constexpr const char* JSON_NAME_KEY = "name";
inline constexpr const char* JSON_DATA_KEY = "data";

// How a numeric field is written.
enum class JsonForm : uint8_t {
  Unsigned,     // the stored bits as an unsigned number: addresses, indices, sizes, counts
  Signed,       // the stored 32 bits as a two's complement number
  Kind,         // {"name": the kind's name or null, "value": the kind code}
  Class,        // {"name": the storage class's name or null, "value": the class code}
  LocalOffset,  // signed for class AUTO (a stack offset), else unsigned (an address, a register)
};

// The numeric fields of each record value by the names that the format gives them, and how
// each is written.
template <class V>
struct FieldName {
  uint32_t V::*member;
  const char* name;
  JsonForm form = JsonForm::Unsigned;
};
template <class V>
struct FieldNames;

template <>
struct FieldNames<HeaderValue> {
  static constexpr FieldName<HeaderValue> table[] = {
      {&HeaderValue::ver, "ver", JsonForm::Signed},
      {&HeaderValue::compiler, "compiler"},
      {&HeaderValue::compiler_ver, "compiler_ver", JsonForm::Signed},
      {&HeaderValue::cpu, "cpu"}};
};
template <>
struct FieldNames<PublicValue> {
  static constexpr FieldName<PublicValue> table[] = {{&PublicValue::mode, "mode"},
                                                     {&PublicValue::addr, "addr"},
                                                     {&PublicValue::cls, "class", JsonForm::Class},
                                                     {&PublicValue::typeix, "typeix"},
                                                     {&PublicValue::modix, "modix"}};
};
template <>
struct FieldNames<StartLocalValue> {
  static constexpr FieldName<StartLocalValue> table[] = {{&StartLocalValue::addr, "addr"}};
};
template <>
struct FieldNames<EndLocalValue> {
  static constexpr FieldName<EndLocalValue> table[] = {{&EndLocalValue::addr, "addr"}};
};
template <>
struct FieldNames<SetLocalValue> {
  static constexpr FieldName<SetLocalValue> table[] = {
      {&SetLocalValue::cls, "class", JsonForm::Class},
      {&SetLocalValue::offset, "offset", JsonForm::LocalOffset},
      {&SetLocalValue::typeix, "typeix"}};
};
template <>
struct FieldNames<FileValue> {
  static constexpr std::array<FieldName<FileValue>, 0> table{};
};
template <>
struct FieldNames<EndLineValue> {
  static constexpr FieldName<EndLineValue> table[] = {{&EndLineValue::mode, "mode"}};
};
template <>
struct FieldNames<LineValue> {
  static constexpr FieldName<LineValue> table[] = {{&LineValue::line, "line", JsonForm::Signed},
                                                   {&LineValue::addr, "addr"}};
};
// The kind is the field "type" of the TYPE record. The bit offset of a BIT type is signed.
template <>
struct FieldNames<TypeValue> {
  static constexpr FieldName<TypeValue> table[] = {{&TypeValue::kind, "type", JsonForm::Kind},
                                                   {&TypeValue::selfix, "selfix"},
                                                   {&TypeValue::size, "size"},
                                                   {&TypeValue::count, "count"},
                                                   {&TypeValue::retix, "retix"},
                                                   {&TypeValue::argc, "argc"},
                                                   {&TypeValue::typeix, "typeix"},
                                                   {&TypeValue::reserved, "reserved"},
                                                   {&TypeValue::limit, "limit"},
                                                   {&TypeValue::sign, "sign"},
                                                   {&TypeValue::offs, "offs", JsonForm::Signed}};
};
// An enumeration constant is signed.
template <>
struct FieldNames<MemberValue> {
  static constexpr FieldName<MemberValue> table[] = {
      {&MemberValue::typeix, "typeix"},
      {&MemberValue::offset, "offset"},
      {&MemberValue::value, "value", JsonForm::Signed},
      {&MemberValue::bitoffs, "bitoffs"},
      {&MemberValue::bitsize, "bitsize"}};
};
template <>
struct FieldNames<ObjectValue> {
  static constexpr FieldName<ObjectValue> table[] = {
      {&ObjectValue::mode, "mode"}, {&ObjectValue::addr, "addr"}, {&ObjectValue::length, "length"}};
};
template <>
struct FieldNames<ModuleValue> {
  static constexpr FieldName<ModuleValue> table[] = {{&ModuleValue::modix, "modix"}};
};
template <>
struct FieldNames<AddrFlagValue> {
  static constexpr FieldName<AddrFlagValue> table[] = {{&AddrFlagValue::addr, "addr"},
                                                       {&AddrFlagValue::flag, "flag"}};
};

// The row of a numeric layout field; nullptr for a member that the table above does not name.
template <class V>
const FieldName<V>* find_field(const Field<V>& f) {
  for (const FieldName<V>& n : FieldNames<V>::table)
    if (n.member == f.member) return &n;
  return nullptr;
}

// The key of a layout field; nullptr for a member that the table above does not name.
template <class V>
const char* field_name(const Field<V>& f) {
  if (f.width == 0) return JSON_NAME_KEY;
  const FieldName<V>* n = find_field(f);
  return n ? n->name : nullptr;
}

// Prints the record as one JSON object and a line end: its offset, tag name and fields, numbers
// in the form of their field, names as strings of one character per byte (U+0000 to U+00FF).
// With hex, the data bytes of an OBJECT as a string of hexadecimal digits; with file, the file's
// name first.
void print_json_record(FILE* out, const CtxRecord& rec, bool hex, const std::string* file);

}  // namespace tek
