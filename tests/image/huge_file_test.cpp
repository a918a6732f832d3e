// A file beyond 4 GiB in a real image, read back by pycdlib through both trees. Where memory has
// room, source and image live there: the sparse source's holes then read without filling the
// page cache, and the image (not sparse) is not written to a shared disk. The image is removed
// as soon as it has been read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "image/writer.h"
#include "support/image_builder.h"
#include "support/readers.h"
#include "support/temp_dir.h"
#include "tree/text.h"

namespace tavrine::testing {
namespace {

void WriteAt(const std::string& path, std::string_view bytes, std::int64_t offset) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), std::ssize(bytes));
  ::close(fd);
}

// Grows the second file by a few bytes as its data are about to be copied.
struct GrowingEvents : RecordingEvents {
  void WritingFiles(std::int32_t percent) override {
    RecordingEvents::WritingFiles(percent);
    if (log.size() == 5) WriteAt(path, "grown", std::filesystem::file_size(path));
  }
  std::string path;
};

// Marker bytes at its start, on both sides of the first extent boundary (2^32 - 2048) and at
// its end; all of the file streamed against its source in each tree, and the small file after
// it. The file grows during the build: the image keeps the laid-out size and lists the file.
// Byte progress is reported inside it.
TEST(HugeFile, RoundTripThroughPycdlibInBothTrees) {
  constexpr std::int64_t kBoundary = 4294965248;
  constexpr std::int64_t kSize = (std::int64_t{1} << 32) + 4096 + 7;
  struct statvfs memory {};
  const bool inMemory = ::statvfs("/dev/shm", &memory) == 0 &&
                        memory.f_bavail * memory.f_frsize > 2 * std::uintmax_t{kSize};
  TempDir dir(inMemory ? "/dev/shm" : "");
  const std::string huge = dir / "huge.bin";
  for (const auto& [offset, marker] : {std::pair<std::int64_t, std::string_view>{0, "start"},
                                       {kBoundary - 6, "before"},
                                       {kBoundary, "after"},
                                       {kSize - 3, "end"}}) {
    WriteAt(huge, marker, offset);
  }
  clsISOWriter writer;
  AddFile(*writer.Root(), dir, "a.txt", "first");
  ASSERT_NE(writer.Root()->Files().Add(huge), nullptr);
  const std::string last = dir.WriteFile("z.txt", "last file");
  ASSERT_NE(writer.Root()->Files().Add(last), nullptr);
  GrowingEvents events;
  events.path = huge;
  writer.Listener(&events);
  const std::string image = dir / "huge.iso";
  ASSERT_TRUE(writer.SaveISO(image));
  struct stat source {};
  ASSERT_EQ(::stat(huge.c_str(), &source), 0);
  EXPECT_LT(source.st_blocks * 512, 1 << 20) << "reading the source filled its holes";

  const clsISOFiles& files = writer.Root()->Files();
  ASSERT_EQ(writer.UnreadableFiles().size(), 1u);
  EXPECT_EQ(writer.UnreadableFiles()[0].LocalPath, huge);
  const std::int64_t start = files.File(1).LBA() * 2048;
  EXPECT_GT(std::count_if(events.bytesWritten.begin(), events.bytesWritten.end(),
                          [&](auto& e) { return e.first > start && e.first < start + kSize; }),
            2);

  for (const bool joliet : {false, true}) {
    auto name = [&](int i) {
      return std::string("/").append(
          text::ToUtf8(joliet ? files.File(i).JolietName() : files.File(i).DOSName()));
    };
    const RunResult result =
        RunProgram({"/usr/bin/python3", ReaderScriptDir() + "/pycdlib_reader.py", "compare", image,
                    joliet ? "joliet" : "iso", name(1), huge, name(2), last});
    EXPECT_EQ(result.out, std::to_string(kSize) + " same\n9 same\n") << result.err;
  }
  std::filesystem::remove(image);
}

}  // namespace
}  // namespace tavrine::testing
