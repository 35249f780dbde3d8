#include "tools/ctxdump/verify.hpp"

namespace tek {

tekconv::Expected<CtxVerdict> verify_ctx(std::span<const uint8_t> bytes) {
  tekconv::ContextReader reader(bytes);
  return tekconv::verify_context(reader);
}

void print_problem(FILE* f, const std::string& file, const tekconv::ContextProblem& p) {
  std::fprintf(f, "ctxdump: %s:0x%llx: error: %s\n", file.c_str(),
               static_cast<unsigned long long>(p.offset), p.text.c_str());
}

}  // namespace tek
