// The seam under the file access layer: tests replace these calls to force failed opens,
// short reads and failed writes. Production code never touches it. The calls may be made from
// several threads at once (the writer reads ahead).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tavrine {

struct FileSystemCalls {
  // Relative to the folder descriptor dirfd, or to the working folder with AT_FDCWD.
  int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, std::size_t count);
  ssize_t (*pread)(int fd, void* buffer, std::size_t count, off_t offset);
  ssize_t (*write)(int fd, const void* buffer, std::size_t count);
  ssize_t (*copy_file_range)(int fdIn, off_t* offIn, int fdOut, off_t* offOut, std::size_t count,
                             unsigned flags);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fstat)(int fd, struct stat* st);
  int (*fstatat)(int dirfd, const char* path, struct stat* st, int flags);
  int (*fdatasync)(int fd);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  void* (*mmap)(void* address, std::size_t length, int protection, int flags, int fd, off_t offset);
  int (*munmap)(void* address, std::size_t length);
};

// The calls in force; the real system calls unless a test replaced them.
const FileSystemCalls& CurrentFileSystemCalls();
FileSystemCalls RealFileSystemCalls();

// Replaces the calls while it lives (tests only); restores the previous ones when destroyed.
class ScopedFileSystemCalls {
 public:
  explicit ScopedFileSystemCalls(const FileSystemCalls& calls);
  ~ScopedFileSystemCalls();
  ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
  ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;

 private:
  FileSystemCalls previous_;
};

}  // namespace tavrine
