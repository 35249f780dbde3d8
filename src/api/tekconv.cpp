// The library's entry points of one output each: each describes its run as a Job.
#include "tekconv/tekconv.hpp"

#include <memory>

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

std::function<std::optional<std::string>(const std::string& name)> companions_in(
    const std::string& directory) {
  return tek::directory_lookup(directory);
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
