// The TEKA object format: record codes and their names, the categories of SYMBOL records and
// the location forms of their location part.
//
// A record is a type byte (the code, with bit 0 set when a 2-byte length follows instead of a
// 1-byte one), the length of the body, the body (big-endian fields) and a trailer byte. A file
// begins with HDR and ends with END.
#pragma once

#include <cstdint>

namespace tek::teka {

enum Code : uint8_t {
  HDR = 0x04,       // header: header type, versions, debug format level
  UNIT = 0x06,      // opens a unit: section count, address width and form, module, processor
  CL = 0x08,        // a section of the current unit: base address and name
  SECT = 0x20,      // selects a unit's section as the current location
  DATA = 0x26,      // image bytes at the current location
  ZERO = 0x28,      // a count of zero bytes
  REPEAT = 0x2A,    // a pattern repeated a count of times
  DBGUNIT = 0x30,   // opens a debug unit for a unit
  BLKEND = 0x32,    // ends a block (a function scope)
  SRCFILES = 0x34,  // names the source files of the debug unit
  BASETYPE = 0x36,  // a basic type: index, code, size and flags
  SYMBOL = 0x40,    // a symbol: category, type part and location part
  ATTR = 0x48,      // attributes of the latest symbol (a function's argument count)
  AGGR = 0x4A,      // begins or ends an aggregate body
  AGGR2 = 0x4C,     // the same, second form
  ARRTYPE = 0x4E,   // array dimensions of the latest symbol
  DPT = 0x50,       // a pointer to the latest symbol's type
  FUNCTYPE = 0x52,  // the latest symbol is a function
  CURFILE = 0x62,   // selects the source file of the line records
  LOCATE = 0x64,    // selects a section of the current unit as the current location
  LINES = 0x68,     // line numbers with their offsets from the current location
  END = 0x7E,       // ends the file
  AFLAG = 0xA0,     // an address flag (ARM and Thumb code)
};

// Codes of records that carry nothing the context file holds; they are stepped over whole.
inline constexpr uint8_t SKIPPED_CODES[] = {0x0C, 0x0E, 0x10, 0x14, 0x22, 0x24, 0x2C,
                                            0x2E, 0x38, 0x3A, 0x42, 0x46, 0x6A, 0x82,
                                            0x84, 0x86, 0x88, 0x8A, 0x8C};

// The record's name, as messages and listings give it; nullptr for a code without a handler.
constexpr const char* code_name(uint8_t code) {
  switch (code) {
    case HDR:
      return "HDR";
    case UNIT:
      return "UNIT";
    case CL:
      return "CL";
    case SECT:
      return "SECT";
    case DATA:
      return "DATA";
    case ZERO:
      return "ZERO";
    case REPEAT:
      return "REPEAT";
    case DBGUNIT:
      return "DBGUNIT";
    case BLKEND:
      return "BLKEND";
    case SRCFILES:
      return "SRCFILES";
    case BASETYPE:
      return "BASETYPE";
    case SYMBOL:
      return "SYMBOL";
    case ATTR:
      return "ATTR";
    case AGGR:
    case AGGR2:
      return "AGGR";
    case ARRTYPE:
      return "ARRTYPE";
    case DPT:
      return "DPT";
    case FUNCTYPE:
      return "FUNCTYPE";
    case CURFILE:
      return "CURFILE";
    case LOCATE:
      return "LOCATE";
    case LINES:
      return "LINES";
    case END:
      return "END";
    case AFLAG:
      return "AFLAG";
    default:
      return nullptr;
  }
}

// Symbol categories: bits 2 to 7 of the SYMBOL kind byte. Bit 0 announces the type part, bit 1
// the location part.
enum Category : uint8_t {
  VARIABLE = 0,
  UNTYPED = 1,  // a label: section and offset
  FUNCTION = 3,
  HEXVALUE = 5,  // a constant written as hexadecimal digits
  MEMBER = 7,    // a member of the aggregate body being described
  ENUM_TAG = 8,
  STRUCT_TAG = 9,
  UNION_TAG = 10,
  VARIABLE2 = 14,
  CLASSED = 15,  // a class byte and a value of 1, 2 or 4 bytes
};

// The location forms of the other categories: the first byte of the location part.
enum LocationForm : uint8_t {
  LOC_REGISTER = 1,       // size, offset, register name
  LOC_GLOBAL = 2,         // size, section, offset
  LOC_GLOBAL2 = 3,        // the same
  LOC_LOCAL_STATIC = 4,   // size, section, offset: a static inside a function
  LOC_STATIC = 5,         // size, section, offset
  LOC_STACK = 6,          // size, offset from the frame
  LOC_REGISTER_LIST = 7,  // size, offset, a list of register names
};

}  // namespace tek::teka
