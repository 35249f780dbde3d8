#include "core/reader/dispatcher.hpp"

#include <array>

#include "core/emit.hpp"
#include "core/converter.hpp"
#include "core/reader/image.hpp"

namespace tek {

namespace {

constexpr uint32_t CODE_HDR = 0x04;
constexpr uint32_t CODE_END = 0x7E;

enum class Disposition : uint8_t { Invalid, Handled, Skipped, End };

struct RecordEntry {
  Disposition disposition = Disposition::Invalid;
  Handler handler = nullptr;
  bool ends_pass = false;  // a nonzero result of the handler ends the pass
};

// Record codes stepped over whole.
constexpr uint8_t SKIPPED[] = {0x0C, 0x0E, 0x10, 0x14, 0x22, 0x24, 0x2C, 0x2E, 0x38, 0x3A,
                               0x42, 0x46, 0x6A, 0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C};

struct Handled {
  uint8_t code;
  Handler handler;
  bool ends_pass;
  const char* name;  // the record's name, for the reader of this table
};

constexpr Handled HANDLED[] = {
    {0x06, handle_unit, true, "UNIT"},          {0x08, handle_cl, true, "CL"},
    {0x20, handle_sect, true, "SECT"},          {0x26, handle_data, true, "DATA"},
    {0x28, handle_zero, true, "ZERO"},          {0x2A, handle_repeat, true, "REPEAT"},
    {0x30, handle_dbgunit, true, "DBGUNIT"},    {0x32, handle_blkend, false, "BLKEND"},
    {0x34, handle_srcfiles, true, "SRCFILES"},  {0x36, handle_basetype, true, "BASETYPE"},
    {0x40, handle_symbol, true, "SYMBOL"},      {0x48, handle_attr, true, "ATTR"},
    {0x4A, handle_aggr, false, "AGGR"},         {0x4C, handle_aggr, false, "AGGR"},
    {0x4E, handle_arrtype, true, "ARRTYPE"},    {0x50, handle_dpt, true, "DPT"},
    {0x52, handle_functype, false, "FUNCTYPE"}, {0x62, handle_curfile, true, "CURFILE"},
    {0x64, handle_locate, true, "LOCATE"},      {0x68, handle_lines, true, "LINES"},
    {0xA0, handle_aflag, true, "AFLAG"},
};

std::array<RecordEntry, 256> build_table() {
  std::array<RecordEntry, 256> t{};
  for (const Handled& h : HANDLED) t[h.code] = {Disposition::Handled, h.handler, h.ends_pass};
  for (uint8_t code : SKIPPED) t[code] = {Disposition::Skipped, nullptr, false};
  t[CODE_END] = {Disposition::End, nullptr, false};
  return t;
}

const std::array<RecordEntry, 256> TABLE = build_table();

// State that every pass rebuilds from the input.
void reset_pass_state(Converter& cv) {
  reset_type_ids(cv.types);
  reset_symbols_for_pass(cv.syms);
  cv.units.current_unit = -1;
}

}  // namespace

int handle_hdr(Converter& cv) {
  uint32_t header_type = get_byte(cv);
  if (header_type > 15) {
    say(cv, "Invalid record type (HDR)\n");
    return -1;
  }
  get_word(cv);
  get_word(cv);
  get_byte(cv);
  int32_t level = static_cast<int32_t>(get_byte(cv));
  cv.rd.file_debug_level = level;
  cv.rd.debug_level = level;
  skip_rec(cv);
  HeaderValue v;
  v.ver = 118;
  v.compiler = 6;
  v.compiler_ver = 0;
  v.cpu = 0;
  emit_header(cv, v);
  return 0;
}

int read_records(Converter& cv) {
  reset_pass_state(cv);
  uint32_t code = get_rectype(cv);
  get_reclen(cv);
  if (code != CODE_HDR) return -1;
  if (handle_hdr(cv) != 0) return -1;
  for (;;) {
    code = get_rectype(cv);
    get_reclen(cv);
    const RecordEntry& e = TABLE[code];
    switch (e.disposition) {
      case Disposition::Handled:
        if (e.handler(cv) != 0 && e.ends_pass) return -1;
        break;
      case Disposition::Skipped:
        skip_rec(cv);
        break;
      case Disposition::End:
        skip_rec(cv);
        return 0;
      case Disposition::Invalid:
        say(cv, "Invalid record\n");
        return -1;
    }
  }
}

}  // namespace tek
