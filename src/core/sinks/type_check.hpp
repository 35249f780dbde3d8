// The type index check: a first pass marks every selfix that a TYPE record defines, a second
// pass tests every type reference against the marks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <type_traits>
#include <vector>

#include "core/sink.hpp"
#include "format/ctx/tags.hpp"

namespace tek {

// Mark byte per type index, as in the check's scratch file.
enum Mark : uint8_t { MARK_NONE = 0, MARK_DEFINED = 1, MARK_REFERENCED = 2 };

class TypeIndexCheck : public RecordSinkOf<TypeIndexCheck> {
 public:
  TypeIndexCheck(FILE* console, uint64_t budget) : console_(console), budget_{budget} {}

  // Called with the marks at the end of each pass (the command line keeps them in a file).
  std::function<void(const std::vector<uint8_t>&)> store_marks;

  void begin_pass(int pass) override { pass_ = pass; }
  void end_pass() override {
    if (store_marks) store_marks(marks_);
  }

  template <class V>
  void record(const V& v) {
    if constexpr (std::is_same_v<V, TypeValue>) {
      budget_.charge(6);
      if (pass_ == 1) mark_selfix(v.selfix);
      check_fields(v, type_layout(v.kind));
    } else if constexpr (std::is_same_v<V, MemberValue>) {
      budget_.charge(1);
      check_fields(v, member_layout(v.kind));
    } else if constexpr (std::is_same_v<V, ObjectValue>) {
      budget_.charge(9u + v.length);
    } else {
      check_fields(v, RecordInfo<V>::layout(v));
    }
  }

  void mark_selfix(uint32_t selfix);
  // In the reference pass: "Unsolved typeix" for a reference to no defined selfix.
  void check_typeix(uint32_t typeix);
  // "No reference self index" for every selfix defined and never referenced.
  void report_unreferenced();
  bool unsolved() const { return unsolved_; }
  const std::vector<uint8_t>& marks() const { return marks_; }

 private:
  // The fields that refer to types are those that the layouts hold as typeix or retix.
  template <class V>
  void check_fields(const V& v, Layout<V> layout) {
    if constexpr (requires { &V::typeix; }) {
      for (const Field<V>& f : layout) {
        bool ref = f.member == &V::typeix;
        if constexpr (requires { &V::retix; }) ref = ref || f.member == &V::retix;
        if (ref) check_typeix(v.*f.member);
      }
    }
  }

  FILE* console_;
  Budget budget_;
  int pass_ = 0;
  bool unsolved_ = false;
  std::vector<uint8_t> marks_;
};

}  // namespace tek
