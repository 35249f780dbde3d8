#include "core/atomic_output.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "core/errors.hpp"

namespace tek {

namespace {

// The directory part of a path, with its trailing slash; "" for the current directory.
std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

AtomicOutput::~AtomicOutput() {
  discard();
}

void AtomicOutput::create(const std::string& name, OutFile& out) {
  name_ = name;
  committed_ = false;
  to_stdout_ = name == STANDARD_STREAM;
  if (to_stdout_) {
    if (!out_open_unnamed(out, "./")) fatal_file_error(ERR_CREATE, name);
    out_ = &out;
    out.name = name;
    return;
  }
  // "dir/.prog.ctx.XXXXXX": hidden, unique, in the directory of the file it becomes.
  const size_t slash = name.rfind('/');
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::string temp = directory_of(name);
  temp.append(".").append(base).append(".XXXXXX");
  // Registered as it comes to exist, with whatever removes it held back, so that no temporary is
  // left behind.
  struct Held {
    TemporaryWatch* w;
    explicit Held(TemporaryWatch* watch) : w(watch) {
      if (w) w->hold();
    }
    ~Held() {
      if (w) w->release();
    }
  } held(watch_);
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL: never follows a link
  if (fd < 0) fatal_file_error(ERR_CREATE, name);
  temp_ = temp;
  if (watch_) watch_->track(temp_);
  // mkostemp makes the file 0600; a context file gets the permissions a created file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  out_ = &out;
  out_attach(out, fd);
  out.name = name;  // write errors name the file being made
}

void AtomicOutput::commit() {
  if (to_stdout_) {
    OutFile console;
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) fatal_file_error(ERR_WRITE, name_);
    out_attach(console, fd);
    console.name = name_;
    out_append(console, *out_);
    out_close(console);
    out_close(*out_);
    committed_ = true;
    return;
  }
  out_close(*out_);
  if (::rename(temp_.c_str(), name_.c_str()) != 0) fatal_file_error(ERR_CREATE, name_);
  committed_ = true;
  if (watch_) watch_->untrack(temp_);
  temp_.clear();
}

void AtomicOutput::discard() {
  if (out_) out_discard(*out_);
  if (!temp_.empty() && !committed_) {
    ::unlink(temp_.c_str());
    if (watch_) watch_->untrack(temp_);
  }
  temp_.clear();
}

}  // namespace tek
