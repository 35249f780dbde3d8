// Reading finished context files: stepping over the records of a file, listing them in the
// symbol dump's line formats, and checking the file's structure.
//
// A context file has no lengths or counts to step by: each record's size follows from its tag,
// its name length bytes and, for MEMBER, the kind of the TYPE record before it. The reader uses
// the record layouts of records.hpp, so that the writer and the reader share one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "format/ctx/records.hpp"

namespace tek {

// One record read from a context file. Only the value that belongs to the tag is filled.
struct CtxRecord {
  size_t offset = 0;  // of the tag byte
  size_t size = 0;    // bytes, tag included
  uint8_t tag = 0;
  HeaderValue header;
  PublicValue pub;
  StartLocalValue start_local;
  EndLocalValue end_local;
  SetLocalValue set_local;
  FileValue file;
  EndLineValue end_line;
  LineValue line;
  TypeValue type;
  MemberValue member;
  ObjectValue object;
  ModuleValue module;
  AddrFlagValue addr_flag;
};

// Steps through the bytes of a context file, one record at a time.
struct CtxReader {
  std::span<const uint8_t> bytes;
  size_t pos = 0;
  uint8_t last_kind = 0;  // kind of the latest TYPE record read; selects the MEMBER layout
};

enum class CtxStep {
  Record,      // a record was read
  End,         // the file ends at a record boundary
  UnknownTag,  // the byte at pos is no record tag; the rest cannot be framed
  CutShort,    // the record at pos runs past the end of the file
};

// Reads the record at the reader's position. On anything but Record the position stays at the
// record that could not be read (rec.offset and rec.tag name it).
CtxStep read_record(CtxReader& r, CtxRecord& rec);

// True for the tags that the format defines.
bool known_tag(uint8_t tag);
// The record's name, as in the dump lines: "HEADER", "PUBLIC", ..., "OBJECT".
const char* tag_name(uint8_t tag);

// The three sections of a finished file, in their order.
enum Section : uint8_t { SECTION_MAIN = 0, SECTION_LOCAL = 1, SECTION_TYPE = 2 };
Section section_of(uint8_t tag);
const char* section_name(Section s);

// Prints a record as the symbol dump prints it: one line beginning with "\n", no line end.
void print_record(FILE* f, const CtxRecord& rec);

// One problem found in a file, at the offset of the record it concerns.
struct CtxProblem {
  size_t offset = 0;
  std::string text;
};

// The problem of a record that read_record could not read (UnknownTag or CutShort).
CtxProblem framing_problem(CtxStep step, const CtxRecord& rec, size_t file_size);

struct CtxVerdict {
  std::vector<CtxProblem> problems;  // in file order
  size_t records = 0;                // records read
  bool complete = true;              // false when reading stopped before the end of the file
  size_t stop_offset = 0;            // where reading stopped (the file size when complete)
};

// Checks the structure of a whole context file: framing, section order, the predefined types,
// aggregate member counts, selfix definitions, type references, modules and local scopes.
CtxVerdict verify_ctx(std::span<const uint8_t> bytes);

}  // namespace tek
