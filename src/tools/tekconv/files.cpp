#include "tools/tekconv/tool.hpp"

namespace tek {

ToolFiles::~ToolFiles() {
  out_discard(streams.type);
  out_discard(streams.local);
  out_close_quietly(scratch);
  output.discard();
}

void ToolFiles::remove_all() {
  out_discard(streams.type);
  out_discard(streams.local);
  out_discard(scratch);
  output.discard();
}

}  // namespace tek
