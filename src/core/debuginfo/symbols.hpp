// Symbol definitions: the symbol being assembled, the member table and aggregate levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pass_step.hpp"

namespace tek {

struct Converter;
class RecordReader;

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

SymbolState& member_slot(SymbolsState& ss, int32_t slot);
// The symbol's type: typeix, or get_sid of type_ref when typeix is -1.
int32_t resolved_type(Converter& cv, const SymbolState& s);
void reset_symbols_for_pass(SymbolsState& ss);

void push_aggregate_level(Converter& cv);
void flush_symbol(Converter& cv);

PassStep handle_symbol(Converter& cv);
PassStep handle_attr(RecordReader& rd, SymbolsState& ss);
PassStep handle_functype(Converter& cv);
PassStep handle_blkend(Converter& cv);

// Aggregates, arrays and pointers.
void emit_aggregate(Converter& cv);
PassStep handle_aggr(Converter& cv);
PassStep handle_arrtype(Converter& cv);
PassStep handle_dpt(Converter& cv);

}  // namespace tek
