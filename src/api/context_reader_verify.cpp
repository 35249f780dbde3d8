#include <errno.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "api/context_reader_impl.hpp"
#include "format/ctx/ctxfile.hpp"
#include "format/ctx/dump.hpp"
#include "format/ctx/kinds.hpp"
#include "tekconv/context_reader.hpp"

namespace tekconv {

namespace {

using namespace tek;

bool has_members(uint32_t kind) {
  return !member_layout(kind).empty();
}

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08" PRIx32, v);
  return buf;
}

// A file offset as the diagnostics locate problems: "0x1a4".
std::string hex_offset(size_t offset) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%zx", offset);
  return buf;
}

// A name as stored, in brackets; control characters as \xNN, so that a damaged name keeps its
// problem on one line and cannot drive the terminal.
std::string bracketed(std::string_view name) {
  std::string s = "[";
  for (const char ch : record_name(name)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      s += esc;
    } else {
      s += ch;
    }
  }
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

// The fields that hold the selfix of another type.
template <class V>
bool refers_to_type(const Field<V>& f) {
  if constexpr (requires { &V::typeix; })
    if (f.member == &V::typeix) return true;
  if constexpr (requires { &V::retix; })
    if (f.member == &V::retix) return true;
  return false;
}

// The checks of one file, fed with its records in order.
struct Verifier {
  // Where each selfix is first defined, and the modix of every MODULE record: all of the file's
  // after a first reading, else those read so far.
  std::unordered_map<uint32_t, size_t> first_type;
  std::unordered_set<uint32_t> modules;
  bool read_twice = false;
  bool complete = true;  // known at the start when read twice, else at the end

  std::vector<ContextProblem> problems;

  // A reference to a type or module not defined where it was read: a problem held in place
  // (for the order of the report) and judged at the end.
  struct Held {
    size_t problem;  // index in problems
    uint32_t index;  // selfix or modix
    bool module;
  };
  std::vector<Held> held;

  // Section order.
  bool any_record = false;
  Stream reached = Stream::Main;
  Stream previous = Stream::Main;

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

  // The definitions, gathered on the first of two readings or as the records come.
  void learn(const CtxRecord& rec) {
    if (rec.tag == TAG_TYPE) first_type.try_emplace(rec.value<TypeValue>().selfix, rec.offset);
    if (rec.tag == TAG_MODULE) modules.insert(rec.value<ModuleValue>().modix);
  }

  void check_header(const CtxRecord& rec) {
    if (!any_record && rec.tag != TAG_HEADER)
      report(rec.offset, std::string("the file begins with a ") + tag_name(rec.tag) +
                             " record, not with a HEADER record");
  }

  void check_section(const CtxRecord& rec) {
    Stream s = stream_of(rec.tag);
    if (any_record && s < reached && s != previous)
      report(rec.offset, std::string(tag_name(rec.tag)) + " record of the " + stream_name(s) +
                             " section after records of the " + stream_name(reached) + " section");
    if (s > reached) reached = s;
    previous = s;
    any_record = true;
  }

  void check_predefined(const CtxRecord& rec) {
    if (stream_of(rec.tag) == Stream::Type) type_section_seen = true;
    if (!type_section_seen || predefined_reported || type_section_records >= PREDEFINED_COUNT)
      return;
    const size_t i = type_section_records++;
    const uint32_t selfix = PREDEFINED_FIRST + static_cast<uint32_t>(i);
    const uint8_t kind = PREDEFINED_KINDS[i];
    if (rec.tag == TAG_TYPE && rec.value<TypeValue>().selfix == selfix &&
        rec.value<TypeValue>().kind == kind)
      return;
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
      counted_type = rec.value<TypeValue>();
      members_seen = 0;
    }
  }

  void check_selfix(const CtxRecord& rec) {
    if (rec.tag != TAG_TYPE) return;
    const TypeValue& t = rec.value<TypeValue>();
    if (kind_info(t.kind).cls == KindClass::Unknown) {
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

  // The record that refers to a type, as the problem names it.
  template <class V>
  std::string referrer(const V& v, const Field<V>&) const {
    // Appended in place: GCC 12 at -O3 takes " " + a temporary for an overlapping copy.
    std::string text(tag_name(RecordInfo<V>::tag));
    text.append(" ").append(bracketed(name_of(v)));
    return text;
  }
  std::string referrer(const TypeValue& t, const Field<TypeValue>& f) const {
    return type_label(t.kind, t.selfix) + (f.member == &TypeValue::retix ? " retix" : "");
  }
  std::string referrer(const MemberValue& m, const Field<MemberValue>&) const {
    return "MEMBER " + bracketed(m.name) + " of " +
           (counting ? type_label(counted_type.kind, counted_type.selfix)
                     : std::string("a ") + kind_name(static_cast<uint8_t>(m.kind)));
  }

  // A problem whose text is finished when it is judged.
  void hold(size_t offset, std::string who, uint32_t index, bool module) {
    report(offset, std::move(who));
    held.push_back({problems.size() - 1, index, module});
  }

  // A type reference must name a selfix that some TYPE record of the file defines.
  void check_refs(const CtxRecord& rec) {
    visit_record(rec, [&]<class V>(const V& v) {
      for_each_field(v, [&](const Field<V>& f) {
        if (!refers_to_type(f)) return;
        const uint32_t typeix = v.*f.member;
        if (!first_type.count(typeix)) hold(rec.offset, referrer(v, f), typeix, false);
      });
    });
  }

  // A PUBLIC record's modix must name a MODULE record somewhere in the main section. Not
  // necessarily before it: a debug unit may select a unit whose UNIT record comes later.
  void check_module(const CtxRecord& rec) {
    if (rec.tag != TAG_PUBLIC) return;
    const PublicValue& p = rec.value<PublicValue>();
    if (!modules.count(p.modix))
      hold(rec.offset, "PUBLIC " + bracketed(p.name) + " names module " + hex8(p.modix), p.modix,
           true);
  }

  // Each ENDLOCAL closes the latest STARTLOCAL still open, at an address not below its start.
  void check_scope(const CtxRecord& rec) {
    if (rec.tag == TAG_STARTLOCAL) {
      scope_open = true;
      scope_offset = rec.offset;
      scope_addr = rec.value<StartLocalValue>().addr;
    } else if (rec.tag == TAG_ENDLOCAL) {
      const uint32_t addr = rec.value<EndLocalValue>().addr;
      if (!scope_open)
        report(rec.offset, "ENDLOCAL " + hex8(addr) + " with no open STARTLOCAL before it");
      else if (addr < scope_addr)
        report(rec.offset, "ENDLOCAL " + hex8(addr) + " lies below its STARTLOCAL " +
                               hex8(scope_addr) + " (offset " + hex_offset(scope_offset) + ")");
      scope_open = false;
    }
  }

  void check(const CtxRecord& rec) {
    check_header(rec);
    check_section(rec);
    check_predefined(rec);
    check_members(rec);
    check_selfix(rec);
    check_refs(rec);
    check_module(rec);
    check_scope(rec);
    if (!read_twice) learn(rec);
  }

  // Judges the held references: a type is undefined only when the whole file could be read.
  void judge_held() {
    for (const Held& h : held) {
      std::string& text = problems[h.problem].text;
      if (h.module) {
        if (modules.count(h.index))
          text.clear();
        else
          text += complete ? ", which no MODULE record defines"
                           : ", which no MODULE record before the break defines";
      } else if (!complete || first_type.count(h.index)) {
        text.clear();
      } else {
        text += " refers to undefined type index " + hex8(h.index);
      }
    }
    std::erase_if(problems, [](const ContextProblem& p) { return p.text.empty(); });
  }

  // Checks that need the whole file, at its end.
  void finish(size_t end) {
    judge_held();
    if (!complete) return;
    close_count();
    if (!type_section_seen)
      report(end, "no type section: the 16 predefined types are missing");
    else if (!predefined_reported && type_section_records < PREDEFINED_COUNT)
      report(end, "the file ends after " + std::to_string(type_section_records) +
                      " of the 16 predefined types");
  }
};

// The whole check, on the records of a reader from where it stands.
ContextVerdict verify(CtxReader& reader) {
  Verifier v;
  ContextVerdict verdict;
  CtxRecord rec;
  CtxStep step;

  if (reader.can_rewind()) {
    // First reading: where each selfix and each module is defined.
    while ((step = reader.read(rec)) == CtxStep::Record) v.learn(rec);
    if (!reader.rewind()) throw std::system_error(errno, std::generic_category());
    v.read_twice = true;
  }

  while ((step = reader.read(rec)) == CtxStep::Record) {
    ++verdict.records;
    v.check(rec);
  }
  v.complete = step == CtxStep::End;
  verdict.stop_offset = reader.pos();
  if (!v.complete) {
    CtxProblem p = framing_problem(step, rec, reader);
    v.problems.push_back({p.offset, std::move(p.text)});
  }
  verdict.size = reader.drain();
  v.finish(verdict.size);

  // A member count is judged when its MEMBER records have been read, but reported at its TYPE.
  std::stable_sort(
      v.problems.begin(), v.problems.end(),
      [](const ContextProblem& a, const ContextProblem& b) { return a.offset < b.offset; });
  verdict.problems = std::move(v.problems);
  verdict.complete = v.complete;
  return verdict;
}

}  // namespace

Expected<ContextVerdict> verify_context(ContextReader& reader) {
  try {
    return verify(ContextReaderAccess::reader(reader));
  } catch (const std::system_error& e) {
    return reading_error(e);
  } catch (const std::bad_alloc&) {
    return memory_error();
  }
}

}  // namespace tekconv
