// Run-mode settings: fixed by the command line before the first pass.
#pragma once

#include <cstdint>
#include <limits>

namespace tek {

struct Settings {
  // 0 means conversion; any other value selects the symbol dump and its categories.
  uint32_t dump_mask = 0;
  // 1: pointers of unspecified size are 4 bytes; 0 (-ps): 2 bytes.
  uint8_t default_ptr_size = 1;
  uint8_t m16 = 0;       // -m16: every segmented unit uses the 8-bit-offset form
  uint8_t far_all = 0;   // -l: every function type is FARFUNC
  uint8_t fullpath = 0;  // -fullpath: FILE records keep the whole source path
  // --strict: a conversion whose input had a problem (a warning, or a pass that ended before
  // END) leaves no context file.
  bool strict = false;
  bool quiet = false;  // -q: no banner and no "Created" line
  // Upper bound on the bytes the sink may produce (records written, dump text printed, records
  // checked). A harness that must stay fast sets it; the converter leaves it unlimited.
  uint64_t output_budget = std::numeric_limits<uint64_t>::max();
};

}  // namespace tek
