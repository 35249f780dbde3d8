// Type index check (-k): marks every defined selfix in a first pass and checks every type
// reference against the marks in a second pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tek {

struct Converter;

constexpr const char* SCRATCH_NAME = "selfix.$$$";

// Mark byte per type index, as in the scratch file.
enum Mark : uint8_t { MARK_NONE = 0, MARK_DEFINED = 1, MARK_REFERENCED = 2 };

struct CheckState {
  // The scratch file's bytes, kept in memory during the passes and written to the file (held in
  // the main stream's handle) at the end of each pass.
  std::vector<uint8_t> marks;
};

void mark_selfix(Converter& cv, uint32_t selfix);
void check_typeix(Converter& cv, uint32_t typeix);
int run_check(Converter& cv, const std::string& input);

}  // namespace tek
