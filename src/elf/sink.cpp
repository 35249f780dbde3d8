#include "elf/sink.hpp"

#include <algorithm>

#include "elf/image.hpp"
#include "elf/model.hpp"
#include "elf/symbols.hpp"
#include "elf/type_copies.hpp"
#include "format/elf/constants.hpp"
#include "format/elf/file.hpp"

namespace tek {

ElfSink::ElfSink(uint64_t budget)
    : m_(std::make_unique<ElfModel>()),
      copies_(std::make_unique<TypeCopies>()),
      budget_{budget},
      own_(std::make_unique<elf::MemoryOutput>(own_bytes_)),
      out_(own_.get()) {
  out_->append_zeros(elf::EHDR_SIZE);
}
ElfSink::ElfSink(elf::Output& out, uint64_t budget)
    : m_(std::make_unique<ElfModel>()),
      copies_(std::make_unique<TypeCopies>()),
      budget_{budget},
      out_(&out) {
  out_->append_zeros(elf::EHDR_SIZE);
}
ElfSink::~ElfSink() = default;

// Main stream.
InputPlace ElfSink::here() const {
  return here_ ? here_() : InputPlace{};
}
void ElfSink::set_locator(std::function<InputPlace()> here) {
  here_ = std::move(here);
}

void ElfSink::record(const ModuleValue& v) {
  m_->modules.push_back(v);
  m_->module_at.push_back(here());
}
void ElfSink::record(const PublicValue& v) {
  budget_.charge(16);
  m_->publics.push_back({v.mode, v.addr, v.cls, v.typeix, v.modix, m_->names.add_new(v.name)});
}
void ElfSink::record(const FileValue& v) {
  m_->blocks.push_back({m_->names.add(v.name), m_->lines.start(), m_->modules.size() - 1});
  m_->block_open = true;
}
void ElfSink::record(const LineValue& v) {
  budget_.charge(9);
  if (!m_->block_open) open_unnamed_block();
  m_->lines.add(v);
  ++m_->blocks.back().lines.count;
}
// Rows with no FILE block open (none came yet, or an ENDLINE closed it): a block without a
// file name.
void ElfSink::open_unnamed_block() {
  m_->blocks.push_back({Name{}, m_->lines.start(), m_->modules.size() - 1});
  m_->block_open = true;
}
void ElfSink::record(const EndLineValue&) {
  m_->block_open = false;
}
void ElfSink::record(const ObjectValue& v) {
  budget_.charge(9u + v.length);
  const size_t n = std::min<size_t>(v.length, v.data.size());
  if (n == 0) return;
  // Data that continues the previous chunk in the address and in the file extends it, within
  // a 64 KiB page of the address (where the segmented forms are linear too): a large image in
  // ascending addresses is then a few chunks, not one per record.
  std::vector<ImageChunk>& image = m_->image;
  if (!image.empty()) {
    ImageChunk& last = image.back();
    const uint64_t next = uint64_t{last.addr} + last.len;
    if (next == v.addr && (v.addr >> 16) == (last.addr >> 16) && n <= UINT32_MAX - last.len &&
        last.offset + last.len == out_->size()) {
      last.len += static_cast<uint32_t>(n);
      out_->append(v.data.data(), n);
      return;
    }
  }
  image.push_back({v.addr, static_cast<uint32_t>(n), out_->size(), here()});
  out_->append(v.data.data(), n);
}
void ElfSink::record(const AddrFlagValue& v) {
  m_->addr_flags.push_back(v);
}

// Local stream.
void ElfSink::record(const StartLocalValue& v) {
  m_->scopes.push_back(
      {v.addr, std::nullopt, {&m_->locals, static_cast<uint32_t>(m_->locals.size()), 0}, here()});
  m_->scope_open = true;
}
void ElfSink::record(const EndLocalValue& v) {
  if (m_->scope_open) m_->scopes.back().end = v.addr;
  m_->scope_open = false;
}
void ElfSink::record(const SetLocalValue& v) {
  budget_.charge(10);
  const LocalRec l{v.cls, v.offset, v.typeix, m_->names.add(v.name)};
  if (m_->scope_open) {
    m_->locals.push_back(l);
    ++m_->scopes.back().locals.count;
  } else {
    m_->loose.push_back({l, static_cast<ptrdiff_t>(m_->scopes.size()) - 1});
  }
}

// Type stream.
void ElfSink::record(const TypeValue& v) {
  budget_.charge(6);
  if (copies_) copies_->settle_last(*m_);  // its members are all in
  TypeRec& r = m_->types.emplace_back();
  open_type_ = &r;
  r.members = {static_cast<uint32_t>(m_->members.size()), 0};
  r.at = here();
  TypeFields& t = r.t;
  t.kind = static_cast<uint8_t>(std::min<uint32_t>(v.kind, 0xFF));  // 0xFF: no kind
  t.selfix = v.selfix;
  t.size = v.size;
  switch (kind_info(v.kind).cls) {
    case KindClass::Function:
      t.retix = v.retix;
      t.argc = v.argc;
      break;
    case KindClass::Pointer:
    case KindClass::Typedef:
      t.typeix = v.typeix;
      break;
    case KindClass::Array:
      t.typeix = v.typeix;
      t.limit = v.limit;
      break;
    case KindClass::Bit:
      t.offs = v.offs;
      t.sign = static_cast<uint8_t>(v.sign);
      break;
    default:
      break;
  }
  t.name = m_->names.add(v.name);
  // After the type records ended (no copies are looked for then): the index takes it in.
  if (!copies_) m_->type_at.try_emplace(t.selfix, static_cast<uint32_t>(m_->types.size() - 1));
}
void ElfSink::record(const MemberValue& v) {
  budget_.charge(1);
  if (!open_type_) return;
  TypeRec& t = *open_type_;
  MemberRec& r = m_->members.emplace_back();
  r.typeix = v.typeix;
  const MemberForm form = kind_info(t.t.kind).members;
  if (form == MemberForm::Enumerator) {
    r.value = v.value;
  } else if (form == MemberForm::BitField) {
    r.bitoffs = v.bitoffs;
    r.bitsize = v.bitsize;
  } else {
    r.offset = v.offset;
  }
  r.name = m_->names.add(v.name);
  ++t.members.count;
}

void ElfSink::unit_processor(uint32_t modix, int processor) {
  m_->processor_of[modix] = processor;
}
void ElfSink::unit_address_form(uint32_t modix, int form) {
  m_->form_of[modix] = form;
}

const std::vector<ElfWarning>& ElfSink::warnings() const {
  return m_->warnings;
}

void ElfSink::finish(const std::function<void(const uint8_t*, size_t)>& write) {
  finish();
  if (own_) write(own_bytes_.data(), own_bytes_.size());
}

void ElfSink::end_types() {
  if (!copies_) return;
  copies_->settle_last(*m_);  // which may drop the last type
  open_type_ = nullptr;
  m_->type_at = copies_->take_index();
  copies_.reset();
}

void ElfSink::finish() {
  end_types();
  const Program p = derive_program(*m_);
  elf::FileSpec spec;
  spec.machine = p.target.machine;
  spec.flags = p.target.flags;
  spec.big_endian = p.target.big_endian;
  const std::vector<ImagePart> parts = image_sections(*m_, p, *out_, spec);
  symbol_sections(*m_, p, parts, spec);
  debug_sections(*m_, p, *out_, spec);
  elf::write_file(spec, *out_);
}

}  // namespace tek
