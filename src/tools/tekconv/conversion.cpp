#include <cstdio>

#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/reader/stream.hpp"
#include "core/run.hpp"
#include "elf/output.hpp"
#include "elf/convert.hpp"
#include "elf/sink.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

int run_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                   const std::string& ctx, bool named) {
  // The converter never overwrites its own input.
  if (same_file(ctx, input)) fatal_file_error(ERR_CREATE, ctx, "it is the input file");
  // A missing input creates nothing.
  if (!open_input(cv)) fatal_file_error(ERR_OPEN, input);

  ContextStreams& s = files.streams;
  files.output.create(ctx, s.main, named);
  if (!out_open_unnamed(s.type, ctx) || !out_open_unnamed(s.local, ctx))
    fatal_file_error(ERR_CREATE, ctx);

  convert_into(cv, s);

  out_close(s.local);
  out_close(s.type);
  // A console that could not be written fails the run before the file takes its name.
  check_console(cv);
  files.output.commit();
  if (!cv.settings.quiet) say(cv, "Created %s\n", ctx.c_str());
  return 0;
}

int run_elf_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                       const std::string& elf, bool named) {
  if (same_file(elf, input)) fatal_file_error(ERR_CREATE, elf, "it is the input file");
  if (!open_input(cv)) fatal_file_error(ERR_OPEN, input);
  files.output.create(elf, files.streams.main, named);
  // The image goes to the file as it is read; finish() adds the rest and the ELF header.
  ElfFileOutput out(files.streams.main);
  ElfSink sink(out, cv.settings.output_budget);
  convert_to_elf(cv, sink);
  check_console(cv);
  files.output.commit();
  if (!cv.settings.quiet) say(cv, "Created %s\n", elf.c_str());
  return 0;
}

}  // namespace tek
