// Finds the types whose DIEs would be written alike. Types are taken in index order; a type is
// looked up by a key of what its own DIE holds and the kind and name of what it refers to, and
// compared with the earlier types of that key. A comparison assumes the pair alike and follows
// their references in step: a pair met again holds if it is the pair assumed, and types already
// known to be alike hold at once. When every pair holds, the pairs assumed form a relation that
// each reference keeps, so every type in it is written alike to its partner, and all of them
// are merged at once: the first comparison of a unit's types usually merges most of them.
#include "elf/type_merge.hpp"

#include <numeric>
#include <utility>

namespace tek {

namespace {

constexpr uint32_t NONE = TypeIndex::NONE;

uint64_t mix(uint64_t h, uint64_t v) {
  h = (h ^ v) * 0x9E3779B97F4A7C15u;
  return h ^ h >> 32;
}

class TypeMerger {
 public:
  TypeMerger(const ElfModel& m, const Program& p)
      : m_(m), p_(p), n_(static_cast<uint32_t>(m.types.size())), parent_(n_), partner_(n_, NONE) {
    std::iota(parent_.begin(), parent_.end(), uint32_t{0});
    // The copies dropped as they came count as they would have here.
    budget_ =
        2 * static_cast<int64_t>(n_ + m.copied_types + m.members.size() + m.copied_members) + 4096;
  }

  std::vector<uint32_t> run() {
    for (uint32_t i = 0; i < n_; ++i) {
      if (!candidate(i) || find(i) != i) continue;
      uint32_t& head = head_of(key_of(i));
      bool merged = false;
      int tries = 0;
      for (uint32_t r = head; r != NONE && tries < MAX_TRIES && budget_ > 0;
           r = reps_[r].next, ++tries) {
        const uint32_t c = find(reps_[r].type);
        const Verdict v = alike_at_once(i, c);
        if ((merged = v == Verdict::Alike || (v == Verdict::Open && alike(i, c)))) break;
      }
      if (merged) continue;
      const bool new_key = head == NONE;
      reps_.push_back({i, head});
      head = static_cast<uint32_t>(reps_.size() - 1);
      if (new_key && ++keys_ * 2 > heads_.size()) grow_heads();
    }
    for (uint32_t i = 0; i < n_; ++i) parent_[i] = find(i);
    return std::move(parent_);
  }

 private:
  // Earlier types of a key compared with a type, at most: many types of one key are unlike
  // (pointers to unnamed structures, say), and each one tried costs a comparison.
  static constexpr int MAX_TRIES = 8;

  // A first definition that is written as a DIE.
  bool candidate(uint32_t i) const {
    return p_.has_die(i) && p_.type_at.get(m_.types[i].t.selfix) == i;
  }

  uint32_t find(uint32_t i) {
    while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
    return i;
  }

  // The types met first of their keys (they are few: most types are merged), by open
  // addressing; each one's list of earlier types of the key, the latest first, in reps_.
  struct Head {
    uint64_t key = 0;
    uint32_t rep = NONE;
  };
  struct Rep {
    uint32_t type, next;
  };
  uint32_t& head_of(uint64_t key) {
    const size_t mask = heads_.size() - 1;
    for (size_t at = (key ^ key >> 29) & mask;; at = (at + 1) & mask) {
      Head& h = heads_[at];
      if (h.rep == NONE) h.key = key;
      if (h.key == key) return h.rep;
    }
  }
  void grow_heads() {
    std::vector<Head> old(heads_.size() * 2);
    old.swap(heads_);
    for (const Head& h : old)
      if (h.rep != NONE) head_of(h.key) = h.rep;
  }

  uint64_t key_of(uint32_t i) const {
    const TypeRec& r = m_.types[i];
    const TypeFields& t = r.t;
    uint64_t h = mix(uint64_t{t.name.id} << 8 | t.kind, uint64_t{t.size} << 32 | t.limit);
    h = mix(h, r.members.count);
    switch (kind_info(t.kind).cls) {
      case KindClass::Pointer:
      case KindClass::Array:
      case KindClass::Typedef:
      case KindClass::Function:
        if (const uint32_t to = p_.ref_of(t, t.typeix); to != NONE)
          h = mix(mix(h, p_.kinds[to]), m_.types[to].t.name.id);
        break;
      case KindClass::Aggregate:
      case KindClass::Enum:
        for (uint32_t k = 0; k < r.members.count && k < 4; ++k) {
          const MemberRec& mv = m_.members[r.members.first + k];
          h = mix(h, uint64_t{mv.name.id} << 32 | mv.offset);
        }
        break;
      default:
        break;
    }
    return h;
  }

  enum class Verdict { Alike, Unlike, Open };
  // The usual case, where what x and y refer to is merged already (types mostly come after the
  // types they refer to): merges x with y when their own DIEs are alike and their references
  // go to the same types. Open when a reference goes to types not yet known to be alike.
  Verdict alike_at_once(uint32_t x, uint32_t y) {
    if (x == y) return Verdict::Alike;
    pairs_.clear();
    if (!same_die(x, y)) return Verdict::Unlike;
    for (const auto& [a, b] : pairs_)
      if (find(a) != find(b)) return Verdict::Open;
    parent_[x] = y;
    return Verdict::Alike;
  }

  // Compares the types x and y with what they refer to; merges them all when they are alike.
  bool alike(uint32_t x0, uint32_t y0) {
    pairs_.assign(1, {x0, y0});
    assumed_.clear();
    int64_t work = 0;
    bool ok = true;
    while (ok && !pairs_.empty()) {
      auto [x, y] = pairs_.back();
      pairs_.pop_back();
      x = find(x);
      y = find(y);
      ++work;
      if (x == y) continue;
      if (partner_[x] != NONE) {
        ok = partner_[x] == y;
        continue;
      }
      partner_[x] = y;
      assumed_.push_back(x);
      work += m_.types[x].members.count;
      ok = same_die(x, y);
    }
    for (uint32_t x : assumed_) {
      if (ok) {
        const uint32_t a = find(x), b = find(partner_[x]);
        if (a != b) parent_[a] = b;
      }
      partner_[x] = NONE;
    }
    if (!ok) budget_ -= work;
    return ok;
  }

  // A reference written by both types or by neither; one written by both is compared.
  bool same_ref(uint32_t x, uint32_t y) {
    if ((x == NONE) != (y == NONE)) return false;
    if (x != NONE) pairs_.push_back({x, y});
    return true;
  }

  // Whether the DIEs of x and y hold the same attributes and children, their references aside
  // (those are put in pairs_ to compare). The fields of the records are compared whole, even
  // where the DIE uses a part of them.
  bool same_die(uint32_t x, uint32_t y) {
    const TypeRec& a = m_.types[x];
    const TypeRec& b = m_.types[y];
    const TypeFields& s = a.t;
    const TypeFields& t = b.t;
    if (s.kind != t.kind || s.name.id != t.name.id || s.size != t.size || s.limit != t.limit ||
        s.sign != t.sign || a.members.count != b.members.count)
      return false;
    switch (kind_info(s.kind).cls) {
      case KindClass::Base:
      case KindClass::Bit:
        // Types 264 and 265 are the 32-bit long types of targets whose int has 32 bits.
        return (s.selfix == 264) == (t.selfix == 264) && (s.selfix == 265) == (t.selfix == 265);
      case KindClass::Pointer:
      case KindClass::Array:
      case KindClass::Typedef:
        return same_ref(p_.ref_of(s, s.typeix), p_.ref_of(t, t.typeix));
      case KindClass::Enum:
        for (uint32_t k = 0; k < a.members.count; ++k) {
          const MemberRec& u = m_.members[a.members.first + k];
          const MemberRec& v = m_.members[b.members.first + k];
          if (u.name.id != v.name.id || u.value != v.value) return false;
        }
        return true;
      case KindClass::Aggregate:
        for (uint32_t k = 0; k < a.members.count; ++k) {
          const MemberRec& u = m_.members[a.members.first + k];
          const MemberRec& v = m_.members[b.members.first + k];
          if (u.name.id != v.name.id || u.offset != v.offset || u.bitsize != v.bitsize)
            return false;
          const uint32_t ux = p_.type_at.get(u.typeix), vx = p_.type_at.get(v.typeix);
          if (!same_bit_type(ux, vx) ||
              !same_ref(p_.member_type(s, k, ux), p_.member_type(t, k, vx)))
            return false;
        }
        return true;
      case KindClass::Function: {
        // The return type, and the parameters' types from the type's function (none when they
        // are unknown: then argc, compared above, tells whether DW_TAG_unspecified_parameters
        // is written).
        if (!same_ref(p_.ref_of(s, s.retix), p_.ref_of(t, t.retix))) return false;
        p_.params_of_type(s.selfix, params_x_);
        p_.params_of_type(t.selfix, params_y_);
        if (params_x_.size() != params_y_.size()) return false;
        for (size_t k = 0; k < params_x_.size(); ++k)
          if (!same_ref(param_type(*params_x_[k]), param_type(*params_y_[k]))) return false;
        return true;
      }
      default:
        return false;
    }
  }

  // The type a parameter is written with, or NONE.
  uint32_t param_type(const LocalRec& l) const {
    const uint32_t ti = p_.type_at.get(l.typeix);
    return p_.has_die(ti) ? ti : NONE;
  }

  // A member of a BIT type takes its width and position from that type, whether or not it is
  // written with the type.
  bool same_bit_type(uint32_t x, uint32_t y) const {
    const bool xb = x != NONE && p_.kinds[x] == K_BIT, yb = y != NONE && p_.kinds[y] == K_BIT;
    if (xb != yb) return false;
    if (!xb) return true;
    const TypeFields &s = m_.types[x].t, &t = m_.types[y].t;
    return s.size == t.size && s.offs == t.offs;
  }

  const ElfModel& m_;
  const Program& p_;
  const uint32_t n_;
  std::vector<uint32_t> parent_;  // union-find: the types merged, each class's root its DIE
  std::vector<Head> heads_ = std::vector<Head>(1024);
  size_t keys_ = 0;  // in heads_
  std::vector<Rep> reps_;
  std::vector<uint32_t> partner_;  // in a comparison: the type assumed alike
  std::vector<std::pair<uint32_t, uint32_t>> pairs_;
  std::vector<uint32_t> assumed_;
  std::vector<const LocalRec*> params_x_, params_y_;
  int64_t budget_ = 0;  // work that comparisons that fail may still spend
};

}  // namespace

std::vector<uint32_t> merge_types(const ElfModel& m, const Program& p) {
  return TypeMerger(m, p).run();
}

}  // namespace tek
