// Memory image records: DATA, ZERO and REPEAT, streamed into OBJECT records.
#pragma once

#include <cstdint>

namespace tek {

struct Converter;

constexpr uint32_t CHUNK_SIZE = 256;

int handle_data(Converter& cv);
int handle_zero(Converter& cv);
int handle_repeat(Converter& cv);

}  // namespace tek
