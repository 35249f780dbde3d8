// Drops, as the TYPE records come, each one that copies an earlier type: the same fields and
// members, and references to the same types. Programs define the types of their headers again
// in every unit and source file, so most TYPE records are such copies; collected, they would
// fill most of the model and be found alike only by the type search at the end. A copy's selfix
// stands for the earlier type instead, which is what the search would have made of it.
//
// The types that refer to each other come close together: an aggregate's TYPE record comes
// before the types of its members, which it names by the selfixes they will have. The latest
// types are held open until every type they refer to has come; then they are settled together.
// Only types whose references lead, without a loop, to settled types are dropped or kept as
// the originals of copies. The others (on a loop of references, or leading to a function type,
// whose DIE takes its parameters from its function, or to a type not defined) are kept as they
// came: a loop's warnings name each TYPE record on it, and the search at the end still merges
// them with the types written alike.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "elf/model.hpp"

namespace tek {

class TypeCopies {
 public:
  // Takes in the last type of m, whose members are all in: call before each new TYPE record.
  // When the open types refer only to types come, the copies among them are dropped with their
  // members, and the others move down in their place.
  void settle_last(ElfModel& m);
  // Hands over the index of the types by selfix, when the type records have ended.
  TypeIndex take_index() { return std::move(index_); }

 private:
  static constexpr uint32_t NONE = TypeIndex::NONE;
  // Open types at most, waiting for the types they refer to: a reference that no type answers
  // would keep them open for ever.
  static constexpr size_t MAX_OPEN = 4096;
  // References waiting for their types at most: each type that comes looks among them.
  static constexpr size_t MAX_WAITING = 256;

  // The type that a selfix stands for (its first definition or the type it copies), or NONE.
  uint32_t defined(uint32_t selfix) const { return index_.get(selfix); }
  void define(uint32_t selfix, uint32_t i) { index_.set(selfix, i); }
  // Settles type i, the only open one, whose references lead to the settled types refs_.
  void settle_alone(ElfModel& m, uint32_t i);
  // Settles the open types as they are, none of them an original of copies.
  void keep_open_types(size_t n);
  void settle_open_types(ElfModel& m);
  // The references of type t, by the selfixes they name, in the order copies() compares them.
  template <class F>
  static void refs_of(const ElfModel& m, const TypeRec& t, F&& f);
  static uint32_t ref_count(const TypeRec& t);
  static uint32_t ref_at(const ElfModel& m, const TypeRec& t, uint32_t j);
  // Fills refs_ with the types that t's references lead to, as resolve(selfix) gives them;
  // false when one gives NONE.
  template <class R>
  bool resolve_refs(const ElfModel& m, const TypeRec& t, R&& resolve);
  uint32_t hash_of(const ElfModel& m, const TypeRec& t) const;
  // A type that copies may have, with the types its references lead to in place of their
  // selfixes: the copies are compared with it alone, in a few cache lines.
  struct Original {
    TypeFields t;           // typeix: the type it leads to, for a pointer, array or typedef
    uint32_t type;          // index in the model's types
    uint32_t first, count;  // its members in original_members_
  };
  // Whether type t, whose references lead to refs_, copies o.
  bool copies(const ElfModel& m, const Original& o, const TypeRec& t) const;
  struct Slot {
    uint32_t hash = 0, original = NONE;  // original NONE: a free slot
  };
  // The slot of the original that t copies, or the free slot where the search ended.
  Slot& slot_of(uint32_t hash, const ElfModel& m, const TypeRec& t);
  // The original that type t, whose references lead to refs_, copies, or NONE. The units
  // repeat the types of the headers they include in the same order, so the copies come in
  // the order their originals came: the trace is followed, and the table is searched when it
  // differs.
  uint32_t find_original(const ElfModel& m, const TypeRec& t);
  // Records original o as met where the trace did not foresee it, and finds where to follow
  // the trace on.
  uint32_t met(uint32_t o);
  // Makes type i, whose references lead to refs_, an original, in the slot that
  // find_original() just found free for it.
  void add_original(const ElfModel& m, uint32_t i);
  void grow_table();

  TypeIndex index_;
  // By type, settled: its references lead only to settled types (0 while it is open).
  std::vector<uint8_t> closed_;
  uint32_t open_from_ = 0;         // the open types: from here to the last one taken in
  std::vector<uint32_t> waiting_;  // selfixes that open types refer to, not defined yet
  std::vector<uint32_t> refs_;     // of the type being compared
  std::vector<Slot> table_;        // the originals, by a hash of what they hold
  std::vector<Original> originals_;
  std::vector<MemberRec> original_members_;  // typeix: the type it leads to, for an aggregate
  // The trace: the originals in the order they were met, each time. By original, where it
  // was first met in the trace; and the place in the trace of the original foreseen next.
  std::vector<uint32_t> trace_, first_at_;
  size_t follow_ = 0;
  uint32_t hash_ = 0;     // of the type find_original() found no original for
  Slot* free_ = nullptr;  // and the slot it found free
  // Settling the open types, by position among them.
  std::vector<uint32_t> order_, final_;
  std::vector<uint8_t> state_;
  std::vector<std::pair<uint32_t, uint32_t>> path_;  // of the walk: open type, next reference
};

}  // namespace tek
