#include "fileio/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/vfs.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "fileio/file_system_calls.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

using testing::ReadFile;
using testing::ScopedFaults;
using testing::TempDir;

FileRecord OpenNew(const std::string& path) {
  return OpenFileRecord(path, GENERIC_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS);
}
FileRecord OpenRead(const std::string& path) {
  return OpenFileRecord(path, GENERIC_READ, SHARE_READ_WRITE, OPEN_EXISTING);
}

// A closed record gives 0, one never opened -1; neither makes a system call (the seam is null).
TEST(FileAccess, RecordsWithoutAFileMakeNoCalls) {
  ScopedFileSystemCalls seam(FileSystemCalls{});
  for (auto [record, expected] : {std::pair{FileRecord{-1, ""}, 0}, {FileRecord{}, -1}}) {
    char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(ReadFileRecord(record, buffer, 4), expected);
    EXPECT_EQ(WriteFileRecord(record, buffer, 4), expected);
    EXPECT_EQ(ReadFileRecordAt(record, buffer, 4, 0), expected);
    EXPECT_EQ(SeekFileRecord(record, 10, SEEK_FROM_BEGIN), expected);
    EXPECT_EQ(FileRecordSize(record), expected);
    EXPECT_EQ(CopyFileRecordRange(record, 0, record, 4), expected);
    EXPECT_EQ(CloseFileRecord(record), 0);
  }
}

TEST(FileAccess, CreateAlwaysTruncatesAndSeeksFromEachOrigin) {
  TempDir dir;
  const std::string path = dir.WriteFile("f.bin", "old contents that are long");
  FileRecord record = OpenFileRecord(path, GENERIC_READ_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS);
  ASSERT_GE(record.Handle, 0);
  EXPECT_EQ(FileRecordSize(record), 0);
  EXPECT_EQ(WriteFileRecord(record, "hello world", 11), 11);
  EXPECT_EQ(SeekFileRecord(record, 4, SEEK_FROM_BEGIN), 4);
  EXPECT_EQ(SeekFileRecord(record, 2, SEEK_FROM_CURRENT), 6);
  EXPECT_EQ(SeekFileRecord(record, -3, SEEK_FROM_END), 8);
  EXPECT_EQ(CloseFileRecord(record), 0);
}

TEST(FileAccessFaults, ShortInterruptedAndFailedReads) {
  TempDir dir;
  FileRecord record = OpenRead(dir.WriteFile("s.txt", "0123456789"));
  ScopedFaults faults;
  faults->readMost = 3;
  faults->interruptEvery = 2;
  char buffer[16] = {};
  EXPECT_EQ(ReadFileRecord(record, buffer, 8), 8);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  EXPECT_EQ(ReadFileRecordAt(record, buffer, 16, 3), 7);
  EXPECT_EQ(std::string(buffer, 7), "3456789");
  // A failure after some bytes gives those bytes; a failure first gives -1.
  SeekFileRecord(record, 0, SEEK_FROM_BEGIN);
  faults->interruptEvery = 0;
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
  EXPECT_EQ(WriteFileRecord(record, text.data(), 43), 43);
  faults->writeBudget = 5;
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), 5);
  EXPECT_EQ(WriteFileRecord(record, "abcdefgh", 8), -1);
  EXPECT_EQ(ReadFile(dir / "w.bin"), text + "abcde");
  // A close that reports a late write failure gives -1 and still releases the descriptor.
  faults->closeFails = true;
  const int fd = record.Handle;
  EXPECT_EQ(CloseFileRecord(record), -1);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

// In the kernel, or through the buffer when the kernel refuses, also after short kernel copies.
TEST(CopyRange, CopiesExactlyTheRangeAfterWhatIsThere) {
  constexpr std::int64_t kSize = 3 * 1024 * 1024 + 517;  // beyond the 1 MiB buffer
  TempDir dir;
  const std::string source = dir.WritePatternFile("src.bin", kSize, 7);
  const std::string data = ReadFile(source);
  // Offsets 12345 and 3 differ within a page: a mapping first, else the kernel, else a buffer.
  for (const auto& [mapRefusal, refusal, kernelCopies] : {std::tuple{0, 0, 0},
                                                          {ENODEV, 0, 0},
                                                          {ENODEV, EXDEV, 0},
                                                          {ENODEV, EINVAL, 0},
                                                          {ENODEV, ENOSYS, 0},
                                                          {ENODEV, EXDEV, 2}}) {
    SCOPED_TRACE(std::to_string(mapRefusal) + "/" + std::to_string(refusal) + "/" +
                 std::to_string(kernelCopies));
    ScopedFaults faults;
    faults->mapRefusal = mapRefusal;
    faults->copyRefusal = refusal;
    faults->kernelCopies = kernelCopies;
    FileRecord in = OpenRead(source);
    FileRecord out = OpenNew(dir / "out.bin");
    ASSERT_EQ(WriteFileRecord(out, "HDR", 3), 3);
    EXPECT_EQ(CopyFileRecordRange(in, 12345, out, kSize), kSize - 12345);
    CloseFileRecord(in);
    CloseFileRecord(out);
    EXPECT_TRUE(ReadFile(dir / "out.bin") == "HDR" + data.substr(12345));
  }
  ScopedFaults faults;
  faults->copyRefusal = EIO;  // not a refusal: no fallback
  FileRecord in = OpenRead(source);
  FileRecord out = OpenNew(dir / "out.bin");
  EXPECT_EQ(CopyFileRecordRange(in, 0, out, 10), -1);
  CloseFileRecord(in);
  CloseFileRecord(out);
}

// A source cut short while it is copied through its mapping: the copy ends where the file now
// ends (not at the end of its last page, which reads as zeros), the output stands right after
// it, and no signal ends the process.
TEST(CopyRange, ASourceCutShortUnderItsMappingEndsTheCopyWhereTheFileEnds) {
  constexpr std::int64_t kSize = 9 * 1024 * 1024;  // three windows
  // Cut inside the window being written (the write past the end fails), before the next window,
  // and inside the last window by one byte (every write succeeds).
  constexpr std::int64_t kMiB = 1024 * 1024;
  for (const auto& [cut, writes] :
       {std::pair{2 * kMiB + 100, 2}, {5 * kMiB + 100, 2}, {kSize - 1, 20}}) {
    SCOPED_TRACE(cut);
    TempDir dir;
    struct statfs where {};
    if (statfs(dir.path().c_str(), &where) == 0 && where.f_type == TMPFS_MAGIC) {
      GTEST_SKIP() << "sources on tmpfs are never mapped";
    }
    const std::string source = dir.WritePatternFile("src.bin", kSize, 5);
    const std::string data = ReadFile(source);
    ScopedFaults faults;
    faults->cutPath = source;
    faults->cutLength = cut;
    faults->writesBeforeCut = writes;  // 2: the header and the copy's first piece
    FileRecord in = OpenRead(source);
    FileRecord out = OpenNew(dir / "out.bin");
    ASSERT_EQ(WriteFileRecord(out, "HDR", 3), 3);
    EXPECT_EQ(CopyFileRecordRange(in, 0, out, kSize), cut);
    EXPECT_EQ(FileRecordPosition(out), 3 + cut);
    CloseFileRecord(in);
    CloseFileRecord(out);
    EXPECT_TRUE(ReadFile(dir / "out.bin").substr(0, 3 + cut) == "HDR" + data.substr(0, cut));
  }
}

}  // namespace
}  // namespace tavrine
