#include "tools/ctxdump/ctxdump.hpp"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "format/ctx/ctxfile.hpp"

namespace tek {

namespace {

constexpr int STATUS_SOUND = 0;
constexpr int STATUS_PROBLEMS = 1;
constexpr int STATUS_UNREADABLE = 2;

constexpr size_t HEX_PER_LINE = 16;

void usage(FILE* f) {
  std::fputs(
      "Usage: ctxdump [-x|--hex] file.ctx...\n"
      "       ctxdump --verify file.ctx...\n"
      "  -x, --hex   list the data bytes of OBJECT records\n"
      "  --verify    check the structure of each file and report its problems\n",
      f);
}

// The dump printer begins every line with "\n"; a listing ends every line with one instead.
// Each record is printed into a memory stream and copied out without its first character.
class LineBuffer {
 public:
  LineBuffer() : f_(::open_memstream(&data_, &size_)) {}
  ~LineBuffer() {
    if (f_) std::fclose(f_);
    std::free(data_);
  }
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;

  bool ok() const { return f_ != nullptr; }

  void put(FILE* out, const CtxRecord& rec) {
    std::rewind(f_);
    print_record(f_, rec);
    std::fflush(f_);
    long n = std::ftell(f_);
    if (n > 1) std::fwrite(data_ + 1, 1, static_cast<size_t>(n - 1), out);
    std::fputc('\n', out);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* f_;
};

// The data bytes of an OBJECT, 16 to a line, each line led by the load address of its first byte.
void put_hex(FILE* out, const ObjectValue& v) {
  for (size_t at = 0; at < v.data.size(); at += HEX_PER_LINE) {
    std::fprintf(out, "  %08" PRIx32 ":", static_cast<uint32_t>(v.addr + at));
    for (size_t i = at; i < v.data.size() && i < at + HEX_PER_LINE; ++i)
      std::fprintf(out, " %02x", v.data[i]);
    std::fputc('\n', out);
  }
}

int list_file(std::span<const uint8_t> bytes, const std::string& name,
              const CtxdumpOptions& options, FILE* out, FILE* err) {
  LineBuffer line;
  if (!line.ok()) {
    std::fprintf(err, "ctxdump: %s: out of memory\n", name.c_str());
    return STATUS_UNREADABLE;
  }
  CtxReader reader{bytes};
  CtxRecord rec;
  CtxStep step;
  while ((step = read_record(reader, rec)) == CtxStep::Record) {
    line.put(out, rec);
    if (options.hex && rec.tag == TAG_OBJECT) put_hex(out, rec.object);
  }
  if (step == CtxStep::End) return STATUS_SOUND;
  CtxProblem p = framing_problem(step, rec, bytes.size());
  std::fflush(out);
  std::fprintf(err, "ctxdump: %s: offset %08zx: %s\n", name.c_str(), p.offset, p.text.c_str());
  return STATUS_PROBLEMS;
}

int verify_file(std::span<const uint8_t> bytes, const std::string& name, FILE* out) {
  CtxVerdict v = verify_ctx(bytes);
  for (const CtxProblem& p : v.problems)
    std::fprintf(out, "%s: offset %08zx: %s\n", name.c_str(), p.offset, p.text.c_str());
  const size_t n = v.problems.size();
  if (n == 0)
    std::fprintf(out, "%s: sound: %zu records, %zu bytes", name.c_str(), v.records, bytes.size());
  else
    std::fprintf(out, "%s: %zu problem%s: %zu records, %zu bytes", name.c_str(), n,
                 n == 1 ? "" : "s", v.records, bytes.size());
  if (!v.complete)
    std::fprintf(out, "; reading stopped at offset %08zx, type references not checked",
                 v.stop_offset);
  std::fputc('\n', out);
  return n == 0 ? STATUS_SOUND : STATUS_PROBLEMS;
}

// Reads a whole file; false with errno set when it cannot be read (a directory included).
bool read_whole(const std::string& path, std::vector<uint8_t>& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  uint8_t buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return false;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return true;
}

}  // namespace

int ctxdump_bytes(std::span<const uint8_t> bytes, const std::string& name,
                  const CtxdumpOptions& options, FILE* out, FILE* err) {
  return options.verify ? verify_file(bytes, name, out) : list_file(bytes, name, options, out, err);
}

int ctxdump_main(const std::vector<std::string>& args, FILE* out, FILE* err) {
  CtxdumpOptions options;
  std::vector<std::string> files;
  bool options_end = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      files.push_back(a);
    } else if (a == "--") {
      options_end = true;
    } else if (a == "-x" || a == "--hex") {
      options.hex = true;
    } else if (a == "--verify") {
      options.verify = true;
    } else if (a == "-h" || a == "--help") {
      usage(out);
      return STATUS_SOUND;
    } else {
      std::fprintf(err, "ctxdump: unknown option %s\n", a.c_str());
      usage(err);
      return STATUS_UNREADABLE;
    }
  }
  if (files.empty()) {
    usage(err);
    return STATUS_UNREADABLE;
  }

  int status = STATUS_SOUND;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& name = files[i];
    if (!options.verify && files.size() > 1)
      std::fprintf(out, "%s==> %s <==\n", i == 0 ? "" : "\n", name.c_str());
    if (!read_whole(name, bytes)) {
      int e = errno;
      std::fflush(out);
      std::fprintf(err, "ctxdump: %s: cannot read: %s\n", name.c_str(), std::strerror(e));
      status = STATUS_UNREADABLE;
      continue;
    }
    int s = ctxdump_bytes(bytes, name, options, out, err);
    if (s > status) status = s;
  }
  std::fflush(out);
  return status;
}

}  // namespace tek
