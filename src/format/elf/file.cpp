#include "format/elf/file.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "format/elf/bytes.hpp"
#include "format/elf/constants.hpp"

namespace elf {

void Output::append_zeros(uint64_t n) {
  static constexpr uint8_t ZEROS[256] = {};
  while (n) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, sizeof ZEROS));
    append(ZEROS, k);
    n -= k;
  }
}

void MemoryOutput::read(uint64_t at, uint8_t* p, size_t n) {
  std::memcpy(p, b_.data() + at, n);
}

void MemoryOutput::overwrite(uint64_t at, const uint8_t* p, size_t n) {
  std::memcpy(b_.data() + at, p, n);
}

void write_file(const FileSpec& spec, Output& out) {
  if (out.size() < EHDR_SIZE) out.append_zeros(EHDR_SIZE - out.size());

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

  // The contents not yet in the file, in section order.
  std::vector<uint64_t> offsets;
  for (const Section& s : spec.sections) {
    if (s.offset) {
      offsets.push_back(*s.offset);
      continue;
    }
    out.pad_to(s.align);
    offsets.push_back(out.size());
    if (!s.bytes.empty()) out.append(s.bytes.data(), s.bytes.size());
  }
  uint64_t shstrtab_offset = out.size();
  out.append(shstrtab.data().data(), shstrtab.size());
  out.pad_to(4);

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
  // Counts that the ELF header cannot hold are in section 0: the number of sections in sh_size,
  // the index of the section name table in sh_link, the number of program headers in sh_info.
  const uint32_t shnum = static_cast<uint32_t>(spec.sections.size()) + 2, shstrndx = shnum - 1;
  uint32_t loads = 0;
  for (const Section& s : spec.sections) loads += s.load;
  const bool many_sections = shnum >= SHN_LORESERVE, many_loads = loads >= PN_XNUM;
  header(0, SHT_NULL, 0, 0, 0, many_sections ? shnum : 0, shstrndx >= SHN_LORESERVE ? shstrndx : 0,
         many_loads ? loads : 0, 0, 0);
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const Section& s = spec.sections[i];
    header(name_offsets[i], s.type, s.flags, s.addr, offsets[i], s.content_size(), s.link, s.info,
           s.align, s.entsize);
  }
  header(shstrtab_name, SHT_STRTAB, 0, 0, shstrtab_offset, shstrtab.size(), 0, 0, 1, 0);
  uint64_t shoff = out.size();
  out.append(sh.data().data(), sh.size());

  // Program headers after the section headers: their number is known only now, and the image
  // before them is not moved to make room. p_align of a section of alignment 1 is 1, so any
  // file offset is congruent to its address.
  Bytes ph(spec.big_endian);
  for (size_t i = 0; i < spec.sections.size(); ++i) {
    const Section& s = spec.sections[i];
    if (!s.load) continue;
    uint32_t size = static_cast<uint32_t>(s.content_size());
    ph.u32(PT_LOAD);
    ph.u32(static_cast<uint32_t>(offsets[i]));
    ph.u32(s.addr);  // p_vaddr
    ph.u32(s.addr);  // p_paddr: loaded where it runs
    ph.u32(size);
    ph.u32(size);
    ph.u32(PF_R | ((s.flags & SHF_WRITE) ? PF_W : 0) | ((s.flags & SHF_EXECINSTR) ? PF_X : 0));
    ph.u32(s.align);
  }
  uint64_t phoff = out.size();
  out.append(ph.data().data(), ph.size());

  Bytes h(spec.big_endian);
  const uint8_t ident[16] = {
      0x7F, 'E', 'L', 'F', ELFCLASS32, spec.big_endian ? ELFDATA2MSB : ELFDATA2LSB, EV_CURRENT};
  for (uint8_t c : ident) h.u8(c);
  h.u16(ET_EXEC);
  h.u16(spec.machine);
  h.u32(EV_CURRENT);
  h.u32(spec.entry);
  h.u32(loads ? static_cast<uint32_t>(phoff) : 0);
  h.u32(static_cast<uint32_t>(shoff));
  h.u32(spec.flags);
  h.u16(EHDR_SIZE);
  h.u16(PHDR_SIZE);
  h.u16(many_loads ? PN_XNUM : loads);
  h.u16(SHDR_SIZE);
  h.u16(many_sections ? 0 : shnum);
  h.u16(shstrndx >= SHN_LORESERVE ? SHN_XINDEX : shstrndx);  // the last section
  out.overwrite(0, h.data().data(), h.size());
}

}  // namespace elf
