// Symbol definitions: the symbol being assembled, the member table and aggregate levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/emit.hpp"
#include "core/pass_step.hpp"
#include "core/report.hpp"

namespace tek {

class RecordReader;
struct UnitState;
struct CompanionState;
struct TypeIdState;
struct SourceState;

// The symbol being assembled. Member slots, the tag state and saved levels hold whole copies.
struct SymbolState {
  int32_t pending = 0;
  uint16_t own_id = 0;
  char name[256] = {};
  uint8_t kind = 0;    // bit 0: type part, bit 1: location part, bits 2-7: category
  int32_t typeix = 0;  // -1: the type is get_sid(type_ref)
  int32_t cls = 0;     // 1 EXT, 2 STAT, 3 AUTO, 4 REG, 0x8001 RI20 program section
  uint8_t local_static = 0;
  uint8_t bitfield = 0;
  uint32_t size = 0;
  uint32_t value = 0;
  int8_t bit_offset = 0;
  uint16_t type_ref = 0;
  uint8_t attr = 0;
  uint64_t offset = 0;  // of its SYMBOL record in the input, for the diagnostics
};

constexpr int32_t MAX_MEMBERS = 0x4000;
constexpr int32_t CLASS_RI_PROGRAM = 0x8001;

// An aggregate level saved while a nested aggregate is open.
struct SavedLevel {
  bool saved = false;
  int32_t member_count = 0;
  SymbolState tag;
  size_t member_base = 0;
};

struct SymbolsState {
  SymbolState sym;
  // Member slots of all open aggregate bodies: the innermost body's slot i is
  // members[member_base + i]. Enclosing bodies keep their slots below member_base, so opening
  // a nested level copies nothing.
  std::vector<SymbolState> members;
  size_t member_base = 0;
  int32_t member_count = 0;  // 0: no body open; k: body open with k - 1 members
  SymbolState tag;
  int32_t depth = 0;
  std::vector<SavedLevel> levels;  // slot d (from 1) saved at depth d
  uint32_t scope_start = 0;
  uint32_t scope_end = 0;
};

// What writing a symbol out takes: the reader (whose record place the diagnostics name), the
// symbol and type state, the unit state that sections, processors and address forms come from,
// the companion renames, and the output.
struct SymbolContext {
  RecordReader& rd;
  SymbolsState& syms;
  TypeIdState& types;
  UnitState& units;
  const CompanionState& comp;
  Output out;
  Reporter rep;
};

SymbolState& member_slot(SymbolsState& ss, int32_t slot);
// The symbol's type: typeix, or get_sid of type_ref when typeix is -1.
int32_t resolved_type(TypeIdState& ts, const Reporter& rep, const SymbolState& s);
void reset_symbols_for_pass(SymbolsState& ss);

void push_aggregate_level(SymbolsState& ss);
void flush_symbol(const SymbolContext& cx);

PassStep handle_symbol(const SymbolContext& cx);
PassStep handle_attr(RecordReader& rd, SymbolsState& ss);
PassStep handle_functype(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                         const Reporter& rep);
PassStep handle_blkend(const SymbolContext& cx);
PassStep handle_dbgunit(const SymbolContext& cx, SourceState& src);

// Aggregates, arrays and pointers.
void emit_aggregate(const SymbolContext& cx);
PassStep handle_aggr(const SymbolContext& cx);
PassStep handle_arrtype(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                        const Reporter& rep);
PassStep handle_dpt(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                    const Reporter& rep);

}  // namespace tek
