#include "core/reader/units.hpp"

#include <cstring>
#include <new>

#include "core/debuginfo/symbols.hpp"
#include "core/emit.hpp"
#include "core/record_reader.hpp"
#include "core/report.hpp"
#include "core/settings.hpp"
#include "format/teka/processors.hpp"
#include "format/teka/records.hpp"

namespace tek {

namespace {

PassStep invalid_section(const UnitState& us, const Reporter& rep, const char* record,
                         uint32_t section) {
  const std::string console = console_text("Invalid section number (%s)\n", record);
  const Unit* u = current_unit(us);
  if (!u)
    rep.fault(Severity::PassEnd, console.c_str(),
              "section %u, but no unit is open; the pass ends here", section);
  else if (rep.record_code() == teka::CL)
    rep.fault(Severity::PassEnd, console.c_str(),
              "the unit declares %u sections and this would be one more; the pass ends here",
              u->section_count);
  else
    rep.fault(Severity::PassEnd, console.c_str(),
              "section %u is not defined in this unit; the pass ends here", section);
  return PassStep::End;
}

}  // namespace

int identify_processor(RecordReader& rd, UnitState& us) {
  char name[256];
  rd.get_name(name);
  if (name[0] == 'H' && name[1] == '8') {
    us.h8 = true;
    return PROC_H8S2600;
  }
  if (name[0] == 'S' && name[1] == 'H') return PROC_SH7032;
  int code = processor_code_in(name);
  if (code == PROC_RI10) us.ri_mode = 1;
  if (code == PROC_RI20) us.ri_mode = 2;
  return code < 0 ? 0 : code;
}

PassStep handle_unit(RecordReader& rd, UnitState& us, SymbolsState& syms, const Output& o) {
  rd.skip_fields(teka::UNIT_LEAD);
  us.current_unit += 1;
  const size_t index = static_cast<size_t>(us.current_unit);
  uint32_t sections = rd.get_word();
  if (us.units.size() <= index) us.units.resize(index + 1);
  Unit& u = us.units[index];
  u = Unit{};
  u.section_count = sections;
  u.opened = true;
  us.current_section = 0;
  rd.skip_fields(teka::UNIT_AFTER_SECTION_COUNT);
  uint32_t flags = rd.get_byte();
  if (rd.addr_width() == 0) rd.set_addr_width(static_cast<uint16_t>(flags & 0x0F));
  us.segmented = static_cast<int32_t>(flags & 0x80);
  us.units[index].space_width = static_cast<uint8_t>(rd.get_byte());
  rd.skip_fields(teka::UNIT_AFTER_SPACE_WIDTH);
  char module[256];
  rd.get_name(module);
  const uint32_t modix = static_cast<uint32_t>(us.current_unit + 1);
  emit_module(o, modix, module);
  us.units[index].processor = identify_processor(rd, us);
  o.out.sink->unit_processor(modix, us.units[index].processor);
  o.out.sink->unit_address_form(modix, addr_form(us, o.settings));
  rd.skip_rec();
  syms.scope_start = syms.scope_end = 0;
  return PassStep::Continue;
}

PassStep handle_cl(RecordReader& rd, UnitState& us, const Settings& settings, const Reporter& rep) {
  uint32_t flags = rd.get_byte();
  if (flags & 0x08) {
    rep.fault(Severity::PassEnd, "Not support record (CL)\n",
              "flag 0x08 is set (flags 0x%02x), a form that is not supported; the pass ends here",
              flags);
    return PassStep::End;
  }
  if (!has_section(us, us.current_section))
    return invalid_section(us, rep, "CL", us.current_section);
  Unit& u = us.units[static_cast<size_t>(us.current_unit)];
  Section& sect = u.sections[us.current_section];
  sect.base = rd.get_addr();
  if (addr_form(us, settings) != 0) sect.base += rd.get_addr();
  rd.skip_fields(teka::CL_AFTER_BASE);
  if (us.section_names.size() >= MAX_SECTION_NAMES) {
    rep.fault(Severity::PassEnd, "Section buffer overflow\n",
              "more than %zu section names in the input; the pass ends here",
              static_cast<size_t>(MAX_SECTION_NAMES));
    return PassStep::End;
  }
  uint32_t n = rd.get_byte();
  char raw[256];
  rd.get_block(reinterpret_cast<uint8_t*>(raw), n);
  raw[n] = '\0';
  std::string name(raw);  // ends at the first 0 byte
  if (us.section_name_index.insert(name).second) us.section_names.push_back(name);
  if (us.ri_mode == 2) sect.kind = name.find("PR_") != std::string::npos;
  rd.consume_trailer();
  us.current_section += 1;
  return PassStep::Continue;
}

PassStep handle_sect(RecordReader& rd, UnitState& us, const Reporter& rep) {
  uint32_t unit = rd.get_word();
  uint32_t sect = rd.get_word();
  const Unit* u = opened_unit(us, static_cast<int32_t>(unit));
  if (!unit_has_section(u, sect)) {
    const char* console = "Invalid section number (SECT)\n";
    if (u)
      rep.fault(Severity::PassEnd, console, "unit %u has no section %u; the pass ends here", unit,
                sect);
    else
      rep.fault(Severity::PassEnd, console, "unit %u is not defined; the pass ends here", unit);
    return PassStep::End;
  }
  us.current_unit = static_cast<int32_t>(unit);
  rd.consume_trailer();
  us.location = section_of(u, sect).base;
  return PassStep::Continue;
}

PassStep handle_locate(RecordReader& rd, UnitState& us, const Reporter& rep) {
  uint32_t sect = rd.get_word();
  if (!has_section(us, sect)) return invalid_section(us, rep, "LOCATE", sect);
  us.current_section = static_cast<uint16_t>(sect);
  us.location = section_base(us, sect);
  rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_aflag(RecordReader& rd, const UnitState& us, const Output& o, const Reporter& rep) {
  uint32_t sect = rd.get_word();
  if (!has_section(us, sect)) return invalid_section(us, rep, "AFLAG", sect);
  uint32_t addr = section_base(us, sect) + rd.get_addr();
  uint32_t flag = rd.get_byte();
  if (current_processor(us) == PROC_ARM) {
    if (flag == 1) emit_addr_flag(o, addr, 1);
    if (flag == 2) emit_addr_flag(o, addr, 0);
  }
  rd.skip_rec();
  return PassStep::Continue;
}

}  // namespace tek
