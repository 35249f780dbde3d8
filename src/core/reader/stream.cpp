#include "core/reader/stream.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "core/converter.hpp"
#include "core/errors.hpp"

namespace tek {

bool open_input(Converter& cv, const char* path) {
  cv.rd.source = InputSource{path, false, {}};
  return open_input(cv);
}

bool open_input(Converter& cv) {
  InputFile& in = cv.rd.in;
  const InputSource& source = cv.rd.source;
  close_input(cv);
  in.consumed = 0;
  if (source.in_memory) {
    in.data = source.bytes.data();
    in.pos = 0;
    in.len = source.bytes.size();
    in.at_eof = true;  // nothing to read beyond the bytes at hand
    return true;
  }
  int fd = ::open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool failed = ::fstat(fd, &st) != 0;
  if (failed || S_ISDIR(st.st_mode)) {
    const int reason = failed ? errno : EISDIR;
    ::close(fd);
    errno = reason;
    return false;
  }
  if (!in.buf) in.buf.reset(new (std::nothrow) uint8_t[INPUT_BUFFER_SIZE]);
  if (!in.buf) {
    ::close(fd);
    fatal_error(ERR_MEMORY);
  }
  in.fd = fd;
  in.data = in.buf.get();
  in.pos = in.len = 0;
  in.at_eof = false;
  return true;
}

bool input_open(const Converter& cv) {
  return cv.rd.in.fd >= 0 || cv.rd.in.data != nullptr;
}

void close_input(Converter& cv) {
  InputFile& in = cv.rd.in;
  if (in.fd >= 0) ::close(in.fd);
  in.fd = -1;
  in.data = nullptr;
  in.pos = in.len = 0;
}

// Fills the buffer; false at the end of the file.
static bool fill(Converter& cv) {
  InputFile& in = cv.rd.in;
  if (in.at_eof || in.fd < 0) return false;
  for (;;) {
    ssize_t r = ::read(in.fd, in.buf.get(), INPUT_BUFFER_SIZE);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && in.fail_after != 0 && in.consumed + static_cast<uint64_t>(r) > in.fail_after) {
      r = -1;
      errno = EIO;
    }
    if (r < 0) fatal_file_error(ERR_READ, cv.rd.source.path);
    in.data = in.buf.get();
    in.pos = 0;
    in.len = static_cast<size_t>(r);
    in.consumed += in.len;
    if (r == 0) in.at_eof = true;
    return r > 0;
  }
}

uint8_t refill_input(Converter& cv) {
  InputFile& in = cv.rd.in;
  if (!fill(cv)) return 0;
  return in.data[in.pos++];
}

static inline uint8_t next_byte(Converter& cv) {
  InputFile& in = cv.rd.in;
  if (in.pos < in.len) return in.data[in.pos++];
  return refill_input(cv);
}

uint32_t get_raw(Converter& cv, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | next_byte(cv);
  return v;
}

size_t get_block(Converter& cv, uint8_t* buf, size_t n) {
  InputFile& in = cv.rd.in;
  size_t done = 0;
  while (done < n) {
    if (in.pos >= in.len && !fill(cv)) break;
    size_t take = std::min(n - done, in.len - in.pos);
    std::memcpy(buf + done, in.data + in.pos, take);
    in.pos += take;
    done += take;
  }
  if (done < n) std::memset(buf + done, 0, n - done);  // past the end of the file: zeros
  return done;
}

const uint8_t* take_block(Converter& cv, size_t n) {
  InputFile& in = cv.rd.in;
  if (in.len - in.pos < n) return nullptr;
  const uint8_t* p = in.data + in.pos;
  in.pos += n;
  return p;
}

uint32_t get_rectype(Converter& cv) {
  uint32_t b = get_raw(cv, 1);
  cv.rd.long_len = static_cast<uint16_t>(b & 1);
  return b & 0xFE;
}

void get_reclen(Converter& cv) {
  cv.rd.rec_len = static_cast<uint16_t>(get_raw(cv, cv.rd.long_len ? 2 : 1));
}

void skip_rec(Converter& cv) {
  InputFile& in = cv.rd.in;
  size_t n = static_cast<size_t>(cv.rd.rec_len) + 1;
  while (n > 0) {
    if (in.pos >= in.len && !fill(cv)) return;
    size_t take = std::min(n, in.len - in.pos);
    in.pos += take;
    n -= take;
  }
}

uint32_t get_byte(Converter& cv) {
  if (cv.rd.rec_len == 0) return 0;
  cv.rd.rec_len -= 1;
  return next_byte(cv);
}

// Reads a whole field of n bytes, also when it runs past the end of the body.
static uint32_t get_field(Converter& cv, int n) {
  if (cv.rd.rec_len == 0) return 0;
  uint32_t v = get_raw(cv, n);
  cv.rd.rec_len = cv.rd.rec_len >= n ? static_cast<uint16_t>(cv.rd.rec_len - n) : 0;
  return v;
}

uint32_t get_word(Converter& cv) {
  return get_field(cv, 2);
}

uint32_t get_tri(Converter& cv) {
  uint32_t v = get_byte(cv) << 16;
  v |= get_byte(cv) << 8;
  return v | get_byte(cv);
}

uint32_t get_long(Converter& cv) {
  return get_field(cv, 4);
}

uint32_t get_addr(Converter& cv) {
  switch (cv.units.addr_width) {
    case 2:
      return get_word(cv);
    case 3:
      return get_tri(cv);
    case 4:
      return get_long(cv);
    default:
      return get_byte(cv);
  }
}

void skip_fields(Converter& cv, std::span<const teka::Field> fields) {
  for (const teka::Field& f : fields) {
    switch (f.width) {
      case teka::Width::Byte:
        get_byte(cv);
        break;
      case teka::Width::Word:
        get_word(cv);
        break;
      case teka::Width::Long:
        get_long(cv);
        break;
      case teka::Width::Address:
        get_addr(cv);
        break;
    }
  }
}

void get_name(Converter& cv, char* name) {
  uint32_t n = get_byte(cv);
  size_t len = 0;
  bool ended = false;
  for (uint32_t i = 0; i < n; ++i) {
    char c = static_cast<char>(get_byte(cv));
    if (c == '\0') ended = true;
    if (!ended) name[len++] = c;
  }
  name[len] = '\0';
}

}  // namespace tek
