#include "core/emit.hpp"

#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/sink.hpp"
#include "format/ctx/kinds.hpp"

namespace tek {

namespace {

// The file name part of a path: after its last '/', else after its last '\', else the whole.
const char* base_name(const char* path) {
  if (const char* slash = std::strrchr(path, '/')) return slash + 1;
  if (const char* backslash = std::strrchr(path, '\\')) return backslash + 1;
  return path;
}

}  // namespace

void emit_header(Converter& cv, const HeaderValue& v) {
  cv.out.sink->put(v);
}

void emit_public(Converter& cv, const PublicValue& v) {
  cv.out.sink->put(v);
}

void emit_start_local(Converter& cv, uint32_t addr) {
  cv.out.sink->put(StartLocalValue{addr});
}

void emit_end_local(Converter& cv, uint32_t addr) {
  cv.out.sink->put(EndLocalValue{addr});
}

void emit_set_local(Converter& cv, const SetLocalValue& v) {
  cv.out.sink->put(v);
}

void emit_file(Converter& cv, const char* path) {
  cv.out.sink->put(FileValue{cv.settings.fullpath ? path : base_name(path)});
}

void emit_end_line(Converter& cv, uint16_t mode) {
  cv.out.sink->put(EndLineValue{mode});
}

void emit_line(Converter& cv, uint32_t line, uint32_t addr) {
  cv.out.sink->put(LineValue{line, addr});
}

void emit_type(Converter& cv, const TypeValue& v) {
  cv.out.sink->put(v);
  cv.out.last_kind = static_cast<uint8_t>(v.kind);
  if (kind_info(v.kind).cls == KindClass::Unknown) {
    record_problem(cv, Severity::Error,
                   "the TYPE record made here has the undefined kind %u; the run stops",
                   static_cast<unsigned>(v.kind));
    fatal_error(STOP_UNDEFINED_TYPE);
  }
}

void emit_member(Converter& cv, MemberValue v) {
  v.kind = cv.out.last_kind;
  cv.out.sink->put(v);
}

void emit_object(Converter& cv, uint16_t mode, uint32_t addr, uint16_t length,
                 const uint8_t* data) {
  cv.out.sink->put(ObjectValue{mode, addr, length, std::span<const uint8_t>(data, length)});
}

void emit_module(Converter& cv, uint32_t modix, const char* name) {
  cv.out.sink->put(ModuleValue{modix, name});
}

void emit_addr_flag(Converter& cv, uint32_t addr, uint32_t flag) {
  cv.out.sink->put(AddrFlagValue{addr, flag});
}

}  // namespace tek
