// The records of the load information: UNIT, CL, SECT, LOCATE and AFLAG fill the unit state.
#pragma once

#include "core/pass_step.hpp"
#include "core/unit_state.hpp"

namespace tek {

class Reporter;
struct Output;
struct SymbolsState;
class RecordReader;
struct Settings;

// Reads a processor name and gives its code; notes H8 and RI units.
int identify_processor(RecordReader& rd, UnitState& us);

PassStep handle_unit(RecordReader& rd, UnitState& us, SymbolsState& syms, const Output& o);
PassStep handle_cl(RecordReader& rd, UnitState& us, const Settings& settings, const Reporter& rep);
PassStep handle_sect(RecordReader& rd, UnitState& us, const Reporter& rep);
PassStep handle_locate(RecordReader& rd, UnitState& us, const Reporter& rep);
PassStep handle_aflag(RecordReader& rd, const UnitState& us, const Output& o, const Reporter& rep);

}  // namespace tek
