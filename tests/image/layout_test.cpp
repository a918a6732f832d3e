// The limits of the format refused before anything is written, and the records of a huge file.
#include "image/layout.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "fileio/file_system_calls.h"
#include "image/encoding.h"
#include "image/names.h"
#include "image/records.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::detail {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using testing::TempDir;
using ::testing::ThrowsMessage;

// File lengths by path, served through the stat seam while a FakeLengths lives, so that layouts
// of huge files need no disk. Other paths go to the real stat.
std::map<std::string, std::int64_t> g_lengths;

int FakeStat(int folder, const char* name, struct stat* st, int flags) {
  const std::string path =
      folder == AT_FDCWD
          ? name
          : std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(folder)) / name;
  const auto it = g_lengths.find(path);
  if (it == g_lengths.end()) return RealFileSystemCalls().fstatat(folder, name, st, flags);
  *st = {};
  st->st_mode = S_IFREG | 0644;
  st->st_size = static_cast<off_t>(it->second);
  return 0;
}

struct FakeLengths {
  FakeLengths()
      : seam([] {
          FileSystemCalls calls = RealFileSystemCalls();
          calls.fstatat = FakeStat;
          return calls;
        }()) {}
  ~FakeLengths() { g_lengths.clear(); }
  ScopedFileSystemCalls seam;
};

TEST(Layout, RefusesMoreDirectoriesThanThePathTableNumbers) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  for (int i = 0; i < 32764; ++i) a->AddSubDirectory(text::FromUtf8(std::to_string(i)));
  EXPECT_EQ(NumberDirectories(*root).size(), 32766u);
  a->AddSubDirectory(u"one too many");
  EXPECT_THAT([&] { NumberDirectories(*root); },
              ThrowsMessage<InputError>(HasSubstr("\\a\\one too many\\")));
}

// Keeps the bytes of the structures; file data are never asked of it.
class KeepingSink final : public ByteSink {
 public:
  void Append(std::span<const std::uint8_t> b) override { bytes.append(b.begin(), b.end()); }
  void AppendZeros(std::int64_t count) override {
    bytes.append(static_cast<std::size_t>(count), '\0');
  }
  CopyResult AppendFrom(const FileRecord&, std::int64_t, std::int64_t) override { return {}; }
  std::int64_t Position() const override { return static_cast<std::int64_t>(bytes.size()); }
  std::string bytes;
};

// A path table of exactly 2048 bytes takes two blocks: the type M table starts after both.
TEST(Layout, PathTableOfExactly2048BytesTakesTwoBlocks) {
  auto root = clsISODirectory::Create();
  for (int i = 0; i < 128; ++i) {  // 5 records of 14 bytes, 123 of 16
    root->AddSubDirectory(
        text::FromUtf8((i < 5 ? "SIX" : "EIGHT") + std::to_string(1000 + i).substr(1)));
  }
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, true);
  ASSERT_EQ(layout.isoPathBytes, 2048);
  KeepingSink sink;
  WriteDirectoryStructures(sink, DescriptorInput{}, layout, *root);
  EXPECT_EQ(testing::Hex(sink.bytes, 16 * 2048 + 148, 4), "00 00 00 15");
}

// A file of 2^32 + 5 bytes is two records of one name in each tree: the first flagged (bit 7)
// with 2^32 - 2048 bytes at block 25, the second with the 2053 bytes left right after it. The
// file data alone, or with the structures, may not pass 2^32 - 1 blocks.
TEST(Layout, HugeFileTakesARunOfRecordsAndVolumesStopAt32BitBlocks) {
  TempDir dir;
  auto root = clsISODirectory::Create();
  const std::string local = testing::AddFile(*root, dir, "big", "x").LocalPath();
  MapNames(*root);
  FakeLengths fake;
  g_lengths[local] = 0x100000005ll;
  const ImageLayout layout = LayOut(*root, true);
  EXPECT_EQ(layout.volumeBlocks, 25 + 2097153);
  KeepingSink sink;
  DescriptorInput input;
  input.creation = testing::FixedDate();
  WriteDirectoryStructures(sink, input, layout, *root);
  const std::string fields[] = {
      "19 00 00 00 00 00 00 19 00 F8 FF FF FF FF F8 00 7C 03 05 09 07 03 00 80",
      "18 00 20 00 00 20 00 18 05 08 00 00 00 00 08 05 7C 03 05 09 07 03 00 00"};
  EXPECT_EQ(testing::Hex(sink.bytes, 23 * 2048 + 68, 76),
            "26 00 " + fields[0] + " 00 00 01 00 00 01 04 42 49 47 2E 00 26 00 " + fields[1] +
                " 00 00 01 00 00 01 04 42 49 47 2E 00");
  EXPECT_EQ(testing::Hex(sink.bytes, 24 * 2048 + 68, 80),
            "28 00 " + fields[0] + " 00 00 01 00 00 01 06 00 62 00 69 00 67 00 28 00 " + fields[1] +
                " 00 00 01 00 00 01 06 00 62 00 69 00 67 00");

  for (const std::int64_t blocks : {std::int64_t{1} << 32, kMaxUint32 - 11}) {
    g_lengths[local] = blocks * 2048 - 1;
    EXPECT_THAT([&] { LayOut(*root, false); },
                ThrowsMessage<InputError>(AllOf(HasSubstr("\\big (" + local),
                                                HasSubstr("a volume holds at most 4294967295"))));
  }
  g_lengths[local] = (kMaxUint32 - 100) * 2048;
  EXPECT_NO_THROW(LayOut(*root, false));
  g_lengths[local] = kMaxUint32;  // exactly 4 GiB - 1 bytes: still one record
  KeepingSink one;
  WriteDirectoryStructures(one, input, LayOut(*root, true), *root);
  EXPECT_EQ(testing::Hex(one.bytes, 23 * 2048 + 68 + 25, 1), "00");
}

}  // namespace
}  // namespace tavrine::detail
