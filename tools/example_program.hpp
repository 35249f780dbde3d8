// The example program shipped under examples/, built record by record.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "recbuild/recbuild.hpp"

namespace tekrec {

// prog.abs: two units of different processors, sections, an image of DATA, ZERO and REPEAT
// records, and the debug information of a small program.
Builder example_program();
// main.cpd: the companion file of main.c, the H8 unit's source file.
std::string example_companion();
// Every companion file of the example, by file name: main.cpd, types.cpd and uart.cpd.
std::vector<std::pair<std::string, std::string>> example_companions();

}  // namespace tekrec
