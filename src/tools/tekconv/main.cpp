#include <string>
#include <vector>

#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

int main(int argc, char** argv) {
  tek::install_signal_cleanup();
  return tek::tekconv_main(std::vector<std::string>(argv, argv + argc));
}
