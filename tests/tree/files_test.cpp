#include "tree/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {
namespace {

using testing::TempDir;

// Adds in order to one collection: the name taken, or nothing added (nullptr in the table).
TEST(Files, NamesFromPathsOrGivenAndDuplicatesIgnoringCase) {
  struct Case {
    const char* local;
    const char16_t* given;
    const char16_t* expected;
  };
  const Case cases[] = {
      {"a/readme.txt", u"", u"readme.txt"},
      {"b/README.TXT", u"", nullptr},  // duplicate ignoring case
      {"b/README.TXT", u"Other Name.dat", u"Other Name.dat"},
      {"a/readme.txt", u"OTHER NAME.DAT", nullptr},  // the given name is the one compared
      {"Ärger.txt", u"", u"Ärger.txt"},
      {"c/ärger.TXT", u"", nullptr},  // folding is Unicode, not ASCII only
      {"plain", u"a\\b.txt", nullptr},
      {"plain", u"a/b.txt", nullptr},
      {"plain", u".", nullptr},
      {"plain", u"..", nullptr},
      {"back\\slash.txt", u"", u"back_slash.txt"},  // "\\" would read as a path in the image
      {"plain", u" spaced * name ", u" spaced * name "},  // not trimmed, not checked
      {"caf\xe9.txt", u"", u"caf\u00E9.txt"},  // Windows-1252; the local path keeps the bytes
      {"\x81\x80\xc3", u"", u"\u0081\u20AC\u00C3"},
  };
  TempDir dir;
  clsISOFiles files;
  std::int32_t count = 0;
  for (const Case& c : cases) {
    const std::string path = dir.WriteFile(c.local, c.local);
    clsISOFile* entry = files.Add(path, c.given);
    if (c.expected == nullptr) {
      EXPECT_EQ(entry, nullptr) << c.local;
      continue;
    }
    ASSERT_NE(entry, nullptr) << c.local;
    EXPECT_EQ(entry->name(), c.expected) << c.local;
    EXPECT_EQ(entry->LocalPath(), path);
    EXPECT_EQ(entry->Size(), static_cast<std::int64_t>(std::string(c.local).size()));
    EXPECT_EQ(&files.File(count++), entry);
  }
  EXPECT_EQ(files.Count(), count);
  EXPECT_EQ(files.Add(""), nullptr);
  EXPECT_EQ(files.Add("", u"name"), nullptr);

  // A path without "/" is a name as it stands.
  char* previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  clsISOFile* bare = files.Add("plain");
  ASSERT_EQ(chdir(previous), 0);
  free(previous);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->name(), u"plain");
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
  ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &facts), 0);

  clsISOFiles files;
  clsISOFile* entry = files.Add(path);
  ASSERT_NE(entry, nullptr);
  const DateTime expected = (facts.stx_mask & STATX_BTIME) != 0
                                ? DateTime::FromUnixLocal(facts.stx_btime.tv_sec)
                                : DateTime{2001, 2, 3, 5, 5, 6, 60};
  EXPECT_EQ(entry->CreationDate(), expected);
}

TEST(Files, RemoveAndClearKeepOrderAndExtentValues) {
  TempDir dir;
  const std::string path = dir.WriteFile("f", "x");
  clsISOFiles files;
  for (const char16_t* name : {u"one", u"two", u"three"}) ASSERT_NE(files.Add(path, name), nullptr);
  clsISOFile* two = &files.File(1);
  clsISOFile* three = &files.File(2);
  try {
    files.Remove(3);
    FAIL() << "no error";
  } catch (const OutOfRangeError& error) {
    EXPECT_EQ(std::string(error.what()), "subscript out of range: index 3, 3 entries");
  }
  EXPECT_THROW(files.File(-1), OutOfRangeError);
  files.Remove(0);
  ASSERT_EQ(files.Count(), 2);
  EXPECT_EQ(&files.File(0), two);
  EXPECT_EQ(&files.File(1), three);

  files.Blocks(4);
  files.BlocksJoliet(5);
  files.LBA(6);
  files.LBAJoliet(7);
  files.Clear();
  EXPECT_EQ(files.Count(), 0);
  EXPECT_EQ(std::make_tuple(files.Blocks(), files.BlocksJoliet(), files.LBA(), files.LBAJoliet()),
            std::make_tuple(4, 5, 6, 7));

  // An entry made outside a collection renames freely.
  clsISOFile loose;
  loose.name(u"x");
  EXPECT_EQ(loose.name(), u"x");
}

// The name index against a plain linear search, over random adds, removes, renames (two
// entries may come to share a name, and then the first in index order is the one found) and
// clears.
TEST(Files, IndexAgreesWithALinearSearch) {
  TempDir dir;
  const std::string path = dir.WriteFile("f", "x");
  const std::vector<std::u16string> pool = {u"a",  u"A", u"b", u"B",   u"ä",   u"Ä", u"ss",
                                            u"SS", u"σ", u"Σ", u"x.y", u"X.Y", u"F", u""};
  std::mt19937 rng(20240611);
  clsISOFiles files;
  std::vector<std::u16string> model;
  // The index of the first entry named name ignoring case, or -1.
  auto modelFind = [&](const std::u16string& name) {
    for (std::size_t i = 0; i < model.size(); ++i) {
      if (text::Fold(model[i]) == text::Fold(name)) return static_cast<std::int32_t>(i);
    }
    return -1;
  };
  auto modelHas = [&](const std::u16string& name) { return modelFind(name) >= 0; };
  for (int step = 0; step < 4000; ++step) {
    const std::u16string& name = pool[rng() % pool.size()];
    const auto index = static_cast<std::int32_t>(model.empty() ? 0 : rng() % model.size());
    const unsigned action = rng() % 10;
    if (action < 4) {
      const std::u16string effective = name.empty() ? u"f" : name;  // named after the file
      const bool expectAdded = !modelHas(effective);
      ASSERT_EQ(files.Add(path, name) != nullptr, expectAdded) << step;
      if (expectAdded) model.push_back(effective);
    } else if (action < 7 && !model.empty()) {
      files.Remove(index);
      model.erase(model.begin() + index);
    } else if (action < 9 && !model.empty()) {
      files.File(index).name(name);
      model[static_cast<std::size_t>(index)] = name;
    } else if (action == 9 && rng() % 8 == 0) {
      files.Clear();
      model.clear();
    }
    ASSERT_EQ(files.Count(), static_cast<std::int32_t>(model.size()));
    for (const auto& probe : pool) {
      ASSERT_EQ(files.FileExists(probe), modelHas(probe)) << step;
      const std::int32_t first = modelFind(probe);
      ASSERT_EQ(files.FindFile(probe), first < 0 ? nullptr : &files.File(first)) << step;
    }
  }
}

}  // namespace
}  // namespace tavrine
