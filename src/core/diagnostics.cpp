#include "core/diagnostics.hpp"

#include <cstdarg>
#include <cstdio>

#include "core/converter.hpp"
#include "format/teka/records.hpp"

namespace tek {

namespace {

std::string vformat(const char* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  return s;
}

void deliver(DiagnosticsState& ds, Diagnostic d) {
  if (d.severity != Severity::Error) {
    const auto key = std::make_pair(d.offset, d.text);
    if (ds.pass == 2 && ds.first_pass.count(key)) return;
    if (ds.pass == 1) ds.first_pass.insert(key);
  }
  if (d.severity == Severity::Warning) ++ds.warnings;
  if (ds.handler) ds.handler(d);
}

}  // namespace

void report_at(DiagnosticsState& ds, RecordPlace at, Severity severity, bool named, const char* fmt,
               va_list ap) {
  Diagnostic d;
  d.severity = severity;
  d.located = true;
  d.offset = at.offset;
  d.record = at.code;
  if (const char* name = named ? teka::code_name(d.record) : nullptr)
    d.text = std::string(name) + " record: ";
  d.text += vformat(fmt, ap);
  deliver(ds, std::move(d));
}

void record_problem(Converter& cv, Severity severity, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  report_at(cv.diag, cv.rd.place(), severity, true, fmt, ap);
  va_end(ap);
}

void input_problem(Converter& cv, Severity severity, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  report_at(cv.diag, cv.rd.place(), severity, false, fmt, ap);
  va_end(ap);
}

void problem_at(Converter& cv, Severity severity, bool located, uint64_t offset, uint8_t record,
                std::string text) {
  Diagnostic d;
  d.severity = severity;
  d.located = located;
  if (located) {
    d.offset = offset;
    d.record = record;
    if (const char* name = teka::code_name(record)) d.text = std::string(name) + " record: ";
  }
  d.text += text;
  deliver(cv.diag, std::move(d));
}

void report_error(Converter& cv, std::string text) {
  Diagnostic d;
  d.severity = Severity::Error;
  d.text = std::move(text);
  deliver(cv.diag, std::move(d));
}

bool input_had_problems(const Converter& cv) {
  return cv.diag.warnings != 0 || cv.diag.early_ends != 0;
}

}  // namespace tek
