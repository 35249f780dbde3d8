// Assembles an ELF32 executable from its sections. The contents of a section are either already
// in the output (large data written as it arrived) or appended here; then come the section name
// table, the section headers and the program headers (one PT_LOAD per loadable section), and the
// ELF header is written last at offset 0, where room for it was left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace elf {

// The file being written: appended to in order; what it holds can be read back and overwritten.
class Output {
 public:
  virtual ~Output() = default;
  uint64_t size() const { return size_; }
  void append(const uint8_t* p, size_t n) {
    put(p, n);
    size_ += n;
  }
  void append_zeros(uint64_t n);
  void pad_to(uint32_t alignment) {
    if (alignment > 1) append_zeros((alignment - size_ % alignment) % alignment);
  }
  virtual void read(uint64_t at, uint8_t* p, size_t n) = 0;
  virtual void overwrite(uint64_t at, const uint8_t* p, size_t n) = 0;

 protected:
  virtual void put(const uint8_t* p, size_t n) = 0;

 private:
  uint64_t size_ = 0;
};

// The file in a byte vector, which it replaces.
class MemoryOutput : public Output {
 public:
  explicit MemoryOutput(std::vector<uint8_t>& bytes) : b_(bytes) { b_.clear(); }
  void read(uint64_t at, uint8_t* p, size_t n) override;
  void overwrite(uint64_t at, const uint8_t* p, size_t n) override;

 private:
  void put(const uint8_t* p, size_t n) override { b_.insert(b_.end(), p, p + n); }
  std::vector<uint8_t>& b_;
};

struct Section {
  std::string name;
  uint32_t type = 0, flags = 0, addr = 0, link = 0, info = 0, align = 1, entsize = 0;
  // The contents: size bytes already in the output at offset, or else the bytes.
  std::optional<uint64_t> offset;
  uint64_t size = 0;
  std::vector<uint8_t> bytes;
  bool load = false;  // gets a PT_LOAD program header covering it

  uint64_t content_size() const { return offset ? size : bytes.size(); }
};

struct FileSpec {
  uint16_t machine = 0;
  uint32_t flags = 0;
  bool big_endian = false;
  uint32_t entry = 0;
  std::vector<Section> sections;  // without the null section and the section name table
};

// Completes the file in out, which begins with EHDR_SIZE bytes of room for the ELF header (made
// here when out is empty). Section indices in the file are the positions in spec.sections plus
// 1 (index 0 is the null section); the section name table comes last. Counts that the ELF header
// cannot hold (65,280 sections and more, 65,535 program headers and more) are in section 0.
void write_file(const FileSpec& spec, Output& out);

}  // namespace elf
