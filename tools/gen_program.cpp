// Writes the random TEKA program of a seed, and prints the command that converts it.
//   gen_program SEED out.abs
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "random_program.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_program SEED out.abs\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long long seed = std::strtoull(argv[1], &end, 0);
  if (*argv[1] == '\0' || *end != '\0') {
    std::fprintf(stderr, "gen_program: not a seed: %s\n", argv[1]);
    return 2;
  }
  try {
    const tekrec::RandomProgram p = tekrec::random_program(seed);
    p.object.write(argv[2]);
    std::string command = "tekconv";
    for (const std::string& o : p.options()) command += " " + o;
    std::printf("%s %s\n", command.c_str(), argv[2]);
    std::printf("# %s (%s)", p.family.c_str(), p.processor.c_str());
    for (const std::string& s : p.shapes) std::printf("; %s", s.c_str());
    std::printf("\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_program: %s\n", e.what());
    return 1;
  }
  return 0;
}
