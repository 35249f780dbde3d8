// The TEKA record stream: framing and field readers over a buffered input file. The reader holds
// everything the field readers use, the address width included, so that a record handler needs
// the reader and the state it changes, not the whole converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/sys_result.hpp"
#include "format/teka/fields.hpp"

namespace tek {

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

// The offset in the input of the next byte to read.
inline uint64_t input_offset(const InputFile& in) {
  return in.fd >= 0 ? in.consumed - in.len + in.pos : in.pos;
}
// True when the input holds no byte at this offset (as far as the pass has read).
inline bool past_input_end(const InputFile& in, uint64_t offset) {
  return in.fd >= 0 ? in.at_eof && offset >= in.consumed : offset >= in.len;
}

// Where a record lies: the offset of its type byte in the input, and its code. The diagnostics
// name the record they concern by it.
struct RecordPlace {
  uint64_t offset = 0;
  uint8_t code = 0;
};

class RecordReader {
 public:
  InputSource source;
  InputFile in;
  int32_t file_debug_level = 0;
  int32_t debug_level = 0;
  // The record being read.
  uint64_t record_offset = 0;
  uint8_t record_code = 0;

  RecordReader() = default;
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;
  ~RecordReader() { close(); }

  // Opens the input source for a pass; fails, with the reason, when it cannot be opened or is a
  // directory (EISDIR).
  SysResult open();
  // Makes a file the input source and opens it.
  SysResult open(const char* path);
  void close();
  // True while an input is open (until the end of the pass).
  bool is_open() const { return in.fd >= 0 || in.data != nullptr; }

  RecordPlace place() const { return {record_offset, record_code}; }
  void set_place(RecordPlace p) {
    record_offset = p.offset;
    record_code = p.code;
  }

  // Width in bytes of an address field: 2, 3 or 4, any other value reads one byte. Set by the
  // first UNIT record that gives one, and never reset.
  uint16_t addr_width() const { return addr_width_; }
  void set_addr_width(uint16_t width) { addr_width_ = width; }

  // Body bytes of the current record that the field readers have not consumed.
  uint16_t remaining() const { return rec_len_; }
  void set_remaining(uint16_t n) { rec_len_ = n; }
  // True when the record's length field is two bytes (bit 0 of its type byte).
  bool long_length() const { return long_len_ != 0; }

  // Framing: the next record's type byte, then its length; next_record does both and notes
  // where the record begins.
  uint32_t get_rectype() {
    uint32_t b = get_raw(1);
    long_len_ = static_cast<uint16_t>(b & 1);
    return b & 0xFE;
  }
  void get_reclen() { rec_len_ = static_cast<uint16_t>(get_raw(long_len_ ? 2 : 1)); }
  uint32_t next_record() {
    record_offset = input_offset(in);
    const uint32_t code = get_rectype();
    record_code = static_cast<uint8_t>(code);
    get_reclen();
    return code;
  }
  // Skips the rest of the body and the trailer byte.
  void skip_rec();
  // Consumes the trailer byte of a record whose body was read exactly.
  void consume_trailer() { next_byte(); }

  // Raw reads, big-endian, that leave the body count alone.
  uint32_t get_raw(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | next_byte();
    return v;
  }
  size_t get_block(uint8_t* buf, size_t n);
  // The next n bytes where they lie in one piece in the input buffer, consumed as get_block
  // would; nullptr (and nothing consumed) when they do not, so the caller uses get_block.
  const uint8_t* take_block(size_t n) {
    if (in.len - in.pos < n) return nullptr;
    const uint8_t* p = in.data + in.pos;
    in.pos += n;
    return p;
  }

  // The next n bytes of the body where they lie whole in the body and in the input buffer,
  // consumed; nullptr (and nothing consumed) when they do not, so the caller reads them one by
  // one.
  const uint8_t* take_body(size_t n) {
    if (rec_len_ < n || in.len - in.pos < n) return nullptr;
    const uint8_t* p = in.data + in.pos;
    in.pos += n;
    rec_len_ = static_cast<uint16_t>(rec_len_ - n);
    return p;
  }

  // Field readers: past the end of the body a field reads as 0 and consumes nothing; a field
  // that begins inside the body is read whole.
  uint32_t get_byte() {
    if (rec_len_ == 0) return 0;
    rec_len_ -= 1;
    return next_byte();
  }
  uint32_t get_word() { return get_field(2); }
  uint32_t get_tri();
  uint32_t get_long() { return get_field(4); }
  uint32_t get_addr() {
    switch (addr_width_) {
      case 2:
        return get_word();
      case 3:
        return get_tri();
      case 4:
        return get_long();
      default:
        return get_byte();
    }
  }
  // Reads fields that no output holds, each with the reader of its width.
  void skip_fields(std::span<const teka::Field> fields);
  // Reads a length-prefixed name into a 256-byte buffer, its bytes as get_byte reads them: at
  // most 255 characters are kept, and the name ends at its first 0 byte. All n bytes are
  // consumed.
  void get_name(char* name);

 private:
  // Slow path of the byte reader: refills the buffer. Past the end of the file every byte reads
  // as 0; a read that fails with an I/O error is fatal.
  uint8_t refill();
  bool fill();
  uint8_t next_byte() {
    if (in.pos < in.len) [[likely]]
      return in.data[in.pos++];
    return refill();
  }
  uint32_t get_field(int n) {
    // Mostly the field lies whole in the body and in the buffer: its bytes are read in place.
    if (const uint8_t* p = take_body(static_cast<size_t>(n))) [[likely]] {
      uint32_t v = 0;
      for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
      return v;
    }
    if (rec_len_ == 0) return 0;
    uint32_t v = get_raw(n);
    rec_len_ = rec_len_ >= n ? static_cast<uint16_t>(rec_len_ - n) : 0;
    return v;
  }

  uint16_t long_len_ = 0;
  uint16_t rec_len_ = 0;
  uint16_t addr_width_ = 0;
};

}  // namespace tek
