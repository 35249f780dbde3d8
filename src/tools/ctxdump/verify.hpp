// ctxdump --verify: the report of the library's structure check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "tekconv/context_reader.hpp"

namespace tek {

using CtxVerdict = tekconv::ContextVerdict;

// The structure check of a context file held in memory (tekconv::verify_context): bytes in
// memory cannot fail to be read, so the only Error is memory running out.
tekconv::Expected<CtxVerdict> verify_ctx(std::span<const uint8_t> bytes);

// Prints a problem as one diagnostic line, in the form that tekconv gives its own:
// "ctxdump: FILE:0xOFFSET: error: TEXT".
void print_problem(FILE* f, const std::string& file, const tekconv::ContextProblem& p);

}  // namespace tek
