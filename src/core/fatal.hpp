// Fatal errors and the other ways a run ends before its normal end.
#pragma once

namespace tek {

struct Converter;

// Thrown to end the run with an exit status; the entry point returns the status. Nothing inside
// the converter calls exit(), so a harness can run many conversions in one process.
struct RunExit {
  int status;
};

// Thrown when the emitted output passes Settings::output_budget; the run is abandoned without
// cleanup beyond closing the streams. Only harnesses set a budget.
struct BudgetExceeded {};

// Error codes of the error table.
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
};

// The message of an error code, or nullptr when the table has no such code.
const char* error_message(int code);

// Reports the error, closes the output streams, deletes the output files by name and ends the
// run with exit status 255.
[[noreturn]] void fatal_error(Converter& cv, int code);

}  // namespace tek
