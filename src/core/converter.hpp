// The converter state: one struct per subsystem, passed by reference to every operation. A
// fresh Converter is a fresh process; a second pass sees exactly the state that survives.
#pragma once

#include <cstdio>

#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/diagnostics.hpp"
#include "core/emit.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/srclines.hpp"
#include "core/reader/units.hpp"
#include "core/record_reader.hpp"
#include "core/settings.hpp"
#include "core/sink.hpp"

namespace tek {

struct Converter {
  Settings settings;
  OutputState out;
  RecordReader rd;
  UnitState units;
  SourceState src;
  CompanionState comp;
  TypeIdState types;
  SymbolsState syms;
  DiagnosticsState diag;

  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The emit operations' view of this converter.
  Output output() { return {out, settings}; }
};

// Formatted output to the console.
int say(Converter& cv, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tek
