#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/reader/stream.hpp"
#include "core/run.hpp"
#include "tools/tekconv/output_file.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

int run_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                   const std::string& ctx) {
  // The converter never overwrites its own input.
  if (same_file(ctx, input)) fatal_error(ERR_CREATE);
  // A missing input creates nothing.
  if (!open_input(cv)) fatal_error(ERR_OPEN);

  ContextStreams& s = files.streams;
  files.output.create(ctx, s.main);
  if (!out_open_unnamed(s.type, ctx) || !out_open_unnamed(s.local, ctx)) fatal_error(ERR_CREATE);

  convert_into(cv, s);

  out_close(s.local);
  out_close(s.type);
  // A console that could not be written fails the run before the file takes its name.
  check_console(cv);
  files.output.commit();
  say(cv, "Created %s\n", ctx.c_str());
  return 0;
}

}  // namespace tek
