#include "format/ctx/dump.hpp"

#include <cinttypes>

#include "format/ctx/kinds.hpp"

namespace tek {

namespace {

struct NamedCode {
  uint8_t code;
  const char* name;
};

constexpr NamedCode CLASS_NAMES[] = {
    {0, "CONST"}, {1, "EXT"}, {2, "STAT"}, {3, "AUTO"},
    {4, "REG"},   {6, "MOD"}, {7, "NONE"}, {8, "REF"},
};

// Codes without a row print as this placeholder.
constexpr const char* UNKNOWN_NAME = "?";

template <size_t N>
const char* lookup(const NamedCode (&table)[N], uint8_t code) {
  for (const NamedCode& row : table)
    if (row.code == code) return row.name;
  return nullptr;
}

int counted(int n) {
  return n < 0 ? 0 : n;
}

}  // namespace

const char* find_kind_name(uint8_t kind) {
  return kind_info(kind).name;
}
const char* find_class_name(uint8_t cls) {
  return lookup(CLASS_NAMES, cls);
}
const char* kind_name(uint8_t kind) {
  const char* name = find_kind_name(kind);
  return name ? name : UNKNOWN_NAME;
}
const char* class_name(uint8_t cls) {
  const char* name = find_class_name(cls);
  return name ? name : UNKNOWN_NAME;
}

int print_name(FILE* f, std::string_view name) {
  std::string_view n = record_name(name);
  fputc('[', f);
  fwrite(n.data(), 1, n.size(), f);
  fputc(']', f);
  return static_cast<int>(n.size()) + 2;
}

int print_header(FILE* f, const HeaderValue& v) {
  return counted(fprintf(f, "\nHEADER:    ver=%d, compiler=%d, compiler_ver=%d, cpu=%d",
                         static_cast<int32_t>(v.ver), static_cast<int>(v.compiler & 0xFFFF),
                         static_cast<int32_t>(v.compiler_ver), static_cast<int>(v.cpu & 0xFFFF)));
}

int print_public(FILE* f, const PublicValue& v) {
  int n = counted(fprintf(f,
                          "\nPUBLIC:    mode=%04x,addr=%08" PRIx32 ",class=%-4s,typeix=%08" PRIx32
                          ",modix=%08" PRIx32 ",name=",
                          static_cast<unsigned>(v.mode & 0xFFFF), v.addr,
                          class_name(static_cast<uint8_t>(v.cls)), v.typeix, v.modix));
  return n + print_name(f, v.name);
}

int print_module(FILE* f, const ModuleValue& v) {
  int n = counted(fprintf(f, "\nMODULE:    modix=%08" PRIx32 ",name=", v.modix));
  return n + print_name(f, v.name);
}

int print_start_local(FILE* f, uint32_t addr) {
  return counted(fprintf(f, "\nSTARTLOCAL:addr=%08" PRIx32, addr));
}

int print_end_local(FILE* f, uint32_t addr) {
  return counted(fprintf(f, "\nENDLOCAL:  addr=%08" PRIx32, addr));
}

int print_set_local(FILE* f, const SetLocalValue& v) {
  int n = counted(fprintf(
      f, "\nSETLOCAL:  offset=%08" PRIx32 ",class=%-4s,typeix=%08" PRIx32 ",name=", v.offset,
      class_name(static_cast<uint8_t>(v.cls)), v.typeix));
  return n + print_name(f, v.name);
}

int print_file(FILE* f, std::string_view name) {
  std::string_view n = record_name(name);
  return counted(fprintf(f, "\nFILE:      [%.*s]", static_cast<int>(n.size()), n.data()));
}

int print_line(FILE* f, const LineValue& v) {
  return counted(
      fprintf(f, "\nLINE:      line=%-6d,addr=%08" PRIx32, static_cast<int32_t>(v.line), v.addr));
}

int print_end_line(FILE* f, uint32_t mode) {
  return counted(fprintf(f, "\nENDLINE:   mode=%04x", static_cast<unsigned>(mode & 0xFFFF)));
}

int print_object(FILE* f, uint32_t addr, uint32_t length) {
  uint32_t last = addr + (length & 0xFFFF) - 1;  // 32-bit, like every address
  return counted(fprintf(f, "\nObject : %08" PRIx32 " - %08" PRIx32, addr, last));
}

int print_addr_flag(FILE* f, const AddrFlagValue& v) {
  return counted(fprintf(f, "\nADDRFLAG:    addr=%08" PRIx32 ",flag=%08" PRIx32, v.addr, v.flag));
}

int print_type_common(FILE* f, uint32_t kind, uint32_t selfix) {
  return counted(fprintf(f, "\nTYPE:      type=0x%02x:%-10s,selfix=%08" PRIx32,
                         static_cast<unsigned>(kind & 0xFF), kind_name(static_cast<uint8_t>(kind)),
                         selfix));
}

int print_type_part(FILE* f, const TypeValue& v) {
  switch (kind_info(v.kind).cls) {
    case KindClass::Aggregate:
      return counted(fprintf(f, ",size=%08" PRIx32 ",count=%04" PRIx32 ",name=", v.size, v.count)) +
             print_name(f, v.name);
    case KindClass::Enum:
      fputs(",name=", f);
      return 6 + print_name(f, v.name);
    case KindClass::Function:
      return counted(fprintf(f, ",retix=%08" PRIx32 " ,argc=%04x", v.retix,
                             static_cast<unsigned>(v.argc & 0xFFFF)));
    case KindClass::Pointer:
      return counted(fprintf(f, ",typeix=%08" PRIx32, v.typeix));
    case KindClass::Array:
      return counted(fprintf(f, ",typeix=%08" PRIx32 ",limit=%08" PRIx32, v.typeix, v.limit));
    case KindClass::Typedef:
      return counted(fprintf(f, ",typeix=%08" PRIx32 ",name=", v.typeix)) + print_name(f, v.name);
    case KindClass::Bit:
      return counted(fprintf(f, ",sign=%02x,size=%04" PRIx32 ",offs=%04" PRIx32,
                             static_cast<unsigned>(v.sign & 0xFF), v.size, v.offs));
    case KindClass::Unknown:
    case KindClass::Void:
    case KindClass::Base:
      break;
  }
  return 0;
}

int print_member_label(FILE* f) {
  fputs("\nMEMBER:", f);
  return 8;
}

int print_member_part(FILE* f, uint32_t last_kind, const MemberValue& v) {
  switch (kind_info(last_kind).members) {
    case MemberForm::Field:
      return counted(fprintf(f, "typeix=%08" PRIx32 ",offset=%04" PRIx32 ",name=", v.typeix,
                             v.offset)) +
             print_name(f, v.name);
    case MemberForm::Enumerator:
      return counted(fprintf(f, "value=%08" PRIx32 ",name=", v.value)) + print_name(f, v.name);
    case MemberForm::BitField:
      return counted(fprintf(
                 f, "typeix=%08" PRIx32 ",bitoffs=%04" PRIx32 ",bitsize=%04" PRIx32 ",name=",
                 v.typeix, v.bitoffs, v.bitsize)) +
             print_name(f, v.name);
    case MemberForm::None:
      break;
  }
  return 0;
}

}  // namespace tek
