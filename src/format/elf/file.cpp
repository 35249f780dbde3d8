#include "format/elf/file.hpp"

#include <unordered_map>

#include "format/elf/bytes.hpp"
#include "format/elf/constants.hpp"

namespace elf {

namespace {

constexpr uint8_t ZEROS[16] = {};

void write_padding(const Write& write, uint64_t n) {
  while (n) {
    size_t k = n < sizeof ZEROS ? static_cast<size_t>(n) : sizeof ZEROS;
    write(ZEROS, k);
    n -= k;
  }
}

uint64_t align_up(uint64_t v, uint32_t a) {
  return a > 1 ? (v + a - 1) / a * a : v;
}

}  // namespace

void write_file(const FileSpec& spec, const Write& write) {
  // The section name table, names shared where equal.
  Bytes shstrtab;
  shstrtab.u8(0);
  std::unordered_map<std::string, uint32_t> name_at;
  std::vector<uint32_t> name_offsets;
  auto add_name = [&](const std::string& n) {
    auto [it, fresh] = name_at.try_emplace(n, static_cast<uint32_t>(shstrtab.size()));
    if (fresh) shstrtab.str(n);
    return it->second;
  };
  for (const Section& s : spec.sections) name_offsets.push_back(add_name(s.name));
  uint32_t shstrtab_name = add_name(".shstrtab");

  size_t loads = 0;
  for (const Section& s : spec.sections) loads += s.load;

  // File offsets: headers, then the contents in section order, then the section headers.
  uint64_t pos = EHDR_SIZE + PHDR_SIZE * loads;
  std::vector<uint64_t> offsets;
  for (const Section& s : spec.sections) {
    pos = align_up(pos, s.align);
    offsets.push_back(pos);
    pos += s.content_size();
  }
  uint64_t shstrtab_offset = pos;
  pos += shstrtab.size();
  uint64_t shoff = align_up(pos, 4);
  uint32_t shnum = static_cast<uint32_t>(spec.sections.size()) + 2;

  Bytes h(spec.big_endian);
  const uint8_t ident[16] = {
      0x7F, 'E', 'L', 'F', ELFCLASS32, spec.big_endian ? ELFDATA2MSB : ELFDATA2LSB, EV_CURRENT};
  for (uint8_t c : ident) h.u8(c);
  h.u16(ET_EXEC);
  h.u16(spec.machine);
  h.u32(EV_CURRENT);
  h.u32(spec.entry);
  h.u32(loads ? EHDR_SIZE : 0);
  h.u32(static_cast<uint32_t>(shoff));
  h.u32(spec.flags);
  h.u16(EHDR_SIZE);
  h.u16(PHDR_SIZE);
  h.u16(static_cast<uint16_t>(loads));
  h.u16(SHDR_SIZE);
  h.u16(static_cast<uint16_t>(shnum));
  h.u16(static_cast<uint16_t>(shnum - 1));  // the section name table is the last section

  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const Section& s = spec.sections[i];
    if (!s.load) continue;
    uint32_t size = static_cast<uint32_t>(s.content_size());
    h.u32(PT_LOAD);
    h.u32(static_cast<uint32_t>(offsets[i]));
    h.u32(s.addr);  // p_vaddr
    h.u32(s.addr);  // p_paddr: loaded where it runs
    h.u32(size);
    h.u32(size);
    h.u32(PF_R | ((s.flags & SHF_WRITE) ? PF_W : 0) | ((s.flags & SHF_EXECINSTR) ? PF_X : 0));
    h.u32(s.align);
  }
  write(h.data().data(), h.size());

  uint64_t at = h.size();
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const Section& s = spec.sections[i];
    write_padding(write, offsets[i] - at);
    if (s.stream)
      s.stream(write);
    else if (!s.bytes.empty())
      write(s.bytes.data(), s.bytes.size());
    at = offsets[i] + s.content_size();
  }
  write(shstrtab.data().data(), shstrtab.size());
  write_padding(write, shoff - (shstrtab_offset + shstrtab.size()));

  Bytes sh(spec.big_endian);
  auto header = [&](uint32_t name, uint32_t type, uint32_t flags, uint32_t addr, uint64_t offset,
                    uint64_t size, uint32_t link, uint32_t info, uint32_t align, uint32_t entsize) {
    sh.u32(name);
    sh.u32(type);
    sh.u32(flags);
    sh.u32(addr);
    sh.u32(static_cast<uint32_t>(offset));
    sh.u32(static_cast<uint32_t>(size));
    sh.u32(link);
    sh.u32(info);
    sh.u32(align);
    sh.u32(entsize);
  };
  header(0, SHT_NULL, 0, 0, 0, 0, 0, 0, 0, 0);
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const Section& s = spec.sections[i];
    header(name_offsets[i], s.type, s.flags, s.addr, offsets[i], s.content_size(), s.link, s.info,
           s.align, s.entsize);
  }
  header(shstrtab_name, SHT_STRTAB, 0, 0, shstrtab_offset, shstrtab.size(), 0, 0, 1, 0);
  write(sh.data().data(), sh.size());
}

}  // namespace elf
