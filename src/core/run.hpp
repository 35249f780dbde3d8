// The run modes: one pass over the input, conversion, symbol dump and the entry point.
#pragma once

#include <string>
#include <vector>

namespace tek {

struct Converter;

// Reads the input once: predefined types, the records from HDR to END, the pending symbol.
int run_pass(Converter& cv, const std::string& input);

// Converts the input into its context file; returns the exit status.
int run_conversion(Converter& cv, const std::string& input);

// The whole command: banner, options, run mode. args[0] is the program name. Returns the exit
// status (255 for a fatal error, 1 after an undefined type kind).
int tekconv_main(Converter& cv, const std::vector<std::string>& args);

}  // namespace tek
