// Fields of TEKA record bodies that no output holds, named where they stand. The converter reads
// each of them with the reader of its width, like the fields it uses: a field past the end of a
// short body reads as zero, and a field that runs past the end takes the trailer byte with it, so
// stepping over fields is not the same as skipping a count of bytes.
#pragma once

#include <cstdint>

namespace tek::teka {

enum class Width : uint8_t {
  Byte,     // 1 byte
  Word,     // 2 bytes, big-endian
  Long,     // 4 bytes, big-endian
  Address,  // the unit's address width (2, 3 or 4 bytes)
};

struct Field {
  Width width;
  const char* name;  // the record and the field's offset in the body, or its place
};

// HDR: between the header type and the debug format level.
inline constexpr Field HDR_UNINTERPRETED[] = {
    {Width::Word, "HDR+1"}, {Width::Word, "HDR+3"}, {Width::Byte, "HDR+5"}};

// UNIT: before the section count; between it and the flags; after the address-space width.
inline constexpr Field UNIT_LEAD[] = {{Width::Byte, "UNIT+0"}};
inline constexpr Field UNIT_AFTER_SECTION_COUNT[] = {{Width::Word, "UNIT+3"},
                                                     {Width::Word, "UNIT+5"},
                                                     {Width::Word, "UNIT+7"},
                                                     {Width::Byte, "UNIT+9"}};
inline constexpr Field UNIT_AFTER_SPACE_WIDTH[] = {{Width::Byte, "UNIT+12"}};

// CL: between the base (with its addend in segmented units) and the section name.
inline constexpr Field CL_AFTER_BASE[] = {{Width::Address, "CL address after the base"},
                                          {Width::Word, "CL first word after the base"},
                                          {Width::Word, "CL second word after the base"},
                                          {Width::Long, "CL long before the section name"}};

// SRCFILES: after the two name parts of each entry.
inline constexpr Field SRCFILES_ENTRY_TAIL[] = {{Width::Word, "SRCFILES entry word 1"},
                                                {Width::Word, "SRCFILES entry word 2"},
                                                {Width::Word, "SRCFILES entry word 3"},
                                                {Width::Word, "SRCFILES entry word 4"}};

// DBGUNIT: after the unit index.
inline constexpr Field DBGUNIT_AFTER_UNIT_INDEX[] = {{Width::Word, "DBGUNIT+3"},
                                                     {Width::Word, "DBGUNIT+5"},
                                                     {Width::Byte, "DBGUNIT+7"},
                                                     {Width::Byte, "DBGUNIT+8"}};

// SYMBOL: after the own id, at debug format levels above 1.
inline constexpr Field SYMBOL_AFTER_OWN_ID[] = {{Width::Word, "SYMBOL+3"}};
// SYMBOL location parts: the byte before a label's section index, the byte of an enumeration
// tag, and the address between the size and the register name(s) of the register forms.
inline constexpr Field LABEL_LOCATION_LEAD[] = {{Width::Byte, "label location byte"}};
inline constexpr Field ENUM_TAG_LOCATION[] = {{Width::Byte, "enumeration tag location byte"}};
inline constexpr Field REGISTER_OFFSET[] = {{Width::Address, "register location offset"}};

// ARRTYPE: before the dimension count, and before each dimension's upper bound.
inline constexpr Field ARRTYPE_LEAD[] = {{Width::Address, "ARRTYPE+0"}};
inline constexpr Field ARRTYPE_DIMENSION_LEAD[] = {{Width::Byte, "ARRTYPE dimension byte"}};

}  // namespace tek::teka
