#include "reader/srclines.hpp"

#include <new>

#include "context/emit.hpp"
#include "driver/converter.hpp"
#include "driver/fatal.hpp"

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

}  // namespace

const std::string& source_name(const SourceState& ss, uint32_t slot) {
  auto it = ss.names.find(slot);
  return it == ss.names.end() ? EMPTY : it->second;
}

int handle_srcfiles(Converter& cv) {
  SourceState& ss = cv.src;
  rebase_type_ids(cv);
  uint32_t k = get_word(cv);
  std::string name;
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t slot = static_cast<uint32_t>(ss.file_count + i);
    name.clear();
    bool ended = false;
    read_part(cv, name, ended);
    read_part(cv, name, ended);
    for (int w = 0; w < 4; ++w) get_word(cv);
    try {
      if (name.empty())
        ss.names.erase(slot);
      else
        ss.names[slot] = name;
    } catch (const std::bad_alloc&) {
      fatal_error(cv, ERR_MEMORY);
    }
    load_companion(cv, name);
  }
  ss.file_count += k;
  get_raw(cv, 1);
  return 0;
}

int handle_curfile(Converter& cv) {
  cv.src.current_file = static_cast<uint16_t>(get_word(cv));
  get_raw(cv, 1);
  return 0;
}

int handle_lines(Converter& cv) {
  emit_file(cv, source_name(cv.src, cv.src.current_file).c_str());
  uint32_t k = get_word(cv);
  for (uint32_t i = 0; i < k; ++i) {
    uint32_t line = get_word(cv);
    uint32_t offset = get_addr(cv);
    emit_line(cv, line, convert_addr(cv, cv.units.location + offset));
  }
  emit_end_line(cv, 0);
  get_raw(cv, 1);
  return 0;
}

}  // namespace tek
