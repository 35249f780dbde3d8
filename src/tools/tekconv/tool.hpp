// The tekconv command: the files of a run, the run modes over named files, the entry point.
#pragma once

#include <string>
#include <vector>

#include "core/atomic_output.hpp"
#include "core/output.hpp"
#include "core/sinks/context_writer.hpp"
#include "tools/tekconv/signals.hpp"

namespace tek {

struct Converter;

// The files a run creates: the output file under its temporary name until it is complete, the
// type and local streams in unnamed files, the check's scratch file. Whatever ends a run
// early, only the temporary of the output is removed; an earlier output file stays as it was.
struct ToolFiles {
  ContextStreams streams;
  AtomicOutput output{&signal_watch()};  // written through streams.main
  OutFile scratch;

  ToolFiles() = default;
  ToolFiles(const ToolFiles&) = delete;
  ToolFiles& operator=(const ToolFiles&) = delete;
  ~ToolFiles();
  // After a fatal error: closes without writing and removes the output's temporary.
  void remove_all();
};

// Converts the input into the context file ctx; returns the exit status. named: -o gave the
// name (a device or a stream there is written to, see AtomicOutput::create).
int run_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                   const std::string& ctx, bool named);
// Converts the input into the ELF file elf; returns the exit status.
int run_elf_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                       const std::string& elf, bool named);
// The type index check, with its marks kept in the scratch file "selfix.$$$".
int run_check(Converter& cv, ToolFiles& files, const std::string& input);

// The whole command: banner, options, run mode. args[0] is the program name. Returns the exit
// status (255 for a fatal error, 1 after an undefined type kind).
int tekconv_main(Converter& cv, const std::vector<std::string>& args);

}  // namespace tek
