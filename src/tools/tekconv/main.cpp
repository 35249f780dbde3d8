#include <memory>
#include <string>
#include <vector>

#include "core/converter.hpp"
#include "tools/tekconv/signals.hpp"
#include "tools/tekconv/tool.hpp"

int main(int argc, char** argv) {
  tek::install_signal_cleanup();
  std::vector<std::string> args(argv, argv + argc);
  auto cv = std::make_unique<tek::Converter>();
  return tek::tekconv_main(*cv, args);
}
