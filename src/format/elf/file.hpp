// Assembles an ELF32 executable from its sections: ELF header, one PT_LOAD program header per
// loadable section, the section contents, the section name table and the section headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace elf {

using Write = std::function<void(const uint8_t*, size_t)>;

struct Section {
  std::string name;
  uint32_t type = 0, flags = 0, addr = 0, link = 0, info = 0, align = 1, entsize = 0;
  // The contents: the bytes, or, when stream is set, size bytes that stream writes (large data
  // that is not copied into one buffer).
  std::vector<uint8_t> bytes;
  uint64_t size = 0;
  std::function<void(const Write&)> stream;
  bool load = false;  // gets a PT_LOAD program header covering it

  uint64_t content_size() const { return stream ? size : bytes.size(); }
};

struct FileSpec {
  uint16_t machine = 0;
  uint32_t flags = 0;
  bool big_endian = false;
  uint32_t entry = 0;
  std::vector<Section> sections;  // without the null section and the section name table
};

// Writes the file as consecutive pieces. Section indices in the file are the positions in
// spec.sections plus 1 (index 0 is the null section); the section name table comes last.
void write_file(const FileSpec& spec, const Write& write);

}  // namespace elf
