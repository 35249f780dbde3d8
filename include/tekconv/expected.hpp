// A result that holds either a value or the error that prevented it, for the operations of the
// library outside a conversion run (opening and reading files). Bad input never throws: it is
// an Error, with the byte offset in the file where that is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tekconv {

class Error {
 public:
  enum class Code : uint8_t {
    Malformed,    // the bytes cannot be read as the format has them; the offset names where
    System,       // the system refused an open or a read; system_error() holds its errno
    OutOfMemory,  // memory ran out
    Usage,        // a request that cannot be carried out as given (a wrong command line)
  };

  Error(Code code, std::string message, std::optional<uint64_t> offset = std::nullopt,
        int system_error = 0)
      : code_(code), message_(std::move(message)), offset_(offset), errno_(system_error) {}

  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  // The byte offset in the file that the error concerns, when there is one.
  std::optional<uint64_t> offset() const { return offset_; }
  // The errno of a System error, else 0.
  int system_error() const { return errno_; }

 private:
  Code code_;
  std::string message_;
  std::optional<uint64_t> offset_;
  int errno_;
};

template <class T>
class Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Expected(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  // True when the value is held.
  explicit operator bool() const { return v_.index() == 0; }

  // The value; only when it is held.
  T& operator*() { return std::get<0>(v_); }
  const T& operator*() const { return std::get<0>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }

  // The error; only when no value is held.
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace tekconv
