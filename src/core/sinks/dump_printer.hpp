// The symbol dump: each record whose dump bit the mask selects, as one text line.
#pragma once

#include <cstdio>

#include "core/sink.hpp"
#include "format/ctx/tags.hpp"

namespace tek {

class DumpPrinter : public RecordSinkOf<DumpPrinter> {
 public:
  DumpPrinter(FILE* out, uint32_t mask, uint64_t budget)
      : out_(out), mask_(mask), budget_{budget} {}

  // Every record counts against the budget, listed or not, so that records the mask leaves out
  // (an image of gigabytes under -sf) cannot keep a budgeted run going.
  template <class V>
  void record(const V& v) {
    if ((mask_ & RecordInfo<V>::dump_bit) == 0) {
      budget_.charge(1);
      return;
    }
    int n = RecordInfo<V>::print(out_, v);
    budget_.charge(n > 0 ? static_cast<uint64_t>(n) : 1);
  }

 private:
  FILE* out_;
  uint32_t mask_;
  Budget budget_;
};

}  // namespace tek
