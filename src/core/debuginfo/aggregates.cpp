// Aggregates (enumerations, structures, classes, unions), arrays and pointers.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/companion_state.hpp"
#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/emit.hpp"
#include "core/record_reader.hpp"

namespace tek {

namespace {

enum TagCategory : uint8_t { TAG_ENUM = 8, TAG_STRUCT = 9, TAG_UNION = 10 };

// Returns to the enclosing aggregate level after AGGR end.
void pop_aggregate_level(SymbolsState& ss) {
  if (ss.depth == 0) {
    ss.member_count = 0;
    return;
  }
  ss.depth -= 1;
  if (ss.depth == 0) {
    ss.member_count = 0;
    ss.member_base = 0;
    return;
  }
  const size_t d = static_cast<size_t>(ss.depth);
  if (d >= ss.levels.size() || !ss.levels[d].saved) {
    ss.member_count = 0;  // nothing saved for this level
    return;
  }
  SavedLevel& level = ss.levels[d];
  ss.member_count = level.member_count;
  ss.tag = level.tag;
  ss.member_base = level.member_base;
  level.saved = false;
}

void set_member_name(char* name, const std::string& s) {
  size_t n = std::min<size_t>(s.size(), 255);
  std::memcpy(name, s.data(), n);
  name[n] = '\0';
}

// The type a DPT record wraps: the pending symbol, else the last collected member.
SymbolState* pointer_target(SymbolsState& ss) {
  if (ss.sym.pending == 1) return &ss.sym;
  if (ss.member_count >= 2) return &member_slot(ss, ss.member_count - 2);
  return nullptr;
}

}  // namespace

void emit_aggregate(const SymbolContext& cx) {
  SymbolsState& ss = cx.syms;
  SymbolState& tag = ss.tag;
  const uint8_t category = tag.kind >> 2;
  ss.member_count -= 1;
  const int32_t m = ss.member_count;

  TypeValue t;
  t.count = static_cast<uint32_t>(m);
  t.name = tag.name;
  switch (category) {
    case TAG_ENUM:
      set_sid(cx.types, tag.own_id);
      t.kind = K_ENUM;
      break;
    case TAG_STRUCT:
      t.kind = is_cl(cx.comp, tag.name) ? K_CLASS : K_STRUCT;
      t.size = tag.size;
      break;
    case TAG_UNION:
      t.kind = K_UNION;
      t.size = tag.size;
      break;
    default:
      return;  // no aggregate tag: nothing describes the body
  }
  t.selfix = static_cast<uint32_t>(get_sid(cx.types, cx.rep, tag.own_id));
  emit_type(cx.out, cx.rep, t);

  for (int32_t i = 0; i < m; ++i) {
    SymbolState& member = member_slot(ss, i);
    MemberValue v;
    if (category == TAG_ENUM) {
      v.value = member.value;
    } else {
      if (is_bcl(cx.comp, member.name))
        member.name[0] = '\0';
      else if (const std::string* r = find_rename(cx.comp, member.name))
        set_member_name(member.name, *r);
      v.typeix = static_cast<uint32_t>(resolved_type(cx.types, cx.rep, member));
      v.offset = member.value;
    }
    v.name = member.name;
    emit_member(cx.out, v);
  }
}

PassStep handle_aggr(const SymbolContext& cx) {
  SymbolsState& ss = cx.syms;
  uint32_t b = cx.rd.get_byte();
  if ((b & 0x80) == 0) {
    ss.tag = ss.sym;
    ss.member_count = 1;
    ss.sym.pending = 0;
  } else {
    // With no body open there is nothing to describe: writing the aggregate would give a TYPE
    // record whose count announces 0xFFFFFFFF members.
    if (ss.member_count != 0) emit_aggregate(cx);
    pop_aggregate_level(ss);
  }
  cx.rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_arrtype(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                        const Reporter& rep) {
  const uint16_t first = ts.anon;
  rd.skip_fields(teka::ARRTYPE_LEAD);
  const uint32_t n = rd.get_byte();
  set_sid(ts, first);
  for (uint32_t i = 0; i < n; ++i) {
    TypeValue t;
    t.kind = K_ARRAY;
    t.selfix = static_cast<uint32_t>(get_sid(ts, rep, ts.anon));
    rd.skip_fields(teka::ARRTYPE_DIMENSION_LEAD);
    t.limit = rd.get_addr() + 1;
    if (i + 1 == n) {
      t.typeix = static_cast<uint32_t>(resolved_type(ts, rep, ss.sym));
    } else {
      ts.anon = static_cast<uint16_t>(ts.anon + 1);
      set_sid(ts, ts.anon);
      t.typeix = static_cast<uint32_t>(get_sid(ts, rep, ts.anon));
    }
    t.reserved = 0;
    emit_type(o, rep, t);
  }
  ts.anon = static_cast<uint16_t>(ts.anon + 1);
  if (ss.member_count >= 2) {
    SymbolState& last = member_slot(ss, ss.member_count - 2);
    if (last.typeix == ss.sym.typeix) last.typeix = get_sid(ts, rep, first);
  }
  ss.sym.typeix = -1;
  ss.sym.type_ref = first;
  rd.skip_rec();
  return PassStep::Continue;
}

PassStep handle_dpt(RecordReader& rd, SymbolsState& ss, TypeIdState& ts, const Output& o,
                    const Reporter& rep) {
  SymbolState* target = pointer_target(ss);
  uint32_t p = rd.get_byte() & 0x0F;
  if (p == 0) p = o.settings.default_ptr_size ? 4 : 2;
  uint8_t kind = 0;
  switch (p) {
    case 2:
      kind = K_16POINTER;
      break;
    case 3:
    case 4:
      kind = K_32POINTER;
      break;
    case 15:
      if (rd.addr_width() == 2) {
        kind = K_16POINTER;
      } else if (rd.addr_width() == 3 || rd.addr_width() == 4) {
        kind = K_32POINTER;
      } else {
        rep.fault(Severity::PassEnd, "Found invalid pointer type (DPT)\n",
                  "pointer size 15 takes the address width, which no UNIT record has set; "
                  "the pass ends here");
        return PassStep::End;
      }
      break;
    default:
      rep.fault(Severity::Warning,
                console_text("Found invalid pointer type %02x (DPT)\n", p).c_str(),
                "pointer size %u is not 2, 3, 4 or 15; the record is skipped", p);
      rd.consume_trailer();
      return PassStep::Continue;
  }
  if (target) {
    const uint16_t id = ts.anon;
    set_sid(ts, id);
    TypeValue t;
    t.kind = kind;
    t.selfix = static_cast<uint32_t>(get_sid(ts, rep, id));
    t.typeix = static_cast<uint32_t>(resolved_type(ts, rep, *target));
    emit_type(o, rep, t);
    target->typeix = get_sid(ts, rep, id);
    ts.anon = static_cast<uint16_t>(id + 1);
  }
  rd.consume_trailer();
  return PassStep::Continue;
}

}  // namespace tek
