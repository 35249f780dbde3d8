// An independent reader of DWARF in ELF files, through elfutils' libdw: reads every unit, DIE,
// attribute, line table and address range table, and lists what it finds wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dwcheck {

struct NamedType {
  std::string keyword;  // "struct", "union", "enum" or "" (base types, typedefs, classes)
  std::string name;
};

struct Report {
  // One line per problem: libdw errors, references outside .debug_info or not at a DIE, type
  // cycles that pass no structure, union, enumeration or class, line rows whose file index is
  // not in the file table, addresses that go backwards in a line sequence.
  std::vector<std::string> problems;
  // What a debugger can be asked about: named types, functions, variables of the units.
  std::vector<NamedType> types;
  std::vector<std::string> functions;
  std::vector<std::string> variables;
  size_t units = 0, dies = 0, attributes = 0, line_rows = 0;
};

// Checks the ELF file held in the bytes. An ELF file without .debug_info has no problem.
Report check(std::span<const uint8_t> elf);
Report check_file(const std::string& path);

// The problems alone.
std::vector<std::string> problems(std::span<const uint8_t> elf);

}  // namespace dwcheck
