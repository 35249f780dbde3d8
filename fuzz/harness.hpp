// The fuzz harness: runs the converter library in memory on one input, in the run mode and with
// the options that the input's first byte selects; a second entry runs the command line on
// files.
//
// Input layout:
//   byte 0      selector: bits 0-2 the run mode (see Mode), bit 3 -l, bit 4 -ps, bit 5 -m16,
//               bit 6 -fullpath, bit 7 a companion file follows
//   [bit 7]     2 bytes big-endian length L, then L bytes: main.cpd (the companion file of any
//               source file named main.c)
//   rest        the object file
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tekfuzz {

enum Mode : uint8_t {
  MODE_CONVERT = 0,  // a conversion; the context file must read back whole
  MODE_DUMP_ALL = 1,
  MODE_CHECK = 2,
  MODE_DUMP_FILES = 3,
  MODE_DUMP_TYPES = 4,
  MODE_DUMP_PUBLICS = 5,  // with bit 6: the scope (-ss) or, with bit 3 too, the local (-sl) dump
  MODE_CTXDUMP = 6,       // the object bytes read as a context file by ctxdump
  MODE_CONVERT_READ = 7,  // a conversion read back and verified, then the ELF output
};

// Bytes of output after which a run is abandoned: like a file size limit, it keeps inputs whose
// count fields ask for megabytes of output from stalling the fuzzer.
constexpr uint64_t OUTPUT_BUDGET = 1u << 16;

// Runs one input in memory. A context file that a conversion finished must read back whole:
// anything else aborts, so the fuzzer reports it. Returns the exit status of the run, or -1
// when the budget stopped it.
int run_one(const uint8_t* data, size_t size);

// Runs one input through the tekconv command line on files in dir (which must exist), and
// removes what the run left there. The check mode, whose scratch file lives in the current
// directory, is run in memory instead.
int run_cli_one(const uint8_t* data, size_t size, const std::string& dir);

// Builds a harness input from its parts.
std::vector<uint8_t> make_input(uint8_t selector, const std::vector<uint8_t>& object,
                                const std::string& companion = {});

}  // namespace tekfuzz
