#include "core/sinks/type_check.hpp"

#include <cinttypes>

namespace tek {

void TypeIndexCheck::mark_selfix(uint32_t selfix) {
  if (selfix >= marks_.size()) marks_.resize(static_cast<size_t>(selfix) + 1, MARK_NONE);
  marks_[selfix] = MARK_DEFINED;
}

void TypeIndexCheck::check_typeix(uint32_t typeix) {
  if (pass_ == 1) return;
  // A negative offset or one past the end of the scratch file finds no definition.
  const bool in_file = static_cast<int32_t>(typeix) >= 0 && typeix < marks_.size();
  const uint8_t mark = in_file ? marks_[typeix] : uint8_t{MARK_NONE};
  if (mark == MARK_NONE) {
    std::fprintf(console_, "Unsolved typeix %08" PRIx32 "\n", typeix);
    unsolved_ = true;
  } else if (mark == MARK_DEFINED) {
    marks_[typeix] = MARK_REFERENCED;
  }
}

void TypeIndexCheck::report_unreferenced() {
  for (size_t i = 0; i < marks_.size(); ++i)
    if (marks_[i] == MARK_DEFINED)
      std::fprintf(console_, "No reference self index %08" PRIx64 "\n", static_cast<uint64_t>(i));
}

}  // namespace tek
