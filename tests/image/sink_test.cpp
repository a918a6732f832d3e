// The file sink's two ways of copying a local file (small ranges read into the output buffer,
// larger ones copied in the kernel) against a plain concatenation, and what they report for a
// source that fails to read. (A source that ended early or grew: the writer fault tests.)
#include "image/sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fileio/file_system_calls.h"
#include "support/temp_dir.h"

namespace tavrine::detail {
namespace {

using testing::ReadFile;
using testing::TempDir;

constexpr std::int64_t kLimit = FileSink::kBufferedCopyLimit;

FileRecord OpenRead(const std::string& path) {
  return OpenFileRecord(path, GENERIC_READ, SHARE_READ_WRITE, OPEN_EXISTING);
}

// An output file and its sink; Finish() flushes, closes and returns the bytes written.
class Output {
 public:
  explicit Output(const TempDir& dir)
      : path_(dir / "out.bin"),
        record_(OpenFileRecord(path_, GENERIC_WRITE, SHARE_READ_WRITE, CREATE_ALWAYS)),
        sink_(record_, "out.bin") {}
  ~Output() { CloseFileRecord(record_); }
  FileSink& sink() { return sink_; }
  std::string Finish() {
    sink_.Flush();
    CloseFileRecord(record_);
    return ReadFile(path_);
  }

 private:
  std::string path_;
  FileRecord record_;
  FileSink sink_;
};

// Appends ranges of generated files, with structures and padding between them, and compares the
// output with the same pieces put together in memory. Sizes cluster around the limit between
// the two ways of copying and around the buffer's size, so that every seam is crossed.
void CopyGeneratedFiles(std::uint32_t seed) {
  TempDir dir;
  std::mt19937 random(seed);
  const std::vector<std::int64_t> edges = {0,      1,          2047,    2048,         kLimit - 1,
                                           kLimit, kLimit + 1, 1 << 20, (1 << 20) + 1};
  Output output(dir);
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    std::int64_t size = edges[random() % edges.size()];
    if (random() % 2 == 0) size = random() % (3 * kLimit / 2);
    const std::string path =
        dir.WritePatternFile(std::to_string(i) + ".bin", static_cast<std::uint64_t>(size),
                             seed * 100 + static_cast<std::uint32_t>(i));
    const std::string contents = ReadFile(path);
    // Now and then only a part, from an offset, as the file data writer does in chunks.
    const std::int64_t offset = random() % 4 == 0 ? size / 3 : 0;
    const std::int64_t count = random() % 4 == 0 ? (size - offset) / 2 : size - offset;
    FileRecord source = OpenRead(path);
    const CopyResult result = output.sink().AppendFrom(source, offset, count);
    CloseFileRecord(source);
    EXPECT_EQ(result.copied, count) << "size " << size << ", offset " << offset;
    EXPECT_EQ(result.readError, 0);
    expected += contents.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));

    const std::string header(static_cast<std::size_t>(random() % 300), static_cast<char>(i));
    output.sink().Append({reinterpret_cast<const std::uint8_t*>(header.data()), header.size()});
    expected += header;
    expected.append(static_cast<std::size_t>(PadToBlock(output.sink())), '\0');
    ASSERT_EQ(output.sink().Position(), static_cast<std::int64_t>(expected.size()));
  }
  EXPECT_TRUE(output.Finish() == expected) << "seed " << seed;
}

TEST(FileSink, CopiesMatchAPlainConcatenation) {
  for (std::uint32_t seed : {1u, 2u, 3u}) CopyGeneratedFiles(seed);
}

ssize_t RefuseCopy(int, off_t*, int, off_t*, std::size_t, unsigned) {
  errno = EXDEV;
  return -1;
}
// Reads at most 1000 bytes a call: callers must follow short reads up.
ssize_t ShortPread(int fd, void* buffer, std::size_t count, off_t offset) {
  return RealFileSystemCalls().pread(fd, buffer, std::min<std::size_t>(count, 1000), offset);
}

TEST(FileSink, CopiesMatchWithoutTheKernelCopyAndWithShortReads) {
  FileSystemCalls calls = RealFileSystemCalls();
  calls.copy_file_range = RefuseCopy;
  calls.pread = ShortPread;
  ScopedFileSystemCalls seam(calls);
  CopyGeneratedFiles(4);
}

int g_preadCalls = 0;
int g_preadFailsAt = 0;  // the call (counted from 1) that fails with EIO
ssize_t FailingPread(int fd, void* buffer, std::size_t count, off_t offset) {
  if (++g_preadCalls >= g_preadFailsAt) {
    errno = EIO;
    return -1;
  }
  return RealFileSystemCalls().pread(fd, buffer, std::min<std::size_t>(count, 1000), offset);
}

TEST(FileSink, ReportsAReadErrorAtTheStartAndAfterPartOfTheRange) {
  for (int failsAt : {1, 3}) {
    TempDir dir;
    const std::string path = dir.WritePatternFile("in.bin", 5000, 2);
    Output output(dir);
    output.sink().AppendZeros(10);
    FileRecord source = OpenRead(path);
    g_preadCalls = 0;
    g_preadFailsAt = failsAt;
    CopyResult result;
    {
      FileSystemCalls calls = RealFileSystemCalls();
      calls.pread = FailingPread;
      ScopedFileSystemCalls seam(calls);
      result = output.sink().AppendFrom(source, 0, 5000);
    }
    CloseFileRecord(source);
    const std::int64_t before = (failsAt - 1) * 1000;
    EXPECT_EQ(result.copied, before) << failsAt;
    EXPECT_EQ(result.readError, EIO) << failsAt;
    EXPECT_EQ(output.sink().Position(), 10 + before);
    EXPECT_TRUE(output.Finish() ==
                std::string(10, '\0') + ReadFile(path).substr(0, static_cast<std::size_t>(before)));
  }
}

}  // namespace
}  // namespace tavrine::detail
