// The blink example: an SH7032 program of two modules. Its sources are shipped with it
// (examples/blink/main.c, led.c, led.h); the line numbers below are theirs.
#include "blink_program.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tekrec {

namespace {

// Basic type indices set up by the BASETYPE records.
enum : uint8_t { T_VOID = 0, T_INT = 1, T_UCHAR = 2, T_USHORT = 3, T_UINT = 4 };

// Type ids of each debug unit.
enum : uint16_t { ID_MODE = 0x10, ID_LED = 0x11, ID_MAIN = 0x20, ID_WAIT = 0x21 };
enum : uint16_t { ID_INIT = 0x20, ID_STEP = 0x21, ID_SET_MODE = 0x22 };

// Sections: main has P (code) and B (RAM), led has P and C (constants).
enum : uint16_t { SEC_P = 0, SEC_B = 1, SEC_C = 1 };

// SH instructions, big-endian.
const std::vector<uint8_t> PROLOGUE = {0x2F, 0xE6,   // mov.l r14,@-r15
                                       0x6E, 0xF3,   // mov r15,r14
                                       0x7F, 0xF8};  // add #-8,r15
const std::vector<uint8_t> EPILOGUE = {0x6F, 0xE3,   // mov r14,r15
                                       0x00, 0x0B,   // rts
                                       0x6E, 0xF6};  // mov.l @r15+,r14 (delay slot)
const std::vector<uint8_t> NOP = {0x00, 0x09};

// The code of a function of n bytes: prologue, NOPs, epilogue.
std::vector<uint8_t> function_code(size_t n) {
  std::vector<uint8_t> code = PROLOGUE;
  while (code.size() + EPILOGUE.size() < n) code.insert(code.end(), NOP.begin(), NOP.end());
  code.insert(code.end(), EPILOGUE.begin(), EPILOGUE.end());
  return code;
}

std::vector<uint8_t> functions_code(const std::vector<size_t>& sizes) {
  std::vector<uint8_t> code;
  for (size_t n : sizes) {
    std::vector<uint8_t> f = function_code(n);
    code.insert(code.end(), f.begin(), f.end());
  }
  return code;
}

Symbol member(const std::string& name, Fields type, uint32_t offset, uint32_t size) {
  return {MEMBER, 0, name, type, member_at(offset, size), {}};
}

void basic_types(Builder& b) {
  b.basetype(T_VOID, 0, 0, 0, "void");
  b.basetype(T_INT, 3, 4, 0x00, "int");
  b.basetype(T_UCHAR, 2, 1, 0x40, "unsigned char");
  b.basetype(T_USHORT, 3, 2, 0x40, "unsigned short");
  b.basetype(T_UINT, 3, 4, 0x40, "unsigned int");
}

// led.h: enum led_mode { LED_OFF, LED_ON, LED_BLINK };
//        struct led { unsigned char *port; unsigned char mask; enum led_mode mode;
//                     unsigned short period; unsigned short phase; };
void led_types(Builder& b) {
  b.symbol({ENUM_TAG, ID_MODE, "led_mode", {}, enum_tag(), {}});
  b.aggr_begin();
  b.symbol({HEXVALUE, 0, "LED_OFF", {}, hex_digits("0"), {}});
  b.symbol({HEXVALUE, 0, "LED_ON", {}, hex_digits("1"), {}});
  b.symbol({HEXVALUE, 0, "LED_BLINK", {}, hex_digits("2"), {}});
  b.aggr_end();

  b.symbol({STRUCT_TAG, ID_LED, "led", {}, aggregate_tag(16), {}});
  b.aggr_begin();
  b.symbol(member("port", basic_type(T_UCHAR), 0, 4));
  b.dpt(0);
  b.symbol(member("mask", basic_type(T_UCHAR), 4, 1));
  b.symbol(member("mode", type_id(ID_MODE), 8, 4));
  b.symbol(member("period", basic_type(T_USHORT), 12, 2));
  b.symbol(member("phase", basic_type(T_USHORT), 14, 2));
  b.aggr_end();
}

// Module main: main.c and led.h.
void main_unit(Builder& b) {
  b.dbgunit(0x01, 0);
  b.srcfiles({{"", "main.c"}, {"", "led.h"}});
  basic_types(b);
  led_types(b);

  // struct led leds[2]; unsigned int ticks;
  b.symbol({VARIABLE, 0, "leds", type_id(ID_LED), in_section(2, SEC_B, 0x0, 32), {}});
  b.arrtype({1});
  b.symbol({VARIABLE, 0, "ticks", basic_type(T_UINT), in_section(2, SEC_B, 0x20, 4), {}});

  // int main(void) at P + 0, 0x50 bytes
  b.symbol({FUNCTION, ID_MAIN, "main", basic_type(T_INT), in_section(2, SEC_P, 0x0, 0x50), {}});
  b.attr(0x00, 0);
  b.symbol({VARIABLE, 0, "now", basic_type(T_UINT), in_frame(0xFFFFFFFC), {}});
  b.symbol({VARIABLE, 0, "i", basic_type(T_INT), in_register("R8"), {}});
  b.blkend(0x40);

  // static void wait(unsigned int until) at P + 0x50, 0x20 bytes
  b.symbol({FUNCTION, ID_WAIT, "wait", basic_type(T_VOID), in_section(5, SEC_P, 0x50, 0x20), {}});
  b.attr(0x00, 1);
  b.symbol({VARIABLE, 0, "until", basic_type(T_UINT), in_register("R4"), {}});
  b.symbol({VARIABLE, 0, "t", basic_type(T_UINT), in_frame(0xFFFFFFFC), {}});
  b.blkend(0x40);

  b.sect(0, SEC_P);
  b.curfile(0);
  b.lines({{12, 0x00}, {16, 0x06}, {17, 0x10}, {18, 0x1A}, {20, 0x22}, {21, 0x28}, {22, 0x2E}});
  b.curfile(1);
  b.lines({{17, 0x36}});  // led_lit, inlined
  b.curfile(0);
  b.lines({{23, 0x3C}, {24, 0x44}, {26, 0x4A}});
  b.lines({{29, 0x50}, {33, 0x56}, {34, 0x5E}, {35, 0x6A}});
}

// Module led: led.c and led.h.
void led_unit(Builder& b) {
  b.dbgunit(0x01, 1);
  b.srcfiles({{"", "led.c"}, {"", "led.h"}});
  basic_types(b);
  led_types(b);

  // static const unsigned short periods[3] = { 100, 250, 500 };
  b.symbol({VARIABLE, 0, "periods", basic_type(T_USHORT), in_section(5, SEC_C, 0x0, 6), {}});
  b.arrtype({2});

  // void led_init(struct led *l, unsigned char *port, unsigned char mask) at P + 0, 0x30 bytes
  b.symbol(
      {FUNCTION, ID_INIT, "led_init", basic_type(T_VOID), in_section(2, SEC_P, 0x0, 0x30), {}});
  b.attr(0x00, 3);
  b.symbol({VARIABLE, 0, "l", type_id(ID_LED), in_register("R4"), {}});
  b.dpt(0);
  b.symbol({VARIABLE, 0, "port", basic_type(T_UCHAR), in_register("R5"), {}});
  b.dpt(0);
  b.symbol({VARIABLE, 0, "mask", basic_type(T_UCHAR), in_register("R6", 1), {}});
  b.blkend(0x40);

  // int led_step(struct led *l, unsigned int now) at P + 0x30, 0x50 bytes
  b.symbol(
      {FUNCTION, ID_STEP, "led_step", basic_type(T_INT), in_section(2, SEC_P, 0x30, 0x50), {}});
  b.attr(0x00, 2);
  b.symbol({VARIABLE, 0, "l", type_id(ID_LED), in_register("R4"), {}});
  b.dpt(0);
  b.symbol({VARIABLE, 0, "now", basic_type(T_UINT), in_register("R5"), {}});
  b.symbol({VARIABLE, 0, "phase", basic_type(T_USHORT), in_frame(0xFFFFFFFC, 2), {}});
  b.symbol({VARIABLE, 0, "on", basic_type(T_INT), in_frame(0xFFFFFFF8), {}});
  b.blkend(0x40);

  // void led_set_mode(struct led *l, enum led_mode mode) at P + 0x80, 0x20 bytes
  b.symbol({FUNCTION,
            ID_SET_MODE,
            "led_set_mode",
            basic_type(T_VOID),
            in_section(2, SEC_P, 0x80, 0x20),
            {}});
  b.attr(0x00, 2);
  b.symbol({VARIABLE, 0, "l", type_id(ID_LED), in_register("R4"), {}});
  b.dpt(0);
  b.symbol({VARIABLE, 0, "mode", type_id(ID_MODE), in_register("R5"), {}});
  b.blkend(0x40);

  b.sect(1, SEC_P);
  b.curfile(0);
  b.lines({{7, 0x00}, {8, 0x06}, {9, 0x0A}, {10, 0x0E}, {11, 0x14}, {12, 0x1E}, {13, 0x24}});
  b.lines({{16, 0x30},
           {20, 0x36},
           {21, 0x44},
           {22, 0x52},
           {23, 0x5A},
           {24, 0x64},
           {25, 0x6A},
           {26, 0x74}});
  b.lines({{29, 0x80}, {30, 0x86}, {31, 0x8C}, {32, 0x9A}});
}

}  // namespace

Builder blink_program() {
  Builder b;
  b.hdr(0, 2);
  // main: code at 0x1000, RAM at 0x0FFFE000; led: code at 0x1080, constants after it.
  b.unit("main", "SH7032", 2, 0x04, 32);
  b.cl(0x1000, "P");
  b.cl(0x0FFFE000, "B");
  b.unit("led", "SH7032", 2, 0x04, 32);
  b.cl(0x1080, "P");
  b.cl(0x1120, "C");

  b.sect(0, SEC_P).data(functions_code({0x50, 0x20}));
  b.sect(1, SEC_P).data(functions_code({0x30, 0x50, 0x20}));
  b.sect(1, SEC_C).data({0x00, 0x64, 0x00, 0xFA, 0x01, 0xF4});

  main_unit(b);
  led_unit(b);
  b.end();
  return b;
}

}  // namespace tekrec
