#include "core/sinks/ctx_feed.hpp"

namespace tek {

void feed_record(const CtxRecord& rec, RecordSink& sink) {
  switch (rec.tag) {
    case TAG_HEADER:
      sink.put(rec.header);
      break;
    case TAG_PUBLIC:
      sink.put(rec.pub);
      break;
    case TAG_STARTLOCAL:
      sink.put(rec.start_local);
      break;
    case TAG_ENDLOCAL:
      sink.put(rec.end_local);
      break;
    case TAG_SETLOCAL:
      sink.put(rec.set_local);
      break;
    case TAG_FILE:
      sink.put(rec.file);
      break;
    case TAG_ENDLINE:
      sink.put(rec.end_line);
      break;
    case TAG_LINE:
      sink.put(rec.line);
      break;
    case TAG_TYPE:
      sink.put(rec.type);
      break;
    case TAG_MEMBER:
      sink.put(rec.member);
      break;
    case TAG_OBJECT:
      sink.put(rec.object);
      break;
    case TAG_MODULE:
      sink.put(rec.module);
      break;
    case TAG_ADDRFLAG:
      sink.put(rec.addr_flag);
      break;
  }
}

bool feed_ctx(std::span<const uint8_t> bytes, RecordSink& sink) {
  CtxReader r{bytes};
  CtxRecord rec;
  CtxStep step;
  while ((step = read_record(r, rec)) == CtxStep::Record) feed_record(rec, sink);
  return step == CtxStep::End;
}

}  // namespace tek
