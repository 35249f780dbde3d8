#include "format/elf/dwarf_line.hpp"

#include "format/elf/dwarf.hpp"

namespace dwarf {

namespace {

constexpr int LINE_BASE = -5;
constexpr int LINE_RANGE = 14;
constexpr int OPCODE_BASE = 13;
// Operand counts of the standard opcodes 1 to 12.
constexpr uint8_t STANDARD_LENGTHS[OPCODE_BASE - 1] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};

// The bytes of a sequence are written through a pointer into room made for the most they can
// take: a row changes at most the file, the line and the address (with their operands) and
// copies, 19 bytes.
constexpr size_t MAX_ROW = 19;

uint8_t* put_uleb(uint8_t* p, uint64_t v) {
  return p + elf::encode_uleb(v, p);
}

void write_sequence(elf::Bytes& out, const LineSequence& seq) {
  if (seq.rows.empty()) return;
  std::vector<uint8_t>& bytes = out.data();
  const size_t start = bytes.size();
  bytes.resize(start + 7 + MAX_ROW * seq.rows.size() + 11 + 3);
  uint8_t* p = bytes.data() + start;
  uint32_t addr = seq.rows.front().addr;
  int64_t line = 1;
  uint32_t file = 1;
  // DW_LNE_set_address and the address in the target's byte order.
  *p++ = 0;
  *p++ = 5;
  *p++ = DW_LNE_set_address;
  elf::store_u32(p, addr, out.big_endian());
  p += 4;
  for (const LineRow& r : seq.rows) {
    if (r.file != file) {
      *p++ = DW_LNS_set_file;
      p = put_uleb(p, r.file);
      file = r.file;
    }
    int64_t dline = static_cast<int64_t>(r.line) - line;
    uint64_t daddr = r.addr - addr;
    int64_t special = (dline - LINE_BASE) + LINE_RANGE * static_cast<int64_t>(daddr) + OPCODE_BASE;
    if (dline >= LINE_BASE && dline < LINE_BASE + LINE_RANGE && special <= 255) {
      *p++ = static_cast<uint8_t>(special);
    } else {
      if (dline) {
        *p++ = DW_LNS_advance_line;
        p += elf::encode_sleb(dline, p);
      }
      if (daddr) {
        *p++ = DW_LNS_advance_pc;
        p = put_uleb(p, daddr);
      }
      *p++ = DW_LNS_copy;
    }
    line = r.line;
    addr = r.addr;
  }
  if (seq.end > addr) {
    *p++ = DW_LNS_advance_pc;
    p = put_uleb(p, seq.end - addr);
  }
  // DW_LNE_end_sequence
  *p++ = 0;
  *p++ = 1;
  *p++ = DW_LNE_end_sequence;
  bytes.resize(static_cast<size_t>(p - bytes.data()));
}

}  // namespace

uint32_t write_line_program(elf::Bytes& out, const std::vector<std::string>& dirs,
                            const std::vector<LineFile>& files,
                            const std::vector<LineSequence>& sequences) {
  uint32_t start = static_cast<uint32_t>(out.size());
  out.u32(0);  // unit_length
  out.u16(4);  // version
  size_t header_length_at = out.size();
  out.u32(0);  // header_length
  out.u8(1);   // minimum_instruction_length
  out.u8(1);   // maximum_operations_per_instruction
  out.u8(1);   // default_is_stmt
  out.u8(static_cast<uint8_t>(LINE_BASE));
  out.u8(LINE_RANGE);
  out.u8(OPCODE_BASE);
  for (uint8_t n : STANDARD_LENGTHS) out.u8(n);
  for (const std::string& d : dirs) out.str(d);
  out.u8(0);
  for (const LineFile& f : files) {
    out.str(f.name);
    out.uleb(f.dir);
    out.uleb(0);  // modification time unknown
    out.uleb(0);  // length unknown
  }
  out.u8(0);
  out.patch_u32(header_length_at, static_cast<uint32_t>(out.size() - header_length_at - 4));
  for (const LineSequence& s : sequences) write_sequence(out, s);
  out.patch_u32(start, static_cast<uint32_t>(out.size() - start - 4));
  return start;
}

}  // namespace dwarf
