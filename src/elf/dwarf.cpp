// DWARF 4 debug information from the derived program: one compilation unit per module with
// its types, global variables and functions (with their parameters and locals), its line
// number program, and the address ranges of the units.
#include "format/elf/dwarf.hpp"

#include <algorithm>

#include "elf/model.hpp"
#include "format/elf/constants.hpp"
#include "format/elf/dwarf_info.hpp"
#include "format/elf/dwarf_line.hpp"

namespace tek {

namespace {

// The DWARF sections; .debug_line and .debug_info are in the output, at their offsets.
struct DebugSections {
  std::vector<uint8_t> abbrev, str, aranges, ranges;
  uint64_t line_offset = 0, line_size = 0, info_offset = 0, info_size = 0;
};

using namespace dwarf;

// The name of the base type that stands for a pointer of 2 bytes.
const char* const NEAR_POINTER = "near pointer";

struct Range {
  uint32_t lo;
  uint64_t hi;
};

// 32-bit DWARF has no address 2^32: a range that ends there ends at 0xFFFFFFFF.
uint32_t end32(uint64_t hi) {
  return static_cast<uint32_t>(std::min<uint64_t>(hi, UINT32_MAX));
}

// Key of the index type of arrays whose bound needs 32 unsigned bits (not a selfix).
constexpr uint64_t INDEX_TYPE = uint64_t{1} << 32;

// A source file name split at its last '/' or backslash (DOS paths have backslashes).
std::pair<std::string, std::string> split_path(std::string_view path) {
  size_t at = path.find_last_of("/\\");
  if (at == std::string_view::npos) return {"", std::string(path)};
  // A root keeps its separator ("/", "C:\\").
  size_t dir_end = at == 0 || (at == 2 && path[1] == ':') ? at + 1 : at;
  return {std::string(path.substr(0, dir_end)), std::string(path.substr(at + 1))};
}

// An empty file name would end the line program's file table.
const char* const UNNAMED_FILE = "unnamed";

std::vector<Range> merge_ranges(std::vector<Range> r) {
  auto by_lo = [](const Range& a, const Range& b) { return a.lo < b.lo; };
  if (!std::is_sorted(r.begin(), r.end(), by_lo)) std::sort(r.begin(), r.end(), by_lo);
  std::vector<Range> out;
  for (const Range& x : r) {
    if (x.hi <= x.lo) continue;
    if (!out.empty() && x.lo <= out.back().hi)
      out.back().hi = std::max(out.back().hi, x.hi);
    else
      out.push_back(x);
  }
  return out;
}

// The frame base expression: the frame register, offset 0.
elf::Bytes frame_base(uint16_t reg, bool big_endian) {
  elf::Bytes fb(big_endian);
  if (reg < 32) {
    fb.u8(DW_OP_breg0 + reg);
  } else {
    fb.u8(DW_OP_bregx);
    fb.uleb(reg);
  }
  fb.sleb(0);
  return fb;
}

class DwarfBuilder {
 public:
  DwarfBuilder(const ElfModel& m, const Program& p)
      : m_(m), p_(p), be_(p.target.big_endian), w_(be_), line_(be_), aranges_(be_), ranges_(be_) {}

  DebugSections build(elf::Output& out) {
    DebugSections s;
    // The line programs go to the output first, a unit at a time, then .debug_info as it is
    // written: neither section stays in memory whole.
    s.line_offset = out.size();
    std::vector<UnitLines> unit_lines(p_.cus.size());
    for (size_t cu = 0; cu < p_.cus.size(); ++cu) {
      const Cu& c = p_.cus[cu];
      UnitLines& u = unit_lines[cu];
      u.name = c.module;
      if (c.blocks.empty()) continue;
      u.stmt_list = static_cast<uint32_t>(s.line_size) + lines(c, u.ranges, u.name, u.comp_dir);
      out.append(line_.data().data(), line_.size());
      s.line_size += line_.size();
      line_.data().clear();
    }
    w_.stream_to(out);
    assign_types();
    for (const TypeRec& t : m_.types)
      if (t.t.kind == K_ARRAY && t.t.limit > INT32_MAX) wide_index_ = true;
    for (size_t cu = 0; cu < p_.cus.size(); ++cu) unit(cu, std::move(unit_lines[cu]));
    w_.resolve_refs([&](uint64_t key) -> std::optional<uint32_t> {
      if (const uint32_t ti = type_of_key(key); ti != TypeIndex::NONE) {
        if (die_of_type_[ti] == NONE) return std::nullopt;
        return die_of_type_[ti];
      }
      auto it = die_at_.find(key);
      if (it == die_at_.end()) return std::nullopt;
      return it->second;
    });
    s.abbrev = w_.abbrev().data();
    s.info_offset = w_.output_offset();
    s.info_size = w_.size();
    s.str = std::move(w_.str().data());
    s.aranges = aranges_.data();
    s.ranges = ranges_.data();
    return s;
  }

 private:
  // A type gets a DIE when it is defined (first definition of its selfix) and is not void.
  // A reference to a type DIE already written holds its offset at once; one to a type still to
  // come is filled in when all units are written. Returns whether the DIE got a type.
  bool type_attr(Die& d, uint32_t selfix) const {
    const uint32_t ti = p_.type_at.get(selfix);
    if (!p_.has_die(ti)) return false;
    put_type(d, selfix, ti);
    return true;
  }
  // The type attribute of a type that has a DIE, of index ti. A type merged with another one
  // refers to that one's DIE.
  template <class D>
  void put_type(D& d, uint32_t selfix, uint32_t ti) const {
    const uint32_t c = p_.canon[ti];
    if (die_of_type_[c] != NONE)
      d.ref_to(DW_AT_type, die_of_type_[c]);
    else
      d.ref(DW_AT_type, c == ti ? selfix : m_.types[c].t.selfix);
  }

  // The types that a type refers to.
  template <class F>
  void refs_of(const TypeRec& t, F&& f) const {
    switch (kind_info(t.t.kind).cls) {
      case KindClass::Function:
        f(t.t.retix);
        break;
      case KindClass::Pointer:
      case KindClass::Array:
      case KindClass::Typedef:
        f(t.t.typeix);
        break;
      case KindClass::Aggregate:
        for (const MemberRec& mv : m_.members_of(t)) f(mv.typeix);
        break;
      default:
        break;
    }
  }

  // Each type is placed in the first unit that uses it; types no unit uses go to the first
  // unit. References between units are DW_FORM_ref_addr, like all type references.
  static constexpr uint32_t NONE = UINT32_MAX;
  // Type DIE offsets by key: by type index for the selfixes of defined types, a map for the
  // other keys.
  uint32_t type_of_key(uint64_t key) const {
    return key < INDEX_TYPE ? p_.type_at.get(static_cast<uint32_t>(key)) : TypeIndex::NONE;
  }
  // The offset in .debug_str of a name of the records, kept by the name's number: equal names
  // have equal numbers (the public names are interned).
  uint32_t str_of(Name n) {
    const uint32_t offset = str_of_name_[n.id];
    return offset != NONE ? offset : add_str(n);
  }
  // The offset in .debug_str of another string (a unit's name and directory, a base type's
  // name, a label): that of the name with its bytes where there is one, so it is stored once.
  uint32_t str_of(std::string_view s) {
    const Name n = m_.names.find(s);
    return n.empty() ? w_.string(s) : str_of(n);
  }
  // A name's first time: it goes into .debug_str. No other string there has its bytes.
  [[gnu::noinline]] uint32_t add_str(Name n) {
    return str_of_name_[n.id] = w_.add_string(m_.name(n));
  }

  void set_die(uint64_t key, uint32_t offset) {
    if (const uint32_t ti = type_of_key(key); ti != TypeIndex::NONE)
      die_of_type_[ti] = offset;
    else
      die_at_[key] = offset;
  }

  void assign_types() {
    die_of_type_.assign(m_.types.size(), NONE);
    std::vector<int> owner(m_.types.size(), -1);
    std::vector<uint32_t> stack;
    auto walk = [&](size_t cu) {
      while (!stack.empty()) {
        uint32_t selfix = stack.back();
        stack.pop_back();
        uint32_t ti = p_.type_at.get(selfix);
        if (ti == TypeIndex::NONE || owner[ti = p_.canon[ti]] >= 0) continue;
        owner[ti] = static_cast<int>(cu);
        refs_of(m_.types[ti], [&](uint32_t r) { stack.push_back(r); });
      }
    };
    for (size_t cu = 0; cu < p_.cus.size(); ++cu) {
      const Cu& c = p_.cus[cu];
      for (size_t g : c.globals) stack.push_back(p_.data[g].pub->typeix);
      for (size_t s : c.statics) stack.push_back(p_.statics[s].v->typeix);
      for (size_t fi : c.functions) {
        const Function& f = p_.functions[fi];
        if (f.pub) stack.push_back(f.pub->typeix);
        if (f.scope)
          for (const LocalRec& l : f.scope->locals) stack.push_back(l.typeix);
      }
      walk(cu);
    }
    types_of_cu_.resize(p_.cus.size());
    for (size_t i = 0; i < m_.types.size(); ++i) {
      // A second definition, or a type merged with another one: no DIE of its own.
      if (p_.type_at.get(m_.types[i].t.selfix) != i || p_.canon[i] != i) continue;
      types_of_cu_[owner[i] < 0 ? 0 : owner[i]].push_back(static_cast<uint32_t>(i));
    }
  }

  const char* base_name(const TypeFields& t) const {
    bool short_int = p_.target.int_size == 2;
    switch (t.kind) {
      case K_8SIGNED:
        return "char";
      case K_8UNSIGNED:
        return "unsigned char";
      case K_16SIGNED:
        return short_int ? "int" : "short";
      case K_16UNSIGNED:
        return short_int ? "unsigned int" : "unsigned short";
      case K_32SIGNED:
        return short_int || t.selfix == 264 ? "long" : "int";
      case K_32UNSIGNED:
        return short_int || t.selfix == 265 ? "unsigned long" : "unsigned int";
      case K_64SIGNED:
        return "long long";
      case K_64UNSIGNED:
        return "unsigned long long";
      case K_32FLOAT:
        return "float";
      case K_64FLOAT:
        return "double";
      default:
        return "long double";
    }
  }

  static uint8_t base_encoding(uint8_t kind) {
    switch (kind) {
      case K_8SIGNED:
        return DW_ATE_signed_char;
      case K_8UNSIGNED:
        return DW_ATE_unsigned_char;
      case K_16UNSIGNED:
      case K_32UNSIGNED:
      case K_64UNSIGNED:
        return DW_ATE_unsigned;
      case K_32FLOAT:
      case K_64FLOAT:
      case K_EXTFLOAT:
        return DW_ATE_float;
      default:
        return DW_ATE_signed;
    }
  }

  // A base type DIE: its name, size in bytes and encoding.
  void base_die(uint32_t selfix, const char* name, uint8_t size, uint8_t encoding) {
    SlotDie d = w_.die(shapes_.base, DW_TAG_base_type, false);
    d.strp(DW_AT_name, str_of(name)).data1(DW_AT_byte_size, size).data1(DW_AT_encoding, encoding);
    set_die(selfix, w_.put(d));
  }

  void member(const TypeRec& agg, const MemberRec& mv, size_t index) {
    const uint32_t ti = p_.type_at.get(mv.typeix);
    const bool typed = p_.member_type(agg.t, index, ti) != TypeIndex::NONE;
    const TypeRec* bit = ti != TypeIndex::NONE && p_.kinds[ti] == K_BIT ? &m_.types[ti] : nullptr;
    const bool bit_field = kind_info(agg.t.kind).members == MemberForm::BitField;
    ShapeSlot& slot =
        shapes_.member[(mv.name.empty() ? 0 : 1) | (typed ? 2 : 0) | (bit_field || bit ? 4 : 0)];
    SlotDie d = w_.die(slot, DW_TAG_member, false);
    if (!mv.name.empty()) d.strp(DW_AT_name, str_of(mv.name));
    if (typed) put_type(d, mv.typeix, ti);
    if (bit_field) {
      d.udata(DW_AT_bit_size, mv.bitsize).udata(DW_AT_data_bit_offset, mv.bitoffs);
    } else if (bit) {
      // The bit offset counts from the first bit of the member's byte offset, in memory order.
      int64_t pos = int64_t{mv.offset} * 8 + static_cast<int32_t>(bit->t.offs);
      d.udata(DW_AT_bit_size, bit->t.size).udata(DW_AT_data_bit_offset, pos < 0 ? 0 : pos);
    } else {
      d.udata(DW_AT_data_member_location, mv.offset);
    }
    w_.put(d);
  }

  void type_die(const TypeRec& tr) {
    const TypeFields& t = tr.t;
    switch (kind_info(t.kind).cls) {
      case KindClass::Void:
        return;
      case KindClass::Aggregate: {
        dwarf::Tag tag = t.kind == K_UNION   ? DW_TAG_union_type
                         : t.kind == K_CLASS ? DW_TAG_class_type
                                             : DW_TAG_structure_type;
        const size_t kind = t.kind == K_UNION ? 1 : t.kind == K_CLASS ? 2 : 0;
        ShapeSlot& slot =
            shapes_.aggregate[kind * 4 + (t.name.empty() ? 0 : 2) + (tr.members.empty() ? 0 : 1)];
        SlotDie d = w_.die(slot, tag, !tr.members.empty());
        if (!t.name.empty()) d.strp(DW_AT_name, str_of(t.name));
        d.udata(DW_AT_byte_size, t.size);
        set_die(t.selfix, w_.put(d));
        if (tr.members.empty()) return;
        size_t index = 0;
        for (const MemberRec& mv : m_.members_of(tr)) member(tr, mv, index++);
        w_.end_children();
        return;
      }
      case KindClass::Enum: {
        ShapeSlot& slot =
            shapes_.enumeration[(t.name.empty() ? 0 : 2) + (tr.members.empty() ? 0 : 1)];
        SlotDie d = w_.die(slot, DW_TAG_enumeration_type, !tr.members.empty());
        if (!t.name.empty()) d.strp(DW_AT_name, str_of(t.name));
        d.udata(DW_AT_byte_size, p_.target.int_size);
        set_die(t.selfix, w_.put(d));
        if (tr.members.empty()) return;
        for (const MemberRec& mv : m_.members_of(tr)) {
          SlotDie e = w_.die(shapes_.enumerator, DW_TAG_enumerator, false);
          e.strp(DW_AT_name, str_of(mv.name))
              .sdata(DW_AT_const_value, static_cast<int32_t>(mv.value));
          w_.put(e);
        }
        w_.end_children();
        return;
      }
      case KindClass::Function: {
        // Parameter types are known for the type of a defined function: its first argc stack
        // or register variables are its parameters.
        std::vector<const LocalRec*>& params = params_;
        p_.params_of_type(t.selfix, params);
        bool unknown = params.empty() && t.argc > 0;
        Die d = w_.die(DW_TAG_subroutine_type, !params.empty() || unknown);
        d.flag(DW_AT_prototyped);
        if (const uint32_t ti = p_.ref_of(t, t.retix); ti != TypeIndex::NONE)
          put_type(d, t.retix, ti);
        set_die(t.selfix, w_.put(d));
        for (const LocalRec* l : params) {
          Die pd = w_.die(DW_TAG_formal_parameter, false);
          type_attr(pd, l->typeix);
          w_.put(pd);
        }
        if (unknown) w_.put(w_.die(DW_TAG_unspecified_parameters, false));
        if (!params.empty() || unknown) w_.end_children();
        return;
      }
      case KindClass::Pointer: {
        const uint64_t size = p_.type_size(t.selfix);
        if (size != 4) {
          // Readers take a pointer to have the size of an address (4 bytes): a pointer of
          // another size is an address-valued base type of its own size.
          base_die(t.selfix, NEAR_POINTER, static_cast<uint8_t>(size), DW_ATE_address);
          return;
        }
        const uint32_t ti = p_.ref_of(t, t.typeix);
        ShapeSlot& slot = shapes_.pointer[ti != TypeIndex::NONE];
        SlotDie d = w_.die(slot, DW_TAG_pointer_type, false);
        d.data1(DW_AT_byte_size, static_cast<uint8_t>(size));
        if (ti != TypeIndex::NONE) put_type(d, t.typeix, ti);
        set_die(t.selfix, w_.put(d));
        return;
      }
      case KindClass::Array: {
        const uint32_t ti = p_.ref_of(t, t.typeix);
        ShapeSlot& slot = shapes_.array[ti != TypeIndex::NONE];
        SlotDie d = w_.die(slot, DW_TAG_array_type, true);
        if (ti != TypeIndex::NONE) put_type(d, t.typeix, ti);
        set_die(t.selfix, w_.put(d));
        // Limit 0 is an unknown bound (the upper bound 0xFFFFFFFF): no count. A count beyond
        // the signed 32-bit range is read with an unsigned index type.
        ShapeSlot& range = shapes_.subrange[(t.limit > INT32_MAX ? 2 : 0) + (t.limit != 0)];
        SlotDie r = w_.die(range, DW_TAG_subrange_type, false);
        if (t.limit > INT32_MAX) r.ref(DW_AT_type, INDEX_TYPE);
        if (t.limit != 0) r.udata(DW_AT_count, t.limit);
        w_.put(r);
        w_.end_children();
        return;
      }
      case KindClass::Typedef: {
        const uint32_t ti = p_.ref_of(t, t.typeix);
        ShapeSlot& slot = shapes_.typedef_[ti != TypeIndex::NONE];
        SlotDie d = w_.die(slot, DW_TAG_typedef, false);
        d.strp(DW_AT_name, str_of(t.name));
        if (ti != TypeIndex::NONE) put_type(d, t.typeix, ti);
        set_die(t.selfix, w_.put(d));
        return;
      }
      case KindClass::Bit: {
        // A bit-field's own type: the member DIE carries width and position.
        TypeFields whole;
        whole.kind = t.sign ? K_32SIGNED : K_32UNSIGNED;
        base_die(t.selfix, base_name(whole), 4, t.sign ? DW_ATE_signed : DW_ATE_unsigned);
        return;
      }
      case KindClass::Base:
        base_die(t.selfix, base_name(t), static_cast<uint8_t>(p_.type_size(t.selfix)),
                 base_encoding(t.kind));
        return;
      case KindClass::Unknown:
        return;
    }
  }

  // The location of a variable at an address: DW_OP_addr and the address in the target's byte
  // order.
  template <class D>
  void addr_location(D& d, uint32_t addr) const {
    uint8_t ops[5] = {DW_OP_addr};
    elf::store_u32(ops + 1, addr, be_);
    d.expr(DW_AT_location, ops, sizeof ops);
  }

  void location(SlotDie& d, const LocalRec& l) const {
    if (l.cls == 2) {
      addr_location(d, p_.linear(l.offset));
    } else if (l.cls == 3) {
      uint8_t ops[11] = {DW_OP_fbreg};
      d.expr(DW_AT_location, ops, 1 + elf::encode_sleb(static_cast<int32_t>(l.offset), ops + 1));
    } else {
      const RegisterLocation r = register_location(p_.processor, l.offset, p_.type_size(l.typeix));
      d.expr(DW_AT_location, r.ops, r.size);
    }
  }

  void variable(dwarf::Tag tag, const LocalRec& l) {
    const uint32_t ti = p_.type_at.get(l.typeix);
    const bool typed = p_.has_die(ti);
    const bool located = p_.no_location.empty() || !p_.no_location.count(&l);
    ShapeSlot& slot = shapes_.variable[(tag == DW_TAG_formal_parameter ? 8 : 0) |
                                       (l.name.empty() ? 0 : 4) | (typed ? 2 : 0) | located];
    SlotDie d = w_.die(slot, tag, false);
    if (!l.name.empty()) d.strp(DW_AT_name, str_of(l.name));
    if (typed) put_type(d, l.typeix, ti);
    if (located) location(d, l);
    w_.put(d);
  }

  // A function at 0xFFFFFFFF alone has no 32-bit end: it is written without a range.
  static bool has_range(const Function& f) { return f.ranged && end32(f.hi) > f.lo; }

  // A function without a range is a declaration: gdb drops a definition without one ("cannot
  // get low and high bounds").
  void function(const Function& f) {
    const TypeRec* ft = f.pub ? p_.type(f.pub->typeix) : nullptr;
    const Slice<LocalRec>* locals = f.scope ? &f.scope->locals : nullptr;
    // Untyped static locals are labels (in f.labels).
    auto is_label = [&](const LocalRec& l) { return l.cls == 2 && p_.is_void_type(l.typeix); };
    bool children = !f.labels.empty() ||
                    (locals && std::any_of(locals->begin(), locals->end(),
                                           [&](const LocalRec& l) { return !is_label(l); }));
    const bool external = f.pub && f.pub->cls == 1, ranged = has_range(f);
    const uint32_t ret = ft ? p_.type_at.get(ft->t.retix) : TypeIndex::NONE;
    const bool typed = p_.has_die(ret);
    ShapeSlot& slot = shapes_.subprogram[(children ? 8 : 0) | (ranged ? 4 : 0) | (typed ? 2 : 0) |
                                         (external ? 1 : 0)];
    SlotDie d = w_.die(slot, DW_TAG_subprogram, children);
    // Readers drop a subprogram without a name (gdb: "missing name for subprogram").
    if (f.pub && !f.pub->name.empty())
      d.strp(DW_AT_name, str_of(f.pub->name));
    else
      d.strp(DW_AT_name, str_of(UNNAMED_FILE));
    if (external) d.flag(DW_AT_external);
    d.flag(DW_AT_prototyped);
    if (typed) put_type(d, ft->t.retix, ret);
    if (ranged) {
      d.addr(DW_AT_low_pc, f.lo);
      d.data4(DW_AT_high_pc, end32(f.hi) - f.lo);
    } else {
      d.flag(DW_AT_declaration);
    }
    d.expr(DW_AT_frame_base, frame_base_);
    w_.put(d);
    if (!children) return;
    uint32_t params = ft ? ft->t.argc : 0;
    if (locals)
      for (const LocalRec& l : *locals) {
        if (is_label(l)) continue;
        bool param = params > 0 && (l.cls == 3 || l.cls == 4);
        if (param) --params;
        variable(param ? DW_TAG_formal_parameter : DW_TAG_variable, l);
      }
    for (const auto& [name, addr] : f.labels) {
      Die l = w_.die(DW_TAG_label, false);
      if (!name.empty()) l.strp(DW_AT_name, str_of(name));
      l.addr(DW_AT_low_pc, addr);
      w_.put(l);
    }
    w_.end_children();
  }

  void global(const DataSymbol& g) {
    const PublicRec& pub = *g.pub;
    const uint32_t ti = p_.type_at.get(pub.typeix);
    const bool named = !pub.name.empty(), typed = p_.has_die(ti), external = pub.cls == 1;
    ShapeSlot& slot = shapes_.global[(named ? 4 : 0) | (typed ? 2 : 0) | (external ? 1 : 0)];
    SlotDie d = w_.die(slot, DW_TAG_variable, false);
    if (named) d.strp(DW_AT_name, str_of(pub.name));
    if (typed) put_type(d, pub.typeix, ti);
    if (external) d.flag(DW_AT_external);
    addr_location(d, g.addr);
    w_.put(d);
  }

  // Merges the rows set apart into the kept rows, which ascend: the rows set apart are sorted
  // stably and come after every kept row of their address. The merge runs from the end, in
  // the room the rows were given, so the kept rows are not copied to a buffer of their own.
  // Each row set apart finds its place by a binary search, and the kept rows above it move up
  // in one block: a kept row moves once, as far as the rows set apart below it.
  static void merge_apart(std::vector<LineRow>& rows, std::vector<LineRow>& apart) {
    auto by_addr = [](const LineRow& a, const LineRow& b) { return a.addr < b.addr; };
    std::stable_sort(apart.begin(), apart.end(), by_addr);
    size_t kept = rows.size(), left = apart.size();
    rows.resize(kept + left);
    for (; left > 0; --left) {
      const LineRow& a = apart[left - 1];
      const auto at = std::upper_bound(rows.begin(), rows.begin() + kept, a, by_addr);
      std::move_backward(at, rows.begin() + kept, rows.begin() + kept + left);
      kept = static_cast<size_t>(at - rows.begin());
      rows[kept + left - 1] = a;
    }
  }

  // The line number program of a unit; its sequences' ranges are added to ranges. The unit's
  // first source file gives its name and compilation directory.
  uint32_t lines(const Cu& c, std::vector<Range>& ranges, std::string& name,
                 std::string& comp_dir) {
    std::vector<std::string> dirs;
    std::vector<LineFile> files;
    std::unordered_map<uint32_t, uint32_t> file_index;  // by name: each is stored once
    std::unordered_map<std::string, uint32_t> dir_index;
    // The rows ascend as a rule but for a few (a header's rows after the function that
    // includes it): the rows that ascend from the first one are kept in place as they come,
    // the others are set apart and merged in.
    std::vector<LineRow> rows, apart;
    size_t row_count = 0;
    for (size_t b : c.blocks) row_count += m_.blocks[b].lines.size();
    // The kept rows are written through a pointer into room made for all of them, with what
    // the loop reads held in locals: a store through the pointer could alias the fields it
    // would otherwise read again at every row.
    rows.resize(row_count);
    LineRow* kept = rows.data();
    uint32_t last = 0;  // the address of the last kept row; the first row is kept
    const int form = p_.form;
    const bool zero_in_image = p_.zero_in_image;
    for (size_t b : c.blocks) {
      const LineBlock& blk = m_.blocks[b];
      auto [it, fresh] =
          file_index.try_emplace(blk.file.id, static_cast<uint32_t>(files.size() + 1));
      if (fresh) {
        auto [dir, base] = split_path(m_.name(blk.file));
        if (base.empty()) base = UNNAMED_FILE;
        if (files.empty()) {
          name = base;
          comp_dir = dir;
        }
        // A file without a directory part is taken relative to the compilation directory: an
        // empty include directory would end the directory table.
        LineFile f{base, 0};
        if (!dir.empty() && dir != comp_dir) {
          auto [d, new_dir] = dir_index.try_emplace(dir, static_cast<uint32_t>(dirs.size() + 1));
          if (new_dir) dirs.push_back(dir);
          f.dir = d->second;
        }
        files.push_back(f);
      }
      // Readers drop a sequence that has a row at address 0 outside every section.
      const uint32_t file = it->second;
      for (const LineValue& lv : blk.lines) {
        const uint32_t addr = Program::linear(form, lv.addr);
        if (!zero_in_image && addr == 0) continue;
        if (addr >= last) {
          *kept++ = {addr, lv.line, file};
          last = addr;
        } else {
          apart.push_back({addr, lv.line, file});
        }
      }
    }
    rows.resize(static_cast<size_t>(kept - rows.data()));
    if (!apart.empty()) merge_apart(rows, apart);
    // One sequence per function that the rows fall into; rows outside functions form
    // sequences of their own, ending after their last address.
    std::vector<LineSequence> seqs;
    // The rows ascend: the first function beginning after the row only moves forward, from
    // the first one after the unit's first row.
    const std::vector<Function>& fns = p_.functions;
    auto begins_by_first_row = [&](const Function& f) { return f.lo <= rows.front().addr; };
    size_t next = 0;
    if (!rows.empty())
      next = static_cast<size_t>(std::partition_point(fns.begin(), fns.end(), begins_by_first_row) -
                                 fns.begin());
    // The function whose range holds the address, or -1; the addresses asked for ascend.
    auto function_of = [&](uint32_t addr) -> ptrdiff_t {
      while (next < fns.size() && fns[next].lo <= addr) ++next;
      return next > 0 && addr < fns[next - 1].hi ? static_cast<ptrdiff_t>(next - 1) : -1;
    };
    // A sequence is a run of the rows, which no longer change. It ends with its function, or
    // after its last row when it is in none.
    for (size_t i = 0, j; i < rows.size(); i = j) {
      const ptrdiff_t f = function_of(rows[i].addr);
      // The rows below bound, the end of the function or the start of the next one, are in
      // the same function (or in none).
      auto bound_of = [&] {
        uint64_t bound = next < fns.size() ? fns[next].lo : UINT64_MAX;
        return f >= 0 ? std::min(bound, fns[static_cast<size_t>(f)].hi) : bound;
      };
      uint64_t bound = bound_of();
      for (j = i + 1; j < rows.size(); ++j) {
        if (rows[j].addr < bound) continue;
        if (function_of(rows[j].addr) != f) break;
        bound = bound_of();
      }
      const uint64_t after_last = uint64_t{rows[j - 1].addr} + 1;
      const uint64_t end = f >= 0 ? fns[static_cast<size_t>(f)].hi : after_last;
      seqs.push_back(
          {std::span<const LineRow>(rows.data() + i, j - i), end32(std::max(end, after_last))});
    }
    for (const LineSequence& s : seqs) ranges.push_back({s.rows.front().addr, s.end});
    return write_line_program(line_, dirs, files, seqs);
  }

  // What a unit's line program gives its DIE: where the program lies in .debug_line, the
  // ranges of its sequences, and the unit's name and directory from its first source file.
  struct UnitLines {
    std::optional<uint32_t> stmt_list;
    std::vector<Range> ranges;
    std::string name, comp_dir;
  };

  void unit(size_t cu, UnitLines ul) {
    const Cu& c = p_.cus[cu];
    std::vector<Range> ranges = std::move(ul.ranges);
    std::string name = std::move(ul.name), comp_dir = std::move(ul.comp_dir);
    const std::optional<uint32_t> stmt_list = ul.stmt_list;
    if (name.empty()) name = UNNAMED_FILE;
    const size_t from_lines = ranges.size();
    for (size_t fi : c.functions) {
      const Function& f = p_.functions[fi];
      if (has_range(f)) ranges.push_back({f.lo, end32(f.hi)});
    }
    // Both runs ascend as a rule (sequences by address, functions by address): merging them
    // spares merge_ranges its sort.
    auto lo_first = [](const Range& a, const Range& b) { return a.lo < b.lo; };
    if (std::is_sorted(ranges.begin(), ranges.begin() + from_lines, lo_first) &&
        std::is_sorted(ranges.begin() + from_lines, ranges.end(), lo_first))
      std::inplace_merge(ranges.begin(), ranges.begin() + from_lines, ranges.end(), lo_first);
    ranges = merge_ranges(std::move(ranges));

    w_.begin_unit();
    const bool children = (cu == 0 && wide_index_) || !types_of_cu_[cu].empty() ||
                          !c.globals.empty() || !c.statics.empty() || !c.functions.empty();
    Die d = w_.die(DW_TAG_compile_unit, children);
    d.strp(DW_AT_producer, str_of("tekconv"))
        .data2(DW_AT_language, DW_LANG_C89)
        .strp(DW_AT_name, str_of(name));
    if (!comp_dir.empty()) d.strp(DW_AT_comp_dir, str_of(comp_dir));
    if (stmt_list) d.sec_offset(DW_AT_stmt_list, *stmt_list);
    if (ranges.size() == 1) {
      d.addr(DW_AT_low_pc, ranges[0].lo)
          .data4(DW_AT_high_pc, static_cast<uint32_t>(ranges[0].hi - ranges[0].lo));
    } else if (ranges.size() > 1) {
      d.addr(DW_AT_low_pc, 0).sec_offset(DW_AT_ranges, static_cast<uint32_t>(ranges_.size()));
      for (const Range& r : ranges) {
        ranges_.u32(r.lo);
        ranges_.u32(static_cast<uint32_t>(r.hi));
      }
      ranges_.u32(0);
      ranges_.u32(0);
    }
    w_.put(d);
    if (cu == 0 && wide_index_) {
      Die x = w_.die(DW_TAG_base_type, false);
      x.strp(DW_AT_name, str_of("unsigned long"))
          .data1(DW_AT_byte_size, 4)
          .data1(DW_AT_encoding, DW_ATE_unsigned);
      set_die(INDEX_TYPE, w_.put(x));
    }
    for (uint32_t t : types_of_cu_[cu]) type_die(m_.types[t]);
    for (size_t g : c.globals) global(p_.data[g]);
    for (size_t s : c.statics) variable(DW_TAG_variable, *p_.statics[s].v);
    for (size_t fi : c.functions) function(p_.functions[fi]);
    if (children) w_.end_children();
    w_.end_unit();

    if (!ranges.empty()) {
      size_t start = aranges_.size();
      aranges_.u32(0);
      aranges_.u16(2);
      aranges_.u32(w_.unit_offset());
      aranges_.u8(4);
      aranges_.u8(0);
      aranges_.u32(0);  // padding to a multiple of the tuple size
      for (const Range& r : ranges) {
        aranges_.u32(r.lo);
        aranges_.u32(static_cast<uint32_t>(r.hi - r.lo));
      }
      aranges_.u32(0);
      aranges_.u32(0);
      aranges_.patch_u32(start, static_cast<uint32_t>(aranges_.size() - start - 4));
    }
  }

  const ElfModel& m_;
  const Program& p_;
  bool be_;
  InfoWriter w_;
  elf::Bytes line_, aranges_, ranges_;
  std::vector<const LocalRec*> params_;  // of the function type being written
  // The DIEs written most, by the attributes they have: their codes are found once.
  struct Shapes {
    ShapeSlot base;  // name, byte size, encoding
    ShapeSlot member[8], aggregate[12], enumeration[4], enumerator, pointer[2], array[2],
        subrange[4], typedef_[2], variable[16], subprogram[16], global[8];
  } shapes_;
  // The frame base of every function: its target's frame register.
  const elf::Bytes frame_base_ = frame_base(p_.target.frame_register, be_);
  std::vector<std::vector<uint32_t>> types_of_cu_;
  std::unordered_map<uint64_t, uint32_t> die_at_;
  std::vector<uint32_t> die_of_type_;
  std::vector<uint32_t> str_of_name_ = std::vector<uint32_t>(m_.names.size(), NONE);
  bool wide_index_ = false;  // an array needs the unsigned index type
};

}  // namespace

void debug_sections(const ElfModel& m, const Program& p, elf::Output& out, elf::FileSpec& spec) {
  DebugSections dbg = DwarfBuilder(m, p).build(out);
  auto debug = [&](const char* name, std::vector<uint8_t>& bytes, bool strings = false) {
    if (bytes.empty()) return;
    elf::Section s;
    s.name = name;
    s.type = elf::SHT_PROGBITS;
    if (strings) {
      s.flags = elf::SHF_MERGE | elf::SHF_STRINGS;
      s.entsize = 1;
    }
    s.bytes = std::move(bytes);
    spec.sections.push_back(std::move(s));
  };
  // A section already in the output.
  auto written = [&](const char* name, uint64_t offset, uint64_t size) {
    if (size == 0) return;
    elf::Section s;
    s.name = name;
    s.type = elf::SHT_PROGBITS;
    s.offset = offset;
    s.size = size;
    spec.sections.push_back(std::move(s));
  };
  debug(".debug_abbrev", dbg.abbrev);
  written(".debug_info", dbg.info_offset, dbg.info_size);
  debug(".debug_str", dbg.str, true);
  written(".debug_line", dbg.line_offset, dbg.line_size);
  debug(".debug_aranges", dbg.aranges);
  debug(".debug_ranges", dbg.ranges);
}

}  // namespace tek
