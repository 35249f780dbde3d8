#include "core/typecheck.hpp"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <memory>
#include <new>

#include "core/converter.hpp"
#include "core/fatal.hpp"
#include "tools/tekconv/paths.hpp"
#include "core/run.hpp"
#include "tools/tekconv/signals.hpp"

namespace tek {

namespace {

constexpr size_t SCAN_BUFFER_SIZE = 1 << 16;
constexpr int MAX_LINK_HOPS = 40;

namespace fs = std::filesystem;

// The file a path leads to, whether or not it exists yet: symbolic links at its end are followed
// as far as they go (a dangling link leads to the file that opening it would create), the rest
// is made absolute and normalised.
fs::path destination(const fs::path& path) {
  std::error_code ec;
  fs::path p = path;
  for (int hops = 0; hops < MAX_LINK_HOPS; ++hops) {
    if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
    fs::path target = fs::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  fs::path full = fs::absolute(p, ec);
  if (ec) return p.lexically_normal();
  fs::path resolved = fs::weakly_canonical(full, ec);
  return ec ? full.lexically_normal() : resolved;
}

// True when creating the scratch file would create or truncate the input: the same path, the
// same existing file under another name or link, or, for an input that does not exist yet, the
// place where the scratch file would be created.
bool scratch_is_input(const std::string& input) {
  if (same_file(SCRATCH_NAME, input)) return true;
  if (input.empty()) return false;
  return destination(SCRATCH_NAME) == destination(input);
}

// Writes the marks over the scratch file from its start.
void store_marks(Converter& cv) {
  OutFile& f = cv.out.main;
  out_flush(cv, f);
  if (::lseek(f.fd, 0, SEEK_SET) != 0) fatal_error(cv, ERR_WRITE);
  const auto& marks = cv.check.marks;
  for (size_t at = 0; at < marks.size(); at += SCAN_BUFFER_SIZE)
    out_write(cv, f, marks.data() + at, std::min(SCAN_BUFFER_SIZE, marks.size() - at));
  out_flush(cv, f);
}

// Reports every type index defined in the first pass and never referenced in the second, read
// back from the scratch file.
void report_unreferenced(Converter& cv) {
  OutFile& f = cv.out.main;
  off_t length = ::lseek(f.fd, 0, SEEK_END);
  if (length < 0 || ::lseek(f.fd, 0, SEEK_SET) != 0) fatal_error(cv, ERR_SEEK);
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[SCAN_BUFFER_SIZE]);
  if (!buf) fatal_error(cv, ERR_MEMORY);
  uint64_t offset = 0;
  while (offset < static_cast<uint64_t>(length)) {
    ssize_t r = ::read(f.fd, buf.get(), SCAN_BUFFER_SIZE);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) fatal_error(cv, ERR_READ);
    if (r == 0) break;
    for (ssize_t i = 0; i < r; ++i, ++offset)
      if (buf[static_cast<size_t>(i)] == MARK_DEFINED)
        say(cv, "No reference self index %08" PRIx64 "\n", offset);
  }
}

}  // namespace

void mark_selfix(Converter& cv, uint32_t selfix) {
  auto& marks = cv.check.marks;
  try {
    if (selfix >= marks.size()) marks.resize(static_cast<size_t>(selfix) + 1, MARK_NONE);
  } catch (const std::bad_alloc&) {
    fatal_error(cv, ERR_MEMORY);
  }
  marks[selfix] = MARK_DEFINED;
}

void check_typeix(Converter& cv, uint32_t typeix) {
  if (cv.settings.check_pass == 1) return;
  auto& marks = cv.check.marks;
  // A negative offset or one past the end of the scratch file finds no definition.
  const bool in_file = static_cast<int32_t>(typeix) >= 0 && typeix < marks.size();
  const uint8_t mark = in_file ? marks[typeix] : uint8_t{MARK_NONE};
  if (mark == MARK_NONE) {
    say(cv, "Unsolved typeix %08" PRIx32 "\n", typeix);
    cv.settings.unsolved = 1;
  } else if (mark == MARK_DEFINED) {
    marks[typeix] = MARK_REFERENCED;
  }
}

int run_check(Converter& cv, const std::string& input) {
  cv.settings.check_pass = 1;
  // The scratch file must never be the input itself.
  if (scratch_is_input(input)) fatal_error(cv, ERR_CREATE);
  {
    SignalBlock hold;
    if (!out_open(cv.out.main, SCRATCH_NAME, true)) fatal_error(cv, ERR_CREATE);
    track_output(SCRATCH_NAME);
  }
  cv.check.marks.clear();

  run_pass(cv, input);
  store_marks(cv);

  cv.settings.check_pass = 2;
  run_pass(cv, input);
  store_marks(cv);

  report_unreferenced(cv);
  out_close(cv, cv.out.main);
  delete_file(SCRATCH_NAME);
  untrack_outputs();
  if (!cv.settings.unsolved) say(cv, "Type index is good\n");
  return 0;
}

}  // namespace tek
