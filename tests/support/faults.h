// Faults injected through the system-call seam (fileio/file_system_calls.h): while a
// ScopedFaults lives, the file access layer meets the failures its Faults describe. The seam is
// process-wide, so one ScopedFaults at a time.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fileio/file_system_calls.h"

namespace tavrine::testing {

struct Faults {
  std::string failOpen;           // opening this path fails with EIO
  std::size_t readMost = 0;       // a read or pread gives at most this many bytes (0: any)
  std::size_t writeMost = 0;      // a write takes at most this many bytes (0: any)
  int interruptEvery = 0;         // every n-th read and write fails with EINTR first (0: never)
  std::int64_t writeBudget = -1;  // bytes written before writes fail with writeError (-1: any)
  int writeError = ENOSPC;
  int failReadsAfter = -1;  // reads after this many fail with EIO (-1: never)
  // copy_file_range copies at most copyMost bytes kernelCopies times, then fails with
  // copyRefusal (0: the real call throughout).
  int copyRefusal = 0;
  int kernelCopies = 0;
  std::size_t copyMost = 1000;
  bool closeFails = false;  // close closes, then reports EIO
  int mapRefusal = 0;       // mmap fails with this (0: the real call)
  // Once writesBeforeCut writes have been made, the file cutPath is cut to cutLength bytes.
  int writesBeforeCut = -1;
  std::string cutPath;
  std::int64_t cutLength = 0;
};

class ScopedFaults {
 public:
  explicit ScopedFaults(const Faults& faults = {});
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
  // The faults in force, to be set or changed at any time; budgets and counts run on.
  Faults* operator->();

 private:
  ScopedFileSystemCalls seam_;
};

}  // namespace tavrine::testing
