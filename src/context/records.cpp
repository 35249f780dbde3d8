#include "context/records.hpp"

namespace tek {

namespace {

constexpr uint8_t NAME = 0;

constexpr Field<HeaderValue> HEADER[] = {{4, &HeaderValue::ver},
                                         {2, &HeaderValue::compiler},
                                         {4, &HeaderValue::compiler_ver},
                                         {2, &HeaderValue::cpu}};

constexpr Field<PublicValue> PUBLIC[] = {{2, &PublicValue::mode},  {4, &PublicValue::addr},
                                         {1, &PublicValue::cls},   {4, &PublicValue::typeix},
                                         {4, &PublicValue::modix}, {NAME, nullptr}};

constexpr Field<AddrValue> ADDR[] = {{4, &AddrValue::addr}};

constexpr Field<SetLocalValue> SETLOCAL[] = {{1, &SetLocalValue::cls},
                                             {4, &SetLocalValue::offset},
                                             {4, &SetLocalValue::typeix},
                                             {NAME, nullptr}};

constexpr Field<FileValue> FILE_[] = {{NAME, nullptr}};
constexpr Field<EndLineValue> ENDLINE[] = {{2, &EndLineValue::mode}};
constexpr Field<LineValue> LINE[] = {{4, &LineValue::line}, {4, &LineValue::addr}};

constexpr Field<TypeValue> TYPE_COMMON[] = {{1, &TypeValue::kind}, {4, &TypeValue::selfix}};
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

constexpr Field<ObjectValue> OBJECT[] = {
    {2, &ObjectValue::mode}, {4, &ObjectValue::addr}, {2, &ObjectValue::length}};
constexpr Field<ModuleValue> MODULE[] = {{4, &ModuleValue::modix}, {NAME, nullptr}};
constexpr Field<AddrFlagValue> ADDRFLAG[] = {{4, &AddrFlagValue::addr}, {4, &AddrFlagValue::flag}};

}  // namespace

Layout<HeaderValue> header_layout() {
  return HEADER;
}
Layout<PublicValue> public_layout() {
  return PUBLIC;
}
Layout<AddrValue> addr_layout() {
  return ADDR;
}
Layout<SetLocalValue> set_local_layout() {
  return SETLOCAL;
}
Layout<FileValue> file_layout() {
  return FILE_;
}
Layout<EndLineValue> end_line_layout() {
  return ENDLINE;
}
Layout<LineValue> line_layout() {
  return LINE;
}
Layout<TypeValue> type_common_layout() {
  return TYPE_COMMON;
}
Layout<ObjectValue> object_layout() {
  return OBJECT;
}
Layout<ModuleValue> module_layout() {
  return MODULE;
}
Layout<AddrFlagValue> addr_flag_layout() {
  return ADDRFLAG;
}

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

std::string_view record_name(std::string_view name) {
  size_t end = name.find('\0');
  if (end != std::string_view::npos) name = name.substr(0, end);
  if (name.size() > MAX_NAME) name = name.substr(0, MAX_NAME);
  return name;
}

void put_le(std::vector<uint8_t>& out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t get_le(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace tek
