// ctxdump: lists the records of finished context files, or checks their structure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "tekconv/expected.hpp"
#include "tools/ctxdump/verify.hpp"

namespace tek {

struct CtxdumpOptions {
  bool verify = false;  // --verify: report problems instead of listing records
  bool hex = false;     // -x, --hex: list the data bytes of OBJECT records
  bool json = false;    // --json: list each record as a JSON object on a line
};

// The exit statuses of ctxdump.
enum class CtxdumpStatus : int {
  Sound = 0,       // every file listed whole, or sound
  Problems = 1,    // a record that cannot be read, or problems found by --verify
  Unreadable = 2,  // a file that cannot be read, a wrong command line, memory, the output
};

constexpr int exit_status(CtxdumpStatus s) {
  return static_cast<int>(s);
}

// The command line read: the files and how to handle them, or --help or --version.
struct CtxdumpArguments {
  enum class Request : uint8_t { Run, Help, Version };
  Request request = Request::Run;  // the first --help, -h or --version ends the reading
  CtxdumpOptions options;
  std::vector<std::string> files;  // "-" is standard input
};

// Reads the arguments (args[0] is the program name). A wrong command line is an Error
// (Code::Usage) whose message says what is wrong, empty when no file is named (the synopsis is
// the answer then).
tekconv::Expected<CtxdumpArguments> read_arguments(const std::vector<std::string>& args);

// Lists or checks one context file held in memory; name labels the report. Listing: one line
// per record on out, and a line on err if a record cannot be read; returns 0 when the whole
// file was listed, else 1. Checking: the problems and a summary line on out; returns 0 when the
// file is sound, else 1. Running out of memory: a line on err, 2.
int ctxdump_bytes(std::span<const uint8_t> bytes, const std::string& name,
                  const CtxdumpOptions& options, FILE* out, FILE* err);

// The whole command; args[0] is the program name. Returns the exit status: 0 all files sound
// (or listed whole), 1 problems found, 2 a file that cannot be read, a usage error, memory
// exhausted or output that cannot be written.
int ctxdump_main(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace tek
