// One description per context record tag: its value struct, name, stream, dump bit, layout and
// printer. The writer, the dump printer, the type index check and the reader of finished files
// all follow these descriptions; a tag that one of them forgets is a compile error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "format/ctx/dump.hpp"
#include "format/ctx/records.hpp"

namespace tek {

// The three output streams of a conversion; in a finished file, its three sections in this
// order.
enum class Stream : uint8_t { Main = 0, Local = 1, Type = 2 };

// Listed by every dump option.
constexpr uint32_t DUMP_ALWAYS = 0xFFFFFFFF;

template <class V>
struct RecordInfo;

// A record whose fields after the tag follow one fixed layout.
template <class V, Tag T, Stream S, uint32_t Bit, const auto& Fields>
struct FixedRecord {
  using Value = V;
  static constexpr Tag tag = T;
  static constexpr Stream stream = S;
  static constexpr uint32_t dump_bit = Bit;
  static Layout<V> layout(const V&) { return Fields; }
};

template <>
struct RecordInfo<HeaderValue>
    : FixedRecord<HeaderValue, TAG_HEADER, Stream::Main, DUMP_ALWAYS, HEADER_FIELDS> {
  static constexpr const char* name = "HEADER";
  static int print(FILE* f, const HeaderValue& v) { return print_header(f, v); }
};
template <>
struct RecordInfo<PublicValue>
    : FixedRecord<PublicValue, TAG_PUBLIC, Stream::Main, DUMP_PUBLIC, PUBLIC_FIELDS> {
  static constexpr const char* name = "PUBLIC";
  static int print(FILE* f, const PublicValue& v) { return print_public(f, v); }
};
template <>
struct RecordInfo<StartLocalValue>
    : FixedRecord<StartLocalValue, TAG_STARTLOCAL, Stream::Local, DUMP_SCOPE, STARTLOCAL_FIELDS> {
  static constexpr const char* name = "STARTLOCAL";
  static int print(FILE* f, const StartLocalValue& v) { return print_start_local(f, v.addr); }
};
template <>
struct RecordInfo<EndLocalValue>
    : FixedRecord<EndLocalValue, TAG_ENDLOCAL, Stream::Local, DUMP_SCOPE, ENDLOCAL_FIELDS> {
  static constexpr const char* name = "ENDLOCAL";
  static int print(FILE* f, const EndLocalValue& v) { return print_end_local(f, v.addr); }
};
template <>
struct RecordInfo<SetLocalValue>
    : FixedRecord<SetLocalValue, TAG_SETLOCAL, Stream::Local, DUMP_SETLOCAL, SETLOCAL_FIELDS> {
  static constexpr const char* name = "SETLOCAL";
  static int print(FILE* f, const SetLocalValue& v) { return print_set_local(f, v); }
};
template <>
struct RecordInfo<FileValue>
    : FixedRecord<FileValue, TAG_FILE, Stream::Main, DUMP_FILE, FILE_FIELDS> {
  static constexpr const char* name = "FILE";
  static int print(FILE* f, const FileValue& v) { return print_file(f, v.name); }
};
template <>
struct RecordInfo<EndLineValue>
    : FixedRecord<EndLineValue, TAG_ENDLINE, Stream::Main, DUMP_FILE, ENDLINE_FIELDS> {
  static constexpr const char* name = "ENDLINE";
  static int print(FILE* f, const EndLineValue& v) { return print_end_line(f, v.mode); }
};
template <>
struct RecordInfo<LineValue>
    : FixedRecord<LineValue, TAG_LINE, Stream::Main, DUMP_FILE, LINE_FIELDS> {
  static constexpr const char* name = "LINE";
  static int print(FILE* f, const LineValue& v) { return print_line(f, v); }
};
// TYPE: a common part (kind, selfix), then the fields of its kind.
template <>
struct RecordInfo<TypeValue> {
  using Value = TypeValue;
  static constexpr Tag tag = TAG_TYPE;
  static constexpr Stream stream = Stream::Type;
  static constexpr uint32_t dump_bit = DUMP_TYPE;
  static constexpr const char* name = "TYPE";
  static int print(FILE* f, const TypeValue& v) {
    return print_type_common(f, v.kind, v.selfix) + print_type_part(f, v);
  }
};
// MEMBER: the layout follows the kind of the TYPE record before it.
template <>
struct RecordInfo<MemberValue> {
  using Value = MemberValue;
  static constexpr Tag tag = TAG_MEMBER;
  static constexpr Stream stream = Stream::Type;
  static constexpr uint32_t dump_bit = DUMP_TYPE;
  static constexpr const char* name = "MEMBER";
  static Layout<MemberValue> layout(const MemberValue& v) { return member_layout(v.kind); }
  static int print(FILE* f, const MemberValue& v) {
    return print_member_label(f) + print_member_part(f, v.kind, v);
  }
};
// OBJECT: fixed fields, then `length` data bytes.
template <>
struct RecordInfo<ObjectValue>
    : FixedRecord<ObjectValue, TAG_OBJECT, Stream::Main, DUMP_OBJECT, OBJECT_FIELDS> {
  static constexpr const char* name = "OBJECT";
  static int print(FILE* f, const ObjectValue& v) { return print_object(f, v.addr, v.length); }
};
template <>
struct RecordInfo<ModuleValue>
    : FixedRecord<ModuleValue, TAG_MODULE, Stream::Main, DUMP_MODULE, MODULE_FIELDS> {
  static constexpr const char* name = "MODULE";
  static int print(FILE* f, const ModuleValue& v) { return print_module(f, v); }
};
template <>
struct RecordInfo<AddrFlagValue>
    : FixedRecord<AddrFlagValue, TAG_ADDRFLAG, Stream::Main, DUMP_ALWAYS, ADDRFLAG_FIELDS> {
  static constexpr const char* name = "ADDRFLAG";
  static int print(FILE* f, const AddrFlagValue& v) { return print_addr_flag(f, v); }
};

// Every record, in tag order.
using AllRecords = std::tuple<HeaderValue, PublicValue, StartLocalValue, EndLocalValue,
                              SetLocalValue, FileValue, EndLineValue, LineValue, TypeValue,
                              MemberValue, ObjectValue, ModuleValue, AddrFlagValue>;
constexpr size_t RECORD_KINDS = std::tuple_size_v<AllRecords>;

// Calls f.template operator()<V>() for the value type V of every record.
template <class F>
constexpr void for_each_record(F&& f) {
  [&]<size_t... I>(std::index_sequence<I...>) {
    (f.template operator()<std::tuple_element_t<I, AllRecords>>(), ...);
  }
  (std::make_index_sequence<RECORD_KINDS>{});
}

// Calls f.template operator()<V>() for the value type of tag; returns false for a tag that the
// format does not define. One indexed call, whatever the tag.
template <class F>
bool visit_tag(uint8_t tag, F&& f) {
  using Visitor = std::remove_reference_t<F>;
  using Call = void (*)(Visitor&);
  static constexpr std::array<Call, 256> calls = [] {
    std::array<Call, 256> t{};
    for_each_record(
        [&]<class V>() { t[RecordInfo<V>::tag] = [](Visitor& v) { v.template operator()<V>(); }; });
    return t;
  }();
  const Call call = calls[tag];
  if (!call) return false;
  call(f);
  return true;
}

// The name in a value that has one.
template <class V>
std::string_view name_of(const V& v) {
  if constexpr (requires { v.name; })
    return v.name;
  else
    return {};
}

// Encodes a record without OBJECT data bytes, tag first, into b.
template <class V>
void encode_record(RecordBuffer& b, const V& v) {
  b.size = 0;
  b.put(RecordInfo<V>::tag, 1);
  if constexpr (std::is_same_v<V, TypeValue>) {
    encode_fields(b, v, type_common_layout(), {});
    encode_fields(b, v, type_layout(v.kind), v.name);
  } else {
    encode_fields(b, v, RecordInfo<V>::layout(v), name_of(v));
  }
}

// Decodes the fields after the tag at pos (OBJECT data bytes not included; MEMBER takes its
// kind from v.kind). False when the bytes end first.
template <class V>
bool decode_record(std::span<const uint8_t> bytes, size_t& pos, V& v) {
  std::string* name = nullptr;
  if constexpr (requires { v.name; }) name = &v.name;
  if constexpr (std::is_same_v<V, TypeValue>) {
    if (!decode_fields(bytes, pos, v, type_common_layout(), nullptr)) return false;
    return decode_fields(bytes, pos, v, type_layout(v.kind), name);
  } else {
    return decode_fields(bytes, pos, v, RecordInfo<V>::layout(v), name);
  }
}

// The facts of a tag at run time.
struct TagRow {
  uint8_t tag;
  const char* name;
  Stream stream;
  uint32_t dump_bit;
};
// One row per record, in tag order; nullptr when the format does not define the tag.
const TagRow* tag_row(uint8_t tag);

}  // namespace tek
