// The converter state: one struct per subsystem, passed by reference to every operation. A
// fresh Converter is a fresh process; a second pass sees exactly the state that survives.
#pragma once

#include <cstdio>

#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/diagnostics.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/srclines.hpp"
#include "core/reader/stream.hpp"
#include "core/reader/units.hpp"
#include "core/settings.hpp"
#include "core/sink.hpp"

namespace tek {

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

struct Converter {
  Settings settings;
  OutputState out;
  ReaderState rd;
  UnitState units;
  SourceState src;
  CompanionState comp;
  TypeIdState types;
  SymbolsState syms;
  DiagnosticsState diag;

  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter();
};

// Formatted output to the console.
int say(Converter& cv, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tek
