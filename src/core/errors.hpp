// The one error path: a fatal condition throws Fatal with its code, and only the top of a run
// (run_protected) catches it, reports it and turns it into the exit status.
#pragma once

#include <string>

namespace tek {

// Codes of the error table, and the two stops that are not "Error : " messages.
enum ErrorCode : int {
  ERR_OPEN = 1,
  ERR_CREATE = 2,
  ERR_READ = 3,
  ERR_WRITE = 4,
  ERR_SEEK = 5,
  ERR_FORMAT = 6,
  ERR_NO_DEBUG = 7,
  ERR_NO_MAP = 8,
  ERR_NO_SYMBOL = 9,
  ERR_SUM_CHECK = 10,
  ERR_MEMORY = 12,
  // A TYPE record of an undefined kind reached the output: "\nUndefined type", status 1.
  STOP_UNDEFINED_TYPE = 0x100,
  // The output passed the budget that a harness set: the run is abandoned, status -1.
  STOP_BUDGET = 0x101,
  // The console cannot be written: the run fails (status 255) without a message there.
  STOP_CONSOLE = 0x102,
  // Strict mode, and the input had problems: no context file is left, status 2.
  STOP_STRICT = 0x103,
};

struct Fatal {
  int code;
  std::string path = {};         // the file it concerns, when known
  int sys_errno = 0;             // the system's reason, when a system call failed
  const char* reason = nullptr;  // the converter's own reason, when none did
};

[[noreturn]] inline void fatal_error(int code) {
  throw Fatal{code};
}
// A system call on the file failed: errno at the time of the call is the reason.
[[noreturn]] void fatal_file_error(int code, const std::string& path);
// The converter refuses the file for a reason of its own.
[[noreturn]] void fatal_file_error(int code, const std::string& path, const char* reason);

// The message of an error code, or nullptr when the table has no such code.
const char* error_message(int code);
// One line for a fatal error: what failed, on which file, and why ("cannot open 'x.abs': No
// such file or directory"); nullptr-safe for codes the table lacks.
std::string describe_fatal(const Fatal& f);

constexpr int FATAL_STATUS = 255;
constexpr int UNDEFINED_TYPE_STATUS = 1;
constexpr int BUDGET_STATUS = -1;
constexpr int STRICT_STATUS = 2;

}  // namespace tek
