// Type definitions that several units repeat are written once.
#pragma once

#include <cstdint>
#include <vector>

#include "elf/model.hpp"

namespace tek {

// For each type index, the index of the type whose DIE stands for it. A type whose DIE would be
// written alike to that of a type before it (the same tag and attributes, its references to
// types that are alike in turn, loops included) takes that type's DIE; any other type stands
// for itself. Every unit repeats the types of the headers it includes, and one DIE of each is
// enough: all type references are DW_FORM_ref_addr, which reaches into any unit.
//
// A function type's parameters come from its function, and are compared as it writes them.
// The work spent on comparisons that fail is bounded by the size of the type graph; once it is
// spent, the types left stand for themselves, so the search stays linear on any input.
std::vector<uint32_t> merge_types(const ElfModel& m, const Program& p);

}  // namespace tek
