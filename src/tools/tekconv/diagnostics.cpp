#include "tools/tekconv/diagnostics.hpp"

#include <cinttypes>

namespace tek {

namespace {

// Names in the input may hold any byte: control characters are shown as \xNN, so that a
// damaged name cannot drive the terminal.
std::string printable(const std::string& text) {
  std::string s;
  s.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      s += esc;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

}  // namespace

void DiagnosticPrinter::print(const tekconv::Diagnostic& d) {
  using Severity = tekconv::Diagnostic::Severity;
  if (d.severity == Severity::Warning && !verbose_) {
    ++unlisted_;
    return;
  }
  const char* kind = d.severity == Severity::Error ? "error" : "warning";
  if (d.located)
    std::fprintf(out_, "tekconv: %s:0x%" PRIx64 ": %s: %s\n", input_.c_str(), d.offset, kind,
                 printable(d.text).c_str());
  else
    std::fprintf(out_, "tekconv: %s: %s\n", kind, printable(d.text).c_str());
}

void DiagnosticPrinter::error(const std::string& text) {
  tekconv::Diagnostic d;
  d.severity = tekconv::Diagnostic::Severity::Error;
  d.text = text;
  print(d);
}

void DiagnosticPrinter::warning(const std::string& text) {
  std::fprintf(out_, "tekconv: warning: %s\n", printable(text).c_str());
}

void DiagnosticPrinter::finish() {
  if (unlisted_ == 0) return;
  std::fprintf(out_, "tekconv: %u warning%s; run with -v to list %s\n", unlisted_,
               unlisted_ == 1 ? "" : "s", unlisted_ == 1 ? "it" : "them");
  unlisted_ = 0;
}

}  // namespace tek
