// The tekconv command: the files of a run, the run modes over named files, the entry point.
#pragma once

#include <string>
#include <vector>

#include "core/output.hpp"
#include "core/sinks/context_writer.hpp"

namespace tek {

struct Converter;

// The files a run creates. A run that stops where it is (the undefined-type stop) leaves them
// with what was written; a fatal error removes the context file and its temporaries.
struct ToolFiles {
  ContextStreams streams;  // the context file and its two temporaries
  OutFile scratch;         // the check's scratch file
  std::string ctx_name, type_name, local_name, scratch_name;

  ToolFiles() = default;
  ToolFiles(const ToolFiles&) = delete;
  ToolFiles& operator=(const ToolFiles&) = delete;
  ~ToolFiles();
  // Closes without writing what is buffered; deletes the context file and its temporaries.
  void remove_all();
};

// Converts the input into the context file ctx; returns the exit status.
int run_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                   const std::string& ctx);
// The type index check, with its marks kept in the scratch file "selfix.$$$".
int run_check(Converter& cv, ToolFiles& files, const std::string& input);

// The whole command: banner, options, run mode. args[0] is the program name. Returns the exit
// status (255 for a fatal error, 1 after an undefined type kind).
int tekconv_main(Converter& cv, const std::vector<std::string>& args);

}  // namespace tek
