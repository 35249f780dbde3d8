#include "format/ctx/ctxfile.hpp"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <utility>

namespace tek {

namespace {

// Room for two records: one being read and the start of the next, so that a refill reads at
// least a record's worth.
constexpr size_t BUFFER_SIZE = 2 * MAX_RECORD_SIZE;

// A descriptor read from its current offset, to which a rewind returns.
CtxSource fd_source(int fd) {
  CtxSource s;
  s.read = [fd](uint8_t* p, size_t n) {
    for (;;) {
      const ssize_t got = ::read(fd, p, n);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) throw std::system_error(errno, std::generic_category());
    }
  };
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (start >= 0) s.rewind = [fd, start] { return ::lseek(fd, start, SEEK_SET) >= 0; };
  return s;
}

}  // namespace

CtxReader::CtxReader(std::span<const uint8_t> bytes) : data_(bytes.data()), end_(bytes.size()) {}

CtxReader::CtxReader(int fd) : CtxReader(fd_source(fd)) {}

CtxReader::CtxReader(CtxSource source)
    : streamed_(true), source_(std::move(source)), eof_(false), buffer_(BUFFER_SIZE) {
  data_ = buffer_.data();
}

void CtxReader::fill(size_t n) {
  while (buffered() < n && !eof_) {
    if (at_ > 0) {  // keep the bytes from the position, at the front
      std::memmove(buffer_.data(), buffer_.data() + at_, buffered());
      base_ += at_;
      end_ -= at_;
      at_ = 0;
    }
    const size_t got = source_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0) eof_ = true;
    end_ += got;
  }
}

// The size of the record at the position, decoded into v; 0 when the bytes held end first.
template <class V>
size_t CtxReader::decode(V& v) const {
  const std::span<const uint8_t> bytes(data_ + at_, buffered());
  v = V{};
  // A MEMBER record's layout is chosen by the kind of the TYPE record before it.
  if constexpr (std::is_same_v<V, MemberValue>) v.kind = last_kind_;
  size_t pos = 1;
  if (!decode_record(bytes, pos, v)) return 0;
  // A value with data holds `length` bytes after its fields.
  if constexpr (requires { v.data; }) {
    if (bytes.size() - pos < v.length) return 0;
    v.data = bytes.subspan(pos, v.length);
    pos += v.length;
  }
  return pos;
}

CtxStep CtxReader::read(CtxRecord& rec) {
  rec.offset = pos();
  rec.size = 0;
  fill(1);
  if (buffered() == 0) return CtxStep::End;
  rec.tag = data_[at_];
  size_t size = 0;
  const bool known = visit_tag(rec.tag, [&]<class V>() {
    V& v = rec.value<V>();
    size = decode(v);
    if (size == 0 && !eof_) {  // the record runs past the bytes held: read on, then again
      fill(MAX_RECORD_SIZE);
      size = decode(v);
    }
    // Like the writer, the kind is remembered for the MEMBER records that follow.
    if constexpr (std::is_same_v<V, TypeValue>)
      if (size != 0) last_kind_ = static_cast<uint8_t>(v.kind);
  });
  if (!known) return CtxStep::UnknownTag;
  if (size == 0) return CtxStep::CutShort;
  rec.size = size;
  at_ += size;
  return CtxStep::Record;
}

bool CtxReader::rewind() {
  if (!streamed_) {
    at_ = 0;
  } else {
    if (!source_.rewind || !source_.rewind()) return false;
    at_ = end_ = base_ = 0;
    eof_ = false;
  }
  last_kind_ = 0;
  return true;
}

size_t CtxReader::drain() {
  for (at_ = end_; !eof_; at_ = end_) fill(1);
  return pos();
}

bool known_tag(uint8_t tag) {
  return tag_row(tag) != nullptr;
}

const char* tag_name(uint8_t tag) {
  const TagRow* row = tag_row(tag);
  return row ? row->name : "?";
}

Stream stream_of(uint8_t tag) {
  const TagRow* row = tag_row(tag);
  return row ? row->stream : Stream::Main;
}

const char* stream_name(Stream s) {
  constexpr const char* NAMES[] = {"main", "local", "type"};
  return NAMES[static_cast<size_t>(s)];
}

void print_record(FILE* f, const CtxRecord& rec) {
  visit_record(rec, [&]<class V>(const V& v) { RecordInfo<V>::print(f, v); });
}

CtxProblem framing_problem(CtxStep step, const CtxRecord& rec, const CtxReader& r) {
  char buf[120];
  if (step == CtxStep::UnknownTag)
    std::snprintf(buf, sizeof buf, "unknown record tag %02x; the rest of the file cannot be read",
                  rec.tag);
  else
    std::snprintf(buf, sizeof buf, "%s record cut short by the end of the file (%zu bytes left)",
                  tag_name(rec.tag), r.buffered());
  return {rec.offset, buf};
}

}  // namespace tek
