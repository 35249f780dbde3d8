// The memory image of the ELF file: loadable sections over the OBJECT data.
#pragma once

#include <cstdint>
#include <vector>

#include "elf/model.hpp"
#include "format/elf/file.hpp"

namespace tek {

// A loadable section of the image: [lo, hi) at offset in the file.
struct ImagePart {
  uint32_t lo;
  uint64_t hi;
  uint64_t offset;
};

// Adds the image's sections to spec, in address order, and returns them. Chunk addresses
// become linear and wrap in 32 bits (data that runs past the top of the address space continues
// at 0); where data overlaps, the later bytes are kept, copied to the end of out when they no
// longer lie in order there, with a warning in m.
std::vector<ImagePart> image_sections(ElfModel& m, const Program& p, elf::Output& out,
                                      elf::FileSpec& spec);

}  // namespace tek
