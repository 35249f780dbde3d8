// Memory image records: DATA, ZERO and REPEAT, streamed into OBJECT records.
#pragma once

#include <cstdint>

#include "core/pass_step.hpp"

namespace tek {

struct Converter;

constexpr uint32_t CHUNK_SIZE = 256;

PassStep handle_data(Converter& cv);
PassStep handle_zero(Converter& cv);
PassStep handle_repeat(Converter& cv);

}  // namespace tek
