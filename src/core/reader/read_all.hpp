// Reading a descriptor to its end, for inputs that are taken whole: companion files, and inputs
// that cannot be read twice.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tek {

// Appends what fd holds up to its end to out (a std::string or a std::vector<uint8_t>), retrying
// a read that a signal interrupted. False when a read fails; what was read before stays in out.
template <class Bytes>
bool read_to_end(int fd, Bytes& out) {
  uint8_t buf[1 << 16];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) return true;
    out.insert(out.end(), buf, buf + r);
  }
}

}  // namespace tek
