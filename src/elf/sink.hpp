// The ELF writer: a record sink that turns the records of a conversion into an ELF32
// executable with its memory image, a symbol table and DWARF 4 debug information.
//
// The records of the three streams may arrive interleaved (as a conversion emits them) or one
// stream after the other (as a finished context file holds them); the sink relies only on the
// order within each stream. OBJECT data goes to the output as it arrives, after room for the
// ELF header; everything else is collected, and finish() completes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/sink.hpp"

namespace elf {
class Output;
}

namespace tek {

struct ElfModel;
struct TypeRec;
class TypeCopies;
struct ElfWarning;
struct InputPlace;

class ElfSink : public RecordSinkOf<ElfSink> {
 public:
  // budget: bytes of image and records after which the run is abandoned, as the other sinks
  // count what they produce. The file is kept in memory and handed over by finish(write).
  explicit ElfSink(uint64_t budget = UINT64_MAX);
  // The file is written into out (empty, outliving the sink) and completed by finish().
  explicit ElfSink(elf::Output& out, uint64_t budget = UINT64_MAX);
  ~ElfSink() override;
  ElfSink(const ElfSink&) = delete;
  ElfSink& operator=(const ElfSink&) = delete;

  void record(const HeaderValue&) {}
  void record(const PublicValue& v);
  void record(const StartLocalValue& v);
  void record(const EndLocalValue& v);
  void record(const SetLocalValue& v);
  void record(const FileValue& v);
  void record(const EndLineValue& v);
  void record(const LineValue& v);
  void record(const TypeValue& v);
  void record(const MemberValue& v);
  void record(const ObjectValue& v);
  void record(const ModuleValue& v);
  void record(const AddrFlagValue& v);

  void unit_processor(uint32_t modix, int processor) override;
  // The segmented address form (0, 1 or 2) of the unit's addresses, which no record carries:
  // addresses in that form are turned back into linear ones. The first unit's form applies
  // to the whole program. Without a call, addresses are taken as linear.
  void unit_address_form(uint32_t modix, int form) override;

  // Ends the type records: the last type is settled, and the model's index of the types by
  // selfix is complete. finish() begins with it.
  void end_types();
  // Completes the file; call once after the pass.
  void finish();
  // For a sink made without an output: completes the file and writes it whole.
  void finish(const std::function<void(const uint8_t*, size_t)>& write);
  // Tells where the record being handed over lies in the input; without it the problems the
  // sink finds carry no place.
  void set_locator(std::function<InputPlace()> here);
  // Problems found in completing the file (units of different processors, overlapping image
  // data, ...), each at the record it concerns, in order: the caller reports them.
  const std::vector<ElfWarning>& warnings() const;
  // What has been collected so far (the copies of types already dropped), for inspection.
  const ElfModel& model() const { return *m_; }

 private:
  InputPlace here() const;
  [[gnu::noinline]] void open_unnamed_block();

  std::unique_ptr<ElfModel> m_;
  std::unique_ptr<TypeCopies> copies_;  // until the type records end
  // The type that MEMBER records go to: the last one taken in (elements of the model's types
  // do not move), none before the first TYPE record and once the type records end.
  TypeRec* open_type_ = nullptr;
  std::function<InputPlace()> here_;
  Budget budget_;
  std::vector<uint8_t> own_bytes_;
  std::unique_ptr<elf::Output> own_;
  elf::Output* out_;
};

}  // namespace tek
