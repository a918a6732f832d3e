#include "fileio/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "fileio/file_system_calls.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

using testing::Faults;
using testing::ReadFile;
using testing::ScopedFaults;
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
  TempDir dir;
  FileRecord record = OpenRead(dir.WriteFile("s.txt", "0123456789"));
  ScopedFaults faults;
  faults->readMost = 3;
  faults->interruptEvery = 2;
  char buffer[16] = {};
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 8);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 16, 3), 7);
  EXPECT_EQ(std::string(buffer, 7), "3456789");
  // One read only: what the system gives at once.
  faults->interruptEvery = 0;
  EXPECT_EQ(ReadFileRecordOnceAt(record, buffer, 16, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "345");

  // A failure after some bytes gives those bytes; a failure first gives -1.
  SeekFileRecord(record, 0, SEEK_FROM_BEGIN);
  faults->failReadsAfter = 1;
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 3);
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), -1);
  CloseFileRecord(record);
}

TEST(FileAccessFaults, PartialWritesAreResumedAndFailuresReported) {
  TempDir dir;
  FileRecord record = OpenNew(dir / "w.bin");
  ScopedFaults faults;
  faults->writeMost = 5;
  faults->interruptEvery = 3;
  const std::string text = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(WriteFileRecord(record, text.data(), static_cast<std::int64_t>(text.size())),
            static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(ReadFile(dir / "w.bin"), text);
  // The first write fails: -1, nothing written. A later one fails: the bytes that went out.
  faults->writeBudget = 0;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), -1);
  faults->writeBudget = 5;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), 5);
  EXPECT_EQ(ReadFile(dir / "w.bin"), text + "abcde");
  // A close that reports a late write failure gives -1 and still releases the record.
  faults->closeFails = true;
  const int fd = record.Handle;
  EXPECT_EQ(CloseFileRecord(record), -1);
  EXPECT_EQ(record.Handle, -1);
  EXPECT_EQ(record.Path, "");
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the descriptor is gone
}

// --- copying ranges: in the kernel, or through a buffer when the kernel refuses ---

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
  // The real call; each refusal the buffer takes over from; two short kernel copies, then EXDEV.
  for (const auto& [refusal, kernelCopies] :
       {std::pair{0, 0}, {EXDEV, 0}, {EINVAL, 0}, {ENOSYS, 0}, {EOPNOTSUPP, 0}, {EXDEV, 2}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(refusal) + "/" + std::to_string(kernelCopies) + " at " +
                   std::to_string(c.offset));
      ScopedFaults faults;
      faults->copyRefusal = refusal;
      faults->kernelCopies = kernelCopies;
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
  ScopedFaults faults;
  faults->copyRefusal = EIO;  // not a refusal: no fallback
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  EXPECT_EQ(CopyFileRecordRange(in, -1, out, 10), -1);
  faults->copyRefusal = EXDEV;  // the fallback's write fails
  faults->writeBudget = 0;
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  CloseFileRecord(in);
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), 0);  // a closed source
  CloseFileRecord(out);
}

}  // namespace
}  // namespace tavrine
