#include "core/emit.hpp"

#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "core/errors.hpp"
#include "core/report.hpp"
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

void emit_header(const Output& o, const HeaderValue& v) {
  o.out.sink->put(v);
}

void emit_public(const Output& o, const PublicValue& v) {
  o.out.sink->put(v);
}

void emit_start_local(const Output& o, uint32_t addr) {
  o.out.sink->put(StartLocalValue{addr});
}

void emit_end_local(const Output& o, uint32_t addr) {
  o.out.sink->put(EndLocalValue{addr});
}

void emit_set_local(const Output& o, const SetLocalValue& v) {
  o.out.sink->put(v);
}

void emit_file(const Output& o, const char* path) {
  o.out.sink->put(FileValue{o.settings.fullpath ? path : base_name(path)});
}

void emit_end_line(const Output& o, uint16_t mode) {
  o.out.sink->put(EndLineValue{mode});
}

void emit_line(const Output& o, uint32_t line, uint32_t addr) {
  o.out.sink->put(LineValue{line, addr});
}

void emit_type(const Output& o, const Reporter& rep, const TypeValue& v) {
  o.out.sink->put(v);
  o.out.last_kind = static_cast<uint8_t>(v.kind);
  if (kind_info(v.kind).cls == KindClass::Unknown) {
    rep.problem(Severity::Error,
                "the TYPE record made here has the undefined kind %u; the run stops",
                static_cast<unsigned>(v.kind));
    stop_run(STOP_UNDEFINED_TYPE);
  }
}

void emit_member(const Output& o, MemberValue v) {
  v.kind = o.out.last_kind;
  o.out.sink->put(v);
}

void emit_object(const Output& o, uint16_t mode, uint32_t addr, uint16_t length,
                 const uint8_t* data) {
  o.out.sink->put(ObjectValue{mode, addr, length, std::span<const uint8_t>(data, length)});
}

void emit_module(const Output& o, uint32_t modix, const char* name) {
  o.out.sink->put(ModuleValue{modix, name});
}

void emit_addr_flag(const Output& o, uint32_t addr, uint32_t flag) {
  o.out.sink->put(AddrFlagValue{addr, flag});
}

}  // namespace tek
