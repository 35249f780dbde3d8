// What a record handler needs to report a problem with the record it reads: the console, for
// the message that the input has always printed there, and the diagnostics, which name the
// record by the place the reader noted.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "core/diagnostics.hpp"
#include "core/record_reader.hpp"

namespace tek {

class Reporter {
 public:
  // The console is followed where it stands, so a reporter may be made before it is chosen.
  Reporter(FILE* const& console, DiagnosticsState& diag, const RecordReader& rd)
      : console_(console), diag_(diag), rd_(rd) {}

  // Formatted output to the console.
  [[gnu::format(printf, 2, 3)]] int say(const char* fmt, ...) const {
    va_list ap;
    va_start(ap, fmt);
    int n = vfprintf(console_, fmt, ap);
    va_end(ap);
    return n;
  }

  // A problem with the current record, as record_problem reports it.
  [[gnu::cold, gnu::format(printf, 3, 4)]] void problem(Severity severity, const char* fmt,
                                                        ...) const {
    va_list ap;
    va_start(ap, fmt);
    report_at(diag_, rd_.place(), severity, true, fmt, ap);
    va_end(ap);
  }

  // The code of the record being read.
  uint8_t record_code() const { return rd_.record_code; }

 private:
  FILE* const& console_;
  DiagnosticsState& diag_;
  const RecordReader& rd_;
};

}  // namespace tek
