// Reading context files: their records in file order, each with its offset, tag, name and
// decoded fields, so that a program can walk a file without knowing the record layouts; and a
// check of a whole file's structure.
//
// The reader streams: from a path or a stream it holds at most a few records' worth of bytes,
// whatever the size of the file. A record that cannot be read is an Error at its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tekconv/expected.hpp"

namespace tekconv {

enum class FieldKind : uint8_t {
  Unsigned,  // a number, its stored bits unsigned
  Signed,    // a number, its stored 32 bits as two's complement
  String,    // a name: its bytes as stored
  Bytes,     // the data bytes of an OBJECT record
};

// One field of a record, in the order of the file.
struct ContextField {
  // "addr", "typeix", "name", "data", ...: the keys of ctxdump --json, listed in ctxdump(1).
  std::string_view name;
  FieldKind kind = FieldKind::Unsigned;
  uint32_t number = 0;         // Unsigned and Signed: the stored bits
  std::string text;            // String
  std::vector<uint8_t> bytes;  // Bytes
  // A type kind or storage class code, and its name ("STRUCT", "AUTO"); empty when the code
  // has no name.
  bool is_code = false;
  std::string_view code_name;

  // The number, sign-extended for a Signed field.
  int64_t value() const {
    return kind == FieldKind::Signed ? static_cast<int64_t>(static_cast<int32_t>(number))
                                     : static_cast<int64_t>(number);
  }
  bool operator==(const ContextField&) const = default;
};

struct ContextRecord {
  uint64_t offset = 0;    // of the tag byte
  size_t size = 0;        // bytes, tag included
  uint8_t tag = 0;        // the record's code
  std::string_view name;  // "HEADER", "PUBLIC", ..., "OBJECT": as the symbol dump names it
  std::vector<ContextField> fields;

  // The field of that name; nullptr when the record has none.
  const ContextField* field(std::string_view field_name) const;
  bool operator==(const ContextRecord&) const = default;
};

class ContextReader {
 public:
  // Opens the file at path; it is read through a buffer and closed with the reader. Throws
  // nothing: a file that cannot be opened is a System error, memory running out OutOfMemory.
  static Expected<ContextReader> open(const std::string& path);
  // A file held in memory; the bytes must outlive the reader. These constructors throw
  // std::bad_alloc when memory runs out, and nothing else.
  explicit ContextReader(std::span<const uint8_t> bytes);
  // A stream read from where it stands; it stays the caller's and open.
  explicit ContextReader(FILE* stream);
  explicit ContextReader(std::istream& stream);

  // A reader moved from may only be assigned to or destroyed.
  ContextReader(ContextReader&&) noexcept;
  ContextReader& operator=(ContextReader&&) noexcept;
  ~ContextReader();

  // The next record, valid until the next call; nullptr at the end of the file. A record that
  // cannot be read (an unknown tag, the file ending inside it) is a Malformed error at its
  // offset; reading stops there, and each further call gives the same error. A failed read is
  // a System error, memory running out OutOfMemory; it throws nothing.
  Expected<const ContextRecord*> next();

  // The record last read as the symbol dump lists it, without a line end; valid until the next
  // call. Throws std::bad_alloc when memory runs out, and nothing else.
  std::string_view listing();

  // Offset of the next record from where reading began.
  uint64_t offset() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  explicit ContextReader(std::unique_ptr<Impl> impl);
  friend struct ContextReaderAccess;
};

// One problem of a file's structure, at the offset of the record it concerns.
struct ContextProblem {
  uint64_t offset = 0;
  std::string text;
  bool operator==(const ContextProblem&) const = default;
};

struct ContextVerdict {
  std::vector<ContextProblem> problems;  // in file order
  size_t records = 0;                    // records read
  bool complete = true;      // false when reading stopped at a record that cannot be read
  uint64_t stop_offset = 0;  // where reading stopped (the file size when complete)
  uint64_t size = 0;         // bytes in the file
};

// Checks the structure of a whole file, read from where the reader stands: framing, the HEADER
// record first, the order of the main, local and type sections, the predefined types, the
// member counts of aggregates, selfix definitions, type references, modules and local scopes.
// A reader that can go back to its start (a path, memory, a seekable stream) is read twice, so
// that a reference may come before its definition; one that cannot (a pipe) is read once, with
// the same report. The Error is one of the input (a failed read) or memory running out; it
// throws nothing.
Expected<ContextVerdict> verify_context(ContextReader& reader);

}  // namespace tekconv
