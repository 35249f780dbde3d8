// The tekconv command: its command line read into a tekconv::Job, run by the library.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tekconv/expected.hpp"
#include "tekconv/tekconv.hpp"

namespace tek {

// What runs the job of a command line: tekconv::run, or a caller's (a harness that bounds the
// output, a test that injects faults).
using JobRunner = std::function<tekconv::Status(const tekconv::Job&)>;

// A command line that names a run: its job (console, diagnostics and temporaries are the
// command's to set), and what the command does around the run.
struct Command {
  tekconv::Job job;
  bool quiet = false;                 // -q: no banner, no "Created" line
  bool verbose = false;               // -v: every warning about the input listed
  std::string input;                  // the input as given, named by the diagnostics
  std::vector<std::string> warnings;  // about arguments the run does not use
};

// A command line read, right or wrong. Whether the banner shows and where the console text goes
// are known as far as the options were read, also when a later one is wrong.
struct CommandLineReading {
  bool quiet = false;               // -q among the options read
  bool to_standard_output = false;  // -o -: the console text goes to standard error
  bool no_arguments = false;        // nothing but the program name: the short usage is shown
  // The command, or an Error (Code::Usage) whose message says what is wrong with the line.
  tekconv::Expected<Command> command;
};

// Reads the arguments (args[0] is the program name) into the command they describe; --help,
// -h and --version are left to the caller. Looks at the file system only to see whether the
// input and the companion directory exist. Throws nothing but std::bad_alloc.
CommandLineReading read_command_line(const std::vector<std::string>& args);

// The one place that decides the command's exit status: the run's status, or 255 for a command
// line that names no run.
int exit_status(const tekconv::Expected<tekconv::Status>& result);

// The whole command: banner, options, the job, the messages around it. args[0] is the program
// name; console is where the command's standard output text goes (standard error with -o -).
// Returns the exit status (255 for a fatal error, 1 after an undefined type kind).
int tekconv_main(const std::vector<std::string>& args, FILE* console = stdout,
                 const JobRunner& run = tekconv::run);

}  // namespace tek
