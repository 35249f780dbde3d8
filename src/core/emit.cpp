#include "core/emit.hpp"

#include <iterator>

#include "format/ctx/dump.hpp"
#include "core/converter.hpp"
#include "core/fatal.hpp"
#include "tools/tekconv/paths.hpp"

namespace tek {

namespace {

enum class Mode { Dump, Check, Convert };

Mode mode(const Converter& cv) {
  if (cv.settings.dump_mask != 0) return Mode::Dump;
  if (cv.settings.check_pass != 0) return Mode::Check;
  return Mode::Convert;
}

bool listed(const Converter& cv, uint32_t bit) {
  return (cv.settings.dump_mask & bit) != 0;
}

// Counts produced bytes against the budget that a harness may set.
void charge(Converter& cv, uint64_t n) {
  cv.out.emitted += n;
  if (cv.out.emitted > cv.settings.output_budget) throw BudgetExceeded{};
}

RecordBuffer& start_record(Converter& cv, uint8_t tag) {
  cv.out.rec.size = 0;
  cv.out.rec.put(tag, 1);
  return cv.out.rec;
}

void write_record(Converter& cv, OutFile& stream) {
  charge(cv, cv.out.rec.size);
  out_write(cv, stream, cv.out.rec.bytes, cv.out.rec.size);
}

void printed(Converter& cv, int n) {
  charge(cv, n > 0 ? static_cast<uint64_t>(n) : 0);
}

}  // namespace

int emit_header(Converter& cv, const HeaderValue& v) {
  switch (mode(cv)) {
    case Mode::Dump:
      printed(cv, print_header(cv.out.console, v));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_HEADER), v, header_layout(), {});
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

int emit_public(Converter& cv, const PublicValue& v) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_PUBLIC)) printed(cv, print_public(cv.out.console, v));
      break;
    case Mode::Check:
      check_typeix(cv, v.typeix);
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_PUBLIC), v, public_layout(), v.name);
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

static int emit_scope(Converter& cv, uint8_t tag, uint32_t addr) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_SCOPE))
        printed(cv, tag == TAG_STARTLOCAL ? print_start_local(cv.out.console, addr)
                                          : print_end_local(cv.out.console, addr));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, tag), StartLocalValue{addr}, start_local_layout(), {});
      write_record(cv, cv.out.local);
      break;
  }
  return 0;
}

int emit_start_local(Converter& cv, uint32_t addr) {
  return emit_scope(cv, TAG_STARTLOCAL, addr);
}

int emit_end_local(Converter& cv, uint32_t addr) {
  return emit_scope(cv, TAG_ENDLOCAL, addr);
}

int emit_set_local(Converter& cv, const SetLocalValue& v) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_SETLOCAL)) printed(cv, print_set_local(cv.out.console, v));
      break;
    case Mode::Check:
      check_typeix(cv, v.typeix);
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_SETLOCAL), v, set_local_layout(), v.name);
      write_record(cv, cv.out.local);
      break;
  }
  return 0;
}

// The whole path under -fullpath, else its last component.
static std::string stored_file_name(const Converter& cv, const char* path) {
  if (cv.settings.fullpath) return path;
  std::string name;
  base_name(path, name);
  return name;
}

int emit_file(Converter& cv, const char* path) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_FILE))
        printed(cv, print_file(cv.out.console, stored_file_name(cv, path)));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_FILE), FileValue{}, file_layout(),
                    stored_file_name(cv, path));
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

int emit_end_line(Converter& cv, uint16_t mode_value) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_FILE)) printed(cv, print_end_line(cv.out.console, mode_value));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_ENDLINE), EndLineValue{mode_value}, end_line_layout(), {});
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

int emit_line(Converter& cv, uint32_t line, uint32_t addr) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_FILE)) printed(cv, print_line(cv.out.console, LineValue{line, addr}));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_LINE), LineValue{line, addr}, line_layout(), {});
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

int emit_type(Converter& cv, const TypeValue& v) {
  const Mode m = mode(cv);
  switch (m) {
    case Mode::Dump:
      if (listed(cv, DUMP_TYPE)) printed(cv, print_type_common(cv.out.console, v.kind, v.selfix));
      break;
    case Mode::Check:
      charge(cv, 6);
      if (cv.settings.check_pass == 1) mark_selfix(cv, v.selfix);
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_TYPE), v, type_common_layout(), {});
      write_record(cv, cv.out.type);
      break;
  }
  cv.out.last_kind = static_cast<uint8_t>(v.kind);
  if (v.kind == 0 || v.kind > K_CLASS) {
    say(cv, "\nUndefined type");
    throw RunExit{1};
  }
  switch (m) {
    case Mode::Dump:
      if (listed(cv, DUMP_TYPE)) printed(cv, print_type_part(cv.out.console, v));
      break;
    case Mode::Check:
      if (refers_by_retix(v.kind)) check_typeix(cv, v.retix);
      if (refers_by_typeix(v.kind)) check_typeix(cv, v.typeix);
      break;
    case Mode::Convert:
      cv.out.rec.size = 0;
      encode_fields(cv.out.rec, v, type_layout(v.kind), v.name);
      write_record(cv, cv.out.type);
      break;
  }
  return 0;
}

int emit_member(Converter& cv, const MemberValue& v) {
  const Mode m = mode(cv);
  switch (m) {
    case Mode::Dump:
      if (listed(cv, DUMP_TYPE)) printed(cv, print_member_label(cv.out.console));
      break;
    case Mode::Check:
      charge(cv, 1);
      break;
    case Mode::Convert:
      start_record(cv, TAG_MEMBER);
      break;
  }
  const uint32_t last = cv.out.last_kind;
  switch (m) {
    case Mode::Dump:
      if (listed(cv, DUMP_TYPE)) printed(cv, print_member_part(cv.out.console, last, v));
      break;
    case Mode::Check:
      if (members_refer_to_types(last)) check_typeix(cv, v.typeix);
      break;
    case Mode::Convert:
      encode_fields(cv.out.rec, v, member_layout(last), v.name);
      write_record(cv, cv.out.type);
      break;
  }
  return 0;
}

int emit_object(Converter& cv, uint16_t mode_value, uint32_t addr, uint16_t length,
                const uint8_t* data) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_OBJECT)) printed(cv, print_object(cv.out.console, addr, length));
      break;
    case Mode::Check:
      charge(cv, 9u + length);
      break;
    case Mode::Convert: {
      // The image is most of a context file: its records are put together in place, field by
      // field as the OBJECT layout gives them, then the data bytes straight from the caller.
      static_assert(OBJECT_FIELDS[0].width == 2 && OBJECT_FIELDS[1].width == 4 &&
                    OBJECT_FIELDS[2].width == 2 && std::size(OBJECT_FIELDS) == 3);
      RecordBuffer& rec = start_record(cv, TAG_OBJECT);
      rec.put(mode_value, 2);
      rec.put(addr, 4);
      rec.put(length, 2);
      write_record(cv, cv.out.main);
      charge(cv, length);
      out_write(cv, cv.out.main, data, length);
      break;
    }
  }
  return 0;
}

int emit_module(Converter& cv, uint32_t modix, const char* name) {
  switch (mode(cv)) {
    case Mode::Dump:
      if (listed(cv, DUMP_MODULE)) printed(cv, print_module(cv.out.console, {modix, name}));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_MODULE), ModuleValue{modix, {}}, module_layout(), name);
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

int emit_addr_flag(Converter& cv, uint32_t addr, uint32_t flag) {
  switch (mode(cv)) {
    case Mode::Dump:
      printed(cv, print_addr_flag(cv.out.console, {addr, flag}));
      break;
    case Mode::Check:
      break;
    case Mode::Convert:
      encode_fields(start_record(cv, TAG_ADDRFLAG), AddrFlagValue{addr, flag}, addr_flag_layout(),
                    {});
      write_record(cv, cv.out.main);
      break;
  }
  return 0;
}

}  // namespace tek
