// What a record handler needs to report a problem with the record it reads: the console, for
// the message that the input has always printed there, and the diagnostics, which name the
// record by the place the reader noted. A problem that has a console message reports both in
// one call (fault), so that neither goes without the other.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/diagnostics.hpp"
#include "core/record_reader.hpp"

namespace tek {

class Reporter {
 public:
  // The console is followed where it stands, so a reporter may be made before it is chosen.
  Reporter(FILE* const& console, DiagnosticsState& diag, const RecordReader& rd)
      : console_(console), diag_(diag), rd_(rd) {}

  // A problem with the current record that the console has always named: the console's message
  // as it stands, then the diagnostic, as problem() reports it.
  [[gnu::cold, gnu::format(printf, 4, 5)]] void fault(Severity severity, const char* console,
                                                      const char* fmt, ...) const {
    va_list ap;
    va_start(ap, fmt);
    console_then_report(severity, true, console, fmt, ap);
    va_end(ap);
  }

  // The same for a problem with the framing of the input rather than a record of a known kind:
  // the diagnostic does not name the record.
  [[gnu::cold, gnu::format(printf, 4, 5)]] void input_fault(Severity severity, const char* console,
                                                            const char* fmt, ...) const {
    va_list ap;
    va_start(ap, fmt);
    console_then_report(severity, false, console, fmt, ap);
    va_end(ap);
  }

  // A problem with the current record that the console does not name.
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
  void console_then_report(Severity severity, bool named, const char* console, const char* fmt,
                           va_list ap) const {
    std::fputs(console, console_);
    report_at(diag_, rd_.place(), severity, named, fmt, ap);
  }

  FILE* const& console_;
  DiagnosticsState& diag_;
  const RecordReader& rd_;
};

// A console message that carries values, formatted as the console would print it.
[[gnu::cold, gnu::format(printf, 1, 2)]] inline std::string console_text(const char* fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  va_end(ap);
  return s;
}

}  // namespace tek
