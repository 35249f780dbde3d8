#include <cstdio>
#include <string>
#include <vector>

#include "tools/ctxdump/ctxdump.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return tek::ctxdump_main(args, stdout, stderr);
}
