#include "elf/convert.hpp"

#include "core/diagnostics.hpp"
#include "core/errors.hpp"
#include "core/run.hpp"
#include "elf/model.hpp"

namespace tek {

void convert_to_elf(Converter& cv, ElfSink& sink) {
  SinkScope scope(cv, sink);
  sink.set_locator([&cv] { return InputPlace{cv.rd.record_offset, cv.rd.record_code, true}; });
  run_pass(cv);
  sink.finish();
  for (const ElfWarning& w : sink.warnings())
    problem_at(cv, Severity::Warning, w.at.known, w.at.offset, w.at.record, w.text);
  if (cv.settings.strict && input_had_problems(cv)) stop_run(STOP_STRICT);
}

}  // namespace tek
