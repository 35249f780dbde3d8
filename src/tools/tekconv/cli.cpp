// The command line: banner, options, and the job they describe, which the library runs.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tekconv/tekconv.hpp"
#include "tools/tekconv/diagnostics.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"
#include "tools/tekconv/usage.hpp"

namespace tek {

namespace {

using tekconv::Dump;
using tekconv::Mode;
using tekconv::Output;
using tekconv::Status;

// The file name that stands for standard input (as the input) or standard output (with -o).
constexpr const char* STANDARD_STREAM = "-";
// The type index check keeps its marks between the two readings here, in the current directory.
constexpr const char* SCRATCH_NAME = "selfix.$$$";

// What the options set: the job's options, and what only the command line uses.
struct CommandLine {
  tekconv::Options options = {};
  std::optional<Dump> dump = {};               // the last dump option
  Output format = Output::Context;             // -O: what a conversion writes
  std::optional<std::string> bad_format = {};  // an -O value that names no output
  std::optional<std::string> output = {};      // -o
  std::optional<std::string> cpd_dir = {};     // --cpd-dir
  bool quiet = false;                          // -q
  bool verbose = false;                        // -v
  size_t recognised = 0;                       // arguments taken by options, values included
  std::vector<bool> taken = {};                // per argument: an option, its value, or "--"
  std::vector<size_t> unknown_long = {};       // arguments "--name" that are no option
};

// A command line that cannot be run: text says what is wrong with it.
tekconv::Error wrong(std::string text) {
  return tekconv::Error(tekconv::Error::Code::Usage, std::move(text));
}

struct Option {
  const char* name;
  bool takes_value;  // the next argument is the option's value
  void (*apply)(CommandLine&, const std::string& value);
};

void set_output(CommandLine& c, const std::string& v) {
  c.output = v;
}
void set_cpd_dir(CommandLine& c, const std::string& v) {
  c.cpd_dir = v;
}
// The one place that decides what a conversion writes; the last -O counts.
void set_format(CommandLine& c, const std::string& v) {
  c.bad_format.reset();
  if (v == "elf")
    c.format = Output::Elf;
  else if (v == "ctx")
    c.format = Output::Context;
  else
    c.bad_format = v;
}

constexpr Option OPTIONS[] = {
    {"-s", false, [](CommandLine& c, const std::string&) { c.dump = Dump::All; }},
    {"-sf", false, [](CommandLine& c, const std::string&) { c.dump = Dump::Files; }},
    {"-st", false, [](CommandLine& c, const std::string&) { c.dump = Dump::Types; }},
    {"-sg", false, [](CommandLine& c, const std::string&) { c.dump = Dump::Publics; }},
    {"-ss", false, [](CommandLine& c, const std::string&) { c.dump = Dump::Scopes; }},
    {"-sl", false, [](CommandLine& c, const std::string&) { c.dump = Dump::Locals; }},
    {"-c", false, [](CommandLine&, const std::string&) {}},
    {"-d", false, [](CommandLine&, const std::string&) {}},
    {"-ps", false, [](CommandLine& c, const std::string&) { c.options.short_pointers = true; }},
    {"-m16", false, [](CommandLine& c, const std::string&) { c.options.m16 = true; }},
    {"-l", false, [](CommandLine& c, const std::string&) { c.options.far_functions = true; }},
    {"-fullpath", false, [](CommandLine& c, const std::string&) { c.options.full_paths = true; }},
    {"-o", true, set_output},
    {"--output", true, set_output},
    {"-q", false, [](CommandLine& c, const std::string&) { c.quiet = true; }},
    {"-v", false, [](CommandLine& c, const std::string&) { c.verbose = true; }},
    {"--strict", false, [](CommandLine& c, const std::string&) { c.options.strict = true; }},
    {"--cpd-dir", true, set_cpd_dir},
    {"-O", true, set_format},
};

const Option* find_option(const std::string& arg) {
  for (const Option& o : OPTIONS)
    if (arg == o.name) return &o;
  return nullptr;
}

// An option joined to its value in one argument: --output=FILE, --cpd-dir=DIR, and -OFORMAT or
// -O=FORMAT (no format begins with '='). Sets value; nullptr when the argument is none.
const Option* find_joined(const std::string& arg, std::string& value) {
  for (const char* name : {"--output", "--cpd-dir"}) {
    const std::string prefix = std::string(name) + "=";
    if (arg.starts_with(prefix)) {
      value = arg.substr(prefix.size());
      return find_option(name);
    }
  }
  if (arg.size() > 2 && arg.starts_with("-O")) {
    value = arg.substr(arg[2] == '=' ? 3 : 2);
    return find_option("-O");
  }
  return nullptr;
}

// True for an argument that names an option of this command, alone or joined to its value.
bool is_option(const std::string& arg) {
  std::string value;
  return find_option(arg) || find_joined(arg, value) || arg == "-k" || arg == "-h" ||
         arg == "--help" || arg == "--version";
}

// Scans the arguments before the last one, which is never an option. An argument that is no
// option is passed over; each recognised one counts, an option's value too. "--" ends the scan;
// it counts when it stands where the input is looked for, so that the input follows it.
// Returns what is wrong with the command line, if anything; cl holds the options read until then.
std::optional<tekconv::Error> scan_options(CommandLine& cl, const std::vector<std::string>& args) {
  const size_t last = args.size() - 1;
  cl.taken.assign(args.size(), false);
  for (size_t i = 1; i < last; ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      if (i == 1 + cl.recognised) {
        cl.taken[i] = true;
        ++cl.recognised;
      }
      break;
    }
    std::string value;
    if (const Option* o = find_joined(arg, value)) {
      if (value.empty()) return wrong("option " + std::string(o->name) + " needs a value");
      o->apply(cl, value);
      cl.taken[i] = true;
      ++cl.recognised;
      continue;
    }
    const Option* o = find_option(arg);
    if (!o) {
      if (arg.size() > 2 && arg.starts_with("--")) cl.unknown_long.push_back(i);
      continue;
    }
    cl.taken[i] = true;
    if (!o->takes_value) {
      o->apply(cl, std::string());
      ++cl.recognised;
      continue;
    }
    if (i + 1 >= last) return wrong("option " + arg + " needs a value, then the input file");
    o->apply(cl, args[i + 1]);
    cl.taken[i + 1] = true;
    cl.recognised += 2;
    ++i;
  }
  return std::nullopt;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The warning for an argument that the run does not use.
std::string ignored(const std::string& arg) {
  if (arg == "-k") return "ignoring '-k': the type index check takes it as the first argument";
  if (arg.size() > 2 && arg.starts_with("--") && !is_option(arg))
    return "ignoring unrecognized option '" + arg + "'";
  if (is_option(arg)) return "ignoring '" + arg + "': options come before the input file";
  return "ignoring extra argument '" + arg + "'";
}

// What the command line asks for besides a run: --help, -h and --version answer wherever they
// stand.
enum class Request : uint8_t { Run, Help, Version };

Request request_of(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return Request::Help;
    if (args[i] == "--version") return Request::Version;
  }
  return Request::Run;
}

// Why an argument that begins with '-' is read as the input file, for an input that does not
// exist; an error when the command line is wrong there.
tekconv::Expected<std::string> input_note(const std::vector<std::string>& args, size_t at,
                                          bool k_first) {
  const std::string& arg = args[at];
  if (arg == "--") return wrong("'--' ends the options; the input file follows it");
  if (arg == "-k")
    return wrong(
        "-k selects the type index check only as the first argument: tekconv -k input_file");
  if (const Option* o = find_option(arg); o && o->takes_value)
    return wrong("option " + arg + " needs a value, then the input file");
  if (!is_option(arg)) return "'" + arg + "' is not an option; it is read as the input file";
  if (k_first && at == 2)
    return "'" + arg + "' is read as the input file: -k takes the argument after it";
  if (at == args.size() - 1)
    return "'" + arg + "' is read as the input file: the last argument is never an option";
  return "'" + arg + "' is read as the input file: it stands where the input is looked for";
}

// Where the input stands in the arguments, and what the command line does with it.
struct InputArgument {
  size_t at;         // its index; args.size() when there is none (-k alone)
  std::string name;  // as given; "-" is standard input
  bool k_first;      // -k as the first argument
  bool exists;       // standard input, or a file by that name
};

InputArgument find_input(CommandLine& cl, const std::vector<std::string>& args) {
  InputArgument in;
  in.k_first = args[1] == "-k";
  // -k takes the argument after it as the input (the one after "--" there); otherwise the
  // input follows the options.
  in.at = in.k_first ? 2 : 1 + cl.recognised;
  if (in.k_first && in.at + 1 < args.size() && args[in.at] == "--") cl.taken[in.at++] = true;
  in.name = in.at < args.size() ? args[in.at] : std::string();
  in.exists = in.name == STANDARD_STREAM || file_exists(in.name);
  return in;
}

// The one place that decides the run mode: a dump option, else -k as the first argument, else
// a conversion.
Mode run_mode(const CommandLine& cl, const InputArgument& in) {
  if (cl.dump) return Mode::Dump;
  return in.k_first ? Mode::Check : Mode::Convert;
}

// What makes the command line wrong, if anything.
std::optional<tekconv::Error> command_line_problem(const CommandLine& cl,
                                                   const std::vector<std::string>& args,
                                                   const InputArgument& in, Mode mode) {
  // A "--name" that is no option is a mistake where it takes the input's place, or where it
  // shifts the input onto another argument; after the input it is ignored, as any argument
  // there.
  for (size_t u : cl.unknown_long)
    if (u == in.at || (u < in.at && !in.exists))
      return wrong("unrecognized option '" + args[u] + "'");
  if (cl.bad_format) return wrong("-O takes elf or ctx, not '" + *cl.bad_format + "'");
  if (cl.output && mode != Mode::Convert)
    return wrong("-o names the output file of a conversion; a dump or -k writes none");
  if (cl.cpd_dir) {
    if (auto dir = tekconv::companion_directory(*cl.cpd_dir); !dir)
      return wrong("cannot use companion directory '" + *cl.cpd_dir +
                   "': " + std::strerror(dir.error().system_error()));
  }
  if (in.name == STANDARD_STREAM && mode == Mode::Convert && !cl.output)
    return wrong(
        "the input is standard input: a conversion needs -o FILE (-o - writes to standard "
        "output)");
  if (!in.exists && in.name.size() > 1 && in.name[0] == '-') {
    if (auto note = input_note(args, in.at, in.k_first); !note) return note.error();
  }
  return std::nullopt;
}

// The warnings about an input that is read because of where it stands, and about every
// argument that the run does not use.
std::vector<std::string> argument_warnings(const CommandLine& cl,
                                           const std::vector<std::string>& args,
                                           const InputArgument& in) {
  std::vector<std::string> warnings;
  if (!in.exists && in.name.size() > 1 && in.name[0] == '-') {
    if (auto note = input_note(args, in.at, in.k_first)) warnings.push_back(std::move(*note));
  }
  if (in.k_first && in.name.empty()) warnings.emplace_back("-k needs the input file after it");
  for (size_t i = in.k_first ? 2 : 1; i < args.size(); ++i)
    if (i != in.at && !cl.taken[i]) warnings.push_back(ignored(args[i]));
  return warnings;
}

}  // namespace

CommandLineReading read_command_line(const std::vector<std::string>& args) {
  CommandLine cl;
  std::optional<tekconv::Error> wrong_options;
  if (args.size() >= 2) wrong_options = scan_options(cl, args);
  auto reading = [&](tekconv::Expected<Command> command) {
    return CommandLineReading{cl.quiet, cl.output == STANDARD_STREAM, args.size() < 2,
                              std::move(command)};
  };
  if (args.size() < 2) return reading(wrong("no input file"));
  if (wrong_options) return reading(std::move(*wrong_options));
  const InputArgument in = find_input(cl, args);
  const Mode mode = run_mode(cl, in);
  if (std::optional<tekconv::Error> problem = command_line_problem(cl, args, in, mode))
    return reading(std::move(*problem));

  Command command;
  command.quiet = cl.quiet;
  command.verbose = cl.verbose;
  command.input = in.name;
  command.warnings = argument_warnings(cl, args, in);
  tekconv::Job& job = command.job;
  job.mode = mode;
  job.dump = cl.dump.value_or(Dump::All);
  job.output = cl.format;
  job.input = in.name == STANDARD_STREAM ? tekconv::Source::standard_input()
                                         : tekconv::Source::file(in.name);
  if (cl.output) job.target = tekconv::Target::file(*cl.output);
  job.check_scratch = SCRATCH_NAME;
  job.options = cl.options;
  // Companion files are looked up in the current directory, or the one given.
  job.options.companions = tekconv::companions_in(cl.cpd_dir.value_or(""));
  return reading(std::move(command));
}

namespace {

// What a run printed or decided that the command's last lines depend on.
struct Ran {
  FILE* console;
  std::optional<tekconv::Job> job;  // once the command line was found right
};

// The command up to the end of its run: the status of the run, or what is wrong with the
// command line.
tekconv::Expected<Status> run_command(const std::vector<std::string>& args, const JobRunner& run,
                                      DiagnosticPrinter& diag, Ran& ran) {
  switch (request_of(args)) {
    case Request::Help:
      print_help(stdout);
      return Status::Done;
    case Request::Version:
      print_version(stdout);
      return Status::Done;
    case Request::Run:
      break;
  }
  CommandLineReading reading = read_command_line(args);
  // With "-o -" standard output carries the output file alone; everything else goes to
  // standard error.
  if (reading.to_standard_output) ran.console = stderr;
  FILE* console = ran.console;
  if (!reading.quiet) {
    std::fputs("ORVA Object File Converter for TEKA format V1.18\n", console);
    std::fputs("Made by the tekconv developers\n", console);
  }
  if (reading.no_arguments) {
    std::fputs("Usage:tekconv [option] input_file\n", console);
    std::fputs("  option: [-s]         Symbol dump\n", console);
    std::fputs("          [-fullpath]  A path name is output in a full path.\n", console);
    return Status::Usage;
  }
  if (!reading.command) return reading.command.error();
  Command& command = *reading.command;
  for (const std::string& w : command.warnings) diag.warning(w);
  diag.set_verbose(command.verbose);
  diag.set_input(command.input);

  tekconv::Job& job = ran.job.emplace(std::move(command.job));
  job.options.console = console;
  job.options.diagnostics = [&diag](const tekconv::Diagnostic& d) { diag.print(d); };
  job.options.temporaries = &signal_watch();
  const Status status = run(job);
  if (status == Status::Done && job.mode == Mode::Convert && !command.quiet)
    std::fprintf(console, "Created %s\n", tekconv::output_path(job).c_str());
  return status;
}

// What --strict left unwritten.
std::string strict_failure(const std::optional<tekconv::Job>& job) {
  if (!job || job->mode != Mode::Convert) return "--strict: the input has problems";
  return std::string("--strict: the input has problems; no ") +
         (job->output == Output::Elf ? "ELF file" : "context file") + " is written";
}

}  // namespace

int exit_status(const tekconv::Expected<Status>& result) {
  return tekconv::exit_status(result ? *result : Status::Usage);
}

int tekconv_main(const std::vector<std::string>& args, FILE* console, const JobRunner& run) {
  DiagnosticPrinter diag(stderr);
  Ran ran{console, std::nullopt};
  const tekconv::Expected<Status> result = run_command(args, run, diag, ran);
  if (!result) diag.error(result.error().message() + " (tekconv --help lists the options)");
  untrack_outputs();  // the run is over: its files are finished, deleted or left as they are
  // Messages that could not be printed: said where they may still be seen.
  if (std::fflush(ran.console) != 0 || std::ferror(ran.console))
    diag.error("cannot write the standard output");
  diag.finish();
  if (result && *result == Status::Strict) diag.error(strict_failure(ran.job));
  return exit_status(result);
}

}  // namespace tek
