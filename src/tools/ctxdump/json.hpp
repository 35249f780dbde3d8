// ctxdump --json: each record as one JSON object on a line of its own.
#pragma once

#include <cstdio>
#include <string>

#include "tekconv/context_reader.hpp"

namespace tek {

// The keys of a line besides the record's fields; no field may be named like them.
inline constexpr const char* JSON_FILE_KEY = "file";
inline constexpr const char* JSON_OFFSET_KEY = "file_offset";
inline constexpr const char* JSON_TAG_KEY = "tag";
// The key of the OBJECT data bytes, listed with --hex only.
inline constexpr const char* JSON_DATA_KEY = "data";

// Prints the record as one JSON object and a line end: its offset, tag name and fields, each
// keyed by its name. Numbers as their field reads them, a kind or class code as {"name": its
// name or null, "value": the code}, names as strings of one character per byte (U+0000 to
// U+00FF). With hex, the data bytes of an OBJECT as a string of hexadecimal digits; with file,
// the file's name first.
void print_json_record(FILE* out, const tekconv::ContextRecord& rec, bool hex,
                       const std::string* file);

}  // namespace tek
