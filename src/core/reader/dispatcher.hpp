// The record dispatcher: one handler per record code.
#pragma once

#include <cstdint>

#include "core/pass_step.hpp"

namespace tek {

struct Converter;
class RecordReader;
struct Output;
class Reporter;

using Handler = PassStep (*)(Converter&);

enum class PassEnd : uint8_t {
  AtEnd,  // the END record was reached
  Early,  // the first record was not HDR, or a record ended the pass
};

// Reads the input from its HDR record to END.
PassEnd read_records(Converter& cv);

PassStep handle_hdr(RecordReader& rd, const Output& o, const Reporter& rep);

}  // namespace tek
