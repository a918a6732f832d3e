#include "fileio/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

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

TEST(FileAccess, ClosedRecordGivesZeroAndTouchesNothing) {
  TempDir dir;
  FileRecord record = OpenNew(dir / "a.bin");
  ASSERT_GE(record.Handle, 0);
  CloseFileRecord(record);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, "");

  char buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(ReadFileRecord(record, buffer, 4), 0);
  EXPECT_EQ(WriteFileRecord(record, buffer, 4), 0);
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 4, 0), 0);
  EXPECT_EQ(SeekFileRecord(record, 10, SEEK_FROM_BEGIN), 0);
  EXPECT_EQ(FileRecordPosition(record), 0);
  EXPECT_EQ(FileRecordSize(record), 0);
  EXPECT_EQ(CopyFileRecordRange(record, 0, record, 4), 0);
  EXPECT_EQ(buffer[0], 1);
  // Closing twice is harmless.
  CloseFileRecord(record);
  EXPECT_EQ(record.Handle, -1);
}

// Every call of the seam, counted, and failing if reached.
int gCalls = 0;
FileSystemCalls CountingCalls() {
  FileSystemCalls calls{};
  calls.open = [](const char*, int, mode_t) { return ++gCalls, -1; };
  calls.close = [](int) { return ++gCalls, -1; };
  calls.read = [](int, void*, std::size_t) -> ssize_t { return ++gCalls, -1; };
  calls.pread = [](int, void*, std::size_t, off_t) -> ssize_t { return ++gCalls, -1; };
  calls.write = [](int, const void*, std::size_t) -> ssize_t { return ++gCalls, -1; };
  calls.copy_file_range = [](int, off_t*, int, off_t*, std::size_t, unsigned) -> ssize_t {
    return ++gCalls, -1;
  };
  calls.lseek = [](int, off_t, int) -> off_t { return ++gCalls, -1; };
  calls.fstat = [](int, struct stat*) { return ++gCalls, -1; };
  calls.stat = [](const char*, struct stat*) { return ++gCalls, -1; };
  return calls;
}

TEST(FileAccess, NeverOpenedRecordNeverReachesStandardInput) {
  gCalls = 0;
  ScopedFileSystemCalls seam(CountingCalls());
  FileRecord never;
  ASSERT_EQ(never.Handle, 0);
  char buffer[4] = {};
  EXPECT_EQ(ReadFileRecord(never, buffer, 4), -1);
  EXPECT_EQ(WriteFileRecord(never, buffer, 4), -1);
  EXPECT_EQ(ReadFileRecordAt(never, buffer, 4, 0), -1);
  EXPECT_EQ(SeekFileRecord(never, 0, SEEK_FROM_BEGIN), -1);
  EXPECT_EQ(FileRecordPosition(never), -1);
  EXPECT_EQ(FileRecordSize(never), -1);
  EXPECT_EQ(CopyFileRecordRange(never, 0, never, 4), -1);
  CloseFileRecord(never);
  EXPECT_EQ(never.Handle, -1);
  EXPECT_EQ(gCalls, 0);
}

// When standard input is closed, open may well return descriptor 0: that record is open.
TEST(FileAccess, OpenedRecordWithDescriptorZeroIsUsed) {
  static int readFd = -2;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.open = [](const char*, int, mode_t) { return 0; };
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
  EXPECT_EQ(OpenRead(dir / "absent").Handle, -1);

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
  EXPECT_EQ(FileLengthByPath(dir / "absent"), -1);
}

TEST(FileAccess, PositionsSizesAndCreateAlways) {
  TempDir dir;
  const std::string path = dir.WriteFile("f.bin", "old contents that are long");
  FileRecord record = OpenFileRecord(path, GENERIC_READ_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS);
  ASSERT_GE(record.Handle, 0);
  EXPECT_EQ(record.Path, path);
  EXPECT_EQ(FileRecordSize(record), 0);  // truncated
  EXPECT_EQ(FileRecordPosition(record), 0);
  EXPECT_EQ(WriteFileRecord(record, "hello", 5), 5);
  EXPECT_EQ(FileRecordPosition(record), 5);
  EXPECT_EQ(WriteFileRecord(record, " world", 6), 6);
  EXPECT_EQ(FileRecordPosition(record), 11);
  EXPECT_EQ(FileRecordSize(record), 11);
  EXPECT_EQ(WriteFileRecord(record, "", 0), 0);
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
  EXPECT_EQ(FileRecordPosition(record), far + 1);
  EXPECT_EQ(FileRecordSize(record), far + 1);
  EXPECT_EQ(FileLengthByPath(path), far + 1);
  CloseFileRecord(record);
}

TEST(FileAccess, OpensCloseOnExecWithMode0666BeforeUmask) {
  TempDir dir;
  const mode_t previous = umask(022);
  FileRecord record = OpenNew(dir / "m.bin");
  umask(previous);
  ASSERT_GE(record.Handle, 0);
  EXPECT_NE(fcntl(record.Handle, F_GETFD) & FD_CLOEXEC, 0);
  struct stat st {};
  ASSERT_EQ(stat((dir / "m.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  CloseFileRecord(record);
}

TEST(FileAccess, ReadOnlyFileOpenedReadWriteFails) {
  TempDir dir;
  const std::string path = dir.WriteFile("ro.bin", "data");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(OpenFileRecord(path, GENERIC_READ_WRITE, 3, OPEN_EXISTING).Handle, -1);
    return;
  }
  // Permissions do not bind root: ask a child that has dropped to an unprivileged user.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    FileRecord record = OpenFileRecord(path, GENERIC_READ_WRITE, 3, OPEN_EXISTING);
    FileRecord reader = OpenRead(path);
    _exit(record.Handle == -1 && record.Path == path && reader.Handle >= 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop to an unprivileged user";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- fault injection through the seam ---

TEST(FileAccessFaults, FailedOpenKeepsPath) {
  FileSystemCalls calls = RealFileSystemCalls();
  calls.open = [](const char*, int, mode_t) { return errno = EMFILE, -1; };
  ScopedFileSystemCalls seam(calls);
  TempDir dir;
  const std::string path = dir.WriteFile("x", "x");
  FileRecord record = OpenRead(path);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, path);
}

TEST(FileAccessFaults, ShortAndInterruptedReadsAreResumed) {
  static int interrupts = 0;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.read = [](int fd, void* buffer, std::size_t count) -> ssize_t {
    if (interrupts++ % 2 == 0) return errno = EINTR, -1;
    return ::read(fd, buffer, count < 3 ? count : 3);
  };
  calls.pread = [](int fd, void* buffer, std::size_t count, off_t offset) -> ssize_t {
    return ::pread(fd, buffer, count < 2 ? count : 2, offset);
  };
  TempDir dir;
  const std::string path = dir.WriteFile("s.txt", "0123456789");
  FileRecord record = OpenRead(path);
  ScopedFileSystemCalls seam(calls);
  char buffer[16] = {};
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 8);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 16, 3), 7);
  EXPECT_EQ(std::string(buffer, 7), "3456789");
  CloseFileRecord(record);
}

TEST(FileAccessFaults, FailedReadGivesMinusOneOrWhatCameBefore) {
  static int reads = 0;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.read = [](int fd, void* buffer, std::size_t) -> ssize_t {
    if (reads++ == 0) return ::read(fd, buffer, 4);
    return errno = EIO, -1;
  };
  TempDir dir;
  FileRecord record = OpenRead(dir.WriteFile("s.txt", "0123456789"));
  ScopedFileSystemCalls seam(calls);
  char buffer[10];
  EXPECT_EQ(ReadFileRecord(record, buffer, 10), 4);
  EXPECT_EQ(ReadFileRecord(record, buffer, 10), -1);
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

  // The first write fails: -1, nothing written.
  writes = 0;
  failAt = 0;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), -1);
  // A later write fails: the bytes that did go out.
  writes = 0;
  failAt = 1;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), 5);
  EXPECT_EQ(ReadFile(dir / "w.bin"), text + "abcde");
  CloseFileRecord(record);
}

// --- copying ranges ---

class CopyRange : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_.WritePatternFile("src.bin", kSourceSize, 7);
    data_ = ReadFile(source_);
  }
  // Copies count bytes from offset after a 3-byte head already in the output; checks the
  // output holds the head and exactly those bytes.
  void CopyAndCheck(std::int64_t offset, std::int64_t count, std::int64_t expected) {
    FileRecord in = OpenRead(source_);
    FileRecord out = OpenNew(dir_ / "out.bin");
    ASSERT_EQ(WriteFileRecord(out, "HDR", 3), 3);
    EXPECT_EQ(CopyFileRecordRange(in, offset, out, count), expected);
    EXPECT_EQ(FileRecordPosition(out), 3 + expected);
    EXPECT_EQ(FileRecordPosition(in), 0);  // the source position is not used
    CloseFileRecord(in);
    CloseFileRecord(out);
    const std::string got = ReadFile(dir_ / "out.bin");
    EXPECT_EQ(got.substr(0, 3), "HDR");
    EXPECT_TRUE(got.substr(3) ==
                data_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(expected)));
  }

  static constexpr std::int64_t kSourceSize = 3 * 1024 * 1024 + 517;  // beyond the buffer
  TempDir dir_;
  std::string source_;
  std::string data_;
};

TEST_F(CopyRange, CopiesInTheKernelAndStopsAtTheEnd) {
  CopyAndCheck(0, kSourceSize, kSourceSize);
  CopyAndCheck(1000, 4096, 4096);
  CopyAndCheck(kSourceSize - 10, 100, 10);
  CopyAndCheck(kSourceSize, 100, 0);
  CopyAndCheck(5, 0, 0);
}

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

TEST_F(CopyRange, FallsBackWhenTheKernelRefuses) {
  for (int refusal : {EXDEV, EINVAL, ENOSYS, EOPNOTSUPP}) {
    SCOPED_TRACE(std::strerror(refusal));
    gRefusal = refusal;
    FileSystemCalls calls = RealFileSystemCalls();
    calls.copy_file_range = RefusingCopy;
    ScopedFileSystemCalls seam(calls);
    CopyAndCheck(0, kSourceSize, kSourceSize);
    CopyAndCheck(12345, 2 * 1024 * 1024 + 1, 2 * 1024 * 1024 + 1);
    CopyAndCheck(kSourceSize - 10, 100, 10);
  }
  gKernelCopies = 0;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.copy_file_range = CopyThenRefuse;
  ScopedFileSystemCalls seam(calls);
  CopyAndCheck(77, 1024 * 1024 + 9, 1024 * 1024 + 9);
}

TEST_F(CopyRange, OtherFailuresGiveMinusOne) {
  gRefusal = EIO;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.copy_file_range = RefusingCopy;
  ScopedFileSystemCalls seam(calls);
  FileRecord in = OpenRead(source_);
  FileRecord out = OpenNew(dir_ / "out.bin");
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  EXPECT_EQ(CopyFileRecordRange(in, -1, out, 10), -1);
  CloseFileRecord(in);
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), 0);  // a closed source
  CloseFileRecord(out);
}

TEST_F(CopyRange, FallbackWriteFailureIsReported) {
  gRefusal = EXDEV;
  FileSystemCalls calls = RealFileSystemCalls();
  calls.copy_file_range = RefusingCopy;
  calls.write = [](int, const void*, std::size_t) -> ssize_t { return errno = ENOSPC, -1; };
  ScopedFileSystemCalls seam(calls);
  FileRecord in = OpenRead(source_);
  FileRecord out = OpenNew(dir_ / "out.bin");
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  CloseFileRecord(in);
  CloseFileRecord(out);
}

}  // namespace
}  // namespace tavrine
