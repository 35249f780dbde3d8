// TYPE and MEMBER records as a conversion hands them to the ELF writer, for the tests of the
// types it merges.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "elf/sink.hpp"
#include "format/ctx/kinds.hpp"
#include "support.hpp"

namespace typerecords {

using tek::MemberValue;
using tek::TypeValue;

constexpr uint32_t INT = tektest::T_INT, CHAR = tektest::T_CHAR;

// A TYPE record and the MEMBER records that follow it.
struct TypeRecords {
  TypeValue type;
  std::vector<MemberValue> members;
};

inline TypeRecords type(uint32_t kind, uint32_t selfix, const char* name = "") {
  TypeRecords r;
  r.type.kind = kind;
  r.type.selfix = selfix;
  r.type.name = name;
  return r;
}
inline TypeRecords refers(uint32_t kind, uint32_t selfix, uint32_t to, const char* name = "") {
  TypeRecords r = type(kind, selfix, name);
  r.type.typeix = to;
  return r;
}
inline TypeRecords structure(
    uint32_t selfix, const char* name, uint32_t size,
    std::vector<std::pair<const char*, std::pair<uint32_t, uint32_t>>> fields) {
  TypeRecords r = type(tek::K_STRUCT, selfix, name);
  r.type.size = size;
  for (const auto& [field, at] : fields) {
    MemberValue m;
    m.kind = tek::K_STRUCT;
    m.name = field;
    m.typeix = at.first;
    m.offset = at.second;
    r.members.push_back(m);
  }
  r.type.count = static_cast<uint32_t>(r.members.size());
  return r;
}

// The TYPE records of the predefined types, 256 on.
inline void put_predefined_types(tek::ElfSink& sink) {
  for (size_t i = 0; i < tek::PREDEFINED_COUNT; ++i) {
    TypeValue t;
    t.kind = tek::PREDEFINED_KINDS[i];
    t.selfix = 256 + static_cast<uint32_t>(i);
    sink.put(t);
  }
}

// Hands the records of each type to the sink, as they come in a conversion.
inline void put_types(tek::ElfSink& sink, const std::vector<TypeRecords>& types) {
  for (const TypeRecords& t : types) {
    sink.put(t.type);
    for (const MemberValue& m : t.members) sink.put(m);
  }
}

}  // namespace typerecords
