// The ELF file written to an output stream on a file: appended through the stream's buffer, read
// back and overwritten in place with pread and pwrite (after the buffer is flushed).
#pragma once

#include <errno.h>
#include <unistd.h>

#include "core/errors.hpp"
#include "core/output.hpp"
#include "format/elf/file.hpp"

namespace tek {

class ElfFileOutput : public elf::Output {
 public:
  // The stream is open for reading and writing on an empty regular file.
  explicit ElfFileOutput(OutFile& f) : f_(f) {}

  void read(uint64_t at, uint8_t* p, size_t n) override {
    out_flush(f_);
    while (n > 0) {
      ssize_t r = ::pread(f_.fd, p, n, static_cast<off_t>(at));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) fatal_error(ERR_READ);
      p += r;
      at += static_cast<uint64_t>(r);
      n -= static_cast<size_t>(r);
    }
  }

  void overwrite(uint64_t at, const uint8_t* p, size_t n) override {
    out_flush(f_);
    while (n > 0) {
      ssize_t w = ::pwrite(f_.fd, p, n, static_cast<off_t>(at));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) fatal_error(ERR_WRITE);
      p += w;
      at += static_cast<uint64_t>(w);
      n -= static_cast<size_t>(w);
    }
  }

 private:
  void put(const uint8_t* p, size_t n) override { out_write(f_, p, n); }
  OutFile& f_;
};

}  // namespace tek
