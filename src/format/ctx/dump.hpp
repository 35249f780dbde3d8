// The symbol dump: context records as text lines. Every line begins with "\n".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "format/ctx/records.hpp"

namespace tek {

// Dump mask bits.
enum DumpBits : uint32_t {
  DUMP_FILE = 0x01,
  DUMP_TYPE = 0x02,
  DUMP_PUBLIC = 0x04,
  DUMP_SCOPE = 0x08,
  DUMP_SETLOCAL = 0x10,
  DUMP_MODULE = 0x80,
  DUMP_OBJECT = 0x100,
};

// The names of kind and class codes, "?" for a code that the table has no row for.
const char* kind_name(uint8_t kind);
const char* class_name(uint8_t cls);
// The same names, nullptr for a code without a row.
const char* find_kind_name(uint8_t kind);
const char* find_class_name(uint8_t cls);

// Line formatters; each returns the number of characters printed.
int print_name(FILE* f, std::string_view name);
int print_header(FILE* f, const HeaderValue& v);
int print_public(FILE* f, const PublicValue& v);
int print_module(FILE* f, const ModuleValue& v);
int print_start_local(FILE* f, uint32_t addr);
int print_end_local(FILE* f, uint32_t addr);
int print_set_local(FILE* f, const SetLocalValue& v);
int print_file(FILE* f, std::string_view name);
int print_line(FILE* f, const LineValue& v);
int print_end_line(FILE* f, uint32_t mode);
int print_object(FILE* f, uint32_t addr, uint32_t length);
int print_addr_flag(FILE* f, const AddrFlagValue& v);
int print_type_common(FILE* f, uint32_t kind, uint32_t selfix);
int print_type_part(FILE* f, const TypeValue& v);
int print_member_label(FILE* f);
int print_member_part(FILE* f, uint32_t last_kind, const MemberValue& v);

}  // namespace tek
