// Derives the program of an ELF file from the collected context records.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "elf/model.hpp"
#include "elf/type_merge.hpp"
#include "format/teka/processors.hpp"

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

// The one type that a type of these kinds refers to (pointed-to, element, aliased, returned).
bool has_single_ref(uint32_t kind) {
  switch (kind_info(kind).cls) {
    case KindClass::Pointer:
    case KindClass::Array:
    case KindClass::Typedef:
    case KindClass::Function:
      return true;
    default:
      return false;
  }
}

uint32_t single_ref(const TypeFields& t) {
  return is_function_kind(t.kind) ? t.retix : t.typeix;
}

// Does the register number name a register of the processor's table? SH7750 doubles arrive
// as 32 + n for the pair FRn, FRn+1; an RI register list holds the last register in its low
// byte.
constexpr int PROC_SH7750 = 11;

bool known_register(int processor, uint32_t reg) {
  if (processor < 0) return false;
  const uint32_t count = static_cast<uint32_t>(register_count(processor));
  if (processor == PROC_RI10 || processor == PROC_RI20) return (reg & 0xFF) < count;
  if (processor == PROC_SH7750) return reg < count || (reg >= 32 && reg < 32 + 15);
  return reg < count;
}

// The index of a type by selfix, -1 when none defines it; with classes of types merged, the
// index of the type that stands for its class.
ptrdiff_t index_in(const Program& p, const std::vector<uint32_t>* classes, uint32_t selfix) {
  uint32_t i = p.type_at.get(selfix);
  if (i == TypeIndex::NONE) return -1;
  if (classes) i = (*classes)[i];
  return static_cast<ptrdiff_t>(i);
}

// Whether type i is a first definition and, with classes of types merged, stands for its class.
bool walked(const ElfModel& m, const Program& p, const std::vector<uint32_t>* classes, size_t i) {
  return p.type_at.get(m.types[i].t.selfix) == i && (!classes || (*classes)[i] == i);
}

// Breaks the loops of type references that do not pass through a structure, union, class or
// enumeration (readers follow those without end): the reference that closes a loop is left
// out, and a function type whose parameter types lead back to it gets unknown parameters.
// With classes, the types that stand for classes of merged types are walked, and references
// go to the types that stand for their targets' classes.
void break_type_loops(ElfModel& m, Program& p, const std::vector<uint32_t>* classes = nullptr) {
  const size_t n = m.types.size();
  auto index_of = [&](uint32_t selfix) { return index_in(p, classes, selfix); };
  auto next = [&](size_t i) -> ptrdiff_t {
    const TypeFields& t = m.types[i].t;
    if (!has_single_ref(t.kind) || p.cut_ref.count(t.selfix)) return -1;
    return index_of(single_ref(t));
  };
  // Every type has at most one such reference: follow each chain until it ends, meets a chain
  // already followed, or comes back to a type of its own walk.
  std::vector<uint32_t> walk(n, 0);  // the walk that reached the type (0: none yet)
  uint32_t stamp = 0;
  for (size_t start = 0; start < n; ++start) {
    if (walk[start] || !walked(m, p, classes, start)) continue;
    ++stamp;
    size_t i = start;
    for (;;) {
      walk[i] = stamp;
      ptrdiff_t j = next(i);
      if (j < 0 || (walk[j] && walk[j] != stamp)) break;
      if (walk[j] == stamp) {
        const TypeRec& t = m.types[i];
        p.cut_ref.insert(t.t.selfix);
        m.warn(t.at, format("type 0x%X closes a loop of type references: its reference to type "
                            "0x%X is left out (void)",
                            t.t.selfix, single_ref(t.t)));
        break;
      }
      i = static_cast<size_t>(j);
    }
  }

  // Parameter types: a function type keeps them when none of them leads back to it through
  // the references kept, the parameters of every function type not yet written as unknown
  // included; so no loop remains, and of two function types whose parameters lead to each
  // other only the first loses its parameters.
  std::vector<uint32_t> seen(n, 0);
  std::vector<size_t> stack;
  std::vector<const LocalRec*> params, more;
  for (size_t f = 0; f < n; ++f) {
    const TypeFields& ft = m.types[f].t;
    if (!is_function_kind(ft.kind) || !walked(m, p, classes, f)) continue;
    p.params_of_type(ft.selfix, params);
    if (params.empty()) continue;
    ++stamp;
    stack.clear();
    for (const LocalRec* l : params) {
      ptrdiff_t j = index_of(l->typeix);
      if (j >= 0) stack.push_back(static_cast<size_t>(j));
    }
    bool loops = false;
    while (!stack.empty()) {
      size_t i = stack.back();
      stack.pop_back();
      if (seen[i] == stamp) continue;
      seen[i] = stamp;
      if (i == f) {
        loops = true;
        break;
      }
      ptrdiff_t j = next(i);
      if (j >= 0) stack.push_back(static_cast<size_t>(j));
      if (is_function_kind(p.kinds[i])) {
        p.params_of_type(m.types[i].t.selfix, more);
        for (const LocalRec* l : more) {
          ptrdiff_t k = index_of(l->typeix);
          if (k >= 0) stack.push_back(static_cast<size_t>(k));
        }
      }
    }
    if (!loops) continue;
    p.unknown_params.insert(ft.selfix);
    m.warn(m.types[f].at, format("function type 0x%X has a parameter whose type leads back to "
                                 "it: its parameters are written as unknown",
                                 ft.selfix));
  }
}

// Breaks the structures, unions and classes that contain themselves by value (through their
// members, arrays and typedefs, not through a pointer): their size would be infinite, and
// readers that lay them out never finish. The strongly connected parts of that graph are found
// first (Tarjan); within one, each aggregate's members are followed in record order, and a
// member whose type leads back to its aggregate loses its type (void). With classes, as for
// break_type_loops.
void break_self_containment(ElfModel& m, Program& p,
                            const std::vector<uint32_t>* classes = nullptr) {
  const size_t n = m.types.size();
  auto index_of = [&](uint32_t selfix) { return index_in(p, classes, selfix); };
  // The types that type i holds by value: (member index or SIZE_MAX, type index).
  auto edges = [&](size_t i, auto&& f) {
    const TypeRec& t = m.types[i];
    if (!walked(m, p, classes, i)) return;  // a second definition (no DIE), or merged
    if (is_aggregate_kind(t.t.kind)) {
      for (size_t k = 0; k < t.members.size(); ++k) {
        if (!p.cut_member.empty() && p.cut_member.count({t.t.selfix, k})) continue;
        ptrdiff_t j = index_of(m.members[t.members.first + k].typeix);
        if (j >= 0) f(k, static_cast<size_t>(j));
      }
    } else if ((t.t.kind == K_ARRAY || t.t.kind == K_TYPEDEF) &&
               (p.cut_ref.empty() || !p.cut_ref.count(t.t.selfix))) {
      ptrdiff_t j = index_of(t.t.typeix);
      if (j >= 0) f(SIZE_MAX, static_cast<size_t>(j));
    }
  };
  // Only aggregates, arrays and typedefs hold types by value: the other types end every path
  // and are in no loop, so the search does not enter them (their component stays NONE, unlike
  // that of any aggregate). A byte per type, read at every edge.
  std::vector<uint8_t> holding(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t kind = p.kinds[i];
    holding[i] = is_aggregate_kind(kind) || kind == K_ARRAY || kind == K_TYPEDEF;
  }
  auto holds = [&](size_t i) { return holding[i] != 0; };
  // Tarjan's strongly connected components, iteratively.
  constexpr uint32_t NONE = UINT32_MAX;
  std::vector<uint32_t> order(n, NONE), low(n, 0), comp(n, NONE), comp_size;
  std::vector<bool> self_held(n, false);  // a member of the aggregate has its own type
  std::vector<size_t> stack;
  std::vector<bool> on_stack(n, false);
  // A frame is a node and its successors left, the end of succ from its first one on: a
  // frame's successors lie above its parent's.
  struct Frame {
    size_t v, first;
  };
  std::vector<Frame> frames;
  std::vector<size_t> succ;
  uint32_t counter = 0, comps = 0;
  for (size_t root = 0; root < n; ++root) {
    if (order[root] != NONE || !holds(root) || !walked(m, p, classes, root)) continue;
    auto enter = [&](size_t v) {
      order[v] = low[v] = counter++;
      stack.push_back(v);
      on_stack[v] = true;
      frames.push_back({v, succ.size()});
      edges(v, [&](size_t, size_t j) {
        if (j == v) self_held[v] = true;
        if (holds(j)) succ.push_back(j);
      });
    };
    enter(root);
    while (!frames.empty()) {
      const size_t v = frames.back().v;
      if (succ.size() > frames.back().first) {
        size_t w = succ.back();
        succ.pop_back();
        if (order[w] == NONE)
          enter(w);
        else if (on_stack[w])
          low[v] = std::min(low[v], order[w]);
        continue;
      }
      const size_t done = v;
      frames.pop_back();
      if (!frames.empty()) low[frames.back().v] = std::min(low[frames.back().v], low[done]);
      if (low[done] != order[done]) continue;
      comp_size.push_back(0);
      for (size_t w = NONE; w != done;) {
        w = stack.back();
        stack.pop_back();
        on_stack[w] = false;
        comp[w] = comps;
        ++comp_size.back();
      }
      ++comps;
    }
  }
  std::vector<uint32_t> seen(n, 0);
  uint32_t stamp = 0;
  std::vector<size_t> todo;
  for (size_t a = 0; a < n; ++a) {
    const TypeRec& t = m.types[a];
    if (!is_aggregate_kind(t.t.kind) || !walked(m, p, classes, a)) continue;
    // Alone in its component, an aggregate leads back to itself only through its own type.
    if (comp[a] == NONE || (comp_size[comp[a]] == 1 && !self_held[a])) continue;
    for (size_t k = 0; k < t.members.size(); ++k) {
      ptrdiff_t j = index_of(m.members[t.members.first + k].typeix);
      if (j < 0 || comp[static_cast<size_t>(j)] != comp[a]) continue;
      // Does the member's type lead back to the aggregate within its component?
      ++stamp;
      todo.assign(1, static_cast<size_t>(j));
      bool back = false;
      while (!todo.empty() && !back) {
        size_t i = todo.back();
        todo.pop_back();
        if (seen[i] == stamp) continue;
        seen[i] = stamp;
        back = i == a;
        edges(i, [&](size_t, size_t w) {
          if (comp[w] == comp[a]) todo.push_back(w);
        });
      }
      if (!back) continue;
      p.cut_member.insert({t.t.selfix, k});
      m.warn(t.at,
             format("type 0x%X contains itself by value through its member %s: the "
                    "member's type is left out (void)",
                    t.t.selfix, std::string(m.name(m.members[t.members.first + k].name)).c_str()));
    }
  }
}

// Merges the types written alike (see merge_types) and breaks the loops of type references.
// A loop among the types leaves a loop among the classes of merged types, so the loops are
// looked for among the classes first: as a rule there are none, and then there are none among
// the types either, and the many copies of each type are not walked. When there are, the
// classes' findings are dropped, the loops are broken among all the types (each TYPE record
// that closes one gets its own warning), and the types are merged again with the references
// left out.
void merge_and_break_loops(ElfModel& m, Program& p) {
  p.canon = merge_types(m, p);
  const size_t warnings = m.warnings.size();
  break_type_loops(m, p, &p.canon);
  break_self_containment(m, p, &p.canon);
  if (m.warnings.size() == warnings && p.cut_ref.empty() && p.cut_member.empty() &&
      p.unknown_params.empty())
    return;
  m.warnings.erase(m.warnings.begin() + static_cast<ptrdiff_t>(warnings), m.warnings.end());
  p.cut_ref.clear();
  p.cut_member.clear();
  p.unknown_params.clear();
  break_type_loops(m, p);
  break_self_containment(m, p);
  p.canon = merge_types(m, p);
}

// The image's contiguous address ranges, in linear addresses.
std::vector<std::pair<uint32_t, uint64_t>> image_extent(const ElfModel& m, const Program& p) {
  std::vector<std::pair<uint32_t, uint64_t>> r;
  for (const ImageChunk& c : m.image) {
    const uint32_t a = p.linear(c.addr);
    r.push_back({a, uint64_t{a} + c.len});
  }
  std::sort(r.begin(), r.end());
  std::vector<std::pair<uint32_t, uint64_t>> out;
  for (const auto& x : r) {
    if (!out.empty() && x.first <= out.back().second)
      out.back().second = std::max(out.back().second, x.second);
    else
      out.push_back(x);
  }
  return out;
}

// Gives the functions, sorted by address, ranges that do not overlap. A function scope that
// runs into the next scope ends where that one begins; a scope that begins where another one
// does gets no range. A function without a scope extends to the next function or the end of
// the image range it lies in (one byte outside the image); within another function's range it
// gets none.
void settle_ranges(ElfModel& m, Program& p) {
  std::vector<Function>& fs = p.functions;
  Function* prev = nullptr;  // the scope before, with a range
  for (Function& f : fs) {
    if (!f.scope) continue;
    if (prev && prev->lo == f.lo) {
      f.ranged = false;
      f.hi = f.lo;
      m.warn(f.scope->at, format("function scope at 0x%08X begins where another one does: it is "
                                 "written without an address range",
                                 f.lo));
      continue;
    }
    if (prev && prev->hi > f.lo) {
      m.warn(prev->scope->at,
             format("function scope 0x%08X-0x%08llX overlaps the function at "
                    "0x%08X: it is cut there",
                    prev->lo, static_cast<unsigned long long>(prev->hi - 1), f.lo));
      prev->hi = f.lo;
    }
    prev = &f;
  }

  const std::vector<std::pair<uint32_t, uint64_t>> image = image_extent(m, p);
  const Function* last = nullptr;  // the function before with a range
  for (size_t i = 0; i < fs.size(); ++i) {
    Function& f = fs[i];
    if (f.scope) {
      if (f.ranged) last = &f;
      continue;
    }
    // Ranges do not overlap: only the function before with a range can hold f.
    if (last && last->hi > f.lo) {
      f.ranged = false;
      f.hi = f.lo;
      continue;
    }
    size_t n = i + 1;
    while (n < fs.size() && fs[n].lo == f.lo) ++n;
    const uint64_t next = n < fs.size() ? uint64_t{fs[n].lo} : uint64_t{1} << 32;
    auto it = std::upper_bound(image.begin(), image.end(), f.lo,
                               [](uint32_t a, const auto& r) { return a < r.first; });
    uint64_t end = uint64_t{f.lo} + 1;
    if (it != image.begin() && f.lo < std::prev(it)->second) end = std::prev(it)->second;
    f.hi = std::min(end, next);
    last = &f;
  }

  // Readers take address 0 for code that a linker discarded, unless a section begins there
  // (gdb drops such a subprogram and unit range): a function there gets no range.
  p.zero_in_image = !image.empty() && image.front().first == 0;
  for (Function& f : fs) {
    if (p.zero_in_image || f.lo != 0) break;
    if (f.ranged && f.scope)
      m.warn(f.scope->at,
             "function scope at address 0 lies outside the image: it is written "
             "without an address range");
    f.ranged = false;
  }
}

}  // namespace

const TypeRec* Program::type(uint32_t selfix) const {
  const uint32_t i = type_at.get(selfix);
  return i == TypeIndex::NONE ? nullptr : &model->types[i];
}

bool Program::is_function_type(uint32_t selfix) const {
  const uint32_t i = type_at.get(selfix);
  return i != TypeIndex::NONE && is_function_kind(kinds[i]);
}

uint64_t Program::type_size(uint32_t selfix) const {
  // Typedef chains and array elements are followed a bounded number of steps, so that a
  // malformed cycle ends.
  uint64_t factor = 1;
  for (int depth = 0; depth < 64; ++depth) {
    const TypeRec* t = type(selfix);
    if (!t) return 0;
    const TypeFields& v = t->t;
    const KindInfo& kind = kind_info(v.kind);
    switch (kind.cls) {
      case KindClass::Base:
        // EXTFLOAT, whose size the kind leaves open, is the compiler's long double.
        return (kind.size ? kind.size : target.ext_float_size) * factor;
      case KindClass::Pointer:
      case KindClass::Bit:
        return kind.size * factor;
      case KindClass::Enum:
        return target.int_size * factor;
      case KindClass::Aggregate:
        return v.size * factor;
      case KindClass::Array:
        factor *= v.limit;
        selfix = v.typeix;
        break;
      case KindClass::Typedef:
        selfix = v.typeix;
        break;
      default:
        return 0;
    }
  }
  return 0;
}

bool Program::is_void_type(uint32_t selfix) const {
  const uint32_t i = type_at.get(selfix);
  return i != TypeIndex::NONE && kinds[i] == K_VOID;
}

void Program::params_of_type(uint32_t selfix, std::vector<const LocalRec*>& params) const {
  params.clear();
  auto it = function_of_type.find(selfix);
  const TypeRec* t = type(selfix);
  if (it == function_of_type.end() || !t || unknown_params.count(selfix)) return;
  for (const LocalRec& l : functions[it->second].scope->locals) {
    if (params.size() >= t->t.argc) break;
    if (l.cls == 3 || l.cls == 4) params.push_back(&l);
  }
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

  // The public names were stored without a search, as most come once; each now takes the
  // number of the first name with its bytes, so that the string tables keep names by number.
  {
    std::vector<Name> names(m.publics.size());
    for (size_t i = 0; i < m.publics.size(); ++i) names[i] = m.publics[i].name;
    m.names.intern(names);
    for (size_t i = 0; i < m.publics.size(); ++i) m.publics[i].name = names[i];
  }

  for (size_t i = 0; i < m.modules.size(); ++i) {
    p.cus.push_back({m.modules[i].name, {}, {}, {}, {}});
    p.cu_by_modix.try_emplace(m.modules[i].modix, i);
  }
  p.type_at = std::move(m.type_at);
  p.kinds.resize(m.types.size());
  for (size_t i = 0; i < m.types.size(); ++i) {
    p.kinds[i] = m.types[i].t.kind;
    if (p.type_at.get(m.types[i].t.selfix) != i)
      m.warn(m.types[i].at, format("type 0x%X is defined again: the first definition is kept",
                                   m.types[i].t.selfix));
  }

  // Functions: a PUBLIC of a function type, and the scope that starts at its address. The
  // PUBLIC records of a function type by address, in record order at each address:
  std::vector<std::pair<uint32_t, uint32_t>> function_publics;
  std::vector<bool> matched(m.publics.size(), false);
  for (size_t i = 0; i < m.publics.size(); ++i) {
    const PublicRec& pub = m.publics[i];
    if (p.is_function_type(pub.typeix))
      function_publics.push_back({pub.addr, static_cast<uint32_t>(i)});
  }
  std::sort(function_publics.begin(), function_publics.end());
  // Room for every function and data symbol there can be, made once: the pages of a vector's
  // room are not touched until it is filled.
  p.functions.reserve(m.scopes.size() + function_publics.size());
  p.data.reserve(m.publics.size() - function_publics.size());
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
    auto [from, to] = std::equal_range(
        function_publics.begin(), function_publics.end(), std::make_pair(scope.start, uint32_t{0}),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto at = from; at != to; ++at) {
      const uint32_t i = at->second;
      if (matched[i]) continue;
      matched[i] = true;
      f.pub = &m.publics[i];
      f.pub_index = i;
      f.cu = p.cu_of_modix(f.pub->modix);
      break;
    }
    cu_of_scope[s] = f.cu;
    p.functions.push_back(f);
  }
  for (size_t i = 0; i < m.publics.size(); ++i) {
    const PublicRec& pub = m.publics[i];
    uint32_t addr = p.linear(pub.addr);
    if (p.is_function_type(pub.typeix)) {
      if (!matched[i]) {
        Function f;
        f.pub = &pub;
        f.pub_index = static_cast<uint32_t>(i);
        f.lo = addr;
        f.hi = addr;
        f.cu = p.cu_of_modix(pub.modix);
        p.functions.push_back(f);
      }
    } else if (!p.is_void_type(pub.typeix)) {
      p.data.push_back({&pub, addr, p.cu_of_modix(pub.modix)});
    }
  }
  // Scopes come in address order as a rule: a sort would only copy them.
  auto by_lo = [](const Function& a, const Function& b) { return a.lo < b.lo; };
  if (!std::is_sorted(p.functions.begin(), p.functions.end(), by_lo))
    std::stable_sort(p.functions.begin(), p.functions.end(), by_lo);
  settle_ranges(m, p);
  for (size_t i = 0; i < p.functions.size(); ++i) {
    const Function& f = p.functions[i];
    if (f.pub && f.scope) p.function_of_type.try_emplace(f.pub->typeix, i);
  }

  // Untyped symbols are labels of the function that holds them; outside functions they get
  // no debug information (the symbol table has them).
  auto label = [&](std::string_view name, uint32_t addr) {
    ptrdiff_t f = p.function_at(addr);
    if (f >= 0) p.functions[f].labels.push_back({name, addr});
  };
  for (const PublicRec& pub : m.publics)
    if (p.is_void_type(pub.typeix)) label(m.name(pub.name), p.linear(pub.addr));
  for (const ScopeRec& scope : m.scopes)
    for (const LocalRec& l : scope.locals) {
      if (l.cls == 2 && p.is_void_type(l.typeix)) label(m.name(l.name), p.linear(l.offset));
      if (l.cls == 4 && !known_register(p.processor, l.offset)) {
        p.no_location.insert(&l);
        m.warn(scope.at, format("variable %s is in register 0x%X, which the %s does not have: "
                                "its location is left out",
                                std::string(m.name(l.name)).c_str(), l.offset,
                                name_of_processor(p.processor)));
      }
    }

  // Static variables outside a scope belong with the function scope before them.
  for (const LooseLocal& l : m.loose) {
    if (l.v.cls != 2) continue;  // stack and register variables need a function
    if (p.is_void_type(l.v.typeix)) {
      label(m.name(l.v.name), p.linear(l.v.offset));
      continue;
    }
    p.statics.push_back({&l.v, l.after_scope >= 0 ? cu_of_scope[l.after_scope] : 0});
  }
  merge_and_break_loops(m, p);

  // A line block belongs to the unit of the first function that holds one of its lines, or
  // else to the unit whose records it came with.
  for (size_t b = 0; b < m.blocks.size(); ++b) {
    const LineBlock& blk = m.blocks[b];
    size_t cu = blk.module < p.cus.size() ? blk.module : 0;
    for (const LineValue& lv : blk.lines) {
      ptrdiff_t f = p.function_at(p.linear(lv.addr));
      if (f >= 0) {
        cu = p.functions[f].cu;
        break;
      }
    }
    p.cus[cu].blocks.push_back(b);
  }
  // Each unit's lists are counted before they are filled.
  {
    std::vector<size_t> functions(p.cus.size(), 0), globals(p.cus.size(), 0);
    for (const Function& f : p.functions) ++functions[f.cu];
    for (const DataSymbol& d : p.data) ++globals[d.cu];
    for (size_t cu = 0; cu < p.cus.size(); ++cu) {
      p.cus[cu].functions.reserve(functions[cu]);
      p.cus[cu].globals.reserve(globals[cu]);
    }
  }
  for (size_t i = 0; i < p.functions.size(); ++i) p.cus[p.functions[i].cu].functions.push_back(i);
  for (size_t i = 0; i < p.data.size(); ++i) p.cus[p.data[i].cu].globals.push_back(i);
  for (size_t i = 0; i < p.statics.size(); ++i) p.cus[p.statics[i].cu].statics.push_back(i);
  return p;
}

}  // namespace tek
