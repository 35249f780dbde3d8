// Buffered output streams: a file descriptor or a byte vector in memory. Write errors are
// fatal (ERR_WRITE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/sys_result.hpp"

namespace tek {

constexpr size_t OUT_BUFFER_SIZE = 1 << 18;

struct OutFile {
  int fd = -1;
  std::vector<uint8_t>* memory = nullptr;  // the stream's bytes, for a stream in memory
  std::unique_ptr<uint8_t[]> buf;
  size_t used = 0;       // bytes in buf not yet written to the file
  uint64_t written = 0;  // bytes written since the stream was opened
  std::string name;      // the file's name, for the error messages; empty when it has none
  bool is_open() const { return fd >= 0 || memory; }
};

// Opens a file for writing ("wb"), or for writing and reading back ("w+b"); a failure carries
// the system's reason.
SysResult out_open(OutFile& f, const char* path, bool read_back);
// Takes an open descriptor (for writing, and reading back when the stream is appended).
void out_attach(OutFile& f, int fd);
// Opens a stream on an unnamed temporary file in the directory of the path near (or, where the
// file system has none, a file removed as soon as it is made): nothing to remove, whatever ends
// the run, and no name another run could meet. A failure carries the reason of the last attempt.
SysResult out_open_unnamed(OutFile& f, const std::string& near);
// A stream whose bytes are appended to *memory.
void out_open_memory(OutFile& f, std::vector<uint8_t>* memory);

// Writes through the buffer; out_write_slow flushes, and takes what does not fit.
void out_write_slow(OutFile& f, const uint8_t* data, size_t n);
inline void out_write(OutFile& f, const uint8_t* data, size_t n) {
  if (n == 0) return;  // an empty part may come without bytes (a null pointer)
  if (f.used + n <= OUT_BUFFER_SIZE && f.buf) {
    std::memcpy(f.buf.get() + f.used, data, n);
    f.used += n;
    f.written += n;
    return;
  }
  out_write_slow(f, data, n);
}
void out_flush(OutFile& f);
// Flushes and closes; a failure is a write error.
void out_close(OutFile& f);
// Closes without writing what is buffered: for files about to be deleted.
void out_discard(OutFile& f);
// Writes what is buffered and closes, ignoring errors: for a run that stops where it is.
void out_close_quietly(OutFile& f);
// Appends what was written to a read-back stream to another, through one 0x8000-byte buffer.
// Only the bytes this run wrote are copied, whatever else the file may hold or deliver.
void out_append(OutFile& dst, OutFile& src);

}  // namespace tek
