#include "core/errors.hpp"

#include <cerrno>
#include <cstring>

namespace tek {

namespace {

struct ErrorEntry {
  ErrorCode code;
  const char* message;
  const char* action;  // what failed on a named file
};

constexpr ErrorEntry ERRORS[] = {
    {ERR_OPEN, "Cannot open file", "cannot open"},
    {ERR_CREATE, "Cannot create file", "cannot create"},
    {ERR_READ, "Read error", "cannot read"},
    {ERR_WRITE, "Write error", "cannot write"},
    {ERR_SEEK, "Seek error", "cannot seek in"},
    {ERR_MEMORY, "Memory allocation error", "out of memory reading"},
};

const ErrorEntry* entry(ErrorCode code) {
  for (const ErrorEntry& e : ERRORS)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

void fatal_file_error(ErrorCode code, const std::string& path) {
  const int saved = errno;
  throw Fatal{code, path, saved};
}

void fatal_file_error(ErrorCode code, const std::string& path, const SysResult& why) {
  throw Fatal{code, path, why.sys_errno()};
}

void fatal_file_error(ErrorCode code, const std::string& path, const char* reason) {
  throw Fatal{code, path, 0, reason};
}

const char* error_message(ErrorCode code) {
  const ErrorEntry* e = entry(code);
  return e ? e->message : nullptr;
}

std::string describe_fatal(const Fatal& f) {
  const ErrorEntry* e = entry(f.code);
  if (!e) return "internal error " + std::to_string(f.code);
  std::string text;
  if (f.path.empty()) {
    text = e->message;
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  } else {
    text = std::string(e->action) + " '" + f.path + "'";
  }
  if (f.sys_errno != 0) text += std::string(": ") + std::strerror(f.sys_errno);
  if (f.reason) text += std::string(": ") + f.reason;
  return text;
}

}  // namespace tek
