// Converts an object file in memory with the installed library: consumer INPUT OUTPUT [DIR],
// DIR holding the companion files.
#include <fstream>
#include <iterator>
#include <tekconv/tekconv.hpp>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  tekconv::Options options;
  options.companions = tekconv::companions_in(argc > 3 ? argv[3] : "");
  std::vector<uint8_t> context;
  const int status = tekconv::convert(input, context, options);
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(context.data()),
             static_cast<std::streamsize>(context.size()));
  return status;
}
