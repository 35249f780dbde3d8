// The record dispatcher: one handler per record code.
#pragma once

#include <cstdint>

namespace tek {

struct Converter;

using Handler = int (*)(Converter&);

// Reads the input from its HDR record to END: 0 at END, -1 when the pass ended early.
int read_records(Converter& cv);

int handle_hdr(Converter& cv);

}  // namespace tek
