#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/reader/read_all.hpp"
#include "core/reader/stream.hpp"
#include "core/run.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

namespace {

constexpr const char* SCRATCH_NAME = "selfix.$$$";
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
void store_marks(OutFile& f, const std::vector<uint8_t>& marks) {
  out_flush(f);
  if (::lseek(f.fd, 0, SEEK_SET) != 0) fatal_file_error(ERR_WRITE, f.name);
  out_write(f, marks.data(), marks.size());
  out_flush(f);
}

// Reads the whole input into bytes when it is not a regular file (true then); false for a
// regular file, which each pass opens again. An input that cannot be opened is left to the
// pass, which reports it.
bool read_unless_regular(const std::string& input, std::vector<uint8_t>& bytes) {
  int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const bool whole = read_to_end(fd, bytes);
  ::close(fd);
  if (!whole) fatal_error(ERR_READ);
  return true;
}

}  // namespace

int run_check(Converter& cv, ToolFiles& files, const std::string& input) {
  // The scratch file must never be the input itself.
  if (scratch_is_input(input)) fatal_file_error(ERR_CREATE, SCRATCH_NAME, "it is the input file");
  {
    SignalBlock hold;
    if (!out_open(files.scratch, SCRATCH_NAME, true)) fatal_file_error(ERR_CREATE, SCRATCH_NAME);
    track_output(SCRATCH_NAME);
  }
  // The check reads its input twice: an input that cannot be read again (a pipe, a device) is
  // read once, and both passes read those bytes.
  std::vector<uint8_t> bytes;
  if (read_unless_regular(input, bytes)) cv.rd.source = InputSource{input, true, bytes};
  const bool good = check_type_indices(
      cv, [&](const std::vector<uint8_t>& marks) { store_marks(files.scratch, marks); });
  out_close(files.scratch);
  delete_file(SCRATCH_NAME);
  untrack_outputs();
  if (good) say(cv, "Type index is good\n");
  return 0;
}

}  // namespace tek
