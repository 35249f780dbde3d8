// The output streams of a conversion and the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "format/ctx/records.hpp"

namespace tek {

struct Converter;

// A buffered output file. Write errors are detected and fatal.
struct OutFile {
  int fd = -1;
  std::unique_ptr<uint8_t[]> buf;
  size_t used = 0;       // bytes in buf not yet written to the file
  uint64_t written = 0;  // bytes written since the file was opened
  bool is_open() const { return fd >= 0; }
};

struct OutputState {
  FILE* console = stdout;
  OutFile main;   // the context file (the selfix scratch file in the type index check)
  OutFile type;   // ".ct$"
  OutFile local;  // ".cl$"
  std::string ctx_name, type_name, local_name;
  uint8_t last_kind = 0;  // kind of the latest TYPE record, in every run mode; survives passes
  uint64_t emitted = 0;   // bytes produced by the emit operations, against the budget
  RecordBuffer rec;       // the record being encoded
};

// Opens for writing ("wb"), or for writing and reading back ("w+b"). False on failure.
bool out_open(OutFile& f, const char* path, bool read_back);
constexpr size_t OUT_BUFFER_SIZE = 1 << 18;

// Writes through the buffer; out_write_slow flushes, and takes what does not fit.
void out_write_slow(Converter& cv, OutFile& f, const uint8_t* data, size_t n);
inline void out_write(Converter& cv, OutFile& f, const uint8_t* data, size_t n) {
  if (f.used + n <= OUT_BUFFER_SIZE && f.buf) {
    std::memcpy(f.buf.get() + f.used, data, n);
    f.used += n;
    f.written += n;
    return;
  }
  out_write_slow(cv, f, data, n);
}
void out_flush(Converter& cv, OutFile& f);
// Flushes and closes; a failure is a write error.
void out_close(Converter& cv, OutFile& f);
// Closes without writing what is buffered: for files about to be deleted.
void out_discard(OutFile& f);
// Writes what is buffered and closes, ignoring errors: for a run that stops where it is.
void out_close_quietly(OutFile& f);
// Appends what was written to a read-back stream to another, through one 0x8000-byte buffer.
// Only the bytes this run wrote are copied, whatever else the file may hold or deliver.
void out_append(Converter& cv, OutFile& dst, OutFile& src);

// Formatted output to the console.
int say(Converter& cv, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tek
