// Type ids, selfix numbering and the basic types.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/pass_step.hpp"

namespace tek {

class Reporter;
struct Output;
struct Settings;
class RecordReader;

constexpr uint32_t TYPE_SLOTS = 0x4000;
constexpr int32_t SELFIX_FIRST = 288;  // selfix of slot 0 at selfix base 0
constexpr uint16_t ANON_FIRST = 0x8000;

struct TypeIdState {
  // The table fill maps an id to its first slot; slots are taken in order, so the table itself
  // reduces to the number of slots used and, per id, the slot of its first registration in the
  // current fill (valid while its generation stamp equals the fill's).
  struct IdEntry {
    uint32_t stamp;
    uint32_t first_slot;
  };
  // The 0x10000 ids in pages of 256 entries, each allocated (zeroed) when one of its ids is
  // first registered: a converter costs nothing until its input numbers types.
  static constexpr uint32_t PAGE_SIZE = 256;
  std::array<std::unique_ptr<IdEntry[]>, 0x10000 / PAGE_SIZE> pages;
  uint32_t fill = 1;
  uint32_t used = 0;
  int32_t registrations = 0;
  int32_t selfix_base = 0;
  uint16_t anon = ANON_FIRST;
  std::array<int32_t, 128> basic{};  // basic type index -> typeix; survives passes
  bool far_functions = false;
};

void reset_type_ids(TypeIdState& ts);
void set_sid(TypeIdState& ts, uint16_t id);
// The selfix of a registered id; an id that is not registered is reported and gets a selfix
// that no TYPE record has.
int32_t get_sid(TypeIdState& ts, const Reporter& rep, uint16_t id);
void rebase_type_ids(TypeIdState& ts);
uint8_t function_kind(const TypeIdState& ts, const Settings& settings);

void emit_predefined_types(const Output& o, const Reporter& rep);
PassStep handle_basetype(RecordReader& rd, TypeIdState& ts);

}  // namespace tek
