// The layout: directory numbering and order, path table blocks, and the limits of the format
// refused before anything is written. A differential test lays out random trees and holds the
// layout against a plain re-computation and every written region against the layout (through
// the counting sink).
#include "image/layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "fileio/file_system_calls.h"
#include "image/file_data.h"
#include "image/names.h"
#include "image/records.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::detail {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;
using ::testing::ThrowsMessage;

// File lengths by path, served through the stat seam while a FakeLengths lives, so that layouts
// of huge files need no disk. Other paths go to the real stat.
std::map<std::string, std::int64_t> g_lengths;

int FakeStat(const char* path, struct stat* st) {
  const auto it = g_lengths.find(path);
  if (it == g_lengths.end()) return RealFileSystemCalls().stat(path, st);
  *st = {};
  st->st_mode = S_IFREG | 0644;
  st->st_size = static_cast<off_t>(it->second);
  return 0;
}

struct FakeLengths {
  FakeLengths()
      : seam([] {
          FileSystemCalls calls = RealFileSystemCalls();
          calls.stat = FakeStat;
          return calls;
        }()) {}
  ~FakeLengths() { g_lengths.clear(); }
  ScopedFileSystemCalls seam;
};

std::u16string Numbered(const char* prefix, int i) {
  return text::FromUtf8(prefix +
                        std::string(i < 10    ? "00"
                                    : i < 100 ? "0"
                                              : "") +
                        std::to_string(i));
}

TEST(Layout, NumbersLevelByLevelGroupedByParentAndOrdersExtentsDepthFirst) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"A");
  auto b = root->AddSubDirectory(u"B");
  auto a1 = a->AddSubDirectory(u"A1");
  auto b1 = b->AddSubDirectory(u"B1");
  auto b2 = b1->AddSubDirectory(u"B2");
  auto a2 = a->AddSubDirectory(u"A2");  // added after B1, numbered before it
  using List = std::vector<clsISODirectory*>;
  EXPECT_EQ(NumberDirectories(*root),
            (List{root.get(), a.get(), b.get(), a1.get(), a2.get(), b1.get(), b2.get()}));
  EXPECT_EQ(b2->DirectoryNumber(), 7);
  EXPECT_EQ(PreOrder(*root),
            (List{root.get(), a.get(), a1.get(), a2.get(), b.get(), b1.get(), b2.get()}));
}

// A path table of exactly 2048 bytes takes a second block, and the later tables and the first
// extent move on. (Joliet tables longer than the ISO 9660 ones: the wide round trip.)
TEST(Layout, PathTableOfExactly2048BytesTakesTwoBlocks) {
  auto root = clsISODirectory::Create();
  for (int i = 0; i < 5; ++i) root->AddSubDirectory(Numbered("SIX", i));      // 5 x 14 bytes
  for (int i = 0; i < 123; ++i) root->AddSubDirectory(Numbered("EIGHT", i));  // 123 x 16
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, true);
  EXPECT_EQ(layout.isoPathBytes, 2048);
  EXPECT_EQ(layout.isoPathBlocks, 2);
  EXPECT_EQ(layout.jolietPathLocation, 23);
  EXPECT_EQ(layout.jolietPathBytes, 10 + 5 * 20 + 123 * 24);
  EXPECT_EQ(layout.jolietPathBlocks, 2);
  EXPECT_EQ(layout.firstDirectoryBlock, 27);
  EXPECT_EQ(root->Files().LBA(), 27);
}

// The name mapping shortens such names; the layout still refuses what it is handed.
TEST(Layout, RefusesJolietNamesTheRecordsCannotHold) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  auto root = clsISODirectory::Create();
  auto docs = root->AddSubDirectory(u"docs");
  ASSERT_NE(docs->Files().Add(local, std::u16string(110, u'n')), nullptr);
  MapNames(*root);
  EXPECT_NO_THROW(LayOut(*root, true));  // a 254-byte record
  ASSERT_NE(docs->Files().Add(local, std::u16string(111, u'n')), nullptr);
  MapNames(*root);
  docs->Files().File(1).JolietName(std::u16string(111, u'n'));
  EXPECT_NO_THROW(LayOut(*root, false));  // only the Joliet record is too long
  EXPECT_THAT([&] { LayOut(*root, true); },
              ThrowsMessage<InputError>(HasSubstr("\\docs\\" + std::string(111, 'n'))));
  // A directory name is refused by its record from 111 characters, by its path table record
  // from 128 on.
  for (const auto& [length, limit] : {std::pair{111, "a directory record holds at most 110"},
                                      std::pair{128, "a path table record holds at most 127"}}) {
    auto tree = clsISODirectory::Create();
    tree->AddSubDirectory(std::u16string(static_cast<std::size_t>(length), u'd'));
    MapNames(*tree);
    tree->SubDirectory(0)->JolietName(tree->SubDirectory(0)->name());
    EXPECT_NO_THROW(LayOut(*tree, false)) << length;
    EXPECT_THAT([&] { LayOut(*tree, true); }, ThrowsMessage<InputError>(HasSubstr(limit)));
  }
}

TEST(Layout, RefusesAFileAndADirectorySharingAJolietName) {
  TempDir dir;
  auto root = clsISODirectory::Create();
  auto docs = root->AddSubDirectory(u"docs");
  ASSERT_NE(docs->Files().Add(dir.WriteFile("data", "x"), u"Data"), nullptr);
  docs->AddSubDirectory(u"data");
  MapNames(*root);
  EXPECT_NO_THROW(LayOut(*root, false));  // the ISO 9660 names were made unique
  EXPECT_THAT([&] { LayOut(*root, true); },
              ThrowsMessage<InputError>(
                  ::testing::StrEq("\\docs\\: a directory and a file are both named 'Data' (names "
                                   "in one directory must differ, ignoring case)")));
}

TEST(Layout, RefusesMoreDirectoriesThanThePathTableNumbers) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  for (int i = 0; i < 32764; ++i) a->AddSubDirectory(text::FromUtf8(std::to_string(i)));
  EXPECT_EQ(NumberDirectories(*root).size(), 32766u);
  a->AddSubDirectory(u"one too many");
  EXPECT_THAT([&] { NumberDirectories(*root); },
              ThrowsMessage<InputError>(HasSubstr("\\a\\one too many\\")));
}

TEST(Layout, RefusesFilesOf4GiBAndVolumesBeyond32BitBlocks) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  auto root = clsISODirectory::Create();
  ASSERT_NE(root->Files().Add(local, u"big"), nullptr);
  MapNames(*root);
  FakeLengths fake;
  g_lengths[local] = 0x100000000ll;  // grown since it was added
  EXPECT_THAT([&] { LayOut(*root, true); }, ThrowsMessage<InputError>(HasSubstr("\\big")));
  g_lengths[local] = 0xFFFFFFFFll;  // the largest extent: 2^21 blocks
  EXPECT_EQ(LayOut(*root, false).volumeBlocks, 21 + 2097152);
  // 2048 such files pass 2^32 - 1 blocks.
  for (int i = 1; i < 2048; ++i)
    root->Files().Add(local, text::FromUtf8("big" + std::to_string(i)));
  ASSERT_EQ(root->Files().Count(), 2048);
  MapNames(*root);
  EXPECT_THAT([&] { LayOut(*root, false); },
              ThrowsMessage<InputError>(HasSubstr("a volume holds at most 4294967295")));
}

// --- Differential: random trees against a plain model of the format ---

// Blocks of one extent, placing records byte by byte: a record whose first and last byte fall
// in different blocks starts the next block; the extent ends with at least one padding byte.
std::int64_t PlainExtentBlocks(const std::vector<std::int64_t>& identifierBytes) {
  std::int64_t position = 68;  // "." and ".."
  for (std::int64_t n : identifierBytes) {
    const std::int64_t length = 33 + n + (n % 2 == 0 ? 1 : 0);
    if (position / 2048 != (position + length - 1) / 2048) position = (position / 2048 + 1) * 2048;
    position += length;
  }
  return position / 2048 + 1;
}

std::u16string RandomName(std::mt19937& random) {
  static const std::u16string alphabet =
      u"abcdefghijklmnopqrstuvwxyzABC XYZ0123456789._-~\u00e9\u4e2d";
  std::u16string name(std::uniform_int_distribution<std::size_t>(1, 110)(random), u'a');
  for (char16_t& c : name) c = alphabet[random() % alphabet.size()];
  return name;
}

TEST(LayoutDifferential, RandomTreesAgreeWithAPlainModelAndTheWrittenRegions) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  std::mt19937 random(20240305);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    FakeLengths fake;
    auto root = clsISODirectory::Create();
    std::vector<clsISODirectory*> directories{root.get()};
    const auto extraDirectories = random() % 61;
    for (std::size_t i = 0; i < extraDirectories; ++i) {
      clsISODirectory* parent = directories[random() % directories.size()];
      directories.push_back(parent->AddSubDirectory(RandomName(random)).get());
    }
    const auto files = random() % 401;
    for (std::size_t i = 0; i < files; ++i) {
      clsISODirectory* parent = directories[random() % directories.size()];
      // Add reads the real file; the entry then points at a path only the fake stat knows.
      const std::string path = local + "#" + std::to_string(i);
      g_lengths[path] = random() % 3 == 0 ? 0 : static_cast<std::int64_t>(random() % 9000);
      if (clsISOFile* file = parent->Files().Add(local, RandomName(random))) file->LocalPath(path);
    }
    const bool joliet = round % 4 != 3;
    MapNames(*root);
    const ImageLayout layout = LayOut(*root, joliet);

    std::int64_t isoPath = 10, jolietPath = 10;
    for (std::size_t i = 1; i < layout.numbered.size(); ++i) {
      const auto n = static_cast<std::int64_t>(layout.numbered[i]->DOSName().size());
      isoPath += 8 + n + (n & 1);
      jolietPath += 8 + 2 * static_cast<std::int64_t>(layout.numbered[i]->JolietName().size());
    }
    ASSERT_EQ(layout.isoPathBytes, isoPath);
    if (joliet) {
      ASSERT_EQ(layout.jolietPathBytes, jolietPath);
    }
    std::int64_t next = layout.firstDirectoryBlock;
    for (int tree = 0; tree < (joliet ? 2 : 1); ++tree) {
      auto bytes = [&](const auto& entry) {
        return static_cast<std::int64_t>(tree == 0 ? entry.DOSName().size()
                                                   : 2 * entry.JolietName().size());
      };
      for (clsISODirectory* d : layout.preOrder) {
        std::vector<std::int64_t> identifiers;
        for (std::int32_t i = 0; i < d->SubDirectoryCount(); ++i) {
          identifiers.push_back(bytes(*d->SubDirectory(i)));
        }
        for (std::int32_t i = 0; i < d->Files().Count(); ++i) {
          identifiers.push_back(bytes(d->Files().File(i)));
        }
        const std::int64_t blocks = PlainExtentBlocks(identifiers);
        ASSERT_EQ(tree == 0 ? d->Files().Blocks() : d->Files().BlocksJoliet(), blocks);
        ASSERT_EQ(tree == 0 ? d->Files().LBA() : d->Files().LBAJoliet(), next);
        next += blocks;
      }
    }
    for (clsISODirectory* d : layout.preOrder) {
      for (std::int32_t i = 0; i < d->Files().Count(); ++i) {
        const auto& f = d->Files().File(i);
        ASSERT_EQ(f.Size(), g_lengths[f.LocalPath()]);
        ASSERT_EQ(f.LBA(), f.Size() == 0 ? 0 : next);
        if (f.Size() > 0) next += f.Size() / 2048 + 1;
      }
    }
    ASSERT_EQ(layout.volumeBlocks, next);

    // The writers check each region against the layout and throw InternalError on a mismatch.
    CountingSink sink;
    DescriptorInput input;
    input.creation = testing::FixedDate();
    ASSERT_NO_THROW(WriteDirectoryStructures(sink, input, layout, *root));
    FileDataObserver observer;
    std::vector<UnreadableFile> unreadable;
    ASSERT_NO_THROW(WriteFileData(sink, layout, observer, unreadable));
    ASSERT_EQ(sink.Position(), layout.volumeBlocks * 2048);
  }
}

}  // namespace
}  // namespace tavrine::detail
