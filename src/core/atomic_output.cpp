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

// What a name given by the user stands for: nothing yet or a regular file (the name itself), a
// regular file through a link (its target, which the new file replaces, so the link stays), or
// a device, FIFO or socket, directly or through a link (written to, never replaced).
struct Destination {
  bool device = false;
  std::string path;
};

Destination destination_of(const std::string& name) {
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return {false, name};
  if (!S_ISREG(st.st_mode)) return {true, name};
  struct stat lst;
  if (::lstat(name.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode)) return {false, name};
  char* target = ::realpath(name.c_str(), nullptr);
  if (!target) return {false, name};
  Destination d{false, target};
  std::free(target);
  return d;
}

}  // namespace

AtomicOutput::~AtomicOutput() {
  discard();
}

void AtomicOutput::create(const std::string& given, OutFile& out, bool named_by_user) {
  name_ = given;
  committed_ = false;
  to_stdout_ = given == STANDARD_STREAM;
  const Destination dest =
      named_by_user && !to_stdout_ ? destination_of(given) : Destination{false, given};
  to_device_ = dest.device;
  const std::string& name = dest.path;
  if (to_stdout_ || to_device_) {
    // Built in an unnamed temporary (the ELF writer reads back what it wrote), copied out whole.
    if (const SysResult made = out_open_unnamed(out, "./"); !made)
      fatal_file_error(ERR_CREATE, given, made);
    out_ = &out;
    out.name = given;
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
  if (fd < 0) fatal_file_error(ERR_CREATE, given);
  target_ = name;
  temp_ = temp;
  if (watch_) watch_->track(temp_);
  // mkostemp makes the file 0600; a context file gets the permissions a created file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  out_ = &out;
  out_attach(out, fd);
  out.name = given;  // write errors name the file being made
}

void AtomicOutput::commit() {
  if (to_stdout_ || to_device_) {
    OutFile console;
    const int fd = to_stdout_ ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                              : ::open(name_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) fatal_file_error(to_stdout_ ? ERR_WRITE : ERR_CREATE, name_);
    out_attach(console, fd);
    console.name = name_;
    out_append(console, *out_);
    out_close(console);
    out_close(*out_);
    committed_ = true;
    return;
  }
  out_close(*out_);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) fatal_file_error(ERR_CREATE, name_);
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
