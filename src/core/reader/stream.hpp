// The TEKA record stream: framing and field readers over a buffered input file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "format/teka/fields.hpp"

namespace tek {

struct Converter;

constexpr size_t INPUT_BUFFER_SIZE = 1 << 18;

// Where each pass reads the input from: a file, streamed through a buffer so that memory stays
// bounded on large images, or bytes already in memory.
struct InputSource {
  std::string path;
  bool in_memory = false;
  std::span<const uint8_t> bytes;  // in memory: the whole input
};

struct InputFile {
  int fd = -1;
  std::unique_ptr<uint8_t[]> buf;
  const uint8_t* data = nullptr;  // the bytes at hand: the buffer, or the input in memory
  size_t pos = 0;
  size_t len = 0;
  bool at_eof = false;
  // Testing aid: when nonzero, the read that would pass this many bytes of input fails as an
  // I/O error does.
  uint64_t fail_after = 0;
  uint64_t consumed = 0;
};

struct ReaderState {
  InputSource source;
  InputFile in;
  uint16_t long_len = 0;
  // Body bytes of the current record that the field readers have not consumed.
  uint16_t rec_len = 0;
  int32_t file_debug_level = 0;
  int32_t debug_level = 0;
  // The record being read: the offset of its type byte in the input, and its code. Kept for
  // the diagnostics, which name the record they concern.
  uint64_t record_offset = 0;
  uint8_t record_code = 0;
};

// The offset in the input of the next byte to read.
inline uint64_t input_offset(const InputFile& in) {
  return in.fd >= 0 ? in.consumed - in.len + in.pos : in.pos;
}
// True when the input holds no byte at this offset (as far as the pass has read).
inline bool past_input_end(const InputFile& in, uint64_t offset) {
  return in.fd >= 0 ? in.at_eof && offset >= in.consumed : offset >= in.len;
}

// Opens the input source for a pass; false when it cannot be opened or is a directory (errno
// tells why).
bool open_input(Converter& cv);
// Makes a file the input source and opens it.
bool open_input(Converter& cv, const char* path);
void close_input(Converter& cv);
// True while an input is open (until the end of the pass).
bool input_open(const Converter& cv);

// Slow path of the byte reader: refills the buffer. Past the end of the file every byte reads
// as 0; a read that fails with an I/O error is fatal.
uint8_t refill_input(Converter& cv);

uint32_t get_raw(Converter& cv, int n);
size_t get_block(Converter& cv, uint8_t* buf, size_t n);
// The next n bytes where they lie in one piece in the input buffer, consumed as get_block
// would; nullptr (and nothing consumed) when they do not, so the caller uses get_block.
const uint8_t* take_block(Converter& cv, size_t n);
uint32_t get_rectype(Converter& cv);
void get_reclen(Converter& cv);
void skip_rec(Converter& cv);

uint32_t get_byte(Converter& cv);
uint32_t get_word(Converter& cv);
uint32_t get_tri(Converter& cv);
uint32_t get_long(Converter& cv);
uint32_t get_addr(Converter& cv);

// Reads fields that no output holds, each with the reader of its width.
void skip_fields(Converter& cv, std::span<const teka::Field> fields);
// Consumes the trailer byte of a record whose body was read exactly.
inline void consume_trailer(Converter& cv) {
  get_raw(cv, 1);
}

// Reads a length-prefixed name with get_byte into a 256-byte buffer: at most 255 characters
// are kept, and the name ends at its first 0 byte. All n bytes are consumed.
void get_name(Converter& cv, char* name);

}  // namespace tek
