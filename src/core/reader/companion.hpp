// Companion description files (".cpd"): renames and "cl"/"bcl" marks for H8 programs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tek {

class Reporter;

struct CompanionEntry {
  std::string s1;  // kind: "cl" or "bcl" are tested
  std::string s2;
  std::string s3;  // display name
  std::string s4;  // name as the object file spells it
};

// The entries of one companion file, with the answers of the three lookups indexed. Immutable
// once loaded, so that a table can be shared between the loads of the same file.
struct CompanionTable {
  std::map<uint32_t, CompanionEntry> entries;  // sparse, by entry index
  uint32_t entry_count = 0;                    // highest index stored since the table was emptied
  std::unordered_map<std::string, std::string> rename;  // s4 -> s3 of the lowest index
  std::unordered_set<std::string> cl_names;             // s3 of "cl" entries
  std::unordered_set<std::string> bcl_names;            // s4 of "bcl" entries
};

// Finds the text of a companion file by its name ("main.cpd"); nullopt when there is none.
using CompanionLookup = std::function<std::optional<std::string>(const std::string& name)>;

struct CompanionState {
  // Supplied by the caller; without one, no unit has companion files.
  CompanionLookup lookup;
  std::shared_ptr<const CompanionTable> table;
  // What each companion file name gave in this pass: a table to install, or nullopt when the
  // file leaves the table unchanged (missing, or not beginning with "[HD]").
  std::unordered_map<std::string, std::optional<std::shared_ptr<const CompanionTable>>> loaded;
};

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

void init_companion(CompanionState& cs);
void free_companion(CompanionState& cs);
// Loads the companion file of a source file, for an H8 unit; a file that is missing or not one
// is reported.
void load_companion(CompanionState& cs, bool h8, const Reporter& rep, const std::string& source);
// Replacement name for a symbol name, if the companion table has one.
const std::string* find_rename(const CompanionState& cs, const char* name);
bool is_cl(const CompanionState& cs, const char* name);
bool is_bcl(const CompanionState& cs, const char* name);

}  // namespace tek
