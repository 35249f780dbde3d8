#include "harness.hpp"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>

#include "core/converter.hpp"
#include "tools/ctxdump/ctxdump.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

namespace tekfuzz {

namespace {

constexpr const char* INPUT = "in.abs";
constexpr const char* COMPANION = "main.cpd";
constexpr const char* LEFTOVERS[] = {"in.abs", "in.ctx",     "in.ct$",
                                     "in.cl$", "selfix.$$$", "main.cpd"};

// Moves into a private directory once; every run works there.
void enter_workdir() {
  static bool entered = false;
  if (entered) return;
  std::string tmpl = (std::filesystem::temp_directory_path() / "tekconv-fuzz-XXXXXX").string();
  std::vector<char> t(tmpl.begin(), tmpl.end());
  t.push_back('\0');
  if (!::mkdtemp(t.data()) || ::chdir(t.data()) != 0) ::abort();
  entered = true;
}

void write_bytes(const char* path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

FILE* null_console() {
  static FILE* f = std::fopen("/dev/null", "w");
  return f;
}

std::vector<std::string> arguments(uint8_t selector) {
  std::vector<std::string> args = {"tekconv"};
  const uint8_t mode = selector & 7;
  if (mode == MODE_CHECK) {
    // The check takes its input from the second argument: no option can come between.
    args.push_back("-k");
    args.push_back(INPUT);
    return args;
  }
  if (selector & 0x08) args.push_back("-l");
  if (selector & 0x10) args.push_back("-ps");
  if (selector & 0x20) args.push_back("-m16");
  if (selector & 0x40) args.push_back("-fullpath");
  switch (mode) {
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
      args.push_back("-sg");
      break;
    default:
      break;
  }
  args.push_back(INPUT);
  return args;
}

// Every record the converter writes must read back: the listing reaches the end of the file.
void read_back(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (tek::ctxdump_bytes(bytes, path, {false, true}, null_console(), null_console()) != 0) {
    std::fprintf(stderr, "the context file written by the conversion does not read back\n");
    ::abort();
  }
  tek::ctxdump_bytes(bytes, path, {true, false}, null_console(), null_console());
}

}  // namespace

int run_one(const uint8_t* data, size_t size, bool private_dir) {
  if (private_dir) enter_workdir();
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;
  if (selector & 0x80) {
    size_t len = size >= 2 ? (size_t{data[0]} << 8 | data[1]) : 0;
    size_t skip = size >= 2 ? 2 : size;
    data += skip;
    size -= skip;
    len = std::min(len, size);
    write_bytes(COMPANION, data, len);
    data += len;
    size -= len;
  }
  if ((selector & 7) == MODE_CTXDUMP) {
    const std::span<const uint8_t> bytes(data, size);
    tek::ctxdump_bytes(bytes, INPUT, {false, true}, null_console(), null_console());
    return tek::ctxdump_bytes(bytes, INPUT, {true, false}, null_console(), null_console());
  }
  write_bytes(INPUT, data, size);

  int status;
  {
    auto cv = std::make_unique<tek::Converter>();
    cv->out.console = null_console();
    cv->settings.output_budget = OUTPUT_BUDGET;
    status = tek::tekconv_main(*cv, arguments(selector));
  }
  tek::untrack_outputs();
  if ((selector & 7) == MODE_CONVERT_READ && status == 0) read_back("in.ctx");
  for (const char* name : LEFTOVERS) ::unlink(name);
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
