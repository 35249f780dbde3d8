// Conversion benchmark: generates large TEKA inputs with the record builder, converts each with
// the tekconv binary (run as a separate process) and compares the time with copying the same
// input file with `cp`, measured in the same run.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel -j2
//   build-rel/bench/tekconv_bench [--keep] [workdir]
//
// The inputs are written to a fresh directory created inside workdir (default: $TMPDIR, else
// /tmp) and removed at the end; --keep leaves them there (with the last outputs), for profiling
// the converter on them. Inputs:
//   image-heavy   more than 64 MiB of DATA records plus ZERO and REPEAT blocks, in four units of
//                 four sections each. Target: conversion within 1.5 x the time of the copy.
//   debug-heavy   debug units with hundreds of thousands of symbols, thousands of types per
//                 source file, large and nested structures, functions with locals and many line
//                 numbers; generated once and once with twice the source files (x2). Target:
//                 doubling the input no more than about doubles the conversion time.
// Every conversion must exit with status 0 and print nothing but the banner and its "Created"
// line; the first conversion of each input is checked record by record against the counts of
// context records that the input must produce. The times are the best and the median of several
// rounds; the verdicts use the best times, which are the least disturbed by other load.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "recbuild/recbuild.hpp"

extern char** environ;

using namespace tekrec;

namespace {

constexpr int ROUNDS = 7;
constexpr double IMAGE_TARGET = 1.5;    // conversion / copy, image-heavy input
constexpr double LINEAR_TARGET = 2.2;   // time x2 / time x1: "about double", 10% allowance
constexpr double ELF_CPU_TARGET = 1.5;  // ELF output / context file, CPU time, debug-heavy
constexpr uint64_t ELF_RSS_ALLOWANCE = 64000000;  // ELF output: peak RSS - input size, bytes
constexpr uint32_t TYPE_ID_SLOTS = 0x4000;
constexpr size_t CHUNK = 256;  // data bytes per OBJECT record at most

// ---------------------------------------------------------------------------------------------
// Context records expected from an input, by tag.

namespace rec {
enum Tag : uint8_t {
  HEADER = 0,
  PUBLIC = 1,
  STARTLOCAL = 2,
  ENDLOCAL = 3,
  SETLOCAL = 4,
  FILE_REC = 5,
  ENDLINE = 6,
  LINE = 7,
  TYPE = 9,
  MEMBER = 10,
  OBJECT = 11,
  MODULE = 13,
  ADDRFLAG = 14,
};
}  // namespace rec
constexpr const char* TAG_NAMES[15] = {"HEADER", "PUBLIC",  "STARTLOCAL", "ENDLOCAL", "SETLOCAL",
                                       "FILE",   "ENDLINE", "LINE",       "tag 8",    "TYPE",
                                       "MEMBER", "OBJECT",  "tag 12",     "MODULE",   "ADDRFLAG"};

struct Tally {
  std::array<uint64_t, 15> records{};
  uint64_t object_bytes = 0;  // image bytes carried by OBJECT records
  uint64_t file_size = 0;     // exact size of the context file, when known (else 0)
};

// Walks a context file record by record with the record layouts of the format and counts the
// records of each tag. MEMBER records take their layout from the last TYPE record's kind.
bool walk_context(const std::string& path, Tally& got, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && !in) {
    error = "cannot read " + path;
    return false;
  }
  got = Tally{};
  got.file_size = f.size();
  uint8_t last_kind = 0;
  size_t at = 0;
  auto byte_at = [&](size_t off) -> int { return at + off < f.size() ? f[at + off] : -1; };
  while (at < f.size()) {
    const uint8_t tag = f[at];
    long size = -1;  // record size, -1 for an unknown layout
    int n = 0;
    switch (tag) {
      case rec::HEADER:
        size = 13;
        break;
      case rec::PUBLIC:
        n = byte_at(16), size = 17 + n;
        break;
      case rec::STARTLOCAL:
      case rec::ENDLOCAL:
        size = 5;
        break;
      case rec::SETLOCAL:
        n = byte_at(10), size = 11 + n;
        break;
      case rec::FILE_REC:
        n = byte_at(1), size = 2 + n;
        break;
      case rec::ENDLINE:
        size = 3;
        break;
      case rec::LINE:
      case rec::ADDRFLAG:
        size = 9;
        break;
      case rec::TYPE: {
        const int kind = byte_at(1);
        last_kind = static_cast<uint8_t>(kind);
        if (kind >= 1 && kind <= 12) size = 6;
        if (kind == 13 || kind == 14 || kind == 20 || kind == 28) n = byte_at(14), size = 15 + n;
        if (kind == 15 || kind == 21) n = byte_at(10), size = 11 + n;
        if (kind == 16 || kind == 22) size = 12;
        if (kind == 17 || kind == 18 || (kind >= 23 && kind <= 26)) size = 10;
        if (kind == 19 || kind == 27) size = 15;
        break;
      }
      case rec::MEMBER:
        if (last_kind == 13 || last_kind == 14 || last_kind == 28)
          n = byte_at(9), size = 10 + n;
        else if (last_kind == 15)
          n = byte_at(5), size = 6 + n;
        else if (last_kind == 20)
          n = byte_at(13), size = 14 + n;
        else
          size = 1;
        break;
      case rec::OBJECT: {
        const int lo = byte_at(7), hi = byte_at(8);
        n = lo < 0 || hi < 0 ? -1 : lo | hi << 8;
        size = 9 + n;
        got.object_bytes += n > 0 ? static_cast<uint64_t>(n) : 0;
        break;
      }
      case rec::MODULE:
        n = byte_at(5), size = 6 + n;
        break;
      default:
        break;
    }
    if (size < 0 || n < 0 || at + static_cast<size_t>(size) > f.size()) {
      char msg[96];
      std::snprintf(msg, sizeof msg, "bad or cut record with tag %u at offset %zu", tag, at);
      error = msg;
      return false;
    }
    got.records[tag] += 1;
    at += static_cast<size_t>(size);
  }
  return true;
}

bool same_tally(const Tally& want, const Tally& got, std::string& error) {
  char msg[160];
  for (size_t t = 0; t < want.records.size(); ++t) {
    if (want.records[t] != got.records[t]) {
      std::snprintf(msg, sizeof msg, "%s records: expected %llu, found %llu", TAG_NAMES[t],
                    static_cast<unsigned long long>(want.records[t]),
                    static_cast<unsigned long long>(got.records[t]));
      error = msg;
      return false;
    }
  }
  if (want.object_bytes != got.object_bytes) {
    std::snprintf(msg, sizeof msg, "OBJECT data bytes: expected %llu, found %llu",
                  static_cast<unsigned long long>(want.object_bytes),
                  static_cast<unsigned long long>(got.object_bytes));
    error = msg;
    return false;
  }
  if (want.file_size != 0 && want.file_size != got.file_size) {
    std::snprintf(msg, sizeof msg, "context file size: expected %llu, found %llu",
                  static_cast<unsigned long long>(want.file_size),
                  static_cast<unsigned long long>(got.file_size));
    error = msg;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Input generation.

struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
};

// Writes records to a file in batches, so that a large input never sits whole in memory. The
// sink writes the HDR record itself. A builder keeps the file's debug format level (from HDR)
// and address width (from the first UNIT) privately, so every fresh batch builder is primed with
// an HDR record of the same level, whose bytes are not written, and given the address width.
class Sink {
 public:
  Sink(const std::string& path, uint8_t debug_level)
      : out_(path, std::ios::binary | std::ios::trunc), level_(debug_level) {
    if (!out_) throw std::runtime_error("cannot create " + path);
    b_.hdr(0, level_);
  }
  Builder& b() {
    if (b_.bytes().size() - skip_ >= (1u << 20)) flush();
    return b_;
  }
  uint64_t close() {
    flush();
    out_.close();
    if (!out_) throw std::runtime_error("write error");
    return written_;
  }

 private:
  void flush() {
    const auto& bytes = b_.bytes();
    out_.write(reinterpret_cast<const char*>(bytes.data() + skip_),
               static_cast<std::streamsize>(bytes.size() - skip_));
    written_ += bytes.size() - skip_;
    const int width = b_.addr_width();
    b_ = Builder();
    b_.hdr(0, level_);
    b_.set_addr_width(width);
    skip_ = b_.bytes().size();
  }
  std::ofstream out_;
  uint8_t level_;
  Builder b_;
  size_t skip_ = 0;
  uint64_t written_ = 0;
};

struct UnitPlan {
  const char* module;
  const char* processor;
  const char* reg;                // a register of the processor
  std::vector<std::string> pair;  // two registers holding one variable
};

const UnitPlan UNITS[4] = {
    {"boot", "SH7032", "R8", {"R4", "R5"}},
    {"app", "MC68020", "D3", {"D0", "D1"}},
    {"dsp", "MPC860", "R14", {"R3", "R4"}},
    {"io", "ARM7TDMI", "R4", {"R0", "R1"}},
};

// Context bytes of the records that every input yields besides its own: HEADER and the 16
// predefined basic TYPE records (6 bytes each).
constexpr uint64_t HEADER_SIZE = 13, PREDEFINED_TYPES = 16, BASIC_TYPE_SIZE = 6;

uint64_t chunks_of(uint64_t block) {
  return block == 0 ? 1 : (block + CHUNK - 1) / CHUNK;
}

struct Input {
  std::string path;
  uint64_t size = 0;
  uint64_t filled = 0;  // image bytes from ZERO and REPEAT blocks
  Tally want;
};

// Image-heavy input: four units of four sections; each section holds a contiguous image of DATA
// records of mixed sizes (mostly near the 65535-byte maximum, some small or empty), with ZERO
// and REPEAT blocks (patterns of lengths that divide 256 and lengths that do not) after one DATA
// record in eight. The ZERO and REPEAT blocks add about a seventh to the image, so the context
// file is larger than the input: the conversion writes more bytes than the copy does.
Input make_image_input(const std::string& path) {
  constexpr uint64_t DATA_TARGET = 66ull << 20;  // DATA bytes in the whole input
  constexpr uint64_t PER_SECTION = DATA_TARGET / 16;
  static const uint32_t DATA_SIZES[] = {65535, 65535, 65535, 32768, 40000, 4096, 1000, 256, 17, 0};
  static const uint32_t PATTERN_SIZES[] = {1, 2, 4, 16, 256, 3, 100, 1000};

  Input in;
  in.path = path;
  Tally& w = in.want;
  Rng rng{0x9E3779B97F4A7C15ull};
  Sink sink(path, 1);
  w.records[rec::HEADER] = 1;
  uint64_t size = HEADER_SIZE + PREDEFINED_TYPES * BASIC_TYPE_SIZE;
  w.records[rec::TYPE] = PREDEFINED_TYPES;
  for (int u = 0; u < 4; ++u) {
    sink.b().unit(UNITS[u].module, UNITS[u].processor, 4, 0x04);
    for (int s = 0; s < 4; ++s) {
      static const char* const SECTIONS[4] = {"P_", "C_", "D_", "B_"};
      sink.b().cl(static_cast<uint32_t>(u * 4 + s) << 24,
                  SECTIONS[s] + std::string(UNITS[u].module));
    }
    w.records[rec::MODULE] += 1;
    size += 6 + std::strlen(UNITS[u].module);
  }

  auto object_block = [&](uint64_t block) {
    const uint64_t n = chunks_of(block);
    w.records[rec::OBJECT] += n;
    w.object_bytes += block;
    size += n * 9 + block;
  };
  std::vector<uint8_t> bytes;
  for (int u = 0; u < 4; ++u) {
    for (int s = 0; s < 4; ++s) {
      if (s == 0)
        sink.b().sect(static_cast<uint16_t>(u), 0);
      else
        sink.b().locate(static_cast<uint16_t>(s));
      uint64_t data = 0;
      for (int i = 0; data < PER_SECTION; ++i) {
        const uint32_t len = DATA_SIZES[rng.below(std::size(DATA_SIZES))];
        bytes.resize(len);
        for (uint32_t k = 0; k < len; k += 8) {
          const uint64_t r = rng.next();
          std::memcpy(bytes.data() + k, &r, std::min<uint32_t>(8, len - k));
        }
        sink.b().data(bytes);
        object_block(len);
        data += len;
        if (i % 16 == 3) {
          const uint16_t count = static_cast<uint16_t>(rng.below(65536));
          sink.b().zero(count);
          object_block(count);
          in.filled += count;
        }
        if (i % 16 == 11) {
          const uint32_t p = PATTERN_SIZES[rng.below(std::size(PATTERN_SIZES))];
          const uint16_t count = static_cast<uint16_t>(rng.below(64 * 1024 / p + 1));
          std::vector<uint8_t> pattern(p);
          for (auto& c : pattern) c = static_cast<uint8_t>(rng.next());
          sink.b().repeat(count, pattern);
          object_block(static_cast<uint64_t>(count) * p);
          in.filled += static_cast<uint64_t>(count) * p;
        }
      }
    }
  }
  sink.b().end();
  in.size = sink.close();
  w.file_size = size;
  return in;
}

// Debug-heavy input with a given number of source files, one debug unit each.
class DebugGen {
 public:
  DebugGen(const std::string& path, int files) : path_(path), sink_(path, 2), files_(files) {}

  Input run() {
    Input in;
    in.path = path_;
    want_.records[rec::HEADER] = 1;
    want_.records[rec::TYPE] = PREDEFINED_TYPES;
    for (int u = 0; u < 4; ++u) {
      b().unit(UNITS[u].module, UNITS[u].processor, 2, 0x04);
      b().cl(0x01000000u * (u + 1), std::string("P_") + UNITS[u].module);
      b().cl(0x40000000u + 0x01000000u * u, std::string("B_") + UNITS[u].module);
      want_.records[rec::MODULE] += 1;
    }
    for (int f = 0; f < files_; ++f) source_file(f);
    b().end();
    in.size = sink_.close();
    in.want = want_;
    return in;
  }

  uint64_t symbols() const { return symbols_; }
  uint32_t max_registrations() const { return max_registrations_; }

 private:
  // Basic type indices set up by BASETYPE in every debug unit.
  enum : uint8_t { T_VOID, T_INT, T_CHAR, T_USHORT, T_FLOAT, T_UINT, T_SCHAR, T_DOUBLE };
  // Type ids of one source file; anonymous ids start at 0x8000.
  static constexpr int ENUMS = 16, ENUM_VALUES = 24;
  static constexpr int STRUCTS = 600, LARGE = 2, LARGE_MEMBERS = 2000, NESTED_MEMBERS = 12;
  static constexpr int GLOBALS = 1000, FUNCTIONS = 400, LINES_PER_FUNCTION = 48;
  static constexpr uint16_t ID_ENUM = 0x0100, ID_STRUCT = 0x1000, ID_LARGE = 0x3000,
                            ID_NESTED = 0x3100, ID_FUNC = 0x4000;

  Builder& b() { return sink_.b(); }

  void symbol(const Symbol& s) {
    b().symbol(s);
    symbols_ += 1;
  }
  // A type registered with a type id: the TYPE record it yields and the slot it takes.
  void new_type(int n = 1) {
    want_.records[rec::TYPE] += n;
    registrations_ += n;
  }

  std::string name(const char* prefix, int a, int b = -1) {
    char buf[64];
    if (b < 0)
      std::snprintf(buf, sizeof buf, "%s%d", prefix, a);
    else
      std::snprintf(buf, sizeof buf, "%s%d_%d", prefix, a, b);
    return buf;
  }

  void basic_types() {
    b().basetype(T_VOID, 0, 0, 0, "void");
    b().basetype(T_INT, 3, 4, 0x00, "int");
    b().basetype(T_CHAR, 2, 1, 0x00, "char");
    b().basetype(T_USHORT, 3, 2, 0x40, "unsigned short");
    b().basetype(T_FLOAT, 4, 4, 0x00, "float");
    b().basetype(T_UINT, 3, 4, 0x40, "unsigned int");
    b().basetype(T_SCHAR, 6, 1, 0x00, "signed char");
    b().basetype(T_DOUBLE, 4, 8, 0x01, "double");
  }

  // enum e<i> { E<i>_0 = 0x0, ... }: one TYPE ENUM, its id registered at the end of the body.
  void enums() {
    for (int i = 0; i < ENUMS; ++i) {
      symbol({ENUM_TAG, static_cast<uint16_t>(ID_ENUM + i), name("e", i), {}, enum_tag(), {}});
      b().aggr_begin();
      for (int v = 0; v < ENUM_VALUES; ++v) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%X", v * 3);
        symbol({HEXVALUE, 0, name("E", i, v), {}, hex_digits(digits), {}});
      }
      b().aggr_end();
      new_type();
      want_.records[rec::MEMBER] += ENUM_VALUES;
    }
  }

  // Small structures of eight members: an int, a char array, a pointer to and an instance of the
  // previous structure, two bit-fields, a two-dimensional array and an enumeration.
  void structs() {
    for (int i = 0; i < STRUCTS; ++i) {
      const uint16_t id = static_cast<uint16_t>(ID_STRUCT + i);
      const uint16_t prev = static_cast<uint16_t>(ID_STRUCT + (i > 0 ? i - 1 : 0));
      symbol({STRUCT_TAG, id, name("s", i), {}, aggregate_tag(96), {}});
      new_type();  // the tag's id, and its TYPE STRUCT at the end of the body
      b().aggr_begin();
      auto member = [&](const char* m, Fields type, Fields loc) {
        symbol({MEMBER, 0, name(m, i), std::move(type), std::move(loc), {}});
        want_.records[rec::MEMBER] += 1;
      };
      member("count", basic_type(T_INT), member_at(0, 4));
      member("label", basic_type(T_CHAR), member_at(4, 16));
      b().arrtype({15});
      new_type();
      member("next", i > 0 ? type_id(prev) : basic_type(T_VOID), member_at(20, 4));
      b().dpt(0);
      new_type();
      member("base", i > 0 ? type_id(prev) : basic_type(T_UINT), member_at(24, 4));
      member("mode", basic_type(T_UINT), bitfield_at(28, 3, 0));
      new_type();
      member("level", basic_type(T_INT), bitfield_at(28, 5, 3));
      new_type();
      member("grid", basic_type(T_USHORT), member_at(32, 42));
      b().arrtype({2, 6});
      new_type(2);
      member("state", type_id(static_cast<uint16_t>(ID_ENUM + i % ENUMS)), member_at(76, 4));
      b().aggr_end();
    }
  }

  // Large structures of 2000 members, with a structure defined inside the body half-way.
  void large_structs() {
    for (int i = 0; i < LARGE; ++i) {
      const uint16_t id = static_cast<uint16_t>(ID_LARGE + i);
      symbol({STRUCT_TAG, id, name("big", i), {}, aggregate_tag(LARGE_MEMBERS * 4 + 64), {}});
      new_type();
      b().aggr_begin();
      for (int m = 0; m < LARGE_MEMBERS; ++m) {
        const uint32_t off = static_cast<uint32_t>(m) * 4;
        if (m == LARGE_MEMBERS / 2) nested(i, off);
        if (m % 16 == 5) {
          const uint16_t target = static_cast<uint16_t>(ID_STRUCT + (m * 7 + i) % STRUCTS);
          symbol({MEMBER, 0, name("ptr", m), type_id(target), member_at(off, 4), {}});
          b().dpt(0);
          new_type();
        } else if (m % 50 == 7) {
          symbol({MEMBER, 0, name("tab", m), basic_type(T_CHAR), member_at(off, 4), {}});
          b().arrtype({3});
          new_type();
        } else {
          const uint8_t t = static_cast<uint8_t>(1 + m % 7);
          symbol({MEMBER, 0, name("field", m), basic_type(t), member_at(off, 4), {}});
        }
        want_.records[rec::MEMBER] += 1;
      }
      b().aggr_end();
    }
  }

  // struct inner<i> { ... } defined inside a large structure, and a member of that type.
  void nested(int i, uint32_t off) {
    const uint16_t id = static_cast<uint16_t>(ID_NESTED + i);
    symbol({STRUCT_TAG, id, name("inner", i), {}, aggregate_tag(NESTED_MEMBERS * 4), {}});
    new_type();
    b().aggr_begin();
    for (int m = 0; m < NESTED_MEMBERS; ++m)
      symbol({MEMBER,
              0,
              name("x", m),
              basic_type(T_INT),
              member_at(static_cast<uint32_t>(m) * 4, 4),
              {}});
    want_.records[rec::MEMBER] += NESTED_MEMBERS;
    b().aggr_end();
    symbol({MEMBER, 0, name("inner_at", i), type_id(id), member_at(off, 4), {}});
    want_.records[rec::MEMBER] += 1;
  }

  // Globals in the data section: structures, arrays of structures, pointers, file statics and
  // function pointers.
  void globals(int f) {
    uint32_t off = 0;
    for (int g = 0; g < GLOBALS; ++g) {
      const uint16_t s = static_cast<uint16_t>(ID_STRUCT + (g * 13 + f) % STRUCTS);
      const uint32_t at = data_offset_ + off;
      switch (g % 5) {
        case 0:
          symbol({VARIABLE, 0, name("g_obj", f, g), type_id(s), in_section(2, 1, at, 96), {}});
          break;
        case 1:
          symbol({VARIABLE, 0, name("g_tab", f, g), type_id(s), in_section(2, 1, at, 960), {}});
          b().arrtype({9});
          new_type();
          break;
        case 2:
          symbol(
              {VARIABLE, 0, name("g_ptr", f, g), basic_type(T_INT), in_section(2, 1, at, 4), {}});
          b().dpt(0);
          new_type();
          break;
        case 3:
          symbol(
              {VARIABLE, 0, name("s_val", f, g), basic_type(T_FLOAT), in_section(5, 1, at, 4), {}});
          break;
        case 4:
          symbol({VARIABLE,
                  0,
                  name("g_handler", f, g),
                  basic_type(T_INT),
                  in_section(2, 1, at, 4),
                  {}});
          b().functype();
          b().dpt(0);
          new_type(2);
          break;
      }
      want_.records[rec::PUBLIC] += 1;
      off += 1024;
    }
    data_offset_ += off;
  }

  // Functions with three parameters and five locals (automatic, register, register pair,
  // static, pointer to a structure); their line numbers follow in one LINES record each.
  void functions(int f, int u) {
    std::vector<uint32_t> starts;
    for (int i = 0; i < FUNCTIONS; ++i) {
      const uint16_t id = static_cast<uint16_t>(ID_FUNC + i);
      const uint32_t at = code_offset_[u];
      starts.push_back(at);
      code_offset_[u] += 0x100;
      symbol({FUNCTION,
              id,
              name("fn", f, i),
              basic_type(static_cast<uint8_t>(i % 2 ? 1 : 0)),
              in_section(2, 0, at, 0x100),
              {}});
      b().attr(0x00, 3);
      new_type();  // the function's own id and its function TYPE
      want_.records[rec::PUBLIC] += 1;
      want_.records[rec::STARTLOCAL] += 1;
      for (int p = 0; p < 3; ++p)
        symbol({VARIABLE,
                0,
                name("arg", p),
                basic_type(T_INT),
                in_frame(8 + 4 * static_cast<uint32_t>(p)),
                {}});
      symbol({VARIABLE, 0, "i", basic_type(T_INT), in_frame(0xFFFFFFFC), {}});
      symbol({VARIABLE, 0, "acc", basic_type(T_UINT), in_register(UNITS[u].reg), {}});
      symbol({VARIABLE, 0, "wide", basic_type(T_DOUBLE), in_registers(UNITS[u].pair, 8), {}});
      symbol({VARIABLE,
              0,
              name("calls", i),
              basic_type(T_UINT),
              in_section(4, 1, data_offset_ + 4 * static_cast<uint32_t>(i), 4),
              {}});
      const uint16_t s = static_cast<uint16_t>(ID_STRUCT + (i * 11 + f) % STRUCTS);
      symbol({VARIABLE, 0, "node", type_id(s), in_frame(0xFFFFFFF0), {}});
      b().dpt(0);
      new_type();
      want_.records[rec::SETLOCAL] += 8;
      b().blkend(0x40);
      want_.records[rec::ENDLOCAL] += 1;
    }
    data_offset_ += 4 * FUNCTIONS;

    b().sect(static_cast<uint16_t>(u), 0);
    b().curfile(0);
    for (int i = 0; i < FUNCTIONS; ++i) {
      std::vector<std::pair<uint16_t, uint32_t>> pairs;
      for (int k = 0; k < LINES_PER_FUNCTION; ++k)
        pairs.push_back({static_cast<uint16_t>(10 + i * 60 + k), starts[i] + 5 * k});
      b().lines(pairs);
    }
    b().curfile(1);
    b().lines({{12, starts[0]}, {13, starts[0] + 8}, {20, starts[1]}});
    want_.records[rec::FILE_REC] += FUNCTIONS + 1;
    want_.records[rec::ENDLINE] += FUNCTIONS + 1;
    want_.records[rec::LINE] += FUNCTIONS * LINES_PER_FUNCTION + 3;
  }

  void source_file(int f) {
    const int u = f % 4;
    b().dbgunit(0x10, static_cast<uint16_t>(u));
    b().srcfiles({{name("src/mod", f / 8) + "/", name("file", f) + ".c"},
                  {"include/", name("defs", f) + ".h"}});
    registrations_ = 0;
    basic_types();
    enums();
    structs();
    large_structs();
    globals(f);
    functions(f, u);
    if (registrations_ >= TYPE_ID_SLOTS)
      throw std::logic_error("a source file registers more type ids than a fill holds");
    max_registrations_ = std::max(max_registrations_, registrations_);
  }

 private:
  std::string path_;
  Sink sink_;
  int files_;
  Tally want_;
  uint64_t symbols_ = 0;
  uint32_t registrations_ = 0, max_registrations_ = 0;
  uint32_t code_offset_[4] = {};
  uint32_t data_offset_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Running and timing.

struct Run {
  double wall = 0;   // seconds
  double cpu = 0;    // user + system seconds of the child
  uint64_t rss = 0;  // peak resident set of the child, bytes
  int status = -1;
};

Run run_process(const std::vector<std::string>& args, const std::string& out_path) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The child starts in this process's memory (posix_spawn shares it until exec), and its peak
  // RSS counts this process's peak: reset that to the current RSS first.
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  Run r;
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid) throw std::runtime_error("wait4 failed");
  const auto t1 = std::chrono::steady_clock::now();
  r.wall = std::chrono::duration<double>(t1 - t0).count();
  r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.rss = static_cast<uint64_t>(ru.ru_maxrss) * 1024;  // Linux reports KiB
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The converter under test: this build's, or another given with --tekconv (to compare two
// builds in one run).
const char* tekconv_binary = TEKCONV_BINARY;

std::string replace_extension(const std::string& path, const char* ext) {
  const size_t dot = path.rfind('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

struct Series {
  std::vector<double> wall, cpu;
  std::vector<uint64_t> rss;
  void add(const Run& r) {
    wall.push_back(r.wall);
    cpu.push_back(r.cpu);
    rss.push_back(r.rss);
  }
  double best() const { return *std::min_element(wall.begin(), wall.end()); }
  double median() const {
    std::vector<double> v = wall;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  double best_cpu() const { return *std::min_element(cpu.begin(), cpu.end()); }
  uint64_t peak_rss() const { return *std::max_element(rss.begin(), rss.end()); }
};

struct Measured {
  std::string label;
  Input input;
  Series copy, convert, elf;
  uint64_t ctx_size = 0;
};

// Whether the converter under test writes ELF files (-O elf); an older build does not.
bool measure_elf = true;

// One copy and one conversion of the input. Outputs of earlier runs are deleted first and dirty
// pages written back, so that each timed run starts from the same state. The conversion must
// succeed and print nothing but the banner and its "Created" line; with check set, its context
// file is also checked against the expected record counts.
void measure_once(Measured& m, const std::string& dir, bool check) {
  const std::string copy = replace_extension(m.input.path, ".copy");
  const std::string ctx = replace_extension(m.input.path, ".ctx");
  const std::string log = dir + "/run.log";

  ::unlink(copy.c_str());
  ::sync();
  Run c = run_process({"cp", m.input.path, copy}, log);
  if (c.status != 0) throw std::runtime_error("cp failed: " + read_text(log));
  m.copy.add(c);

  ::unlink(ctx.c_str());
  ::sync();
  Run t = run_process({tekconv_binary, m.input.path}, log);
  const std::string said = read_text(log);
  const std::string created = "Created " + ctx + "\n";
  const size_t lines = static_cast<size_t>(std::count(said.begin(), said.end(), '\n'));
  if (t.status != 0 || lines != 3 || said.size() < created.size() ||
      said.compare(said.size() - created.size(), created.size(), created) != 0)
    throw std::runtime_error(m.label + ": conversion exited with status " +
                             std::to_string(t.status) + " and printed:\n" + said.substr(0, 2000));
  m.convert.add(t);

  struct stat st {};
  if (::stat(ctx.c_str(), &st) != 0) throw std::runtime_error(ctx + " missing");
  m.ctx_size = static_cast<uint64_t>(st.st_size);

  if (measure_elf) {
    const std::string elf = replace_extension(m.input.path, ".elf");
    ::unlink(elf.c_str());
    ::sync();
    Run e = run_process({tekconv_binary, "-O", "elf", m.input.path}, log);
    if (e.status != 0)
      throw std::runtime_error(m.label + ": ELF output exited with status " +
                               std::to_string(e.status) + ":\n" + read_text(log).substr(0, 2000));
    m.elf.add(e);
    ::unlink(elf.c_str());
  }
  if (check) {
    Tally got;
    std::string error;
    if (!walk_context(ctx, got, error) || !same_tally(m.input.want, got, error))
      throw std::runtime_error(m.label + ": wrong context file: " + error);
  }
}

// A warm-up run that checks the output, then the timed rounds (inputs interleaved, so that all
// see the same background load).
void measure(std::vector<Measured*> ms, const std::string& dir) {
  for (Measured* m : ms) {
    measure_once(*m, dir, true);
    m->copy = Series{};
    m->convert = Series{};
    m->elf = Series{};
  }
  for (int r = 0; r < ROUNDS; ++r)
    for (Measured* m : ms) measure_once(*m, dir, false);
}

struct Dumped {
  uint64_t text = 0;  // bytes printed
  double best = 0;    // best wall time, s
};

// The symbol dump of the input (tekconv -s), printed into a file: its size and best time.
Dumped measure_dump(const std::string& input, const std::string& dir) {
  const std::string log = dir + "/dump.txt";
  Dumped d;
  for (int r = 0; r <= ROUNDS; ++r) {
    Run t = run_process({tekconv_binary, "-s", input}, log);
    if (t.status != 0)
      throw std::runtime_error("symbol dump exited with status " + std::to_string(t.status));
    struct stat st {};
    ::stat(log.c_str(), &st);
    d.text = static_cast<uint64_t>(st.st_size);
    if (r > 0 && (d.best == 0 || t.wall < d.best)) d.best = t.wall;  // round 0 warms up
  }
  ::unlink(log.c_str());
  return d;
}

void remove_outputs(const Measured& m) {
  for (const char* ext : {".abs", ".copy", ".ctx"})
    ::unlink(replace_extension(m.input.path, ext).c_str());
}

double mb(uint64_t bytes) {
  return static_cast<double>(bytes) / 1e6;
}

void print_header() {
  std::printf("\n%-15s %6s %6s | %-19s | %-19s | %-11s | %6s\n", "", "input", "output",
              "copy (cp), s", "conversion, s", "conv/copy", "conv");
  std::printf("%-15s %6s %6s | %6s %6s %5s | %6s %6s %5s | %5s %5s | %6s\n", "input", "MB", "MB",
              "best", "median", "cpu", "best", "median", "cpu", "wall", "cpu", "MB/s");
}

void print_row(const Measured& m) {
  std::printf("%-15s %6.1f %6.1f | %6.3f %6.3f %5.3f | %6.3f %6.3f %5.3f | %5.2f %5.2f | %6.1f\n",
              m.label.c_str(), mb(m.input.size), mb(m.ctx_size), m.copy.best(), m.copy.median(),
              m.copy.best_cpu(), m.convert.best(), m.convert.median(), m.convert.best_cpu(),
              m.convert.best() / m.copy.best(), m.convert.best_cpu() / m.copy.best_cpu(),
              mb(m.input.size) / m.convert.best());
}

std::string make_workdir(const char* where) {
  std::string base;
  if (where) {
    base = where;
  } else {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  ::mkdir(base.c_str(), 0755);  // may exist already
  std::string templ = base + "/tekconv_bench.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("cannot create a directory in " + base);
  std::string dir = buf.data();
  if (dir[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) dir = std::string(cwd) + "/" + dir;
  }
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  bool keep = false;
  bool debug_only = false;
  const char* where = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else if (std::strcmp(argv[i], "--debug-only") == 0) {
      debug_only = true;
    } else if (std::strcmp(argv[i], "--no-elf") == 0) {
      measure_elf = false;
    } else if (std::strcmp(argv[i], "--tekconv") == 0 && i + 1 < argc) {
      tekconv_binary = argv[++i];
    } else if (argv[i][0] != '-' && !where) {
      where = argv[i];
    } else {
      std::printf("Usage: %s [--keep] [--no-elf] [--debug-only] [--tekconv BINARY] [workdir]\n",
                  argv[0]);
      return std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0 ? 0 : 1;
    }
  }
  std::string dir;
  try {
    dir = make_workdir(where);
    std::printf("converter: %s\nwork directory: %s\nrounds: %d (plus one checked warm-up run)\n\n",
                tekconv_binary, dir.c_str(), ROUNDS);
    std::fflush(stdout);

    Measured image{"image-heavy", {}, {}, {}, {}, 0};
    if (!debug_only) {
      image.input = make_image_input(dir + "/image.abs");
      std::printf(
          "image-heavy: %.1f MB input, %.1f MB of image (%.1f MB from ZERO and REPEAT) in %llu "
          "OBJECT records\n",
          mb(image.input.size), mb(image.input.want.object_bytes), mb(image.input.filled),
          static_cast<unsigned long long>(image.input.want.records[rec::OBJECT]));
      std::fflush(stdout);
      measure({&image}, dir);
      if (!keep) remove_outputs(image);
    }

    constexpr int FILES = 64;
    DebugGen gen1(dir + "/debug1.abs", FILES);
    Measured debug1{"debug-heavy x1", gen1.run(), {}, {}, {}, 0};
    DebugGen gen2(dir + "/debug2.abs", 2 * FILES);
    Measured debug2{"debug-heavy x2", gen2.run(), {}, {}, {}, 0};
    for (const auto& [m, g, files] :
         {std::tuple{&debug1, &gen1, FILES}, {&debug2, &gen2, 2 * FILES}})
      std::printf(
          "%s: %.1f MB input, %llu symbols in %d source files (up to %u type ids each); "
          "%llu TYPE, %llu MEMBER, %llu LINE records expected\n",
          m->label.c_str(), mb(m->input.size), static_cast<unsigned long long>(g->symbols()), files,
          g->max_registrations(), static_cast<unsigned long long>(m->input.want.records[rec::TYPE]),
          static_cast<unsigned long long>(m->input.want.records[rec::MEMBER]),
          static_cast<unsigned long long>(m->input.want.records[rec::LINE]));
    std::fflush(stdout);
    measure({&debug1, &debug2}, dir);
    const Dumped dumped = measure_dump(debug1.input.path, dir);
    if (!keep) {
      remove_outputs(debug1);
      remove_outputs(debug2);
    }

    print_header();
    if (!debug_only) print_row(image);
    print_row(debug1);
    print_row(debug2);

    // Verdicts by best wall time; the CPU time (user + system) of the same runs is shown beside
    // it, as it is much less disturbed by other processes on a busy machine.
    auto verdict = [](double v, double target) { return v <= target ? "met" : "MISSED"; };
    const double growth_wall = debug2.convert.best() / debug1.convert.best();
    const double growth_cpu = debug2.convert.best_cpu() / debug1.convert.best_cpu();
    const double size_growth = static_cast<double>(debug2.input.size) / debug1.input.size;
    if (!debug_only) {
      const double image_wall = image.convert.best() / image.copy.best();
      const double image_cpu = image.convert.best_cpu() / image.copy.best_cpu();
      std::printf(
          "\nimage-heavy: conversion takes %.2f x the copy (target at most %.1f): %s "
          "[by cpu time %.2f x: %s]\n",
          image_wall, IMAGE_TARGET, verdict(image_wall, IMAGE_TARGET), image_cpu,
          verdict(image_cpu, IMAGE_TARGET));
    }
    std::printf(
        "%sdebug-heavy: input x%.2f takes x%.2f the time (target about x2, at most x%.1f): %s "
        "[by cpu time x%.2f: %s]\n",
        debug_only ? "\n" : "", size_growth, growth_wall, LINEAR_TARGET,
        verdict(growth_wall, LINEAR_TARGET), growth_cpu, verdict(growth_cpu, LINEAR_TARGET));
    if (measure_elf) {
      if (!debug_only)
        std::printf(
            "ELF output (-O elf), best wall s (cpu s): image-heavy %.3f (%.3f) = %.2f x its "
            "conversion\n",
            image.elf.best(), image.elf.best_cpu(), image.elf.best() / image.convert.best());
      // The ELF writer against the context file: best CPU time and the largest peak RSS of the
      // rounds. Targets: at most 1.5 x the CPU time, and a peak RSS within 64 MB of the input.
      std::printf("\n%-15s | %-16s | %-16s | %-22s\n", "", "context file", "ELF output",
                  "ELF / context");
      std::printf("%-15s | %7s %8s | %7s %8s | %7s %14s\n", "input", "cpu s", "rss MB", "cpu s",
                  "rss MB", "cpu", "rss - input MB");
      bool cpu_met = true, rss_met = true;
      for (const Measured* m : {&debug1, &debug2}) {
        const double ratio = m->elf.best_cpu() / m->convert.best_cpu();
        const uint64_t rss = m->elf.peak_rss();
        const double over = rss > m->input.size ? mb(rss - m->input.size) : 0.0;
        cpu_met = cpu_met && ratio <= ELF_CPU_TARGET;
        rss_met = rss_met && rss <= m->input.size + ELF_RSS_ALLOWANCE;
        std::printf("%-15s | %7.3f %8.1f | %7.3f %8.1f | %7.2f %14.1f\n", m->label.c_str(),
                    m->convert.best_cpu(), mb(m->convert.peak_rss()), m->elf.best_cpu(), mb(rss),
                    ratio, over);
      }
      std::printf(
          "ELF output of debug-heavy: cpu at most %.1f x the context file's: %s; peak RSS at "
          "most %.1f MB over the input: %s; x2 takes x%.2f the cpu time of x1\n",
          ELF_CPU_TARGET, verdict(cpu_met ? 0 : 1, 0.5), mb(ELF_RSS_ALLOWANCE),
          verdict(rss_met ? 0 : 1, 0.5), debug2.elf.best_cpu() / debug1.elf.best_cpu());
    }
    std::printf("symbol dump (-s) of debug-heavy x1: %.1f MB of text in %.3f s: %.1f MB/s\n",
                mb(dumped.text), dumped.best, mb(dumped.text) / dumped.best);
    std::printf("debug-heavy: conversion takes %.2f x (x1) and %.2f x (x2) the copy\n",
                debug1.convert.best() / debug1.copy.best(),
                debug2.convert.best() / debug2.copy.best());
    ::unlink((dir + "/run.log").c_str());
    if (keep)
      std::printf("inputs and outputs kept in %s\n", dir.c_str());
    else
      ::rmdir(dir.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tekconv_bench: %s\n", e.what());
    if (!dir.empty()) std::fprintf(stderr, "(files left in %s)\n", dir.c_str());
    return 1;
  }
}
