// Derives the program of an ELF file from the collected context records.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "core/reader/processors.hpp"
#include "core/sinks/elf_model.hpp"

namespace tek {

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

const char* name_of_processor(int p) {
  return p >= 0 && p < PROCESSOR_COUNT ? processor_name(p) : "unknown";
}

bool is_function_kind(uint32_t kind) {
  return kind == K_FUNCTION || kind == K_FARFUNC;
}

}  // namespace

uint32_t Program::linear(uint32_t a) const {
  // The segmented forms keep a page number in the upper half and the offset in the lower
  // half: 16-byte pages (form 1) or 256-byte pages (form 2).
  switch (form) {
    case 1:
      return ((a >> 16) << 4) + (a & 0xFFFF);
    case 2:
      return ((a >> 16) << 8) + (a & 0xFFFF);
    default:
      return a;
  }
}

const TypeRec* Program::type(uint32_t selfix) const {
  auto it = type_at.find(selfix);
  return it == type_at.end() ? nullptr : &model->types[it->second];
}

bool Program::is_function_type(uint32_t selfix) const {
  const TypeRec* t = type(selfix);
  return t && is_function_kind(t->t.kind);
}

uint64_t Program::type_size(uint32_t selfix) const {
  // Typedef chains and array elements are followed a bounded number of steps, so that a
  // malformed cycle ends.
  uint64_t factor = 1;
  for (int depth = 0; depth < 64; ++depth) {
    const TypeRec* t = type(selfix);
    if (!t) return 0;
    const TypeValue& v = t->t;
    switch (v.kind) {
      case K_8SIGNED:
      case K_8UNSIGNED:
        return factor;
      case K_16SIGNED:
      case K_16UNSIGNED:
      case K_16POINTER:
      case K_ESPOINTER:
      case K_SSPOINTER:
      case K_CSPOINTER:
        return 2 * factor;
      case K_32SIGNED:
      case K_32UNSIGNED:
      case K_32FLOAT:
      case K_32POINTER:
      case K_HUGEPNT:
      case K_BIT:
        return 4 * factor;
      case K_64SIGNED:
      case K_64UNSIGNED:
      case K_64FLOAT:
        return 8 * factor;
      case K_EXTFLOAT:
        return target.ext_float_size * factor;
      case K_ENUM:
        return target.int_size * factor;
      case K_STRUCT:
      case K_UNION:
      case K_CLASS:
      case K_BITFIELD:
        return v.size * factor;
      case K_ARRAY:
        factor *= v.limit;
        selfix = v.typeix;
        break;
      case K_TYPEDEF:
        selfix = v.typeix;
        break;
      default:
        return 0;
    }
  }
  return 0;
}

ptrdiff_t Program::function_at(uint32_t addr) const {
  auto it = std::upper_bound(functions.begin(), functions.end(), addr,
                             [](uint32_t a, const Function& f) { return a < f.lo; });
  if (it == functions.begin()) return -1;
  --it;
  return addr < it->hi ? it - functions.begin() : -1;
}

size_t Program::cu_of_modix(uint32_t modix) const {
  auto it = cu_by_modix.find(modix);
  return it == cu_by_modix.end() ? 0 : it->second;
}

Program derive_program(ElfModel& m) {
  Program p;
  p.model = &m;
  if (m.modules.empty()) m.modules.push_back({1, "program"});
  m.module_at.resize(m.modules.size());

  // The first unit decides the machine and the address form.
  uint32_t first = m.modules.front().modix;
  auto proc = m.processor_of.find(first);
  p.processor = proc == m.processor_of.end() ? -1 : proc->second;
  if (p.processor < 0)
    m.warn(m.module_at.front(), "no processor is known for the first unit: ELF machine none");
  p.target = p.processor >= 0 ? elf_target(p.processor) : ElfTarget{};
  auto form = m.form_of.find(first);
  p.form = form == m.form_of.end() ? 0 : form->second;
  for (size_t i = 0; i < m.modules.size(); ++i) {
    const ModuleValue& mod = m.modules[i];
    auto pr = m.processor_of.find(mod.modix);
    if (pr != m.processor_of.end() && pr->second != p.processor)
      m.warn(m.module_at[i],
             format("unit %s is for the %s, unlike the first unit (%s): the ELF file "
                    "is written for the %s",
                    mod.name.c_str(), name_of_processor(pr->second), name_of_processor(p.processor),
                    name_of_processor(p.processor)));
    auto fo = m.form_of.find(mod.modix);
    if (fo != m.form_of.end() && fo->second != p.form)
      m.warn(m.module_at[i], format("unit %s has another segmented address form than the first "
                                    "unit: its addresses are read in the first unit's form",
                                    mod.name.c_str()));
  }

  for (size_t i = 0; i < m.modules.size(); ++i) {
    p.cus.push_back({m.modules[i].name, {}, {}, {}, {}});
    p.cu_by_modix.try_emplace(m.modules[i].modix, i);
  }
  for (size_t i = 0; i < m.types.size(); ++i) p.type_at.try_emplace(m.types[i].t.selfix, i);

  // Functions: a PUBLIC of a function type, and the scope that starts at its address.
  std::unordered_map<uint32_t, std::vector<size_t>> function_publics;
  std::vector<bool> matched(m.publics.size(), false);
  for (size_t i = 0; i < m.publics.size(); ++i) {
    const PublicValue& pub = m.publics[i];
    if (p.is_function_type(pub.typeix)) function_publics[pub.addr].push_back(i);
  }
  std::vector<size_t> cu_of_scope(m.scopes.size(), 0);
  for (size_t s = 0; s < m.scopes.size(); ++s) {
    const ScopeRec& scope = m.scopes[s];
    Function f;
    f.scope = &scope;
    f.lo = p.linear(scope.start);
    // A scope without ENDLOCAL is a function of one byte (the converter writes none then).
    f.hi = scope.end ? uint64_t{p.linear(*scope.end)} + 1 : uint64_t{f.lo} + 1;
    if (f.hi <= f.lo) f.hi = uint64_t{f.lo} + 1;
    f.cu = s > 0 ? cu_of_scope[s - 1] : 0;
    auto it = function_publics.find(scope.start);
    if (it != function_publics.end()) {
      for (size_t i : it->second) {
        if (matched[i]) continue;
        matched[i] = true;
        f.pub = &m.publics[i];
        f.cu = p.cu_of_modix(f.pub->modix);
        break;
      }
    }
    cu_of_scope[s] = f.cu;
    p.functions.push_back(f);
  }
  for (size_t i = 0; i < m.publics.size(); ++i) {
    const PublicValue& pub = m.publics[i];
    uint32_t addr = p.linear(pub.addr);
    if (p.is_function_type(pub.typeix)) {
      if (!matched[i]) p.functions.push_back({&pub, nullptr, addr, addr, p.cu_of_modix(pub.modix)});
    } else {
      p.data.push_back({&pub, addr, p.cu_of_modix(pub.modix)});
    }
  }
  std::stable_sort(p.functions.begin(), p.functions.end(),
                   [](const Function& a, const Function& b) { return a.lo < b.lo; });

  // Static variables outside a scope belong with the function scope before them.
  for (const LooseLocal& l : m.loose) {
    if (l.v.cls != 2) continue;  // stack and register variables need a function
    p.statics.push_back({&l.v, l.after_scope >= 0 ? cu_of_scope[l.after_scope] : 0});
  }

  // A line block belongs to the unit of the function that holds its first line, or else of
  // the nearest function before it.
  for (size_t b = 0; b < m.blocks.size(); ++b) {
    size_t cu = 0;
    if (!m.blocks[b].lines.empty() && !p.functions.empty()) {
      uint32_t addr = p.linear(m.blocks[b].lines.front().addr);
      ptrdiff_t f = p.function_at(addr);
      if (f < 0) {
        auto it = std::upper_bound(p.functions.begin(), p.functions.end(), addr,
                                   [](uint32_t a, const Function& fn) { return a < fn.lo; });
        if (it != p.functions.begin()) f = std::prev(it) - p.functions.begin();
      }
      if (f >= 0) cu = p.functions[f].cu;
    }
    p.cus[cu].blocks.push_back(b);
  }
  for (size_t i = 0; i < p.functions.size(); ++i) p.cus[p.functions[i].cu].functions.push_back(i);
  for (size_t i = 0; i < p.data.size(); ++i) p.cus[p.data[i].cu].globals.push_back(i);
  for (size_t i = 0; i < p.statics.size(); ++i) p.cus[p.statics[i].cu].statics.push_back(i);
  return p;
}

}  // namespace tek
