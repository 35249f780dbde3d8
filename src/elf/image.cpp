// The memory image of the ELF file: the OBJECT data in loadable sections over its contiguous
// address ranges, where later data overrides earlier data at the same addresses.
#include "elf/image.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <queue>

#include "format/elf/constants.hpp"

namespace tek {

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

std::vector<ImagePart> image_sections(ElfModel& m, const Program& p, elf::Output& out,
                                      elf::FileSpec& spec) {
  // The image: chunk addresses in linear form, wrapped in 32 bits (data that runs past the top
  // of the address space continues at 0), and loadable sections over the contiguous ranges.
  std::vector<ImageChunk>& chunks = m.image;
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
      m.warn(r.clash, msg);
    }
    // Code when a function begins in the range.
    auto fn = std::lower_bound(p.functions.begin(), p.functions.end(), r.lo,
                               [](const Function& f, uint32_t a) { return f.lo < a; });
    bool code = fn != p.functions.end() && fn->lo < r.hi;
    const size_t first = parts.size();
    range_parts(out, chunks, r, parts);
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
  return parts;
}

}  // namespace tek
