// Output files that appear whole or not at all. The file is written under a unique temporary
// name in its directory, created exclusively (never through a link), and renamed onto its name
// only when it is complete; until then a fatal error or a signal removes the temporary, and
// nothing that carries the final name is touched.
#pragma once

#include <string>

#include "core/output.hpp"

namespace tek {

// The file name that stands for standard input (as the input) or standard output (with -o).
inline constexpr const char* STANDARD_STREAM = "-";

// Told of each temporary output file while it exists, so that whatever ends the process early
// (a signal handler) can remove it.
class TemporaryWatch {
 public:
  virtual ~TemporaryWatch() = default;
  // Around the creation of a temporary and its registration: whatever would remove it is held
  // back, so that no temporary exists unregistered.
  virtual void hold() {}
  virtual void release() {}
  virtual void track(const std::string& path) = 0;
  virtual void untrack(const std::string& path) = 0;
};

// Output that appears whole or not at all. For the name "-" the file is an unnamed temporary
// in the current directory (the ELF writer reads back what it wrote), copied to standard output
// when it is complete.
class AtomicOutput {
 public:
  explicit AtomicOutput(TemporaryWatch* watch = nullptr) : watch_(watch) {}
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();

  // Creates the temporary for the file name and opens out on it; a failure is ERR_CREATE.
  // named_by_user: the caller was given the name (tekconv -o, the library's path), so that a
  // name which stands for a device or a stream (/dev/null, /dev/stdout, a link to a pipe) is
  // written to, as a user asking for it expects, and a link to a regular file is followed and
  // its target replaced. A name the tool made up replaces whatever is there, never following.
  void create(const std::string& name, OutFile& out, bool named_by_user = false);
  const std::string& name() const { return name_; }
  const std::string& temporary() const { return temp_; }
  // Flushes and closes the temporary, then renames it onto the name (a write error is
  // ERR_WRITE, a failed rename ERR_CREATE), or copies it to standard output.
  void commit();
  // Closes and removes the temporary, unless it was committed.
  void discard();

 private:
  TemporaryWatch* watch_;
  OutFile* out_ = nullptr;
  std::string name_, target_, temp_;  // the name given, the file it replaces, the temporary
  bool committed_ = false;
  bool to_stdout_ = false;
  bool to_device_ = false;  // copied into the named device or stream when complete
};

}  // namespace tek
