// Source file names and line number tables.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/pass_step.hpp"

namespace tek {

struct TypeIdState;
struct CompanionState;
class Reporter;
class RecordReader;
struct UnitState;
struct Output;

struct SourceState {
  // File-name slots, kept sparse: a slot absent from the map holds an empty name. Slots are
  // overwritten, never cleared, and survive debug units and passes.
  std::unordered_map<uint32_t, std::string> names;
  int64_t file_count = 0;  // slots filled in the current debug unit
  uint16_t current_file = 0;
};

const std::string& source_name(const SourceState& ss, uint32_t slot);

// H8 units load the companion file of each source file.
PassStep handle_srcfiles(RecordReader& rd, SourceState& ss, TypeIdState& ts, CompanionState& cs,
                         bool h8, const Reporter& rep);
PassStep handle_curfile(RecordReader& rd, SourceState& ss);
PassStep handle_lines(RecordReader& rd, const SourceState& ss, const UnitState& us,
                      const Output& o);

}  // namespace tek
