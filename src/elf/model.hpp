// What the ELF writer collects from the records, and the program it derives from them in
// linear addresses: compilation units, functions with their scopes, variables, types.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "elf/targets.hpp"
#include "format/ctx/kinds.hpp"
#include "format/ctx/records.hpp"
#include "format/elf/file.hpp"

namespace tek {

// Where a record lies in the input: problems found only when the file is completed are
// reported at the record they concern.
struct InputPlace {
  uint64_t offset = 0;  // of the record's first byte
  uint8_t record = 0;   // the input record's code
  bool known = false;
};

struct ElfWarning {
  InputPlace at;
  std::string text;
};

// A name of the collected records: its number in the NameStore, 0 for the empty name.
struct Name {
  uint32_t id = 0;
  bool empty() const { return id == 0; }
};

// The names of the collected records, each kept once as its length (ULEB128) and its bytes, in
// blocks of 1 MiB (a longer name in a block of its own). Every unit repeats the type and member
// names of the headers it includes, so most names are met many times: a repeat costs only its
// 4-byte reference. They come again in the same order, too, so the name that followed a name
// last time is the first guess for the name after it. The names are numbered in the order they
// first come, so what is made of a name (its offset in a string table) can be kept by number.
class NameStore {
 public:
  Name add(std::string_view s);
  // Stores s without looking for it: for names that are seldom repeated (public symbols), which
  // would only fill the table that finds the repeated ones.
  Name add_new(std::string_view s);
  // Replaces each name by the first one added or interned with its bytes, which add_new may
  // have stored again. Once every name is added or interned, equal names have equal numbers,
  // and what is made of a name can be kept by its number alone. The slot of each is fetched
  // into the cache a few names ahead: most of these names are new, and their slots lie at
  // random in a large table.
  void intern(std::vector<Name>& names);
  // The name with the bytes of s among those added or interned; the empty name if none.
  Name find(std::string_view s) const;
  std::string_view view(Name n) const;
  // The numbers of the names are below this.
  size_t size() const { return places_.size(); }

 private:
  static constexpr size_t BLOCK = size_t{1} << 20;
  Name look_up(std::string_view s);
  // The slot of the table that holds s, or the free slot where it would go.
  size_t slot_of(std::string_view s, uint32_t hash) const;
  void enter(size_t slot, Name n, uint32_t hash);
  void reserve(size_t n);  // room in the table for n more names, made at once
  void grow_table(size_t slots);
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  size_t used_ = 0;
  std::vector<uint32_t> places_{0};   // by number: the block (12 bits) and the offset in it
  std::vector<uint32_t> follows_{0};  // by number: the name added after it last time (0: none)
  uint32_t last_ = 0;                 // the name added last
  struct Slot {
    uint32_t id = 0, hash = 0;  // id 0: a free slot
  };
  std::vector<Slot> table_;  // open addressing by hash
  size_t in_table_ = 0;
};

// An array that grows by blocks of fixed size: no copy when it grows, elements never move. A
// block is raw storage, each element constructed when it is added: the records fill many
// megabytes, which would otherwise be set to zero once before they are written.
template <class T>
class Chunked {
  static_assert(std::is_trivially_destructible_v<T>);

 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;
    const_iterator() = default;
    const_iterator(const Chunked* c, size_t i) : c_(c), i_(i) {}
    const T& operator*() const { return (*c_)[i_]; }
    const T* operator->() const { return &(*c_)[i_]; }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++i_;
      return old;
    }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }
    bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

   private:
    const Chunked* c_ = nullptr;
    size_t i_ = 0;
  };

  void push_back(T v) { emplace_back() = std::move(v); }
  // Adds an element made by its default constructor, to be filled in place: an element built
  // apart field by field and then copied whole would be read back before its fields reach the
  // cache.
  T& emplace_back() {
    if ((n_ >> SHIFT) == blocks_.size()) [[unlikely]]
      new_block();
    T* p = new (blocks_[n_ >> SHIFT][n_ & MASK].bytes) T;
    ++n_;
    return *p;
  }
  // Drops the elements from index n on; their blocks are kept for the elements added next.
  void truncate(size_t n) { n_ = std::min(n_, n); }
  T& operator[](size_t i) { return *std::launder(reinterpret_cast<T*>(slot(i).bytes)); }
  const T& operator[](size_t i) const {
    return *std::launder(reinterpret_cast<const T*>(slot(i).bytes));
  }
  T& back() { return (*this)[n_ - 1]; }
  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, n_}; }

 private:
  static constexpr unsigned SHIFT = 12;
  static constexpr size_t MASK = (size_t{1} << SHIFT) - 1;
  struct Slot {
    alignas(T) unsigned char bytes[sizeof(T)];
  };
  Slot& slot(size_t i) { return blocks_[i >> SHIFT][i & MASK]; }
  const Slot& slot(size_t i) const { return blocks_[i >> SHIFT][i & MASK]; }
  // Out of line: a block is added once in 4096 elements, and the code of the vector's growth
  // would take registers from every caller of emplace_back().
  [[gnu::noinline]] void new_block() {
    blocks_.push_back(std::make_unique_for_overwrite<Slot[]>(MASK + 1));
  }
  std::vector<std::unique_ptr<Slot[]>> blocks_;
  size_t n_ = 0;
};

// Consecutive elements of a Chunked array.
template <class T>
struct Slice {
  const Chunked<T>* of = nullptr;
  uint32_t first = 0, count = 0;
  typename Chunked<T>::const_iterator begin() const { return {of, first}; }
  typename Chunked<T>::const_iterator end() const { return {of, size_t{first} + count}; }
  size_t size() const { return count; }
  bool empty() const { return count == 0; }
};

// The fields of the records that the ELF output uses, with their names in a NameStore.
struct LocalRec {
  uint32_t cls = 0, offset = 0, typeix = 0;
  Name name;
};
struct PublicRec {
  uint32_t mode = 0, addr = 0, cls = 0, typeix = 0, modix = 0;
  Name name;
};
// A member keeps the field that the kind of its type uses: value (enumeration), bitoffs and
// bitsize (bit-field structure) or offset (any other).
struct MemberRec {
  uint32_t typeix = 0;
  union {
    uint32_t offset = 0;
    uint32_t value;
    uint32_t bitoffs;
  };
  uint32_t bitsize = 0;
  Name name;
};
// A type keeps the fields that its kind's record has: the referred type is a function's return
// type (retix) or the typeix of a pointer, array or typedef; the second number is a function's
// argument count, an array's bound (limit) or a BIT type's offset.
struct TypeFields {
  uint32_t selfix = 0, size = 0;
  union {
    uint32_t typeix = 0;
    uint32_t retix;
  };
  union {
    uint32_t limit = 0;
    uint32_t argc;
    uint32_t offs;
  };
  Name name;
  uint8_t kind = 0;  // a TYPE record's kind is one byte
  uint8_t sign = 0;
};

// An OBJECT record's bytes, appended to the file at offset when the record arrived.
struct ImageChunk {
  uint32_t addr;
  uint32_t len;
  uint64_t offset;
  InputPlace at;  // the record that began the chunk
};

// A function scope of the local stream: STARTLOCAL, its SETLOCALs, ENDLOCAL if one came.
struct ScopeRec {
  uint32_t start = 0;
  std::optional<uint32_t> end;
  Slice<LocalRec> locals;
  InputPlace at;
};

// A SETLOCAL outside every scope, with the scope before it (-1: none).
struct LooseLocal {
  LocalRec v;
  ptrdiff_t after_scope = -1;
};

// A field of a value that the caller has just stored field by field: read by itself, not
// together with its neighbour as one wider load, which would wait until both stores have
// reached the cache.
inline uint32_t read_alone(const uint32_t& field) {
  uint32_t v = field;
  asm("" : "+r"(v));
  return v;
}

// The line rows of the line blocks, one after the other, each as its change from the row before
// it in its block. A row mostly takes two bytes, the changes of line and address as signed
// bytes; a first byte 0x81 gives them as two 16-bit numbers, 0x80 gives the row's line and
// address whole. A row is read with one test of its first byte. The bytes lie in blocks of
// 64 KiB, written and read through a pointer; a row does not cross from one block to the
// next, so only a row's start checks for the block's end.
class LineRows {
 public:
  // A block's rows: count rows from position first (block << 16 | offset).
  struct Run {
    const LineRows* of = nullptr;
    uint64_t first = 0;
    uint32_t count = 0;

    class const_iterator {
     public:
      using iterator_category = std::input_iterator_tag;
      using value_type = LineValue;
      using difference_type = std::ptrdiff_t;
      using pointer = const LineValue*;
      using reference = const LineValue&;
      const_iterator() = default;
      const_iterator(const LineRows* of, uint64_t at, uint32_t left) : of_(of), left_(left) {
        if (left_ == 0) return;
        block_ = static_cast<size_t>(at >> SHIFT);
        p_ = of_->blocks_[block_].get() + (at & (BLOCK - 1));
        end_ = of_->block_end(block_);
        next();
      }
      const LineValue& operator*() const { return v_; }
      const LineValue* operator->() const { return &v_; }
      const_iterator& operator++() {
        if (--left_ > 0) next();
        return *this;
      }
      bool operator==(const const_iterator& o) const { return left_ == o.left_; }
      bool operator!=(const const_iterator& o) const { return left_ != o.left_; }

     private:
      void next() {
        if (p_ == end_) {  // the rest of the run is in the next block
          p_ = of_->blocks_[++block_].get();
          end_ = of_->block_end(block_);
        }
        p_ = get(p_, v_);
      }
      const LineRows* of_ = nullptr;
      const uint8_t* p_ = nullptr;
      const uint8_t* end_ = nullptr;
      size_t block_ = 0;
      uint32_t left_ = 0;
      LineValue v_;
    };
    const_iterator begin() const { return {of, first, count}; }
    const_iterator end() const { return {}; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
  };

  // Starts a block: its rows are those added from now on.
  Run start() {
    last_ = {};
    const uint64_t block = blocks_.empty() ? 0 : blocks_.size() - 1;
    const uint64_t offset =
        blocks_.empty() ? 0 : static_cast<uint64_t>(cur_ - blocks_.back().get());
    return {this, block << SHIFT | offset, 0};
  }
  void add(const LineValue& v) {
    if (static_cast<size_t>(end_ - cur_) < MAX_ROW) new_block();
    // The values are read before the bytes are written, through a local pointer: a byte store
    // may alias anything, and would make the compiler reload them and store cur_ at each byte.
    const uint32_t to_line = read_alone(v.line), to_addr = read_alone(v.addr);
    const int32_t line = static_cast<int32_t>(to_line - last_.line),
                  addr = static_cast<int32_t>(to_addr - last_.addr);
    last_.line = to_line;
    last_.addr = to_addr;
    uint8_t* p = cur_;
    if (line >= -126 && line <= 127 && addr >= -128 && addr <= 127) {
      p[0] = static_cast<uint8_t>(line);
      p[1] = static_cast<uint8_t>(addr);
      cur_ = p + 2;
    } else {
      cur_ = p + put_long(p, line, addr, to_line, to_addr);
    }
  }
  // The bytes stored.
  uint64_t size() const {
    uint64_t n = 0;
    for (uint32_t f : fill_) n += f;
    return blocks_.empty() ? n : n + static_cast<uint64_t>(cur_ - blocks_.back().get());
  }

 private:
  static constexpr unsigned SHIFT = 16;
  static constexpr size_t BLOCK = size_t{1} << SHIFT;
  static constexpr size_t MAX_ROW = 9;  // 0x80 and two 32-bit values
  static constexpr uint8_t WIDE = 0x81, WHOLE = 0x80;

  // Out of line: a row seldom begins a block, and add() is taken for every row.
  [[gnu::noinline]] void new_block() {
    if (!blocks_.empty()) fill_.push_back(static_cast<uint32_t>(cur_ - blocks_.back().get()));
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(BLOCK));
    cur_ = blocks_.back().get();
    end_ = cur_ + BLOCK;
  }
  const uint8_t* block_end(size_t b) const {
    return b < fill_.size() ? blocks_[b].get() + fill_[b] : cur_;
  }
  // A row whose changes do not fit in bytes: returns its length.
  [[gnu::noinline]] static size_t put_long(uint8_t* p, int32_t line, int32_t addr, uint32_t to_line,
                                           uint32_t to_addr) {
    if (line >= INT16_MIN && line <= INT16_MAX && addr >= INT16_MIN && addr <= INT16_MAX) {
      const int16_t changes[2] = {static_cast<int16_t>(line), static_cast<int16_t>(addr)};
      p[0] = WIDE;
      std::memcpy(p + 1, changes, 4);
      return 5;
    }
    const uint32_t whole[2] = {to_line, to_addr};
    p[0] = WHOLE;
    std::memcpy(p + 1, whole, 8);
    return 9;
  }
  // Reads the row at p after the row v, and returns the byte after it.
  static const uint8_t* get(const uint8_t* p, LineValue& v) {
    const uint8_t first = p[0];
    if (first != WIDE && first != WHOLE) [[likely]] {
      v.line += static_cast<uint32_t>(static_cast<int8_t>(first));
      v.addr += static_cast<uint32_t>(static_cast<int8_t>(p[1]));
      return p + 2;
    }
    if (first == WIDE) {
      int16_t changes[2];
      std::memcpy(changes, p + 1, 4);
      v.line += static_cast<uint32_t>(int32_t{changes[0]});
      v.addr += static_cast<uint32_t>(int32_t{changes[1]});
      return p + 5;
    }
    uint32_t whole[2];
    std::memcpy(whole, p + 1, 8);
    v.line = whole[0];
    v.addr = whole[1];
    return p + 9;
  }
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::vector<uint32_t> fill_;  // the bytes used in each block but the last
  uint8_t* cur_ = nullptr;      // in the last block
  uint8_t* end_ = nullptr;
  LineValue last_;
};

struct LineBlock {
  Name file;
  LineRows::Run lines;
  size_t module = SIZE_MAX;  // index in ElfModel::modules of the unit it came in (none: max)
};

// An InputPlace in 8 bytes: offsets below 2^55.
class PackedPlace {
 public:
  PackedPlace() = default;
  PackedPlace(const InputPlace& p)
      : lo_(static_cast<uint32_t>(p.offset)),
        hi_(static_cast<uint32_t>(p.offset >> 32) << 9 | uint32_t{p.record} << 1 | p.known) {}
  operator InputPlace() const {
    return {uint64_t{hi_ >> 9} << 32 | lo_, static_cast<uint8_t>(hi_ >> 1), (hi_ & 1) != 0};
  }

 private:
  uint32_t lo_ = 0, hi_ = 0;
};

// Consecutive elements of an array of the model, by index.
struct Run {
  uint32_t first = 0, count = 0;
  size_t size() const { return count; }
  bool empty() const { return count == 0; }
};

struct TypeRec {
  TypeFields t;
  Run members;  // in ElfModel::members
  PackedPlace at;
};

// Type indices by selfix: a flat array for the selfixes below a bound that the number of types
// set keeps small, a map for any beyond it.
class TypeIndex {
 public:
  static constexpr uint32_t NONE = UINT32_MAX;
  // Sets the index of a selfix, first or again. The flat part grows to cover a selfix below four
  // times the count of those set (and takes in the map's selfixes it comes to cover).
  void set(uint32_t selfix, uint32_t i) {
    ++set_;
    if (selfix < flat_.size()) [[likely]] {
      flat_[selfix] = i;
      return;
    }
    set_beyond(selfix, i);
  }
  // Keeps the first index of a selfix; false when the selfix had one.
  bool try_emplace(uint32_t selfix, uint32_t i) {
    if (get(selfix) != NONE) return false;
    set(selfix, i);
    return true;
  }
  uint32_t get(uint32_t selfix) const {
    if (selfix < flat_.size()) [[likely]]
      return flat_[selfix];
    return map_.empty() ? NONE : get_beyond(selfix);
  }

 private:
  // A selfix beyond the flat part: the part grows to cover it, or the map takes it. Out of line,
  // as set() is taken for every TYPE record.
  [[gnu::noinline]] void set_beyond(uint32_t selfix, uint32_t i) {
    grow_for(selfix);
    if (selfix < flat_.size())
      flat_[selfix] = i;
    else
      map_.insert_or_assign(selfix, i);
  }
  [[gnu::noinline]] uint32_t get_beyond(uint32_t selfix) const {
    auto it = map_.find(selfix);
    return it == map_.end() ? NONE : it->second;
  }
  void grow_for(uint32_t selfix) {
    constexpr size_t MAX_FLAT = size_t{1} << 26;
    if (selfix >= std::min(4 * set_ + 65536, MAX_FLAT)) return;
    // By doubling at least: the map is walked once per growth.
    flat_.resize(std::min(std::max(size_t{selfix} + 1, 2 * flat_.size()), MAX_FLAT), NONE);
    for (auto it = map_.begin(); it != map_.end();) {
      if (it->first >= flat_.size()) {
        ++it;
        continue;
      }
      flat_[it->first] = it->second;
      it = map_.erase(it);
    }
  }
  std::vector<uint32_t> flat_;
  std::unordered_map<uint32_t, uint32_t> map_;
  size_t set_ = 0;
};

struct ElfModel {
  NameStore names;
  Chunked<LocalRec> locals;    // of the scopes
  Chunked<MemberRec> members;  // of the types
  LineRows lines;              // of the line blocks
  std::vector<ModuleValue> modules;
  std::vector<InputPlace> module_at;                        // by index in modules
  std::unordered_map<uint32_t, int> processor_of, form_of;  // by modix
  Chunked<PublicRec> publics;
  std::vector<ScopeRec> scopes;
  bool scope_open = false;
  std::vector<LooseLocal> loose;
  std::vector<LineBlock> blocks;
  bool block_open = false;
  Chunked<TypeRec> types;
  // By selfix, the index in types of its first definition, or of the type that a TYPE record
  // dropped as a copy (TypeCopies) stands for; complete when the type records have ended.
  TypeIndex type_at;
  size_t copied_types = 0, copied_members = 0;  // the TYPE and MEMBER records of the copies
  std::vector<AddrFlagValue> addr_flags;
  std::vector<ImageChunk> image;  // in record order
  std::vector<ElfWarning> warnings;

  void warn(const InputPlace& at, std::string text) { warnings.push_back({at, std::move(text)}); }
  std::string_view name(Name n) const { return names.view(n); }
  Slice<MemberRec> members_of(const TypeRec& t) const {
    return {&members, t.members.first, t.members.count};
  }
};

// ---------------------------------------------------------------------------------------------
// The program derived from the records.

struct Function {
  const PublicRec* pub = nullptr;   // none for a scope whose PUBLIC was not written
  const ScopeRec* scope = nullptr;  // none for a function without a scope
  uint32_t lo = 0;
  uint32_t pub_index = 0;  // of pub in ElfModel::publics
  uint64_t hi = 0;         // first address after the function
  size_t cu = 0;
  bool ranged = true;  // false: it begins where another function does and gets no range
  // Untyped symbols (PUBLIC or static SETLOCAL of type VOID) at addresses of the function.
  std::vector<std::pair<std::string_view, uint32_t>> labels;
};

struct DataSymbol {
  const PublicRec* pub;
  uint32_t addr;
  size_t cu;
};

struct StaticVar {
  const LocalRec* v;
  size_t cu;
};

struct Cu {
  std::string module;
  std::vector<size_t> functions;  // indices in Program::functions
  std::vector<size_t> globals;    // indices in Program::data
  std::vector<size_t> statics;    // indices in Program::statics
  std::vector<size_t> blocks;     // indices in ElfModel::blocks
};

struct Program {
  const ElfModel* model = nullptr;
  int processor = -1;
  ElfTarget target;
  int form = 0;  // segmented address form of the program's addresses
  std::vector<Cu> cus;
  std::vector<Function> functions;  // ordered by address
  bool zero_in_image = false;       // a section begins at address 0
  std::vector<DataSymbol> data;     // PUBLIC records that are not functions
  std::vector<StaticVar> statics;
  TypeIndex type_at;  // selfix to index in ElfModel::types
  // The kinds by type index: asked for at every symbol and reference, a small array where the
  // types' records are not.
  std::vector<uint8_t> kinds;
  // Loops of types that readers follow without end are broken: the types whose reference
  // (pointed-to, element, aliased or return type) is left out, and the function types whose
  // parameters are unknown.
  std::unordered_set<uint32_t> cut_ref, unknown_params;
  // The members (aggregate selfix, member index) whose type leads back to their aggregate by
  // value: they are written without a type.
  std::set<std::pair<uint32_t, size_t>> cut_member;
  // The defined function of a function type, whose first parameters give the type's.
  std::unordered_map<uint32_t, size_t> function_of_type;  // index in functions
  std::unordered_set<const LocalRec*> no_location;        // a register outside the table
  // By type index: the type whose DIE stands for it, the first of the types written alike.
  std::vector<uint32_t> canon;

  // The segmented forms keep a page number in the upper half and the offset in the lower
  // half: 16-byte pages (form 1) or 256-byte pages (form 2).
  uint32_t linear(uint32_t a) const { return linear(form, a); }
  static uint32_t linear(int form, uint32_t a) {
    switch (form) {
      case 1:
        return ((a >> 16) << 4) + (a & 0xFFFF);
      case 2:
        return ((a >> 16) << 8) + (a & 0xFFFF);
      default:
        return a;
    }
  }
  const TypeRec* type(uint32_t selfix) const;
  // Whether the type of index ti (TypeIndex::NONE: not defined) is written as a DIE.
  bool has_die(uint32_t ti) const {
    if (ti == TypeIndex::NONE) return false;
    const KindClass c = kind_info(kinds[ti]).cls;
    return c != KindClass::Void && c != KindClass::Unknown;
  }
  // The index of the type that a pointer, array, typedef or function type refers to, or
  // TypeIndex::NONE when it has no DIE or the reference closes a loop.
  uint32_t ref_of(const TypeFields& t, uint32_t target) const {
    if (!cut_ref.empty() && cut_ref.count(t.selfix)) return TypeIndex::NONE;
    const uint32_t ti = type_at.get(target);
    return has_die(ti) ? ti : TypeIndex::NONE;
  }
  // The index of the type that member number index of an aggregate is written with, or
  // TypeIndex::NONE when it is written without one; ti is the index of the member's typeix.
  uint32_t member_type(const TypeFields& agg, size_t index, uint32_t ti) const {
    if (!has_die(ti) || (!cut_member.empty() && cut_member.count({agg.selfix, index})))
      return TypeIndex::NONE;
    return ti;
  }
  bool is_function_type(uint32_t selfix) const;
  // Of kind VOID: a symbol of this type is a label.
  bool is_void_type(uint32_t selfix) const;
  // The parameters of a function type, from its defined function; empty when unknown.
  // They go into params, cleared first: a buffer that callers asking for many types reuse.
  void params_of_type(uint32_t selfix, std::vector<const LocalRec*>& params) const;
  // Size in bytes of a type; 0 when unknown.
  uint64_t type_size(uint32_t selfix) const;
  // The function whose range holds the address, or -1.
  ptrdiff_t function_at(uint32_t addr) const;
  size_t cu_of_modix(uint32_t modix) const;
  std::unordered_map<uint32_t, size_t> cu_by_modix;
};

// Derives the program from the collected records; adds warnings to the model.
Program derive_program(ElfModel& m);

// Adds the DWARF sections to spec: .debug_info is appended to out as it is written, the others
// are added with their bytes.
void debug_sections(const ElfModel& m, const Program& p, elf::Output& out, elf::FileSpec& spec);

}  // namespace tek
