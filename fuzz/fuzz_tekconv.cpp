// libFuzzer entry point: the converter library in memory, in every run mode.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tekfuzz::run_one(data, size);
  return 0;
}
