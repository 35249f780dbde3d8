#include "tools/tekconv/paths.hpp"
#include "tools/tekconv/tool.hpp"

namespace tek {

ToolFiles::~ToolFiles() {
  out_close_quietly(streams.main);
  out_close_quietly(streams.type);
  out_close_quietly(streams.local);
  out_close_quietly(scratch);
}

void ToolFiles::remove_all() {
  out_discard(streams.main);
  out_discard(streams.type);
  out_discard(streams.local);
  out_discard(scratch);
  delete_file(ctx_name);
  delete_file(local_name);
  delete_file(type_name);
  // The check's scratch file is left where it is: the run's error path deletes only the
  // context file and its temporaries.
}

}  // namespace tek
