// Where the converter's records go. The emit operations hand each record, with its decoded
// values, to the one sink of the run: the context file writer, the dump printer, the type index
// check, or the ELF writer. The run mode is chosen once, by choosing the sink.
#pragma once

#include <cstdint>
#include <tuple>

#include "core/errors.hpp"
#include "format/ctx/tags.hpp"

namespace tek {

// An upper bound on the bytes a sink produces (records written, dump text printed, records
// checked). A harness that must stay fast sets it; the converter leaves it unlimited.
struct Budget {
  uint64_t limit = UINT64_MAX;
  uint64_t used = 0;
  void charge(uint64_t n) {
    used += n;
    if (used > limit) stop_run(STOP_BUDGET);
  }
};

// What a sink learns besides the records.
class SinkEvents {
 public:
  virtual ~SinkEvents() = default;

  // Load information that no context record carries: the unit numbered modix (as in its
  // MODULE record) is of the processor with this code of the processor table.
  virtual void unit_processor(uint32_t /*modix*/, int /*processor*/) {}
  // The segmented address form (0 linear, 1 or 2) in which the unit's addresses are written.
  virtual void unit_address_form(uint32_t /*modix*/, int /*form*/) {}
  // A pass over the input begins (pass 0 in a conversion or dump; 1 and 2 in the type index
  // check) and ends.
  virtual void begin_pass(int /*pass*/) {}
  virtual void end_pass() {}
};

namespace sink_detail {

// One pure virtual put(const V&) for each value type, stacked in a single line of inheritance
// so that a sink has one vtable and a put is one indirect call, as if written out by hand.
template <class Base, class... Vs>
class Puts;
template <class Base, class V>
class Puts<Base, V> : public Base {
 public:
  virtual void put(const V& v) = 0;
};
template <class Base, class V, class... Rest>
class Puts<Base, V, Rest...> : public Puts<Base, Rest...> {
 public:
  using Puts<Base, Rest...>::put;
  virtual void put(const V& v) = 0;
};

template <class Base, class List>
struct PutsOf;
template <class Base, class... Vs>
struct PutsOf<Base, std::tuple<Vs...>> {
  using type = Puts<Base, Vs...>;
};

// The final put(const V&) of each value type, handing the value to Derived::record.
template <class Derived, class Base, class... Vs>
class Records;
template <class Derived, class Base>
class Records<Derived, Base> : public Base {};
template <class Derived, class Base, class V, class... Rest>
class Records<Derived, Base, V, Rest...> : public Records<Derived, Base, Rest...> {
 public:
  using Records<Derived, Base, Rest...>::put;
  void put(const V& v) final { static_cast<Derived&>(*this).record(v); }
};

template <class Derived, class Base, class List>
struct RecordsOf;
template <class Derived, class Base, class... Vs>
struct RecordsOf<Derived, Base, std::tuple<Vs...>> {
  using type = Records<Derived, Base, Vs...>;
};

}  // namespace sink_detail

// A sink: put(const V&) for the value type V of every record of the tag table, and the events.
class RecordSink : public sink_detail::PutsOf<SinkEvents, AllRecords>::type {};

// A sink that handles every record with Derived::record(const V&): one member template, or an
// overload for each value type.
template <class Derived>
class RecordSinkOf : public sink_detail::RecordsOf<Derived, RecordSink, AllRecords>::type {};

}  // namespace tek
