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

// The dispatcher is where the converter's state meets the handlers: each entry hands its handler
// the reader and the state that handler uses.
constexpr Handled HANDLED[] = {
    {UNIT, [](Converter& cv) { return handle_unit(cv.rd, cv.units, cv.syms, cv.output()); }, true},
    {CL, [](Converter& cv) { return handle_cl(cv.rd, cv.units, cv.settings, cv.reporter()); },
     true},
    {SECT, [](Converter& cv) { return handle_sect(cv.rd, cv.units, cv.reporter()); }, true},
    {DATA, [](Converter& cv) { return handle_data(cv.rd, cv.units, cv.output()); }, true},
    {ZERO, [](Converter& cv) { return handle_zero(cv.rd, cv.units, cv.output()); }, true},
    {REPEAT, [](Converter& cv) { return handle_repeat(cv.rd, cv.units, cv.output()); }, true},
    {DBGUNIT, [](Converter& cv) { return handle_dbgunit(symbol_context(cv), cv.src); }, true},
    {BLKEND, [](Converter& cv) { return handle_blkend(symbol_context(cv)); }, false},
    {SRCFILES,
     [](Converter& cv) {
       return handle_srcfiles(cv.rd, cv.src, cv.types, cv.comp, cv.units.h8, cv.reporter());
     },
     true},
    {BASETYPE, [](Converter& cv) { return handle_basetype(cv.rd, cv.types); }, true},
    {SYMBOL, [](Converter& cv) { return handle_symbol(symbol_context(cv)); }, true},
    {ATTR, [](Converter& cv) { return handle_attr(cv.rd, cv.syms); }, true},
    {AGGR, [](Converter& cv) { return handle_aggr(symbol_context(cv)); }, false},
    {AGGR2, [](Converter& cv) { return handle_aggr(symbol_context(cv)); }, false},
    {ARRTYPE,
     [](Converter& cv) {
       return handle_arrtype(cv.rd, cv.syms, cv.types, cv.output(), cv.reporter());
     },
     true},
    {DPT,
     [](Converter& cv) { return handle_dpt(cv.rd, cv.syms, cv.types, cv.output(), cv.reporter()); },
     true},
    {FUNCTYPE,
     [](Converter& cv) {
       return handle_functype(cv.rd, cv.syms, cv.types, cv.output(), cv.reporter());
     },
     false},
    {CURFILE, [](Converter& cv) { return handle_curfile(cv.rd, cv.src); }, true},
    {LOCATE, [](Converter& cv) { return handle_locate(cv.rd, cv.units, cv.reporter()); }, true},
    {LINES, [](Converter& cv) { return handle_lines(cv.rd, cv.src, cv.units, cv.output()); }, true},
    {AFLAG, [](Converter& cv) { return handle_aflag(cv.rd, cv.units, cv.output(), cv.reporter()); },
     true},
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

// A record code that no record has: the input was cut short (past its end every byte reads as
// 0), or it is damaged here.
[[gnu::cold]] void invalid_record(Converter& cv) {
  const char* console = "Invalid record\n";
  const Reporter& rep = cv.reporter();
  if (past_input_end(cv.rd.in, cv.rd.record_offset))
    rep.input_fault(Severity::PassEnd, console,
                    "the input ends before its END record (cut short?); the pass ends here");
  else
    rep.input_fault(Severity::PassEnd, console,
                    "record code 0x%02x is not a TEKA record; the pass ends here",
                    cv.rd.record_code);
}

}  // namespace

PassStep handle_hdr(RecordReader& rd, const Output& o, const Reporter& rep) {
  uint32_t header_type = rd.get_byte();
  if (header_type > 15) {
    rep.fault(Severity::PassEnd, "Invalid record type (HDR)\n",
              "header type %u is not one of 0 to 15; the pass ends here", header_type);
    return PassStep::End;
  }
  rd.skip_fields(teka::HDR_UNINTERPRETED);
  int32_t level = static_cast<int32_t>(rd.get_byte());
  rd.file_debug_level = level;
  rd.debug_level = level;
  rd.skip_rec();
  HeaderValue v;
  v.ver = 118;
  v.compiler = 6;
  v.compiler_ver = 0;
  v.cpu = 0;
  emit_header(o, v);
  return PassStep::Continue;
}

PassEnd read_records(Converter& cv) {
  reset_pass_state(cv);
  uint32_t code = cv.rd.next_record();
  if (code != HDR) {
    input_problem(cv, Severity::PassEnd, "%s",
                  past_input_end(cv.rd.in, 0)
                      ? "not a TEKA object file: the input is empty"
                      : "not a TEKA object file: it does not begin with an HDR record");
    return PassEnd::Early;
  }
  if (handle_hdr(cv.rd, cv.output(), cv.reporter()) == PassStep::End) return PassEnd::Early;
  for (;;) {
    code = cv.rd.next_record();
    const RecordEntry& e = TABLE[code];
    switch (e.disposition) {
      case Disposition::Handled:
        if (e.handler(cv) == PassStep::End && e.ends_pass) return PassEnd::Early;
        break;
      case Disposition::Skipped:
        cv.rd.skip_rec();
        break;
      case Disposition::End:
        cv.rd.skip_rec();
        return PassEnd::AtEnd;
      case Disposition::Invalid:
        invalid_record(cv);
        return PassEnd::Early;
    }
  }
}

}  // namespace tek
