// The library's entry points of one output each: each describes its run as a Job.
#include "tekconv/tekconv.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "api/job.hpp"
#include "core/reader/companion.hpp"

namespace tekconv {

namespace {

Job job_of(Mode mode, Source input, Target target, const Options& options) {
  Job job;
  job.mode = mode;
  job.input = std::move(input);
  job.target = std::move(target);
  job.options = options;
  return job;
}

}  // namespace

const char* version() {
  return "1.18";
}

unsigned context_format_version() {
  return 118;
}

CompanionLookup companions_in(const std::string& directory) {
  return tek::directory_lookup(directory);
}

Expected<CompanionLookup> companion_directory(const std::string& directory) {
  try {
    struct stat st;
    if (::stat(directory.c_str(), &st) != 0) {
      const int e = errno;
      return Error(Error::Code::System, "cannot use " + directory + ": " + std::strerror(e),
                   std::nullopt, e);
    }
    if (!S_ISDIR(st.st_mode))
      return Error(Error::Code::System, "cannot use " + directory + ": " + std::strerror(ENOTDIR),
                   std::nullopt, ENOTDIR);
    return companions_in(directory);
  } catch (const std::bad_alloc&) {
    return Error(Error::Code::OutOfMemory, "out of memory");
  }
}

int convert(std::span<const uint8_t> input, std::vector<uint8_t>& context, const Options& options) {
  return exit_status(
      run(job_of(Mode::Convert, Source::memory(input), Target::memory(context), options)));
}

int convert_file(const std::string& input_path, const std::string& context_path,
                 const Options& options) {
  return exit_status(
      run(job_of(Mode::Convert, Source::file(input_path), Target::file(context_path), options)));
}

int convert_elf(std::span<const uint8_t> input, std::vector<uint8_t>& elf, const Options& options,
                std::vector<std::string>* warnings) {
  Job job = job_of(Mode::Convert, Source::memory(input), Target::memory(elf), options);
  job.output = Output::Elf;
  auto cv = std::make_unique<tek::Converter>();
  return exit_status(detail::run(job, *cv, warnings));
}

int convert_elf_file(const std::string& input_path, const std::string& elf_path,
                     const Options& options) {
  Job job = job_of(Mode::Convert, Source::file(input_path), Target::file(elf_path), options);
  job.output = Output::Elf;
  return exit_status(run(job));
}

int dump(std::span<const uint8_t> input, Dump what, const Options& options) {
  Job job = job_of(Mode::Dump, Source::memory(input), Target{}, options);
  job.dump = what;
  return exit_status(run(job));
}

int check(std::span<const uint8_t> input, const Options& options) {
  return exit_status(run(job_of(Mode::Check, Source::memory(input), Target{}, options)));
}

}  // namespace tekconv
