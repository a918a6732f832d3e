// The exceptions of the core, split by whose fault a failure is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tavrine {

// Base of every failure the core raises. The message names the file, entry or value at fault.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The caller's input cannot be used: a name, path, pattern or value that the format or the call
// refuses (a name too long for its record, a volume beyond 2^32 - 1 blocks, an unclosed bracket
// in a pattern).
class InputError : public Error {
 public:
  using Error::Error;
};

// An index outside the entries of a list ("subscript out of range").
class OutOfRangeError : public InputError {
 public:
  using InputError::InputError;
};

// The error for index into a list of count entries, each an `entry` (plural `entries`).
[[noreturn]] inline void ThrowSubscriptOutOfRange(std::int32_t index, std::size_t count,
                                                  const char* entry, const char* entries) {
  throw OutOfRangeError("subscript out of range: index " + std::to_string(index) + ", " +
                        std::to_string(count) + " " + (count == 1 ? entry : entries));
}

// The system refused a file operation: the message names the file and gives the system's reason.
class IoError : public Error {
 public:
  using Error::Error;
};

// A build stopped on request; the unfinished image has been removed.
class CancelledError : public Error {
 public:
  using Error::Error;
};

// An invariant of our own code broke (the layout and the written bytes disagree, say).
class InternalError : public Error {
 public:
  using Error::Error;
};

}  // namespace tavrine
