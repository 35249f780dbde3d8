// What the ELF writer needs to know about each processor of the processor table: the ELF
// machine, flags and byte order, and the conventions of its compilers that the context records
// leave open (the frame base register, the DWARF numbers of the registers, type sizes).
#pragma once

#include <cstdint>

#include "format/elf/bytes.hpp"

namespace tek {

struct ElfTarget {
  uint16_t machine = 0;
  uint32_t flags = 0;
  bool big_endian = true;
  uint16_t frame_register = 0;  // DWARF number of the register that stack offsets are based on
  uint8_t int_size = 4;         // of int, and of an enumeration
  uint8_t ext_float_size = 8;   // of the EXTFLOAT type (long double)
};

ElfTarget elf_target(int processor);

// The DWARF location expression of a register variable, held in place: a variable's location
// is a few operations (16 bytes at most), and the writer asks for one per register variable.
struct RegisterLocation {
  uint8_t ops[24] = {};
  uint8_t size = 0;
  void op(uint8_t v) { ops[size++] = v; }
  void uleb(uint32_t v) { size = static_cast<uint8_t>(size + elf::encode_uleb(v, ops + size)); }
};

// The location of a register variable: reg is the register number of a SETLOCAL record of
// class REG, type_size the size of the variable's type (0 when unknown).
RegisterLocation register_location(int processor, uint32_t reg, uint64_t type_size);

}  // namespace tek
