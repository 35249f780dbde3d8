// Source file names and line number tables.
#pragma once

#include <cstdint>
#include <string>

#include "core/pass_step.hpp"
#include "core/source_state.hpp"

namespace tek {

struct TypeIdState;
struct CompanionState;
class Reporter;
class RecordReader;
struct UnitState;
struct Output;

const std::string& source_name(const SourceState& ss, uint32_t slot);

// H8 units load the companion file of each source file.
PassStep handle_srcfiles(RecordReader& rd, SourceState& ss, TypeIdState& ts, CompanionState& cs,
                         bool h8, const Reporter& rep);
PassStep handle_curfile(RecordReader& rd, SourceState& ss);
PassStep handle_lines(RecordReader& rd, const SourceState& ss, const UnitState& us,
                      const Output& o);

}  // namespace tek
