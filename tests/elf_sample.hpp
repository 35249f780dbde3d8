// A small program of every kind of debug information, built for any processor: the input of
// the ELF round-trip tests.
#pragma once

#include <string>

#include "support.hpp"

namespace elftest {

struct Sample {
  std::string processor;
  std::string reg;  // a register of the processor's table, for a register variable
};

// Unit "m" with sections P (0x1000), D (0x2000), B (0x3000); source files main.c and util.h.
inline tekrec::Builder sample_program(const Sample& s) {
  using namespace tekrec;
  using tektest::sym;
  Builder b;
  b.hdr().unit("m", s.processor, 3, 0x04).cl(0x1000, "P").cl(0x2000, "D").cl(0x3000, "B");
  b.dbgunit(0x01, 0);
  b.srcfiles({{"src/", "main.c"}, {"", "util.h"}});
  b.basetype(0, 0, 0, 0).basetype(1, 3, 4, 0).basetype(2, 2, 1, 0).basetype(3, 3, 2, 0x40);
  b.basetype(4, 4, 8, 0x01).basetype(5, 3, 4, 0x40);

  // enum mode { OFF, ON = 5, AUTO = 0x10 };
  b.symbol(tektest::enum_tag(0x10, "mode"));
  b.aggr_begin();
  b.symbol(tektest::constant("OFF", "0"));
  b.symbol(tektest::constant("ON", "5"));
  b.symbol(tektest::constant("AUTO", "10"));
  b.aggr_end();
  // struct pair { int a; unsigned short b; };
  b.symbol(tektest::structure(0x11, "pair", 8));
  b.aggr_begin();
  b.symbol(tektest::member("a", 1, 0));
  b.symbol(tektest::member("b", 3, 4));
  b.aggr_end();
  // struct node { unsigned kind : 4; int level : 6; struct node *next; char tag[2][3];
  //               struct pair p; };
  b.symbol(tektest::structure(0x12, "node", 20));
  b.aggr_begin();
  b.symbol(sym(MEMBER, "kind", basic_type(5), bitfield_at(0, 4, 0)));
  b.symbol(sym(MEMBER, "level", basic_type(1), bitfield_at(0, 6, 4)));
  b.symbol(tektest::member_of("next", 0x12, 4));
  b.dpt(0);
  b.symbol(tektest::member("tag", 2, 8));
  b.arrtype({1, 2});
  b.symbol(tektest::member_of("p", 0x11, 12));
  b.aggr_end();
  // union value { int i; double d; };
  b.symbol(tektest::union_tag(0x13, "value", 8));
  b.aggr_begin();
  b.symbol(tektest::member("i", 1, 0));
  b.symbol(tektest::member("d", 4, 0));
  b.aggr_end();

  // Globals.
  b.symbol(sym(VARIABLE, "g_node", type_id(0x12), in_section(2, 2, 0x10, 20)));
  b.symbol(sym(VARIABLE, "g_mode", type_id(0x10), in_section(2, 2, 0x30, 4)));
  b.symbol(sym(VARIABLE, "g_value", type_id(0x13), in_section(5, 2, 0x38, 8)));
  b.symbol(sym(VARIABLE, "g_table", basic_type(3), in_section(2, 1, 0x0, 20)));
  b.arrtype({9});
  b.symbol(sym(VARIABLE, "g_handler", basic_type(1), in_section(2, 2, 0x40, 4)));
  b.functype();
  b.dpt(0);

  // int compute(int x, struct pair *pp) at P + 0x10, 0x30 bytes
  b.symbol(sym(FUNCTION, "compute", basic_type(1), in_section(2, 0, 0x10, 0x30), 0x20));
  b.attr(0x00, 2);
  b.symbol(sym(VARIABLE, "x", basic_type(1), in_frame(8)));
  b.symbol(sym(VARIABLE, "pp", type_id(0x11), in_frame(12)));
  b.dpt(0);
  b.symbol(sym(VARIABLE, "sum", basic_type(1), in_frame(0xFFFFFFFC)));
  b.symbol(sym(VARIABLE, "fast", basic_type(5), in_register(s.reg)));
  b.symbol(sym(VARIABLE, "count", basic_type(5), in_section(4, 2, 0x48, 4)));
  b.blkend(0x40);
  // void reset(void) at P + 0x40, 0x20 bytes
  b.symbol(sym(FUNCTION, "reset", basic_type(0), in_section(2, 0, 0x40, 0x20), 0x21));
  b.symbol(sym(VARIABLE, "n", type_id(0x10), in_frame(0xFFFFFFF8)));
  b.blkend(0x40);

  b.sect(0, 0).data(std::vector<uint8_t>(0x60, 0x4E));
  b.sect(0, 1).repeat(10, {0x12, 0x34});
  b.sect(0, 2).zero(0x50);
  b.sect(0, 0);
  b.curfile(0);
  b.lines({{10, 0x10}, {11, 0x14}, {13, 0x20}, {14, 0x3E}});
  b.curfile(1);
  b.lines({{3, 0x28}});
  b.curfile(0);
  b.lines({{20, 0x40}, {21, 0x48}});
  b.end();
  return b;
}

}  // namespace elftest
