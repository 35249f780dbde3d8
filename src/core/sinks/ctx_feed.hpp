// Feeds the records of a finished context file to a record sink, in file order.
#pragma once

#include <cstdint>
#include <span>

#include "core/sink.hpp"
#include "format/ctx/ctxfile.hpp"

namespace tek {

// Hands one record read from a context file to the sink.
void feed_record(const CtxRecord& rec, RecordSink& sink);

// True when the whole file was read; false when a record could not be framed (the records
// before it have been fed).
bool feed_ctx(std::span<const uint8_t> bytes, RecordSink& sink);

}  // namespace tek
