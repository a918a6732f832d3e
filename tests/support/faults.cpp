#include "support/faults.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace tavrine::testing {

namespace {

Faults g_faults;
int g_calls = 0;  // reads and writes, for interruptEvery
int g_reads = 0;
int g_copies = 0;
int g_writes = 0;

const FileSystemCalls& Real() {
  static const FileSystemCalls real = RealFileSystemCalls();
  return real;
}

bool Interrupt() {
  return g_faults.interruptEvery > 0 && ++g_calls % g_faults.interruptEvery == 0;
}

std::size_t Most(std::size_t count, std::size_t most) {
  return most == 0 ? count : std::min(count, most);
}

// A read or pread: interrupted, failed, or cut to readMost.
template <class Call>
ssize_t Read(std::size_t count, Call call) {
  if (Interrupt()) return errno = EINTR, -1;
  if (g_faults.failReadsAfter >= 0 && g_reads++ >= g_faults.failReadsAfter) return errno = EIO, -1;
  return call(Most(count, g_faults.readMost));
}

FileSystemCalls FaultyCalls() {
  FileSystemCalls calls = Real();
  calls.openat = [](int folder, const char* path, int flags, mode_t mode) {
    // A name may be looked up in its folder, held open, or along its whole path.
    const std::string_view name(path), failing(g_faults.failOpen);
    const bool fails =
        !failing.empty() &&
        (folder == AT_FDCWD ? name == failing
                            : failing.size() > name.size() && failing.ends_with(name) &&
                                  failing[failing.size() - name.size() - 1] == '/');
    if (fails) return errno = EIO, -1;
    return Real().openat(folder, path, flags, mode);
  };
  calls.close = [](int fd) {
    const int result = Real().close(fd);
    return g_faults.closeFails ? (errno = EIO, -1) : result;
  };
  calls.read = [](int fd, void* buffer, std::size_t count) {
    return Read(count, [&](std::size_t n) { return Real().read(fd, buffer, n); });
  };
  calls.pread = [](int fd, void* buffer, std::size_t count, off_t offset) {
    return Read(count, [&](std::size_t n) { return Real().pread(fd, buffer, n, offset); });
  };
  calls.write = [](int fd, const void* buffer, std::size_t count) -> ssize_t {
    if (g_writes++ == g_faults.writesBeforeCut &&
        truncate(g_faults.cutPath.c_str(), g_faults.cutLength) != 0)
      return -1;
    if (Interrupt()) return errno = EINTR, -1;
    std::size_t n = Most(count, g_faults.writeMost);
    if (g_faults.writeBudget >= 0) {
      if (g_faults.writeBudget == 0) return errno = g_faults.writeError, -1;
      n = std::min(n, static_cast<std::size_t>(g_faults.writeBudget));
    }
    const ssize_t written = Real().write(fd, buffer, n);
    if (written > 0 && g_faults.writeBudget > 0) g_faults.writeBudget -= written;
    return written;
  };
  calls.copy_file_range = [](int in, off_t* offIn, int out, off_t* offOut, std::size_t count,
                             unsigned flags) -> ssize_t {
    if (g_faults.copyRefusal == 0)
      return Real().copy_file_range(in, offIn, out, offOut, count, flags);
    if (g_copies++ >= g_faults.kernelCopies) return errno = g_faults.copyRefusal, -1;
    return Real().copy_file_range(in, offIn, out, offOut, Most(count, g_faults.copyMost), flags);
  };
  calls.mmap = [](void* address, std::size_t length, int protection, int flags, int fd,
                  off_t offset) {
    if (g_faults.mapRefusal != 0) return errno = g_faults.mapRefusal, MAP_FAILED;
    return Real().mmap(address, length, protection, flags, fd, offset);
  };
  return calls;
}

}  // namespace

ScopedFaults::ScopedFaults(const Faults& faults)
    : seam_((g_faults = faults, g_calls = 0, g_reads = 0, g_copies = 0, g_writes = 0,
             FaultyCalls())) {}

ScopedFaults::~ScopedFaults() {
  g_faults = Faults{};
}

Faults* ScopedFaults::operator->() {
  return &g_faults;
}

}  // namespace tavrine::testing
