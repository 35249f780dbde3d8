// Memory image records: DATA, ZERO and REPEAT, streamed into OBJECT records.
#pragma once

#include <cstdint>

#include "core/pass_step.hpp"

namespace tek {

class RecordReader;
struct UnitState;
struct Output;

constexpr uint32_t CHUNK_SIZE = 256;

PassStep handle_data(RecordReader& rd, UnitState& us, const Output& o);
PassStep handle_zero(RecordReader& rd, UnitState& us, const Output& o);
PassStep handle_repeat(RecordReader& rd, UnitState& us, const Output& o);

}  // namespace tek
