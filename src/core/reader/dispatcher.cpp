#include "core/reader/dispatcher.hpp"

#include <array>

#include "core/converter.hpp"
#include "core/debuginfo/symbols.hpp"
#include "core/debuginfo/typeids.hpp"
#include "core/emit.hpp"
#include "core/reader/image.hpp"
#include "core/reader/srclines.hpp"
#include "core/reader/units.hpp"
#include "format/teka/records.hpp"

namespace tek {

namespace {

using namespace teka;

enum class Disposition : uint8_t { Invalid, Handled, Skipped, End };

struct RecordEntry {
  Disposition disposition = Disposition::Invalid;
  Handler handler = nullptr;
  bool ends_pass = false;  // PassStep::End from the handler ends the pass
};

struct Handled {
  Code code;
  Handler handler;
  bool ends_pass;
};

constexpr Handled HANDLED[] = {
    {UNIT, handle_unit, true},          {CL, handle_cl, true},
    {SECT, handle_sect, true},          {DATA, handle_data, true},
    {ZERO, handle_zero, true},          {REPEAT, handle_repeat, true},
    {DBGUNIT, handle_dbgunit, true},    {BLKEND, handle_blkend, false},
    {SRCFILES, handle_srcfiles, true},  {BASETYPE, handle_basetype, true},
    {SYMBOL, handle_symbol, true},      {ATTR, handle_attr, true},
    {AGGR, handle_aggr, false},         {AGGR2, handle_aggr, false},
    {ARRTYPE, handle_arrtype, true},    {DPT, handle_dpt, true},
    {FUNCTYPE, handle_functype, false}, {CURFILE, handle_curfile, true},
    {LOCATE, handle_locate, true},      {LINES, handle_lines, true},
    {AFLAG, handle_aflag, true},
};

std::array<RecordEntry, 256> build_table() {
  std::array<RecordEntry, 256> t{};
  for (const Handled& h : HANDLED) t[h.code] = {Disposition::Handled, h.handler, h.ends_pass};
  for (uint8_t code : SKIPPED_CODES) t[code] = {Disposition::Skipped, nullptr, false};
  t[END] = {Disposition::End, nullptr, false};
  return t;
}

const std::array<RecordEntry, 256> TABLE = build_table();

// State that every pass rebuilds from the input.
void reset_pass_state(Converter& cv) {
  reset_type_ids(cv.types);
  reset_symbols_for_pass(cv.syms);
  cv.units.current_unit = -1;
}

// Reads the next record's type byte and length, noting where the record begins.
inline uint32_t next_record(Converter& cv) {
  cv.rd.record_offset = input_offset(cv.rd.in);
  const uint32_t code = get_rectype(cv);
  cv.rd.record_code = static_cast<uint8_t>(code);
  get_reclen(cv);
  return code;
}

// A record code that no record has: the input was cut short (past its end every byte reads as
// 0), or it is damaged here.
[[gnu::cold]] void invalid_record(Converter& cv) {
  say(cv, "Invalid record\n");
  if (past_input_end(cv.rd.in, cv.rd.record_offset))
    input_problem(cv, Severity::PassEnd,
                  "the input ends before its END record (cut short?); the pass ends here");
  else
    input_problem(cv, Severity::PassEnd,
                  "record code 0x%02x is not a TEKA record; the pass ends here", cv.rd.record_code);
}

}  // namespace

PassStep handle_hdr(Converter& cv) {
  uint32_t header_type = get_byte(cv);
  if (header_type > 15) {
    say(cv, "Invalid record type (HDR)\n");
    record_problem(cv, Severity::PassEnd,
                   "header type %u is not one of 0 to 15; the pass ends here", header_type);
    return PassStep::End;
  }
  skip_fields(cv, teka::HDR_UNINTERPRETED);
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
  return PassStep::Continue;
}

PassEnd read_records(Converter& cv) {
  reset_pass_state(cv);
  uint32_t code = next_record(cv);
  if (code != HDR) {
    input_problem(cv, Severity::PassEnd, "%s",
                  past_input_end(cv.rd.in, 0)
                      ? "not a TEKA object file: the input is empty"
                      : "not a TEKA object file: it does not begin with an HDR record");
    return PassEnd::Early;
  }
  if (handle_hdr(cv) == PassStep::End) return PassEnd::Early;
  for (;;) {
    code = next_record(cv);
    const RecordEntry& e = TABLE[code];
    switch (e.disposition) {
      case Disposition::Handled:
        if (e.handler(cv) == PassStep::End && e.ends_pass) return PassEnd::Early;
        break;
      case Disposition::Skipped:
        skip_rec(cv);
        break;
      case Disposition::End:
        skip_rec(cv);
        return PassEnd::AtEnd;
      case Disposition::Invalid:
        invalid_record(cv);
        return PassEnd::Early;
    }
  }
}

}  // namespace tek
