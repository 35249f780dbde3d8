// The runs of the converter core: one pass over the input, the three run modes, and the top of a
// run, where fatal errors end up.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/reader/dispatcher.hpp"
#include "core/sinks/context_writer.hpp"

namespace tek {

struct Converter;

// Fails the run (STOP_CONSOLE) when what was printed on the console could not be written.
void check_console(Converter& cv);

// Reads the input once through the sink of the run: predefined types, the records from HDR to
// END, the pending symbol. A pass that ends early is finished like one that reached END.
PassEnd run_pass(Converter& cv, int pass = 0);

// Makes a sink the run's sink while it lives (a back end above the core runs its passes so).
class SinkScope {
 public:
  SinkScope(Converter& cv, RecordSink& sink);
  ~SinkScope();
  SinkScope(const SinkScope&) = delete;
  SinkScope& operator=(const SinkScope&) = delete;

 private:
  Converter& cv_;
  RecordSink* saved_;
};

// Conversion: the records go to the three streams, then the local and type streams are appended
// to the main stream, which then holds the whole context file. In strict mode an input with
// problems stops the run (STOP_STRICT) before the streams are joined.
void convert_into(Converter& cv, ContextStreams& streams);

// Symbol dump of the records that cv.settings.dump_mask selects, on the console.
void dump_records(Converter& cv);

// Type index check: a definition pass and a reference pass, then the report of unreferenced
// indices on the console; true when no reference was unsolved. store_marks, when given, receives
// the marks after each pass.
bool check_type_indices(Converter& cv,
                        const std::function<void(const std::vector<uint8_t>&)>& store_marks);

// The top of a run: runs body and returns its status. A fatal error is reported on the console
// and becomes the status: "Error : <message>" and 255, after on_error (which removes what the
// run created); it also goes to the diagnostics handler, with its file and reason. Memory
// exhaustion is the memory error; a TYPE record of an undefined kind ends with
// "\nUndefined type" and status 1; an exhausted output budget with -1; the strict stop with 2,
// after on_error; a console that cannot be written with 255, after on_error, and no message.
int run_protected(Converter& cv, const std::function<int()>& body,
                  const std::function<void()>& on_error);

}  // namespace tek
