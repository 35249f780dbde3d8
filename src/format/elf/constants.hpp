// ELF32 constants (System V ABI, machine supplements) used by the ELF writer.
#pragma once

#include <cstdint>

namespace elf {

constexpr uint8_t ELFCLASS32 = 1;
constexpr uint8_t ELFDATA2LSB = 1, ELFDATA2MSB = 2;
constexpr uint8_t EV_CURRENT = 1;
constexpr uint16_t ET_EXEC = 2;

// Machines.
constexpr uint16_t EM_NONE = 0, EM_68K = 4, EM_386 = 3, EM_PPC = 20, EM_ARM = 40, EM_SH = 42,
                   EM_H8_300 = 46;

// e_flags of EM_SH (binutils include/elf/sh.h): the instruction set of the core.
constexpr uint32_t EF_SH1 = 1, EF_SH2 = 2, EF_SH3 = 3, EF_SH3_DSP = 5, EF_SH4 = 9;
// e_flags of EM_H8_300 (binutils include/elf/h8.h): the CPU model.
constexpr uint32_t E_H8_MACH_H8300 = 0x00800000, E_H8_MACH_H8300H = 0x00810000,
                   E_H8_MACH_H8300S = 0x00820000;

// e_flags of EM_ARM (ARM ELF ABI): the EABI version and the float ABI (base procedure call
// standard, doubles in memory in the processor's byte order).
constexpr uint32_t EF_ARM_EABI_VER5 = 0x05000000, EF_ARM_ABI_FLOAT_SOFT = 0x200;

constexpr uint32_t PT_LOAD = 1;
// e_phnum when the number of program headers is in sh_info of section 0.
constexpr uint16_t PN_XNUM = 0xFFFF;
constexpr uint32_t PF_X = 1, PF_W = 2, PF_R = 4;

constexpr uint32_t SHT_NULL = 0, SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3,
                   SHT_SYMTAB_SHNDX = 18;
constexpr uint32_t SHF_WRITE = 1, SHF_ALLOC = 2, SHF_EXECINSTR = 4, SHF_MERGE = 0x10,
                   SHF_STRINGS = 0x20;
// Section indices from SHN_LORESERVE on are reserved: a section index that large is given as
// SHN_XINDEX and found elsewhere (e_shstrndx: sh_link of section 0; st_shndx: .symtab_shndx).
constexpr uint16_t SHN_UNDEF = 0, SHN_LORESERVE = 0xFF00, SHN_ABS = 0xFFF1, SHN_XINDEX = 0xFFFF;

constexpr uint8_t STB_LOCAL = 0, STB_GLOBAL = 1;
constexpr uint8_t STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_FILE = 4;

constexpr uint32_t EHDR_SIZE = 52, PHDR_SIZE = 32, SHDR_SIZE = 40, SYM_SIZE = 16;

}  // namespace elf
