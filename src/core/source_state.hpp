// The source state: the source file names that FILE records give, by slot. The FILE, CURFILE
// and LINE records work on it (reader/srclines); a debug unit starts its slot count afresh.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace tek {

struct SourceState {
  // File-name slots, kept sparse: a slot absent from the map holds an empty name. Slots are
  // overwritten, never cleared, and survive debug units and passes.
  std::unordered_map<uint32_t, std::string> names;
  int64_t file_count = 0;  // slots filled in the current debug unit
  uint16_t current_file = 0;
};

}  // namespace tek
