#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errors.hpp"
#include "core/record_reader.hpp"

namespace tek {

SysResult RecordReader::open(const char* path) {
  source = InputSource{path, false, {}};
  return open();
}

SysResult RecordReader::open() {
  close();
  in.consumed = 0;
  if (source.in_memory) {
    in.data = source.bytes.data();
    in.pos = 0;
    in.len = source.bytes.size();
    in.at_eof = true;  // nothing to read beyond the bytes at hand
    return {};
  }
  int fd = ::open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SysResult::failed(errno);
  struct stat st;
  const bool failed = ::fstat(fd, &st) != 0;
  if (failed || S_ISDIR(st.st_mode)) {
    const SysResult refused = SysResult::failed(failed ? errno : EISDIR);
    ::close(fd);
    return refused;
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
  return {};
}

void RecordReader::close() {
  if (in.fd >= 0) ::close(in.fd);
  in.fd = -1;
  in.data = nullptr;
  in.pos = in.len = 0;
}

// Fills the buffer; false at the end of the file.
bool RecordReader::fill() {
  if (in.at_eof || in.fd < 0) return false;
  for (;;) {
    ssize_t r = ::read(in.fd, in.buf.get(), INPUT_BUFFER_SIZE);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && in.fail_after != 0 && in.consumed + static_cast<uint64_t>(r) > in.fail_after) {
      r = -1;
      errno = EIO;
    }
    if (r < 0) fatal_file_error(ERR_READ, source.path);
    in.data = in.buf.get();
    in.pos = 0;
    in.len = static_cast<size_t>(r);
    in.consumed += in.len;
    if (r == 0) in.at_eof = true;
    return r > 0;
  }
}

uint8_t RecordReader::refill() {
  if (!fill()) return 0;
  return in.data[in.pos++];
}

size_t RecordReader::get_block(uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (in.pos >= in.len && !fill()) break;
    size_t take = std::min(n - done, in.len - in.pos);
    std::memcpy(buf + done, in.data + in.pos, take);
    in.pos += take;
    done += take;
  }
  if (done < n) std::memset(buf + done, 0, n - done);  // past the end of the file: zeros
  return done;
}

void RecordReader::skip_rec() {
  size_t n = static_cast<size_t>(rec_len_) + 1;
  while (n > 0) {
    if (in.pos >= in.len && !fill()) return;
    size_t take = std::min(n, in.len - in.pos);
    in.pos += take;
    n -= take;
  }
}

uint32_t RecordReader::get_tri() {
  uint32_t v = get_byte() << 16;
  v |= get_byte() << 8;
  return v | get_byte();
}

void RecordReader::skip_fields(std::span<const teka::Field> fields) {
  for (const teka::Field& f : fields) {
    switch (f.width) {
      case teka::Width::Byte:
        get_byte();
        break;
      case teka::Width::Word:
        get_word();
        break;
      case teka::Width::Long:
        get_long();
        break;
      case teka::Width::Address:
        get_addr();
        break;
    }
  }
}

void RecordReader::get_name(char* name) {
  uint32_t n = get_byte();
  // Mostly the name lies whole in the body and in the buffer: it is copied in one piece.
  if (const uint8_t* p = take_body(n)) [[likely]] {
    const void* nul = std::memchr(p, 0, n);
    const size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : n;
    std::memcpy(name, p, len);
    name[len] = '\0';
    return;
  }
  size_t len = 0;
  bool ended = false;
  for (uint32_t i = 0; i < n; ++i) {
    char c = static_cast<char>(get_byte());
    if (c == '\0') ended = true;
    if (!ended) name[len++] = c;
  }
  name[len] = '\0';
}

}  // namespace tek
