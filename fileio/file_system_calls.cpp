#include "fileio/file_system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "fileio/long_paths.h"

namespace tavrine {

namespace {

// Plain functions rather than the libc symbols themselves: open is variadic, and the off_t
// flavours of copy_file_range differ between libc versions.
// Paths beyond the system's limit are reached in stretches (a deep folder import makes them).
int RealOpenat(int dirfd, const char* path, int flags, mode_t mode) {
  const int fd = ::openat(dirfd, path, flags, mode);
  return fd < 0 && errno == ENAMETOOLONG && dirfd == AT_FDCWD ? OpenLocalPath(path, flags, mode)
                                                              : fd;
}
int RealClose(int fd) {
  return ::close(fd);
}
ssize_t RealRead(int fd, void* buffer, std::size_t count) {
  return ::read(fd, buffer, count);
}
ssize_t RealPread(int fd, void* buffer, std::size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t RealWrite(int fd, const void* buffer, std::size_t count) {
  return ::write(fd, buffer, count);
}
ssize_t RealCopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, std::size_t count,
                          unsigned flags) {
  return ::copy_file_range(fdIn, offIn, fdOut, offOut, count, flags);
}
off_t RealLseek(int fd, off_t offset, int whence) {
  return ::lseek(fd, offset, whence);
}
int RealFstat(int fd, struct stat* st) {
  return ::fstat(fd, st);
}
int RealFstatat(int dirfd, const char* path, struct stat* st, int flags) {
  const int result = ::fstatat(dirfd, path, st, flags);
  if (result == 0 || errno != ENAMETOOLONG || dirfd != AT_FDCWD) return result;
  return (flags & AT_SYMLINK_NOFOLLOW) != 0 ? LstatLocalPath(path, st) : StatLocalPath(path, st);
}
int RealFdatasync(int fd) {
  return ::fdatasync(fd);
}
int RealFsync(int fd) {
  return ::fsync(fd);
}
int RealRename(const char* from, const char* to) {
  return ::rename(from, to);
}
void* RealMmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  return ::mmap(address, length, protection, flags, fd, offset);
}
int RealMunmap(void* address, std::size_t length) {
  return ::munmap(address, length);
}

FileSystemCalls& CallsInForce() {
  static FileSystemCalls calls = RealFileSystemCalls();
  return calls;
}

}  // namespace

FileSystemCalls RealFileSystemCalls() {
  return FileSystemCalls{RealOpenat,        RealClose,  RealRead,  RealPread,   RealWrite,
                         RealCopyFileRange, RealLseek,  RealFstat, RealFstatat, RealFdatasync,
                         RealFsync,         RealRename, RealMmap,  RealMunmap};
}

const FileSystemCalls& CurrentFileSystemCalls() {
  return CallsInForce();
}

ScopedFileSystemCalls::ScopedFileSystemCalls(const FileSystemCalls& calls)
    : previous_(CallsInForce()) {
  CallsInForce() = calls;
}

ScopedFileSystemCalls::~ScopedFileSystemCalls() {
  CallsInForce() = previous_;
}

}  // namespace tavrine
