// Writer of .debug_info and .debug_abbrev (DWARF 4, 32-bit format, 4-byte addresses).
//
// A DIE is written straight into the .debug_info buffer: die() opens it, its attributes append
// their values, and put() closes it, giving its shape (tag, children flag, attribute and form
// list) an abbreviation code, the same one for every DIE of that shape, numbered in order of
// first use. One DIE is open at a time. Strings go to .debug_str (DW_FORM_strp), each stored
// once. References between DIEs are DW_FORM_ref_addr: to a DIE already written by its offset
// (ref_to), otherwise to a key of the caller's choosing, resolved to .debug_info offsets when
// all units are written, so that a DIE can refer to one that comes later or lies in another
// unit. The DIEs written by the ten thousand (members, variables, functions, the types of one
// kind) take a quicker way (SlotDie): their shape is chosen before they open, so their code is
// known and their values need no check each.
//
// Written to an output file (stream_to), .debug_info does not stay in memory: between DIEs,
// once a megabyte has gathered, the bytes are appended to the file, and the fields known only
// later (unit lengths, references) are filled in there, block by block, at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "format/elf/bytes.hpp"
#include "format/elf/dwarf.hpp"
#include "format/elf/file.hpp"
#include "format/elf/strings.hpp"

namespace dwarf {

class InfoWriter;

// The bytes of .debug_info held in memory, written through a cursor: the buffer is sized ahead
// of the writes, so that a field is stored without a size check for each of its bytes.
class InfoBuffer {
 public:
  explicit InfoBuffer(bool big_endian) : big_(big_endian) {}
  bool big_endian() const { return big_; }
  size_t size() const { return n_; }
  uint8_t* data() { return buf_.data(); }
  const uint8_t* data() const { return buf_.data(); }
  void clear() { n_ = 0; }

  // The bytes there is room for without growing.
  size_t room() const { return buf_.size() - n_; }
  // k more bytes at the end, for the caller to write, where room() is at least k.
  uint8_t* take(size_t k) {
    uint8_t* p = buf_.data() + n_;
    n_ += k;
    return p;
  }
  // Gives back the last k bytes taken.
  void untake(size_t k) { n_ -= k; }
  // The end of the bytes written, for a writer that fills the room through a pointer, and
  // the end that writer reached (within the room).
  uint8_t* end() { return buf_.data() + n_; }
  void set_end(const uint8_t* p) { n_ = static_cast<size_t>(p - buf_.data()); }
  // Room for at least k more bytes.
  void reserve_room(size_t k) {
    if (buf_.size() - n_ < k) make_room(k);
  }
  // k more bytes at the end, for the caller to write.
  uint8_t* grow(size_t k) {
    reserve_room(k);
    uint8_t* p = buf_.data() + n_;
    n_ += k;
    return p;
  }
  void u8(uint8_t v) { *grow(1) = v; }
  void u16(uint16_t v) {
    uint8_t* p = grow(2);
    p[big_ ? 1 : 0] = static_cast<uint8_t>(v);
    p[big_ ? 0 : 1] = static_cast<uint8_t>(v >> 8);
  }
  void u32(uint32_t v) { store_u32(grow(4), v); }
  void uleb(uint64_t v) {
    if (v < 0x80) return u8(static_cast<uint8_t>(v));  // most values: sizes, offsets, counts
    uint8_t* p = grow(10);
    n_ -= 10 - elf::encode_uleb(v, p);
  }
  void sleb(int64_t v) {
    uint8_t* p = grow(10);
    n_ -= 10 - elf::encode_sleb(v, p);
  }
  void raw(const uint8_t* p, size_t k) {
    if (k) std::memcpy(grow(k), p, k);
  }
  // Moves the bytes from at on up by k, leaving k zeros at at.
  void open_gap(size_t at, size_t k);

  void patch_u32(size_t at, uint32_t v) { store_u32(buf_.data() + at, v); }
  void store_u32(uint8_t* p, uint32_t v) const { elf::store_u32(p, v, big_); }
  uint32_t read_u32(size_t at) const { return elf::load_u32(buf_.data() + at, big_); }
  // A copy of the bytes.
  elf::Bytes bytes() const;

 private:
  void make_room(size_t k);
  std::vector<uint8_t> buf_;  // its size is the room; the bytes written are [0, n_)
  size_t n_ = 0;
  bool big_;
};

// The DIE being written, a handle on its writer. Using it after put(), or opening another DIE
// before put(), is an error of the caller (std::logic_error).
class Die {
 public:
  // The fixed-size attributes are written inline: a DIE is a handful of them, and most of the
  // writer's time goes to them.
  Die& addr(Attr at, uint32_t a) { return u32(at, DW_FORM_addr, a); }
  Die& data1(Attr at, uint8_t v);
  Die& data2(Attr at, uint16_t v);
  Die& data4(Attr at, uint32_t v) { return u32(at, DW_FORM_data4, v); }
  Die& udata(Attr at, uint64_t v);
  Die& sdata(Attr at, int64_t v);
  Die& flag(Attr at);
  Die& str(Attr at, std::string_view s);
  // A string already in .debug_str, by its offset there (InfoWriter::string).
  Die& strp(Attr at, uint32_t offset) { return u32(at, DW_FORM_strp, offset); }
  Die& ref(Attr at, uint64_t key);
  // A reference to a DIE already written, by its .debug_info offset.
  Die& ref_to(Attr at, uint32_t offset) { return u32(at, DW_FORM_ref_addr, offset); }
  Die& sec_offset(Attr at, uint32_t offset) { return u32(at, DW_FORM_sec_offset, offset); }
  Die& expr(Attr at, const elf::Bytes& ops) { return expr(at, ops.data().data(), ops.size()); }
  Die& expr(Attr at, const uint8_t* ops, size_t n);

 private:
  friend class InfoWriter;
  Die(InfoWriter& w, uint64_t serial) : w_(&w), serial_(serial) {}
  InfoBuffer& spec(Attr at, Form form);  // checks the DIE is open, adds the pair to its shape
  Die& u32(Attr at, Form form, uint32_t v);
  // The ways through spec(), for an attribute that the writer's quick way does not take.
  Die& u32_checked(Attr at, Form form, uint32_t v);
  Die& data1_checked(Attr at, uint8_t v);
  Die& udata_checked(Attr at, uint64_t v);
  Die& flag_checked(Attr at);
  InfoWriter* w_;
  uint64_t serial_;
};

// The abbreviation codes of the DIE shapes: a shape is its tag, its children flag, then one
// number per attribute (attribute << 8 | form). Open addressing over the codes, keyed by a hash
// of the shape; the shapes lie one after the other in one array.
class AbbrevTable {
 public:
  AbbrevTable() : slots_(64, 0) {}
  // The code of the shape, a new one (the number of shapes so far) when it is new.
  uint32_t code(const uint32_t* shape, size_t n) {
    // DIEs of one tag mostly come in runs of one shape (members, enumerators, locals): the
    // code last used for the tag is tried first.
    uint32_t& recent = recent_[shape[0] % recent_.size()];
    if (recent && same(recent, shape, n)) return recent;
    recent = lookup(shape, n);
    return recent;
  }
  size_t size() const { return start_.size() - 1; }
  // The number of words of the shape of a code.
  size_t length(uint32_t code) const { return start_[code] - start_[code - 1]; }
  // Whether code is the code of the shape.
  bool is_code_of(uint32_t code, const uint32_t* shape, size_t n) const {
    return code > 0 && code <= size() && same(code, shape, n);
  }
  // The .debug_abbrev contents: every shape under its code, then the terminating 0.
  elf::Bytes bytes() const;

 private:
  uint32_t lookup(const uint32_t* shape, size_t n);
  static uint32_t hash(const uint32_t* shape, size_t n);
  bool same(uint32_t code, const uint32_t* shape, size_t n) const {
    const uint32_t lo = start_[code - 1], hi = start_[code];
    if (hi - lo != n) return false;
    for (size_t i = 0; i < n; ++i)
      if (shapes_[lo + i] != shape[i]) return false;
    return true;
  }
  void place(uint32_t code);
  std::vector<uint32_t> slots_;        // codes, 0 for a free slot; a power of two
  std::vector<uint32_t> shapes_;       // all shapes, in code order
  std::vector<uint32_t> start_{0};     // shape of code c: shapes_[start_[c-1], start_[c])
  std::vector<uint32_t> hashes_;       // by code - 1
  std::array<uint32_t, 64> recent_{};  // the code last used by tag (modulo 64), or 0
};

// The code of a DIE shape that a caller writes many times, kept by the caller: the first DIE
// opened with the slot (SlotDie) gets its code when it is put, and the later ones write it when
// they open, without matching their shape again. Each DIE of a slot must have the shape of the
// first.
struct ShapeSlot {
  uint32_t code = 0;
};

// A DIE of a slot's shape, the quick way for the DIEs written most (members, variables,
// functions, the types of one kind): InfoWriter::die(slot, ...) writes its code when it opens,
// known from the slot but for the slot's first DIE, and its values go straight into .debug_info
// through a pointer. Room for every value is made when it opens, for MAX_ATTRS attributes; a longer
// expression makes room for itself. More attributes, or using the handle after put(), is an
// error of the caller (std::logic_error), as for Die. Its steps are forced inline: the compiler
// does not inline them on its own, and the calls cost as much as the work.
class SlotDie {
 public:
  static constexpr size_t MAX_ATTRS = 8;
  // The code (5 bytes at most) and MAX_ATTRS values of 10 bytes or an expression of
  // SHORT_EXPR bytes (and its 1-byte length).
  static constexpr size_t SHORT_EXPR = 24;
  static constexpr size_t ROOM = 5 + MAX_ATTRS * (SHORT_EXPR + 1);

  SlotDie& addr(Attr at, uint32_t a) { return u32(at, DW_FORM_addr, a); }
  SlotDie& data4(Attr at, uint32_t v) { return u32(at, DW_FORM_data4, v); }
  SlotDie& data1(Attr at, uint8_t v) {
    pair(at, DW_FORM_data1);
    *p_++ = v;
    return *this;
  }
  [[gnu::always_inline]] SlotDie& udata(Attr at, uint64_t v) {
    pair(at, DW_FORM_udata);
    p_ += elf::encode_uleb(v, p_);
    return *this;
  }
  SlotDie& sdata(Attr at, int64_t v) {
    pair(at, DW_FORM_sdata);
    p_ += elf::encode_sleb(v, p_);
    return *this;
  }
  SlotDie& flag(Attr at) {
    pair(at, DW_FORM_flag_present);
    return *this;
  }
  SlotDie& strp(Attr at, uint32_t offset) { return u32(at, DW_FORM_strp, offset); }
  SlotDie& str(Attr at, std::string_view s);
  SlotDie& ref_to(Attr at, uint32_t offset) { return u32(at, DW_FORM_ref_addr, offset); }
  SlotDie& ref(Attr at, uint64_t key);
  [[gnu::always_inline]] SlotDie& expr(Attr at, const uint8_t* ops, size_t n) {
    if (n > SHORT_EXPR) make_room(n);
    pair(at, DW_FORM_exprloc);
    p_ += elf::encode_uleb(n, p_);
    if (n) std::memcpy(p_, ops, n);  // ops may be null when n is 0
    p_ += n;
    return *this;
  }
  SlotDie& expr(Attr at, const elf::Bytes& ops) { return expr(at, ops.data().data(), ops.size()); }

 private:
  friend class InfoWriter;
  SlotDie(InfoWriter& w, ShapeSlot& slot, uint64_t serial, uint8_t* p, Tag tag, bool children)
      : w_(&w), slot_(&slot), serial_(serial), p_(p) {
    shape_[0] = tag;
    shape_[1] = children;
  }
  void pair(Attr at, Form form);
  SlotDie& u32(Attr at, Form form, uint32_t v);
  [[noreturn]] void misuse() const;
  void make_room(size_t n);  // for an expression of n bytes
  InfoWriter* w_;
  ShapeSlot* slot_;  // the slot it was opened with
  uint64_t serial_;
  uint8_t* p_;  // where the next value goes
  // Tag, children flag, then attribute << 8 | form: only [0, n_) is set.
  std::array<uint32_t, 2 + MAX_ATTRS> shape_;
  size_t n_ = 2;
};

class InfoWriter {
 public:
  explicit InfoWriter(bool big_endian);

  bool big_endian() const { return info_.big_endian(); }
  // Appends .debug_info to out as it is written, from out's present end; before the first DIE.
  // flush_at: the bytes held in memory before they are appended, and the size of the blocks
  // read back to fill in the references.
  void stream_to(elf::Output& out, size_t flush_at = size_t{1} << 20);
  // Where .debug_info begins in the output of stream_to.
  uint64_t output_offset() const { return out_start_; }
  // The size of .debug_info so far.
  uint32_t size() const { return flushed_ + static_cast<uint32_t>(info_.size()); }
  // Opens a DIE at the end of .debug_info.
  Die die(Tag tag, bool children) {
    // The checks' calls are out of the way of the common case, as for the attributes.
    if (serial_ || (out_ && info_.size() >= flush_at_) || info_.room() == 0)
      return die_checked(tag, children);
    return start(tag, children);
  }

  // Opens a DIE of the slot's shape, written the quick way.
  [[gnu::always_inline]] SlotDie die(ShapeSlot& slot, Tag tag, bool children) {
    if (serial_ || (out_ && info_.size() >= flush_at_) || info_.room() < SlotDie::ROOM)
      make_slot_room();
    serial_ = next_serial_++;
    die_at_ = info_.size();
    die_refs_.clear();
    // The slot's first DIE gets its code when it is put: a byte is kept for it.
    uint8_t* p = info_.end();
    p += slot.code < 0x80 ? (*p = static_cast<uint8_t>(slot.code), 1)
                          : elf::encode_uleb(slot.code, p);
    return SlotDie(*this, slot, serial_, p, tag, children);
  }

  void begin_unit();
  void end_unit();
  // Closes the DIE and returns its offset in .debug_info.
  uint32_t put(const Die& d) {
    if (d.serial_ != serial_) not_open();
    serial_ = 0;
    return close(abbrevs_.code(shape_.data(), shape_n_));
  }
  // The same, for a DIE written the quick way: its slot gets its code from the slot's first DIE.
  [[gnu::always_inline]] uint32_t put(const SlotDie& d) {
    if (d.serial_ != serial_) not_open();
    ShapeSlot& slot = *d.slot_;
    serial_ = 0;
    info_.set_end(d.p_);
    if (!slot.code) {
      slot.code = abbrevs_.code(d.shape_.data(), d.n_);
      return close(slot.code);
    }
    check_slot(slot.code, d.shape_.data(), d.n_);
    if (!die_refs_.empty()) keep_refs();
    return flushed_ + static_cast<uint32_t>(die_at_);
  }
  // Closes the children of the latest open DIE with children.
  void end_children() {
    closed();
    info_.u8(0);
  }
  // Where the current unit began (for .debug_aranges).
  uint32_t unit_offset() const { return unit_start_; }

  // Fills in the references with resolve(key), an optional offset; a key that resolve does
  // not know is an error of the caller, and is reported by the return value false (the
  // reference then points at offset 0).
  template <class F>
  bool resolve_refs(F&& resolve) {
    closed();
    bool all = true;
    RefCursor next(*this);
    auto fix = [&](auto& b, uint32_t base) {
      const size_t at = next.at - base;
      uint64_t key = b.read_u32(at);
      if (wide_refs_) key |= uint64_t{ref_high_[next.index]} << 32;
      const std::optional<uint32_t> target = resolve(key);
      all = all && target.has_value();
      b.patch_u32(at, target.value_or(0));
      next.advance();
    };
    if (!out_) {
      while (next.valid()) fix(info_, 0);
      return all;
    }
    flush();
    elf::Bytes block(info_.big_endian());
    size_t l = 0;
    for (uint32_t lo = 0; lo < flushed_;) {
      const uint32_t hi = block_end(lo, next, l);
      if ((next.valid() && next.at < hi) || (l < late_.size() && late_[l].first < hi)) {
        read_block(block, lo, hi);
        while (next.valid() && next.at < hi) fix(block, lo);
        for (; l < late_.size() && late_[l].first < hi; ++l)
          block.patch_u32(late_[l].first - lo, late_[l].second);
        write_block(block, lo);
      }
      lo = hi;
    }
    return all;
  }
  size_t ref_count() const { return ref_count_; }

  // A copy of the bytes of .debug_info not yet streamed (all of them without stream_to).
  elf::Bytes info() const { return info_.bytes(); }
  elf::Bytes abbrev() const { return abbrevs_.bytes(); }
  const elf::Bytes& str() const { return strings_.bytes(); }
  elf::Bytes& str() { return strings_.bytes(); }
  // The offset of s in .debug_str, where it is added when it is not there yet.
  uint32_t string(std::string_view s) { return strings_.add(s); }
  // Adds s to .debug_str without looking for it, and returns its offset: for a string that the
  // caller knows is not there yet and keeps the offset of. string() does not find it.
  uint32_t add_string(std::string_view s) { return strings_.append(s); }

 private:
  friend class Die;
  friend class SlotDie;
  void closed() const {  // checks that no DIE is open
    if (serial_) still_open();
  }
  // die() after its checks and the flush they call for.
  Die die_checked(Tag tag, bool children);
  Die start(Tag tag, bool children) {
    serial_ = next_serial_++;
    die_at_ = info_.size();
    die_refs_.clear();
    info_.u8(0);  // room for a one-byte code; put() makes more when needed
    shape_[0] = tag;
    shape_[1] = children;
    shape_n_ = 2;
    return Die(*this, serial_);
  }
  // The quick way of an attribute of k bytes at most: when the handle is the open DIE's, its
  // shape has room for the pair and .debug_info for the bytes, adds the pair and returns where
  // the bytes go; else nullptr, and the attribute goes through open() with all its checks and
  // growth. The checks' calls are then out of the way of the common case.
  uint8_t* quick(uint64_t serial, Attr at, Form form, size_t k) {
    if (serial != serial_ || shape_n_ == shape_.size() || info_.room() < k) return nullptr;
    shape_[shape_n_++] = uint32_t{at} << 8 | form;
    return info_.take(k);
  }
  // The buffer for the values of the open DIE, after adding the pair to its shape.
  // A DIE's serial is never 0, the serial of no open DIE.
  InfoBuffer& open(uint64_t serial, Attr at, Form form) {
    if (serial != serial_) not_open();
    if (shape_n_ == shape_.size()) grow_shape();
    shape_[shape_n_++] = uint32_t{at} << 8 | form;
    return info_;
  }
  // Writes the code of the DIE put and returns its offset.
  uint32_t close(uint32_t code) {
    if (code >= 0x80 || !die_refs_.empty()) return put_long(code);
    info_.data()[die_at_] = static_cast<uint8_t>(code);
    return flushed_ + static_cast<uint32_t>(die_at_);
  }
  // close() of a DIE with a code past 127 or with references to fill in.
  uint32_t put_long(uint32_t code);
  // Checks that the DIE put has the shape of the slot's code (std::logic_error): its number of
  // attributes always, the whole shape in builds with assertions.
  void check_slot(uint32_t code, [[maybe_unused]] const uint32_t* shape, size_t n) const {
    if (abbrevs_.length(code) != n) wrong_slot();
#ifndef NDEBUG
    if (!abbrevs_.is_code_of(code, shape, n)) wrong_slot();
#endif
  }
  // The checks of die(slot, ...) out of its way: no DIE open, a flush when due, and room.
  void make_slot_room();
  // Keeps the places of the put DIE's references, whose code is written.
  void keep_refs();
  [[noreturn]] static void wrong_slot();
  [[noreturn]] static void not_open();
  void grow_shape();
  [[noreturn]] static void still_open();

  void flush();
  // The end of the block of the streamed bytes from lo, so that no field to fill in crosses
  // it; r and l are the first reference and late length at or after lo.
  struct RefCursor;
  uint32_t block_end(uint32_t lo, const RefCursor& next, size_t l) const;
  void read_block(elf::Bytes& block, uint32_t lo, uint32_t hi);
  void write_block(const elf::Bytes& block, uint32_t lo);
  void add_ref(uint64_t key);
  // A reference to fill in whose key goes at p, within the room of the open SlotDie.
  void add_ref_at(uint64_t key, uint8_t* p);

  InfoBuffer info_;  // from offset flushed_ on
  elf::Output* out_ = nullptr;
  uint64_t out_start_ = 0;
  uint32_t flushed_ = 0;
  size_t flush_at_ = 0;
  // Unit lengths to write at offsets already streamed: (offset, length).
  std::vector<std::pair<uint32_t, uint32_t>> late_;
  elf::StringTable strings_{false};
  AbbrevTable abbrevs_;
  // The open DIE: its serial (0: none), where its code goes in info_ and its shape so far.
  uint64_t serial_ = 0, next_serial_ = 1;
  size_t die_at_ = 0;
  // Tag, children flag, then attribute << 8 | form, in shape_[0, shape_n_): the vector only
  // grows, so adding a pair is a store.
  std::vector<uint32_t> shape_ = std::vector<uint32_t>(32);
  size_t shape_n_ = 0;
  // References: where each one lies in .debug_info, which holds the low 32 bits of its key
  // until it is resolved. The places ascend; they are kept as the differences between
  // neighbours, as ULEB128 numbers (mostly a byte each), and those of the open DIE apart until
  // its code is known. The high 32 bits of the keys, once any key needs them.
  std::vector<uint8_t> ref_steps_;
  uint32_t last_ref_ = 0;
  std::vector<uint32_t> die_refs_;
  size_t ref_count_ = 0;
  std::vector<uint32_t> ref_high_;
  // Walks the places of the references in order.
  struct RefCursor {
    explicit RefCursor(const InfoWriter& w) : w_(w) { advance_from(0); }
    bool valid() const { return index < w_.ref_count_; }
    void advance() {
      ++index;
      advance_from(at);
    }
    uint32_t at = 0;
    size_t index = 0;

   private:
    void advance_from(uint32_t base) {
      if (!valid()) return;
      uint32_t step = 0;
      for (int shift = 0;; shift += 7) {
        const uint8_t b = w_.ref_steps_[pos_++];
        step |= uint32_t{b & 0x7Fu} << shift;
        if (!(b & 0x80)) break;
      }
      at = base + step;
    }
    const InfoWriter& w_;
    size_t pos_ = 0;
  };
  bool wide_refs_ = false;
  uint32_t unit_start_ = 0;
};

inline InfoBuffer& Die::spec(Attr at, Form form) {
  return w_->open(serial_, at, form);
}

inline Die& Die::u32(Attr at, Form form, uint32_t v) {
  uint8_t* p = w_->quick(serial_, at, form, 4);
  if (!p) return u32_checked(at, form, v);
  w_->info_.store_u32(p, v);
  return *this;
}

[[gnu::always_inline]] inline void SlotDie::pair(Attr at, Form form) {
  if (serial_ != w_->serial_ || n_ == shape_.size()) misuse();
  shape_[n_++] = uint32_t{at} << 8 | form;
}

[[gnu::always_inline]] inline SlotDie& SlotDie::u32(Attr at, Form form, uint32_t v) {
  pair(at, form);
  w_->info_.store_u32(p_, v);
  p_ += 4;
  return *this;
}

inline Die& Die::data1(Attr at, uint8_t v) {
  uint8_t* p = w_->quick(serial_, at, DW_FORM_data1, 1);
  if (!p) return data1_checked(at, v);
  *p = v;
  return *this;
}

inline Die& Die::udata(Attr at, uint64_t v) {
  uint8_t* p = w_->quick(serial_, at, DW_FORM_udata, 10);
  if (!p) return udata_checked(at, v);
  w_->info_.untake(10 - elf::encode_uleb(v, p));
  return *this;
}

inline Die& Die::flag(Attr at) {
  if (!w_->quick(serial_, at, DW_FORM_flag_present, 0)) return flag_checked(at);
  return *this;
}

}  // namespace dwarf
