// The symbol table of the ELF file: a file symbol per module with its local symbols, the ARM
// mapping symbols, then the global symbols.
#include "elf/symbols.hpp"

#include <algorithm>

#include "format/elf/constants.hpp"
#include "format/elf/strings.hpp"

namespace tek {

void symbol_sections(const ElfModel& m, const Program& p, const std::vector<ImagePart>& parts,
                     elf::FileSpec& spec) {
  const bool be = p.target.big_endian;
  auto section_of = [&](uint32_t addr) -> uint32_t {
    auto it = std::upper_bound(parts.begin(), parts.end(), addr,
                               [](uint32_t a, const ImagePart& r) { return a < r.lo; });
    if (it == parts.begin()) return elf::SHN_ABS;
    --it;
    return addr < it->hi ? static_cast<uint32_t>(it - parts.begin() + 1) : elf::SHN_ABS;
  };

  // ARM: code from an address flag 1 on is Thumb code, from a flag 0 on ARM code.
  std::vector<std::pair<uint32_t, bool>> thumb_from;
  if (p.target.machine == elf::EM_ARM) {
    for (const AddrFlagValue& af : m.addr_flags) thumb_from.push_back({p.linear(af.addr), af.flag});
    std::stable_sort(thumb_from.begin(), thumb_from.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  auto thumb = [&](uint32_t addr) {
    auto it = std::upper_bound(thumb_from.begin(), thumb_from.end(), addr,
                               [](uint32_t a, const auto& f) { return a < f.first; });
    return it != thumb_from.begin() && std::prev(it)->second;
  };

  // .strtab holds each string once. Equal names of the records have equal numbers, so a name's
  // offset is kept by its number; the other strings (module names, mapping symbols) are looked
  // up among the names first, and those that are none are found by the table itself.
  elf::StringTable strtab(true);
  constexpr uint32_t NONE = UINT32_MAX;
  std::vector<uint32_t> str_of_name(m.names.size(), NONE);
  auto name_str = [&](Name n) {
    if (n.empty()) return uint32_t{0};
    uint32_t& offset = str_of_name[n.id];
    if (offset == NONE) offset = strtab.append(m.name(n));
    return offset;
  };
  auto other_str = [&](std::string_view s) {
    if (s.empty()) return uint32_t{0};
    const Name n = m.names.find(s);
    return n.empty() ? strtab.add(s) : name_str(n);
  };
  // Symbols: per module a file symbol and its local symbols, then the global ones. A symbol in
  // a section from SHN_LORESERVE on has SHN_XINDEX, its index in .symtab_shndx. They are
  // counted first, so that the table is made once and filled in place.
  const size_t symbols = 1 + p.cus.size() + m.publics.size() + m.addr_flags.size();
  std::vector<uint8_t> symtab(symbols * elf::SYM_SIZE);
  size_t written = 0;
  std::vector<std::pair<uint32_t, uint32_t>> extended;  // symbol index, section index
  auto sym = [&](uint32_t name, uint32_t value, uint32_t size, uint8_t bind, uint8_t type,
                 uint32_t section) {
    const bool reserved = section >= elf::SHN_LORESERVE && section != elf::SHN_ABS;
    if (reserved) extended.push_back({static_cast<uint32_t>(written), section});
    const uint16_t shndx = static_cast<uint16_t>(reserved ? elf::SHN_XINDEX : section);
    uint8_t* at = symtab.data() + written++ * elf::SYM_SIZE;
    elf::store_u32(at, name, be);
    elf::store_u32(at + 4, value, be);
    elf::store_u32(at + 8, size, be);
    at[12] = static_cast<uint8_t>(bind << 4 | type);
    at[13] = 0;
    at[14] = static_cast<uint8_t>(be ? shndx >> 8 : shndx);
    at[15] = static_cast<uint8_t>(be ? shndx : shndx >> 8);
  };
  sym(0, 0, 0, 0, 0, elf::SHN_UNDEF);
  // The function of each PUBLIC record, by its index.
  std::vector<const Function*> function_of(m.publics.size(), nullptr);
  for (const Function& f : p.functions)
    if (f.pub) function_of[f.pub_index] = &f;
  // A symbol's size ends by the top of the address space.
  auto within = [](uint32_t addr, uint64_t size) {
    return static_cast<uint32_t>(std::min(size, (uint64_t{1} << 32) - addr));
  };
  auto public_sym = [&](size_t index, uint8_t bind) {
    const PublicRec& pub = m.publics[index];
    uint32_t addr = p.linear(pub.addr);
    if (const Function* f = function_of[index]) {
      uint64_t size = f->scope ? f->hi - f->lo : 0;
      // The ARM ELF ABI marks a Thumb function by bit 0 of its symbol's value.
      sym(name_str(pub.name), thumb(addr) ? addr | 1 : addr, within(addr, size), bind,
          elf::STT_FUNC, section_of(addr));
    } else {
      const TypeRec* t = p.type(pub.typeix);
      bool untyped = !t || t->t.kind == K_VOID;
      sym(name_str(pub.name), addr, within(addr, p.type_size(pub.typeix)), bind,
          untyped ? elf::STT_NOTYPE : elf::STT_OBJECT, section_of(addr));
    }
  };
  // The local symbols by unit, in record order within each: counted, then placed.
  std::vector<uint32_t> locals_from(p.cus.size() + 1, 0);
  std::vector<uint32_t> cu_of_public(m.publics.size());
  for (size_t i = 0; i < m.publics.size(); ++i)
    if (m.publics[i].cls != 1) {
      cu_of_public[i] = static_cast<uint32_t>(p.cu_of_modix(m.publics[i].modix));
      ++locals_from[cu_of_public[i] + 1];
    }
  for (size_t cu = 0; cu < p.cus.size(); ++cu) locals_from[cu + 1] += locals_from[cu];
  std::vector<uint32_t> locals(locals_from.back());
  {
    std::vector<uint32_t> next(locals_from.begin(), locals_from.end() - 1);
    for (size_t i = 0; i < m.publics.size(); ++i)
      if (m.publics[i].cls != 1) locals[next[cu_of_public[i]]++] = static_cast<uint32_t>(i);
  }
  for (size_t cu = 0; cu < p.cus.size(); ++cu) {
    sym(other_str(m.modules[cu].name), 0, 0, elf::STB_LOCAL, elf::STT_FILE, elf::SHN_ABS);
    for (uint32_t k = locals_from[cu]; k < locals_from[cu + 1]; ++k)
      public_sym(locals[k], elf::STB_LOCAL);
  }
  // ARM address flags: flag 1 starts Thumb code, flag 0 ARM code ($t and $a mapping symbols).
  for (const AddrFlagValue& af : m.addr_flags) {
    const uint32_t addr = p.linear(af.addr);
    sym(other_str(af.flag ? "$t" : "$a"), addr, 0, elf::STB_LOCAL, elf::STT_NOTYPE,
        section_of(addr));
  }
  const uint32_t first_global = static_cast<uint32_t>(written);
  for (size_t i = 0; i < m.publics.size(); ++i)
    if (m.publics[i].cls == 1) public_sym(i, elf::STB_GLOBAL);

  const uint32_t symtab_index = static_cast<uint32_t>(spec.sections.size() + 1);
  elf::Section st;
  st.name = ".symtab";
  st.type = elf::SHT_SYMTAB;
  st.link = symtab_index + (extended.empty() ? 1 : 2);
  st.info = first_global;
  st.align = 4;
  st.entsize = elf::SYM_SIZE;
  st.bytes = std::move(symtab);
  spec.sections.push_back(std::move(st));
  if (!extended.empty()) {
    elf::Bytes shndx(be);  // one word per symbol, 0 unless its st_shndx is SHN_XINDEX
    shndx.data().resize(symbols * 4);
    for (const auto& [index, section] : extended) shndx.patch_u32(index * 4, section);
    elf::Section x;
    x.name = ".symtab_shndx";
    x.type = elf::SHT_SYMTAB_SHNDX;
    x.link = symtab_index;
    x.align = 4;
    x.entsize = 4;
    x.bytes = std::move(shndx.data());
    spec.sections.push_back(std::move(x));
  }
  elf::Section str;
  str.name = ".strtab";
  str.type = elf::SHT_STRTAB;
  str.bytes = std::move(strtab.bytes().data());
  spec.sections.push_back(std::move(str));
}

}  // namespace tek
