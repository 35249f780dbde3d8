#include "elf/targets.hpp"

#include "format/elf/constants.hpp"
#include "format/elf/dwarf.hpp"

namespace tek {

namespace {

enum Family { M68K, SH, PPC, SR320, H8S, H8300H, X86, ARM, RI };

Family family(int p) {
  if (p >= 0 && p <= 8) return M68K;
  if (p >= 9 && p <= 15) return SH;
  if (p == 16 || p == 17) return PPC;
  if (p == 18 || p == 19) return SR320;
  if (p >= 20 && p <= 24) return H8S;
  if (p >= 25 && p <= 38) return H8300H;
  if (p >= 39 && p <= 42) return X86;
  if (p == 43) return ARM;
  return RI;
}

// The SH cores of the table: SH7032 is an SH-1, SH7604 an SH-2, SH7708/09/09A SH-3, SH7729 an
// SH3-DSP, SH7750 an SH-4 (with its floating-point registers).
uint32_t sh_flags(int p) {
  switch (p) {
    case 10:
      return elf::EF_SH2;
    case 11:
      return elf::EF_SH4;
    case 12:
    case 13:
    case 14:
      return elf::EF_SH3;
    case 15:
      return elf::EF_SH3_DSP;
    default:
      return elf::EF_SH1;
  }
}

// 8086 register table order (ax bx cx dx sp bp si di cs ds ss es) to the i386 DWARF numbers.
constexpr uint8_t X86_DWARF[12] = {0, 3, 1, 2, 4, 5, 6, 7, 41, 43, 42, 40};

void reg_op(RegisterLocation& b, uint32_t n) {
  if (n < 32) {
    b.op(static_cast<uint8_t>(dwarf::DW_OP_reg0 + n));
  } else {
    b.op(dwarf::DW_OP_regx);
    b.uleb(n);
  }
}

void bit_piece(RegisterLocation& b, uint32_t bits, uint32_t offset) {
  b.op(dwarf::DW_OP_bit_piece);
  b.uleb(bits);
  b.uleb(offset);
}

constexpr uint32_t SH_FR0 = 25;  // DWARF number of FR0 in the SH numbering

}  // namespace

ElfTarget elf_target(int p) {
  using namespace elf;
  switch (family(p)) {
    case M68K:  // link a6 frames; 96-bit extended long double
      return {EM_68K, 0, true, 14, 4, 12};
    case SH:  // big-endian, as the SH compilers default to; frame pointer r14
      return {EM_SH, sh_flags(p), true, 14, 4, 8};
    case PPC:  // EABI: locals addressed from the stack pointer r1
      return {EM_PPC, 0, true, 1, 4, 8};
    case SR320:
      return {EM_NONE, 0, true, 1, 4, 8};
    case H8S:  // frame pointer er6; 16-bit int
      return {EM_H8_300, E_H8_MACH_H8300S, true, 6, 2, 8};
    case H8300H:
      return {EM_H8_300, E_H8_MACH_H8300H, true, 6, 2, 8};
    case X86:  // bp frames; 16-bit int; 80-bit long double
      return {EM_386, 0, false, 5, 2, 10};
    case ARM:  // APCS frame pointer r11; EABI soft-float: doubles little-endian, not FPA order
      return {EM_ARM, EF_ARM_EABI_VER5 | EF_ARM_ABI_FLOAT_SOFT, false, 11, 4, 8};
    case RI:
      return {EM_NONE, 0, true, 8, 4, 8};
  }
  return {};
}

RegisterLocation register_location(int p, uint32_t reg, uint64_t type_size) {
  RegisterLocation b;
  switch (family(p)) {
    case SH:
      // R0-R15 keep their numbers. FR registers: 16 + n is FRn; a double in the pair FRn,
      // FRn+1 arrives as 32 + n (and the pair FR0/FR1 as 16, told apart by its size 8). The
      // even register holds the more significant half.
      if (reg < 16) {
        reg_op(b, reg);
      } else if (reg >= 32 || (reg == 16 && type_size == 8)) {
        uint32_t n = reg >= 32 ? reg - 32 : 0;
        reg_op(b, SH_FR0 + n);
        b.op(dwarf::DW_OP_piece);
        b.uleb(4);
        reg_op(b, SH_FR0 + n + 1);
        b.op(dwarf::DW_OP_piece);
        b.uleb(4);
      } else {
        reg_op(b, SH_FR0 + reg - 16);
      }
      break;
    case H8S:
    case H8300H:
      // R0H-R7H, R0L-R7L, R0-R7, E0-E7, ER0-ER7: parts of the eight 32-bit registers ERn.
      // The low parts (RnL, Rn) read as the register itself; the high byte of Rn and the upper
      // half En are bit pieces.
      if (reg < 8) {
        reg_op(b, reg);
        bit_piece(b, 8, 8);
      } else if (reg >= 24 && reg < 32) {
        reg_op(b, reg - 24);
        bit_piece(b, 16, 16);
      } else {
        reg_op(b, reg % 8);
      }
      break;
    case X86:
      reg_op(b, reg < 12 ? X86_DWARF[reg] : reg);
      break;
    case RI:
      // A register list: the last register named is in the low byte.
      reg_op(b, reg & 0xFF);
      break;
    default:  // the table numbers are the DWARF numbers
      reg_op(b, reg);
      break;
  }
  return b;
}

}  // namespace tek
