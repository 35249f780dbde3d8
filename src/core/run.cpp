#include "core/run.hpp"

#include <cstdio>
#include <new>

#include "core/converter.hpp"
#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/errors.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/units.hpp"
#include "core/sinks/dump_printer.hpp"
#include "core/sinks/type_check.hpp"

namespace tek {

SinkScope::SinkScope(Converter& cv, RecordSink& sink) : cv_(cv), saved_(cv.out.sink) {
  cv.out.sink = &sink;
}
SinkScope::~SinkScope() {
  cv_.out.sink = saved_;
}

void check_console(Converter& cv) {
  if (std::fflush(cv.out.console) != 0 || std::ferror(cv.out.console)) stop_run(STOP_CONSOLE);
}

PassEnd run_pass(Converter& cv, int pass) {
  clear_unit_tables(cv.units);
  cv.diag.pass = pass;
  // The input may have been opened before the run created its outputs.
  if (!cv.rd.is_open()) {
    if (const SysResult opened = cv.rd.open(); !opened)
      fatal_file_error(ERR_OPEN, cv.rd.source.path, opened);
  }
  cv.out.sink->begin_pass(pass);
  emit_predefined_types(cv.output(), cv.reporter());
  init_companion(cv.comp);
  const PassEnd end = read_records(cv);
  if (cv.syms.sym.pending == 1) flush_symbol(symbol_context(cv));
  free_companion(cv.comp);
  cv.rd.close();
  clear_unit_tables(cv.units);
  cv.out.sink->end_pass();
  if (end == PassEnd::Early) ++cv.diag.early_ends;
  return end;
}

void convert_into(Converter& cv, ContextStreams& streams) {
  ContextWriter writer(streams, cv.settings.output_budget);
  SinkScope scope(cv, writer);
  run_pass(cv);
  // In strict mode a context file is only made from an input without problems.
  if (cv.settings.strict && input_had_problems(cv)) stop_run(STOP_STRICT);
  out_append(streams.main, streams.local);
  out_append(streams.main, streams.type);
}

void dump_records(Converter& cv) {
  DumpPrinter printer(cv.out.console, cv.settings.dump_mask, cv.settings.output_budget);
  SinkScope scope(cv, printer);
  run_pass(cv);
}

bool check_type_indices(Converter& cv,
                        const std::function<void(const std::vector<uint8_t>&)>& store_marks) {
  TypeIndexCheck check(cv.out.console, cv.settings.output_budget);
  check.store_marks = store_marks;
  SinkScope scope(cv, check);
  run_pass(cv, 1);
  run_pass(cv, 2);
  check.report_unreferenced();
  return !check.unsolved();
}

namespace {

// The status of a stop, after its own message or cleanup.
int stopped(Converter& cv, StopReason reason, const std::function<void()>& on_error) {
  switch (reason) {
    case STOP_UNDEFINED_TYPE:  // reported where the type was met
      say(cv, "\nUndefined type");
      return UNDEFINED_TYPE_STATUS;
    case STOP_BUDGET:
      return BUDGET_STATUS;
    case STOP_CONSOLE:
      break;
    case STOP_STRICT:  // the problems were reported as they were met
      if (on_error) on_error();
      return STRICT_STATUS;
  }
  if (on_error) on_error();
  return FATAL_STATUS;
}

// The status of a fatal error, after its message and the cleanup.
int failed(Converter& cv, const Fatal& fatal, const std::function<void()>& on_error) {
  report_error(cv, describe_fatal(fatal));
  const char* message = error_message(fatal.code);
  if (!message) {
    say(cv, "Internal error (No error message)\n");
    return FATAL_STATUS;
  }
  say(cv, "Error : %s\n", message);
  if (on_error) on_error();
  return FATAL_STATUS;
}

}  // namespace

int run_protected(Converter& cv, const std::function<int()>& body,
                  const std::function<void()>& on_error) {
  try {
    return body();
  } catch (const Stopped& s) {
    return stopped(cv, s.reason, on_error);
  } catch (const Fatal& f) {
    return failed(cv, f, on_error);
  } catch (const std::bad_alloc&) {
    return failed(cv, Fatal{ERR_MEMORY}, on_error);
  }
}

}  // namespace tek
