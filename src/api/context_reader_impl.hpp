// The state behind tekconv::ContextReader, shared by the reader and the structure check.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "format/ctx/ctxfile.hpp"
#include "tekconv/context_reader.hpp"

namespace tekconv {

struct ContextReader::Impl {
  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl();

  int fd = -1;  // the descriptor of a file opened by path, closed with the reader
  std::unique_ptr<tek::CtxReader> reader;
  tek::CtxRecord rec;  // the record last read
  bool have_record = false;
  ContextRecord record;  // rec, as the public record

  // The listing line of rec is printed here.
  FILE* line_stream = nullptr;
  char* line = nullptr;
  size_t line_size = 0;
};

struct ContextReaderAccess {
  // The reader of a ContextReader; the record it last gave is gone.
  static tek::CtxReader& reader(ContextReader& r) {
    r.impl_->have_record = false;
    return *r.impl_->reader;
  }
};

// The Error of a reading that failed: the system's reason, or memory.
inline Error reading_error(const std::system_error& e) {
  const int code = e.code().value();
  return Error(Error::Code::System, std::string("cannot read: ") + std::strerror(code),
               std::nullopt, code);
}
inline Error memory_error() {
  return Error(Error::Code::OutOfMemory, "out of memory");
}

}  // namespace tekconv
