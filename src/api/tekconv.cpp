// The library's entry points: a converter made for one run, its input and its sink.
#include "tekconv/tekconv.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "core/atomic_output.hpp"
#include "core/converter.hpp"
#include "core/diagnostics.hpp"
#include "core/errors.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/stream.hpp"
#include "core/run.hpp"
#include "core/sinks/context_writer.hpp"
#include "elf/model.hpp"
#include "elf/output.hpp"
#include "elf/convert.hpp"
#include "elf/sink.hpp"
#include "format/elf/file.hpp"

namespace tekconv {

static_assert(
    static_cast<int>(Diagnostic::Severity::Warning) == static_cast<int>(tek::Severity::Warning) &&
    static_cast<int>(Diagnostic::Severity::PassEnd) == static_cast<int>(tek::Severity::PassEnd) &&
    static_cast<int>(Diagnostic::Severity::Error) == static_cast<int>(tek::Severity::Error));

namespace {

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

std::unique_ptr<tek::Converter> make_converter(const Options& o) {
  auto cv = std::make_unique<tek::Converter>();
  cv->settings.default_ptr_size = o.short_pointers ? 0 : 1;
  cv->settings.m16 = o.m16;
  cv->settings.far_all = o.far_functions;
  cv->settings.fullpath = o.full_paths;
  cv->settings.strict = o.strict;
  cv->settings.output_budget = o.output_budget;
  cv->out.console = o.console ? o.console : discard_console();
  cv->comp.lookup = o.companions;
  if (o.diagnostics)
    cv->diag.handler = [report = o.diagnostics](const tek::Diagnostic& d) {
      report(Diagnostic{static_cast<Diagnostic::Severity>(d.severity), d.located, d.offset,
                        d.record, d.text});
    };
  return cv;
}

void use_memory(tek::Converter& cv, std::span<const uint8_t> input) {
  cv.rd.source = tek::InputSource{{}, true, input};
}

// A dump or check in strict mode fails when the input had problems (a conversion stops before
// it completes its output).
int finished(const tek::Converter& cv) {
  return cv.settings.strict && tek::input_had_problems(cv) ? tek::STRICT_STATUS : 0;
}

}  // namespace

const char* version() {
  return "1.18";
}

unsigned context_format_version() {
  return 118;
}

std::function<std::optional<std::string>(const std::string& name)> companions_in(
    const std::string& directory) {
  return tek::directory_lookup(directory);
}

int convert(std::span<const uint8_t> input, std::vector<uint8_t>& context, const Options& options) {
  auto cv = make_converter(options);
  use_memory(*cv, input);
  context.clear();
  std::vector<uint8_t> local, type;
  tek::ContextStreams streams;
  tek::out_open_memory(streams.main, &context);
  tek::out_open_memory(streams.local, &local);
  tek::out_open_memory(streams.type, &type);
  return tek::run_protected(
      *cv,
      [&] {
        tek::convert_into(*cv, streams);
        tek::out_close(streams.main);
        return 0;
      },
      [&] { context.clear(); });
}

int convert_file(const std::string& input_path, const std::string& context_path,
                 const Options& options) {
  auto cv = make_converter(options);
  cv->rd.source = tek::InputSource{input_path, false, {}};
  tek::ContextStreams streams;
  tek::AtomicOutput output;
  const int status = tek::run_protected(
      *cv,
      [&] {
        // A missing input creates nothing.
        if (!tek::open_input(*cv)) tek::fatal_file_error(tek::ERR_OPEN, input_path);
        output.create(context_path, streams.main, true);
        if (!tek::out_open_unnamed(streams.local, context_path) ||
            !tek::out_open_unnamed(streams.type, context_path))
          tek::fatal_error(tek::ERR_CREATE);
        tek::convert_into(*cv, streams);
        tek::out_close(streams.local);
        tek::out_close(streams.type);
        output.commit();
        return 0;
      },
      [&] { output.discard(); });
  for (tek::OutFile* f : {&streams.main, &streams.local, &streams.type}) tek::out_close_quietly(*f);
  return status;
}

int convert_elf_file(const std::string& input_path, const std::string& elf_path,
                     const Options& options) {
  auto cv = make_converter(options);
  cv->rd.source = tek::InputSource{input_path, false, {}};
  tek::OutFile file;
  tek::AtomicOutput output;
  const int status = tek::run_protected(
      *cv,
      [&] {
        if (!tek::open_input(*cv)) tek::fatal_file_error(tek::ERR_OPEN, input_path);
        output.create(elf_path, file, true);
        // The image goes to the file as it is read; the writer reads back what it needs.
        tek::ElfFileOutput out(file);
        tek::ElfSink sink(out, cv->settings.output_budget);
        tek::convert_to_elf(*cv, sink);
        output.commit();
        return 0;
      },
      [&] { output.discard(); });
  tek::out_close_quietly(file);
  return status;
}

int convert_elf(std::span<const uint8_t> input, std::vector<uint8_t>& elf, const Options& options,
                std::vector<std::string>* warnings) {
  auto cv = make_converter(options);
  use_memory(*cv, input);
  elf.clear();
  return tek::run_protected(
      *cv,
      [&] {
        ::elf::MemoryOutput out(elf);
        tek::ElfSink sink(out, cv->settings.output_budget);
        tek::convert_to_elf(*cv, sink);
        if (warnings)
          for (const tek::ElfWarning& w : sink.warnings()) warnings->push_back(w.text);
        return 0;
      },
      [&] { elf.clear(); });
}

int dump(std::span<const uint8_t> input, Dump what, const Options& options) {
  auto cv = make_converter(options);
  use_memory(*cv, input);
  cv->settings.dump_mask = static_cast<uint32_t>(what);
  return tek::run_protected(
      *cv,
      [&] {
        tek::dump_records(*cv);
        return finished(*cv);
      },
      nullptr);
}

int check(std::span<const uint8_t> input, const Options& options) {
  auto cv = make_converter(options);
  use_memory(*cv, input);
  return tek::run_protected(
      *cv,
      [&] {
        if (tek::check_type_indices(*cv, nullptr)) tek::say(*cv, "Type index is good\n");
        return finished(*cv);
      },
      nullptr);
}

}  // namespace tekconv
