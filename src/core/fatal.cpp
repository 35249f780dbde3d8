#include "core/fatal.hpp"

#include "core/converter.hpp"
#include "tools/tekconv/paths.hpp"

namespace tek {

namespace {

struct ErrorEntry {
  int code;
  const char* message;
};

constexpr ErrorEntry ERRORS[] = {
    {ERR_OPEN, "Cannot open file"},
    {ERR_CREATE, "Cannot create file"},
    {ERR_READ, "Read error"},
    {ERR_WRITE, "Write error"},
    {ERR_SEEK, "Seek error"},
    {ERR_FORMAT, "Format error"},
    {ERR_NO_DEBUG, "No debug information"},
    {ERR_NO_MAP, "No map file"},
    {ERR_NO_SYMBOL, "No symbol file"},
    {ERR_SUM_CHECK, "Sum check error"},
    {ERR_MEMORY, "Memory allocation error"},
};

constexpr int FATAL_STATUS = 255;

}  // namespace

const char* error_message(int code) {
  for (const ErrorEntry& e : ERRORS)
    if (e.code == code) return e.message;
  return nullptr;
}

void fatal_error(Converter& cv, int code) {
  const char* message = error_message(code);
  if (!message) {
    say(cv, "Internal error (No error message)\n");
    throw RunExit{FATAL_STATUS};
  }
  say(cv, "Error : %s\n", message);
  OutputState& out = cv.out;
  out_discard(out.main);
  out_discard(out.type);
  out_discard(out.local);
  delete_file(out.ctx_name);
  delete_file(out.local_name);
  delete_file(out.type_name);
  throw RunExit{FATAL_STATUS};
}

}  // namespace tek
