// One run of the converter as a Job describes it: the input source, the run mode, the files it
// creates and removes, the top of the run where fatal errors end up.
#include "core/run.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "api/job.hpp"
#include "core/atomic_output.hpp"
#include "core/errors.hpp"
#include "core/reader/read_all.hpp"
#include "core/record_reader.hpp"
#include "core/sinks/context_writer.hpp"
#include "elf/convert.hpp"
#include "elf/model.hpp"
#include "elf/output.hpp"
#include "elf/sink.hpp"
#include "format/elf/file.hpp"

namespace tekconv {

static_assert(
    static_cast<int>(Diagnostic::Severity::Warning) == static_cast<int>(tek::Severity::Warning) &&
    static_cast<int>(Diagnostic::Severity::PassEnd) == static_cast<int>(tek::Severity::PassEnd) &&
    static_cast<int>(Diagnostic::Severity::Error) == static_cast<int>(tek::Severity::Error));
static_assert(exit_status(Status::Fatal) == tek::FATAL_STATUS &&
              exit_status(Status::UndefinedType) == tek::UNDEFINED_TYPE_STATUS &&
              exit_status(Status::Strict) == tek::STRICT_STATUS &&
              exit_status(Status::Abandoned) == tek::BUDGET_STATUS);

namespace {

namespace fs = std::filesystem;

constexpr const char* STANDARD_INPUT = "/dev/stdin";
constexpr int MAX_LINK_HOPS = 40;

// The console of a caller that wants no console text: a stream that drops what is written to
// it, without a system call.
FILE* discard_console() {
  static FILE* f = [] {
    cookie_io_functions_t drop{};
    drop.write = [](void*, const char*, size_t n) -> ssize_t { return static_cast<ssize_t>(n); };
    FILE* s = ::fopencookie(nullptr, "w", drop);
    if (s) std::setvbuf(s, nullptr, _IOFBF, 1 << 16);
    return s;
  }();
  return f;
}

// The caller's TemporaryFiles as the core's watch of temporary files.
class Watch : public tek::TemporaryWatch {
 public:
  explicit Watch(TemporaryFiles& files) : files_(files) {}
  void hold() override { files_.hold(); }
  void release() override { files_.release(); }
  void track(const std::string& path) override { files_.track(path); }
  void untrack(const std::string& path) override { files_.untrack(path); }

 private:
  TemporaryFiles& files_;
};

// Holds back whatever removes temporaries while it lives.
struct Held {
  tek::TemporaryWatch* w;
  explicit Held(tek::TemporaryWatch* watch) : w(watch) {
    if (w) w->hold();
  }
  ~Held() {
    if (w) w->release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
};

// The files a run creates: the output file under its temporary name until it is complete, the
// type and local streams in unnamed files, the check's scratch file. Whatever ends a run early,
// only the temporary of the output is removed; an earlier output file stays as it was.
struct RunFiles {
  tek::TemporaryWatch* watch;
  tek::ContextStreams streams;
  tek::AtomicOutput output{watch};  // written through streams.main
  tek::OutFile scratch;
  std::string scratch_name;  // while it is tracked

  explicit RunFiles(tek::TemporaryWatch* w) : watch(w) {}
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;
  ~RunFiles() {
    tek::out_discard(streams.type);
    tek::out_discard(streams.local);
    tek::out_close_quietly(scratch);
    output.discard();
    forget_scratch();
  }
  // After a fatal error: closes without writing and removes the output's temporary; a scratch
  // file stays where it is.
  void remove_all() {
    tek::out_discard(streams.type);
    tek::out_discard(streams.local);
    tek::out_discard(scratch);
    output.discard();
    forget_scratch();
  }
  void forget_scratch() {
    if (watch && !scratch_name.empty()) watch->untrack(scratch_name);
    scratch_name.clear();
  }
};

// The converter never overwrites its own input: true when both paths are equal as given, or
// name the same existing file.
bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Replaces everything from the last '.' of the whole path by ext, or appends ext.
std::string replace_extension(const std::string& path, const char* ext) {
  const size_t dot = path.rfind('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

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
bool scratch_is_input(const std::string& scratch, const std::string& input) {
  if (same_file(scratch, input)) return true;
  if (input.empty()) return false;
  return destination(scratch) == destination(input);
}

// Writes the marks over the scratch file from its start.
void store_marks(tek::OutFile& f, const std::vector<uint8_t>& marks) {
  tek::out_flush(f);
  if (::lseek(f.fd, 0, SEEK_SET) != 0) tek::fatal_file_error(tek::ERR_WRITE, f.name);
  tek::out_write(f, marks.data(), marks.size());
  tek::out_flush(f);
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
  const bool whole = tek::read_to_end(fd, bytes);
  ::close(fd);
  if (!whole) tek::fatal_error(tek::ERR_READ);
  return true;
}

// A dump or check in strict mode fails when the input had problems (a conversion stops before
// it completes its output).
int finished(const tek::Converter& cv) {
  return cv.settings.strict && tek::input_had_problems(cv) ? tek::STRICT_STATUS : 0;
}

// The path each pass opens; empty for an input in memory.
std::string input_path(const Source& s) {
  switch (s.kind) {
    case Source::Kind::File:
      return s.path;
    case Source::Kind::StandardInput:
      // Read through its name, so that each pass of the check may open it.
      return STANDARD_INPUT;
    case Source::Kind::Memory:
      break;
  }
  return std::string();
}

int convert(tek::Converter& cv, const Job& job, RunFiles& files,
            std::vector<std::string>* elf_warnings) {
  const std::string input = input_path(job.input);
  const bool to_memory = job.target.kind == Target::Kind::Memory;
  const std::string name = output_path(job);
  if (to_memory && !job.target.bytes) tek::fatal_error(tek::ERR_CREATE);
  if (!to_memory) {
    // Only a file input has a name to put the output beside.
    if (name.empty()) tek::fatal_file_error(tek::ERR_CREATE, name, "no output file is named");
    if (same_file(name, input))
      tek::fatal_file_error(tek::ERR_CREATE, name, "it is the input file");
  }
  // A missing input creates nothing.
  const bool from_memory = job.input.kind == Source::Kind::Memory;
  if (!from_memory) {
    if (const tek::SysResult opened = cv.rd.open(); !opened)
      tek::fatal_file_error(tek::ERR_OPEN, input, opened);
  }
  const bool named = job.target.kind != Target::Kind::BesideInput;
  tek::ContextStreams& s = files.streams;

  if (job.output == Output::Elf) {
    auto write = [&](::elf::Output& out) {
      tek::ElfSink sink(out, cv.settings.output_budget);
      tek::convert_to_elf(cv, sink);
      if (elf_warnings)
        for (const tek::ElfWarning& w : sink.warnings()) elf_warnings->push_back(w.text);
    };
    if (to_memory) {
      ::elf::MemoryOutput out(*job.target.bytes);
      write(out);
      tek::check_console(cv);
      return 0;
    }
    files.output.create(name, s.main, named);
    // The image goes to the file as it is read; the writer reads back what it needs.
    tek::ElfFileOutput out(s.main);
    write(out);
  } else {
    std::vector<uint8_t> local, type;
    if (to_memory) {
      tek::out_open_memory(s.main, job.target.bytes);
      tek::out_open_memory(s.local, &local);
      tek::out_open_memory(s.type, &type);
    } else {
      files.output.create(name, s.main, named);
      tek::SysResult made = tek::out_open_unnamed(s.type, name);
      if (made) made = tek::out_open_unnamed(s.local, name);
      if (!made) tek::fatal_file_error(tek::ERR_CREATE, name, made);
    }
    tek::convert_into(cv, s);
    if (to_memory) {
      tek::out_close(s.main);
      tek::check_console(cv);
      return 0;
    }
    tek::out_close(s.local);
    tek::out_close(s.type);
  }
  // A console that could not be written fails the run before the file takes its name.
  tek::check_console(cv);
  files.output.commit();
  return 0;
}

int check(tek::Converter& cv, const Job& job, RunFiles& files) {
  const std::string input = input_path(job.input);
  const std::string& scratch = job.check_scratch;
  const bool from_memory = job.input.kind == Source::Kind::Memory;
  const bool keep_marks = !from_memory && !scratch.empty();
  if (keep_marks) {
    // The scratch file must never be the input itself.
    if (scratch_is_input(scratch, input))
      tek::fatal_file_error(tek::ERR_CREATE, scratch, "it is the input file");
    Held held(files.watch);
    if (const tek::SysResult made = tek::out_open(files.scratch, scratch.c_str(), true); !made)
      tek::fatal_file_error(tek::ERR_CREATE, scratch, made);
    files.scratch_name = scratch;
    if (files.watch) files.watch->track(scratch);
  }
  // The check reads its input twice: an input that cannot be read again (a pipe, a device) is
  // read once, and both passes read those bytes.
  std::vector<uint8_t> bytes;
  if (!from_memory && read_unless_regular(input, bytes))
    cv.rd.source = tek::InputSource{input, true, bytes};
  std::function<void(const std::vector<uint8_t>&)> store;
  if (keep_marks)
    store = [&](const std::vector<uint8_t>& marks) { store_marks(files.scratch, marks); };
  const bool good = tek::check_type_indices(cv, store);
  if (keep_marks) {
    tek::out_close(files.scratch);
    ::unlink(scratch.c_str());
    files.forget_scratch();
  }
  if (good) tek::say(cv, "Type index is good\n");
  tek::check_console(cv);  // a report that could not be written fails the run
  return finished(cv);
}

}  // namespace

std::string output_path(const Job& job) {
  switch (job.target.kind) {
    case Target::Kind::BesideInput:
      if (job.input.kind != Source::Kind::File) return std::string();
      return replace_extension(job.input.path, job.output == Output::Elf ? ".elf" : ".ctx");
    case Target::Kind::File:
      return job.target.path;
    case Target::Kind::StandardOutput:
      return tek::STANDARD_STREAM;
    case Target::Kind::Memory:
      break;
  }
  return std::string();
}

Status run(const Job& job) {
  auto cv = std::make_unique<tek::Converter>();
  return detail::run(job, *cv);
}

namespace detail {

void configure(tek::Converter& cv, const Options& o) {
  cv.settings.default_ptr_size = o.short_pointers ? 0 : 1;
  cv.settings.m16 = o.m16;
  cv.settings.far_all = o.far_functions;
  cv.settings.fullpath = o.full_paths;
  cv.settings.strict = o.strict;
  cv.settings.output_budget = o.output_budget;
  cv.settings.dump_mask = 0;
  cv.out.console = o.console ? o.console : discard_console();
  cv.comp.lookup = o.companions;
  cv.diag.handler = nullptr;
  if (o.diagnostics)
    cv.diag.handler = [report = o.diagnostics](const tek::Diagnostic& d) {
      report(Diagnostic{static_cast<Diagnostic::Severity>(d.severity), d.located, d.offset,
                        d.record, d.text});
    };
}

Status run(const Job& job, tek::Converter& cv, std::vector<std::string>* elf_warnings) {
  configure(cv, job.options);
  const std::string input = input_path(job.input);
  cv.rd.source = job.input.kind == Source::Kind::Memory
                     ? tek::InputSource{{}, true, job.input.bytes}
                     : tek::InputSource{input, false, {}};
  std::optional<Watch> watch;
  if (job.options.temporaries) watch.emplace(*job.options.temporaries);
  RunFiles files(watch ? &*watch : nullptr);
  std::vector<uint8_t>* memory =
      job.mode == Mode::Convert && job.target.kind == Target::Kind::Memory ? job.target.bytes
                                                                           : nullptr;
  if (memory) memory->clear();
  // The listing, the check's report and the messages go to the console; the output file only
  // to its target.
  const int status = tek::run_protected(
      cv,
      [&] {
        switch (job.mode) {
          case Mode::Convert:
            return convert(cv, job, files, elf_warnings);
          case Mode::Dump:
            cv.settings.dump_mask = static_cast<uint32_t>(job.dump);
            tek::dump_records(cv);
            tek::check_console(cv);  // a listing that could not be written fails the run
            return finished(cv);
          case Mode::Check:
            return check(cv, job, files);
        }
        return 0;
      },
      [&] {
        files.remove_all();
        if (memory) memory->clear();
      });
  cv.diag.handler = nullptr;  // it refers to the caller's options
  return static_cast<Status>(status);
}

}  // namespace detail

}  // namespace tekconv
