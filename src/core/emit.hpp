// Emit operations: one per context record. Each writes the record to its stream in a
// conversion, prints its dump line in the symbol dump, and marks or checks type indices in the
// type index check. Producers never look at the run mode themselves.
#pragma once

#include <cstdint>

#include "format/ctx/records.hpp"

namespace tek {

struct Converter;

int emit_header(Converter& cv, const HeaderValue& v);
int emit_public(Converter& cv, const PublicValue& v);
int emit_start_local(Converter& cv, uint32_t addr);
int emit_end_local(Converter& cv, uint32_t addr);
int emit_set_local(Converter& cv, const SetLocalValue& v);
int emit_file(Converter& cv, const char* path);
int emit_end_line(Converter& cv, uint16_t mode);
int emit_line(Converter& cv, uint32_t line, uint32_t addr);
int emit_type(Converter& cv, const TypeValue& v);
int emit_member(Converter& cv, const MemberValue& v);
int emit_object(Converter& cv, uint16_t mode, uint32_t addr, uint16_t length, const uint8_t* data);
int emit_module(Converter& cv, uint32_t modix, const char* name);
int emit_addr_flag(Converter& cv, uint32_t addr, uint32_t flag);

}  // namespace tek
