#include "core/unit_state.hpp"

#include "core/record_reader.hpp"
#include "core/settings.hpp"
#include "format/teka/processors.hpp"

namespace tek {

bool unit_has_section(const Unit* u, uint32_t n) {
  return u && n < u->section_count;
}

Section section_of(const Unit* u, uint32_t n) {
  if (!unit_has_section(u, n)) return {};
  auto it = u->sections.find(n);
  return it == u->sections.end() ? Section{} : it->second;
}

void clear_unit_tables(UnitState& us) {
  us.units.clear();
  us.units.shrink_to_fit();
  us.section_names.clear();
  us.section_names.shrink_to_fit();
  us.section_name_index.clear();
}

const Unit* opened_unit(const UnitState& us, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= us.units.size()) return nullptr;
  const Unit& u = us.units[static_cast<size_t>(index)];
  return u.opened ? &u : nullptr;
}

const Unit* current_unit(const UnitState& us) {
  return opened_unit(us, us.current_unit);
}

int current_processor(const UnitState& us) {
  const Unit* u = current_unit(us);
  return u ? u->processor : 0;
}

bool is_section_name(const UnitState& us, const char* name) {
  return us.section_name_index.count(name) != 0;
}

bool has_section(const UnitState& us, uint32_t n) {
  return unit_has_section(current_unit(us), n);
}

uint32_t section_base(const UnitState& us, uint32_t n) {
  return section_of(current_unit(us), n).base;
}

uint8_t section_kind(const UnitState& us, uint32_t n) {
  return section_of(current_unit(us), n).kind;
}

int get_register(RecordReader& rd, const UnitState& us) {
  char name[256];
  rd.get_name(name);
  int n = register_number(current_processor(us), name);
  if (n >= 0) return n;
  if (us.ri_mode != 0) {
    int x = ri_extra_register(name);
    if (x >= 0) return x | 0x80;
  }
  return 0;
}

int addr_form(const UnitState& us, const Settings& settings) {
  if (us.segmented == 0) return 0;
  if (settings.m16) return 2;
  const Unit* u = current_unit(us);
  uint8_t width = u ? u->space_width : 0;
  if (width == 20) return 1;
  if (width == 24) return 2;
  return 0;
}

uint32_t convert_addr(const UnitState& us, const Settings& settings, uint32_t a) {
  switch (addr_form(us, settings)) {
    case 1:
      return ((a >> 4) & 0xFFFF) << 16 | (a & 0xF);
    case 2:
      return ((a >> 8) & 0xFFFF) << 16 | (a & 0xFF);
    default:
      return a;
  }
}

}  // namespace tek
