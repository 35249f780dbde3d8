// Writes the seed corpus of the fuzz target: inputs made with the record builder that reach
// every record type, every symbol category and location form, companion files, and the example
// program, each in several run modes.
//
// Usage: make_seeds output_directory
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "example_program.hpp"
#include "harness.hpp"
#include "recbuild/recbuild.hpp"
#include "sample_programs.hpp"
#include "tools/tekconv/tool.hpp"

using namespace tekrec;

namespace {

// The context file that a conversion of the object writes, for seeds of ctxdump.
std::vector<uint8_t> converted(const Builder& object) {
  const std::string dir = std::filesystem::temp_directory_path() / "tekconv-seeds";
  std::filesystem::create_directories(dir);
  object.write(dir + "/in.abs");
  {
    FILE* null = std::fopen("/dev/null", "w");
    tek::tekconv_main({"tekconv", dir + "/in.abs"}, null);
    std::fclose(null);
  }
  std::ifstream in(dir + "/in.ctx", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  return bytes;
}

void write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds output_directory\n");
    return 2;
  }
  const std::string dir = argv[1];
  int n = 0;
  for (const Sample& seed : sample_programs()) {
    // Every run mode, and the options that change the translation.
    for (uint8_t selector : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x78, 0x0A}) {
      char name[32];
      std::snprintf(name, sizeof name, "-%02x", selector);
      write(dir + "/" + seed.name + name,
            tekfuzz::make_input(selector, seed.object.bytes(), seed.companion));
      ++n;
    }
  }
  // Finished context files for ctxdump.
  for (const Sample& seed : sample_programs()) {
    if (!seed.companion.empty()) continue;  // converted without its companion file
    write(dir + "/ctx-" + seed.name,
          tekfuzz::make_input(tekfuzz::MODE_CTXDUMP, converted(seed.object)));
    ++n;
  }
  std::printf("Wrote %d seeds to %s\n", n, dir.c_str());
  return 0;
}
