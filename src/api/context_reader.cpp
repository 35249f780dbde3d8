#include "tekconv/context_reader.hpp"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <istream>
#include <new>
#include <system_error>
#include <utility>

#include "api/context_reader_impl.hpp"
#include "format/ctx/dump.hpp"

namespace tekconv {

namespace {

[[noreturn]] void fail_read(int e) {
  throw std::system_error(e != 0 ? e : EIO, std::generic_category());
}

// A stdio stream from where it stands; one whose position is known can go back to it.
tek::CtxSource file_source(FILE* f) {
  tek::CtxSource s;
  s.read = [f](uint8_t* p, size_t n) {
    for (;;) {
      errno = 0;
      const size_t got = std::fread(p, 1, n, f);
      if (got > 0 || !std::ferror(f)) return got;
      if (errno != EINTR) fail_read(errno);
      std::clearerr(f);
    }
  };
  const long start = std::ftell(f);
  if (start >= 0)
    s.rewind = [f, start] {
      std::clearerr(f);
      return std::fseek(f, start, SEEK_SET) == 0;
    };
  return s;
}

tek::CtxSource istream_source(std::istream& in) {
  tek::CtxSource s;
  s.read = [&in](uint8_t* p, size_t n) {
    in.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(n));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0 && in.bad()) fail_read(EIO);
    return got;
  };
  const std::istream::pos_type start = in.tellg();
  if (start != std::istream::pos_type(-1))
    s.rewind = [&in, start] {
      in.clear();
      in.seekg(start);
      return !in.fail();
    };
  return s;
}

ContextField& slot(std::vector<ContextField>& fields, size_t i) {
  if (fields.size() <= i) fields.resize(i + 1);
  ContextField& f = fields[i];
  f.kind = FieldKind::Unsigned;
  f.number = 0;
  f.text.clear();
  f.bytes.clear();
  f.is_code = false;
  f.code_name = {};
  return f;
}

// The fields of a record value, in the order of its layout and named by it.
template <class V>
void public_fields(const V& v, std::vector<ContextField>& fields) {
  size_t n = 0;
  tek::for_each_field(v, [&](const tek::Field<V>& f) {
    ContextField& out = slot(fields, n++);
    out.name = f.name;
    if (f.form == tek::FieldForm::Name) {
      out.kind = FieldKind::String;
      out.text.assign(tek::name_of(v));
      return;
    }
    out.number = v.*f.member;
    if (tek::reads_signed(v, f)) out.kind = FieldKind::Signed;
    const char* code = nullptr;
    if (f.form == tek::FieldForm::Kind) {
      out.is_code = true;
      code = tek::find_kind_name(static_cast<uint8_t>(out.number));
    } else if (f.form == tek::FieldForm::Class) {
      out.is_code = true;
      code = tek::find_class_name(static_cast<uint8_t>(out.number));
    }
    if (code) out.code_name = code;
  });
  if constexpr (requires { v.data; }) {
    ContextField& out = slot(fields, n++);
    out.name = tek::OBJECT_DATA_NAME;
    out.kind = FieldKind::Bytes;
    out.bytes.assign(v.data.begin(), v.data.end());
  }
  fields.resize(n);
}

}  // namespace

ContextReader::Impl::~Impl() {
  if (line_stream) std::fclose(line_stream);
  std::free(line);
  if (fd >= 0) ::close(fd);
}

const ContextField* ContextRecord::field(std::string_view field_name) const {
  for (const ContextField& f : fields)
    if (f.name == field_name) return &f;
  return nullptr;
}

ContextReader::ContextReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Expected<ContextReader> ContextReader::open(const std::string& path) {
  try {
    auto impl = std::make_unique<Impl>();
    impl->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl->fd < 0) {
      const int e = errno;
      return Error(Error::Code::System, "cannot open " + path + ": " + std::strerror(e),
                   std::nullopt, e);
    }
    impl->reader = std::make_unique<tek::CtxReader>(impl->fd);
    return ContextReader(std::move(impl));
  } catch (const std::bad_alloc&) {
    return memory_error();
  }
}

ContextReader::ContextReader(std::span<const uint8_t> bytes) : impl_(std::make_unique<Impl>()) {
  impl_->reader = std::make_unique<tek::CtxReader>(bytes);
}

ContextReader::ContextReader(FILE* stream) : impl_(std::make_unique<Impl>()) {
  impl_->reader = std::make_unique<tek::CtxReader>(file_source(stream));
}

ContextReader::ContextReader(std::istream& stream) : impl_(std::make_unique<Impl>()) {
  impl_->reader = std::make_unique<tek::CtxReader>(istream_source(stream));
}

ContextReader::ContextReader(ContextReader&&) noexcept = default;
ContextReader& ContextReader::operator=(ContextReader&&) noexcept = default;
ContextReader::~ContextReader() = default;

Expected<const ContextRecord*> ContextReader::next() {
  Impl& m = *impl_;
  m.have_record = false;
  try {
    const tek::CtxStep step = m.reader->read(m.rec);
    if (step == tek::CtxStep::End) return nullptr;
    if (step != tek::CtxStep::Record) {
      tek::CtxProblem p = tek::framing_problem(step, m.rec, *m.reader);
      return Error(Error::Code::Malformed, std::move(p.text), p.offset);
    }
    ContextRecord& r = m.record;
    r.offset = m.rec.offset;
    r.size = m.rec.size;
    r.tag = m.rec.tag;
    r.name = tek::tag_name(m.rec.tag);
    tek::visit_record(m.rec, [&]<class V>(const V& v) { public_fields(v, r.fields); });
    m.have_record = true;
    return &r;
  } catch (const std::system_error& e) {
    return reading_error(e);
  } catch (const std::bad_alloc&) {
    return memory_error();
  }
}

std::string_view ContextReader::listing() {
  Impl& m = *impl_;
  if (!m.have_record) return {};
  if (!m.line_stream) {
    m.line_stream = ::open_memstream(&m.line, &m.line_size);
    if (!m.line_stream) throw std::bad_alloc();
  }
  // The dump printer begins its line with "\n".
  std::rewind(m.line_stream);
  tek::print_record(m.line_stream, m.rec);
  std::fflush(m.line_stream);
  const long n = std::ftell(m.line_stream);
  if (n <= 1) return {};
  return {m.line + 1, static_cast<size_t>(n - 1)};
}

uint64_t ContextReader::offset() const {
  return impl_->reader->pos();
}

}  // namespace tekconv
