// Writes the example program shipped under examples/: prog.abs and main.cpd.
//
// Usage: make_example [output directory]
#include <cstdio>
#include <string>

#include "example_program.hpp"

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "examples";
  tekrec::example_program().write(dir + "/prog.abs");
  std::string companion = tekrec::example_companion();
  FILE* f = std::fopen((dir + "/main.cpd").c_str(), "wb");
  if (!f || std::fputs(companion.c_str(), f) < 0 || std::fclose(f) != 0) {
    std::perror("main.cpd");
    return 1;
  }
  std::printf("Wrote %s/prog.abs and %s/main.cpd\n", dir.c_str(), dir.c_str());
  return 0;
}
