// The symbol table of the ELF file (.symtab, .strtab, and .symtab_shndx when a symbol's section
// index needs it).
#pragma once

#include <vector>

#include "elf/image.hpp"
#include "elf/model.hpp"
#include "format/elf/file.hpp"

namespace tek {

// Adds the symbol sections to spec; parts are the image's sections, which come first in spec.
void symbol_sections(const ElfModel& m, const Program& p, const std::vector<ImagePart>& parts,
                     elf::FileSpec& spec);

}  // namespace tek
