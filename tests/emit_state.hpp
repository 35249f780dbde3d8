// The state that the emit operations and a record handler's reports take, made from its parts:
// the output (console and sink) with the settings, and the diagnostics with the reader whose
// record they name.
#pragma once

#include <vector>

#include "core/diagnostics.hpp"
#include "core/emit.hpp"
#include "core/record_reader.hpp"
#include "core/report.hpp"
#include "core/settings.hpp"

namespace tektest {

struct EmitState {
  EmitState() {
    diag.handler = [this](const tek::Diagnostic& d) { diagnostics.push_back(d); };
  }
  EmitState(const EmitState&) = delete;
  EmitState& operator=(const EmitState&) = delete;

  tek::Settings settings;
  tek::OutputState out;
  tek::DiagnosticsState diag;
  tek::RecordReader rd;
  std::vector<tek::Diagnostic> diagnostics;  // what reached the handler
  const tek::Output output{out, settings};
  const tek::Reporter reporter{out.console, diag, rd};
};

}  // namespace tektest
