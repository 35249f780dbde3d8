// The unit state: units, processors and sections of the load information, and the lookups the
// symbol handlers make on it. The UNIT, CL, SECT, LOCATE and AFLAG records fill it (reader/units).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tek {

class RecordReader;
struct Settings;

struct Section {
  uint32_t base = 0;  // unconverted
  uint8_t kind = 0;   // RI20: 1 for a program section ("PR_"), else 0
};

struct Unit {
  bool opened = false;  // a UNIT record of this pass has opened the slot
  int processor = 0;
  uint32_t section_count = 0;
  uint8_t space_width = 0;  // 20 and 24 select the segmented address forms
  // Sections that a CL record has described; the others have base 0 and kind 0. Kept sparse so
  // that memory follows the CL records, not the declared section count.
  std::unordered_map<uint32_t, Section> sections;
};

constexpr size_t MAX_SECTION_NAMES = 0x3FFF;

struct UnitState {
  // Pass tables: released at the end of every pass.
  std::vector<Unit> units;
  std::vector<std::string> section_names;  // distinct CL names, in order of first appearance
  std::unordered_set<std::string> section_name_index;

  int32_t current_unit = -1;
  uint16_t current_section = 0;
  uint32_t location = 0;  // current location, unconverted; survives passes
  int32_t segmented = 0;  // 0 or 0x80, from the latest UNIT record
  bool h8 = false;
  uint8_t ri_mode = 0;  // 1 after an RI10 unit, 2 after an RI20 unit
};

void clear_unit_tables(UnitState& us);

// Whether unit u (nullptr for none) has section n, and that section; base 0 and kind 0 when the
// unit has it but no CL record described it, or when it has no such section.
bool unit_has_section(const Unit* u, uint32_t n);
Section section_of(const Unit* u, uint32_t n);

// The current unit when a UNIT record of this pass opened it, else nullptr.
const Unit* current_unit(const UnitState& us);
const Unit* opened_unit(const UnitState& us, int32_t index);
// Processor code of the current unit; 0 (MC68000) for a unit that is not opened.
int current_processor(const UnitState& us);
bool is_section_name(const UnitState& us, const char* name);
// Section n of the current unit, when that unit is opened and has the section.
bool has_section(const UnitState& us, uint32_t n);
uint32_t section_base(const UnitState& us, uint32_t n);
uint8_t section_kind(const UnitState& us, uint32_t n);

// Reads a register name and gives its number for the current unit's processor.
int get_register(RecordReader& rd, const UnitState& us);
// The address form of the current unit: 0 plain, 1 and 2 the segmented forms (-m16 forces 2).
int addr_form(const UnitState& us, const Settings& settings);
uint32_t convert_addr(const UnitState& us, const Settings& settings, uint32_t a);

}  // namespace tek
