// The example program: prog.abs, a TEKA object file of two units (an H8/300H program and an
// SH7032 driver), and the companion files of its source files main.c, types.h and uart.c.
#include "example_program.hpp"

#include <string>
#include <vector>

namespace tekrec {

namespace {

// Basic type indices set up by the BASETYPE records.
enum : uint8_t { T_VOID = 0, T_INT = 1, T_CHAR = 2, T_USHORT = 3, T_FLOAT = 4, T_UINT = 5 };

// Type ids of the H8 debug unit.
enum : uint16_t {
  ID_COLOR = 0x10,
  ID_POINT = 0x11,
  ID_SENSOR = 0x12,
  ID_INNER = 0x13,
  ID_WORD = 0x14,
  ID_DEVICE = 0x15,
  ID_MAIN = 0x20,
  ID_HELPER = 0x21,
  ID_UART_INIT = 0x30,
};

// Sections of unit 0 (main) and unit 1 (drivers).
enum : uint16_t { SEC_P = 0, SEC_C = 1, SEC_B = 2 };

std::vector<uint8_t> code_bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

Symbol member(const std::string& name, Fields type, uint32_t offset, uint32_t size) {
  return {MEMBER, 0, name, type, member_at(offset, size), {}};
}

void load_information(Builder& b) {
  b.unit("main", "H8/300H", 3, 0x04, 24);
  b.cl(0x1000, "P");
  b.cl(0x4000, "C");
  b.cl(0xFFEF00, "B");
  b.unit("drivers", "SH7032", 2, 0x04, 32);
  b.cl(0x8000, "P_DRV");
  b.cl(0xFFF000, "B_DRV");

  b.sect(0, SEC_P).data(code_bytes(600, 0x10));
  b.locate(SEC_C).repeat(100, {0xAA, 0x55});
  b.record(0x0C, Fields().u16(0));  // a record the converter steps over
  b.locate(SEC_B).zero(0x80);
  b.sect(1, 0).data(code_bytes(64, 0x80));
}

void basic_types(Builder& b) {
  b.basetype(T_VOID, 0, 0, 0, "void");
  b.basetype(T_INT, 3, 4, 0x00, "int");
  b.basetype(T_CHAR, 2, 1, 0x00, "char");
  b.basetype(T_USHORT, 3, 2, 0x40, "unsigned short");
  b.basetype(T_FLOAT, 4, 4, 0x00, "float");
  b.basetype(T_UINT, 3, 4, 0x40, "unsigned int");
}

void aggregates(Builder& b) {
  // enum color { RED, GREEN, BLUE };
  b.symbol({ENUM_TAG, ID_COLOR, "color", {}, enum_tag(), {}});
  b.aggr_begin();
  b.symbol({HEXVALUE, 0, "RED", {}, hex_digits("0"), {}});
  b.symbol({HEXVALUE, 0, "GREEN", {}, hex_digits("1"), {}});
  b.symbol({HEXVALUE, 0, "BLUE", {}, hex_digits("2"), {}});
  b.aggr_end();

  // struct point { int x; int y; };
  b.symbol({STRUCT_TAG, ID_POINT, "point", {}, aggregate_tag(8), {}});
  b.aggr_begin();
  b.symbol(member("x", basic_type(T_INT), 0, 4));
  b.symbol(member("y", basic_type(T_INT), 4, 4));
  b.aggr_end();

  // struct sensor { unsigned flags : 3; int *value; char name[8];
  //                 struct inner { unsigned short a, b; } pos; struct point base; };
  b.symbol({STRUCT_TAG, ID_SENSOR, "sensor", {}, aggregate_tag(28), {}});
  b.aggr_begin();
  b.symbol({MEMBER, 0, "flags", basic_type(T_UINT), bitfield_at(0, 3, 0), {}});
  b.symbol(member("value", basic_type(T_INT), 4, 4));
  b.dpt(0);
  b.symbol(member("name", basic_type(T_CHAR), 8, 8));
  b.arrtype({7});
  b.symbol({STRUCT_TAG, ID_INNER, "inner", {}, aggregate_tag(4), {}});
  b.aggr_begin();
  b.symbol(member("a", basic_type(T_USHORT), 0, 2));
  b.symbol(member("b", basic_type(T_USHORT), 2, 2));
  b.aggr_end();
  b.symbol(member("pos", type_id(ID_INNER), 16, 4));
  b.symbol(member("__b_base", type_id(ID_POINT), 20, 8));  // "bcl": written without a name
  b.aggr_end();

  // union word { int i; char b[4]; };
  b.symbol({UNION_TAG, ID_WORD, "word", {}, aggregate_tag(4), {}});
  b.aggr_begin();
  b.symbol(member("i", basic_type(T_INT), 0, 4));
  b.symbol(member("b", basic_type(T_CHAR), 0, 4));
  b.arrtype({3});
  b.aggr_end();

  // class Device { int _counter; int id; }; marked "cl" by the companion file
  b.symbol({STRUCT_TAG, ID_DEVICE, "Device", {}, aggregate_tag(8), {}});
  b.aggr_begin();
  b.symbol(member("_counter", basic_type(T_INT), 0, 4));
  b.symbol(member("id", basic_type(T_INT), 4, 4));
  b.aggr_end();
}

void main_unit(Builder& b) {
  b.dbgunit(0x10, 0);  // debug format level of the file, far functions
  b.srcfiles({{"C:\\src\\", "main.c"}, {"", "types.h"}});
  basic_types(b);
  aggregates(b);

  // Globals: struct sensor g_sensor; static float s_scale; int (*handler)(void);
  b.symbol({VARIABLE, 0, "g_sensor", type_id(ID_SENSOR), in_section(2, SEC_B, 0x10, 28), {}});
  b.symbol({VARIABLE, 0, "s_scale", basic_type(T_FLOAT), in_section(5, SEC_B, 0x40, 4), {}});
  b.symbol({VARIABLE, 0, "handler", basic_type(T_INT), in_section(2, SEC_B, 0x48, 4), {}});
  b.functype();
  b.dpt(0);
  b.symbol({VARIABLE, 0, "_tick", type_id(ID_DEVICE), in_section(3, SEC_B, 0x50, 8), {}});
  b.symbol({UNTYPED, 0, "P", {}, at_section(SEC_P, 0), {}});  // the section's own name

  // int main(int argc, char **argv) at P + 0, 0x40 bytes
  b.symbol({FUNCTION, ID_MAIN, "main", basic_type(T_INT), in_section(2, SEC_P, 0x0, 0x40), {}});
  b.attr(0x00, 2);
  b.symbol({VARIABLE, 0, "argc", basic_type(T_INT), in_frame(8), {}});
  b.symbol({VARIABLE, 0, "argv", basic_type(T_CHAR), in_frame(12), {}});
  b.dpt(0);
  b.dpt(0);
  b.symbol({VARIABLE, 0, "i", basic_type(T_INT), in_frame(0xFFFFFFFC), {}});
  b.symbol({VARIABLE, 0, "r", basic_type(T_INT), in_register("ER4"), {}});
  b.symbol({VARIABLE, 0, "calls", basic_type(T_UINT), in_section(4, SEC_B, 0x44, 4), {}});
  b.symbol({UNTYPED, 0, "loop_top", {}, at_section(SEC_P, 0x30), {}});
  b.blkend(0x40);

  // static void helper(struct word w) at P + 0x40, 0x20 bytes
  b.symbol(
      {FUNCTION, ID_HELPER, "helper", basic_type(T_VOID), in_section(3, SEC_P, 0x40, 0x20), {}});
  b.attr(0x00, 1);
  b.symbol({VARIABLE, 0, "w", type_id(ID_WORD), in_frame(8), {}});
  b.symbol({VARIABLE, 0, "c", type_id(ID_COLOR), in_frame(0xFFFFFFF8), {}});
  b.blkend(0x40);

  b.sect(0, SEC_P);
  b.curfile(0);
  b.lines({{10, 0x00}, {11, 0x04}, {12, 0x10}, {15, 0x3C}});
  b.lines({{20, 0x40}, {22, 0x50}});
  b.curfile(1);
  b.lines({{3, 0x5E}});
}

void driver_unit(Builder& b) {
  b.dbgunit(0x01, 1);  // debug format level 1, near functions
  b.srcfiles({{"drv/", "uart.c"}});
  // void uart_init(unsigned short baud) at P_DRV + 0, 0x40 bytes
  b.symbol(
      {FUNCTION, ID_UART_INIT, "uart_init", basic_type(T_VOID), in_section(2, 0, 0x0, 0x40), {}});
  b.attr(0x00, 1);
  b.symbol({VARIABLE, 0, "baud", basic_type(T_USHORT), in_registers({"R4", "R5"}), {}});
  b.symbol({VARIABLE, 0, "divider", basic_type(T_UINT), in_frame(0xFFFFFFF0), {}});
  b.blkend(0x40);
  b.sect(1, 0);
  b.curfile(0);
  b.lines({{7, 0x00}, {9, 0x12}, {12, 0x3E}});
}

const char* const COMPANION_TEXT =
    "[HD]\n"
    "Companion description of main.c\n"
    "[DEBUG]\n"
    "1 cl 0 \"Device\" Device ; Device is a C++ class\n"
    "2 bcl 0 \"base\" __b_base\n"
    "3,-,0,\"counter\",_counter\n"
    "4 - 0 \"tick\" _tick\n";

// types.h declares the aggregates and the extern Device tick. The companion files of one
// SRCFILES record replace one another, so the one of types.h, read after main.c's, is the one
// in force for the whole H8 unit: it names every declaration that main.c's does.
const char* const TYPES_COMPANION_TEXT =
    "[HD]\n"
    "Companion description of types.h\n"
    "[DEBUG]\n"
    "1 cl 0 \"Device\" Device ; class Device { int counter; int id; }\n"
    "2 bcl 0 \"base\" __b_base ; struct sensor : point\n"
    "3 - 0 \"counter\" _counter ; Device::counter\n"
    "4 - 0 \"tick\" _tick ; extern Device tick\n";

// uart.c is C: nothing to rename or mark. Its companion file empties the table, so the H8
// unit's entries do not reach the SH unit.
const char* const UART_COMPANION_TEXT =
    "[HD]\n"
    "Companion description of drv/uart.c\n"
    "[DEBUG]\n";

}  // namespace

Builder example_program() {
  Builder b;
  b.hdr(0, 2);
  load_information(b);
  main_unit(b);
  driver_unit(b);
  b.end();
  return b;
}

std::string example_companion() {
  return COMPANION_TEXT;
}

std::vector<std::pair<std::string, std::string>> example_companions() {
  return {{"main.cpd", COMPANION_TEXT},
          {"types.cpd", TYPES_COMPANION_TEXT},
          {"uart.cpd", UART_COMPANION_TEXT}};
}

}  // namespace tekrec
