// The processor table and the register tables of each processor family.
#include "format/teka/processors.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tek {

namespace {

constexpr const char* PROCESSORS[] = {
    "MC68000",   "MC68008",   "MC68010",   "MC68HC000", "MC68HC001", "MC68EC000", "MC68020",
    "MC68030",   "MC68040",   "SH7032",    "SH7604",    "SH7750",    "SH7708",    "SH7709",
    "SH7709A",   "SH7729",    "MPC821",    "MPC860",    "SR320S30",  "SR320",     "H8S2600",
    "H8S2655",   "HD6432655", "HD6432653", "HD6472655", "HD6413003", "HD6433040", "HD6433041",
    "HD6433042", "HD6473042", "HD6473072", "HD6433071", "HD6433070", "HD6413002", "HD6433048",
    "HD6473048", "HD6433047", "HD6433044", "HD64F3048", "M8086-16",  "V8086-16",  "M8086",
    "V8086",     "ARM",       "RI10",      "RI20",
};
static_assert(std::size(PROCESSORS) == PROCESSOR_COUNT);

using Names = std::vector<std::string>;

// prefix0 .. prefix(n-1)
void add_numbered(Names& names, const char* prefix, int first, int count, const char* suffix = "") {
  for (int i = first; i < first + count; ++i) {
    std::string name = prefix;
    name += std::to_string(i);
    name += suffix;
    names.push_back(std::move(name));
  }
}

Names mc680x0() {
  Names n;
  add_numbered(n, "D", 0, 8);
  add_numbered(n, "A", 0, 8);
  return n;
}

Names r_regs(int count) {
  Names n;
  add_numbered(n, "R", 0, count);
  return n;
}

Names sh7750() {
  Names n = r_regs(16);
  add_numbered(n, "FR", 0, 16);
  return n;
}

Names h8() {
  Names n;
  add_numbered(n, "R", 0, 8, "H");
  add_numbered(n, "R", 0, 8, "L");
  add_numbered(n, "R", 0, 8);
  add_numbered(n, "E", 0, 8);
  add_numbered(n, "ER", 0, 8);
  return n;
}

Names x86() {
  return {"ax", "bx", "cx", "dx", "sp", "bp", "si", "di", "cs", "ds", "ss", "es"};
}

Names ri() {
  Names n = {"G0", "G1", "G2", "G3", "P", "LS", "LI", "LN", "SP", "PC"};
  add_numbered(n, "C", 0, 16);
  add_numbered(n, "H", 0, 16);
  add_numbered(n, "I", 0, 4);
  add_numbered(n, "L", 0, 8);
  n.push_back("D");
  add_numbered(n, "D", 1, 15);
  n.push_back("GL");
  n.push_back("GH");
  return n;
}

Names ri_extra() {
  Names n = r_regs(32);
  for (const char* s : {"A", "F", "T", "V", "C", "M", "AL", "AH", "FL", "FH"}) n.push_back(s);
  add_numbered(n, "T", 0, 8);
  return n;
}

struct Tables {
  Names mc, sh, sh7750, ppc, h8, x86, arm, ri, ri_extra;
  std::array<const Names*, PROCESSOR_COUNT> by_code{};
  Tables()
      : mc(mc680x0()),
        sh(r_regs(16)),
        sh7750(tek::sh7750()),
        ppc(r_regs(32)),
        h8(tek::h8()),
        x86(tek::x86()),
        arm(r_regs(16)),
        ri(tek::ri()),
        ri_extra(tek::ri_extra()) {
    for (int c = 0; c <= 8; ++c) by_code[c] = &mc;
    for (int c : {9, 10, 12, 13, 14, 15}) by_code[c] = &sh;
    by_code[11] = &sh7750;
    for (int c = 16; c <= 19; ++c) by_code[c] = &ppc;
    for (int c = 20; c <= 38; ++c) by_code[c] = &h8;
    for (int c = 39; c <= 42; ++c) by_code[c] = &x86;
    by_code[43] = &arm;
    by_code[44] = by_code[45] = &ri;
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

char ascii_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Register names compare without regard to ASCII letter case, whatever the locale.
bool same_register(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

int find(const Names& names, const char* name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (same_register(names[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

const char* processor_name(int code) {
  return code >= 0 && code < PROCESSOR_COUNT ? PROCESSORS[code] : PROCESSORS[0];
}

int processor_code_in(const char* name) {
  for (int c = 0; c < PROCESSOR_COUNT; ++c)
    if (std::string_view(name).find(PROCESSORS[c]) != std::string_view::npos) return c;
  return -1;
}

int register_number(int processor, const char* name) {
  const Tables& t = tables();
  const Names* names = t.by_code[processor >= 0 && processor < PROCESSOR_COUNT ? processor : 0];
  return find(*names, name);
}

int register_count(int processor) {
  const Tables& t = tables();
  return static_cast<int>(
      t.by_code[processor >= 0 && processor < PROCESSOR_COUNT ? processor : 0]->size());
}

int ri_extra_register(const char* name) {
  return find(tables().ri_extra, name);
}

}  // namespace tek
