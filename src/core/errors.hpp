// The two ways a run ends before its body returns, kept apart:
//  - Fatal: an error of the table (a file that cannot be opened, created, read or written, memory
//    running out), reported as "Error : <message>" with status 255;
//  - Stopped: a decision to end the run that is no error of the table (the undefined type kind,
//    the output budget, strict mode, the console).
// Both are thrown, and only the top of a run (run_protected) catches them and turns them into the
// exit status.
#pragma once

#include <string>

#include "core/sys_result.hpp"

namespace tek {

// Codes of the error table: each one is raised by the run and has a message.
enum ErrorCode : int {
  ERR_OPEN = 1,
  ERR_CREATE = 2,
  ERR_READ = 3,
  ERR_WRITE = 4,
  ERR_SEEK = 5,
  ERR_MEMORY = 12,
};

// Why a run stops without an error of the table.
enum StopReason : int {
  // A TYPE record of an undefined kind reached the output: "\nUndefined type", status 1.
  STOP_UNDEFINED_TYPE = 1,
  // The output passed the budget that a harness set: the run is abandoned, status -1.
  STOP_BUDGET,
  // The console cannot be written: the run fails (status 255) without a message there.
  STOP_CONSOLE,
  // Strict mode, and the input had problems: no context file is left, status 2.
  STOP_STRICT,
};

struct Fatal {
  ErrorCode code;
  std::string path = {};         // the file it concerns, when known
  int sys_errno = 0;             // the system's reason, when a system call failed
  const char* reason = nullptr;  // the converter's own reason, when none did
};

struct Stopped {
  StopReason reason;
};

[[noreturn]] inline void fatal_error(ErrorCode code) {
  throw Fatal{code};
}
// A system call on the file failed: errno at the time of the call is the reason.
[[noreturn]] void fatal_file_error(ErrorCode code, const std::string& path);
// A system call on the file failed, for the reason the result carries.
[[noreturn]] void fatal_file_error(ErrorCode code, const std::string& path, const SysResult& why);
// The converter refuses the file for a reason of its own.
[[noreturn]] void fatal_file_error(ErrorCode code, const std::string& path, const char* reason);

[[noreturn]] inline void stop_run(StopReason reason) {
  throw Stopped{reason};
}

// The message of an error code, or nullptr when the table has no such code.
const char* error_message(ErrorCode code);
// One line for a fatal error: what failed, on which file, and why ("cannot open 'x.abs': No
// such file or directory"); nullptr-safe for codes the table lacks.
std::string describe_fatal(const Fatal& f);

// The exit statuses of a run (the library's Status has the same values).
constexpr int FATAL_STATUS = 255;
constexpr int UNDEFINED_TYPE_STATUS = 1;
constexpr int BUDGET_STATUS = -1;
constexpr int STRICT_STATUS = 2;

}  // namespace tek
