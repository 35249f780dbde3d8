// The companion state of H8 programs: the renames and "cl"/"bcl" marks of the companion file
// (".cpd") in force, and the lookups the symbol handlers make on them. Loading the files is the
// reader's part (reader/companion).
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

struct CompanionEntry {
  std::string s1;  // kind: "cl" or "bcl" are tested
  std::string s2;
  std::string s3;  // display name
  std::string s4;  // name as the object file spells it
};

// Hashes a name as a string_view: the lookups take the record's name as it lies in the reader's
// buffer, without building a std::string for every member and symbol.
struct CompanionNameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using CompanionNameSet = std::unordered_set<std::string, CompanionNameHash, std::equal_to<>>;

// The entries of one companion file, with the answers of the three lookups indexed. Immutable
// once loaded, so that a table can be shared between the loads of the same file.
struct CompanionTable {
  std::map<uint32_t, CompanionEntry> entries;  // sparse, by entry index
  uint32_t entry_count = 0;                    // highest index stored since the table was emptied
  // s4 -> s3 of the lowest index
  std::unordered_map<std::string, std::string, CompanionNameHash, std::equal_to<>> rename;
  CompanionNameSet cl_names;   // s3 of "cl" entries
  CompanionNameSet bcl_names;  // s4 of "bcl" entries
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

void init_companion(CompanionState& cs);
void free_companion(CompanionState& cs);
// Replacement name for a symbol name, if the companion table has one.
const std::string* find_rename(const CompanionState& cs, const char* name);
bool is_cl(const CompanionState& cs, const char* name);
bool is_bcl(const CompanionState& cs, const char* name);

}  // namespace tek
