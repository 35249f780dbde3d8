#include "core/errors.hpp"

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

}  // namespace

const char* error_message(int code) {
  for (const ErrorEntry& e : ERRORS)
    if (e.code == code) return e.message;
  return nullptr;
}

}  // namespace tek
