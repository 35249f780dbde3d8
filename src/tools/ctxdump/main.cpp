#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/ctxdump/ctxdump.hpp"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv, argv + argc);
    return tek::ctxdump_main(args, stdout, stderr);
  } catch (const std::bad_alloc&) {
    std::fputs("ctxdump: out of memory\n", stderr);
    return tek::exit_status(tek::CtxdumpStatus::Unreadable);
  }
}
