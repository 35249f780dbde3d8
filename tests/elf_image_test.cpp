// The memory image of the ELF file as the command line writes it (OBJECT data to the file as it
// arrives, used in place or read back and assembled) and as the library writes it in memory:
// objcopy reproduces the image the OBJECT records describe, the two outputs are the same bytes,
// and every segment's file offset is valid for its address.
#include <map>

#include "core/output.hpp"
#include "elf/output.hpp"
#include "elf_support.hpp"
#include "tekconv/tekconv.hpp"

using namespace elftest;

namespace {

class ElfImage : public tektest::TempDirTest {};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 9));
  return v;
}

// DATA records of at most 0x1000 bytes for a block.
void data(tekrec::Builder& b, const Bytes& block) {
  for (size_t at = 0; at < block.size(); at += 0x1000)
    b.data(Bytes(block.begin() + at, block.begin() + std::min(block.size(), at + 0x1000)));
}

void check_segments(const Bytes& elf) {
  std::vector<Segment> segs = segments(elf);
  EXPECT_FALSE(segs.empty());
  for (const Segment& s : segs) {
    EXPECT_EQ(s.type, 1u);  // PT_LOAD
    ASSERT_GT(s.align, 0u);
    EXPECT_EQ(s.offset % s.align, s.vaddr % s.align);
    EXPECT_LE(uint64_t{s.offset} + s.filesz, elf.size());
  }
}

TEST_F(ElfImage, CommandLineAndLibraryAgreeWithTheRecords) {
  TEKTEST_REQUIRE_TOOL("objcopy");
  struct Case {
    const char* what;
    const char* processor;
    bool in_order;  // ascending addresses: the image is used where it was written
    tekrec::Builder b;
  };
  std::vector<Case> cases;
  {
    // Two adjacent sections in ascending order, DATA crossing 64 KiB pages, ZERO, REPEAT.
    tekrec::Builder b;
    b.hdr().unit("m", "MC68000", 2, 0x04).cl(0x1000, "P").cl(0x29300, "Q");
    b.sect(0, 0);
    data(b, pattern(0x28000, 1));
    b.zero(0x300);
    b.sect(0, 1).repeat(700, {1, 2, 3}).data(pattern(0x100, 9));
    cases.push_back({"ascending", "MC68000", true, b.end()});
  }
  {
    // Adjacent sections written the upper one first: one range, assembled (over 1 MiB, so the
    // read-back runs in several windows).
    tekrec::Builder b;
    b.hdr().unit("m", "ARM", 2, 0x04).cl(0x10000, "P").cl(0xB0000, "Q");
    b.sect(0, 1);
    data(b, pattern(0xA0000, 3));
    b.sect(0, 0);
    data(b, pattern(0xA0000, 4));
    cases.push_back({"descending", "ARM", false, b.end()});
  }
  {
    // Overlaps: Q inside P's bytes, R at P's address, S across P's end, T below Q over Q's
    // start; the later bytes win.
    tekrec::Builder b;
    b.hdr().unit("m", "SH7032", 5, 0x04);
    b.cl(0x2000, "P").cl(0x2080, "Q").cl(0x2000, "R").cl(0x20F0, "S").cl(0x2070, "T");
    b.sect(0, 0).data(pattern(0x100, 5));
    b.sect(0, 1).data(pattern(0x20, 6));
    b.sect(0, 2).data(pattern(0x10, 7));
    b.sect(0, 3).data(pattern(0x40, 8));
    b.sect(0, 4).data(pattern(0x18, 9));
    cases.push_back({"overlapping", "SH7032", false, b.end()});
  }
  {
    // Two ranges whose sections alternate, each range in ascending addresses, and a third
    // range after them: the first two are not contiguous in the file.
    tekrec::Builder b;
    b.hdr().unit("m", "MPC860", 7, 0x04);
    for (uint32_t k = 0; k < 3; ++k) b.cl(0x8000 + k * 0x180, "A").cl(0x4000 + k * 0x200, "B");
    b.cl(0x6000, "C");
    for (uint16_t k = 0; k < 6; ++k) b.sect(0, k).data(pattern(k % 2 ? 0x200 : 0x180, k));
    b.sect(0, 6).data(pattern(0x300, 20));
    cases.push_back({"interleaved", "MPC860", false, b.end()});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tektest::RunResult run = tektest::run_on(c.b, {"-O", "elf"});
    ASSERT_EQ(run.status, 0) << run.out;
    const Bytes file = tektest::file_bytes("in.elf");
    check_segments(file);

    // The library, in memory, writes the same bytes.
    tekconv::Options o;
    o.console = std::fopen("/dev/null", "w");
    Bytes memory;
    EXPECT_EQ(tekconv::convert_elf(tektest::file_bytes("in.abs"), memory, o), 0);
    std::fclose(o.console);
    EXPECT_TRUE(memory == file);

    uint32_t base = 0;
    const Bytes want = object_image(tektest::convert(c.b), base);
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(objcopy_image("in.elf") == want);
    // Written in order, the image is in the file once.
    if (c.in_order) {
      EXPECT_LT(file.size(), want.size() + 4096);
    }
  }
}

// Records fed to the sink directly, in the segmented form of 16-byte pages: data that continues
// an address across a 64 KiB offset boundary is not linear there, two segmented addresses of
// one linear address overlap, and a chunk larger than the read-back window is assembled.
TEST_F(ElfImage, SegmentedChunksThroughFileAndMemory) {
  TEKTEST_REQUIRE_TOOL("objcopy");
  struct Object {
    uint32_t addr;  // segment in the upper half, offset in the lower half
    Bytes data;
  };
  const std::vector<Object> objects = {
      {0x0000FFF0, pattern(0x10, 1)},      // linear 0xFFF0-0xFFFF
      {0x00010000, pattern(0x10, 2)},      // linear 0x10, not after 0xFFFF
      {0x00000010, pattern(0x8, 3)},       // linear 0x10 again: overlaps, wins
      {0x10000000, pattern(0x200000, 4)},  // linear 0x10000, right after the first
      {0x00000018, pattern(0x10, 5)},      // 0x18-0x27, over the end of the second
  };
  std::map<uint32_t, uint8_t> image;
  for (const Object& o : objects) {
    const uint32_t linear = ((o.addr >> 16) << 4) + (o.addr & 0xFFFF);
    for (size_t i = 0; i < o.data.size(); ++i) image[linear + static_cast<uint32_t>(i)] = o.data[i];
  }
  Bytes want(image.rbegin()->first - image.begin()->first + 1);
  for (const auto& [a, v] : image) want[a - image.begin()->first] = v;

  auto feed = [&](tek::ElfSink& sink) {
    sink.put(tek::ModuleValue{1, "m"});
    for (const Object& o : objects)
      sink.put(tek::ObjectValue{0, o.addr, static_cast<uint32_t>(o.data.size()), o.data});
    sink.unit_processor(1, processor_code("ARM"));
    sink.unit_address_form(1, 1);
  };
  Bytes memory;
  {
    tek::ElfSink sink;
    feed(sink);
    sink.finish([&](const uint8_t* p, size_t n) { memory.insert(memory.end(), p, p + n); });
    EXPECT_EQ(sink.warnings().size(), 1u);  // one overlapping range
  }
  tek::OutFile f;
  ASSERT_TRUE(tek::out_open(f, "d.elf", true));
  {
    tek::ElfFileOutput out(f);
    tek::ElfSink sink(out);
    feed(sink);
    sink.finish();
  }
  tek::out_close(f);
  const Bytes file = tektest::file_bytes("d.elf");
  EXPECT_TRUE(file == memory);
  check_segments(file);
  // 0x10-0x27 gathered from two records; 0xFFF0-0xFFFF and 0x10000-0x20FFFF where they are.
  EXPECT_EQ(segments(file).size(), 3u);
  EXPECT_TRUE(objcopy_image("d.elf") == want);
}

}  // namespace
