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
  const Output& output() const { return output_; }
  // The handlers' way to report a problem with the record being read.
  const Reporter& reporter() const { return reporter_; }
  // The state the symbol handlers work on.
  const SymbolContext& symbol_context() const { return symbols_; }

 private:
  // Made once: the dispatcher hands them to a handler per record.
  const Output output_{out, settings};
  const Reporter reporter_{out.console, diag, rd};
  const SymbolContext symbols_{rd, syms, types, units, comp, output_, reporter_};
};

inline const SymbolContext& symbol_context(const Converter& cv) {
  return cv.symbol_context();
}

// Formatted output to the console.
int say(Converter& cv, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tek
