// Writer of DWARF 4 line number programs (.debug_line).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/elf/bytes.hpp"

namespace dwarf {

struct LineRow {
  uint32_t addr = 0;
  uint32_t line = 0;
  uint32_t file = 1;  // index in the file names, from 1
};

// Rows in ascending address order (a view of the caller's rows); end is the first address after
// the sequence.
struct LineSequence {
  std::span<const LineRow> rows;
  uint32_t end = 0;
};

struct LineFile {
  std::string name;  // not empty: an empty name ends the table
  uint32_t dir = 0;  // index in the include directories, from 1; 0: the compilation directory
};

// Appends one line number program, header and sequences, to out; returns its offset there.
uint32_t write_line_program(elf::Bytes& out, const std::vector<std::string>& dirs,
                            const std::vector<LineFile>& files,
                            const std::vector<LineSequence>& sequences);

}  // namespace dwarf
