// Reading finished context files: stepping over the records of a file and listing them in the
// symbol dump's line formats.
//
// A context file has no lengths or counts to step by: each record's size follows from its tag,
// its name length bytes and, for MEMBER, the kind of the TYPE record before it. The reader
// follows the record descriptions of tags.hpp, so that the writer and the reader share one
// definition and a new record needs no edit here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "format/ctx/tags.hpp"

namespace tek {

// The longest record: OBJECT, 9 bytes of fields and up to 65535 data bytes.
constexpr size_t MAX_RECORD_SIZE = 9 + 0xFFFF;

// One record read from a context file. Only the value that belongs to the tag is filled.
struct CtxRecord {
  size_t offset = 0;  // of the tag byte
  size_t size = 0;    // bytes, tag included
  uint8_t tag = 0;
  AllRecords values;

  template <class V>
  V& value() {
    return std::get<V>(values);
  }
  template <class V>
  const V& value() const {
    return std::get<V>(values);
  }
};

enum class CtxStep {
  Record,      // a record was read
  End,         // the file ends at a record boundary
  UnknownTag,  // the byte at pos is no record tag; the rest cannot be framed
  CutShort,    // the record at pos runs past the end of the file
};

// Bytes read in order from a descriptor, a stdio stream, ...
struct CtxSource {
  // Reads up to n bytes into p; returns 0 at the end. A failure throws std::system_error.
  std::function<size_t(uint8_t* p, size_t n)> read;
  // Back to where reading began; false when that fails. Empty when the source cannot be seeked.
  std::function<bool()> rewind;
};

// Steps through the records of a context file, held in memory or read from a source through a
// buffer of two records' size, so that memory stays bounded on any input. A failed read throws
// std::system_error.
class CtxReader {
 public:
  explicit CtxReader(std::span<const uint8_t> bytes);
  // Reads fd from its current offset; the descriptor stays the caller's.
  explicit CtxReader(int fd);
  explicit CtxReader(CtxSource source);

  // Reads the record at the position. On anything but Record the position stays at the record
  // that could not be read (rec.offset and rec.tag name it). OBJECT data stays valid until the
  // next call.
  CtxStep read(CtxRecord& rec);

  // Offset of the next record from where reading began.
  size_t pos() const { return base_ + at_; }
  // Bytes held from the position on; after CutShort, all that the file has left.
  size_t buffered() const { return end_ - at_; }
  // Whether the input can be read again from its start (a pipe cannot).
  bool can_rewind() const { return !streamed_ || static_cast<bool>(source_.rewind); }
  // Back to the start, for another reading; false when the input cannot be seeked.
  bool rewind();
  // Reads to the end of the input; returns its size.
  size_t drain();

 private:
  // Makes at least n bytes available from the position, or all that the input has left.
  void fill(size_t n);
  template <class V>
  size_t decode(V& v) const;

  const uint8_t* data_;
  size_t at_ = 0;          // the position in data_
  size_t end_ = 0;         // end of the bytes held in data_
  size_t base_ = 0;        // file offset of data_[0]
  bool streamed_ = false;  // read from source_, not held whole
  CtxSource source_;
  bool eof_ = true;
  std::vector<uint8_t> buffer_;
  uint8_t last_kind_ = 0;  // kind of the latest TYPE record read; selects the MEMBER layout
};

inline CtxStep read_record(CtxReader& r, CtxRecord& rec) {
  return r.read(rec);
}

// True for the tags that the format defines.
bool known_tag(uint8_t tag);
// The record's name, as in the dump lines: "HEADER", "PUBLIC", ..., "OBJECT"; "?" if unknown.
const char* tag_name(uint8_t tag);
// The section of a finished file that holds the records of a tag: the stream they were
// written to.
Stream stream_of(uint8_t tag);
const char* stream_name(Stream s);

// Calls f(field) for each field of a record value in file order (for TYPE the common part,
// then the fields of its kind).
template <class V, class F>
void for_each_field(const V& v, F&& f) {
  if constexpr (std::is_same_v<V, TypeValue>) {
    for (const Field<V>& field : type_common_layout()) f(field);
    for (const Field<V>& field : type_layout(v.kind)) f(field);
  } else {
    for (const Field<V>& field : RecordInfo<V>::layout(v)) f(field);
  }
}

// Calls f(value) with the value of the record's tag, of its own type.
template <class F>
void visit_record(const CtxRecord& rec, F&& f) {
  visit_tag(rec.tag, [&]<class V>() { f(rec.value<V>()); });
}

// Prints a record as the symbol dump prints it: one line beginning with "\n", no line end.
void print_record(FILE* f, const CtxRecord& rec);

// One problem found in a file, at the offset of the record it concerns.
struct CtxProblem {
  size_t offset = 0;
  std::string text;
};

// The problem of a record that the reader could not read (UnknownTag or CutShort).
CtxProblem framing_problem(CtxStep step, const CtxRecord& rec, const CtxReader& r);

}  // namespace tek
