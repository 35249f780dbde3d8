// The command line's diagnostics on standard error, in the shape compilers use:
//   tekconv: FILE:0xOFFSET: warning: TEXT    a problem in the input, at the record's offset
//   tekconv: error: TEXT                     a fatal error, or a wrong command line
// By default a problem that ends the pass and every error print at once, and the other
// warnings only as a count at the end; verbose lists every warning.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tekconv/tekconv.hpp"

namespace tek {

class DiagnosticPrinter {
 public:
  explicit DiagnosticPrinter(FILE* out) : out_(out) {}

  // The input path as the command line gave it, named by every located line.
  void set_input(const std::string& input) { input_ = input; }
  void set_verbose(bool verbose) { verbose_ = verbose; }

  // Prints a problem in the input or a fatal error, as the library reports it.
  void print(const tekconv::Diagnostic& d);
  void error(const std::string& text);
  // A warning about the command line: always printed, and not counted with the input's.
  void warning(const std::string& text);
  // The count of the warnings that were not listed, if any.
  void finish();

 private:
  FILE* out_;
  std::string input_;
  bool verbose_ = false;
  uint32_t unlisted_ = 0;
};

}  // namespace tek
