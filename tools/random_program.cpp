#include "random_program.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tekrec {

namespace {

// splitmix64: the same sequence on every platform, unlike the standard distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
  uint32_t between(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  bool chance(uint32_t percent) { return below(100) < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[below(static_cast<uint32_t>(v.size()))];
  }

 private:
  uint64_t s_;
};

struct Family {
  std::string name;
  std::vector<std::string> processors;
  std::vector<std::string> registers;
};

std::vector<std::string> numbered(const char* prefix, int count, const char* suffix = "") {
  std::vector<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(prefix + std::to_string(i) + suffix);
  return v;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

const std::vector<Family>& families() {
  static const std::vector<Family> f = {
      {"MC680x0",
       {"MC68000", "MC68020", "MC68040", "MC68HC001"},
       joined({numbered("D", 8), numbered("A", 8)})},
      {"SH",
       {"SH7032", "xSH7750", "xSH7604", "SH7750", "xSH7729"},
       joined({numbered("R", 16), numbered("FR", 16)})},
      {"PowerPC", {"MPC860", "MPC821"}, numbered("R", 32)},
      {"SR320", {"SR320", "SR320S30"}, numbered("R", 32)},
      {"H8",
       {"H8S2600", "H8/300H", "HD6433042", "HD64F3048"},
       joined({numbered("R", 8, "H"), numbered("R", 8, "L"), numbered("R", 8), numbered("E", 8),
               numbered("ER", 8)})},
      {"8086",
       {"M8086-16", "V8086", "M8086", "V8086-16"},
       {"ax", "bx", "cx", "dx", "sp", "bp", "si", "di", "cs", "ds", "ss", "es"}},
      {"ARM", {"ARM", "ARM7TDMI"}, numbered("R", 16)},
      {"RI",
       {"RI10", "RI20"},
       joined({{"G0", "G1", "G2", "G3", "P", "LS", "SP", "PC"},
               numbered("C", 16),
               {"AL", "AH", "T3", "R31"}})},
  };
  return f;
}

// Basic type indices set up by the BASETYPE records of every debug unit.
enum : uint8_t {
  B_VOID = 0,
  B_INT = 1,
  B_CHAR = 2,
  B_USHORT = 3,
  B_FLOAT = 4,
  B_DOUBLE = 5,
  B_UINT = 6,
  B_BIT = 7,   // BASETYPE code 5: the kind code BIT as a type index
  B_PTR = 8,   // BASETYPE code 17: a pointer kind code as a type index
  B_ENUM = 9,  // BASETYPE code 8: the kind code ENUM as a type index
};

struct Section {
  uint32_t base;
  uint32_t size;  // bytes of image placed from the base
};

struct Unit {
  std::vector<Section> sections;  // 0 code, 1 data, 2 bss, then extra ones
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : r_(seed) {
    p_.seed = seed;
    const Family& f = families()[seed % families().size()];
    family_ = &f;
    p_.family = f.name;
    p_.processor = r_.pick(f.processors);
  }

  RandomProgram run();

 private:
  void shape(const std::string& s) {
    if (std::find(p_.shapes.begin(), p_.shapes.end(), s) == p_.shapes.end()) p_.shapes.push_back(s);
  }
  std::string name(const char* prefix) { return prefix + std::to_string(names_++); }
  uint32_t mask(uint32_t v) const { return width_ == 2 ? v & 0xFFFF : v; }

  void load_information();
  void image();
  void debug_unit(uint16_t u, bool new_files);
  void basic_types();
  Fields some_type();
  void derive(bool allow_function);
  void aggregate(int depth);
  void header_types();
  void member(int depth, uint32_t offset);
  void global(uint16_t u);
  void function(uint16_t u, uint32_t& next_offset);
  void local(bool parameter, uint16_t own_id, uint16_t u);
  void lines(uint16_t u, uint32_t from, uint32_t to);
  void special_types();
  uint16_t new_id() {
    if (!known_.empty() && r_.chance(2)) {
      shape("type id defined twice");
      return r_.pick(known_);
    }
    return next_id_++;
  }
  void registered(uint16_t id) { known_.push_back(id); }
  uint16_t take_anon() {
    const uint16_t id = anon_++;
    registered(id);
    return id;
  }

  Rng r_;
  RandomProgram p_;
  const Family* family_;
  Builder& b_ = p_.object;
  int width_ = 4;
  uint8_t unit_flags_ = 0x04;
  uint8_t space_ = 0;
  bool segmented_ = false;
  std::vector<Unit> units_;
  std::vector<uint16_t> known_;  // type ids registered in the current fill of the id table
  uint16_t anon_ = 0x8000;       // the converter's anonymous id counter, followed here
  uint16_t next_id_ = 0x100;
  uint32_t names_ = 0;
  bool header_ = false;  // every debug unit begins with the same header's types
  uint32_t files_ = 0;   // source files of the current debug unit
};

RandomProgram Generator::run() {
  const bool small_space = p_.family == "H8" || p_.family == "8086";
  if (small_space && r_.chance(40)) width_ = 2;
  if (small_space && width_ == 4 && r_.chance(20)) {
    segmented_ = true;
    space_ = r_.chance(50) ? 20 : 24;
    shape("segmented addresses");
  }
  unit_flags_ = static_cast<uint8_t>(width_ | (segmented_ ? 0x80 : 0));
  p_.short_pointers = r_.chance(20);
  p_.full_paths = r_.chance(35);
  if (p_.short_pointers) shape("2-byte pointers (-ps)");
  b_.hdr(0, r_.chance(30) ? 2 : 1);

  load_information();
  image();

  // Several debug units; a later one that names no source files shares the id table's fill
  // with the one before it. Several units may include the same header.
  header_ = units_.size() > 1 && r_.chance(40);
  for (uint16_t u = 0; u < units_.size(); ++u) {
    const bool new_files = u == 0 || r_.chance(70);
    if (!new_files) shape("debug unit without SRCFILES");
    debug_unit(u, new_files);
  }
  b_.end();
  return std::move(p_);
}

void Generator::load_information() {
  const uint64_t seed = p_.seed;
  const uint32_t unit_count = r_.between(1, 3);
  // A few seeds carry tens of thousands of contiguous ranges (all the sections the first unit
  // can declare), some more carry thousands.
  enum { NONE, THOUSANDS, MOST } ranges = NONE;
  if (!segmented_ && width_ == 4) {
    if (seed % 397 == 396)
      ranges = MOST;
    else if (seed % 97 == 50)
      ranges = THOUSANDS;
  }
  if (ranges == MOST) shape("tens of thousands of one-byte ranges");
  if (ranges == THOUSANDS) shape("thousands of one-byte ranges");
  // A section whose image ends at 2^32 (two chunks of 256 bytes): the data section, or the
  // code section with functions and line rows up to its end.
  const bool top = !segmented_ && r_.chance(12);
  const bool code_top = top && r_.chance(50);
  if (top)
    shape(code_top ? "code at the top of the address space"
                   : "data at the top of the address space");

  for (uint32_t u = 0; u < unit_count; ++u) {
    Unit unit;
    const uint32_t count = r_.between(3, 5);
    for (uint32_t s = 0; s < count; ++s) {
      uint32_t base;
      if (width_ == 2)
        base = 0x1000 + u * 0x3000 + s * 0x800;
      else
        base = 0x10000 + u * 0x100000 + s * 0x10000;
      if (segmented_) base = 0x1000 + u * 0x20000 + s * 0x4000;
      unit.sections.push_back({base, 0});
    }
    if (top && u == 0)
      unit.sections[code_top ? 0 : count - 1].base = width_ == 2 ? 0xFE00 : 0xFFFFFE00;
    units_.push_back(unit);
  }
  const uint32_t tiny = ranges == MOST        ? 0xFFFF - units_[0].sections.size()
                        : ranges == THOUSANDS ? 3000
                                              : 0;

  for (uint32_t u = 0; u < unit_count; ++u) {
    std::string module = "m" + std::to_string(u);
    if (r_.chance(8)) {
      module.clear();
      shape("empty module name");
    }
    std::string processor = u == 0 ? p_.processor : r_.pick(family_->processors);
    if (u > 0 && r_.chance(4)) {
      processor = r_.pick(r_.pick(families()).processors);
      shape("units of different processors");
    }
    const uint32_t extra = u == 0 ? tiny : 0;
    const auto count = static_cast<uint16_t>(units_[u].sections.size() + extra);
    b_.unit(module, processor, count, unit_flags_, space_);
    std::optional<uint32_t> addend;
    if (segmented_) addend = 0;
    static const char* const NAMES[] = {"P", "D", "B", "C", "X"};
    for (size_t s = 0; s < units_[u].sections.size(); ++s)
      b_.cl(units_[u].sections[s].base, NAMES[s], 0, addend);
    for (uint32_t i = 0; i < extra; ++i) b_.cl(0x01000000 + i * 4, "T");
  }
  // The one-byte ranges, each in a section of its own.
  for (uint32_t i = 0; i < tiny; ++i)
    b_.sect(0, static_cast<uint16_t>(units_[0].sections.size() + i))
        .data({static_cast<uint8_t>(i)});
}

void Generator::image() {
  // The sections of all units in a random order: OBJECT records out of address order.
  std::vector<std::pair<uint16_t, uint16_t>> order;
  for (uint16_t u = 0; u < units_.size(); ++u)
    for (uint16_t s = 0; s < units_[u].sections.size(); ++s) order.push_back({u, s});
  for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[r_.below(i)]);
  if (!std::is_sorted(order.begin(), order.end())) shape("image out of address order");

  for (const auto& [u, s] : order) {
    Section& sec = units_[u].sections[s];
    const bool at_top = sec.base >= (width_ == 2 ? 0xFE00u : 0xFFFFFE00u);
    uint32_t size = at_top ? 0x200 : r_.between(0x40, 0x300);
    if (s == 0) size = std::max<uint32_t>(size, 0x200);  // room for the functions
    sec.size = size;
    b_.sect(u, s);
    switch (at_top ? 0 : r_.below(3)) {
      case 0: {
        std::vector<uint8_t> bytes(size);
        for (auto& v : bytes) v = static_cast<uint8_t>(r_.next());
        b_.data(bytes);
        break;
      }
      case 1:
        b_.repeat(static_cast<uint16_t>(size / 2), {0x4E, 0x71});
        sec.size = size / 2 * 2;
        break;
      default:
        b_.zero(static_cast<uint16_t>(size));
        break;
    }
    if (r_.chance(3)) {
      b_.sect(u, s).data({1, 2, 3, 4});
      shape("overlapping image data");
    }
  }
  if (p_.family == "ARM")
    for (uint16_t u = 0; u < units_.size(); ++u)
      for (int i = 0; i < 3; ++i)
        b_.aflag(0, r_.below(units_[u].sections[0].size) & ~1u, r_.chance(60) ? 1 : 2);
}

void Generator::basic_types() {
  const bool int16 = p_.family == "H8" || p_.family == "8086";
  b_.basetype(B_VOID, 0, 0, 0, "void");
  b_.basetype(B_INT, 3, int16 ? 2 : 4, 0, "int");
  b_.basetype(B_CHAR, 2, 1, 0, "char");
  b_.basetype(B_USHORT, 3, 2, 0x40, "unsigned short");
  b_.basetype(B_FLOAT, 4, 4, 0, "float");
  b_.basetype(B_DOUBLE, 4, 8, 0x01, "double");
  b_.basetype(B_UINT, 3, 4, 0x40, "unsigned long");
  b_.basetype(B_BIT, 5, 1, 0);
  b_.basetype(B_PTR, 17, 4, 0);
  b_.basetype(B_ENUM, 8, 4, 0);
}

Fields Generator::some_type() {
  if (!known_.empty() && r_.chance(40)) return type_id(r_.pick(known_));
  if (r_.chance(2)) {
    shape("undefined type id");
    return type_id(0x7F00);
  }
  if (r_.chance(3)) {
    shape("kind code as basic type");
    return basic_type(r_.chance(50) ? B_PTR : B_ENUM);
  }
  static const std::vector<uint8_t> COMMON = {B_INT,    B_CHAR, B_USHORT, B_FLOAT,
                                              B_DOUBLE, B_UINT, B_VOID};
  return basic_type(r_.pick(COMMON));
}

// Pointer, array and function records that refine the symbol just written.
void Generator::derive(bool allow_function) {
  const uint32_t steps = r_.chance(50) ? 0 : r_.between(1, 3);
  for (uint32_t i = 0; i < steps; ++i) {
    const uint32_t what = r_.below(allow_function ? 3 : 2);
    if (what == 0) {
      static const std::vector<uint8_t> KINDS = {0, 0, 0, 2, 3, 4, 15};
      const uint8_t kind = r_.pick(KINDS);
      if (kind == 15 && width_ != 2 && width_ != 4) continue;
      b_.dpt(kind);
      take_anon();
    } else if (what == 1) {
      const uint32_t dims = r_.chance(5) ? 0 : r_.between(1, 3);
      std::vector<uint32_t> bounds;
      for (uint32_t d = 0; d < dims; ++d) {
        uint32_t bound = r_.below(12);
        if (r_.chance(6)) {
          bound = 0xFFFFFFFF;
          shape("array bound 0xFFFFFFFF");
        }
        bounds.push_back(mask(bound));
      }
      if (dims == 0) shape("array of no dimension");
      b_.arrtype(bounds);
      for (uint32_t d = 0; d < std::max<uint32_t>(dims, 1); ++d) take_anon();
    } else {
      b_.functype();
      take_anon();
    }
  }
}

void Generator::member(int depth, uint32_t offset) {
  if (depth < 3 && r_.chance(8)) {
    aggregate(depth + 1);  // a nested tag inside the body
    return;
  }
  Symbol m{MEMBER, 0, name("m"), some_type(), {}, {}};
  if (r_.chance(15)) {
    const uint32_t bits = r_.between(1, 16);
    const int8_t bit_offset = static_cast<int8_t>(r_.chance(5) ? -3 : r_.below(16));
    m.type = basic_type(r_.chance(50) ? B_INT : B_UINT);
    if (r_.chance(20)) m.type = basic_type(B_BIT);
    m.location = bitfield_at(offset, bits, bit_offset);
    b_.symbol(m);
    take_anon();
    shape("bit-fields");
    return;
  }
  m.location = member_at(offset, 4);
  b_.symbol(m);
  derive(false);
}

void Generator::aggregate(int depth) {
  const uint32_t kind = r_.below(3);
  std::string tag = name("t");
  if (r_.chance(4)) tag.clear();
  const uint16_t id = new_id();
  if (kind == 0) {
    b_.symbol({ENUM_TAG, id, tag, {}, enum_tag(), {}});
    b_.aggr_begin();
    const uint32_t count = r_.below(5);
    for (uint32_t i = 0; i < count; ++i) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%X", r_.chance(10) ? 0xFFFFFFFFu : r_.below(300));
      b_.symbol({HEXVALUE, 0, name("E"), {}, hex_digits(digits), {}});
    }
    b_.aggr_end();
    registered(id);
    return;
  }
  const uint32_t count = r_.below(7);
  b_.symbol({kind == 1 ? STRUCT_TAG : UNION_TAG, id, tag, {}, aggregate_tag(count * 4 + 4), {}});
  registered(id);  // a structure or union registers its id with its tag
  b_.aggr_begin();
  for (uint32_t i = 0; i < count; ++i) member(depth, kind == 1 ? i * 4 : 0);
  b_.aggr_end();
}

// The types of a header that several units include: the same aggregates (names, members,
// pointers and arrays derived from them) in every unit, drawn from a generator of their own that
// starts alike each time. Their ids join the unit's known ids afterwards.
void Generator::header_types() {
  shape("types repeated by several units");
  const Rng rest = r_;
  r_ = Rng(p_.seed ^ 0x4EADE5u);
  const uint32_t names = names_;
  names_ = 1u << 20;
  std::vector<uint16_t> known = std::move(known_);
  known_.clear();
  const uint32_t count = r_.between(1, 4);
  for (uint32_t i = 0; i < count; ++i) aggregate(0);
  r_ = rest;
  names_ = names;
  known.insert(known.end(), known_.begin(), known_.end());
  known_ = std::move(known);
}

void Generator::global(uint16_t u) {
  const Unit& unit = units_[u];
  const uint16_t s =
      static_cast<uint16_t>(1 + r_.below(static_cast<uint32_t>(unit.sections.size() - 1)));
  const uint32_t offset = r_.below(std::max<uint32_t>(unit.sections[s].size, 1)) & ~3u;
  static const std::vector<uint8_t> FORMS = {2, 2, 3, 5, 4};
  const uint8_t form = r_.pick(FORMS);
  b_.symbol({VARIABLE, 0, name("g"), some_type(), in_section(form, s, offset, 4), {}});
  derive(true);
}

void Generator::local(bool parameter, uint16_t own_id, uint16_t u) {
  Symbol v{VARIABLE, 0, name(parameter ? "a" : "v"), some_type(), {}, {}};
  if (parameter && r_.chance(6)) {
    // A parameter of the function's own type: the function type's parameter is itself.
    v.type = type_id(own_id);
    shape("function type whose parameter is itself");
  }
  const uint32_t where = r_.below(10);
  const auto& regs = family_->registers;
  if (where < 5) {
    v.location = in_frame(mask(parameter ? 8 + r_.below(4) * 4 : 0u - 4 - r_.below(8) * 4));
  } else if (where < 8) {
    std::string reg = r_.pick(regs);
    if (r_.chance(5)) {
      reg = "Q9";
      shape("register name not in the table");
    }
    v.location = in_register(reg);
  } else if (where == 8 && !parameter) {
    // Register pairs: SH7750 FRk/FRk+1, RI register lists.
    const uint32_t k = r_.below(15);
    if (p_.family == "SH")
      v.location = in_registers({"FR" + std::to_string(k), "FR" + std::to_string(k + 1)}, 8);
    else
      v.location = in_registers({r_.pick(regs), r_.pick(regs)}, 8);
    shape("register pairs and lists");
  } else {
    const Unit& unit = units_[u];
    v.location = in_section(4, 1, r_.below(unit.sections[1].size) & ~3u, 4);
  }
  b_.symbol(v);
  derive(true);
}

void Generator::lines(uint16_t u, uint32_t from, uint32_t to) {
  if (files_ == 0) return;
  b_.sect(u, 0);
  b_.curfile(static_cast<uint16_t>(r_.below(files_)));
  std::vector<std::pair<uint16_t, uint32_t>> pairs;
  const uint32_t count = r_.below(6);
  uint16_t line = static_cast<uint16_t>(r_.between(1, 2000));
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset = from + r_.below(std::max<uint32_t>(to - from, 1));
    if (r_.chance(5)) offset = to + r_.below(0x20);  // outside the function
    offset = std::min(offset, units_[u].sections[0].size - 1);
    if (r_.chance(3)) line = r_.chance(50) ? 0 : 0xFFFF;
    pairs.push_back({line, mask(offset)});
    line = static_cast<uint16_t>(line + r_.below(4));
  }
  b_.lines(pairs);
}

void Generator::function(uint16_t u, uint32_t& next_offset) {
  const Section& code = units_[u].sections[0];
  uint32_t offset = next_offset;
  if (offset > 0 && r_.chance(10)) {
    offset -= r_.between(1, std::min<uint32_t>(offset, 0x20));
    shape("overlapping functions");
  }
  uint32_t size = r_.between(0x08, 0x40);
  if (r_.chance(5)) {
    size = r_.below(2);
    shape("function of size 0 or 1");
  }
  if (offset + size > code.size) return;
  // At the top of the address space, functions may end with the code section, at 2^32.
  const uint32_t end = width_ == 2 ? 0x10000 : 0;
  if (code.base + code.size == end && r_.chance(30) && code.size - size >= offset) {
    offset = code.size - size;
    shape("function ending at 2^32");
  }
  next_offset = offset + size + r_.below(8);

  const uint16_t id = new_id();
  std::string fname = name("f");
  b_.symbol(
      {FUNCTION, id, fname, some_type(), in_section(r_.chance(80) ? 2 : 5, 0, offset, size), {}});
  const uint8_t argc = static_cast<uint8_t>(r_.below(4));
  if (r_.chance(85)) b_.attr(0, argc);
  if (r_.chance(10)) derive(false);  // the return type refined
  registered(id);
  const uint32_t params = r_.chance(10) ? r_.below(4) : argc;
  for (uint32_t i = 0; i < params; ++i) local(true, id, u);
  const uint32_t locals = r_.below(5);
  for (uint32_t i = 0; i < locals; ++i) local(false, id, u);
  if (r_.chance(10)) {
    b_.symbol({UNTYPED, 0, name("L"), {}, at_section(0, offset + size / 2), {}});
    shape("code labels");
  }
  if (r_.chance(10))
    shape("scope without ENDLOCAL");
  else
    b_.blkend(0x40);
  lines(u, offset, offset + size);
}

// Types that refer to themselves without passing through a structure, union or enumeration.
void Generator::special_types() {
  if (r_.chance(10)) {
    // The next anonymous id is the pointer's own: a pointer to itself.
    b_.symbol({VARIABLE, 0, name("selfp"), type_id(anon_), in_section(2, 1, 0, 4), {}});
    b_.dpt(0);
    take_anon();
    shape("pointer to itself");
  }
  if (r_.chance(8)) {
    // Two array dimensions whose innermost element is the outer array.
    b_.symbol({VARIABLE, 0, name("selfa"), type_id(anon_), in_section(2, 1, 4, 4), {}});
    b_.arrtype({mask(1), mask(2)});
    take_anon();
    take_anon();
    shape("arrays of each other");
  }
  if (r_.chance(8)) {
    // A function type returning itself, and a pointer to it.
    b_.symbol({VARIABLE, 0, name("selff"), type_id(anon_), in_section(2, 1, 8, 4), {}});
    b_.functype();
    take_anon();
    b_.dpt(0);
    take_anon();
    shape("function type returning itself");
  }
}

void Generator::debug_unit(uint16_t u, bool new_files) {
  static const std::vector<SourceFile> FILES = {{"src/", "main.c"},
                                                {"", "util.h"},
                                                {"", ""},
                                                {"include/", ""},
                                                {"C:\\work\\src\\", "main.c"},
                                                {"..\\lib\\", "io.c"},
                                                {"/abs/dir/", "x.c"}};
  const uint8_t flags = r_.pick(std::vector<uint8_t>{0x00, 0x01, 0x10, 0x11});
  b_.dbgunit(flags, u);
  anon_ = 0x8000;
  files_ = 0;
  if (new_files) {
    std::vector<SourceFile> files;
    const uint32_t count = r_.between(1, 3);
    for (uint32_t i = 0; i < count; ++i) {
      const SourceFile& f = r_.pick(FILES);
      if (f.file.empty()) shape(f.dir.empty() ? "empty source name" : "path-only source name");
      if (f.dir.find('\\') != std::string::npos) shape("DOS paths");
      files.push_back(f);
    }
    b_.srcfiles(files);
    known_.clear();
    files_ = count;
  }
  basic_types();
  if (header_) header_types();

  const uint32_t aggregates = r_.below(5);
  for (uint32_t i = 0; i < aggregates; ++i) aggregate(0);
  special_types();
  const uint32_t globals = r_.below(6);
  for (uint32_t i = 0; i < globals; ++i) global(u);
  if (r_.chance(20)) {
    b_.symbol({CLASSED,
               0,
               name("k"),
               {},
               classed(r_.chance(50) ? 4 : 2, 4, static_cast<uint32_t>(r_.next())),
               {}});
    b_.symbol({HEXVALUE, 0, name("h"), {}, hex_digits("1F"), {}});
  }
  uint32_t next_offset = 0;
  const uint32_t functions = r_.below(7);
  for (uint32_t i = 0; i < functions; ++i) function(u, next_offset);
  if (r_.chance(30)) lines(u, 0, units_[u].sections[0].size);  // rows outside any function
}

}  // namespace

std::vector<std::string> RandomProgram::options() const {
  std::vector<std::string> o = {"-O", "elf"};
  if (short_pointers) o.push_back("-ps");
  if (full_paths) o.push_back("-fullpath");
  return o;
}

const std::vector<std::string>& random_program_families() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const Family& f : families()) v.push_back(f.name);
    return v;
  }();
  return names;
}

RandomProgram random_program(uint64_t seed) {
  return Generator(seed).run();
}

}  // namespace tekrec
