#include "format/ctx/records.hpp"

#include <cstring>

namespace tek {

namespace {

constexpr uint8_t NAME = 0;

constexpr Field<TypeValue> TYPE_AGGREGATE[] = {
    {4, &TypeValue::size}, {4, &TypeValue::count}, {NAME, nullptr}};
constexpr Field<TypeValue> TYPE_ENUM[] = {{4, &TypeValue::count}, {NAME, nullptr}};
constexpr Field<TypeValue> TYPE_FUNCTION[] = {{4, &TypeValue::retix}, {2, &TypeValue::argc}};
constexpr Field<TypeValue> TYPE_POINTER[] = {{4, &TypeValue::typeix}};
constexpr Field<TypeValue> TYPE_ARRAY[] = {
    {4, &TypeValue::typeix}, {1, &TypeValue::reserved}, {4, &TypeValue::limit}};
constexpr Field<TypeValue> TYPE_TYPEDEF[] = {{4, &TypeValue::typeix}, {NAME, nullptr}};
constexpr Field<TypeValue> TYPE_BIT[] = {
    {1, &TypeValue::sign}, {4, &TypeValue::size}, {4, &TypeValue::offs}};

constexpr Field<MemberValue> MEMBER_AGGREGATE[] = {
    {4, &MemberValue::typeix}, {4, &MemberValue::offset}, {NAME, nullptr}};
constexpr Field<MemberValue> MEMBER_ENUM[] = {{4, &MemberValue::value}, {NAME, nullptr}};
constexpr Field<MemberValue> MEMBER_BITFIELD[] = {{4, &MemberValue::typeix},
                                                  {4, &MemberValue::bitoffs},
                                                  {4, &MemberValue::bitsize},
                                                  {NAME, nullptr}};

}  // namespace

Layout<TypeValue> type_layout(uint32_t kind) {
  switch (kind) {
    case K_STRUCT:
    case K_UNION:
    case K_CLASS:
    case K_BITFIELD:
      return TYPE_AGGREGATE;
    case K_ENUM:
      return TYPE_ENUM;
    case K_FUNCTION:
    case K_FARFUNC:
      return TYPE_FUNCTION;
    case K_16POINTER:
    case K_32POINTER:
    case K_ESPOINTER:
    case K_SSPOINTER:
    case K_CSPOINTER:
    case K_HUGEPNT:
      return TYPE_POINTER;
    case K_ARRAY:
      return TYPE_ARRAY;
    case K_TYPEDEF:
      return TYPE_TYPEDEF;
    case K_BIT:
      return TYPE_BIT;
    default:
      return {};
  }
}

Layout<MemberValue> member_layout(uint32_t last_kind) {
  switch (last_kind) {
    case K_STRUCT:
    case K_UNION:
    case K_CLASS:
      return MEMBER_AGGREGATE;
    case K_ENUM:
      return MEMBER_ENUM;
    case K_BITFIELD:
      return MEMBER_BITFIELD;
    default:
      return {};
  }
}

namespace {

template <class V>
bool holds(Layout<V> layout, uint32_t V::*member) {
  for (const Field<V>& f : layout)
    if (f.member == member) return true;
  return false;
}

}  // namespace

bool refers_by_retix(uint32_t kind) {
  return holds(type_layout(kind), &TypeValue::retix);
}
bool refers_by_typeix(uint32_t kind) {
  return holds(type_layout(kind), &TypeValue::typeix);
}
bool members_refer_to_types(uint32_t last_kind) {
  return holds(member_layout(last_kind), &MemberValue::typeix);
}

std::string_view record_name(std::string_view name) {
  size_t end = name.find('\0');
  if (end != std::string_view::npos) name = name.substr(0, end);
  if (name.size() > MAX_NAME) name = name.substr(0, MAX_NAME);
  return name;
}

void RecordBuffer::put_name(std::string_view name) {
  std::string_view n = record_name(name);
  bytes[size++] = static_cast<uint8_t>(n.size());
  std::memcpy(bytes + size, n.data(), n.size());
  size += n.size();
}

uint32_t get_le(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace tek
