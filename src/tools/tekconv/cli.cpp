// The command line: banner, options and the choice of run mode.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/reader/companion.hpp"
#include "core/run.hpp"
#include "tools/tekconv/diagnostics.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"
#include "tools/tekconv/usage.hpp"

namespace tek {

namespace {

constexpr int USAGE_STATUS = 255;

// What the options set: the run-mode settings, and what only the command line uses.
struct CommandLine {
  Settings& settings;
  std::optional<std::string> output = {};   // -o
  std::optional<std::string> cpd_dir = {};  // --cpd-dir
  std::string format = "ctx";               // -O: what a conversion writes, ctx or elf
  bool verbose = false;                     // -v
  size_t recognised = 0;                    // arguments taken by options, values included
};

struct Option {
  const char* name;
  bool takes_value;  // the next argument is the option's value
  void (*apply)(CommandLine&, const std::string& value);
};

constexpr Option OPTIONS[] = {
    {"-s", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0xFFFFFFFF; }},
    {"-sf", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0x01; }},
    {"-st", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0x02; }},
    {"-sg", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0x04; }},
    {"-ss", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0x08; }},
    {"-sl", false, [](CommandLine& c, const std::string&) { c.settings.dump_mask = 0x10; }},
    {"-c", false, [](CommandLine&, const std::string&) {}},
    {"-d", false, [](CommandLine&, const std::string&) {}},
    {"-ps", false, [](CommandLine& c, const std::string&) { c.settings.default_ptr_size = 0; }},
    {"-m16", false, [](CommandLine& c, const std::string&) { c.settings.m16 = 1; }},
    {"-l", false, [](CommandLine& c, const std::string&) { c.settings.far_all = 1; }},
    {"-fullpath", false, [](CommandLine& c, const std::string&) { c.settings.fullpath = 1; }},
    {"-o", true, [](CommandLine& c, const std::string& v) { c.output = v; }},
    {"-q", false, [](CommandLine& c, const std::string&) { c.settings.quiet = true; }},
    {"-v", false, [](CommandLine& c, const std::string&) { c.verbose = true; }},
    {"--strict", false, [](CommandLine& c, const std::string&) { c.settings.strict = true; }},
    {"--cpd-dir", true, [](CommandLine& c, const std::string& v) { c.cpd_dir = v; }},
    {"-O", true, [](CommandLine& c, const std::string& v) { c.format = v; }},
};

const Option* find_option(const std::string& arg) {
  for (const Option& o : OPTIONS)
    if (arg == o.name) return &o;
  return nullptr;
}

// Scans the arguments before the last one, which is never an option. An argument that is no
// option is passed over; each recognised one counts, an option's value too. Returns what is
// wrong with the command line, or an empty text.
std::string scan_options(CommandLine& cl, const std::vector<std::string>& args) {
  const size_t last = args.size() - 1;
  for (size_t i = 1; i < last; ++i) {
    const Option* o = find_option(args[i]);
    if (!o) continue;
    if (!o->takes_value) {
      o->apply(cl, std::string());
      ++cl.recognised;
      continue;
    }
    if (i + 1 >= last) return "option " + args[i] + " needs a value, then the input file";
    o->apply(cl, args[i + 1]);
    cl.recognised += 2;
    ++i;
  }
  return std::string();
}

// --help, -h and --version answer wherever they stand.
int answer_request(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      print_help(stdout);
      return 0;
    }
    if (args[i] == "--version") {
      print_version(stdout);
      return 0;
    }
  }
  return -1;
}

// What is wrong with the companion directory, or an empty text.
std::string directory_problem(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0)
    return "cannot use companion directory '" + dir + "': " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode))
    return "cannot use companion directory '" + dir + "': " + std::strerror(ENOTDIR);
  return std::string();
}

// In strict mode a dump or check whose input had problems fails (a conversion stops before it
// assembles the context file).
int finished(const Converter& cv) {
  return cv.settings.strict && input_had_problems(cv) ? STRICT_STATUS : 0;
}

// product: what a conversion writes ("context file", "ELF file"), or empty for a dump or check.
int run_mode(Converter& cv, ToolFiles& files, DiagnosticPrinter& diag,
             const std::vector<std::string>& args, std::string& product) {
  if (const int status = answer_request(args); status >= 0) return status;
  CommandLine cl{cv.settings};
  const std::string wrong = args.size() >= 2 ? scan_options(cl, args) : std::string();
  if (!cv.settings.quiet) {
    say(cv, "ORVA Object File Converter for TEKA format V1.18\n");
    say(cv, "Made by the tekconv developers\n");
  }
  if (args.size() < 2) {
    say(cv, "Usage:tekconv [option] input_file\n");
    say(cv, "  option: [-s]         Symbol dump\n");
    say(cv, "          [-fullpath]  A path name is output in a full path.\n");
    return USAGE_STATUS;
  }
  const bool check = args[1] == "-k";
  auto refuse = [&](const std::string& text) {
    diag.error(text + " (tekconv --help lists the options)");
    return USAGE_STATUS;
  };
  if (!wrong.empty()) return refuse(wrong);
  if (cl.format != "ctx" && cl.format != "elf")
    return refuse("-O takes elf or ctx, not '" + cl.format + "'");
  if (cl.output && (cv.settings.dump_mask != 0 || check))
    return refuse("-o names the output file of a conversion; a dump or -k writes none");
  if (cl.cpd_dir) {
    if (std::string problem = directory_problem(*cl.cpd_dir); !problem.empty())
      return refuse(problem);
  }
  diag.set_verbose(cl.verbose);

  // Companion files are looked up in the current directory, or the one given.
  cv.comp.lookup = directory_lookup(cl.cpd_dir.value_or(""));
  // -k takes the argument after it as the input; otherwise the input follows the options.
  const std::string input =
      check ? (args.size() > 2 ? args[2] : std::string()) : args[1 + cl.recognised];
  diag.set_input(input);
  cv.diag.handler = diag.handler();
  cv.rd.source = InputSource{input, false, {}};
  if (cv.settings.dump_mask != 0) {
    dump_records(cv);
    check_console(cv);  // a listing that could not be written fails the run
    return finished(cv);
  }
  if (check) {
    const int status = run_check(cv, files, input);
    check_console(cv);
    return status == 0 ? finished(cv) : status;
  }
  product = cl.format == "elf" ? "ELF file" : "context file";
  if (cl.format == "elf")
    return run_elf_conversion(cv, files, input,
                              cl.output.value_or(replace_extension(input, ".elf")));
  return run_conversion(cv, files, input, cl.output.value_or(replace_extension(input, ".ctx")));
}

}  // namespace

int tekconv_main(Converter& cv, const std::vector<std::string>& args) {
  ToolFiles files;
  DiagnosticPrinter diag(stderr);
  std::string product;
  const int status = run_protected(
      cv, [&] { return run_mode(cv, files, diag, args, product); }, [&] { files.remove_all(); });
  untrack_outputs();  // the run is over: its files are finished, deleted or left as they are
  // Messages that could not be printed: said where they may still be seen.
  if (std::fflush(cv.out.console) != 0 || std::ferror(cv.out.console))
    diag.error("cannot write the standard output");
  diag.finish();
  if (status == STRICT_STATUS)
    diag.error(product.empty() ? "--strict: the input has problems"
                               : "--strict: the input has problems; no " + product + " is written");
  cv.diag.handler = nullptr;  // it refers to this run's printer
  return status;
}

}  // namespace tek
