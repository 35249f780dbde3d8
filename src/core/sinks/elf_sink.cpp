#include "core/sinks/elf_sink.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <queue>

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

// Bytes of the image that lie in the file one after the other: [addr, addr + len) at offset.
struct Piece {
  uint32_t addr;
  uint64_t len;
  uint64_t offset;
};

// The pieces of a range in address order: for each address, the bytes of the latest chunk
// that holds it (the greatest offset), joined where they continue each other in the file.
std::vector<Piece> range_pieces(const std::vector<ImageChunk>& chunks, const ImageRange& r) {
  std::vector<Piece> pieces;
  auto emit = [&](uint64_t addr, uint64_t len, uint64_t offset) {
    if (!pieces.empty()) {
      Piece& p = pieces.back();
      if (p.addr + p.len == addr && p.offset + p.len == offset) {
        p.len += len;
        return;
      }
    }
    pieces.push_back({static_cast<uint32_t>(addr), len, offset});
  };
  if (!r.overlaps) {
    for (size_t i = r.first; i < r.last; ++i) emit(chunks[i].addr, chunks[i].len, chunks[i].offset);
    return pieces;
  }
  // The chunks that hold the current address, the latest on top; those that end before it
  // are dropped when they come to the top.
  auto older = [&](size_t a, size_t b) { return chunks[a].offset < chunks[b].offset; };
  std::priority_queue<size_t, std::vector<size_t>, decltype(older)> active(older);
  size_t next = r.first;
  for (uint64_t at = r.lo; at < r.hi;) {
    for (; next < r.last && chunks[next].addr <= at; ++next) active.push(next);
    while (uint64_t{chunks[active.top()].addr} + chunks[active.top()].len <= at) active.pop();
    const ImageChunk& c = chunks[active.top()];
    uint64_t end = uint64_t{c.addr} + c.len;
    if (next < r.last) end = std::min<uint64_t>(end, chunks[next].addr);
    emit(at, end - at, c.offset + (at - c.addr));
    at = end;
  }
  return pieces;
}

// Copies the pieces one after the other to the end of the output, in batches of bounded size:
// each batch reads its pieces in file order through a window. Returns the offset of the copy.
uint64_t assemble(elf::Output& out, const Piece* pieces, size_t count) {
  constexpr uint64_t BATCH = 1 << 20, WINDOW = 1 << 20;
  struct Copy {
    uint64_t from;
    uint64_t len;
    size_t to;  // in the batch
  };
  const uint64_t at = out.size(), end = out.size();
  std::vector<uint8_t> batch, window;
  std::vector<Copy> copies;
  size_t i = 0;
  uint64_t done = 0;  // of piece i
  while (i < count) {
    copies.clear();
    size_t fill = 0;
    for (; i < count && fill < BATCH;) {
      const uint64_t n = std::min(pieces[i].len - done, BATCH - fill);
      copies.push_back({pieces[i].offset + done, n, fill});
      fill += n;
      done += n;
      if (done == pieces[i].len) {
        ++i;
        done = 0;
      }
    }
    std::sort(copies.begin(), copies.end(),
              [](const Copy& a, const Copy& b) { return a.from < b.from; });
    batch.resize(fill);
    uint64_t wlo = 0, whi = 0;
    for (const Copy& c : copies) {
      if (c.len >= WINDOW) {
        out.read(c.from, batch.data() + c.to, c.len);
        continue;
      }
      if (c.from < wlo || c.from + c.len > whi) {
        wlo = c.from;
        whi = std::min(wlo + WINDOW, end);
        window.resize(whi - wlo);
        out.read(wlo, window.data(), window.size());
      }
      std::memcpy(batch.data() + c.to, window.data() + (c.from - wlo), c.len);
    }
    out.append(batch.data(), batch.size());
  }
  return at;
}

// A piece shorter than its own section header, program header and name (87 bytes) takes less
// room copied: consecutive short pieces are copied together into one section.
constexpr uint64_t MIN_PIECE = 88;

// A loadable section of the image: [lo, hi) at offset in the file.
struct ImagePart {
  uint32_t lo;
  uint64_t hi;
  uint64_t offset;
};

// The parts of a range: the range itself where its chunks lie in the file in order, else its
// pieces, used where they are, and runs of short pieces copied together.
void range_parts(elf::Output& out, const std::vector<ImageChunk>& chunks, const ImageRange& r,
                 std::vector<ImagePart>& parts) {
  if (r.in_place) {
    parts.push_back({r.lo, r.hi, chunks[r.first].offset});
    return;
  }
  const std::vector<Piece> pieces = range_pieces(chunks, r);
  for (size_t i = 0; i < pieces.size();) {
    size_t j = i + 1;
    if (pieces[i].len < MIN_PIECE)
      while (j < pieces.size() && pieces[j].len < MIN_PIECE) ++j;
    const uint64_t lo = pieces[i].addr, hi = pieces[j - 1].addr + pieces[j - 1].len;
    const uint64_t offset = j - i > 1 ? assemble(out, &pieces[i], j - i) : pieces[i].offset;
    parts.push_back({static_cast<uint32_t>(lo), hi, offset});
    i = j;
  }
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

  // The image: chunk addresses in linear form, wrapped in 32 bits (data that runs past the top
  // of the address space continues at 0), and loadable sections over the contiguous ranges.
  std::vector<ImageChunk>& chunks = m_->image;
  for (size_t i = 0, n = chunks.size(); i < n; ++i) {
    ImageChunk& c = chunks[i];
    c.addr = p.linear(c.addr);
    const uint64_t room = (uint64_t{1} << 32) - c.addr;
    if (c.len > room) {
      const ImageChunk rest{0, static_cast<uint32_t>(c.len - room), c.offset + room, c.at};
      c.len = static_cast<uint32_t>(room);
      chunks.push_back(rest);
    }
  }
  std::vector<ImageRange> ranges = image_ranges(chunks);
  std::vector<ImagePart> parts;
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
    const size_t first = parts.size();
    range_parts(*out_, chunks, r, parts);
    for (size_t i = first; i < parts.size(); ++i) {
      const ImagePart& part = parts[i];
      char name[32];
      std::snprintf(name, sizeof name, "%s.%08X", code ? ".text" : ".data", part.lo);
      elf::Section s;
      s.name = name;
      s.type = elf::SHT_PROGBITS;
      s.flags = elf::SHF_ALLOC | elf::SHF_WRITE | (code ? elf::SHF_EXECINSTR : 0);
      s.addr = part.lo;
      s.size = part.hi - part.lo;
      s.offset = part.offset;
      s.load = true;
      spec.sections.push_back(std::move(s));
    }
  }
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
    for (const AddrFlagValue& af : m_->addr_flags)
      thumb_from.push_back({p.linear(af.addr), af.flag});
    std::stable_sort(thumb_from.begin(), thumb_from.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  auto thumb = [&](uint32_t addr) {
    auto it = std::upper_bound(thumb_from.begin(), thumb_from.end(), addr,
                               [](uint32_t a, const auto& f) { return a < f.first; });
    return it != thumb_from.begin() && std::prev(it)->second;
  };

  // Symbols: per module a file symbol and its local symbols, then the global ones. A symbol in
  // a section from SHN_LORESERVE on has SHN_XINDEX, its index in .symtab_shndx.
  elf::StringTable strtab(true);
  elf::Bytes symtab(be);
  std::vector<std::pair<uint32_t, uint32_t>> extended;  // symbol index, section index
  auto sym = [&](std::string_view name, uint32_t value, uint32_t size, uint8_t bind, uint8_t type,
                 uint32_t section) {
    const bool reserved = section >= elf::SHN_LORESERVE && section != elf::SHN_ABS;
    symtab.u32(name.empty() ? 0 : strtab.add(name));
    symtab.u32(value);
    symtab.u32(size);
    symtab.u8(static_cast<uint8_t>(bind << 4 | type));
    symtab.u8(0);
    symtab.u16(reserved ? elf::SHN_XINDEX : section);
    if (reserved)
      extended.push_back({static_cast<uint32_t>(symtab.size() / elf::SYM_SIZE - 1), section});
  };
  sym("", 0, 0, 0, 0, elf::SHN_UNDEF);
  std::unordered_map<const PublicValue*, const Function*> function_of;
  for (const Function& f : p.functions)
    if (f.pub) function_of[f.pub] = &f;
  // A symbol's size ends by the top of the address space.
  auto within = [](uint32_t addr, uint64_t size) {
    return static_cast<uint32_t>(std::min(size, (uint64_t{1} << 32) - addr));
  };
  auto public_sym = [&](const PublicValue& pub, uint8_t bind) {
    uint32_t addr = p.linear(pub.addr);
    auto f = function_of.find(&pub);
    if (f != function_of.end()) {
      uint64_t size = f->second->scope ? f->second->hi - f->second->lo : 0;
      // The ARM ELF ABI marks a Thumb function by bit 0 of its symbol's value.
      sym(pub.name, thumb(addr) ? addr | 1 : addr, within(addr, size), bind, elf::STT_FUNC,
          section_of(addr));
    } else {
      const TypeRec* t = p.type(pub.typeix);
      bool untyped = !t || t->t.kind == K_VOID;
      sym(pub.name, addr, within(addr, p.type_size(pub.typeix)), bind,
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
  for (const AddrFlagValue& af : m_->addr_flags) {
    const uint32_t addr = p.linear(af.addr);
    sym(af.flag ? "$t" : "$a", addr, 0, elf::STB_LOCAL, elf::STT_NOTYPE, section_of(addr));
  }
  uint32_t first_global = static_cast<uint32_t>(symtab.size() / elf::SYM_SIZE);
  for (const PublicValue& pub : m_->publics)
    if (pub.cls == 1) public_sym(pub, elf::STB_GLOBAL);

  const uint32_t symtab_index = static_cast<uint32_t>(spec.sections.size() + 1);
  elf::Section st;
  st.name = ".symtab";
  st.type = elf::SHT_SYMTAB;
  st.link = symtab_index + (extended.empty() ? 1 : 2);
  const size_t symbols = symtab.size() / elf::SYM_SIZE;
  st.info = first_global;
  st.align = 4;
  st.entsize = elf::SYM_SIZE;
  st.bytes = std::move(symtab.data());
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
  str.bytes = strtab.bytes().data();
  spec.sections.push_back(std::move(str));

  DebugSections dbg = build_dwarf(*m_, p, out_);
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
  if (dbg.info_size) {
    elf::Section s;
    s.name = ".debug_info";
    s.type = elf::SHT_PROGBITS;
    s.offset = dbg.info_offset;
    s.size = dbg.info_size;
    spec.sections.push_back(std::move(s));
  }
  debug(".debug_str", dbg.str, true);
  debug(".debug_line", dbg.line);
  debug(".debug_aranges", dbg.aranges);
  debug(".debug_ranges", dbg.ranges);

  elf::write_file(spec, *out_);
}

}  // namespace tek
