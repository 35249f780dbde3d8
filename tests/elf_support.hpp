// Support for the ELF writer tests: converting record-built programs to ELF through the
// context file, running the binutils, LLVM and gdb tools on the result, and the image that the
// OBJECT records of a context file describe.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/sinks/ctx_feed.hpp"
#include "elf/model.hpp"
#include "elf/sink.hpp"
#include "format/ctx/ctxfile.hpp"
#include "format/teka/processors.hpp"
#include "optional_tools.hpp"
#include "support.hpp"

namespace elftest {

using tektest::Bytes;

// The processor code that the converter gives a UNIT record's processor name.
inline int processor_code(const std::string& name) {
  if (name.rfind("H8", 0) == 0) return tek::PROC_H8S2600;
  if (name.rfind("SH", 0) == 0) return tek::PROC_SH7032;
  int code = tek::processor_code_in(name.c_str());
  return code < 0 ? 0 : code;
}

struct ElfResult {
  Bytes elf;
  std::vector<std::string> warnings;
};

// Feeds a context file to an ELF sink; the units (by modix) are of the given processors.
inline ElfResult elf_of_ctx(const Bytes& ctx, const std::map<uint32_t, int>& processors,
                            int address_form = -1) {
  tek::ElfSink sink;
  EXPECT_TRUE(tek::feed_ctx(ctx, sink));
  for (const auto& [modix, proc] : processors) {
    sink.unit_processor(modix, proc);
    if (address_form >= 0) sink.unit_address_form(modix, address_form);
  }
  ElfResult r;
  sink.finish([&](const uint8_t* p, size_t n) { r.elf.insert(r.elf.end(), p, p + n); });
  for (const tek::ElfWarning& w : sink.warnings()) r.warnings.push_back(w.text);
  return r;
}

struct ToolRun {
  int status = -1;
  std::string out;  // standard output and standard error
};

inline ToolRun run(const std::string& command) {
  const tektest::ShellRun r = tektest::run_shell(command + " 2>&1");
  return ToolRun{r.status, r.out};
}

inline bool have(const std::string& tool) {
  return run("command -v " + tool + " >/dev/null").status == 0;
}

inline void write_bytes(const std::string& path, const Bytes& b) {
  tektest::write_file(path, std::string(b.begin(), b.end()));
}

// The bytes that the OBJECT records of a context file place, from the lowest address to the
// highest, gaps filled with 0 (what objcopy -O binary writes); base receives the lowest
// address.
inline Bytes object_image(const Bytes& ctx, uint32_t& base) {
  std::map<uint32_t, uint8_t> bytes;
  tek::CtxReader r{ctx};
  tek::CtxRecord rec;
  while (tek::read_record(r, rec) == tek::CtxStep::Record)
    if (rec.tag == tek::TAG_OBJECT) {
      const tek::ObjectValue& o = rec.value<tek::ObjectValue>();
      for (uint32_t i = 0; i < o.length; ++i) bytes[o.addr + i] = o.data[i];
    }
  Bytes image;
  if (bytes.empty()) return image;
  base = bytes.begin()->first;
  image.resize(bytes.rbegin()->first - base + 1);
  for (const auto& [a, v] : bytes) image[a - base] = v;
  return image;
}

struct Segment {
  uint32_t type, offset, vaddr, filesz, align;
};

// The program headers of an ELF32 file.
inline std::vector<Segment> segments(const Bytes& elf) {
  const bool big = elf.size() > 5 && elf[5] == 2;
  auto get = [&](size_t at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
      uint32_t byte = at + i < elf.size() ? elf[at + i] : 0;
      v |= big ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
    }
    return v;
  };
  std::vector<Segment> out;
  const uint32_t phoff = get(28, 4), phentsize = get(42, 2), phnum = get(44, 2);
  for (uint32_t i = 0; i < phnum; ++i) {
    const size_t at = phoff + size_t{i} * phentsize;
    out.push_back({get(at, 4), get(at + 4, 4), get(at + 8, 4), get(at + 16, 4), get(at + 28, 4)});
  }
  return out;
}

// The image through GNU objcopy -O binary, by the file's byte order (a host objcopy knows few
// machines); empty when objcopy fails.
inline Bytes objcopy_image(const std::string& path) {
  const Bytes elf = tektest::file_bytes(path);
  const std::string generic = elf.size() > 5 && elf[5] == 2 ? "elf32-big" : "elf32-little";
  ToolRun r = run("objcopy -I " + generic + " -O binary " + path + " " + path + ".bin");
  EXPECT_EQ(r.status, 0) << r.out;
  return r.status == 0 ? tektest::file_bytes(path + ".bin") : Bytes();
}

}  // namespace elftest
