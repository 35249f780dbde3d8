// Emit operations: one per context record. Each hands the record's values to the sink of the
// run; the producers never know which output that is.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/settings.hpp"
#include "core/sink.hpp"
#include "format/ctx/records.hpp"

namespace tek {

class Reporter;

// A sink that drops every record: the state of a converter that has no output yet.
class DiscardSink : public RecordSinkOf<DiscardSink> {
 public:
  template <class V>
  void record(const V&) {}
};

struct OutputState {
  FILE* console = stdout;  // messages about the input, and the symbol dump
  RecordSink* sink = &discard;
  uint8_t last_kind = 0;  // kind of the latest TYPE record, in every run mode; survives passes
  DiscardSink discard;
};

// What the emit operations use: the output of the run and the settings that shape a record.
struct Output {
  OutputState& out;
  const Settings& settings;
};

void emit_header(const Output& o, const HeaderValue& v);
void emit_public(const Output& o, const PublicValue& v);
void emit_start_local(const Output& o, uint32_t addr);
void emit_end_local(const Output& o, uint32_t addr);
void emit_set_local(const Output& o, const SetLocalValue& v);
// FILE keeps the last component of the path, or the whole path under -fullpath.
void emit_file(const Output& o, const char* path);
void emit_end_line(const Output& o, uint16_t mode);
void emit_line(const Output& o, uint32_t line, uint32_t addr);
// A TYPE record of an undefined kind is reported and stops the run after it is handed on.
void emit_type(const Output& o, const Reporter& rep, const TypeValue& v);
// The member's layout follows the kind of the latest TYPE record.
void emit_member(const Output& o, MemberValue v);
void emit_object(const Output& o, uint16_t mode, uint32_t addr, uint16_t length,
                 const uint8_t* data);
void emit_module(const Output& o, uint32_t modix, const char* name);
void emit_addr_flag(const Output& o, uint32_t addr, uint32_t flag);

}  // namespace tek
