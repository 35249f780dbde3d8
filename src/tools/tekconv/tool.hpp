// The tekconv command: its command line read into a tekconv::Job, run by the library.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tekconv/tekconv.hpp"

namespace tek {

// What runs the job of a command line: tekconv::run, or a caller's (a harness that bounds the
// output, a test that injects faults).
using JobRunner = std::function<tekconv::Status(const tekconv::Job&)>;

// The whole command: banner, options, the job, the messages around it. args[0] is the program
// name; console is where the command's standard output text goes (standard error with -o -).
// Returns the exit status (255 for a fatal error, 1 after an undefined type kind).
int tekconv_main(const std::vector<std::string>& args, FILE* console = stdout,
                 const JobRunner& run = tekconv::run);

}  // namespace tek
