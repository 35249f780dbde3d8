// Companion description files (".cpd") of H8 programs: reading, parsing and loading them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/companion_state.hpp"

namespace tek {

class Reporter;

// The table of a companion file's text; nullopt when it leaves the table unchanged (it does not
// begin with "[HD]").
std::optional<std::shared_ptr<const CompanionTable>> parse_companion(std::string_view text);
// The whole of a regular file; nullopt when it cannot be opened or is no regular file (a FIFO, a
// device, a directory).
std::optional<std::string> read_regular_file(const std::string& path);
// Reads and parses one companion file.
std::optional<std::shared_ptr<const CompanionTable>> read_companion_file(const std::string& path);
// The lookup of the command line: the file of that name in dir ("" for the current directory).
CompanionLookup directory_lookup(const std::string& dir);
std::string companion_file_name(const std::string& source);
void store_entry(CompanionTable& t, uint32_t index, CompanionEntry e);
void index_companion(CompanionTable& t);

// Loads the companion file of a source file, for an H8 unit; a file that is missing or not one
// is reported.
void load_companion(CompanionState& cs, bool h8, const Reporter& rep, const std::string& source);

}  // namespace tek
