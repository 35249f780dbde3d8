#include "core/reader/srclines.hpp"

#include <iterator>
#include <new>

#include "core/debuginfo/typeids.hpp"
#include "core/emit.hpp"
#include "core/reader/companion.hpp"
#include "core/reader/units.hpp"
#include "core/record_reader.hpp"
#include "core/report.hpp"

namespace tek {

namespace {

const std::string EMPTY;

// Appends n name characters read with get_byte; the name ends at its first 0 byte and keeps at
// most 255 characters.
void read_part(RecordReader& rd, std::string& name, bool& ended) {
  uint32_t n = rd.get_byte();
  for (uint32_t i = 0; i < n; ++i) {
    char c = static_cast<char>(rd.get_byte());
    if (c == '\0') ended = true;
    if (!ended && name.size() < 255) name.push_back(c);
  }
}

// Empties the n slots from first on (slot numbers wrap at 32 bits), visiting whichever is
// smaller: the range or the filled slots.
void clear_slots(SourceState& ss, uint32_t first, uint32_t n) {
  if (n <= ss.names.size()) {
    for (uint32_t j = 0; j < n; ++j) ss.names.erase(first + j);
    return;
  }
  for (auto it = ss.names.begin(); it != ss.names.end();)
    it = (it->first - first < n) ? ss.names.erase(it) : std::next(it);
}

}  // namespace

const std::string& source_name(const SourceState& ss, uint32_t slot) {
  auto it = ss.names.find(slot);
  return it == ss.names.end() ? EMPTY : it->second;
}

PassStep handle_srcfiles(RecordReader& rd, SourceState& ss, TypeIdState& ts, CompanionState& cs,
                         bool h8, const Reporter& rep) {
  rebase_type_ids(ts);
  uint32_t k = rd.get_word();
  std::string name;
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t slot = static_cast<uint32_t>(ss.file_count + i);
    if (rd.remaining() == 0) {
      // The body is used up: every remaining entry reads as an empty name. Storing them one by
      // one would give the same slots and the same companion table, at the cost of a loop that
      // a 5-byte record can make 65535 entries long.
      clear_slots(ss, slot, k - i);
      load_companion(cs, h8, rep, std::string());
      break;
    }
    name.clear();
    bool ended = false;
    read_part(rd, name, ended);
    read_part(rd, name, ended);
    rd.skip_fields(teka::SRCFILES_ENTRY_TAIL);
    if (name.empty())
      ss.names.erase(slot);
    else
      ss.names[slot] = name;
    load_companion(cs, h8, rep, name);
  }
  ss.file_count += k;
  rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_curfile(RecordReader& rd, SourceState& ss) {
  ss.current_file = static_cast<uint16_t>(rd.get_word());
  rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_lines(RecordReader& rd, const SourceState& ss, const UnitState& us,
                      const Output& o) {
  emit_file(o, source_name(ss, ss.current_file).c_str());
  uint32_t k = rd.get_word();
  for (uint32_t i = 0; i < k; ++i) {
    uint32_t line = rd.get_word();
    uint32_t offset = rd.get_addr();
    emit_line(o, line, convert_addr(us, o.settings, us.location + offset));
  }
  emit_end_line(o, 0);
  rd.consume_trailer();
  return PassStep::Continue;
}

}  // namespace tek
