// ctxdump --verify: the structure checks of a finished context file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "format/ctx/ctxfile.hpp"

namespace tek {

struct CtxVerdict {
  std::vector<CtxProblem> problems;  // in file order
  size_t records = 0;                // records read
  bool complete = true;              // false when reading stopped before the end of the file
  size_t stop_offset = 0;            // where reading stopped (the file size when complete)
  size_t size = 0;                   // bytes in the file
};

// Checks the structure of a whole context file: framing, the HEADER record first, section
// order, the predefined types, aggregate member counts, selfix definitions, type references,
// modules and local scopes.
//
// Type references and modules may be defined anywhere in the file. An input that can be read
// twice is: a first reading finds the definitions. Otherwise (a pipe) the references not yet
// defined where they are read are held until the end, which gives the same report.
CtxVerdict verify_ctx(CtxReader& reader);
CtxVerdict verify_ctx(std::span<const uint8_t> bytes);

// Prints a problem as one diagnostic line, in the form that tekconv gives its own:
// "ctxdump: FILE:0xOFFSET: error: TEXT".
void print_problem(FILE* f, const std::string& file, const CtxProblem& p);

}  // namespace tek
