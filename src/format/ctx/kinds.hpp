// What each TYPE kind is, in one table: its name in listings, its class, its size where the
// kind fixes it, the layout of the kind-specific part of its TYPE record and the form of the
// MEMBER records that follow it. The writer, the listings, the checks and the ELF back end all
// follow this table, so a kind is described once.
#pragma once

#include <cstdint>

#include "format/ctx/records.hpp"

namespace tek {

enum class KindClass : uint8_t {
  Unknown,    // a code no kind has
  Void,       // VOID
  Base,       // integers and floating-point numbers
  Aggregate,  // STRUCT, UNION, CLASS and BITFIELD: size, member count, name; members follow
  Enum,       // ENUM: name; enumeration constants follow
  Function,   // FUNCTION, FARFUNC: return type, argument count
  Pointer,    // the pointer kinds: pointed-to type
  Array,      // element type, upper bound
  Typedef,    // aliased type, name
  Bit,        // BIT: sign, size, offset
};

// The MEMBER records that follow a TYPE record of a kind.
enum class MemberForm : uint8_t {
  None,        // no members
  Field,       // typeix, offset, name (STRUCT, UNION, CLASS)
  Enumerator,  // value, name (ENUM)
  BitField,    // typeix, bit offset, bit size, name (BITFIELD)
};

struct KindInfo {
  const char* name;  // as listings show it; nullptr for an unknown code
  KindClass cls;
  uint8_t size;  // in bytes, where the kind fixes it (base types, pointers, BIT); else 0
  Layout<TypeValue> fields;
  MemberForm members;
};

// The rows by kind code; row 0, of code 0 that no kind has, has no name, class Unknown and no
// fields. Inline: the type graph's walks ask for a kind's class at every step.
inline constexpr uint32_t KIND_COUNT = K_CLASS + 1;
extern const KindInfo KIND_TABLE[];

// The row of a kind; an unknown code gets row 0.
inline const KindInfo& kind_info(uint32_t kind) {
  return KIND_TABLE[kind < KIND_COUNT ? kind : 0];
}

inline bool is_aggregate_kind(uint32_t kind) {
  return kind_info(kind).cls == KindClass::Aggregate;
}
inline bool is_pointer_kind(uint32_t kind) {
  return kind_info(kind).cls == KindClass::Pointer;
}
inline bool is_function_kind(uint32_t kind) {
  return kind_info(kind).cls == KindClass::Function;
}

}  // namespace tek
