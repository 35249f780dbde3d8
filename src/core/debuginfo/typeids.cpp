#include "core/debuginfo/typeids.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "core/emit.hpp"
#include "core/record_reader.hpp"
#include "core/report.hpp"
#include "core/settings.hpp"

namespace tek {

namespace {

constexpr uint16_t FREE_ID = 0xFFFF;

// Values of the basic type table: predefined selfix values, or bare kind codes.
constexpr int32_t T_VOID = 257, T_S8 = 258, T_U8 = 259, T_S16 = 260, T_U16 = 261, T_S32 = 262,
                  T_U32 = 263, T_F32 = 266, T_F64 = 267;

int32_t basic_type_value(uint32_t code, uint32_t size, uint32_t flags) {
  const bool bit6 = (flags & 0x40) != 0;
  switch (code) {
    case 0:
      return T_VOID;
    case 2:
    case 6:
      return bit6 ? T_U8 : T_S8;
    case 3:
      if (size == 4) return bit6 ? T_U32 : T_S32;
      return bit6 ? T_U16 : T_S16;
    case 4:
      return (flags & 0x0F) ? T_F64 : T_F32;
    case 5:
      return K_BIT;
    case 8:
      return K_ENUM;
    case 9:
      return K_STRUCT;
    case 10:
      return K_UNION;
    case 17:
      if (size == 2) return bit6 ? K_32POINTER : K_16POINTER;
      // Kind code 19 here is the value the input asks for, not an array type.
      if (size == 4) return bit6 ? 19 : K_32POINTER;
      // No kind fits other pointer sizes: the value records code, size and flags.
      return static_cast<int32_t>(0x11 | size << 8 | (flags & 0xFF) << 16) + (bit6 ? 1 : 0);
    default:
      return 0;
  }
}

// Starts a new table fill: every id becomes unregistered.
void new_fill(TypeIdState& ts) {
  if (++ts.fill == 0) {  // the stamps wrapped: clear them once
    for (auto& page : ts.pages)
      if (page)
        for (uint32_t i = 0; i < TypeIdState::PAGE_SIZE; ++i) page[i].stamp = 0;
    ts.fill = 1;
  }
  ts.used = 0;
}

}  // namespace

void reset_type_ids(TypeIdState& ts) {
  new_fill(ts);
  ts.registrations = 0;
  ts.selfix_base = 0;
  ts.anon = ANON_FIRST;
}

void set_sid(TypeIdState& ts, uint16_t id) {
  ts.registrations += 1;
  // The id 0xFFFF marks a free slot: registering it takes no slot. A full table keeps nothing.
  if (id == FREE_ID || ts.used >= TYPE_SLOTS) return;
  auto& page = ts.pages[id / TypeIdState::PAGE_SIZE];
  if (!page) page.reset(new TypeIdState::IdEntry[TypeIdState::PAGE_SIZE]());
  TypeIdState::IdEntry& e = page[id % TypeIdState::PAGE_SIZE];
  if (e.stamp != ts.fill) {
    e.stamp = ts.fill;
    e.first_slot = ts.used;
  }
  ts.used += 1;
}

int32_t get_sid(TypeIdState& ts, const Reporter& rep, uint16_t id) {
  const TypeIdState::IdEntry* page = ts.pages[id / TypeIdState::PAGE_SIZE].get();
  if (id != FREE_ID && page) {
    const TypeIdState::IdEntry& e = page[id % TypeIdState::PAGE_SIZE];
    if (e.stamp == ts.fill)
      return ts.selfix_base + static_cast<int32_t>(e.first_slot) + SELFIX_FIRST;
  }
  const int32_t undefined = ts.selfix_base + static_cast<int32_t>(TYPE_SLOTS) + SELFIX_FIRST;
  rep.fault(Severity::Warning, "undefined id (get_sid)\n",
            "type id 0x%04x is not defined; the reference gets selfix %d, which no TYPE "
            "record has",
            id, undefined);
  return undefined;
}

void rebase_type_ids(TypeIdState& ts) {
  ts.selfix_base = ts.registrations;
  new_fill(ts);
}

uint8_t function_kind(const TypeIdState& ts, const Settings& settings) {
  return (settings.far_all || ts.far_functions) ? K_FARFUNC : K_FUNCTION;
}

void emit_predefined_types(const Output& o, const Reporter& rep) {
  for (size_t i = 0; i < PREDEFINED_COUNT; ++i) {
    TypeValue v;
    v.kind = PREDEFINED_KINDS[i];
    v.selfix = PREDEFINED_FIRST + static_cast<uint32_t>(i);
    emit_type(o, rep, v);
  }
}

PassStep handle_basetype(RecordReader& rd, TypeIdState& ts) {
  // The type's name, which no record holds, read byte by byte with the field reader: bytes past
  // the end of a short body read as zero and consume nothing.
  uint32_t n = rd.get_byte();
  for (uint32_t i = 0; i < n; ++i) rd.get_byte();
  uint32_t index = rd.get_byte();
  uint32_t code = rd.get_byte();
  uint32_t size = rd.get_addr() & 0xFF;
  uint32_t flags = rd.get_byte();
  rd.skip_rec();
  if (index < ts.basic.size()) ts.basic[index] = basic_type_value(code, size, flags);
  return PassStep::Continue;
}

}  // namespace tek
