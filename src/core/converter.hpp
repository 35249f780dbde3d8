// The converter state: one struct per subsystem, passed by reference to every operation. A
// fresh Converter is a fresh process; a second pass sees exactly the state that survives.
#pragma once

#include "core/output.hpp"
#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/settings.hpp"
#include "core/typecheck.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/srclines.hpp"
#include "core/reader/stream.hpp"
#include "core/reader/units.hpp"

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
