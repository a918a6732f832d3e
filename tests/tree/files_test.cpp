#include "tree/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {
namespace {

using testing::TempDir;

TEST(Files, NamesFromPathsAndDuplicatesIgnoringCase) {
  TempDir dir;
  clsISOFiles files;
  const std::string first = dir.WriteFile("a/readme.txt", "hello");
  clsISOFile* entry = files.Add(first);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name(), u"readme.txt");
  EXPECT_EQ(entry->LocalPath(), first);
  EXPECT_EQ(entry->Size(), 5);
  EXPECT_EQ(entry->LBA(), 0);
  EXPECT_EQ(entry->SortNumber(), 0);
  EXPECT_EQ(files.Count(), 1);

  EXPECT_EQ(files.Add(dir.WriteFile("b/README.TXT", "other")), nullptr);
  EXPECT_EQ(files.Count(), 1);
  EXPECT_TRUE(files.FileExists(u"ReadMe.Txt"));
  EXPECT_FALSE(files.FileExists(u"readme"));

  // An explicit name is stored as given, and it is the one the duplicate test uses.
  clsISOFile* renamed = files.Add(dir.WriteFile("b/README.TXT", "other"), u"Other Name.dat");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->name(), u"Other Name.dat");
  EXPECT_EQ(files.Add(first, u"OTHER NAME.DAT"), nullptr);
  EXPECT_EQ(&files.File(1), renamed);

  // Folding is Unicode, not ASCII only.
  ASSERT_NE(files.Add(dir.WriteFile("Ärger.txt", "")), nullptr);
  EXPECT_EQ(files.File(2).name(), u"Ärger.txt");
  EXPECT_EQ(files.Add(dir.WriteFile("c/ärger.TXT", "")), nullptr);
  EXPECT_EQ(files.Count(), 3);
}

TEST(Files, RefusedNamesAddNothing) {
  TempDir dir;
  clsISOFiles files;
  const std::string path = dir.WriteFile("plain.txt", "x");
  EXPECT_EQ(files.Add(""), nullptr);
  EXPECT_EQ(files.Add("", u"name"), nullptr);
  EXPECT_EQ(files.Add(path, u"a\\b.txt"), nullptr);
  // A local name holding "\" would read as a path inside the image.
  EXPECT_EQ(files.Add(dir.WriteFile("back\\slash.txt", "x")), nullptr);
  EXPECT_EQ(files.Count(), 0);
  // Spaces are not trimmed and other characters are not checked.
  ASSERT_NE(files.Add(path, u" spaced * name "), nullptr);
  EXPECT_EQ(files.File(0).name(), u" spaced * name ");
}

TEST(Files, NameOfAPathWithoutSlashAndUndecodableBytes) {
  TempDir dir;
  dir.WriteFile("bare.txt", "123");
  const std::string undecodable = dir.WriteFile("caf\xe9.txt", "1");
  char* previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  clsISOFiles files;
  clsISOFile* entry = files.Add("bare.txt");
  ASSERT_EQ(chdir(previous), 0);
  free(previous);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name(), u"bare.txt");
  EXPECT_EQ(entry->Size(), 3);

  // The name shows U+FFFD; the local path keeps the real bytes.
  clsISOFile* latin1 = files.Add(undecodable);
  ASSERT_NE(latin1, nullptr);
  EXPECT_EQ(latin1->name(), u"caf\uFFFD.txt");
  EXPECT_EQ(latin1->LocalPath(), undecodable);
}

TEST(Files, UnreadableAndUnfitLocalFilesThrowAndChangeNothing) {
  TempDir dir;
  clsISOFiles files;
  ASSERT_NE(files.Add(dir.WriteFile("keep.txt", "k")), nullptr);

  const std::string missing = dir / "missing.txt";
  try {
    files.Add(missing);
    FAIL() << "no error";
  } catch (const IoError& error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot read '" + missing + "': No such file or directory");
  }
  EXPECT_THROW(files.Add(dir.MakeDir("folder")), InputError);
  EXPECT_EQ(files.Count(), 1);
  EXPECT_FALSE(files.FileExists(u"missing.txt"));
  EXPECT_FALSE(files.FileExists(u"folder"));
}

TEST(Files, FourGibibytesIsRefusedOneByteLessIsTaken) {
  TempDir dir;
  const std::string big = dir / "big.bin";
  const int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, clsISOFiles::kMaxFileSize + 1), 0);  // sparse: no data blocks
  clsISOFiles files;
  try {
    files.Add(big);
    FAIL() << "no error";
  } catch (const InputError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(big), std::string::npos) << message;
    EXPECT_NE(message.find("4294967296"), std::string::npos) << message;
    EXPECT_NE(message.find("4294967295"), std::string::npos) << message;
  }
  EXPECT_EQ(files.Count(), 0);

  ASSERT_EQ(ftruncate(fd, clsISOFiles::kMaxFileSize), 0);
  close(fd);
  clsISOFile* entry = files.Add(big);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Size(), 4294967295);
}

// The date comes from the file's own birth time, or its modification time, read without
// opening the file: a read-only file keeps its real date.
TEST(Files, ReadOnlyFileKeepsItsDate) {
  TempDir dir;
  const std::string path = dir.WriteFile("ro.txt", "");
  // 2001-02-03 04:05:06.75 UTC: 05:05:06 in Berlin (winter time), fraction dropped.
  const timespec times[2] = {{981173106, 0}, {981173106, 750000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);

  struct statx facts {};
  ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &facts), 0);

  clsISOFiles files;
  clsISOFile* entry = files.Add(path);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Size(), 0);
  EXPECT_FALSE(entry->CreationDate().IsZero());
  if (facts.stx_mask & STATX_BTIME) {
    EXPECT_EQ(entry->CreationDate(), DateTime::FromUnixLocal(facts.stx_btime.tv_sec));
  } else {
    DateTime expected{2001, 2, 3, 5, 5, 6, 60};
    EXPECT_EQ(entry->CreationDate(), expected);
  }
}

TEST(Files, RemoveClearAndIndexOutOfRange) {
  TempDir dir;
  const std::string path = dir.WriteFile("f", "x");
  clsISOFiles files;
  EXPECT_THROW(files.File(0), OutOfRangeError);
  for (const char16_t* name : {u"one", u"two", u"three"}) ASSERT_NE(files.Add(path, name), nullptr);
  clsISOFile* two = &files.File(1);
  clsISOFile* three = &files.File(2);

  try {
    files.Remove(5);
    FAIL() << "no error";
  } catch (const OutOfRangeError& error) {
    EXPECT_EQ(std::string(error.what()), "subscript out of range: index 5, 3 entries");
  }
  EXPECT_THROW(files.File(-1), OutOfRangeError);
  EXPECT_THROW(files.File(3), OutOfRangeError);
  EXPECT_EQ(files.Count(), 3);

  files.Remove(0);
  EXPECT_EQ(files.Count(), 2);
  EXPECT_EQ(&files.File(0), two);
  EXPECT_EQ(&files.File(1), three);
  EXPECT_FALSE(files.FileExists(u"ONE"));
  EXPECT_NE(files.Add(path, u"One"), nullptr);

  files.Blocks(4);
  files.BlocksJoliet(5);
  files.LBA(6);
  files.LBAJoliet(7);
  files.Clear();
  EXPECT_EQ(files.Count(), 0);
  EXPECT_FALSE(files.FileExists(u"two"));
  EXPECT_EQ(files.Blocks(), 4);
  EXPECT_EQ(files.BlocksJoliet(), 5);
  EXPECT_EQ(files.LBA(), 6);
  EXPECT_EQ(files.LBAJoliet(), 7);
  EXPECT_NE(files.Add(path, u"two"), nullptr);
}

TEST(Files, RenamingKeepsTheIndexTrue) {
  TempDir dir;
  const std::string path = dir.WriteFile("f", "x");
  clsISOFiles files;
  clsISOFile* a = files.Add(path, u"a.txt");
  ASSERT_NE(files.Add(path, u"b.txt"), nullptr);
  a->name(u"c.txt");
  EXPECT_FALSE(files.FileExists(u"a.txt"));
  EXPECT_TRUE(files.FileExists(u"C.TXT"));
  EXPECT_NE(files.Add(path, u"A.txt"), nullptr);
  EXPECT_EQ(files.Add(path, u"c.TXT"), nullptr);

  // Two entries may come to share a name by renaming; the name stays known until both go.
  a->name(u"B.TXT");
  files.Remove(0);
  EXPECT_TRUE(files.FileExists(u"b.txt"));
  files.Remove(0);
  EXPECT_FALSE(files.FileExists(u"b.txt"));
  EXPECT_FALSE(files.FileExists(u"c.txt"));

  // An entry made outside a collection renames freely.
  clsISOFile loose;
  loose.name(u"x");
  EXPECT_EQ(loose.name(), u"x");
}

// The index against a plain linear search, over random adds, removes, renames and clears.
TEST(Files, IndexAgreesWithALinearSearch) {
  TempDir dir;
  const std::string path = dir.WriteFile("f", "x");
  const std::vector<std::u16string> pool = {u"a",  u"A", u"b", u"B",   u"ä",   u"Ä", u"ss",
                                            u"SS", u"σ", u"Σ", u"x.y", u"X.Y", u"F", u""};
  std::mt19937 rng(20240611);
  clsISOFiles files;
  std::vector<std::u16string> model;
  auto modelHas = [&](const std::u16string& name) {
    for (const auto& held : model) {
      if (text::EqualsIgnoreCase(held, name)) return true;
    }
    return false;
  };
  for (int step = 0; step < 4000; ++step) {
    const std::u16string& name = pool[rng() % pool.size()];
    switch (rng() % 10) {
      case 0:
      case 1:
      case 2:
      case 3: {
        // No explicit name: the entry is named after the local file, "f".
        const std::u16string effective = name.empty() ? u"f" : name;
        const bool expectAdded = !modelHas(effective);
        clsISOFile* added = files.Add(path, name);
        ASSERT_EQ(added != nullptr, expectAdded) << step;
        if (expectAdded) model.push_back(effective);
        break;
      }
      case 4:
      case 5:
      case 6:
        if (!model.empty()) {
          const auto index = static_cast<std::int32_t>(rng() % model.size());
          files.Remove(index);
          model.erase(model.begin() + index);
        }
        break;
      case 7:
      case 8:
        if (!model.empty()) {
          const auto index = static_cast<std::int32_t>(rng() % model.size());
          files.File(index).name(name);
          model[static_cast<std::size_t>(index)] = name;
        }
        break;
      default:
        if (rng() % 8 == 0) {
          files.Clear();
          model.clear();
        }
    }
    ASSERT_EQ(files.Count(), static_cast<std::int32_t>(model.size()));
    for (const auto& probe : pool) ASSERT_EQ(files.FileExists(probe), modelHas(probe)) << step;
  }
}

}  // namespace
}  // namespace tavrine
