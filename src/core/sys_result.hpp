// The result of a system call on a file that may be refused: success, or the errno the call
// failed with. The reason travels in the result, so that whatever runs between the failure and
// its report (a close, an unlink) cannot change it. The core's counterpart of the library's
// tekconv::Expected, for operations that give no value.
#pragma once

#include <cstring>
#include <string>

namespace tek {

class [[nodiscard]] SysResult {
 public:
  // Success.
  SysResult() = default;
  // The call failed with this errno (not 0).
  static SysResult failed(int sys_errno) { return SysResult(sys_errno); }

  explicit operator bool() const { return errno_ == 0; }
  // The errno of a failure, else 0.
  int sys_errno() const { return errno_; }
  // The system's text for the failure ("No such file or directory"); empty on success.
  std::string text() const { return errno_ == 0 ? std::string() : std::strerror(errno_); }

 private:
  explicit SysResult(int sys_errno) : errno_(sys_errno) {}
  int errno_ = 0;
};

}  // namespace tek
