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

const std::string* find_rename(const CompanionState& cs, const char* name) {
  if (!starts(name) || !cs.table) return nullptr;
  auto it = cs.table->rename.find(name);
  return it == cs.table->rename.end() ? nullptr : &it->second;
}

bool is_cl(const CompanionState& cs, const char* name) {
  return starts(name) && cs.table && cs.table->cl_names.count(name) != 0;
}

bool is_bcl(const CompanionState& cs, const char* name) {
  return starts(name) && cs.table && cs.table->bcl_names.count(name) != 0;
}

}  // namespace tek
