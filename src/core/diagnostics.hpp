// Problems in the input and fatal errors, as the core reports them: each once, through the
// caller's handler, with the byte offset and code of the record it concerns. What is printed,
// and where, is the caller's choice; the console messages of the handlers stay as they are.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

namespace tek {

struct Converter;
struct RecordPlace;

enum class Severity : uint8_t {
  Warning,  // the record is used in part, or dropped; the pass goes on
  PassEnd,  // the pass ends at this record, and is finished like one that reached END
  Error,    // a fatal error: the run stops
};

struct Diagnostic {
  Severity severity = Severity::Warning;
  bool located = false;  // offset and record are known
  uint64_t offset = 0;   // of the record's first byte in the input
  uint8_t record = 0;    // the record's code
  std::string text;      // what happened; about a named record, it begins with its name
};

using DiagnosticHandler = std::function<void(const Diagnostic&)>;

struct DiagnosticsState {
  // Supplied by the caller; without one, problems are only counted.
  DiagnosticHandler handler;
  uint32_t warnings = 0;
  uint32_t early_ends = 0;  // passes that ended before the END record
  // The type index check reads the input twice: what its first pass reported is not reported
  // again by the second.
  int pass = 0;
  std::set<std::pair<uint64_t, std::string>> first_pass;
};

// A problem with the current record; the text follows "<record name> record: ". Formatting
// happens only here, so the record path pays nothing until a problem occurs.
[[gnu::cold]] void record_problem(Converter& cv, Severity severity, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
// A problem at the current record's offset that is not about a record of a known kind (the
// framing of the input).
[[gnu::cold]] void input_problem(Converter& cv, Severity severity, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
// The two forms above for a caller that holds the diagnostics and the record's place rather than
// the converter; named: the text follows "<record name> record: ".
[[gnu::cold]] void report_at(DiagnosticsState& ds, RecordPlace at, Severity severity, bool named,
                             const char* fmt, va_list ap);
// A problem found after the pass, about a record whose place was kept (offset and code, when
// located); the text follows "<record name> record: " as for record_problem.
[[gnu::cold]] void problem_at(Converter& cv, Severity severity, bool located, uint64_t offset,
                              uint8_t record, std::string text);
// A fatal error, with no place in the input.
[[gnu::cold]] void report_error(Converter& cv, std::string text);

// True when a warning was reported or a pass ended early.
bool input_had_problems(const Converter& cv);

}  // namespace tek
