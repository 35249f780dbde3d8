#include "format/ctx/ctxfile.hpp"

#include <algorithm>
#include <cinttypes>
#include <unordered_map>
#include <unordered_set>

#include "format/ctx/dump.hpp"

namespace tek {

namespace {

// Decodes a fresh value, so that no field keeps what an earlier record held.
template <class V>
bool decode_value(const CtxReader& r, size_t& pos, V& v, Layout<V> layout, std::string* name) {
  v = V{};
  return decode_fields(r.bytes, pos, v, layout, name);
}

bool decode_type(const CtxReader& r, size_t& pos, TypeValue& v) {
  v = TypeValue{};
  if (!decode_fields(r.bytes, pos, v, type_common_layout(), nullptr)) return false;
  return decode_fields(r.bytes, pos, v, type_layout(v.kind), &v.name);
}

bool decode_object(const CtxReader& r, size_t& pos, ObjectValue& v) {
  if (!decode_value(r, pos, v, object_layout(), nullptr)) return false;
  if (r.bytes.size() - pos < v.length) return false;
  v.data = r.bytes.subspan(pos, v.length);
  pos += v.length;
  return true;
}

bool has_members(uint32_t kind) {
  return !member_layout(kind).empty();
}

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08" PRIx32, v);
  return buf;
}

std::string hex_offset(size_t offset) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08zx", offset);
  return buf;
}

std::string bracketed(const std::string& name) {
  std::string s = "[";
  s += record_name(name);
  s += ']';
  return s;
}

// "TYPE 00000122 (STRUCT)": a TYPE record named by its selfix and kind.
std::string type_label(uint32_t kind, uint32_t selfix) {
  return "TYPE " + hex8(selfix) + " (" + kind_name(static_cast<uint8_t>(kind)) + ")";
}

// "1 MEMBER record follows", "2 MEMBER records follow".
std::string members_follow(uint64_t n) {
  return std::to_string(n) + (n == 1 ? " MEMBER record follows" : " MEMBER records follow");
}

// The checks of one file, fed with its records in order by verify_ctx.
struct Verifier {
  // Gathered by a first reading of the whole file.
  std::unordered_map<uint32_t, size_t> first_type;  // selfix -> offset of its first TYPE
  std::unordered_set<uint32_t> modules;             // modix of every MODULE record
  bool complete = true;

  std::vector<CtxProblem> problems;

  // Section order.
  bool any_record = false;
  Section reached = SECTION_MAIN;
  Section previous = SECTION_MAIN;

  // The predefined types at the start of the type section.
  bool type_section_seen = false;
  size_t type_section_records = 0;
  bool predefined_reported = false;

  // The TYPE record whose MEMBER records are being counted.
  bool counting = false;
  size_t count_offset = 0;
  TypeValue counted_type;
  uint64_t members_seen = 0;
  bool stray_members = false;  // inside a run of MEMBER records that follow no TYPE record

  // The latest STARTLOCAL not yet closed by an ENDLOCAL.
  bool scope_open = false;
  size_t scope_offset = 0;
  uint32_t scope_addr = 0;

  void report(size_t offset, std::string text) { problems.push_back({offset, std::move(text)}); }

  void check_section(const CtxRecord& rec) {
    Section s = section_of(rec.tag);
    if (any_record && s < reached && s != previous)
      report(rec.offset, std::string(tag_name(rec.tag)) + " record of the " + section_name(s) +
                             " section after records of the " + section_name(reached) + " section");
    if (s > reached) reached = s;
    previous = s;
    any_record = true;
  }

  void check_predefined(const CtxRecord& rec) {
    if (section_of(rec.tag) == SECTION_TYPE) type_section_seen = true;
    if (!type_section_seen || predefined_reported || type_section_records >= PREDEFINED_COUNT)
      return;
    const size_t i = type_section_records++;
    const uint32_t selfix = PREDEFINED_FIRST + static_cast<uint32_t>(i);
    const uint8_t kind = PREDEFINED_KINDS[i];
    if (rec.tag == TAG_TYPE && rec.type.selfix == selfix && rec.type.kind == kind) return;
    predefined_reported = true;
    report(rec.offset, "type section does not begin with the 16 predefined types: expected " +
                           type_label(kind, selfix) + " here");
  }

  void close_count() {
    if (!counting) return;
    counting = false;
    const TypeValue& t = counted_type;
    if (has_members(t.kind)) {
      if (members_seen != t.count)
        report(count_offset, type_label(t.kind, t.selfix) + " has a count of " +
                                 std::to_string(t.count) + ", but " + members_follow(members_seen));
    } else if (members_seen != 0) {
      report(count_offset,
             type_label(t.kind, t.selfix) + " has no members, but " + members_follow(members_seen));
    }
  }

  void check_members(const CtxRecord& rec) {
    if (rec.tag == TAG_MEMBER) {
      if (counting) {
        ++members_seen;
      } else if (!stray_members) {
        stray_members = true;
        report(rec.offset, "MEMBER record that follows no TYPE record");
      }
      return;
    }
    close_count();
    stray_members = false;
    if (rec.tag == TAG_TYPE) {
      counting = true;
      count_offset = rec.offset;
      counted_type = rec.type;
      members_seen = 0;
    }
  }

  void check_selfix(const CtxRecord& rec) {
    if (rec.tag != TAG_TYPE) return;
    const TypeValue& t = rec.type;
    if (t.kind == 0 || t.kind > K_CLASS) {
      char buf[80];
      std::snprintf(buf, sizeof buf,
                    "TYPE %08" PRIx32 " of undefined kind %02" PRIx32 ", read without kind fields",
                    t.selfix, t.kind);
      report(rec.offset, buf);
    }
    auto first = first_type.find(t.selfix);
    if (first != first_type.end() && first->second != rec.offset)
      report(rec.offset, "selfix " + hex8(t.selfix) + " defined again (first at offset " +
                             hex_offset(first->second) + ")");
  }

  // A type reference must name a selfix that some TYPE record of the file defines.
  void check_ref(const CtxRecord& rec, const std::string& who, uint32_t typeix) {
    if (!complete || first_type.count(typeix)) return;
    report(rec.offset, who + " refers to undefined type index " + hex8(typeix));
  }

  void check_refs(const CtxRecord& rec) {
    switch (rec.tag) {
      case TAG_PUBLIC:
        check_ref(rec, "PUBLIC " + bracketed(rec.pub.name), rec.pub.typeix);
        break;
      case TAG_SETLOCAL:
        check_ref(rec, "SETLOCAL " + bracketed(rec.set_local.name), rec.set_local.typeix);
        break;
      case TAG_TYPE:
        if (refers_by_retix(rec.type.kind))
          check_ref(rec, type_label(rec.type.kind, rec.type.selfix) + " retix", rec.type.retix);
        if (refers_by_typeix(rec.type.kind))
          check_ref(rec, type_label(rec.type.kind, rec.type.selfix), rec.type.typeix);
        break;
      case TAG_MEMBER:
        if (members_refer_to_types(rec.member.kind))
          check_ref(rec,
                    "MEMBER " + bracketed(rec.member.name) + " of " +
                        (counting ? type_label(counted_type.kind, counted_type.selfix)
                                  : std::string("a ") + kind_name(rec.member.kind)),
                    rec.member.typeix);
        break;
      default:
        break;
    }
  }

  // A PUBLIC record's modix must name a MODULE record somewhere in the main section. Not
  // necessarily before it: a debug unit may select a unit whose UNIT record comes later.
  void check_module(const CtxRecord& rec) {
    if (rec.tag != TAG_PUBLIC || modules.count(rec.pub.modix)) return;
    std::string who = "PUBLIC " + bracketed(rec.pub.name) + " names module " + hex8(rec.pub.modix);
    if (complete)
      report(rec.offset, who + ", which no MODULE record defines");
    else
      report(rec.offset, who + ", which no MODULE record before the break defines");
  }

  // Each ENDLOCAL closes the latest STARTLOCAL still open, at an address not below its start.
  void check_scope(const CtxRecord& rec) {
    if (rec.tag == TAG_STARTLOCAL) {
      scope_open = true;
      scope_offset = rec.offset;
      scope_addr = rec.start_local.addr;
    } else if (rec.tag == TAG_ENDLOCAL) {
      if (!scope_open)
        report(rec.offset,
               "ENDLOCAL " + hex8(rec.end_local.addr) + " with no open STARTLOCAL before it");
      else if (rec.end_local.addr < scope_addr)
        report(rec.offset, "ENDLOCAL " + hex8(rec.end_local.addr) + " lies below its STARTLOCAL " +
                               hex8(scope_addr) + " (offset " + hex_offset(scope_offset) + ")");
      scope_open = false;
    }
  }

  void check(const CtxRecord& rec) {
    check_section(rec);
    check_predefined(rec);
    check_members(rec);
    check_selfix(rec);
    check_refs(rec);
    check_module(rec);
    check_scope(rec);
  }

  // Checks that need the whole file, at its end.
  void finish(size_t end) {
    if (!complete) return;
    close_count();
    if (!type_section_seen)
      report(end, "no type section: the 16 predefined types are missing");
    else if (!predefined_reported && type_section_records < PREDEFINED_COUNT)
      report(end, "the file ends after " + std::to_string(type_section_records) +
                      " of the 16 predefined types");
  }
};

}  // namespace

bool known_tag(uint8_t tag) {
  switch (tag) {
    case TAG_HEADER:
    case TAG_PUBLIC:
    case TAG_STARTLOCAL:
    case TAG_ENDLOCAL:
    case TAG_SETLOCAL:
    case TAG_FILE:
    case TAG_ENDLINE:
    case TAG_LINE:
    case TAG_TYPE:
    case TAG_MEMBER:
    case TAG_OBJECT:
    case TAG_MODULE:
    case TAG_ADDRFLAG:
      return true;
    default:
      return false;
  }
}

const char* tag_name(uint8_t tag) {
  switch (tag) {
    case TAG_HEADER:
      return "HEADER";
    case TAG_PUBLIC:
      return "PUBLIC";
    case TAG_STARTLOCAL:
      return "STARTLOCAL";
    case TAG_ENDLOCAL:
      return "ENDLOCAL";
    case TAG_SETLOCAL:
      return "SETLOCAL";
    case TAG_FILE:
      return "FILE";
    case TAG_ENDLINE:
      return "ENDLINE";
    case TAG_LINE:
      return "LINE";
    case TAG_TYPE:
      return "TYPE";
    case TAG_MEMBER:
      return "MEMBER";
    case TAG_OBJECT:
      return "OBJECT";
    case TAG_MODULE:
      return "MODULE";
    case TAG_ADDRFLAG:
      return "ADDRFLAG";
    default:
      return "?";
  }
}

Section section_of(uint8_t tag) {
  switch (tag) {
    case TAG_STARTLOCAL:
    case TAG_ENDLOCAL:
    case TAG_SETLOCAL:
      return SECTION_LOCAL;
    case TAG_TYPE:
    case TAG_MEMBER:
      return SECTION_TYPE;
    default:
      return SECTION_MAIN;
  }
}

const char* section_name(Section s) {
  switch (s) {
    case SECTION_LOCAL:
      return "local";
    case SECTION_TYPE:
      return "type";
    default:
      return "main";
  }
}

CtxStep read_record(CtxReader& r, CtxRecord& rec) {
  rec.offset = r.pos;
  rec.size = 0;
  if (r.pos >= r.bytes.size()) return CtxStep::End;
  rec.tag = r.bytes[r.pos];
  if (!known_tag(rec.tag)) return CtxStep::UnknownTag;

  size_t pos = r.pos + 1;
  bool ok = false;
  switch (rec.tag) {
    case TAG_HEADER:
      ok = decode_value(r, pos, rec.header, header_layout(), nullptr);
      break;
    case TAG_PUBLIC:
      ok = decode_value(r, pos, rec.pub, public_layout(), &rec.pub.name);
      break;
    case TAG_STARTLOCAL:
      ok = decode_value(r, pos, rec.start_local, start_local_layout(), nullptr);
      break;
    case TAG_ENDLOCAL:
      ok = decode_value(r, pos, rec.end_local, end_local_layout(), nullptr);
      break;
    case TAG_SETLOCAL:
      ok = decode_value(r, pos, rec.set_local, set_local_layout(), &rec.set_local.name);
      break;
    case TAG_FILE:
      ok = decode_value(r, pos, rec.file, file_layout(), &rec.file.name);
      break;
    case TAG_ENDLINE:
      ok = decode_value(r, pos, rec.end_line, end_line_layout(), nullptr);
      break;
    case TAG_LINE:
      ok = decode_value(r, pos, rec.line, line_layout(), nullptr);
      break;
    case TAG_TYPE:
      ok = decode_type(r, pos, rec.type);
      break;
    case TAG_MEMBER:
      ok = decode_value(r, pos, rec.member, member_layout(r.last_kind), &rec.member.name);
      rec.member.kind = r.last_kind;
      break;
    case TAG_OBJECT:
      ok = decode_object(r, pos, rec.object);
      break;
    case TAG_MODULE:
      ok = decode_value(r, pos, rec.module, module_layout(), &rec.module.name);
      break;
    case TAG_ADDRFLAG:
      ok = decode_value(r, pos, rec.addr_flag, addr_flag_layout(), nullptr);
      break;
  }
  if (!ok) return CtxStep::CutShort;
  // Like the writer, the kind is remembered for the MEMBER records that follow.
  if (rec.tag == TAG_TYPE) r.last_kind = static_cast<uint8_t>(rec.type.kind);
  rec.size = pos - r.pos;
  r.pos = pos;
  return CtxStep::Record;
}

CtxProblem framing_problem(CtxStep step, const CtxRecord& rec, size_t file_size) {
  char buf[120];
  if (step == CtxStep::UnknownTag)
    std::snprintf(buf, sizeof buf, "unknown record tag %02x; the rest of the file cannot be read",
                  rec.tag);
  else
    std::snprintf(buf, sizeof buf, "%s record cut short by the end of the file (%zu bytes left)",
                  tag_name(rec.tag), file_size - rec.offset);
  return {rec.offset, buf};
}

void print_record(FILE* f, const CtxRecord& rec) {
  switch (rec.tag) {
    case TAG_HEADER:
      print_header(f, rec.header);
      break;
    case TAG_PUBLIC:
      print_public(f, rec.pub);
      break;
    case TAG_STARTLOCAL:
      print_start_local(f, rec.start_local.addr);
      break;
    case TAG_ENDLOCAL:
      print_end_local(f, rec.end_local.addr);
      break;
    case TAG_SETLOCAL:
      print_set_local(f, rec.set_local);
      break;
    case TAG_FILE:
      print_file(f, rec.file.name);
      break;
    case TAG_ENDLINE:
      print_end_line(f, rec.end_line.mode);
      break;
    case TAG_LINE:
      print_line(f, rec.line);
      break;
    case TAG_TYPE:
      print_type_common(f, rec.type.kind, rec.type.selfix);
      print_type_part(f, rec.type);
      break;
    case TAG_MEMBER:
      print_member_label(f);
      print_member_part(f, rec.member.kind, rec.member);
      break;
    case TAG_OBJECT:
      print_object(f, rec.object.addr, rec.object.length);
      break;
    case TAG_MODULE:
      print_module(f, rec.module);
      break;
    case TAG_ADDRFLAG:
      print_addr_flag(f, rec.addr_flag);
      break;
  }
}

CtxVerdict verify_ctx(std::span<const uint8_t> bytes) {
  Verifier v;
  CtxVerdict verdict;
  CtxRecord rec;

  // First reading: where each selfix and each module is defined, and whether the whole file
  // can be read.
  CtxReader first{bytes};
  CtxStep step;
  while ((step = read_record(first, rec)) == CtxStep::Record) {
    if (rec.tag == TAG_TYPE) v.first_type.try_emplace(rec.type.selfix, rec.offset);
    if (rec.tag == TAG_MODULE) v.modules.insert(rec.module.modix);
  }
  v.complete = step == CtxStep::End;

  CtxReader second{bytes};
  while ((step = read_record(second, rec)) == CtxStep::Record) {
    ++verdict.records;
    v.check(rec);
  }
  if (step != CtxStep::End) v.problems.push_back(framing_problem(step, rec, bytes.size()));
  v.finish(bytes.size());

  // A member count is judged when its MEMBER records have been read, but reported at its TYPE.
  std::stable_sort(v.problems.begin(), v.problems.end(),
                   [](const CtxProblem& a, const CtxProblem& b) { return a.offset < b.offset; });
  verdict.problems = std::move(v.problems);
  verdict.complete = v.complete;
  verdict.stop_offset = second.pos;
  return verdict;
}

}  // namespace tek
