// libFuzzer entry point: the tekconv command line on files, in a private directory that is
// removed when the fuzzer exits. The process's directory is left alone, so relative corpus
// paths work.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "harness.hpp"

namespace {

std::string workdir;

void remove_workdir() {
  std::error_code ec;
  std::filesystem::remove_all(workdir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tekconv-fuzz-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) ::abort();
  workdir = tmpl;
  std::atexit(remove_workdir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tekfuzz::run_cli_one(data, size, workdir);
  return 0;
}
