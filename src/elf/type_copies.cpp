#include "elf/type_copies.hpp"

#include <algorithm>
#include <utility>

namespace tek {

namespace {

uint64_t mix(uint64_t h, uint64_t v) {
  h = (h ^ v) * 0x9E3779B97F4A7C15u;
  return h ^ h >> 32;
}

bool refers_by_typeix(KindClass c) {
  return c == KindClass::Pointer || c == KindClass::Array || c == KindClass::Typedef;
}

// Types whose DIE follows from their fields and the DIEs of the types they refer to.
bool may_copy(const TypeFields& t) {
  switch (kind_info(t.kind).cls) {
    case KindClass::Base:
    case KindClass::Bit:
      // Types 264 and 265 are the 32-bit long types of targets whose int has 32 bits.
      return t.selfix != 264 && t.selfix != 265;
    case KindClass::Pointer:
    case KindClass::Array:
    case KindClass::Typedef:
    case KindClass::Aggregate:
    case KindClass::Enum:
      return true;
    default:  // function types, and types without a DIE
      return false;
  }
}

// States of the open types while they are settled.
enum : uint8_t { UNSEEN, ON_PATH, ORDERED, SECOND_DEFINITION };

}  // namespace

uint32_t TypeCopies::ref_count(const TypeRec& t) {
  const KindClass cls = kind_info(t.t.kind).cls;
  return refers_by_typeix(cls) ? 1 : cls == KindClass::Aggregate ? t.members.count : 0;
}
uint32_t TypeCopies::ref_at(const ElfModel& m, const TypeRec& t, uint32_t j) {
  return kind_info(t.t.kind).cls == KindClass::Aggregate ? m.members[t.members.first + j].typeix
                                                         : t.t.typeix;
}

// The walk of the open types takes references by position (ref_at); settling a type goes
// through them in order, where the members' iterator is cheaper than indexing each.
template <class F>
void TypeCopies::refs_of(const ElfModel& m, const TypeRec& t, F&& f) {
  const KindClass cls = kind_info(t.t.kind).cls;
  if (refers_by_typeix(cls)) {
    f(t.t.typeix);
  } else if (cls == KindClass::Aggregate) {
    for (const MemberRec& mv : m.members_of(t)) f(mv.typeix);
  }
}

void TypeCopies::settle_last(ElfModel& m) {
  if (m.types.empty()) return;
  const uint32_t i = static_cast<uint32_t>(m.types.size() - 1);
  const TypeRec& t = m.types[i];
  const uint32_t selfix = t.t.selfix;
  if (closed_.size() <= i) closed_.resize(2 * size_t{i} + 64);
  closed_[i] = 0;
  // A second definition of a selfix is kept (and reported when the file is completed);
  // nothing refers to it, its selfix standing for the first.
  if (defined(selfix) == NONE) {
    bool keep = kind_info(t.t.kind).cls == KindClass::Function, settled = true;
    refs_.clear();
    refs_of(m, t, [&](uint32_t r) {
      const uint32_t d = r == selfix ? i : defined(r);
      if (d == NONE) {
        waiting_.push_back(r);
        settled = false;
      } else if (d >= open_from_) {
        settled = false;
      } else if (!closed_[d]) {
        keep = true;
      }
      refs_.push_back(d);
    });
    // The usual case: a type alone, referring to settled types only.
    if (!keep && settled && open_from_ == i) return settle_alone(m, i);
    keep = keep || waiting_.size() > MAX_WAITING;
    define(selfix, i);
    if (!waiting_.empty()) std::erase(waiting_, selfix);
    if (keep) return keep_open_types(size_t{i} + 1);
  }
  if (waiting_.empty())
    settle_open_types(m);
  else if (size_t{i} + 1 - open_from_ >= MAX_OPEN)
    keep_open_types(size_t{i} + 1);
}

void TypeCopies::settle_alone(ElfModel& m, uint32_t i) {
  const TypeRec& t = m.types[i];
  if (may_copy(t.t)) {
    if (const uint32_t o = find_original(m, t); o != NONE) {
      const uint32_t original = originals_[o].type;
      ++m.copied_types;
      m.copied_members += t.members.count;
      define(t.t.selfix, original);
      m.members.truncate(t.members.first);
      m.types.truncate(i);
      return;
    }
    add_original(m, i);
  }
  define(t.t.selfix, i);
  closed_[i] = 1;
  open_from_ = i + 1;
}

uint32_t TypeCopies::find_original(const ElfModel& m, const TypeRec& t) {
  if (follow_ < trace_.size()) {
    const uint32_t guess = trace_[follow_];
    if (copies(m, originals_[guess], t)) {
      trace_.push_back(guess);
      ++follow_;
      return guess;
    }
  }
  hash_ = hash_of(m, t);
  free_ = &slot_of(hash_, m, t);
  return free_->original != NONE ? met(free_->original) : NONE;
}

uint32_t TypeCopies::met(uint32_t o) {
  // Where the trace lost its way, o is looked for a little ahead (types left out of this
  // unit), and else where it came first.
  size_t at = first_at_[o];
  for (size_t k = follow_ + 1; k < std::min(trace_.size(), follow_ + 8); ++k)
    if (trace_[k] == o) {
      at = k;
      break;
    }
  trace_.push_back(o);
  follow_ = at + 1;
  return o;
}

void TypeCopies::add_original(const ElfModel& m, uint32_t i) {
  const TypeRec& t = m.types[i];
  Original o{t.t, i, static_cast<uint32_t>(original_members_.size()), t.members.count};
  const KindClass cls = kind_info(t.t.kind).cls;
  if (refers_by_typeix(cls)) o.t.typeix = refs_[0];
  uint32_t k = 0;
  for (MemberRec mv : m.members_of(t)) {
    if (cls == KindClass::Aggregate) mv.typeix = refs_[k++];
    original_members_.push_back(mv);
  }
  *free_ = {hash_, static_cast<uint32_t>(originals_.size())};
  originals_.push_back(o);
  first_at_.push_back(static_cast<uint32_t>(trace_.size()));
  met(static_cast<uint32_t>(originals_.size() - 1));
  if (originals_.size() * 2 > table_.size()) grow_table();
}

void TypeCopies::keep_open_types(size_t n) {
  open_from_ = static_cast<uint32_t>(n);
  waiting_.clear();
}

void TypeCopies::settle_open_types(ElfModel& m) {
  const uint32_t from = open_from_, n = static_cast<uint32_t>(m.types.size());
  const uint32_t count = n - from;
  // The open type that a selfix stands for, by position, or NONE.
  auto open_at = [&](uint32_t selfix) {
    const uint32_t d = defined(selfix);
    return d != NONE && d >= from && d < n ? d - from : NONE;
  };

  // Referred types before the types that refer to them; a loop keeps them all.
  state_.assign(count, UNSEEN);
  order_.clear();
  for (uint32_t k = 0; k < count; ++k)
    if (defined(m.types[from + k].t.selfix) != from + k) state_[k] = SECOND_DEFINITION;
  for (uint32_t root = 0; root < count; ++root) {
    if (state_[root] != UNSEEN) continue;
    state_[root] = ON_PATH;
    path_.assign(1, {root, 0});
    while (!path_.empty()) {
      const uint32_t k = path_.back().first, next = path_.back().second++;
      const TypeRec& t = m.types[from + k];
      if (next == ref_count(t)) {
        state_[k] = ORDERED;
        order_.push_back(k);
        path_.pop_back();
        continue;
      }
      const uint32_t c = open_at(ref_at(m, t, next));
      if (c == NONE || state_[c] == ORDERED) continue;
      if (state_[c] == ON_PATH) return keep_open_types(n);
      state_[c] = ON_PATH;
      path_.push_back({c, 0});
    }
  }

  // Each type that copies a settled one stands for it. One that refers to an open type kept
  // is new, and so copies none.
  final_.assign(count, NONE);
  for (uint32_t k : order_) {
    const TypeRec& t = m.types[from + k];
    if (!may_copy(t.t)) continue;
    const bool settled_refs = resolve_refs(m, t, [&](uint32_t selfix) {
      const uint32_t c = open_at(selfix);
      return c == NONE ? defined(selfix) : final_[c];
    });
    if (!settled_refs) continue;
    if (const uint32_t o = find_original(m, t); o != NONE) final_[k] = originals_[o].type;
  }

  // The copies give back their records; the types kept move down in their place.
  uint32_t to = from;
  uint32_t members_to = count > 0 ? m.types[from].members.first : 0;
  for (uint32_t k = 0; k < count; ++k) {
    TypeRec t = m.types[from + k];
    if (final_[k] != NONE) {
      ++m.copied_types;
      m.copied_members += t.members.count;
      define(t.t.selfix, final_[k]);
      continue;
    }
    if (t.members.first != members_to)
      for (uint32_t j = 0; j < t.members.count; ++j)
        m.members[members_to + j] = m.members[t.members.first + j];
    t.members.first = members_to;
    members_to += t.members.count;
    const bool first = state_[k] != SECOND_DEFINITION;
    if (first && to != from + k) define(t.t.selfix, to);
    m.types[to] = t;
    closed_[to] = first;
    ++to;
  }
  m.types.truncate(to);
  m.members.truncate(members_to);
  open_from_ = to;

  // The types kept are originals for the copies to come; one alike to an earlier type (two
  // copies in the open types) is left to the type search.
  for (uint32_t i = from; i < to; ++i) {
    const TypeRec& t = m.types[i];
    if (!closed_[i] || !may_copy(t.t)) continue;
    resolve_refs(m, t, [&](uint32_t selfix) { return defined(selfix); });
    if (find_original(m, t) == NONE) add_original(m, i);
  }
}

template <class R>
bool TypeCopies::resolve_refs(const ElfModel& m, const TypeRec& t, R&& resolve) {
  refs_.clear();
  bool all = true;
  refs_of(m, t, [&](uint32_t selfix) {
    const uint32_t d = resolve(selfix);
    all = all && d != NONE;
    refs_.push_back(d);
  });
  return all;
}

uint32_t TypeCopies::hash_of(const ElfModel& m, const TypeRec& t) const {
  const TypeFields& f = t.t;
  const KindClass cls = kind_info(f.kind).cls;
  uint64_t h = mix(uint64_t{f.name.id} << 8 | f.kind, uint64_t{f.size} << 32 | f.limit);
  h = mix(h, uint64_t{t.members.count} << 8 | f.sign);
  h = mix(h, refers_by_typeix(cls) ? refs_[0] : f.typeix);
  uint32_t k = 0;
  for (const MemberRec& mv : m.members_of(t)) {
    h = mix(h, uint64_t{mv.name.id} << 32 | mv.offset);
    h = mix(h, uint64_t{mv.bitsize} << 32 | (cls == KindClass::Aggregate ? refs_[k++] : mv.typeix));
  }
  return static_cast<uint32_t>(h >> 32);
}

bool TypeCopies::copies(const ElfModel& m, const Original& o, const TypeRec& t) const {
  const TypeFields &a = o.t, &b = t.t;
  if (a.kind != b.kind || a.name.id != b.name.id || a.size != b.size || a.limit != b.limit ||
      a.sign != b.sign || o.count != t.members.count)
    return false;
  const KindClass cls = kind_info(a.kind).cls;
  if (a.typeix != (refers_by_typeix(cls) ? refs_[0] : b.typeix)) return false;
  for (uint32_t k = 0; k < o.count; ++k) {
    const MemberRec& u = original_members_[o.first + k];
    const MemberRec& v = m.members[t.members.first + k];
    if (u.name.id != v.name.id || u.offset != v.offset || u.bitsize != v.bitsize ||
        u.typeix != (cls == KindClass::Aggregate ? refs_[k] : v.typeix))
      return false;
  }
  return true;
}

TypeCopies::Slot& TypeCopies::slot_of(uint32_t hash, const ElfModel& m, const TypeRec& t) {
  if (table_.empty()) table_.resize(1024);
  const size_t mask = table_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    Slot& s = table_[at];
    if (s.original == NONE || (s.hash == hash && copies(m, originals_[s.original], t))) return s;
  }
}

void TypeCopies::grow_table() {
  std::vector<Slot> old(table_.size() * 2);
  old.swap(table_);
  const size_t mask = table_.size() - 1;
  for (const Slot& s : old) {
    if (s.original == NONE) continue;
    size_t at = s.hash & mask;
    while (table_[at].original != NONE) at = (at + 1) & mask;
    table_[at] = s;
  }
}

}  // namespace tek
