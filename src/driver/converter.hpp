// The converter state: one struct per subsystem, passed by reference to every operation. A
// fresh Converter is a fresh process; a second pass sees exactly the state that survives.
#pragma once

#include "context/output.hpp"
#include "debuginfo/symbols.hpp"
#include "debuginfo/typeids.hpp"
#include "driver/settings.hpp"
#include "driver/typecheck.hpp"
#include "reader/companion.hpp"
#include "reader/srclines.hpp"
#include "reader/stream.hpp"
#include "reader/units.hpp"

namespace tek {

struct Converter {
  Settings settings;
  OutputState out;
  CheckState check;
  ReaderState rd;
  UnitState units;
  SourceState src;
  CompanionState comp;
  TypeIdState types;
  SymbolsState syms;

  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter();
};

}  // namespace tek
