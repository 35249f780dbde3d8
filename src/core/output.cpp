#include "core/output.hpp"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/errors.hpp"

namespace tek {

namespace {

constexpr size_t COPY_BUFFER_SIZE = 0x8000;

SysResult write_all(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return SysResult::failed(errno);
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return {};
}

}  // namespace

SysResult out_open(OutFile& f, const char* path, bool read_back) {
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  if (read_back) {
    // A stream that is read back is a file of this run's own: whatever carries its name (a
    // stale file, a link to a device) is replaced by a new regular file.
    ::unlink(path);
    flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;
  }
  int fd = ::open(path, flags, 0666);
  if (fd < 0) return SysResult::failed(errno);
  out_attach(f, fd);
  f.name = path;
  return {};
}

void out_attach(OutFile& f, int fd) {
  f.fd = fd;
  f.memory = nullptr;
  if (!f.buf) f.buf.reset(new uint8_t[OUT_BUFFER_SIZE]);
  f.used = 0;
  f.written = 0;
  f.name.clear();
}

SysResult out_open_unnamed(OutFile& f, const std::string& near) {
  const size_t slash = near.rfind('/');
  std::string dir;
  if (slash == std::string::npos)
    dir.assign(".");
  else
    dir.assign(near, 0, slash + 1);
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = dir;
    name.append("/.tekconv-XXXXXX");
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return SysResult::failed(errno);
    ::unlink(name.c_str());
  }
  out_attach(f, fd);
  return {};
}

void out_open_memory(OutFile& f, std::vector<uint8_t>* memory) {
  f.fd = -1;
  f.memory = memory;
  f.buf.reset();  // the vector is the buffer
  f.used = 0;
  f.written = 0;
}

void out_flush(OutFile& f) {
  if (f.used == 0) return;
  if (f.memory) {
    f.memory->insert(f.memory->end(), f.buf.get(), f.buf.get() + f.used);
    f.used = 0;
    return;
  }
  const SysResult written = write_all(f.fd, f.buf.get(), f.used);
  f.used = 0;
  if (!written) fatal_file_error(ERR_WRITE, f.name, written);
}

// Fills the buffer to the brim before each write, so that the file grows by whole buffers.
void out_write_slow(OutFile& f, const uint8_t* data, size_t n) {
  if (!f.is_open()) return;  // no stream to write to
  f.written += n;
  if (!f.buf) {  // a stream in memory
    if (n) f.memory->insert(f.memory->end(), data, data + n);
    return;
  }
  while (n > 0) {
    const size_t take = std::min(n, OUT_BUFFER_SIZE - f.used);
    std::memcpy(f.buf.get() + f.used, data, take);
    f.used += take;
    data += take;
    n -= take;
    if (f.used == OUT_BUFFER_SIZE) out_flush(f);
  }
}

void out_close(OutFile& f) {
  if (!f.is_open()) return;
  out_flush(f);
  if (f.memory) {
    f.memory = nullptr;
    return;
  }
  int fd = f.fd;
  f.fd = -1;
  if (::close(fd) != 0 && errno != EINTR) fatal_file_error(ERR_WRITE, f.name);
}

void out_discard(OutFile& f) {
  if (!f.is_open()) return;
  f.memory = nullptr;
  if (f.fd >= 0) ::close(f.fd);
  f.fd = -1;
  f.used = 0;
}

void out_close_quietly(OutFile& f) {
  if (!f.is_open()) return;
  if (f.memory && f.used)
    f.memory->insert(f.memory->end(), f.buf.get(), f.buf.get() + f.used);
  else
    (void)write_all(f.fd, f.buf.get(), f.used);  // the run stops here either way
  out_discard(f);
}

void out_append(OutFile& dst, OutFile& src) {
  out_flush(src);
  if (src.memory) {
    if (!src.memory->empty()) out_write(dst, src.memory->data(), src.memory->size());
    return;
  }
  if (::lseek(src.fd, 0, SEEK_SET) != 0) fatal_file_error(ERR_SEEK, src.name);
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[COPY_BUFFER_SIZE]);
  if (!copy) fatal_error(ERR_MEMORY);
  for (uint64_t left = src.written; left > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, COPY_BUFFER_SIZE));
    ssize_t r = ::read(src.fd, copy.get(), want);
    if (r < 0 && errno == EINTR) continue;
    // A stream that gives back less than was written to it has lost part of it.
    if (r < 0) fatal_file_error(ERR_READ, src.name);
    if (r == 0) fatal_file_error(ERR_READ, src.name, "it ends before what was written to it");
    out_write(dst, copy.get(), static_cast<size_t>(r));
    left -= static_cast<uint64_t>(r);
  }
}

}  // namespace tek
