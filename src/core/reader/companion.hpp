// Companion description files (".cpd"): renames and "cl"/"bcl" marks for H8 programs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tek {

struct Converter;

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

struct CompanionState {
  std::shared_ptr<const CompanionTable> table;
  // What each companion file name gave in this pass: a table to install, or nullopt when the
  // file leaves the table unchanged (missing, or not beginning with "[HD]").
  std::unordered_map<std::string, std::optional<std::shared_ptr<const CompanionTable>>> loaded;
};

// Reads one companion file; nullopt when it leaves the table unchanged.
std::optional<std::shared_ptr<const CompanionTable>> read_companion_file(const std::string& path);
std::string companion_file_name(const std::string& source);
void store_entry(CompanionTable& t, uint32_t index, CompanionEntry e);
void index_companion(CompanionTable& t);

void init_companion(Converter& cv);
void free_companion(Converter& cv);
void load_companion(Converter& cv, const std::string& source);
// Replacement name for a symbol name, if the companion table has one.
const std::string* find_rename(const Converter& cv, const char* name);
bool is_cl(const Converter& cv, const char* name);
bool is_bcl(const Converter& cv, const char* name);

}  // namespace tek
