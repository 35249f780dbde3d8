#include "tools/ctxdump/verify.hpp"

#include <new>
#include <utility>

namespace tek {

CtxVerdict verify_ctx(std::span<const uint8_t> bytes) {
  tekconv::ContextReader reader(bytes);
  tekconv::Expected<CtxVerdict> v = tekconv::verify_context(reader);
  // Bytes in memory cannot fail to be read; only memory can run out.
  if (!v) throw std::bad_alloc();
  return std::move(*v);
}

void print_problem(FILE* f, const std::string& file, const tekconv::ContextProblem& p) {
  std::fprintf(f, "ctxdump: %s:0x%llx: error: %s\n", file.c_str(),
               static_cast<unsigned long long>(p.offset), p.text.c_str());
}

}  // namespace tek
