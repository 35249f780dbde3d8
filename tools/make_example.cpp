// Writes the example programs shipped under examples/: prog.abs with the companion files of
// its source files, and the SH program blink/blink.abs (blink/ also holds its C sources).
//
// Usage: make_example [output directory]
#include <cstdio>
#include <filesystem>
#include <string>

#include "blink_program.hpp"
#include "example_program.hpp"

namespace {

bool write_text(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fputs(text.c_str(), f) < 0 || std::fclose(f) != 0) {
    std::perror(path.c_str());
    return false;
  }
  std::printf("Wrote %s\n", path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "examples";
  std::filesystem::create_directories(dir + "/blink");
  tekrec::example_program().write(dir + "/prog.abs");
  std::printf("Wrote %s/prog.abs\n", dir.c_str());
  for (const auto& [name, text] : tekrec::example_companions())
    if (!write_text(dir + "/" + name, text)) return 1;
  tekrec::blink_program().write(dir + "/blink/blink.abs");
  std::printf("Wrote %s/blink/blink.abs\n", dir.c_str());
  return 0;
}
