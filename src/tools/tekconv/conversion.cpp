#include "core/converter.hpp"
#include "core/errors.hpp"
#include "core/run.hpp"
#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

namespace {

// Opens an output stream after recording its name for the cleanup of a fatal error.
void open_stream(OutFile& f, std::string& slot, const std::string& name, bool read_back) {
  slot = name;
  SignalBlock hold;
  if (!out_open(f, name.c_str(), read_back)) fatal_file_error(ERR_CREATE, name);
  track_output(name);
}

}  // namespace

int run_conversion(Converter& cv, ToolFiles& files, const std::string& input,
                   const std::string& ctx) {
  const std::string type = replace_extension(ctx, ".ct$");
  const std::string local = replace_extension(ctx, ".cl$");
  // The converter never overwrites its own input.
  for (const std::string* name : {&ctx, &type, &local})
    if (same_file(*name, input)) fatal_file_error(ERR_CREATE, *name, "it is the input file");

  ContextStreams& s = files.streams;
  open_stream(s.main, files.ctx_name, ctx, false);
  open_stream(s.type, files.type_name, type, true);
  open_stream(s.local, files.local_name, local, true);

  convert_into(cv, s);

  out_close(s.local);
  out_close(s.type);
  out_close(s.main);
  delete_file(files.local_name);
  delete_file(files.type_name);
  untrack_outputs();
  if (!cv.settings.quiet) say(cv, "Created %s\n", files.ctx_name.c_str());
  return 0;
}

}  // namespace tek
