#include "core/reader/srclines.hpp"

#include <iterator>
#include <new>

#include "core/converter.hpp"
#include "core/emit.hpp"
#include "core/errors.hpp"

namespace tek {

namespace {

const std::string EMPTY;

// Appends n name characters read with get_byte; the name ends at its first 0 byte and keeps at
// most 255 characters.
void read_part(Converter& cv, std::string& name, bool& ended) {
  uint32_t n = get_byte(cv);
  for (uint32_t i = 0; i < n; ++i) {
    char c = static_cast<char>(get_byte(cv));
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

PassStep handle_srcfiles(Converter& cv) {
  SourceState& ss = cv.src;
  rebase_type_ids(cv);
  uint32_t k = get_word(cv);
  std::string name;
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t slot = static_cast<uint32_t>(ss.file_count + i);
    if (cv.rd.rec_len == 0) {
      // The body is used up: every remaining entry reads as an empty name. Storing them one by
      // one would give the same slots and the same companion table, at the cost of a loop that
      // a 5-byte record can make 65535 entries long.
      clear_slots(ss, slot, k - i);
      load_companion(cv, std::string());
      break;
    }
    name.clear();
    bool ended = false;
    read_part(cv, name, ended);
    read_part(cv, name, ended);
    skip_fields(cv, teka::SRCFILES_ENTRY_TAIL);
    if (name.empty())
      ss.names.erase(slot);
    else
      ss.names[slot] = name;
    load_companion(cv, name);
  }
  ss.file_count += k;
  consume_trailer(cv);
  return PassStep::Continue;
}

PassStep handle_curfile(Converter& cv) {
  cv.src.current_file = static_cast<uint16_t>(get_word(cv));
  consume_trailer(cv);
  return PassStep::Continue;
}

PassStep handle_lines(Converter& cv) {
  emit_file(cv, source_name(cv.src, cv.src.current_file).c_str());
  uint32_t k = get_word(cv);
  for (uint32_t i = 0; i < k; ++i) {
    uint32_t line = get_word(cv);
    uint32_t offset = get_addr(cv);
    emit_line(cv, line, convert_addr(cv, cv.units.location + offset));
  }
  emit_end_line(cv, 0);
  consume_trailer(cv);
  return PassStep::Continue;
}

}  // namespace tek
