#include "core/converter.hpp"

namespace tek {

Converter::~Converter() {
  // Streams still open here belong to a run that ended early; their files stay as they are.
  out_close_quietly(out.main);
  out_close_quietly(out.type);
  out_close_quietly(out.local);
  close_input(*this);
}

}  // namespace tek
