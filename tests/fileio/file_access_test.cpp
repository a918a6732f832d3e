#include "fileio/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "fileio/file_system_calls.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

using testing::ReadFile;
using testing::TempDir;

FileRecord OpenNew(const std::string& path) {
  return OpenFileRecord(path, GENERIC_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS);
}
FileRecord OpenRead(const std::string& path) {
  return OpenFileRecord(path, GENERIC_READ, SHARE_READ_WRITE, OPEN_EXISTING);
}

// A closed record (Handle -1) gives 0; a record never opened (Handle 0, no path) gives -1 and
// never reaches standard input. Neither touches the buffer nor makes a system call: every call
// of the seam is null here, so reaching one crashes the test.
TEST(FileAccess, RecordsWithoutAFileMakeNoCalls) {
  FileRecord closed{-1, ""};
  FileRecord never;
  ScopedFileSystemCalls seam(FileSystemCalls{});
  for (auto [record, expected] : {std::pair{closed, 0}, {never, -1}}) {
    SCOPED_TRACE(expected);
    char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(ReadFileRecord(record, buffer, 4), expected);
    EXPECT_EQ(WriteFileRecord(record, buffer, 4), expected);
    EXPECT_EQ(ReadFileRecordAt(record, buffer, 4, 0), expected);
    EXPECT_EQ(SeekFileRecord(record, 10, SEEK_FROM_BEGIN), expected);
    EXPECT_EQ(FileRecordPosition(record), expected);
    EXPECT_EQ(FileRecordSize(record), expected);
    EXPECT_EQ(CopyFileRecordRange(record, 0, record, 4), expected);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(CloseFileRecord(record), 0);
    EXPECT_EQ(CloseFileRecord(record), 0);  // twice is harmless
    EXPECT_EQ(record.Handle, -1);
  }
}

// When standard input is closed, open may well return descriptor 0: that record is open.
TEST(FileAccess, OpenedRecordWithDescriptorZeroIsUsed) {
  static int readFd = -2;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.openat = [](int, const char*, int, mode_t) { return 0; };
  calls.read = [](int fd, void*, std::size_t) -> ssize_t { return readFd = fd, 0; };
  ScopedFileSystemCalls seam(calls);
  FileRecord record = OpenRead("/some/file");
  EXPECT_EQ(record.Handle, 0);
  char buffer[4];
  EXPECT_EQ(ReadFileRecord(record, buffer, 4), 0);
  EXPECT_EQ(readFd, 0);
}

TEST(FileAccess, FailedOpenKeepsPathAndFailedCallsGiveMinusOne) {
  TempDir dir;
  const std::string missing = dir / "no/such/folder/file.bin";
  FileRecord record = OpenNew(missing);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, missing);
  EXPECT_EQ(FileLengthByPath(dir / "absent"), -1);

  // A file opened for reading cannot be written, and one opened for writing cannot be read.
  const std::string path = dir.WriteFile("r.bin", "abc");
  FileRecord reader = OpenRead(path);
  ASSERT_GE(reader.Handle, 0);
  EXPECT_EQ(WriteFileRecord(reader, "x", 1), -1);
  EXPECT_EQ(SeekFileRecord(reader, -1, SEEK_FROM_BEGIN), -1);
  EXPECT_EQ(SeekFileRecord(reader, 0, 7), -1);
  CloseFileRecord(reader);
  FileRecord writer = OpenFileRecord(path, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_GE(writer.Handle, 0);
  char buffer[3];
  EXPECT_EQ(ReadFileRecord(writer, buffer, 3), -1);
  CloseFileRecord(writer);
  EXPECT_EQ(ReadFile(path), "abc");  // OPEN_EXISTING does not truncate

  // Values without a meaning here fail like a refused open.
  EXPECT_EQ(OpenFileRecord(path, 0, 0, OPEN_EXISTING).Handle, -1);
  EXPECT_EQ(OpenFileRecord(path, GENERIC_READ, 0, 1).Handle, -1);
}

TEST(FileAccess, PositionsSizesAndCreateAlways) {
  TempDir dir;
  const std::string path = dir.WriteFile("f.bin", "old contents that are long");
  const mode_t previousMask = umask(022);
  FileRecord record = OpenFileRecord(path, GENERIC_READ_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS);
  FileRecord fresh = OpenNew(dir / "m.bin");
  umask(previousMask);
  ASSERT_GE(record.Handle, 0);
  // Created with 0666 before the umask, and not inherited by child programs.
  struct stat st {};
  ASSERT_EQ(stat((dir / "m.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_NE(fcntl(fresh.Handle, F_GETFD) & FD_CLOEXEC, 0);
  CloseFileRecord(fresh);

  EXPECT_EQ(record.Path, path);
  EXPECT_EQ(FileRecordSize(record), 0);  // truncated
  EXPECT_EQ(WriteFileRecord(record, "hello", 5), 5);
  EXPECT_EQ(WriteFileRecord(record, " world", 6), 6);
  EXPECT_EQ(FileRecordPosition(record), 11);
  EXPECT_EQ(FileRecordSize(record), 11);
  EXPECT_EQ(WriteFileRecord(record, "x", -1), -1);

  EXPECT_EQ(SeekFileRecord(record, 4, SEEK_FROM_BEGIN), 4);
  EXPECT_EQ(SeekFileRecord(record, 2, SEEK_FROM_CURRENT), 6);
  EXPECT_EQ(SeekFileRecord(record, -3, SEEK_FROM_END), 8);
  char buffer[8] = {};
  // A read that crosses the end gives what is there, and at the end 0.
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), "rld");
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 0);
  // pread leaves the position alone.
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 5, 6), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 5, 100), 0);
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 5, -1), -1);
  EXPECT_EQ(FileRecordPosition(record), 11);
  EXPECT_EQ(FileLengthByPath(path), 11);

  // Positions are 64-bit: beyond 4 GiB nothing is cut to 32 bits (a sparse file).
  const std::int64_t far = (std::int64_t{5} << 30) + 3;
  EXPECT_EQ(SeekFileRecord(record, far, SEEK_FROM_BEGIN), far);
  EXPECT_EQ(WriteFileRecord(record, "!", 1), 1);
  EXPECT_EQ(FileRecordSize(record), far + 1);
  EXPECT_EQ(FileLengthByPath(path), far + 1);
  EXPECT_EQ(CloseFileRecord(record), 0);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, "");
}

// --- fault injection through the seam ---

TEST(FileAccessFaults, ShortInterruptedAndFailedReads) {
  static int reads = 0;
  static int failFrom = 1000;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.read = [](int fd, void* buffer, std::size_t count) -> ssize_t {
    if (reads >= failFrom) return errno = EIO, -1;
    if (reads++ % 2 == 0) return errno = EINTR, -1;
    return ::read(fd, buffer, count < 3 ? count : 3);
  };
  calls.pread = [](int fd, void* buffer, std::size_t count, off_t offset) -> ssize_t {
    return ::pread(fd, buffer, count < 2 ? count : 2, offset);
  };
  TempDir dir;
  FileRecord record = OpenRead(dir.WriteFile("s.txt", "0123456789"));
  ScopedFileSystemCalls seam(calls);
  char buffer[16] = {};
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 8);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 16, 3), 7);
  EXPECT_EQ(std::string(buffer, 7), "3456789");
  // One read only: what the system gives at once.
  EXPECT_EQ(ReadFileRecordOnceAt(record, buffer, 16, 3), 2);
  EXPECT_EQ(std::string(buffer, 2), "34");

  // A failure after some bytes gives those bytes; a failure first gives -1.
  SeekFileRecord(record, 0, SEEK_FROM_BEGIN);
  reads = 1;
  failFrom = 2;
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 3);
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), -1);
  CloseFileRecord(record);
}

TEST(FileAccessFaults, PartialWritesAreResumedAndFailuresReported) {
  static int writes = 0;
  static int failAt = -1;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.write = [](int fd, const void* buffer, std::size_t count) -> ssize_t {
    if (writes++ == failAt) return errno = ENOSPC, -1;
    if (writes % 3 == 0) return errno = EINTR, -1;
    return ::write(fd, buffer, count < 5 ? count : 5);
  };
  TempDir dir;
  FileRecord record = OpenNew(dir / "w.bin");
  ScopedFileSystemCalls seam(calls);
  const std::string text = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(WriteFileRecord(record, text.data(), static_cast<std::int64_t>(text.size())),
            static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(ReadFile(dir / "w.bin"), text);
  // The first write fails: -1, nothing written. A later one fails: the bytes that went out.
  writes = 0;
  failAt = 0;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), -1);
  writes = 0;
  failAt = 1;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), 5);
  EXPECT_EQ(ReadFile(dir / "w.bin"), text + "abcde");
  // A close that reports a late write failure gives -1 and still releases the record.
  calls.close = [](int fd) { return ::close(fd), errno = EIO, -1; };
  ScopedFileSystemCalls failingClose(calls);
  const int fd = record.Handle;
  EXPECT_EQ(CloseFileRecord(record), -1);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, "");
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the descriptor is gone
}

// --- copying ranges: in the kernel, or through a buffer when the kernel refuses ---

int gRefusal = 0;
int gKernelCopies = 0;
ssize_t RefusingCopy(int, off_t*, int, off_t*, std::size_t, unsigned) {
  return errno = gRefusal, -1;
}
// Copies a little in the kernel, then refuses: the fallback carries on where it stopped.
ssize_t CopyThenRefuse(int in, off_t* offIn, int out, off_t* offOut, std::size_t count,
                       unsigned flags) {
  if (gKernelCopies++ < 2) {
    return ::copy_file_range(in, offIn, out, offOut, count < 1000 ? count : 1000, flags);
  }
  return errno = EXDEV, -1;
}

TEST(CopyRange, CopiesExactlyTheRangeAfterWhatIsThere) {
  constexpr std::int64_t kSize = 3 * 1024 * 1024 + 517;  // beyond the 1 MiB buffer
  TempDir dir;
  const std::string source = dir.WritePatternFile("src.bin", kSize, 7);
  const std::string data = ReadFile(source);
  struct Case {
    std::int64_t offset, count, expected;
  };
  const Case cases[] = {{0, kSize, kSize},
                        {12345, 2 * 1024 * 1024 + 1, 2 * 1024 * 1024 + 1},
                        {kSize - 10, 100, 10},
                        {kSize, 100, 0},
                        {5, 0, 0}};
  struct Seam {
    const char* name;
    int refusal;  // 0: the real call
  };
  for (const Seam& s :
       {Seam{"kernel", 0}, Seam{"EXDEV", EXDEV}, Seam{"EINVAL", EINVAL}, Seam{"ENOSYS", ENOSYS},
        Seam{"EOPNOTSUPP", EOPNOTSUPP}, Seam{"kernel, then EXDEV", -1}}) {
    FileSystemCalls calls = RealFileSystemCalls();
    if (s.refusal != 0) calls.copy_file_range = s.refusal > 0 ? RefusingCopy : CopyThenRefuse;
    gRefusal = s.refusal;
    ScopedFileSystemCalls seam(calls);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(s.name) + " at " + std::to_string(c.offset));
      gKernelCopies = 0;
      FileRecord in = OpenRead(source);
      FileRecord out = OpenNew(dir / "out.bin");
      ASSERT_EQ(WriteFileRecord(out, "HDR", 3), 3);
      EXPECT_EQ(CopyFileRecordRange(in, c.offset, out, c.count), c.expected);
      EXPECT_EQ(FileRecordPosition(out), 3 + c.expected);
      EXPECT_EQ(FileRecordPosition(in), 0);  // the source position is not used
      CloseFileRecord(in);
      CloseFileRecord(out);
      const std::string got = ReadFile(dir / "out.bin");
      EXPECT_TRUE(got == "HDR" + data.substr(static_cast<std::size_t>(c.offset),
                                             static_cast<std::size_t>(c.expected)));
    }
  }
}

TEST(CopyRange, FailuresGiveMinusOne) {
  TempDir dir;
  FileRecord in = OpenRead(dir.WriteFile("src.bin", "0123456789"));
  FileRecord out = OpenNew(dir / "out.bin");
  FileSystemCalls calls = RealFileSystemCalls();
  calls.copy_file_range = RefusingCopy;
  ScopedFileSystemCalls seam(calls);
  gRefusal = EIO;  // not a refusal: no fallback
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  EXPECT_EQ(CopyFileRecordRange(in, -1, out, 10), -1);
  gRefusal = EXDEV;  // the fallback's write fails
  calls.write = [](int, const void*, std::size_t) -> ssize_t { return errno = ENOSPC, -1; };
  ScopedFileSystemCalls failingWrite(calls);
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  CloseFileRecord(in);
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), 0);  // a closed source
  CloseFileRecord(out);
}

}  // namespace
}  // namespace tavrine
