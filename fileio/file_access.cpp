#include "fileio/file_access.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>

#include "fileio/file_system_calls.h"
#include "fileio/paths.h"

namespace tavrine {

namespace {

// One system call moves at most this much; Linux caps a single transfer a little below 2 GiB.
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;
// The buffer of the copy fallback, for file systems that refuse copy_file_range.
constexpr std::int64_t kCopyBuffer = std::int64_t{1} << 20;
// A copy through a mapping writes this much at a time, and maps at most kMappedWindow at once:
// what is mapped and read counts as the process's memory.
constexpr std::int64_t kMappedPiece = std::int64_t{512} << 10;
constexpr std::int64_t kMappedWindow = std::int64_t{4} << 20;

const FileSystemCalls& Sys() {
  return CurrentFileSystemCalls();
}

std::size_t Chunk(std::int64_t remaining) {
  return static_cast<std::size_t>(std::min(remaining, kMaxTransfer));
}

// The result of an operation on a record that holds no usable file, or nullopt for an open one.
// A closed record (Handle -1) gives 0 and touches nothing. A record that was never opened holds
// Handle 0, which on POSIX is standard input: it counts as an invalid handle and gives -1.
std::optional<std::int64_t> WithoutFile(const FileRecord& record) {
  if (record.Handle == -1) return 0;
  if (record.Handle < -1 || (record.Handle == 0 && record.Path.empty())) return -1;
  return std::nullopt;
}

int OpenFlags(std::uint32_t access, std::uint32_t disposition) {
  int flags = O_CLOEXEC;
  switch (access & GENERIC_READ_WRITE) {
    case GENERIC_READ_WRITE:
      flags |= O_RDWR;
      break;
    case GENERIC_WRITE:
      flags |= O_WRONLY;
      break;
    case GENERIC_READ:
      flags |= O_RDONLY;
      break;
    default:
      return -1;
  }
  switch (disposition) {
    case CREATE_ALWAYS:
      return flags | O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
      return flags;
    default:
      return -1;
  }
}

// Writes all of buffer, resuming after partial writes and interruptions. The bytes written, or
// -1 when not even the first write succeeded.
std::int64_t WriteAll(int fd, const char* buffer, std::int64_t count) {
  std::int64_t total = 0;
  while (total < count) {
    ssize_t n = Sys().write(fd, buffer + total, Chunk(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return total == 0 && n < 0 ? -1 : total;
    total += n;
  }
  return total;
}

// Reads until count bytes or the end of the file, from offset, or from the file position when
// offset is negative. The bytes read, or -1 when not even the first read succeeded.
std::int64_t ReadUpTo(int fd, char* buffer, std::int64_t count, std::int64_t offset) {
  std::int64_t total = 0;
  while (total < count) {
    ssize_t n = offset < 0 ? Sys().read(fd, buffer + total, Chunk(count - total))
                           : Sys().pread(fd, buffer + total, Chunk(count - total),
                                         static_cast<off_t>(offset + total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return total == 0 && n < 0 ? -1 : total;
    total += n;
  }
  return total;
}

bool KernelRefusesCopy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP;
}

// Copies through a buffer, from fromOffset onward, to the position of fdOut.
std::int64_t CopyThroughBuffer(int fdIn, std::int64_t fromOffset, int fdOut, std::int64_t count) {
  const std::int64_t size = std::min(count, kCopyBuffer);
  auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(size));
  std::int64_t total = 0;
  while (total < count) {
    std::int64_t got =
        ReadUpTo(fdIn, buffer.get(), std::min(size, count - total), fromOffset + total);
    if (got <= 0) return total == 0 && got < 0 ? -1 : total;
    std::int64_t put = WriteAll(fdOut, buffer.get(), got);
    if (put < 0) return total == 0 ? -1 : total;
    total += put;
    if (put < got) break;
  }
  return total;
}

// Where path is looked up: the name after its last "/" in folder, or the whole path when no
// folder is given or the path names no file after its last "/".
struct Lookup {
  int at;
  const char* name;
};

Lookup LookupIn(int folder, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (folder < 0 || slash + 1 >= path.size()) return {AT_FDCWD, path.c_str()};
  return {folder, path.c_str() + (slash == std::string::npos ? 0 : slash + 1)};
}

int OpenRetrying(Lookup lookup, int flags) {
  int fd;
  do {
    fd = Sys().openat(lookup.at, lookup.name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? -1 : fd;
}

std::int64_t LengthAt(Lookup lookup) {
  struct stat st {};
  if (Sys().fstatat(lookup.at, lookup.name, &st, 0) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t Seek(int fd, std::int64_t distance, int whence) {
  off_t result = Sys().lseek(fd, static_cast<off_t>(distance), whence);
  return result < 0 ? -1 : static_cast<std::int64_t>(result);
}

}  // namespace

FileRecord OpenFileRecord(const std::string& path, std::uint32_t access,
                          std::uint32_t /*shareMode*/, std::uint32_t disposition) {
  FileRecord record;
  record.Path = path;
  const int flags = OpenFlags(access, disposition);
  if (flags == -1) {
    errno = EINVAL;
    record.Handle = -1;
    return record;
  }
  record.Handle = OpenRetrying({AT_FDCWD, path.c_str()}, flags);
  return record;
}

int CloseFileRecord(FileRecord& record) {
  // close is not retried on EINTR: on Linux the descriptor is gone either way.
  const int result = WithoutFile(record) ? 0 : Sys().close(record.Handle);
  record.Handle = -1;
  record.Path.clear();
  return result < 0 ? -1 : 0;
}

std::int64_t ReadFileRecord(const FileRecord& record, void* buffer, std::int64_t count) {
  if (auto result = WithoutFile(record)) return *result;
  if (count < 0) return -1;
  return ReadUpTo(record.Handle, static_cast<char*>(buffer), count, -1);
}

std::int64_t WriteFileRecord(const FileRecord& record, const void* buffer, std::int64_t count) {
  if (auto result = WithoutFile(record)) return *result;
  if (count < 0) return -1;
  return WriteAll(record.Handle, static_cast<const char*>(buffer), count);
}

std::int64_t ReadFileRecordAt(const FileRecord& record, void* buffer, std::int64_t count,
                              std::int64_t offset) {
  if (auto result = WithoutFile(record)) return *result;
  if (count < 0 || offset < 0) return -1;
  return ReadUpTo(record.Handle, static_cast<char*>(buffer), count, offset);
}

std::int64_t ReadFileRecordOnceAt(const FileRecord& record, void* buffer, std::int64_t count,
                                  std::int64_t offset) {
  if (auto result = WithoutFile(record)) return *result;
  if (count < 0 || offset < 0) return -1;
  for (;;) {
    const ssize_t n = Sys().pread(record.Handle, buffer, Chunk(count), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<std::int64_t>(n);
  }
}

namespace {

// The type of the file system that holds fd; 0 when unknown.
decltype(statfs::f_type) FileSystemType(int fd) {
  struct statfs facts {};
  return fstatfs(fd, &facts) == 0 ? facts.f_type : 0;
}

// Copies count bytes from offset of the file from to the current position of to through a
// mapping of the source, in windows, each output write ending on a page boundary. Gives what was
// copied, or nullopt when the source cannot be mapped. Past the end of a source that ends early
// (also one cut short meanwhile) a write fails with EFAULT, never a signal, since only the kernel
// touches the mapping: the copy then stops short, and the caller finds out why.
std::optional<std::int64_t> CopyThroughMapping(int from, std::int64_t offset, int to,
                                               std::int64_t position, std::int64_t count) {
  const std::int64_t page = sysconf(_SC_PAGESIZE);
  std::int64_t total = 0;
  struct stat st {};
  while (total < count) {
    // Not past the source's end: the rest of its last page would read as zeros.
    if (Sys().fstat(from, &st) != 0) return total == 0 ? std::nullopt : std::optional(total);
    const std::int64_t start = offset + total;
    const std::int64_t window = std::min({count - total, kMappedWindow, st.st_size - start});
    if (window <= 0) break;
    const std::int64_t base = start / page * page;
    const auto length = static_cast<std::size_t>(start - base + window);
    void* map = Sys().mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, from,
                           static_cast<off_t>(base));
    if (map == MAP_FAILED) {
      if (total == 0) return std::nullopt;
      break;
    }
    madvise(map, length, MADV_SEQUENTIAL);
    const char* bytes = static_cast<const char*>(map) + (start - base);
    std::int64_t done = 0;
    bool stopped = false;
    while (done < window) {
      const std::int64_t toPage = (page - (position + total + done) % page) % page;
      const std::int64_t piece = std::min(window - done, toPage != 0 ? toPage : kMappedPiece);
      const ssize_t n = Sys().write(to, bytes + done, static_cast<std::size_t>(piece));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        stopped = true;
        break;
      }
      done += n;
    }
    Sys().munmap(map, length);
    total += done;
    if (stopped) break;
  }
  // The page that holds the end of a source cut short meanwhile reads as zeros past the end:
  // those are not the file's, so the output goes back to where the file ended (the zeros stay
  // beyond it, inside the range asked for).
  if (Sys().fstat(from, &st) == 0 && st.st_size < offset + total) {
    const std::int64_t beyond = offset + total - std::max<std::int64_t>(st.st_size, offset);
    if (Sys().lseek(to, static_cast<off_t>(-beyond), SEEK_CUR) >= 0) total -= beyond;
  }
  return total;
}

}  // namespace

std::int64_t CopyFileRecordRange(const FileRecord& from, std::int64_t fromOffset,
                                 const FileRecord& to, std::int64_t count) {
  const auto fromResult = WithoutFile(from);
  const auto toResult = WithoutFile(to);
  if (fromResult || toResult) return std::min(fromResult.value_or(0), toResult.value_or(0));
  if (count < 0 || fromOffset < 0) return -1;

  // The kernel's copy between offsets that differ within a page writes every output page in two
  // parts, which costs about a quarter more (ext4) than whole pages written from a mapping of
  // the source; and where the kernel's copy is a plain copy of pages anyway (ext2/3/4, tmpfs),
  // the mapping is faster still. Elsewhere offsets that agree keep the kernel's copy, which some
  // file systems turn into shared extents or a copy on the server. A source on tmpfs is never
  // mapped: reading its holes through a mapping would fill them.
  const off_t position = Sys().lseek(to.Handle, 0, SEEK_CUR);
  const std::int64_t page = sysconf(_SC_PAGESIZE);
  const auto outputType = FileSystemType(to.Handle);
  const bool pagesOnly = outputType == EXT4_SUPER_MAGIC || outputType == TMPFS_MAGIC;
  if (position >= 0 && count >= 16 * page && FileSystemType(from.Handle) != TMPFS_MAGIC &&
      ((position - fromOffset) % page != 0 || pagesOnly)) {
    if (const auto copied = CopyThroughMapping(from.Handle, fromOffset, to.Handle, position, count))
      return *copied;
  }

  std::int64_t total = 0;
  off_t offset = static_cast<off_t>(fromOffset);
  while (total < count) {
    ssize_t n =
        Sys().copy_file_range(from.Handle, &offset, to.Handle, nullptr, Chunk(count - total), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && KernelRefusesCopy(errno)) {
      std::int64_t rest =
          CopyThroughBuffer(from.Handle, fromOffset + total, to.Handle, count - total);
      if (rest < 0) return total == 0 ? -1 : total;
      return total + rest;
    }
    if (n <= 0) return total == 0 && n < 0 ? -1 : total;
    total += n;
  }
  return total;
}

std::int64_t SeekFileRecord(const FileRecord& record, std::int64_t distance, int origin) {
  if (auto result = WithoutFile(record)) return *result;
  switch (origin) {
    case SEEK_FROM_BEGIN:
      return Seek(record.Handle, distance, SEEK_SET);
    case SEEK_FROM_CURRENT:
      return Seek(record.Handle, distance, SEEK_CUR);
    case SEEK_FROM_END:
      return Seek(record.Handle, distance, SEEK_END);
    default:
      return -1;
  }
}

std::int64_t FileRecordPosition(const FileRecord& record) {
  return SeekFileRecord(record, 0, SEEK_FROM_CURRENT);
}

std::int64_t FileRecordSize(const FileRecord& record) {
  if (auto result = WithoutFile(record)) return *result;
  struct stat st {};
  if (Sys().fstat(record.Handle, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t FileLengthByPath(const std::string& path) {
  return LengthAt({AT_FDCWD, path.c_str()});
}

int OpenFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  return OpenRetrying({AT_FDCWD, folder.c_str()}, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

void CloseFolder(int folder) {
  if (folder >= 0) Sys().close(folder);
}

FileRecord OpenInputFileRecord(int folder, const std::string& path, unsigned& fileType) {
  fileType = 0;
  FileRecord record;
  record.Path = path;
  record.Handle =
      OpenRetrying(LookupIn(folder, path), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (record.Handle == -1) return record;
  // O_NONBLOCK stays: reads of a regular file ignore it, and nothing else is read.
  struct stat st {};
  if (Sys().fstat(record.Handle, &st) != 0) {
    const int error = errno;
    CloseFileRecord(record);
    record.Path = path;
    errno = error;
    return record;
  }
  fileType = static_cast<unsigned>(st.st_mode & S_IFMT);
  if (!S_ISREG(st.st_mode)) {
    CloseFileRecord(record);
    record.Path = path;
    errno = 0;
  }
  return record;
}

std::int64_t FileLengthIn(int folder, const std::string& path) {
  return LengthAt(LookupIn(folder, path));
}

LinkTarget ReadLinkTarget(const std::string& path) {
  char text[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) return {};
  LinkTarget link;
  link.text.assign(text, static_cast<std::size_t>(length));
  link.path = link.text.front() == '/' ? link.text : FolderOfPath(path) + "/" + link.text;
  return link;
}

}  // namespace tavrine
