// Small programs that together reach every record type, symbol category and location form,
// processors of several families, companion files and the example program: the seeds of the
// fuzz target, and inputs of the tests that compare outputs.
#pragma once

#include <string>
#include <vector>

#include "recbuild/recbuild.hpp"

namespace tekrec {

struct Sample {
  std::string name;
  Builder object;
  std::string companion;  // main.cpd (the companion file of main.c), or empty
};

std::vector<Sample> sample_programs();

}  // namespace tekrec
