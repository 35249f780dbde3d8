// Where the converter's records go. The emit operations hand each record, with its decoded
// values, to the one sink of the run: the context file writer, the dump printer, the type index
// check, or the ELF writer. The run mode is chosen once, by choosing the sink.
#pragma once

#include <cstdint>

#include "core/errors.hpp"
#include "format/ctx/records.hpp"

namespace tek {

// An upper bound on the bytes a sink produces (records written, dump text printed, records
// checked). A harness that must stay fast sets it; the converter leaves it unlimited.
struct Budget {
  uint64_t limit = UINT64_MAX;
  uint64_t used = 0;
  void charge(uint64_t n) {
    used += n;
    if (used > limit) fatal_error(STOP_BUDGET);
  }
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;

  virtual void put(const HeaderValue& v) = 0;
  virtual void put(const PublicValue& v) = 0;
  virtual void put(const StartLocalValue& v) = 0;
  virtual void put(const EndLocalValue& v) = 0;
  virtual void put(const SetLocalValue& v) = 0;
  virtual void put(const FileValue& v) = 0;
  virtual void put(const EndLineValue& v) = 0;
  virtual void put(const LineValue& v) = 0;
  virtual void put(const TypeValue& v) = 0;
  virtual void put(const MemberValue& v) = 0;
  virtual void put(const ObjectValue& v) = 0;
  virtual void put(const ModuleValue& v) = 0;
  virtual void put(const AddrFlagValue& v) = 0;

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

// A sink that handles every record with one member template, Derived::record(const V&).
template <class Derived>
class RecordSinkOf : public RecordSink {
 public:
  void put(const HeaderValue& v) final { self().record(v); }
  void put(const PublicValue& v) final { self().record(v); }
  void put(const StartLocalValue& v) final { self().record(v); }
  void put(const EndLocalValue& v) final { self().record(v); }
  void put(const SetLocalValue& v) final { self().record(v); }
  void put(const FileValue& v) final { self().record(v); }
  void put(const EndLineValue& v) final { self().record(v); }
  void put(const LineValue& v) final { self().record(v); }
  void put(const TypeValue& v) final { self().record(v); }
  void put(const MemberValue& v) final { self().record(v); }
  void put(const ObjectValue& v) final { self().record(v); }
  void put(const ModuleValue& v) final { self().record(v); }
  void put(const AddrFlagValue& v) final { self().record(v); }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace tek
