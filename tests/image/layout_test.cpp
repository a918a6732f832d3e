// The layout: record lengths, the block rule, extent and path table sizes, addresses, and the
// limits of the format refused before anything is written. A differential test lays out random
// trees and holds the layout against a plain re-computation and every written region against
// the layout (through the counting sink).
#include "image/layout.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "fileio/file_system_calls.h"
#include "image/file_data.h"
#include "image/names.h"
#include "image/records.h"
#include "image/writer.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::detail {
namespace {

using testing::TempDir;

// File lengths by path, served through the stat seam, so that layouts of huge files need no
// disk. Paths not in the map are passed to the real stat.
std::map<std::string, std::int64_t>& FakeLengths() {
  static std::map<std::string, std::int64_t> lengths;
  return lengths;
}

int FakeStat(const char* path, struct stat* st) {
  const auto it = FakeLengths().find(path);
  if (it == FakeLengths().end()) return RealFileSystemCalls().stat(path, st);
  *st = {};
  st->st_mode = S_IFREG | 0644;
  st->st_size = static_cast<off_t>(it->second);
  return 0;
}

class FakeLengthScope {
 public:
  FakeLengthScope() : calls_(WithFakeStat()) {}
  ~FakeLengthScope() { FakeLengths().clear(); }

 private:
  static FileSystemCalls WithFakeStat() {
    FileSystemCalls calls = RealFileSystemCalls();
    calls.stat = FakeStat;
    return calls;
  }
  ScopedFileSystemCalls calls_;
};

TEST(Layout, RecordLengths) {
  EXPECT_EQ(PathRecordLength(1), 10);
  EXPECT_EQ(PathRecordLength(5), 14);
  EXPECT_EQ(PathRecordLength(6), 14);
  EXPECT_EQ(PathRecordLength(10), 18);
  EXPECT_EQ(DirRecordLength(1), 34);
  EXPECT_EQ(DirRecordLength(10), 44);
  EXPECT_EQ(DirRecordLength(11), 44);
  EXPECT_EQ(DirRecordLength(220), 254);  // a 110-character Joliet name
  EXPECT_EQ(DirRecordLength(222), 256);  // 111 characters: more than one byte can state
}

TEST(Layout, BlockRule) {
  EXPECT_EQ(RecordStart(2014, 34), 2014);  // ends exactly at 2048: stays
  EXPECT_EQ(RecordStart(2015, 34), 2048);  // would cross: moves to the next block
  EXPECT_EQ(RecordStart(2048, 34), 2048);
  EXPECT_EQ(RecordStart(4095, 1), 4095);
  EXPECT_EQ(RecordStart(4095, 2), 4096);
}

TEST(Layout, PathTableNumbersLevelByLevel) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"A");
  auto b = root->AddSubDirectory(u"B");
  auto a1 = a->AddSubDirectory(u"A1");
  auto b1 = b->AddSubDirectory(u"B1");
  auto b2 = b1->AddSubDirectory(u"B2");
  const auto order = NumberDirectories(*root);
  ASSERT_EQ(order.size(), 6u);
  EXPECT_EQ(order[0], root.get());
  EXPECT_EQ(order[1], a.get());
  EXPECT_EQ(order[2], b.get());
  EXPECT_EQ(order[3], a1.get());
  EXPECT_EQ(order[4], b1.get());
  EXPECT_EQ(order[5], b2.get());
  EXPECT_EQ(b2->DirectoryNumber(), 6);
  EXPECT_EQ(b2->Parent()->DirectoryNumber(), 5);
  // Pre-order for the extents: root, A, A1, B, B1, B2.
  const auto pre = PreOrder(*root);
  EXPECT_EQ(pre[1], a.get());
  EXPECT_EQ(pre[2], a1.get());
  EXPECT_EQ(pre[3], b.get());
}

TEST(Layout, EmptyRoot) {
  auto root = clsISODirectory::Create();
  const ImageLayout with = LayOut(*root, true);
  EXPECT_EQ(with.isoPathBytes, 10);
  EXPECT_EQ(with.jolietPathBytes, 10);
  EXPECT_EQ(with.firstDirectoryBlock, 23);
  EXPECT_EQ(root->Files().LBA(), 23);
  EXPECT_EQ(root->Files().LBAJoliet(), 24);
  EXPECT_EQ(with.volumeBlocks, 25);
  const ImageLayout without = LayOut(*root, false);
  EXPECT_EQ(without.jolietPathBytes, 0);
  EXPECT_EQ(without.firstDirectoryBlock, 20);
  EXPECT_EQ(without.volumeBlocks, 21);
}

TEST(Layout, WorkedTree) {
  TempDir dir;
  auto root = clsISODirectory::Create();
  auto s = root->AddSubDirectory(u"s");
  testing::AddFile(*root, dir, "a.txt", std::string(3000, 'x'));
  testing::AddFile(*root, dir, "b.txt", "");
  testing::AddFile(*s, dir, "s/c.txt", std::string(2048, 'x'));
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, true);
  EXPECT_EQ(layout.isoPathBytes, 20);
  EXPECT_EQ(layout.jolietPathBytes, 20);
  EXPECT_EQ(layout.firstDirectoryBlock, 23);
  EXPECT_EQ(root->Files().LBA(), 23);
  EXPECT_EQ(s->Files().LBA(), 24);
  EXPECT_EQ(root->Files().LBAJoliet(), 25);
  EXPECT_EQ(s->Files().LBAJoliet(), 26);
  EXPECT_EQ(root->Files().File(0).LBA(), 27);
  EXPECT_EQ(root->Files().File(1).LBA(), 0);
  EXPECT_EQ(s->Files().File(0).LBA(), 29);
  EXPECT_EQ(layout.volumeBlocks, 31);
}

TEST(Layout, FileBlocksAndZeroLengthFiles) {
  TempDir dir;
  auto root = clsISODirectory::Create();
  const std::int64_t sizes[] = {1, 2048, 0, 2049, 4096};
  const char* names[] = {"f0", "f1", "f2", "f3", "f4"};
  for (int i = 0; i < 5; ++i) {
    testing::AddFile(*root, dir, names[i], std::string(static_cast<std::size_t>(sizes[i]), 'x'));
  }
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, false);
  const auto& files = root->Files();
  EXPECT_EQ(files.File(0).LBA(), 21);
  EXPECT_EQ(files.File(1).LBA(), 22);  // 1 byte: 1 block
  EXPECT_EQ(files.File(2).LBA(), 0);   // empty: no block
  EXPECT_EQ(files.File(3).LBA(), 24);  // 2048 bytes: 2 blocks
  EXPECT_EQ(files.File(4).LBA(), 26);  // 2049 bytes: 2 blocks
  EXPECT_EQ(layout.volumeBlocks, 29);  // 4096 bytes: 3 blocks
}

TEST(Layout, ExtentEndingExactlyOnABoundaryTakesAnotherBlock) {
  TempDir dir;
  auto root = clsISODirectory::Create();
  const std::string local = dir.WriteFile("data", "x");
  // "FILE000.TXT": 11 characters, 44-byte records; 68 + 45 * 44 = 2048.
  for (int i = 0; i < 45; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "file%03d.txt", i);
    ASSERT_NE(root->Files().Add(local, text::FromUtf8(name)), nullptr);
  }
  MapNames(*root);
  LayOut(*root, false);
  EXPECT_EQ(root->Files().Blocks(), 2);
  root->Files().Remove(44);  // 2004 bytes: one block
  MapNames(*root);
  LayOut(*root, false);
  EXPECT_EQ(root->Files().Blocks(), 1);
}

TEST(Layout, PathTableOfExactly2048BytesTakesTwoBlocks) {
  auto root = clsISODirectory::Create();
  // 10 + 5 * 14 + 123 * 16 = 2048 (6- and 8-character names).
  for (int i = 0; i < 5; ++i) root->AddSubDirectory(u"SIX00" + std::u16string(1, u'A' + i));
  for (int i = 0; i < 123; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "EIGHT%03d", i);
    root->AddSubDirectory(text::FromUtf8(name));
  }
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, true);
  EXPECT_EQ(layout.isoPathBytes, 2048);
  EXPECT_EQ(layout.isoPathBlocks, 2);
  EXPECT_EQ(layout.jolietPathLocation, 23);
  EXPECT_EQ(layout.jolietPathBytes, 10 + 5 * 20 + 123 * 24);
  EXPECT_EQ(layout.jolietPathBlocks, 2);
  EXPECT_EQ(layout.firstDirectoryBlock, 27);
}

TEST(Layout, JolietPathTablesLongerThanTheIsoOnes) {
  auto root = clsISODirectory::Create();
  for (int i = 0; i < 10; ++i) {
    root->AddSubDirectory(std::u16string(99, u'd') + std::u16string(1, u'0' + i));
  }
  MapNames(*root);
  const ImageLayout layout = LayOut(*root, true);
  EXPECT_EQ(layout.isoPathBlocks, 1);  // 31-character ISO names: 10 + 10 * 40
  EXPECT_EQ(layout.jolietPathBytes, 10 + 10 * 208);
  EXPECT_EQ(layout.jolietPathBlocks, 2);  // PJ > P
  EXPECT_EQ(layout.jolietPathLocation, 21);
  EXPECT_EQ(layout.firstDirectoryBlock, 25);
  EXPECT_EQ(root->Files().LBA(), 25);
}

TEST(Layout, RefusesJolietNamesTheRecordsCannotHold) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  {
    auto root = clsISODirectory::Create();
    auto docs = root->AddSubDirectory(u"docs");
    ASSERT_NE(docs->Files().Add(local, std::u16string(110, u'n')), nullptr);
    MapNames(*root);
    EXPECT_NO_THROW(LayOut(*root, true));
    ASSERT_NE(docs->Files().Add(local, std::u16string(111, u'n')), nullptr);
    MapNames(*root);
    EXPECT_NO_THROW(LayOut(*root, false));  // only the Joliet record is too long
    try {
      LayOut(*root, true);
      FAIL() << "a 111-character Joliet name was laid out";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("\\docs\\" + std::string(111, 'n')), std::string::npos)
          << e.what();
    }
  }
  for (std::size_t length : {111u, 127u, 128u, 200u}) {
    auto root = clsISODirectory::Create();
    root->AddSubDirectory(std::u16string(length, u'd'));
    MapNames(*root);
    EXPECT_THROW(LayOut(*root, true), InputError) << length;
    EXPECT_NO_THROW(LayOut(*root, false)) << length;
  }
}

TEST(Layout, RefusesAFileAndADirectorySharingAJolietName) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  auto root = clsISODirectory::Create();
  auto docs = root->AddSubDirectory(u"docs");
  ASSERT_NE(docs->Files().Add(local, u"Data"), nullptr);
  docs->AddSubDirectory(u"data");
  MapNames(*root);
  EXPECT_NO_THROW(LayOut(*root, false));  // the ISO 9660 names were made unique
  try {
    LayOut(*root, true);
    FAIL() << "two Joliet records named Data were laid out";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(),
                 "\\docs\\: a directory and a file are both named 'Data' (names in one directory "
                 "must differ, ignoring case)");
  }
}

TEST(Layout, RefusesMoreDirectoriesThanThePathTableNumbers) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  for (int i = 0; i < 32764; ++i) a->AddSubDirectory(text::FromUtf8(std::to_string(i)));
  EXPECT_EQ(NumberDirectories(*root).size(), 32766u);
  a->AddSubDirectory(u"one too many");
  try {
    NumberDirectories(*root);
    FAIL() << "32767 directories were numbered";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("\\a\\one too many\\"), std::string::npos) << e.what();
  }
}

TEST(Layout, RefusesFilesThatGrewTo4GiBAndVolumesBeyond32BitBlocks) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  auto root = clsISODirectory::Create();
  ASSERT_NE(root->Files().Add(local, u"big"), nullptr);
  MapNames(*root);
  {
    FakeLengthScope fake;
    FakeLengths()[local] = 0x100000000ll;
    try {
      LayOut(*root, true);
      FAIL() << "a 4 GiB file was laid out";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("\\big"), std::string::npos) << e.what();
    }
    FakeLengths()[local] = 0xFFFFFFFFll;  // the largest extent: 2^21 blocks
    EXPECT_EQ(LayOut(*root, false).volumeBlocks, 21 + 2097152);
  }
  // 2048 such files pass 2^32 - 1 blocks.
  std::vector<std::string> locals;
  for (int i = 1; i < 2048; ++i) {
    ASSERT_NE(root->Files().Add(local, text::FromUtf8("big" + std::to_string(i))), nullptr);
  }
  MapNames(*root);
  FakeLengthScope fake;
  FakeLengths()[local] = 0xFFFFFFFFll;
  EXPECT_THROW(LayOut(*root, false), InputError);
}

TEST(Layout, MissingFileIsAnIoErrorNamingThePath) {
  TempDir dir;
  const std::string local = dir.WriteFile("gone.txt", "x");
  auto root = clsISODirectory::Create();
  ASSERT_NE(root->Files().Add(local), nullptr);
  std::remove(local.c_str());
  MapNames(*root);
  try {
    LayOut(*root, true);
    FAIL() << "a missing file was laid out";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(local), std::string::npos) << e.what();
  }
}

// --- Differential: random trees against a plain model of the format ---

// Blocks of one extent, placing records byte by byte: a record whose first and last byte fall
// in different blocks starts the next block; the extent ends with at least one padding byte.
std::int64_t PlainExtentBlocks(const std::vector<std::int64_t>& records) {
  std::int64_t position = 68;
  for (std::int64_t length : records) {
    if (position / 2048 != (position + length - 1) / 2048) position = (position / 2048 + 1) * 2048;
    position += length;
  }
  return position / 2048 + 1;
}

std::u16string RandomName(std::mt19937& random, std::size_t maxLength) {
  static const std::u16string alphabet =
      u"abcdefghijklmnopqrstuvwxyzABC XYZ0123456789._-~\u00e9\u4e2d";
  std::uniform_int_distribution<std::size_t> length(1, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::u16string name;
  const std::size_t n = length(random);
  for (std::size_t i = 0; i < n; ++i) name += alphabet[pick(random)];
  return name;
}

TEST(LayoutDifferential, RandomTreesAgreeWithAPlainModelAndTheWrittenRegions) {
  TempDir dir;
  const std::string local = dir.WriteFile("data", "x");
  std::mt19937 random(20240305);
  for (int round = 0; round < 40; ++round) {
    FakeLengthScope fake;
    auto root = clsISODirectory::Create();
    std::vector<clsISODirectory*> directories{root.get()};
    std::uniform_int_distribution<int> directoryCount(0, 60);
    const int extraDirectories = directoryCount(random);
    for (int i = 0; i < extraDirectories; ++i) {
      clsISODirectory* parent = directories[random() % directories.size()];
      directories.push_back(parent->AddSubDirectory(RandomName(random, 110)).get());
    }
    std::uniform_int_distribution<int> fileCount(0, 400);
    const int files = fileCount(random);
    for (int i = 0; i < files; ++i) {
      clsISODirectory* parent = directories[random() % directories.size()];
      std::string path = local;  // served by the fake stat
      path += "#";
      path += std::to_string(i);
      FakeLengths()[path] = random() % 3 == 0 ? 0 : static_cast<std::int64_t>(random() % 9000);
      // Add reads the real file; the entry then points at a path only the fake stat knows.
      clsISOFile* file = parent->Files().Add(local, RandomName(random, 110));
      if (file != nullptr) file->LocalPath(path);
    }
    const bool joliet = round % 4 != 3;
    MapNames(*root);
    const ImageLayout layout = LayOut(*root, joliet);

    // Path tables and extents against the plain model.
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
      for (clsISODirectory* d : layout.preOrder) {
        std::vector<std::int64_t> records;
        for (std::int32_t i = 0; i < d->SubDirectoryCount(); ++i) {
          const auto& sub = *d->SubDirectory(i);
          const auto n = static_cast<std::int64_t>(tree == 0 ? sub.DOSName().size()
                                                             : 2 * sub.JolietName().size());
          records.push_back(33 + n + (n % 2 == 0 ? 1 : 0));
        }
        for (std::int32_t i = 0; i < d->Files().Count(); ++i) {
          const auto& f = d->Files().File(i);
          const auto n =
              static_cast<std::int64_t>(tree == 0 ? f.DOSName().size() : 2 * f.JolietName().size());
          records.push_back(33 + n + (n % 2 == 0 ? 1 : 0));
        }
        const std::int64_t blocks = PlainExtentBlocks(records);
        ASSERT_EQ(tree == 0 ? d->Files().Blocks() : d->Files().BlocksJoliet(), blocks);
        ASSERT_EQ(tree == 0 ? d->Files().LBA() : d->Files().LBAJoliet(), next);
        next += blocks;
      }
    }
    for (clsISODirectory* d : layout.preOrder) {
      for (std::int32_t i = 0; i < d->Files().Count(); ++i) {
        const auto& f = d->Files().File(i);
        ASSERT_EQ(f.Size(), FakeLengths()[f.LocalPath()]);
        if (f.Size() == 0) {
          ASSERT_EQ(f.LBA(), 0);
        } else {
          ASSERT_EQ(f.LBA(), next);
          next += f.Size() / 2048 + 1;
        }
      }
    }
    ASSERT_EQ(layout.volumeBlocks, next);

    // Every region written through the counting sink must end where the layout said: the
    // writers check each region and throw InternalError on a mismatch.
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
