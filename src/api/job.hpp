// The library's one run path, on a converter the caller made: the public entry points, the
// tekconv command (through tekconv::run) and the tests that inject faults into a converter all
// run a Job here.
#pragma once

#include <string>
#include <vector>

#include "core/converter.hpp"
#include "tekconv/tekconv.hpp"

namespace tekconv::detail {

// Sets the converter up for the options: settings, console, companion lookup, diagnostics.
void configure(tek::Converter& cv, const Options& options);

// Runs the job on cv, configured from job.options first; what else cv holds stays (a test's
// read failure). elf_warnings, when given, receives the texts of the ELF writer's warnings.
Status run(const Job& job, tek::Converter& cv, std::vector<std::string>* elf_warnings = nullptr);

}  // namespace tekconv::detail
