#include "core/sinks/ctx_feed.hpp"

namespace tek {

void feed_record(const CtxRecord& rec, RecordSink& sink) {
  visit_record(rec, [&](const auto& value) { sink.put(value); });
}

bool feed_ctx(std::span<const uint8_t> bytes, RecordSink& sink) {
  CtxReader r{bytes};
  CtxRecord rec;
  CtxStep step;
  while ((step = read_record(r, rec)) == CtxStep::Record) feed_record(rec, sink);
  return step == CtxStep::End;
}

}  // namespace tek
