// The ELF back end's run: a pass of the converter into the ELF writer.
#pragma once

#include "core/converter.hpp"
#include "elf/sink.hpp"

namespace tek {

// The records go to the ELF writer, which then completes the file. The problems it finds are
// reported as those of the input are, at the records they concern; in strict mode an input
// with problems then stops the run (STOP_STRICT), and the caller discards the file.
void convert_to_elf(Converter& cv, ElfSink& sink);

}  // namespace tek
