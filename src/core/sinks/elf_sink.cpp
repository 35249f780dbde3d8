#include "core/sinks/elf_sink.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/sinks/elf_model.hpp"
#include "format/elf/constants.hpp"
#include "format/elf/file.hpp"
#include "format/elf/strings.hpp"

namespace tek {

ElfSink::ElfSink(uint64_t budget)
    : m_(std::make_unique<ElfModel>()),
      budget_{budget},
      own_(std::make_unique<elf::MemoryOutput>(own_bytes_)),
      out_(own_.get()) {
  out_->append_zeros(elf::EHDR_SIZE);
}
ElfSink::ElfSink(elf::Output& out, uint64_t budget)
    : m_(std::make_unique<ElfModel>()), budget_{budget}, out_(&out) {
  out_->append_zeros(elf::EHDR_SIZE);
}
ElfSink::~ElfSink() = default;

// A line block's rows: the rows that come next.
static Slice<LineValue> lines_from_here(const ElfModel& m) {
  return {&m.lines, static_cast<uint32_t>(m.lines.size()), 0};
}

// Main stream.
InputPlace ElfSink::here() const {
  return here_ ? here_() : InputPlace{};
}
void ElfSink::set_locator(std::function<InputPlace()> here) {
  here_ = std::move(here);
}

void ElfSink::record(const ModuleValue& v) {
  m_->modules.push_back(v);
  m_->module_at.push_back(here());
}
void ElfSink::record(const PublicValue& v) {
  budget_.charge(16);
  m_->publics.push_back(v);
}
void ElfSink::record(const FileValue& v) {
  m_->blocks.push_back({v.name, lines_from_here(*m_), m_->modules.size() - 1});
  m_->block_open = true;
}
void ElfSink::record(const LineValue& v) {
  budget_.charge(9);
  if (!m_->block_open)  // no FILE yet
    m_->blocks.push_back({"", lines_from_here(*m_), m_->modules.size() - 1});
  m_->block_open = true;
  m_->lines.push_back(v);
  ++m_->blocks.back().lines.count;
}
void ElfSink::record(const EndLineValue&) {
  m_->block_open = false;
}
void ElfSink::record(const ObjectValue& v) {
  budget_.charge(9u + v.length);
  const size_t n = std::min<size_t>(v.length, v.data.size());
  if (n == 0) return;
  // Data that continues the previous chunk in the address and in the file extends it, within
  // a 64 KiB page of the address (where the segmented forms are linear too): a large image in
  // ascending addresses is then a few chunks, not one per record.
  std::vector<ImageChunk>& image = m_->image;
  if (!image.empty()) {
    ImageChunk& last = image.back();
    const uint64_t next = uint64_t{last.addr} + last.len;
    if (next == v.addr && (v.addr >> 16) == (last.addr >> 16) && n <= UINT32_MAX - last.len &&
        last.offset + last.len == out_->size()) {
      last.len += static_cast<uint32_t>(n);
      out_->append(v.data.data(), n);
      return;
    }
  }
  image.push_back({v.addr, static_cast<uint32_t>(n), out_->size(), here()});
  out_->append(v.data.data(), n);
}
void ElfSink::record(const AddrFlagValue& v) {
  m_->addr_flags.push_back(v);
}

// Local stream.
void ElfSink::record(const StartLocalValue& v) {
  m_->scopes.push_back(
      {v.addr, std::nullopt, {&m_->locals, static_cast<uint32_t>(m_->locals.size()), 0}, here()});
  m_->scope_open = true;
}
void ElfSink::record(const EndLocalValue& v) {
  if (m_->scope_open) m_->scopes.back().end = v.addr;
  m_->scope_open = false;
}
void ElfSink::record(const SetLocalValue& v) {
  budget_.charge(10);
  const LocalRec l{v.cls, v.offset, v.typeix, m_->names.add(v.name)};
  if (m_->scope_open) {
    m_->locals.push_back(l);
    ++m_->scopes.back().locals.count;
  } else {
    m_->loose.push_back({l, static_cast<ptrdiff_t>(m_->scopes.size()) - 1});
  }
}

// Type stream.
void ElfSink::record(const TypeValue& v) {
  budget_.charge(6);
  const TypeFields t{v.kind,   v.selfix, v.size, v.retix, v.argc,
                     v.typeix, v.limit,  v.sign, v.offs,  m_->names.add(v.name)};
  m_->types.push_back({t, {static_cast<uint32_t>(m_->members.size()), 0}, here()});
}
void ElfSink::record(const MemberValue& v) {
  budget_.charge(1);
  if (m_->types.empty()) return;
  TypeRec& t = m_->types.back();
  MemberRec r;
  r.typeix = v.typeix;
  if (t.t.kind == K_ENUM) {
    r.value = v.value;
  } else if (t.t.kind == K_BITFIELD) {
    r.bitoffs = v.bitoffs;
    r.bitsize = v.bitsize;
  } else {
    r.offset = v.offset;
  }
  r.name = m_->names.add(v.name);
  m_->members.push_back(r);
  ++t.members.count;
}

void ElfSink::unit_processor(uint32_t modix, int processor) {
  m_->processor_of[modix] = processor;
}
void ElfSink::unit_address_form(uint32_t modix, int form) {
  m_->form_of[modix] = form;
}

const std::vector<ElfWarning>& ElfSink::warnings() const {
  return m_->warnings;
}

namespace {

// A contiguous address range of the image and the chunks (indices, by address) that fill it.
struct ImageRange {
  uint32_t lo;
  uint64_t hi;
  size_t first, last;  // chunk indices [first, last)
  bool overlaps;
  bool in_place;     // the chunks follow each other in the file in address order
  InputPlace clash;  // the later record of the first overlap
};

bool by_address(const ImageChunk& a, const ImageChunk& b) {
  // Chunks at one address stay in record order (their offsets grow with it).
  return a.addr != b.addr ? a.addr < b.addr : a.offset < b.offset;
}

std::vector<ImageRange> image_ranges(std::vector<ImageChunk>& chunks) {
  // Records in ascending addresses are the usual case: no sorting then.
  if (!std::is_sorted(chunks.begin(), chunks.end(), by_address))
    std::sort(chunks.begin(), chunks.end(), by_address);
  std::vector<ImageRange> ranges;
  for (size_t i = 0; i < chunks.size(); ++i) {
    const ImageChunk& c = chunks[i];
    uint64_t end = uint64_t{c.addr} + c.len;
    if (!ranges.empty() && c.addr <= ranges.back().hi) {
      ImageRange& r = ranges.back();
      if (c.addr < r.hi && !r.overlaps) {
        r.overlaps = true;
        r.clash = c.offset > chunks[i - 1].offset ? c.at : chunks[i - 1].at;
      }
      // Without overlap so far, chunk i - 1 ends at r.hi, where chunk i begins.
      if (r.overlaps || chunks[i - 1].offset + chunks[i - 1].len != c.offset) r.in_place = false;
      r.hi = std::max(r.hi, end);
      r.last = i + 1;
    } else {
      ranges.push_back({c.addr, end, i, i + 1, false, true, {}});
    }
  }
  return ranges;
}

// Lays a range's chunks down in record order, so that on overlap the later bytes win, reading
// them back from the file in windows; appends the range and returns its offset.
uint64_t assemble_range(elf::Output& out, const std::vector<ImageChunk>& chunks,
                        const ImageRange& r) {
  constexpr size_t WINDOW = 1 << 20;
  std::vector<const ImageChunk*> order;
  for (size_t i = r.first; i < r.last; ++i) order.push_back(&chunks[i]);
  std::sort(order.begin(), order.end(),
            [](const ImageChunk* a, const ImageChunk* b) { return a->offset < b->offset; });
  std::vector<uint8_t> range(r.hi - r.lo), window;
  uint64_t wlo = 0, whi = 0;
  const uint64_t end = out.size();
  for (const ImageChunk* c : order) {
    uint8_t* dst = range.data() + (c->addr - r.lo);
    if (c->len >= WINDOW) {
      out.read(c->offset, dst, c->len);
      continue;
    }
    if (c->offset < wlo || c->offset + c->len > whi) {
      wlo = c->offset;
      whi = std::min<uint64_t>(wlo + WINDOW, end);
      window.resize(whi - wlo);
      out.read(wlo, window.data(), window.size());
    }
    std::memcpy(dst, window.data() + (c->offset - wlo), c->len);
  }
  const uint64_t at = out.size();
  out.append(range.data(), range.size());
  return at;
}

}  // namespace

void ElfSink::finish(const std::function<void(const uint8_t*, size_t)>& write) {
  finish();
  if (own_) write(own_bytes_.data(), own_bytes_.size());
}

void ElfSink::finish() {
  Program p = derive_program(*m_);
  bool be = p.target.big_endian;
  elf::FileSpec spec;
  spec.machine = p.target.machine;
  spec.flags = p.target.flags;
  spec.big_endian = be;

  // The image: chunk addresses in linear form, one loadable section per contiguous range. A
  // range whose chunks lie in the file one after the other in address order is used where it
  // is; any other range is assembled and appended.
  std::vector<ImageChunk>& chunks = m_->image;
  for (ImageChunk& c : chunks) c.addr = p.linear(c.addr);
  std::vector<ImageRange> ranges = image_ranges(chunks);
  for (const ImageRange& r : ranges) {
    if (r.overlaps) {
      char msg[128];
      std::snprintf(msg, sizeof msg,
                    "OBJECT data overlap in 0x%08X-0x%08llX: the later bytes are kept", r.lo,
                    static_cast<unsigned long long>(r.hi - 1));
      m_->warn(r.clash, msg);
    }
    // Code when a function begins in the range.
    auto fn = std::lower_bound(p.functions.begin(), p.functions.end(), r.lo,
                               [](const Function& f, uint32_t a) { return f.lo < a; });
    bool code = fn != p.functions.end() && fn->lo < r.hi;
    char name[32];
    std::snprintf(name, sizeof name, "%s.%08X", code ? ".text" : ".data", r.lo);
    elf::Section s;
    s.name = name;
    s.type = elf::SHT_PROGBITS;
    s.flags = elf::SHF_ALLOC | elf::SHF_WRITE | (code ? elf::SHF_EXECINSTR : 0);
    s.addr = r.lo;
    s.size = r.hi - r.lo;
    s.offset = r.in_place ? chunks[r.first].offset : assemble_range(*out_, chunks, r);
    s.load = true;
    spec.sections.push_back(std::move(s));
  }
  auto section_of = [&](uint32_t addr) -> uint16_t {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), addr,
                               [](uint32_t a, const ImageRange& r) { return a < r.lo; });
    if (it == ranges.begin()) return elf::SHN_ABS;
    --it;
    return addr < it->hi ? static_cast<uint16_t>(it - ranges.begin() + 1) : elf::SHN_ABS;
  };

  // Symbols: per module a file symbol and its local symbols, then the global ones.
  elf::StringTable strtab(true);
  elf::Bytes symtab(be);
  auto sym = [&](std::string_view name, uint32_t value, uint32_t size, uint8_t bind, uint8_t type,
                 uint16_t shndx) {
    symtab.u32(name.empty() ? 0 : strtab.add(name));
    symtab.u32(value);
    symtab.u32(size);
    symtab.u8(static_cast<uint8_t>(bind << 4 | type));
    symtab.u8(0);
    symtab.u16(shndx);
  };
  sym("", 0, 0, 0, 0, elf::SHN_UNDEF);
  std::unordered_map<const PublicValue*, const Function*> function_of;
  for (const Function& f : p.functions)
    if (f.pub) function_of[f.pub] = &f;
  auto public_sym = [&](const PublicValue& pub, uint8_t bind) {
    uint32_t addr = p.linear(pub.addr);
    auto f = function_of.find(&pub);
    if (f != function_of.end()) {
      uint32_t size = f->second->scope ? static_cast<uint32_t>(f->second->hi - f->second->lo) : 0;
      sym(pub.name, addr, size, bind, elf::STT_FUNC, section_of(addr));
    } else {
      const TypeRec* t = p.type(pub.typeix);
      bool untyped = !t || t->t.kind == K_VOID;
      sym(pub.name, addr, static_cast<uint32_t>(p.type_size(pub.typeix)), bind,
          untyped ? elf::STT_NOTYPE : elf::STT_OBJECT, section_of(addr));
    }
  };
  std::vector<std::vector<const PublicValue*>> locals_of(p.cus.size());
  for (const PublicValue& pub : m_->publics)
    if (pub.cls != 1) locals_of[p.cu_of_modix(pub.modix)].push_back(&pub);
  for (size_t cu = 0; cu < p.cus.size(); ++cu) {
    sym(m_->modules[cu].name, 0, 0, elf::STB_LOCAL, elf::STT_FILE, elf::SHN_ABS);
    for (const PublicValue* pub : locals_of[cu]) public_sym(*pub, elf::STB_LOCAL);
  }
  // ARM address flags: flag 1 starts Thumb code, flag 0 ARM code ($t and $a mapping symbols).
  for (const AddrFlagValue& af : m_->addr_flags)
    sym(af.flag ? "$t" : "$a", af.addr, 0, elf::STB_LOCAL, elf::STT_NOTYPE, section_of(af.addr));
  uint32_t first_global = static_cast<uint32_t>(symtab.size() / elf::SYM_SIZE);
  for (const PublicValue& pub : m_->publics)
    if (pub.cls == 1) public_sym(pub, elf::STB_GLOBAL);

  uint32_t symtab_index = static_cast<uint32_t>(spec.sections.size() + 1);
  elf::Section st;
  st.name = ".symtab";
  st.type = elf::SHT_SYMTAB;
  st.link = symtab_index + 1;
  st.info = first_global;
  st.align = 4;
  st.entsize = elf::SYM_SIZE;
  st.bytes = std::move(symtab.data());
  spec.sections.push_back(std::move(st));
  elf::Section str;
  str.name = ".strtab";
  str.type = elf::SHT_STRTAB;
  str.bytes = strtab.bytes().data();
  spec.sections.push_back(std::move(str));

  DebugSections dbg = build_dwarf(*m_, p);
  auto debug = [&](const char* name, std::vector<uint8_t>& bytes, bool strings = false) {
    if (bytes.empty()) return;
    elf::Section s;
    s.name = name;
    s.type = elf::SHT_PROGBITS;
    if (strings) {
      s.flags = elf::SHF_MERGE | elf::SHF_STRINGS;
      s.entsize = 1;
    }
    s.bytes = std::move(bytes);
    spec.sections.push_back(std::move(s));
  };
  debug(".debug_abbrev", dbg.abbrev);
  debug(".debug_info", dbg.info);
  debug(".debug_str", dbg.str, true);
  debug(".debug_line", dbg.line);
  debug(".debug_aranges", dbg.aranges);
  debug(".debug_ranges", dbg.ranges);

  elf::write_file(spec, *out_);
}

}  // namespace tek
