// Emit operations: one per context record. Each hands the record's values to the sink of the
// run; the producers never know which output that is.
#pragma once

#include <cstdint>

#include "format/ctx/records.hpp"

namespace tek {

struct Converter;

void emit_header(Converter& cv, const HeaderValue& v);
void emit_public(Converter& cv, const PublicValue& v);
void emit_start_local(Converter& cv, uint32_t addr);
void emit_end_local(Converter& cv, uint32_t addr);
void emit_set_local(Converter& cv, const SetLocalValue& v);
// FILE keeps the last component of the path, or the whole path under -fullpath.
void emit_file(Converter& cv, const char* path);
void emit_end_line(Converter& cv, uint16_t mode);
void emit_line(Converter& cv, uint32_t line, uint32_t addr);
// A TYPE record of an undefined kind stops the run after it is handed on.
void emit_type(Converter& cv, const TypeValue& v);
// The member's layout follows the kind of the latest TYPE record.
void emit_member(Converter& cv, MemberValue v);
void emit_object(Converter& cv, uint16_t mode, uint32_t addr, uint16_t length, const uint8_t* data);
void emit_module(Converter& cv, uint32_t modix, const char* name);
void emit_addr_flag(Converter& cv, uint32_t addr, uint32_t flag);

}  // namespace tek
