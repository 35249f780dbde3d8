// ctxdump test support: in-process runs of the command and generated programs to convert.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "format/ctx/ctxfile.hpp"
#include "support.hpp"
#include "tools/ctxdump/ctxdump.hpp"

namespace ctxdumptest {

using namespace tektest;
using namespace tekrec;

struct DumpRun {
  int status = 0;
  std::string out, err;
};

// Runs ctxdump in-process on the given arguments (without the program name).
inline DumpRun run_ctxdump(std::vector<std::string> args) {
  args.insert(args.begin(), "ctxdump");
  char* text[2] = {};
  size_t size[2] = {};
  FILE* f[2] = {::open_memstream(&text[0], &size[0]), ::open_memstream(&text[1], &size[1])};
  DumpRun r;
  r.status = tek::ctxdump_main(args, f[0], f[1]);
  for (int i : {0, 1}) {
    std::fclose(f[i]);
    (i == 0 ? r.out : r.err).assign(text[i], size[i]);
    std::free(text[i]);
  }
  return r;
}

// Random programs: sequences of pieces, each of which the converter translates without
// complaint after any other (apart from undefined type ids). Tag and function ids come from a
// small range, so that types are referred to before, after and without their definition, and
// some ids are defined twice, giving two TYPE records one selfix.
class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint32_t seed) : rng_(seed) {}

  Builder make() {
    // Basic types 1 to 3 of program(), and two that name no TYPE record: a bare kind code
    // (4 = 13) and no type (5 = 0). All are set before any symbol uses them, since the check
    // mode's second pass starts with the table that its first pass left.
    b_ = program(pick(0, 1) ? "SH7032" : "MC68000");
    b_.basetype(4, 9, 4, 0).basetype(5, 1, 0, 0).dbgunit(0x01, 0).srcfiles({{"", "m.c"}});
    for (int i = pick(3, 30); i > 0; --i) piece();
    return b_.end();
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  uint16_t id() { return static_cast<uint16_t>(pick(0x100, 0x10F)); }
  std::string name() { return "n" + std::to_string(serial_++); }
  Fields type() {
    return pick(0, 2) ? basic_type(static_cast<uint8_t>(pick(1, 5))) : type_id(id());
  }
  // A symbol of a basic type or a tag id, maybe made an array of it or a pointer of some kind
  // to it.
  void typed(uint8_t category, const Fields& location) {
    b_.symbol({category, 0, name(), type(), location, {}});
    const int k = pick(0, 3);
    if (k == 0) b_.arrtype(std::vector<uint32_t>(pick(0, 2), pick(0, 9)));
    if (k == 1) b_.dpt(static_cast<uint8_t>(std::vector<int>{0, 2, 3, 4}[pick(0, 3)]));
  }

  void piece() {
    switch (pick(0, 4)) {
      case 0:  // a debug unit of near or far functions, with a new type id table or not
        b_.dbgunit(pick(0, 1) ? 0x01 : 0x10, 0);
        if (pick(0, 2)) b_.srcfiles({{"src/", name() + ".c"}});
        break;
      case 1:  // a structure or union with plain, bit-field and refined members
        b_.symbol(pick(0, 1) ? structure(id(), name(), 16) : union_tag(id(), name(), 16));
        b_.aggr_begin();
        typed(MEMBER, member_at(0, 4));
        typed(MEMBER, bitfield_at(4, pick(1, 7), static_cast<int8_t>(pick(-2, 7))));
        typed(MEMBER, member_at(8, 4));
        b_.aggr_end();
        break;
      case 2:
        b_.symbol(enum_tag(id(), name())).aggr_begin().symbol(constant(name(), "7")).aggr_end();
        break;
      case 3:  // a global, maybe a function pointer
        typed(VARIABLE, in_section(static_cast<uint8_t>(pick(2, 5)), 2, 0x10, 4));
        if (pick(0, 3) == 0) b_.functype();
        break;
      case 4:  // a function with locals of every class
        b_.symbol({FUNCTION, id(), name(), type(), in_section(2, 0, 0x10, 0x40), {}});
        typed(VARIABLE, in_frame(pick(0, 1) ? 8 : 0xFFFFFFF8));
        typed(VARIABLE, in_register("R5"));
        typed(VARIABLE, in_section(4, 2, 0x20, 4));
        typed(VARIABLE, in_registers({"R4", "R5"}));
        b_.blkend(pick(0, 5) ? 0x40 : 0x00);
        break;
    }
  }

  std::mt19937 rng_;
  Builder b_;
  int serial_ = 0;
};

}  // namespace ctxdumptest
