#include "core/converter.hpp"
#include "core/fatal.hpp"
#include "tools/tekconv/paths.hpp"
#include "core/run.hpp"
#include "tools/tekconv/signals.hpp"

namespace tek {

namespace {

// Opens an output stream after recording its name for the cleanup of a fatal error.
void open_stream(Converter& cv, OutFile& f, std::string& slot, const std::string& name,
                 bool read_back) {
  slot = name;
  SignalBlock hold;
  if (!out_open(f, name.c_str(), read_back)) fatal_error(cv, ERR_CREATE);
  track_output(name);
}

}  // namespace

int run_conversion(Converter& cv, const std::string& input) {
  OutputState& out = cv.out;
  const std::string ctx = replace_extension(input, ".ctx");
  const std::string type = replace_extension(ctx, ".ct$");
  const std::string local = replace_extension(ctx, ".cl$");
  // The converter never overwrites its own input.
  for (const std::string* name : {&ctx, &type, &local})
    if (same_file(*name, input)) fatal_error(cv, ERR_CREATE);

  open_stream(cv, out.main, out.ctx_name, ctx, false);
  open_stream(cv, out.type, out.type_name, type, true);
  open_stream(cv, out.local, out.local_name, local, true);

  run_pass(cv, input);

  out_append(cv, out.main, out.local);
  out_append(cv, out.main, out.type);
  out_close(cv, out.local);
  out_close(cv, out.type);
  out_close(cv, out.main);
  delete_file(out.local_name);
  delete_file(out.type_name);
  untrack_outputs();
  say(cv, "Created %s\n", out.ctx_name.c_str());
  return 0;
}

}  // namespace tek
