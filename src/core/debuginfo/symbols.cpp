#include "core/debuginfo/symbols.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/companion_state.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/emit.hpp"
#include "core/errors.hpp"
#include "core/record_reader.hpp"
#include "core/settings.hpp"
#include "core/source_state.hpp"
#include "core/unit_state.hpp"
#include "format/teka/processors.hpp"
#include "format/teka/records.hpp"

namespace tek {

namespace {

using namespace teka;

enum StorageClass : int32_t { CLS_EXT = 1, CLS_STAT = 2, CLS_AUTO = 3, CLS_REG = 4 };

constexpr uint32_t UNTYPED_TYPE = 256;  // the first predefined type, VOID

bool starts_with(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

void set_name(char* name, const std::string& replacement) {
  size_t n = std::min<size_t>(replacement.size(), 255);
  std::memcpy(name, replacement.data(), n);
  name[n] = '\0';
}

void apply_rename(const CompanionState& cs, char* name) {
  if (const std::string* r = find_rename(cs, name)) set_name(name, *r);
}

bool invalid_section(const Reporter& rep, SymbolState& s, uint32_t sect) {
  rep.fault(Severity::PassEnd, "Invalid section number (SYMBOL)\n",
            "section %u is not defined in this unit; the symbol '%s' is dropped and the pass "
            "ends here",
            sect, s.name);
  s.pending = 0;
  return false;
}

// While it lives, the diagnostics name the symbol's own SYMBOL record: a symbol is written out
// when a later record arrives, and what goes wrong then is about the symbol.
class SymbolRecordScope {
 public:
  SymbolRecordScope(RecordReader& rd, const SymbolState& s)
      : rd_(rd), offset_(rd_.record_offset), code_(rd_.record_code) {
    rd_.record_offset = s.offset;
    rd_.record_code = SYMBOL;
  }
  ~SymbolRecordScope() {
    rd_.record_offset = offset_;
    rd_.record_code = code_;
  }
  SymbolRecordScope(const SymbolRecordScope&) = delete;
  SymbolRecordScope& operator=(const SymbolRecordScope&) = delete;

 private:
  RecordReader& rd_;
  uint64_t offset_;
  uint8_t code_;
};

// Reads a section index and an offset; false, after the report, when the current unit has no
// such section.
bool read_section_address(const SymbolContext& cx, SymbolState& s, uint32_t* section) {
  uint32_t sect = cx.rd.get_word();
  uint32_t offset = cx.rd.get_addr();
  if (!has_section(cx.units, sect)) return invalid_section(cx.rep, s, sect);
  s.value = section_base(cx.units, sect) + offset;
  if (section) *section = sect;
  return true;
}

uint32_t hex_value(RecordReader& rd) {
  uint32_t n = rd.get_byte();
  uint32_t value = 0;
  for (uint32_t i = 0; i < n; ++i) {
    int32_t c = static_cast<int32_t>(rd.get_byte());
    int32_t d = static_cast<uint32_t>(c - 0x30) <= 9 ? c - 0x30 : c - 0x37;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return value;
}

uint32_t register_list(RecordReader& rd, const UnitState& us) {
  uint32_t n = rd.get_byte();
  int r[256];
  for (uint32_t i = 0; i < n; ++i) r[i] = get_register(rd, us);
  if (n == 2 && r[0] == r[1] - 1 &&
      std::strcmp(processor_name(current_processor(us)), "SH7750") == 0)
    return static_cast<uint32_t>(r[0] > 16 ? r[0] + 16 : r[0]);
  if (us.ri_mode == 0) return n > 0 ? static_cast<uint32_t>(r[0]) : 0;
  uint32_t value = 0xFFFFFFFF;
  for (uint32_t i = 0; i < n; ++i) value = (value << 8) | static_cast<uint32_t>(r[i]);
  return value;
}

// A bit-field member gets a BIT type of its own.
void make_bit_type(const SymbolContext& cx, SymbolState& s) {
  const uint16_t id = cx.types.anon;
  set_sid(cx.types, id);
  TypeValue t;
  t.kind = K_BIT;
  t.selfix = static_cast<uint32_t>(get_sid(cx.types, cx.rep, id));
  t.sign = (s.typeix & 1) == 0 ? 1 : 0;
  t.size = s.size;
  t.offs = static_cast<uint32_t>(static_cast<int32_t>(s.bit_offset));
  emit_type(cx.out, cx.rep, t);
  s.typeix = get_sid(cx.types, cx.rep, id);
  cx.types.anon = static_cast<uint16_t>(id + 1);
}

// Location part given by a location form byte. False for an invalid section.
bool read_location_form(const SymbolContext& cx, SymbolState& s) {
  const uint32_t form = cx.rd.get_byte();
  switch (form) {
    case LOC_REGISTER:
      s.size = cx.rd.get_addr();
      cx.rd.skip_fields(teka::REGISTER_OFFSET);
      s.value = static_cast<uint32_t>(get_register(cx.rd, cx.units));
      s.cls = CLS_REG;
      return true;
    case LOC_GLOBAL:
    case LOC_GLOBAL2:
    case LOC_LOCAL_STATIC:
    case LOC_STATIC: {
      s.size = cx.rd.get_addr();
      uint32_t sect = 0;
      if (!read_section_address(cx, s, &sect)) return false;
      if (form <= LOC_GLOBAL2) {
        s.cls = (cx.units.ri_mode == 2 && section_kind(cx.units, sect) == 1) ? CLASS_RI_PROGRAM
                                                                             : CLS_EXT;
      } else {
        s.cls = CLS_STAT;
        if (form == LOC_LOCAL_STATIC) s.local_static = 1;
      }
      return true;
    }
    case LOC_STACK:
      s.size = cx.rd.get_addr();
      s.value = cx.rd.get_addr();
      s.cls = CLS_AUTO;
      return true;
    case LOC_REGISTER_LIST:
      s.size = cx.rd.get_addr();
      cx.rd.skip_fields(teka::REGISTER_OFFSET);
      s.value = register_list(cx.rd, cx.units);
      s.cls = CLS_REG;
      return true;
    default:
      s.pending = 0;  // no such form: the symbol is dropped
      return true;
  }
}

// Location part by symbol category. False for an invalid section.
bool read_location(const SymbolContext& cx, SymbolState& s) {
  switch (s.kind >> 2) {
    case UNTYPED:
      cx.rd.skip_fields(teka::LABEL_LOCATION_LEAD);
      s.cls = CLS_EXT;
      s.size = 0;
      if (!read_section_address(cx, s, nullptr)) return false;
      return true;
    case HEXVALUE:
      s.value = hex_value(cx.rd);
      return true;
    case MEMBER:
      if (starts_with(s.name, "__v")) {
        s.pending = 0;
        return true;
      }
      s.bitfield = static_cast<uint8_t>(cx.rd.get_byte() & 0x80);
      s.size = cx.rd.get_addr();
      s.value = cx.rd.get_addr();
      s.bit_offset = static_cast<int8_t>(cx.rd.get_byte());
      if (s.bitfield) make_bit_type(cx, s);
      return true;
    case ENUM_TAG:
      cx.rd.skip_fields(teka::ENUM_TAG_LOCATION);
      push_aggregate_level(cx.syms);
      return true;
    case STRUCT_TAG:
    case UNION_TAG:
      push_aggregate_level(cx.syms);
      set_sid(cx.types, s.own_id);
      s.size = cx.rd.get_addr();
      return true;
    case CLASSED: {
      uint32_t a = cx.rd.get_byte();
      uint32_t size = cx.rd.get_byte();
      if (a == 2 || a == 3) s.cls = CLS_EXT;
      if (a == 4) {
        s.cls = CLS_STAT;
        s.local_static = 1;
      }
      if (a == 5) s.cls = CLS_STAT;
      if (size == 1) s.value = cx.rd.get_byte();
      if (size == 2) s.value = cx.rd.get_word();
      if (size == 4) s.value = cx.rd.get_long();
      return true;
    }
    default:
      return read_location_form(cx, s);
  }
}

void put_public(const SymbolContext& cx, PublicValue& v) {
  if (cx.units.ri_mode != 0 && v.name[0] == '.') return;
  v.addr = convert_addr(cx.units, cx.out.settings, v.addr);
  emit_public(cx.out, v);
}

void put_set_local(const SymbolContext& cx, uint32_t cls, uint32_t offset, uint32_t typeix,
                   const char* name) {
  SetLocalValue v;
  v.cls = cls;
  v.offset = cls == CLS_STAT ? convert_addr(cx.units, cx.out.settings, offset) : offset;
  v.typeix = typeix;
  v.name = name;
  emit_set_local(cx.out, v);
}

void put_start_local(const SymbolContext& cx, uint32_t addr) {
  emit_start_local(cx.out, convert_addr(cx.units, cx.out.settings, addr));
}

void put_end_local(const SymbolContext& cx, uint32_t addr) {
  emit_end_local(cx.out, convert_addr(cx.units, cx.out.settings, addr));
}

uint32_t modix(const SymbolContext& cx) {
  return static_cast<uint32_t>(cx.units.current_unit + 1);
}

void emit_data_symbol(const SymbolContext& cx, SymbolState& s) {
  apply_rename(cx.comp, s.name);
  if (starts_with(s.name, "__T") || starts_with(s.name, "__vtbl")) return;
  PublicValue v;
  v.mode = 0;
  v.addr = s.value;
  v.cls = static_cast<uint32_t>(s.cls) & 0xFF;
  v.typeix = static_cast<uint32_t>(resolved_type(cx.types, cx.rep, s));
  v.modix = modix(cx);
  v.name = s.name;
  if (cx.units.ri_mode != 0 && s.cls == CLASS_RI_PROGRAM) {
    v.mode = 0xA0;
    v.cls = 1;
  }
  put_public(cx, v);
}

void emit_function_symbol(const SymbolContext& cx, SymbolState& s) {
  set_sid(cx.types, s.own_id);
  apply_rename(cx.comp, s.name);
  PublicValue v;
  v.mode = 0;
  v.addr = s.value;
  v.cls = static_cast<uint32_t>(s.cls) & 0xFF;
  v.typeix = static_cast<uint32_t>(get_sid(cx.types, cx.rep, s.own_id));
  v.modix = modix(cx);
  v.name = s.name;
  put_public(cx, v);

  TypeValue t;
  t.kind = function_kind(cx.types, cx.out.settings);
  t.selfix = static_cast<uint32_t>(get_sid(cx.types, cx.rep, s.own_id));
  t.retix = static_cast<uint32_t>(resolved_type(cx.types, cx.rep, s));
  t.argc = s.attr;
  emit_type(cx.out, cx.rep, t);

  cx.syms.scope_start = s.value;
  cx.syms.scope_end = s.value + s.size - 1;
  put_start_local(cx, s.value);
}

// A frame offset of address-width bytes, sign-extended to 32 bits.
uint32_t sign_extend_offset(const SymbolContext& cx, uint32_t v) {
  switch (cx.rd.addr_width()) {
    case 1:
      return (v & 0x80) ? v | 0xFFFFFF00 : v;
    case 2:
      return (v & 0x8000) ? v | 0xFFFF0000 : v;
    case 3:
      return (v & 0x800000) ? v | 0xFF000000 : v;
    default:
      return v;
  }
}

void write_symbol(const SymbolContext& cx, SymbolState& s) {
  switch (s.kind >> 2) {
    case 0:
    case VARIABLE2:
      if (s.cls == CLS_STAT && s.local_static)
        put_set_local(cx, CLS_STAT, s.value, resolved_type(cx.types, cx.rep, s), s.name);
      else if (s.cls == CLS_AUTO) {
        s.value = sign_extend_offset(cx, s.value);
        put_set_local(cx, CLS_AUTO, s.value, resolved_type(cx.types, cx.rep, s), s.name);
      } else if (s.cls == CLS_REG)
        put_set_local(cx, CLS_REG, s.value, resolved_type(cx.types, cx.rep, s), s.name);
      else
        emit_data_symbol(cx, s);
      break;
    case UNTYPED:
    case CLASSED:
      if (s.cls == CLS_EXT) {
        if (is_section_name(cx.units, s.name)) break;
        s.typeix = UNTYPED_TYPE;
        emit_data_symbol(cx, s);
      } else {
        put_set_local(cx, CLS_STAT, s.value, UNTYPED_TYPE, s.name);
      }
      break;
    case FUNCTION:
      emit_function_symbol(cx, s);
      break;
    case MEMBER:
      cx.rep.fault(Severity::Warning, "logic error (member set)\n",
                   "member '%s' is outside an aggregate body; it is dropped", s.name);
      break;
    case ENUM_TAG:
    case STRUCT_TAG:
    case UNION_TAG:
      cx.rep.fault(Severity::Warning, "logic error (tag set)\n",
                   "tag '%s' has no aggregate body after it; it is dropped", s.name);
      break;
    default:
      break;
  }
}

}  // namespace

SymbolState& member_slot(SymbolsState& ss, int32_t slot) {
  size_t i = ss.member_base + static_cast<size_t>(slot);
  if (i >= ss.members.size()) ss.members.resize(i + 1);
  return ss.members[i];
}

int32_t resolved_type(TypeIdState& ts, const Reporter& rep, const SymbolState& s) {
  return s.typeix != -1 ? s.typeix : get_sid(ts, rep, s.type_ref);
}

void reset_symbols_for_pass(SymbolsState& ss) {
  ss.sym.pending = 0;
  ss.member_count = 0;
  ss.member_base = 0;
  ss.depth = 0;
  ss.levels.clear();
  ss.scope_start = ss.scope_end = 0;
}

void push_aggregate_level(SymbolsState& ss) {
  if (ss.depth > 0) {
    const size_t d = static_cast<size_t>(ss.depth);
    if (ss.levels.size() <= d) ss.levels.resize(d + 1);
    SavedLevel& level = ss.levels[d];
    level.saved = true;
    level.member_count = ss.member_count;
    level.tag = ss.tag;
    level.member_base = ss.member_base;
    // The nested body's slots start after the enclosing body's members.
    if (ss.member_count > 1) ss.member_base += static_cast<size_t>(ss.member_count - 1);
  }
  ss.member_count = 0;
  ss.depth += 1;
}

void flush_symbol(const SymbolContext& cx) {
  SymbolState& s = cx.syms.sym;
  apply_rename(cx.comp, s.name);
  if (!starts_with(s.name, "__T")) {
    SymbolRecordScope at(cx.rd, s);
    write_symbol(cx, s);
  }
  s.pending = 0;
  s.kind = 0;
  s.cls = 0;
  s.typeix = 0;
  s.local_static = 0;
  s.bitfield = 0;
  s.attr = 0;
}

PassStep handle_symbol(const SymbolContext& cx) {
  SymbolsState& ss = cx.syms;
  SymbolState& s = ss.sym;
  if (s.pending == 1) flush_symbol(cx);
  s.pending = 1;
  s.offset = cx.rd.record_offset;
  s.kind = static_cast<uint8_t>(cx.rd.get_byte());
  s.own_id = static_cast<uint16_t>(cx.rd.get_word());
  if (cx.rd.debug_level > 1) cx.rd.skip_fields(teka::SYMBOL_AFTER_OWN_ID);
  cx.rd.get_name(s.name);
  s.typeix = -1;
  if (s.kind & 1) {
    uint32_t t = cx.rd.get_byte();
    if ((t & 0x80) == 0)
      s.typeix = cx.types.basic[t & 0x7F];
    else
      s.type_ref = static_cast<uint16_t>(cx.rd.get_word());
  }
  if ((s.kind & 2) && !read_location(cx, s)) return PassStep::End;
  cx.rd.skip_rec();
  if (ss.member_count != 0 && s.pending == 1) {
    if (ss.member_count - 1 >= MAX_MEMBERS) {
      cx.rep.fault(Severity::PassEnd,
                   console_text("The number of members exceeded %d\n", MAX_MEMBERS).c_str(),
                   "aggregate body with more than %d members; the pass ends here", MAX_MEMBERS);
      return PassStep::End;
    }
    member_slot(ss, ss.member_count - 1) = s;
    ss.member_count += 1;
    s.pending = 0;
  }
  return PassStep::Continue;
}

PassStep handle_attr(RecordReader& rd, SymbolsState& ss) {
  uint32_t flags = rd.get_byte();
  if ((flags & 0x80) == 0) ss.sym.attr = static_cast<uint8_t>(rd.get_byte());
  rd.skip_rec();
  return PassStep::Continue;
}

PassStep handle_functype(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                         const Reporter& rep) {
  SymbolState& s = ss.sym;
  const uint16_t id = ts.anon;
  set_sid(ts, id);
  TypeValue t;
  t.kind = function_kind(ts, o.settings);
  t.selfix = static_cast<uint32_t>(get_sid(ts, rep, id));
  t.retix = static_cast<uint32_t>(resolved_type(ts, rep, s));
  t.argc = s.attr;
  emit_type(o, rep, t);
  s.typeix = get_sid(ts, rep, id);
  ts.anon = static_cast<uint16_t>(id + 1);
  rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_blkend(const SymbolContext& cx) {
  SymbolsState& ss = cx.syms;
  if (ss.sym.pending == 1) flush_symbol(cx);
  uint32_t flags = cx.rd.get_byte();
  if ((flags & 0x40) && ss.scope_end != ss.scope_start) {
    put_end_local(cx, ss.scope_end);
    ss.scope_start = ss.scope_end = 0;
  }
  cx.rd.skip_rec();
  return PassStep::Continue;
}

PassStep handle_dbgunit(const SymbolContext& cx, SourceState& src) {
  if (cx.syms.sym.pending == 1) flush_symbol(cx);
  uint32_t flags = cx.rd.get_byte();
  cx.rd.debug_level = (flags >> 4) ? cx.rd.file_debug_level : 1;
  cx.types.far_functions = (flags & 0x0F) == 0;
  cx.units.current_unit = static_cast<int32_t>(cx.rd.get_word());
  cx.rd.skip_fields(teka::DBGUNIT_AFTER_UNIT_INDEX);
  cx.rd.skip_rec();
  src.file_count = 0;
  cx.types.anon = ANON_FIRST;
  return PassStep::Continue;
}

}  // namespace tek
