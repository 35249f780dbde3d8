#include <string>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // The ELF output builds large arrays phase by phase (the records' model, a unit's line rows,
  // the indexes of the debug information). By default glibc gives a freed block above its
  // dynamic threshold back to the kernel, and the next phase faults in fresh zeroed pages for
  // the same amount: a run that ends in a second does better to keep its heap and reuse it.
  // Blocks of 32 MiB and more are still mapped apart.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  tek::install_signal_cleanup();
  return tek::tekconv_main(std::vector<std::string>(argv, argv + argc));
}
