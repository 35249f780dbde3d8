// The command line: banner, options and the choice of run mode.
#include <cstdio>
#include <string>
#include <vector>

#include "core/converter.hpp"
#include "core/reader/companion.hpp"
#include "core/run.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

namespace {

constexpr int USAGE_STATUS = 255;

struct Option {
  const char* name;
  void (*apply)(Settings&);
};

constexpr Option OPTIONS[] = {
    {"-s", [](Settings& s) { s.dump_mask = 0xFFFFFFFF; }},
    {"-sf", [](Settings& s) { s.dump_mask = 0x01; }},
    {"-st", [](Settings& s) { s.dump_mask = 0x02; }},
    {"-sg", [](Settings& s) { s.dump_mask = 0x04; }},
    {"-ss", [](Settings& s) { s.dump_mask = 0x08; }},
    {"-sl", [](Settings& s) { s.dump_mask = 0x10; }},
    {"-c", [](Settings&) {}},
    {"-d", [](Settings&) {}},
    {"-ps", [](Settings& s) { s.default_ptr_size = 0; }},
    {"-m16", [](Settings& s) { s.m16 = 1; }},
    {"-l", [](Settings& s) { s.far_all = 1; }},
    {"-fullpath", [](Settings& s) { s.fullpath = 1; }},
};

bool apply_option(Settings& s, const std::string& arg) {
  for (const Option& o : OPTIONS) {
    if (arg == o.name) {
      o.apply(s);
      return true;
    }
  }
  return false;
}

int run_mode(Converter& cv, ToolFiles& files, const std::vector<std::string>& args) {
  say(cv, "ORVA Object File Converter for TEKA format V1.18\n");
  say(cv, "Made by the tekconv developers\n");
  if (args.size() < 2) {
    say(cv, "Usage:tekconv [option] input_file\n");
    say(cv, "  option: [-s]         Symbol dump\n");
    say(cv, "          [-fullpath]  A path name is output in a full path.\n");
    return USAGE_STATUS;
  }
  // Options come before the input; the last argument is never an option. "-O FORMAT" takes
  // the argument after it.
  const size_t last = args.size() - 1;
  size_t recognised = 0;
  bool elf = false;
  for (size_t i = 1; i < last; ++i) {
    if (args[i] == "-O" && i + 1 < last && (args[i + 1] == "elf" || args[i + 1] == "ctx")) {
      elf = args[i + 1] == "elf";
      recognised += 2;
      ++i;
    } else if (apply_option(cv.settings, args[i])) {
      ++recognised;
    }
  }
  const std::string& input = args[1 + recognised];

  // Companion files are looked up in the current directory.
  cv.comp.lookup = directory_lookup("");
  if (cv.settings.dump_mask != 0) {
    cv.rd.source = InputSource{input, false, {}};
    dump_records(cv);
    check_console(cv);  // a listing that could not be written fails the run
    return 0;
  }
  if (args[1] == "-k") {
    const std::string checked = args.size() > 2 ? args[2] : std::string();
    cv.rd.source = InputSource{checked, false, {}};
    const int status = run_check(cv, files, checked);
    check_console(cv);
    return status;
  }
  cv.rd.source = InputSource{input, false, {}};
  if (elf) return run_elf_conversion(cv, files, input, replace_extension(input, ".elf"));
  return run_conversion(cv, files, input, replace_extension(input, ".ctx"));
}

}  // namespace

int tekconv_main(Converter& cv, const std::vector<std::string>& args) {
  ToolFiles files;
  const int status = run_protected(
      cv, [&] { return run_mode(cv, files, args); }, [&] { files.remove_all(); });
  untrack_outputs();  // the run is over: its files are finished, deleted or left as they are
  // Messages that could not be printed: said where they may still be seen.
  if (std::fflush(cv.out.console) != 0 || std::ferror(cv.out.console))
    std::fputs("tekconv: cannot write the output\n", stderr);
  return status;
}

}  // namespace tek
