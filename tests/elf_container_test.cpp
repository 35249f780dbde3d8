// The ELF container of the ELF writer, checked with the binutils, LLVM, elfutils and gdb: the
// extended section and segment numbering of files with more sections than the ELF header counts,
// an image stored once when its records arrive out of address order, data at the top of the
// 32-bit address space, and the ARM float ABI and Thumb function symbols.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "elf_support.hpp"
#include "optional_tools.hpp"
#include "tekconv/tekconv.hpp"

using namespace elftest;
using tekrec::Builder;

namespace {

class ElfContainer : public tektest::TempDirTest {};

// The headers of an ELF32 file, read field by field.
struct Elf32 {
  const Bytes& b;
  bool big() const { return b[5] == 2; }
  uint32_t get(uint64_t at, int width) const {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
      uint32_t byte = at + i < b.size() ? b[at + i] : 0;
      v |= big() ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
    }
    return v;
  }
  uint32_t flags() const { return get(36, 4); }
  uint32_t phoff() const { return get(28, 4); }
  uint32_t shoff() const { return get(32, 4); }
  uint32_t e_phnum() const { return get(44, 2); }
  uint32_t e_shnum() const { return get(48, 2); }
  uint32_t e_shstrndx() const { return get(50, 2); }
  // Field k (0 name, 1 type, 2 flags, 3 addr, 4 offset, 5 size, 6 link, 7 info) of section i.
  uint32_t sh(uint32_t i, int k) const { return get(shoff() + uint64_t{i} * 40 + 4 * k, 4); }
  // Field k (0 type, 1 offset, 2 vaddr, 3 paddr, 4 filesz, 5 memsz) of program header i.
  uint32_t ph(uint32_t i, int k) const { return get(phoff() + uint64_t{i} * 32 + 4 * k, 4); }
};

// The image that the program headers load, byte by byte; every segment must lie within the
// 32-bit address space and within the file.
std::map<uint64_t, uint8_t> loaded_image(const Bytes& elf, uint32_t phnum) {
  Elf32 e{elf};
  std::map<uint64_t, uint8_t> image;
  for (uint32_t i = 0; i < phnum; ++i) {
    const uint64_t off = e.ph(i, 1), vaddr = e.ph(i, 2), filesz = e.ph(i, 4);
    EXPECT_EQ(e.ph(i, 0), 1u);
    EXPECT_EQ(filesz, e.ph(i, 5));
    EXPECT_LE(vaddr + e.ph(i, 5), uint64_t{1} << 32) << "segment " << i;
    EXPECT_LE(off + filesz, elf.size()) << "segment " << i;
    if (off + filesz > elf.size()) continue;
    for (uint64_t k = 0; k < filesz; ++k) image[vaddr + k] = elf[off + k];
  }
  return image;
}

// The image that the OBJECT records of a context file place (addresses wrap in 32 bits; the
// later bytes win).
std::map<uint64_t, uint8_t> record_image(const Bytes& ctx) {
  std::map<uint64_t, uint8_t> image;
  tek::CtxReader r{ctx};
  tek::CtxRecord rec;
  while (tek::read_record(r, rec) == tek::CtxStep::Record)
    if (rec.tag == tek::TAG_OBJECT) {
      const tek::ObjectValue& o = rec.value<tek::ObjectValue>();
      for (uint32_t i = 0; i < o.length; ++i) image[static_cast<uint32_t>(o.addr + i)] = o.data[i];
    }
  return image;
}

// A tool's run: status 0 and no warning or error in its output.
void expect_clean(const std::string& command) {
  ToolRun r = run(command);
  EXPECT_EQ(r.status, 0) << command << "\n" << r.out.substr(0, 2000);
  for (const char* bad : {"Warning", "warning", "Error", "error"})
    EXPECT_EQ(r.out.find(bad), std::string::npos) << command << "\n" << r.out.substr(0, 2000);
}

// The ELF file that the command line writes for the records, and the same bytes through the
// library in memory.
Bytes elf_of(const Builder& b) {
  tektest::RunResult run = tektest::run_on(b, {"-O", "elf"});
  EXPECT_EQ(run.status, 0) << run.out;
  const Bytes file = tektest::file_bytes("in.elf");
  tekconv::Options o;
  o.console = std::fopen("/dev/null", "w");
  Bytes memory;
  EXPECT_EQ(tekconv::convert_elf(tektest::file_bytes("in.abs"), memory, o), 0);
  std::fclose(o.console);
  EXPECT_TRUE(memory == file);
  return file;
}

Bytes pattern(size_t n, uint32_t seed) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed * 7 + i * 31 + (i >> 8));
  return v;
}

void data(Builder& b, const Bytes& block) {
  for (size_t at = 0; at < block.size(); at += 0x1000)
    b.data(Bytes(block.begin() + at, block.begin() + std::min(block.size(), at + 0x1000)));
}

// ---------------------------------------------------------------------------------------------
// Extended numbering: 65,535 ranges of one byte, one section and one segment each, so that the
// section count, the section name table's index and the segment count (PN_XNUM itself) go to
// section 0, and symbols in sections from SHN_LORESERVE on get SHN_XINDEX and their index in
// .symtab_shndx.
TEST_F(ElfContainer, ExtendedSectionAndSegmentNumbering) {
  TEKTEST_REQUIRE_TOOL("readelf", "llvm-readelf", "objcopy");
  constexpr uint32_t RANGES = 0xFFFF;
  constexpr uint32_t BASE = 0x100000;
  Builder b;
  b.hdr().unit("m", "MC68020", RANGES, 0x04);
  for (uint32_t k = 0; k < RANGES; ++k) b.cl(BASE + k * 0x10, "P");
  b.dbgunit(0x01, 0).basetype(2, 2, 1, 0);
  // Sections 1, 0xFEFF, 0xFF00 (the first index that needs SHN_XINDEX) and the last.
  for (uint32_t k : {0u, 0xFEFEu, 0xFEFFu, RANGES - 1})
    b.symbol(tektest::sym(tekrec::VARIABLE, "v" + std::to_string(k + 1), tekrec::basic_type(2),
                          tekrec::in_section(2, static_cast<uint16_t>(k), 0, 1)));
  for (uint32_t k = 0; k < RANGES; ++k)
    b.sect(0, static_cast<uint16_t>(k)).data({static_cast<uint8_t>(k * 13 + 1)});
  b.end();
  const Bytes elf = elf_of(b);
  ASSERT_GT(elf.size(), 52u);
  write_bytes("x.elf", elf);

  // Sections: null, the ranges, .symtab, .symtab_shndx, .strtab, three DWARF sections (no
  // code: no lines, no address ranges), .shstrtab.
  const Elf32 e{elf};
  const uint32_t shnum = RANGES + 8;
  EXPECT_EQ(e.e_shnum(), 0u);
  EXPECT_EQ(e.e_shstrndx(), 0xFFFFu);  // SHN_XINDEX
  EXPECT_EQ(e.e_phnum(), 0xFFFFu);     // PN_XNUM
  EXPECT_EQ(e.sh(0, 5), shnum);
  EXPECT_EQ(e.sh(0, 6), shnum - 1);
  EXPECT_EQ(e.sh(0, 7), RANGES);
  for (int k : {0, 1, 2, 3, 4}) EXPECT_EQ(e.sh(0, k), 0u);
  const std::map<uint64_t, uint8_t> loaded = loaded_image(elf, RANGES);
  EXPECT_TRUE(loaded == record_image(tektest::convert(b)));

  if (have("readelf")) {
    // Not -l: readelf maps every section to every segment, quadratic in time.
    expect_clean("readelf -hSsW x.elf >/dev/null");
    std::string h = run("readelf -hW x.elf").out;
    EXPECT_NE(h.find("Number of program headers:         65535 (65535)"), std::string::npos) << h;
    EXPECT_NE(h.find("Number of section headers:         0 (65543)"), std::string::npos) << h;
    EXPECT_NE(h.find("Section header string table index: 65535 (65542)"), std::string::npos) << h;
    std::string s = run("readelf -sW x.elf").out;
    for (const char* want : {"00100000     1 OBJECT  GLOBAL DEFAULT    1 v1",
                             "001fefe0     1 OBJECT  GLOBAL DEFAULT 65279 v65279",
                             "001feff0     1 OBJECT  GLOBAL DEFAULT 65280 v65280",
                             "001fffe0     1 OBJECT  GLOBAL DEFAULT 65535 v65535"})
      EXPECT_NE(s.find(want), std::string::npos) << want;
  }
  if (have("llvm-readelf")) {
    expect_clean("llvm-readelf -hSs x.elf >/dev/null");
    std::string s = run("llvm-readelf -s x.elf").out;
    EXPECT_NE(s.find("001feff0     1 OBJECT  GLOBAL DEFAULT   65280 v65280"), std::string::npos);
    EXPECT_NE(s.find("001fffe0     1 OBJECT  GLOBAL DEFAULT   65535 v65535"), std::string::npos);
  }
  if (have("objcopy")) {  // about 10 s
    ToolRun r = run("objcopy -I elf32-big -O srec x.elf x.srec");
    EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
    EXPECT_EQ(r.out, "");
  }
  // gdb takes a minute or more over 65,535 segments (set TEKCONV_SLOW_TOOLS to run it). It
  // places the symbols of sections 1 to 32,767 only (it keeps a symbol's section index in a
  // short); the image it reads from every section.
  if (std::getenv("TEKCONV_SLOW_TOOLS") && have("gdb-multiarch")) {
    ToolRun r =
        run("gdb-multiarch -batch -nx -ex 'print/x v1' -ex 'x/1xb 0x1feff0' -ex 'x/1xb 0x1fffe0' "
            "x.elf");
    EXPECT_NE(r.out.find("$1 = 0x1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(tektest::line::fmt(":\t0x%02x\n", (0xFEFFu * 13 + 1) & 0xFF)),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(tektest::line::fmt(":\t0x%02x\n", (0xFFFEu * 13 + 1) & 0xFF)),
              std::string::npos)
        << r.out;
  }
}

// ---------------------------------------------------------------------------------------------
// Records out of address order: each byte of the image is in the file once (the record's own
// bytes), except where many small pieces are gathered; overlapping records keep the later bytes.
TEST_F(ElfContainer, OutOfOrderImageStoredOnce) {
  TEKTEST_REQUIRE_TOOL("objcopy", "readelf", "llvm-readelf");
  struct Case {
    const char* what;
    Builder b;
    size_t image;     // bytes of the image
    size_t extra;     // what the file may hold beyond the image
    size_t warnings;  // overlap warnings
  };
  std::vector<Case> cases;
  {
    // 16 adjacent sections of 64 KiB written from the highest address down: one range.
    Builder b;
    b.hdr().unit("m", "SH7604", 16, 0x04);
    for (uint32_t k = 0; k < 16; ++k) b.cl(0x100000 + k * 0x10000, "P");
    for (uint32_t k = 16; k-- > 0;) data(b.sect(0, static_cast<uint16_t>(k)), pattern(0x10000, k));
    cases.push_back({"descending", b.end(), 0x100000, 8192, 0});
  }
  {
    // 64 adjacent sections of 8 KiB in a scrambled order, then a block over the middle of
    // two of them and one byte inside a third: only those bytes are taken from the later
    // records.
    Builder b;
    b.hdr().unit("m", "ARM", 67, 0x04);
    for (uint32_t k = 0; k < 64; ++k) b.cl(0x8000 + k * 0x2000, "P");
    b.cl(0x8000 + 5 * 0x2000 + 0x1000, "Q").cl(0x8000 + 40 * 0x2000 + 7, "R").cl(0x7FF0, "S");
    for (uint32_t i = 0; i < 64; ++i) {
      const uint32_t k = (i * 37) % 64;
      data(b.sect(0, static_cast<uint16_t>(k)), pattern(0x2000, k));
    }
    data(b.sect(0, 64), pattern(0x2000, 99));
    b.sect(0, 65).data({0xEE});
    b.sect(0, 66).data(pattern(0x20, 98));  // before the first, overlapping it
    cases.push_back({"scrambled with overlaps", b.end(), 0x80010, 16384, 1});
  }
  {
    // 16,384 sections of 80 bytes, scrambled: each shorter than a section header, program
    // header and name, they are gathered (in two batches of the copy, one piece split between
    // them), so the image is in the file twice.
    Builder b;
    b.hdr().unit("m", "MPC860", 16384, 0x04);
    for (uint32_t k = 0; k < 16384; ++k) b.cl(0x40000 + k * 0x50, "P");
    for (uint32_t i = 0; i < 16384; ++i) {
      const uint32_t k = (i * 1237) % 16384;
      b.sect(0, static_cast<uint16_t>(k)).data(pattern(0x50, k));
    }
    cases.push_back({"short scrambled pieces", b.end(), 0x140000, 0x140000 + 8192, 0});
  }
  {
    // Two ranges whose sections alternate, each in ascending order: used where they are.
    Builder b;
    b.hdr().unit("m", "MC68000", 8, 0x04);
    for (uint32_t k = 0; k < 4; ++k) b.cl(0x10000 + k * 0x3000, "A").cl(0x90000 + k * 0x800, "B");
    for (uint32_t k = 0; k < 8; ++k)
      data(b.sect(0, static_cast<uint16_t>(k)), pattern(k % 2 ? 0x800 : 0x3000, k));
    cases.push_back({"interleaved ranges", b.end(), 0xE000, 4096, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes elf = elf_of(c.b);
    const Bytes ctx = tektest::convert(c.b);
    const std::map<uint64_t, uint8_t> want = record_image(ctx);
    ASSERT_EQ(want.size(), c.image);
    EXPECT_LE(elf.size(), c.image + c.extra);
    const Elf32 e{elf};
    EXPECT_TRUE(loaded_image(elf, e.e_phnum()) == want);
    write_bytes("o.elf", elf);
    if (have("objcopy")) {
      uint32_t base = 0;
      EXPECT_TRUE(objcopy_image("o.elf") == object_image(ctx, base));
    }
    if (have("readelf")) expect_clean("readelf -lSsW o.elf >/dev/null");
    if (have("llvm-readelf")) expect_clean("llvm-readelf -lSs o.elf >/dev/null");
    ElfResult r = elf_of_ctx(ctx, {{1, processor_code("MC68000")}});
    EXPECT_EQ(r.warnings.size(), c.warnings);
  }
}

// ---------------------------------------------------------------------------------------------
// Data up to the last address of the 32-bit space, and data that runs past it into address 0
// (addresses wrap in 32 bits, as the records' addresses do): sections, segments and symbols end
// by 2^32, and the byte at 0xFFFFFFFF is in the image.
TEST_F(ElfContainer, TopOfTheAddressSpace) {
  TEKTEST_REQUIRE_TOOL("readelf", "llvm-readelf", "objcopy", "gdb-multiarch");
  struct Case {
    const char* what;
    Bytes elf;
    std::map<uint64_t, uint8_t> image;
    std::vector<std::string> lines;  // of readelf -lSsW
  };
  std::vector<Case> cases;
  // A function at 0xFFFFFFF0 to the end, a variable in its last 4 bytes, data from 0xFFFFFF00
  // of the given length (the converter wraps what runs past the top).
  for (uint32_t length : {0x100u, 0x110u}) {
    Builder b;
    b.hdr().unit("m", "MC68000", 1, 0x04).cl(0xFFFFFF00, "P");
    b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
    b.symbol(tektest::sym(tekrec::FUNCTION, "top", tekrec::basic_type(1),
                          tekrec::in_section(2, 0, 0xF0, 0x10), 0x20));
    b.blkend(0x40);
    b.symbol(tektest::sym(tekrec::VARIABLE, "last", tekrec::basic_type(1),
                          tekrec::in_section(2, 0, 0xFC, 4)));
    b.sect(0, 0);
    Bytes bytes = pattern(length, 3);
    bytes[0xFF] = 0xA5;
    data(b, bytes);
    b.end();
    const std::string index = length > 0x100 ? "2" : "1";
    std::vector<std::string> lines = {
        "LOAD           0x000034 0xffffff00 0xffffff00 0x00100 0x00100 RWE 0x1",
        "fffffff0    16 FUNC    GLOBAL DEFAULT    " + index + " top",
        "fffffffc     4 OBJECT  GLOBAL DEFAULT    " + index + " last"};
    if (length > 0x100)
      lines.push_back("LOAD           0x000134 0x00000000 0x00000000 0x00010 0x00010 RW  0x1");
    cases.push_back({length > 0x100 ? "runs past 2^32" : "ends at 2^32", elf_of(b),
                     record_image(tektest::convert(b)), lines});
  }
  {
    // A context record of data across the top, which the converter never writes, and a double
    // in the last 4 bytes: the data wraps to 0, the symbol's size ends at the top.
    tek::ElfSink sink;
    tek::TypeValue dbl;
    dbl.kind = tek::K_64FLOAT;
    dbl.selfix = 300;
    sink.put(dbl);
    sink.put(tek::ModuleValue{1, "m"});
    sink.put(tek::PublicValue{0, 0xFFFFFFFC, 1, 300, 1, "wide"});
    Bytes bytes = pattern(0x20, 4);
    bytes[0xF] = 0xA5;
    sink.put(tek::ObjectValue{0, 0xFFFFFFF0, 0x20, bytes});
    sink.unit_processor(1, processor_code("MC68000"));
    Case c{"one record across 2^32", {}, {}, {}};
    sink.finish([&](const uint8_t* p, size_t n) { c.elf.insert(c.elf.end(), p, p + n); });
    for (uint32_t i = 0; i < 0x20; ++i) c.image[static_cast<uint32_t>(0xFFFFFFF0 + i)] = bytes[i];
    c.lines = {"LOAD           0x000034 0xfffffff0 0xfffffff0 0x00010 0x00010 RW  0x1",
               "LOAD           0x000044 0x00000000 0x00000000 0x00010 0x00010 RW  0x1",
               ".data.00000000    PROGBITS        00000000 000044 000010",
               ".data.FFFFFFF0    PROGBITS        fffffff0 000034 000010",
               "fffffffc     4 OBJECT  GLOBAL DEFAULT    2 wide"};
    cases.push_back(std::move(c));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes("t.elf", c.elf);
    const Elf32 e{c.elf};
    const std::map<uint64_t, uint8_t> loaded = loaded_image(c.elf, e.e_phnum());
    EXPECT_TRUE(loaded == c.image);
    ASSERT_TRUE(loaded.count(0xFFFFFFFF));
    EXPECT_EQ(loaded.at(0xFFFFFFFF), 0xA5);
    for (uint32_t i = 1; i < e.e_shnum(); ++i)
      if (e.sh(i, 2) & 2) {  // SHF_ALLOC: the image sections
        EXPECT_LE(uint64_t{e.sh(i, 3)} + e.sh(i, 5), uint64_t{1} << 32) << "section " << i;
      }
    if (have("readelf")) {
      expect_clean("readelf -hlSsW t.elf >/dev/null");
      const std::string out = run("readelf -lSsW t.elf").out;
      for (const std::string& line : c.lines)
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    if (have("llvm-readelf")) expect_clean("llvm-readelf -hlSs t.elf >/dev/null");
    if (have("objcopy")) {
      ToolRun r =
          run("objcopy -I elf32-big -O srec t.elf t.srec && objcopy -I elf32-big t.elf "
              "copy.elf");
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(r.out, "");
    }
    if (have("gdb-multiarch")) {
      ToolRun r = run("gdb-multiarch -batch -nx -ex 'x/1xb 0xffffffff' t.elf");
      EXPECT_NE(r.out.find(":\t0xa5\n"), std::string::npos) << r.out;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// ARM: the EABI version 5 and soft-float flags, so that gdb reads doubles in pure little-endian
// order; STT_FUNC symbols of functions in Thumb code have bit 0 set, the mapping symbols and
// the functions in ARM code do not.
TEST_F(ElfContainer, ArmFloatAbiAndThumbFunctions) {
  TEKTEST_REQUIRE_TOOL("readelf", "llvm-dwarfdump", "gdb-multiarch");
  Builder b;
  b.hdr().unit("m", "ARM", 2, 0x04).cl(0x8000, "P").cl(0x9000, "D");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0).basetype(4, 4, 8, 0x01);
  struct Fn {
    const char* name;
    uint32_t offset;
    const char* symbol;  // value, size and type as readelf prints them
  };
  // No flag before f0 (ARM code); $t at 0x20, $a at 0x60, $t at 0x80.
  const Fn fns[] = {
      {"f0", 0x00, "00008000    16 FUNC    GLOBAL DEFAULT    1 f0"},
      {"f1", 0x20, "00008021    16 FUNC    GLOBAL DEFAULT    1 f1"},
      {"f2", 0x40, "00008041    16 FUNC    GLOBAL DEFAULT    1 f2"},
      {"f3", 0x60, "00008060    16 FUNC    GLOBAL DEFAULT    1 f3"},
      {"f4", 0x90, "00008091    16 FUNC    GLOBAL DEFAULT    1 f4"},
  };
  for (const Fn& f : fns) {
    b.symbol(tektest::sym(tekrec::FUNCTION, f.name, tekrec::basic_type(1),
                          tekrec::in_section(2, 0, f.offset, 0x10), 0x20));
    b.blkend(0x40);
  }
  b.symbol(
      tektest::sym(tekrec::VARIABLE, "d", tekrec::basic_type(4), tekrec::in_section(2, 1, 0, 8)));
  b.aflag(0, 0x80, 1).aflag(0, 0x20, 1).aflag(0, 0x60, 2);
  b.sect(0, 0).data(Bytes(0xA0, 0));
  b.sect(0, 1).data({0, 0, 0, 0, 0, 0, 0xF8, 0x3F});  // 1.5 in little-endian IEEE order
  b.end();
  const Bytes elf = elf_of(b);
  write_bytes("arm.elf", elf);
  EXPECT_EQ(Elf32{elf}.flags(), 0x05000200u);  // EF_ARM_EABI_VER5 | EF_ARM_ABI_FLOAT_SOFT
  if (have("readelf")) {
    const std::string h = run("readelf -hW arm.elf").out;
    EXPECT_NE(h.find("Flags:                             0x5000200, Version5 EABI, soft-float ABI"),
              std::string::npos)
        << h;
    const std::string s = run("readelf -sW arm.elf").out;
    for (const Fn& f : fns) EXPECT_NE(s.find(f.symbol), std::string::npos) << f.symbol << s;
    for (const char* m : {"00008020     0 NOTYPE  LOCAL  DEFAULT    1 $t",
                          "00008060     0 NOTYPE  LOCAL  DEFAULT    1 $a",
                          "00008080     0 NOTYPE  LOCAL  DEFAULT    1 $t"})
      EXPECT_NE(s.find(m), std::string::npos) << m << s;
  }
  if (have("llvm-dwarfdump")) {
    // DWARF keeps the instruction address.
    const std::string dw = run("llvm-dwarfdump --debug-info arm.elf").out;
    EXPECT_NE(dw.find("DW_AT_low_pc\t(0x00008020)"), std::string::npos) << dw;
  }
  if (have("gdb-multiarch")) {
    ToolRun r = run("gdb-multiarch -batch -nx -ex 'print d' -ex 'info symbol 0x8020' arm.elf");
    EXPECT_NE(r.out.find("$1 = 1.5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("f1 in section .text.00008000"), std::string::npos) << r.out;
  }
}

}  // namespace
