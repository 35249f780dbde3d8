// The names of the fields of every record value, as the public context reader gives them, and
// how each numeric field reads. The layouts of records.hpp give the fields and their order; this
// table only names them.
#pragma once

#include <array>
#include <cstdint>

#include "format/ctx/tags.hpp"

namespace tek {

// The name of the name field (width 0 in a layout), and of the OBJECT data bytes.
inline constexpr const char* NAME_FIELD = "name";
inline constexpr const char* DATA_FIELD = "data";

// How a numeric field reads.
enum class FieldForm : uint8_t {
  Unsigned,     // the stored bits as an unsigned number: addresses, indices, sizes, counts
  Signed,       // the stored 32 bits as a two's complement number
  Kind,         // a type kind code, named by the kind's name where it has one
  Class,        // a storage class code, named by the class's name where it has one
  LocalOffset,  // signed for class AUTO (a stack offset), else unsigned (an address, a register)
};

// The numeric fields of each record value by the names that the format gives them, and how
// each reads.
template <class V>
struct FieldName {
  uint32_t V::*member;
  const char* name;
  FieldForm form = FieldForm::Unsigned;
};
template <class V>
struct FieldNames;

template <>
struct FieldNames<HeaderValue> {
  static constexpr FieldName<HeaderValue> table[] = {
      {&HeaderValue::ver, "ver", FieldForm::Signed},
      {&HeaderValue::compiler, "compiler"},
      {&HeaderValue::compiler_ver, "compiler_ver", FieldForm::Signed},
      {&HeaderValue::cpu, "cpu"}};
};
template <>
struct FieldNames<PublicValue> {
  static constexpr FieldName<PublicValue> table[] = {{&PublicValue::mode, "mode"},
                                                     {&PublicValue::addr, "addr"},
                                                     {&PublicValue::cls, "class", FieldForm::Class},
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
      {&SetLocalValue::cls, "class", FieldForm::Class},
      {&SetLocalValue::offset, "offset", FieldForm::LocalOffset},
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
  static constexpr FieldName<LineValue> table[] = {{&LineValue::line, "line", FieldForm::Signed},
                                                   {&LineValue::addr, "addr"}};
};
// The kind is the field "type" of the TYPE record. The bit offset of a BIT type is signed.
template <>
struct FieldNames<TypeValue> {
  static constexpr FieldName<TypeValue> table[] = {{&TypeValue::kind, "type", FieldForm::Kind},
                                                   {&TypeValue::selfix, "selfix"},
                                                   {&TypeValue::size, "size"},
                                                   {&TypeValue::count, "count"},
                                                   {&TypeValue::retix, "retix"},
                                                   {&TypeValue::argc, "argc"},
                                                   {&TypeValue::typeix, "typeix"},
                                                   {&TypeValue::reserved, "reserved"},
                                                   {&TypeValue::limit, "limit"},
                                                   {&TypeValue::sign, "sign"},
                                                   {&TypeValue::offs, "offs", FieldForm::Signed}};
};
// An enumeration constant is signed.
template <>
struct FieldNames<MemberValue> {
  static constexpr FieldName<MemberValue> table[] = {
      {&MemberValue::typeix, "typeix"},
      {&MemberValue::offset, "offset"},
      {&MemberValue::value, "value", FieldForm::Signed},
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

// The name of a layout field; nullptr for a member that the table above does not name.
template <class V>
const char* field_name(const Field<V>& f) {
  if (f.width == 0) return NAME_FIELD;
  const FieldName<V>* n = find_field(f);
  return n ? n->name : nullptr;
}

}  // namespace tek
