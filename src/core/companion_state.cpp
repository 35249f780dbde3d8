#include "core/companion_state.hpp"

namespace tek {

namespace {

bool starts(const char* name) {
  return name && name[0] != '\0';
}

}  // namespace

void init_companion(CompanionState& cs) {
  cs.table = std::make_shared<CompanionTable>();
  cs.loaded.clear();
}

void free_companion(CompanionState& cs) {
  cs.table.reset();
  cs.loaded.clear();
}

// Most programs have no companion file, or one that names few of their symbols: an empty
// table is answered before the name is measured or hashed.
const std::string* find_rename(const CompanionState& cs, const char* name) {
  if (!starts(name) || !cs.table || cs.table->rename.empty()) return nullptr;
  auto it = cs.table->rename.find(std::string_view(name));
  return it == cs.table->rename.end() ? nullptr : &it->second;
}

bool is_cl(const CompanionState& cs, const char* name) {
  return starts(name) && cs.table && !cs.table->cl_names.empty() &&
         cs.table->cl_names.count(std::string_view(name)) != 0;
}

bool is_bcl(const CompanionState& cs, const char* name) {
  return starts(name) && cs.table && !cs.table->bcl_names.empty() &&
         cs.table->bcl_names.count(std::string_view(name)) != 0;
}

}  // namespace tek
