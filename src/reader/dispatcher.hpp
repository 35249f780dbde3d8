// The record dispatcher: one handler per record code.
#pragma once

#include <cstdint>

namespace tek {

struct Converter;

using Handler = int (*)(Converter&);

enum class Disposition : uint8_t { Invalid, Handled, Skipped, End };

struct RecordEntry {
  Disposition disposition = Disposition::Invalid;
  Handler handler = nullptr;
  bool ends_pass = false;  // a nonzero result of the handler ends the pass
  const char* name = nullptr;
};

// The entry of a record code (type byte with bit 0 cleared).
const RecordEntry& record_entry(uint32_t code);

// Reads the input from its HDR record to END: 0 at END, -1 when the pass ended early.
int read_records(Converter& cv);

int handle_hdr(Converter& cv);

}  // namespace tek
