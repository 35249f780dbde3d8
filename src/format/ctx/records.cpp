#include "format/ctx/records.hpp"

#include <cstring>
#include <iterator>

#include "format/ctx/kinds.hpp"

namespace tek {

namespace {

constexpr auto S = FieldForm::Signed;

constexpr Field<TypeValue> TYPE_AGGREGATE[] = {
    {4, &TypeValue::size, "size"}, {4, &TypeValue::count, "count"}, NAME_FIELD<TypeValue>};
constexpr Field<TypeValue> TYPE_ENUM[] = {{4, &TypeValue::count, "count"}, NAME_FIELD<TypeValue>};
constexpr Field<TypeValue> TYPE_FUNCTION[] = {{4, &TypeValue::retix, "retix"},
                                              {2, &TypeValue::argc, "argc"}};
constexpr Field<TypeValue> TYPE_POINTER[] = {{4, &TypeValue::typeix, "typeix"}};
constexpr Field<TypeValue> TYPE_ARRAY[] = {{4, &TypeValue::typeix, "typeix"},
                                           {1, &TypeValue::reserved, "reserved"},
                                           {4, &TypeValue::limit, "limit"}};
constexpr Field<TypeValue> TYPE_TYPEDEF[] = {{4, &TypeValue::typeix, "typeix"},
                                             NAME_FIELD<TypeValue>};
// The bit offset of a BIT type is signed.
constexpr Field<TypeValue> TYPE_BIT[] = {
    {1, &TypeValue::sign, "sign"}, {4, &TypeValue::size, "size"}, {4, &TypeValue::offs, "offs", S}};

constexpr Field<MemberValue> MEMBER_AGGREGATE[] = {{4, &MemberValue::typeix, "typeix"},
                                                   {4, &MemberValue::offset, "offset"},
                                                   NAME_FIELD<MemberValue>};
// An enumeration constant is signed.
constexpr Field<MemberValue> MEMBER_ENUM[] = {{4, &MemberValue::value, "value", S},
                                              NAME_FIELD<MemberValue>};
constexpr Field<MemberValue> MEMBER_BITFIELD[] = {{4, &MemberValue::typeix, "typeix"},
                                                  {4, &MemberValue::bitoffs, "bitoffs"},
                                                  {4, &MemberValue::bitsize, "bitsize"},
                                                  NAME_FIELD<MemberValue>};

using C = KindClass;
using M = MemberForm;

}  // namespace

// Row 0 stands for the codes no kind has.
const KindInfo KIND_TABLE[] = {
    {nullptr, C::Unknown, 0, {}, M::None},
    {"VOID", C::Void, 0, {}, M::None},
    {"8SIGNED", C::Base, 1, {}, M::None},
    {"8UNSIGNED", C::Base, 1, {}, M::None},
    {"16SIGNED", C::Base, 2, {}, M::None},
    {"16UNSIGNED", C::Base, 2, {}, M::None},
    {"32SIGNED", C::Base, 4, {}, M::None},
    {"32UNSIGNED", C::Base, 4, {}, M::None},
    {"64SIGNED", C::Base, 8, {}, M::None},
    {"64UNSIGNED", C::Base, 8, {}, M::None},
    {"32FLOAT", C::Base, 4, {}, M::None},
    {"64FLOAT", C::Base, 8, {}, M::None},
    {"EXTFLOAT", C::Base, 0, {}, M::None},  // its size is the compiler's
    {"STRUCT", C::Aggregate, 0, TYPE_AGGREGATE, M::Field},
    {"UNION", C::Aggregate, 0, TYPE_AGGREGATE, M::Field},
    {"ENUM", C::Enum, 0, TYPE_ENUM, M::Enumerator},  // its size is that of int
    {"FUNCTION", C::Function, 0, TYPE_FUNCTION, M::None},
    {"16POINTER", C::Pointer, 2, TYPE_POINTER, M::None},
    {"32POINTER", C::Pointer, 4, TYPE_POINTER, M::None},
    {"ARRAY", C::Array, 0, TYPE_ARRAY, M::None},
    {"BITFIELD", C::Aggregate, 0, TYPE_AGGREGATE, M::BitField},
    {"TYPEDEF", C::Typedef, 0, TYPE_TYPEDEF, M::None},
    {"FARFUNC", C::Function, 0, TYPE_FUNCTION, M::None},
    {"ESPOINTER", C::Pointer, 2, TYPE_POINTER, M::None},
    {"SSPOINTER", C::Pointer, 2, TYPE_POINTER, M::None},
    {"CSPOINTER", C::Pointer, 2, TYPE_POINTER, M::None},
    {"HUGEPNT", C::Pointer, 4, TYPE_POINTER, M::None},
    {"BIT", C::Bit, 4, TYPE_BIT, M::None},
    {"CLASS", C::Aggregate, 0, TYPE_AGGREGATE, M::Field},
};
static_assert(std::size(KIND_TABLE) == KIND_COUNT);

Layout<TypeValue> type_layout(uint32_t kind) {
  return kind_info(kind).fields;
}

Layout<MemberValue> member_layout(uint32_t last_kind) {
  switch (kind_info(last_kind).members) {
    case MemberForm::Field:
      return MEMBER_AGGREGATE;
    case MemberForm::Enumerator:
      return MEMBER_ENUM;
    case MemberForm::BitField:
      return MEMBER_BITFIELD;
    case MemberForm::None:
      break;
  }
  return {};
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
