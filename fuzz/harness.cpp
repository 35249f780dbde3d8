#include "harness.hpp"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <span>

#ifdef TEKCONV_HAVE_DWCHECK
#include "dwcheck/dwcheck.hpp"
#endif
#include "tekconv/tekconv.hpp"
#include "tools/ctxdump/ctxdump.hpp"
#include "tools/tekconv/tool.hpp"

namespace tekfuzz {

namespace {

// A stream that drops what is written to it without a system call, with a buffer large enough
// that the listings of one run rarely flush it.
FILE* null_console() {
  static FILE* f = [] {
    cookie_io_functions_t drop{};
    drop.write = [](void*, const char*, size_t n) -> ssize_t { return static_cast<ssize_t>(n); };
    FILE* s = ::fopencookie(nullptr, "w", drop);
    if (s) std::setvbuf(s, nullptr, _IOFBF, 1 << 16);
    return s;
  }();
  return f;
}

// An input taken apart.
struct Parts {
  uint8_t selector = 0;
  bool has_companion = false;
  std::string companion;
  std::span<const uint8_t> object;
};

Parts split(const uint8_t* data, size_t size) {
  Parts p;
  p.selector = data[0];
  ++data;
  --size;
  if (p.selector & 0x80) {
    size_t len = size >= 2 ? (size_t{data[0]} << 8 | data[1]) : 0;
    size_t skip = size >= 2 ? 2 : size;
    data += skip;
    size -= skip;
    len = std::min(len, size);
    p.has_companion = true;
    p.companion.assign(reinterpret_cast<const char*>(data), len);
    data += len;
    size -= len;
  }
  p.object = {data, size};
  return p;
}

tekconv::Options options_of(const Parts& p) {
  tekconv::Options o;
  o.far_functions = p.selector & 0x08;
  o.short_pointers = p.selector & 0x10;
  o.m16 = p.selector & 0x20;
  o.full_paths = p.selector & 0x40;
  o.console = null_console();
  o.output_budget = OUTPUT_BUDGET;
  // A problem is placed at a record of the input, or at its end when it was cut short.
  o.diagnostics = [size = p.object.size()](const tekconv::Diagnostic& d) {
    if (d.located && d.offset > size) {
      std::fprintf(stderr, "a diagnostic at offset 0x%llx, past the input's %zu bytes: %s\n",
                   static_cast<unsigned long long>(d.offset), size, d.text.c_str());
      ::abort();
    }
  };
  if (p.has_companion) {
    o.companions = [text = p.companion](const std::string& name) -> std::optional<std::string> {
      if (name == "main.cpd") return text;
      return std::nullopt;
    };
  }
  return o;
}

// Every record the converter writes must read back: the listing reaches the end of the file.
// With verify, the file's structure is checked too.
void read_back(std::span<const uint8_t> bytes, const char* name, bool verify) {
  if (tek::ctxdump_bytes(bytes, name, {false, true}, null_console(), null_console()) != 0) {
    std::fprintf(stderr, "the context file written by the conversion does not read back\n");
    ::abort();
  }
  if (verify) tek::ctxdump_bytes(bytes, name, {true, false}, null_console(), null_console());
}

// Every ELF file the converter writes must read back through libdw without a problem: its units,
// DIEs, references, type chains and line tables (tools/dwcheck).
void check_elf(std::span<const uint8_t> elf) {
#ifdef TEKCONV_HAVE_DWCHECK
  const std::vector<std::string> problems = dwcheck::problems(elf);
  if (problems.empty()) return;
  for (const std::string& p : problems) std::fprintf(stderr, "ELF output: %s\n", p.c_str());
  ::abort();
#else
  (void)elf;
#endif
}

std::vector<std::string> arguments(uint8_t selector, const std::string& input) {
  std::vector<std::string> args = {"tekconv"};
  if (selector & 0x08) args.push_back("-l");
  if (selector & 0x10) args.push_back("-ps");
  if (selector & 0x20) args.push_back("-m16");
  if (selector & 0x40) args.push_back("-fullpath");
  switch (selector & 7) {
    case MODE_DUMP_ALL:
      args.push_back("-s");
      break;
    case MODE_DUMP_FILES:
      args.push_back("-sf");
      break;
    case MODE_DUMP_TYPES:
      args.push_back("-st");
      break;
    case MODE_DUMP_PUBLICS:
      args.push_back(selector & 0x40 ? (selector & 0x08 ? "-sl" : "-ss") : "-sg");
      break;
    default:
      break;
  }
  args.push_back(input);
  return args;
}

void write_bytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int run_one(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Parts p = split(data, size);
  const tekconv::Options o = options_of(p);
  switch (p.selector & 7) {
    case MODE_CONVERT:
    case MODE_CONVERT_READ: {
      std::vector<uint8_t> context;
      const int status = tekconv::convert(p.object, context, o);
      const bool full = (p.selector & 7) == MODE_CONVERT_READ;
      if (status == 0) read_back(context, "in.ctx", full);
      if (full) {
        std::vector<uint8_t> elf;
        if (tekconv::convert_elf(p.object, elf, o) == 0 && !elf.empty()) check_elf(elf);
      }
      return status;
    }
    case MODE_DUMP_ALL:
      return tekconv::dump(p.object, tekconv::Dump::All, o);
    case MODE_CHECK:
      return tekconv::check(p.object, o);
    case MODE_DUMP_FILES:
      return tekconv::dump(p.object, tekconv::Dump::Files, o);
    case MODE_DUMP_TYPES:
      return tekconv::dump(p.object, tekconv::Dump::Types, o);
    case MODE_DUMP_PUBLICS:
      // -fullpath changes nothing these listings show: its bit picks the scope listings.
      if (p.selector & 0x40)
        return tekconv::dump(p.object,
                             p.selector & 0x08 ? tekconv::Dump::Locals : tekconv::Dump::Scopes, o);
      return tekconv::dump(p.object, tekconv::Dump::Publics, o);
    default:  // MODE_CTXDUMP
      tek::ctxdump_bytes(p.object, "in.ctx", {false, true}, null_console(), null_console());
      return tek::ctxdump_bytes(p.object, "in.ctx", {true, false}, null_console(), null_console());
  }
}

int run_cli_one(const uint8_t* data, size_t size, const std::string& dir) {
  if (size == 0) return 0;
  const Parts p = split(data, size);
  const uint8_t mode = p.selector & 7;
  if (mode == MODE_CHECK || mode == MODE_CTXDUMP) return run_one(data, size);
  const std::string input = dir + "/in.abs";
  write_bytes(input, p.object);
  int status;
  status =
      tek::tekconv_main(arguments(p.selector, input), null_console(), [](const tekconv::Job& job) {
        tekconv::Job bounded = job;
        bounded.options.output_budget = OUTPUT_BUDGET;
        return tekconv::run(bounded);
      });
  const std::string ctx = dir + "/in.ctx";
  if ((mode == MODE_CONVERT || mode == MODE_CONVERT_READ) && status == 0)
    read_back(file_bytes(ctx), ctx.c_str(), true);
  for (const char* name : {"in.abs", "in.ctx", "in.ct$", "in.cl$"})
    ::unlink((dir + "/" + name).c_str());
  return status;
}

std::vector<uint8_t> make_input(uint8_t selector, const std::vector<uint8_t>& object,
                                const std::string& companion) {
  std::vector<uint8_t> in;
  in.push_back(static_cast<uint8_t>(companion.empty() ? selector & 0x7F : selector | 0x80));
  if (!companion.empty()) {
    in.push_back(static_cast<uint8_t>(companion.size() >> 8));
    in.push_back(static_cast<uint8_t>(companion.size()));
    in.insert(in.end(), companion.begin(), companion.end());
  }
  in.insert(in.end(), object.begin(), object.end());
  return in;
}

}  // namespace tekfuzz
