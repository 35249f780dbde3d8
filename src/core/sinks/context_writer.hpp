// The context file writer: each record, encoded by its layout, goes to the stream of its tag.
#pragma once

#include "core/output.hpp"
#include "core/sink.hpp"
#include "format/ctx/tags.hpp"

namespace tek {

// The three streams of a conversion: the context file itself, the local scopes and the types.
// The finished file is main, then local, then type.
struct ContextStreams {
  OutFile main;
  OutFile local;
  OutFile type;
  OutFile& of(Stream s) { return s == Stream::Main ? main : s == Stream::Local ? local : type; }
};

class ContextWriter : public RecordSinkOf<ContextWriter> {
 public:
  ContextWriter(ContextStreams& streams, uint64_t budget) : streams_(streams), budget_{budget} {}

  template <class V>
  void record(const V& v) {
    encode_record(rec_, v);
    write(RecordInfo<V>::stream, rec_.bytes, rec_.size);
    // The image is most of a context file: OBJECT data goes from the caller's bytes straight
    // into the stream's buffer.
    if constexpr (std::is_same_v<V, ObjectValue>) write(Stream::Main, v.data.data(), v.length);
  }

 private:
  void write(Stream s, const uint8_t* bytes, size_t n) {
    budget_.charge(n);
    out_write(streams_.of(s), bytes, n);
  }

  ContextStreams& streams_;
  Budget budget_;
  RecordBuffer rec_;
};

}  // namespace tek
