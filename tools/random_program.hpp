// Random TEKA programs from a seed, for checking the ELF output against independent readers.
//
// Each seed gives one program (the same bytes on every machine) of one processor family, with
// a memory image, debug units, source files, line tables, types, globals and functions, and
// with the shapes that readers of the output find hard: empty and path-only source names, DOS
// paths, types that refer to themselves directly or through one another, data at the top of
// the address space, tens of thousands of image ranges (in a few seeds), 2-byte pointers,
// bit-fields, scopes that no BLKEND closes, overlapping functions, duplicate type ids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recbuild/recbuild.hpp"

namespace tekrec {

struct RandomProgram {
  uint64_t seed = 0;
  std::string family;     // "MC680x0", "SH", "PowerPC", "SR320", "H8", "8086", "ARM", "RI"
  std::string processor;  // the processor name of the first UNIT record
  Builder object;
  bool short_pointers = false;      // convert with -ps
  bool full_paths = false;          // convert with -fullpath
  std::vector<std::string> shapes;  // the special shapes the program holds, for reports

  // The tekconv options the program is meant to be converted with (before the input name).
  std::vector<std::string> options() const;
};

// The processor families, in the order the seeds cycle through them.
const std::vector<std::string>& random_program_families();

RandomProgram random_program(uint64_t seed);

}  // namespace tekrec
