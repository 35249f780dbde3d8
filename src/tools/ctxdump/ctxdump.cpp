#include "tools/ctxdump/ctxdump.hpp"

#include <errno.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tekconv/context_reader.hpp"
#include "tekconv/tekconv.hpp"
#include "tools/ctxdump/json.hpp"

namespace tek {

namespace {

constexpr int STATUS_SOUND = exit_status(CtxdumpStatus::Sound);
constexpr int STATUS_PROBLEMS = exit_status(CtxdumpStatus::Problems);
constexpr int STATUS_UNREADABLE = exit_status(CtxdumpStatus::Unreadable);

constexpr size_t HEX_PER_LINE = 16;

constexpr const char* SYNOPSIS =
    "Usage: ctxdump [-x|--hex] [--json] file.ctx...\n"
    "       ctxdump --verify file.ctx...\n";

// The synopsis, after a wrong command line.
void usage(FILE* f) {
  std::fputs(SYNOPSIS, f);
  std::fputs("ctxdump --help lists the options.\n", f);
}

void help(FILE* f) {
  std::fputs(SYNOPSIS, f);
  std::fputs(
      "Lists the records of context files, one line each, or checks their structure.\n"
      "  -x, --hex   list the data bytes of OBJECT records\n"
      "  --json      list each record as a JSON object on a line of its own\n"
      "  --verify    check the structure of each file and report its problems\n"
      "  -h, --help  this text      --version   the version\n"
      "  --          the arguments after it are files; a file - is standard input\n"
      "Exit status: 0 every file listed whole, or sound; 1 a record that cannot be\n"
      "  read, or problems found by --verify; 2 a file that cannot be read, a wrong\n"
      "  command line, memory running out, or output that cannot be written.\n"
      "Example: ctxdump --verify prog.ctx\n",
      f);
}

void version(FILE* f) {
  std::fprintf(f, "ctxdump %s\ncontext format version %u\n", tekconv::version(),
               tekconv::context_format_version());
}

// Where the listing or report goes. A write that fails (a full disk, a pipe whose reader has
// gone) sets the stream's error flag; its errno is kept, and the run stops there.
class Console {
 public:
  explicit Console(FILE* f) : f_(f) {}
  FILE* file() const { return f_; }
  bool failed() {
    if (error_ == 0 && std::ferror(f_)) error_ = errno != 0 ? errno : EIO;
    return error_ != 0;
  }
  // Writes out what is buffered; false when some output was lost.
  bool flush() {
    if (std::fflush(f_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
    return !failed();
  }
  int error() const { return error_; }

 private:
  FILE* f_;
  int error_ = 0;
};

// The data bytes of an OBJECT, 16 to a line, each line led by the load address of its first byte.
// Each line is formatted in place and written at once: an image holds many thousands of bytes.
void put_hex(FILE* out, const tekconv::ContextRecord& rec) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  const tekconv::ContextField* addr = rec.field("addr");
  const tekconv::ContextField* data = rec.field("data");
  if (!addr || !data) return;
  const std::vector<uint8_t>& bytes = data->bytes;
  char line[16 + HEX_PER_LINE * 3];
  for (size_t at = 0; at < bytes.size(); at += HEX_PER_LINE) {
    int n = std::snprintf(line, sizeof line, "  %08" PRIx32 ":",
                          static_cast<uint32_t>(addr->number + at));
    char* p = line + n;
    for (size_t i = at; i < bytes.size() && i < at + HEX_PER_LINE; ++i) {
      *p++ = ' ';
      *p++ = DIGITS[bytes[i] >> 4];
      *p++ = DIGITS[bytes[i] & 15];
    }
    *p++ = '\n';
    std::fwrite(line, 1, static_cast<size_t>(p - line), out);
  }
}

// How one file is to be handled.
struct Job {
  const std::string& name;
  const CtxdumpOptions& options;
  bool several;  // one of several files: JSON lines name their file
};

// Where a file's reading failed: a line on err and the status. A record that cannot be read
// names its offset.
int report_error(const tekconv::Error& e, const Job& job, Console& out, FILE* err) {
  out.flush();
  switch (e.code()) {
    case tekconv::Error::Code::Malformed:
      std::fprintf(err, "ctxdump: %s: offset %08llx: %s\n", job.name.c_str(),
                   static_cast<unsigned long long>(e.offset().value_or(0)), e.message().c_str());
      return STATUS_PROBLEMS;
    case tekconv::Error::Code::System:
      std::fprintf(err, "ctxdump: %s: cannot read: %s\n", job.name.c_str(),
                   std::strerror(e.system_error()));
      return STATUS_UNREADABLE;
    case tekconv::Error::Code::OutOfMemory:
    case tekconv::Error::Code::Usage:  // not an error of reading
      break;
  }
  std::fprintf(err, "ctxdump: %s: out of memory\n", job.name.c_str());
  return STATUS_UNREADABLE;
}

int list_file(tekconv::ContextReader& reader, const Job& job, Console& out, FILE* err) {
  for (;;) {
    tekconv::Expected<const tekconv::ContextRecord*> next = reader.next();
    if (!next) return report_error(next.error(), job, out, err);
    const tekconv::ContextRecord* rec = *next;
    if (!rec) return STATUS_SOUND;
    if (job.options.json) {
      print_json_record(out.file(), *rec, job.options.hex, job.several ? &job.name : nullptr);
    } else {
      const std::string_view line = reader.listing();
      std::fwrite(line.data(), 1, line.size(), out.file());
      std::fputc('\n', out.file());
      if (job.options.hex && rec->name == "OBJECT") put_hex(out.file(), *rec);
    }
    if (out.failed()) return STATUS_UNREADABLE;
  }
}

int verify_file(tekconv::ContextReader& reader, const Job& job, Console& out, FILE* err) {
  const char* name = job.name.c_str();
  FILE* f = out.file();
  tekconv::Expected<tekconv::ContextVerdict> verdict = tekconv::verify_context(reader);
  if (!verdict) return report_error(verdict.error(), job, out, err);
  const tekconv::ContextVerdict& v = *verdict;
  for (const tekconv::ContextProblem& p : v.problems) print_problem(f, job.name, p);
  const size_t n = v.problems.size();
  const auto size = static_cast<unsigned long long>(v.size);
  if (n == 0)
    std::fprintf(f, "%s: sound: %zu records, %llu bytes", name, v.records, size);
  else
    std::fprintf(f, "%s: %zu problem%s: %zu records, %llu bytes", name, n, n == 1 ? "" : "s",
                 v.records, size);
  if (!v.complete)
    std::fprintf(f, "; reading stopped at offset %08llx, type references not checked",
                 static_cast<unsigned long long>(v.stop_offset));
  std::fputc('\n', f);
  return n == 0 ? STATUS_SOUND : STATUS_PROBLEMS;
}

// Lists or checks the file of a reader. A read that fails and memory running out end the file
// with a message on err.
int dump(tekconv::ContextReader& reader, const Job& job, Console& out, FILE* err) {
  try {
    return job.options.verify ? verify_file(reader, job, out, err)
                              : list_file(reader, job, out, err);
  } catch (const std::bad_alloc&) {
    return report_error({tekconv::Error::Code::OutOfMemory, "out of memory"}, job, out, err);
  }
}

// The file "-" is standard input, read from where it stands and left open.
int dump_path(const Job& job, Console& out, FILE* err) {
  if (job.name == "-") {
    tekconv::ContextReader reader(stdin);
    return dump(reader, job, out, err);
  }
  tekconv::Expected<tekconv::ContextReader> reader = tekconv::ContextReader::open(job.name);
  if (!reader) return report_error(reader.error(), job, out, err);
  return dump(*reader, job, out, err);
}

tekconv::Error wrong(std::string text) {
  return tekconv::Error(tekconv::Error::Code::Usage, std::move(text));
}

}  // namespace

tekconv::Expected<CtxdumpArguments> read_arguments(const std::vector<std::string>& args) {
  CtxdumpArguments a;
  bool options_end = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      a.files.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-x" || arg == "--hex") {
      a.options.hex = true;
    } else if (arg == "--json") {
      a.options.json = true;
    } else if (arg == "--verify") {
      a.options.verify = true;
    } else if (arg == "-h" || arg == "--help") {
      a.request = CtxdumpArguments::Request::Help;
      return a;
    } else if (arg == "--version") {
      a.request = CtxdumpArguments::Request::Version;
      return a;
    } else if (arg.starts_with("--")) {
      return wrong("unrecognized option '" + arg + "'");
    } else {
      return wrong("unknown option " + arg);
    }
  }
  if (a.options.json && a.options.verify)
    return wrong("--json lists records and cannot be used with --verify");
  if (a.files.empty()) return wrong("");
  return a;
}

namespace {

int run(const std::vector<std::string>& args, Console& out, FILE* err) {
  const tekconv::Expected<CtxdumpArguments> arguments = read_arguments(args);
  if (!arguments) {
    if (!arguments.error().message().empty())
      std::fprintf(err, "ctxdump: %s\n", arguments.error().message().c_str());
    usage(err);
    return STATUS_UNREADABLE;
  }
  switch (arguments->request) {
    case CtxdumpArguments::Request::Help:
      help(out.file());
      return STATUS_SOUND;
    case CtxdumpArguments::Request::Version:
      version(out.file());
      return STATUS_SOUND;
    case CtxdumpArguments::Request::Run:
      break;
  }
  const CtxdumpOptions& options = arguments->options;
  const std::vector<std::string>& files = arguments->files;

  int status = STATUS_SOUND;
  const bool several = files.size() > 1;
  for (size_t i = 0; i < files.size() && !out.failed(); ++i) {
    const std::string& name = files[i];
    if (!options.verify && !options.json && several)
      std::fprintf(out.file(), "%s==> %s <==\n", i == 0 ? "" : "\n", name.c_str());
    int s = dump_path({name, options, several}, out, err);
    if (s > status) status = s;
  }
  return status;
}

}  // namespace

int ctxdump_bytes(std::span<const uint8_t> bytes, const std::string& name,
                  const CtxdumpOptions& options, FILE* out, FILE* err) {
  Console console(out);
  tekconv::ContextReader reader(bytes);
  return dump(reader, {name, options, false}, console, err);
}

int ctxdump_main(const std::vector<std::string>& args, FILE* out, FILE* err) {
  Console console(out);
  int status;
  try {
    status = run(args, console, err);
  } catch (const std::bad_alloc&) {
    console.flush();
    std::fputs("ctxdump: out of memory\n", err);
    status = STATUS_UNREADABLE;
  }
  if (!console.flush()) {
    std::fprintf(err, "ctxdump: cannot write the output: %s\n", std::strerror(console.error()));
    return STATUS_UNREADABLE;
  }
  return status;
}

}  // namespace tek
