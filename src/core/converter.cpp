#include "core/converter.hpp"

#include <cstdarg>

namespace tek {

int say(Converter& cv, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vfprintf(cv.out.console, fmt, ap);
  va_end(ap);
  return n;
}

}  // namespace tek
