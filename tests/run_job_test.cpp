// tekconv::run(Job): the one run path. For every mode, output kind, source and target it gives
// the bytes, console text and status that the tekconv command gives for the same run; the
// command adds only its banner and its "Created" line.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "sample_programs.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"

using namespace tektest;
using tekconv::Dump;
using tekconv::Job;
using tekconv::Mode;
using tekconv::Output;
using tekconv::Source;
using tekconv::Status;
using tekconv::Target;

namespace {

class RunJobTest : public TempDirTest {};

// What a run printed on the console, and its status.
struct Ran {
  Status status = Status::Done;
  std::string text;
};

Ran run_job(Job job) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  job.options.console = console;
  Ran r;
  r.status = tekconv::run(job);
  std::fclose(console);
  r.text.assign(text, size);
  std::free(text);
  return r;
}

// What call wrote on file descriptor fd (1: standard output), which goes to a file meanwhile.
std::string written_to(int fd, const std::function<void()>& call) {
  std::fflush(stdout);
  const int saved = ::dup(fd);
  const int file = ::open("captured.out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(file, fd);
  ::close(file);
  call();
  std::fflush(stdout);
  ::dup2(saved, fd);
  ::close(saved);
  const std::string bytes = read_file("captured.out");
  std::remove("captured.out");
  return bytes;
}

// Runs call with standard input read from the file path.
void reading(const std::string& path, const std::function<void()>& call) {
  const int saved = ::dup(0);
  const int file = ::open(path.c_str(), O_RDONLY);
  ::dup2(file, 0);
  ::close(file);
  call();
  ::dup2(saved, 0);
  ::close(saved);
}

Job job_of(Mode mode, Source input, Target target = {}) {
  Job job;
  job.mode = mode;
  job.input = std::move(input);
  job.target = std::move(target);
  job.options.companions = tekconv::companions_in("");
  return job;
}

const struct {
  const char* option;
  Dump what;
} DUMPS[] = {{"-s", Dump::All},      {"-sf", Dump::Files},  {"-st", Dump::Types},
             {"-sg", Dump::Publics}, {"-ss", Dump::Scopes}, {"-sl", Dump::Locals}};

// An input with a warning: a symbol in a section that its unit does not define.
tekrec::Builder warned() {
  tekrec::Builder b = program();
  b.symbol(sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(2, 1, 0, 4)));
  b.dpt(7).end();
  return b;
}

TEST_F(RunJobTest, EveryModeAndOutputEqualsTheCommandLine) {
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    SCOPED_TRACE(sample.name);
    sample.object.write("in.abs");
    write_file("main.cpd", sample.companion);
    const Bytes input = file_bytes("in.abs");
    for (const auto& [format, output] : {std::pair{"ctx", Output::Context}, {"elf", Output::Elf}}) {
      SCOPED_TRACE(format);
      const std::string name = std::string("in.") + format;
      const RunResult cli = run_tekconv({"-O", format, "in.abs"});
      const std::string cli_file = read_file(name);
      const std::string created = cli.status == 0 ? "Created " + name + "\n" : "";
      std::remove(name.c_str());

      // Beside the input, as the command names it.
      Job job = job_of(Mode::Convert, Source::file("in.abs"));
      job.output = output;
      EXPECT_EQ(tekconv::output_path(job), name);
      Ran lib = run_job(job);
      EXPECT_EQ(tekconv::exit_status(lib.status), cli.status);
      EXPECT_EQ(cli.body(), lib.text + created);
      EXPECT_EQ(read_file(name), cli_file);

      // Named, in memory from memory, and from standard input to standard output.
      job.target = Target::file("named.out");
      EXPECT_EQ(tekconv::exit_status(run_job(job).status), cli.status);
      EXPECT_EQ(read_file("named.out"), cli_file);
      Bytes bytes;
      Job in_memory = job;
      in_memory.input = Source::memory(input);
      in_memory.target = Target::memory(bytes);
      EXPECT_EQ(run_job(in_memory).text, lib.text);
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), cli_file);
      Job streamed = job;
      streamed.input = Source::standard_input();
      streamed.target = Target::file("-");
      Ran piped;
      const std::string out =
          written_to(1, [&] { reading("in.abs", [&] { piped = run_job(streamed); }); });
      EXPECT_EQ(piped.status, lib.status);
      EXPECT_EQ(out, cli_file);
      std::string cli_out;
      reading("in.abs", [&] {
        cli_out = written_to(1, [&] { run_tekconv({"-q", "-O", format, "-o", "-", "-"}); });
      });
      EXPECT_EQ(cli_out, cli_file);
      for (const std::string& f : {name, std::string("named.out")}) std::remove(f.c_str());
    }
    for (const auto& [option, what] : DUMPS) {
      const RunResult cli = run_tekconv({option, "in.abs"});
      Job job = job_of(Mode::Dump, Source::file("in.abs"));
      job.dump = what;
      const Ran lib = run_job(job);
      EXPECT_EQ(tekconv::exit_status(lib.status), cli.status) << option;
      EXPECT_EQ(cli.body(), lib.text) << option;
    }
    const RunResult cli = run_tekconv({"-k", "in.abs"});
    Job check = job_of(Mode::Check, Source::file("in.abs"));
    check.check_scratch = "selfix.$$$";
    for (const Source& source : {Source::file("in.abs"), Source::memory(input)}) {
      check.input = source;
      const Ran lib = run_job(check);
      EXPECT_EQ(tekconv::exit_status(lib.status), cli.status);
      EXPECT_EQ(cli.body(), lib.text);
    }
    EXPECT_EQ(dir_entries(), (std::vector<std::string>{"in.abs", "main.cpd"}));
  }
}

// --strict: status 2 in every mode, an earlier output file stays as it was, and the console
// text is the command's.
TEST_F(RunJobTest, StrictFailsEveryModeAndKeepsTheEarlierFile) {
  warned().write("in.abs");
  for (const auto& [format, output] : {std::pair{"ctx", Output::Context}, {"elf", Output::Elf}}) {
    SCOPED_TRACE(format);
    const std::string name = std::string("in.") + format;
    write_file(name, "earlier");
    const RunResult cli = run_tekconv({"--strict", "-O", format, "in.abs"});
    EXPECT_EQ(cli.status, 2);
    EXPECT_EQ(read_file(name), "earlier");
    Job job = job_of(Mode::Convert, Source::file("in.abs"));
    job.output = output;
    job.options.strict = true;
    const Ran lib = run_job(job);
    EXPECT_EQ(lib.status, Status::Strict);
    EXPECT_EQ(cli.body(), lib.text);
    EXPECT_EQ(read_file(name), "earlier");
    std::remove(name.c_str());
  }
  const RunResult dumped = run_tekconv({"--strict", "-s", "in.abs"});
  Job dump = job_of(Mode::Dump, Source::file("in.abs"));
  dump.options.strict = true;
  const Ran listed = run_job(dump);
  EXPECT_EQ(dumped.status, 2);
  EXPECT_EQ(listed.status, Status::Strict);
  EXPECT_EQ(dumped.body(), listed.text);
  // The command's check takes no options; the library's strict check prints the same report and
  // fails.
  const RunResult checked = run_tekconv({"-k", "in.abs"});
  Job check = job_of(Mode::Check, Source::file("in.abs"));
  check.options.strict = true;
  const Ran reported = run_job(check);
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(reported.status, Status::Strict);
  EXPECT_EQ(checked.body(), reported.text);
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
}

// Without a console a run prints nothing anywhere, and gives the same status and output.
TEST_F(RunJobTest, NullConsolePrintsNothing) {
  warned().write("in.abs");
  const Bytes input = file_bytes("in.abs");
  Bytes with_console, without;
  for (Mode mode : {Mode::Convert, Mode::Dump, Mode::Check}) {
    for (Output output : {Output::Context, Output::Elf}) {
      Job job = job_of(mode, Source::memory(input), Target::memory(with_console));
      job.output = output;
      const Ran printed = run_job(job);
      EXPECT_FALSE(printed.text.empty());
      job.target = Target::memory(without);
      job.options.console = nullptr;
      Status status = Status::Fatal;
      EXPECT_EQ(written_to(1, [&] { status = tekconv::run(job); }), "");
      EXPECT_EQ(status, printed.status);
      EXPECT_BYTES(without, with_console);
    }
  }
  Job missing = job_of(Mode::Convert, Source::file("missing.abs"));
  missing.options.console = nullptr;
  EXPECT_EQ(written_to(1, [&] { EXPECT_EQ(tekconv::run(missing), Status::Fatal); }), "");
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
}

// Failures before any output: a missing input, an output that is the input, a conversion of
// standard input with no name to write to; each as the command reports it, and nothing created.
TEST_F(RunJobTest, RefusedRunsCreateNothing) {
  program().end().write("in.abs");
  struct Case {
    std::vector<std::string> args;
    Source input;
    Target target;
    const char* console;
  };
  const Case cases[] = {
      {{"missing.abs"}, Source::file("missing.abs"), {}, "Error : Cannot open file\n"},
      {{"-o", "in.abs", "in.abs"},
       Source::file("in.abs"),
       Target::file("in.abs"),
       "Error : Cannot create file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const RunResult cli = run_tekconv(c.args);
    const Ran lib = run_job(job_of(Mode::Convert, c.input, c.target));
    EXPECT_EQ(lib.status, Status::Fatal);
    EXPECT_EQ(cli.status, 255);
    EXPECT_EQ(lib.text, c.console);
    EXPECT_EQ(cli.body(), lib.text);
  }
  const Ran unnamed = run_job(job_of(Mode::Convert, Source::standard_input()));
  EXPECT_EQ(unnamed.status, Status::Fatal);
  EXPECT_EQ(unnamed.text, "Error : Cannot create file\n");
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
}

// The dump selections combine: Files | Types lists the records of both, in input order, and
// & takes a selection apart.
TEST_F(RunJobTest, DumpSelectionsCombine) {
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    SCOPED_TRACE(sample.name);
    const Bytes input = sample.object.bytes();
    auto listed = [&](Dump what) {
      Job job = job_of(Mode::Dump, Source::memory(input));
      job.dump = what;
      return lines_of(run_job(job).text);
    };
    const std::vector<std::string> files = listed(Dump::Files), types = listed(Dump::Types);
    const std::vector<std::string> both = listed(Dump::Files | Dump::Types);
    // Each line of the combined listing is in one of the others (the HEADER and ADDRFLAG lines
    // in both), and the lines of each keep their order.
    std::vector<std::string> from_files, from_types;
    size_t shared = 0;
    for (const std::string& l : both) {
      const bool in_files = std::find(files.begin(), files.end(), l) != files.end();
      const bool in_types = std::find(types.begin(), types.end(), l) != types.end();
      EXPECT_TRUE(in_files || in_types) << l;
      if (in_files) from_files.push_back(l);
      if (in_types) from_types.push_back(l);
      shared += in_files && in_types;
    }
    EXPECT_EQ(from_files, files);
    EXPECT_EQ(from_types, types);
    EXPECT_EQ(both.size() + shared, files.size() + types.size());
    Dump d = Dump::Scopes;
    d |= Dump::Locals;
    EXPECT_EQ(listed(d), listed(Dump::Scopes | Dump::Locals));
  }
  static_assert((Dump::Files | Dump::Types) != Dump::Files);
  static_assert(((Dump::Files | Dump::Types) & Dump::Types) == Dump::Types);
  static_assert((Dump::All & Dump::Locals) == Dump::Locals);
  static_assert((Dump::Files & Dump::Types) == Dump{});
}

}  // namespace
