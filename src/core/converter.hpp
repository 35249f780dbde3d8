// The converter state: one struct per subsystem. The dispatcher hands each record handler the
// reader and the sub-states it uses, by reference. A fresh Converter is a fresh process; a second
// pass sees exactly the state that survives.
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
#include "core/report.hpp"
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
  // The handlers' way to report a problem with the record being read.
  Reporter reporter() { return {out.console, diag, rd}; }
};

// The state the symbol handlers work on.
inline SymbolContext symbol_context(Converter& cv) {
  return {cv.rd, cv.syms, cv.types, cv.units, cv.comp, cv.output(), cv.reporter()};
}

// Formatted output to the console.
int say(Converter& cv, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tek
