#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tree/directory.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::vector<std::u16string> kAll = {u"*"};

std::vector<std::string> FileNames(const clsISODirectory& dir) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < dir.Files().Count(); ++i) {
    names.push_back(text::ToUtf8(dir.Files().File(i).name()));
  }
  return names;
}

std::vector<std::string> SubNames(const clsISODirectory& dir) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i) {
    names.push_back(text::ToUtf8(dir.SubDirectory(i)->name()));
  }
  return names;
}

std::string Entry(std::string image, const std::string& local) {
  image.append(" <- ").append(local);
  return image;
}

// The whole image tree as lines "\path\name <- local path", depth first, for comparing imports.
void Describe(const clsISODirectory& dir, std::vector<std::string>& lines) {
  const std::string path = text::ToUtf8(dir.FullPath());
  lines.push_back(path);
  for (std::int32_t i = 0; i < dir.Files().Count(); ++i) {
    const clsISOFile& file = dir.Files().File(i);
    lines.push_back(Entry(path + text::ToUtf8(file.name()), file.LocalPath()));
  }
  for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i) Describe(*dir.SubDirectory(i), lines);
}

std::vector<std::string> Describe(const clsISODirectory& dir) {
  std::vector<std::string> lines;
  Describe(dir, lines);
  return lines;
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(LocalImportTest, StarImportsFilesAndSubFolder) {
  TempDir tmp;
  tmp.WriteFile("one.txt", "1");
  tmp.WriteFile("two.dat", "22");
  tmp.WriteFile("sub/three.txt", "333");
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), kAll, true).empty());

  EXPECT_EQ(FileNames(*root), (std::vector<std::string>{"one.txt", "two.dat"}));
  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"sub"});
  const clsISODirectory& sub = *root->SubDirectory(0);
  EXPECT_EQ(FileNames(sub), std::vector<std::string>{"three.txt"});
  EXPECT_EQ(sub.Parent(), root);
  EXPECT_EQ(sub.Files().File(0).LocalPath(), tmp / "sub/three.txt");
  EXPECT_EQ(sub.Files().File(0).Size(), 3);
  EXPECT_EQ(root->Files().File(1).LocalPath(), tmp / "two.dat");
  EXPECT_EQ(root->Files().File(1).Size(), 2);
}

TEST(LocalImportTest, PatternsApplyToFoldersToo) {
  TempDir tmp;
  tmp.WriteFile("sub/three.txt", "3");
  tmp.WriteFile("sub.d/four.txt", "4");
  tmp.WriteFile("noext", "n");
  tmp.WriteFile("one.txt", "1");
  auto root = clsISODirectory::Create();
  root->AddLocalDirectory(tmp.path().string(), {u"*.*"}, true);
  EXPECT_EQ(FileNames(*root), std::vector<std::string>{"one.txt"});
  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"sub.d"});
  EXPECT_EQ(FileNames(*root->SubDirectory(0)), std::vector<std::string>{"four.txt"});

  // Patterns are tried in turn, and a folder matching none is not entered.
  auto other = clsISODirectory::Create();
  other->AddLocalDirectory(tmp.path().string(), {u"*.txt", u"sub", u"no???"}, true);
  EXPECT_EQ(FileNames(*other), (std::vector<std::string>{"noext", "one.txt"}));
  ASSERT_EQ(SubNames(*other), std::vector<std::string>{"sub"});
  EXPECT_EQ(FileNames(*other->SubDirectory(0)), std::vector<std::string>{"three.txt"});
}

TEST(LocalImportTest, PatternsCompareByCode) {
  TempDir tmp;
  tmp.WriteFile("a.txt", "");
  tmp.WriteFile("B.TXT", "");
  auto root = clsISODirectory::Create();
  root->AddLocalDirectory(tmp.path().string(), {u"*.txt"}, true);
  EXPECT_EQ(FileNames(*root), std::vector<std::string>{"a.txt"});
}

TEST(LocalImportTest, WithoutRecursionNoSubDirectoryIsMade) {
  TempDir tmp;
  tmp.WriteFile("one.txt", "1");
  tmp.WriteFile("sub/three.txt", "3");
  fs::create_directory_symlink(tmp / "sub", tmp / "link");
  auto root = clsISODirectory::Create();
  // Neither the folder nor the link to a folder is a surprise worth reporting here.
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), kAll, false).empty());
  EXPECT_EQ(FileNames(*root), std::vector<std::string>{"one.txt"});
  EXPECT_EQ(root->SubDirectoryCount(), 0);
}

TEST(LocalImportTest, DotNamesAreNeverImported) {
  TempDir tmp;
  tmp.WriteFile(".hidden", "h");
  tmp.WriteFile(".git/config", "c");
  tmp.WriteFile("seen/.also-hidden", "h");
  tmp.WriteFile("seen.txt", "s");
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), {u"*", u".*"}, true).empty());
  EXPECT_EQ(FileNames(*root), std::vector<std::string>{"seen.txt"});
  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"seen"});
  EXPECT_EQ(root->SubDirectory(0)->Files().Count(), 0);
}

TEST(LocalImportTest, EmptyFilterImportsNothing) {
  TempDir tmp;
  tmp.WriteFile("one.txt", "1");
  tmp.WriteFile("sub/two.txt", "2");
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), {}, true).empty());
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_EQ(root->SubDirectoryCount(), 0);
}

TEST(LocalImportTest, ImportingTwiceAddsNothingAndSaysWhy) {
  TempDir tmp;
  tmp.WriteFile("one.txt", "1");
  tmp.WriteFile("sub/two.txt", "2");
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), kAll, true).empty());
  const std::vector<std::string> before = Describe(*root);

  const std::vector<PassedOver> again = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  EXPECT_EQ(Describe(*root), before);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].LocalPath, tmp / "one.txt");
  EXPECT_EQ(again[0].Reason, "a file named 'one.txt' is already in \\");
  EXPECT_EQ(again[1].LocalPath, tmp / "sub/two.txt");
  EXPECT_EQ(again[1].Reason, "a file named 'two.txt' is already in \\sub\\");
}

TEST(LocalImportTest, PathWithOrWithoutClosingSlashIsScannedAlike) {
  TempDir tmp;
  tmp.WriteFile("one.txt", "1");
  tmp.WriteFile("sub/two.txt", "2");
  auto plain = clsISODirectory::Create();
  auto slashed = clsISODirectory::Create();
  plain->AddLocalDirectory(tmp.path().string(), kAll, true);
  slashed->AddLocalDirectory(tmp.path().string() + "/", kAll, true);
  EXPECT_EQ(Describe(*plain), Describe(*slashed));
  EXPECT_EQ(plain->SubDirectory(0)->Files().File(0).LocalPath(), tmp / "sub/two.txt");
}

TEST(LocalImportTest, EntriesComeInAscendingByteOrderAndCaseCollisionsAreReported) {
  TempDir tmp;
  for (const char* name : {"b.txt", "\xc3\xa9.txt", "B.txt", "a.txt", "Z.txt", "10.txt", "9.txt"}) {
    tmp.WriteFile(name, name);
  }
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  EXPECT_EQ(FileNames(*root), (std::vector<std::string>{"10.txt", "9.txt", "B.txt", "Z.txt",
                                                        "a.txt", "\xc3\xa9.txt"}));
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "b.txt");
  EXPECT_EQ(passed[0].Reason, "a file named 'B.txt' is already in \\");
}

TEST(LocalImportTest, MergesIntoExistingSubDirectoryOfOtherCase) {
  TempDir tmp;
  tmp.WriteFile("docs/new.txt", "n");
  tmp.WriteFile("docs/OLD.TXT", "o");
  const std::string earlier = tmp.WriteFile("elsewhere/old.txt", "e");
  auto root = clsISODirectory::Create();
  auto docs = root->AddSubDirectory(u"Docs");
  ASSERT_NE(docs->Files().Add(earlier), nullptr);

  const std::vector<PassedOver> passed =
      root->AddLocalDirectory(tmp.path().string(), {u"docs", u"*.txt", u"*.TXT"}, true);
  EXPECT_EQ(SubNames(*root), std::vector<std::string>{"Docs"});
  EXPECT_EQ(FileNames(*docs), (std::vector<std::string>{"old.txt", "new.txt"}));
  EXPECT_EQ(docs->Files().File(0).LocalPath(), earlier);  // the earlier entry stays
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "docs/OLD.TXT");
  EXPECT_EQ(passed[0].Reason, "a file named 'old.txt' is already in \\Docs\\");
}

// Folders 'Sub' and 'sub' become one sub-directory, and each is scanned by its own path: the
// files of the second are not lost by scanning the first one twice.
TEST(LocalImportTest, FoldersDifferingOnlyInCaseAreBothImported) {
  TempDir tmp;
  tmp.WriteFile("Sub/a.txt", "upper a");
  tmp.WriteFile("Sub/deeper/x.txt", "upper x");
  tmp.WriteFile("sub/b.txt", "lower b");
  tmp.WriteFile("sub/A.TXT", "lower A");
  tmp.WriteFile("sub/DEEPER/y.txt", "lower y");
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);

  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"Sub"});
  const clsISODirectory& sub = *root->SubDirectory(0);
  EXPECT_EQ(FileNames(sub), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(sub.Files().File(1).LocalPath(), tmp / "sub/b.txt");
  ASSERT_EQ(SubNames(sub), std::vector<std::string>{"deeper"});
  EXPECT_EQ(FileNames(*sub.SubDirectory(0)), (std::vector<std::string>{"x.txt", "y.txt"}));
  EXPECT_EQ(sub.SubDirectory(0)->Files().File(1).LocalPath(), tmp / "sub/DEEPER/y.txt");
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "sub/A.TXT");
  EXPECT_EQ(passed[0].Reason, "a file named 'a.txt' is already in \\Sub\\");
}

// The local path keeps the spaces; only the name in the image loses them.
TEST(LocalImportTest, NamesWithSurroundingSpacesAreImported) {
  TempDir tmp;
  tmp.WriteFile(" spaced.txt  ", "12345");
  tmp.WriteFile(" dir /inner.txt", "67");
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), kAll, true).empty());
  ASSERT_EQ(FileNames(*root), std::vector<std::string>{"spaced.txt"});
  EXPECT_EQ(root->Files().File(0).LocalPath(), tmp / " spaced.txt  ");
  EXPECT_EQ(root->Files().File(0).Size(), 5);
  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"dir"});
  const clsISOFile& inner = root->SubDirectory(0)->Files().File(0);
  EXPECT_EQ(text::ToUtf8(inner.name()), "inner.txt");
  EXPECT_EQ(inner.LocalPath(), tmp / " dir /inner.txt");
  EXPECT_EQ(inner.Size(), 2);
}

TEST(LocalImportTest, NamesTheImageCannotHoldArePassedOver) {
  TempDir tmp;
  tmp.WriteFile("back\\slash.txt", "b");
  tmp.WriteFile("folder\\x/in.txt", "i");
  tmp.WriteFile("   ", "s");
  tmp.WriteFile("bad\xff.txt", "invalid UTF-8");
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  // Invalid UTF-8 still imports: the image name has U+FFFD, the local path the real bytes.
  ASSERT_EQ(root->Files().Count(), 1);
  EXPECT_EQ(root->Files().File(0).name(), u"bad\uFFFD.txt");
  EXPECT_EQ(root->Files().File(0).LocalPath(), tmp / "bad\xff.txt");
  EXPECT_EQ(root->SubDirectoryCount(), 0);
  ASSERT_EQ(passed.size(), 3u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "   ");
  EXPECT_EQ(passed[0].Reason, "the name is empty without its leading and trailing spaces");
  EXPECT_EQ(passed[1].LocalPath, tmp / "back\\slash.txt");
  EXPECT_EQ(passed[1].Reason, "the name holds '\\'");
  EXPECT_EQ(passed[2].LocalPath, tmp / "folder\\x");
}

TEST(LocalImportTest, DeepTreeIsWalkedToTheBottom) {
  const auto FileName = [](int level) {
    return std::string("f").append(std::to_string(level)) + ".txt";
  };
  TempDir tmp;
  std::string relative;
  for (int level = 0; level < 30; ++level) {
    const std::string number = std::to_string(level);
    relative.append("level").append(number).append("/");
    tmp.WriteFile(relative + FileName(level), "x");
  }
  auto root = clsISODirectory::Create();
  EXPECT_TRUE(root->AddLocalDirectory(tmp.path().string(), kAll, true).empty());
  std::shared_ptr<clsISODirectory> dir = root;
  for (int level = 0; level < 30; ++level) {
    ASSERT_EQ(dir->SubDirectoryCount(), 1) << level;
    dir = dir->SubDirectory(0);
    EXPECT_EQ(FileNames(*dir), std::vector<std::string>{FileName(level)});
  }
  EXPECT_EQ(dir->SubDirectoryCount(), 0);
  EXPECT_EQ(text::ToUtf8(dir->FullPath()).size(), 1 + 30 * 7 + 20);  // "\level0\" ... "\level29\"
}

TEST(LocalImportTest, FolderThatCannotBeListedContributesNothingButIsReported) {
  TempDir tmp;
  const std::string file = tmp.WriteFile("plain.txt", "p");
  auto root = clsISODirectory::Create();

  std::vector<PassedOver> passed = root->AddLocalDirectory(tmp / "missing", kAll, true);
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "missing/");
  EXPECT_EQ(passed[0].Reason, "the folder cannot be listed: No such file or directory");

  passed = root->AddLocalDirectory(file, kAll, true);  // a component that is a file
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].Reason, "the folder cannot be listed: Not a directory");
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_EQ(root->SubDirectoryCount(), 0);
}

TEST(LocalImportTest, UnreadableFolderInsideTheTreeIsReportedAndTheRestImported) {
  if (geteuid() == 0) GTEST_SKIP() << "permission checks do not apply to root";
  TempDir tmp;
  tmp.WriteFile("a.txt", "a");
  tmp.WriteFile("locked/secret.txt", "s");
  tmp.WriteFile("z/after.txt", "z");
  ASSERT_EQ(chmod((tmp / "locked").c_str(), 0), 0);
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  EXPECT_EQ(SubNames(*root), (std::vector<std::string>{"locked", "z"}));
  EXPECT_EQ(root->SubDirectory(0)->Files().Count(), 0);
  EXPECT_EQ(FileNames(*root->SubDirectory(1)), std::vector<std::string>{"after.txt"});
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "locked/");
  EXPECT_EQ(passed[0].Reason, "the folder cannot be listed: Permission denied");
}

// A failure to list deep inside the walk that does not depend on permissions (so it also
// happens for root): a folder whose full path is longer than the system accepts.
TEST(LocalImportTest, FolderBeyondThePathLimitIsReportedAndTheRestImported) {
  TempDir tmp;
  tmp.WriteFile("a.txt", "a");
  tmp.WriteFile("z.txt", "z");
  const std::string component(200, 'd');
  int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  constexpr int kLevels = 25;  // 25 * 201 bytes, beyond PATH_MAX (4096)
  for (int level = 0; level < kLevels; ++level) {
    ASSERT_EQ(mkdirat(fd, component.c_str(), 0700), 0);
    const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  close(fd);

  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  EXPECT_EQ(FileNames(*root), (std::vector<std::string>{"a.txt", "z.txt"}));
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_NE(passed[0].Reason.find("the folder cannot be listed: File name too long"),
            std::string::npos)
      << passed[0].Reason;

  // Remove the chain from the bottom up, by handle, since its full path is too long to name.
  std::vector<int> handles{open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  for (int level = 0; level < kLevels; ++level) {
    handles.push_back(openat(handles.back(), component.c_str(), O_RDONLY | O_DIRECTORY));
  }
  close(handles.back());
  handles.pop_back();
  while (!handles.empty()) {
    EXPECT_EQ(unlinkat(handles.back(), component.c_str(), AT_REMOVEDIR), 0);
    close(handles.back());
    handles.pop_back();
  }
}

TEST(LocalImportTest, SymbolicLinks) {
  TempDir tmp;
  tmp.WriteFile("real/data.bin", "0123456789");
  fs::create_symlink(tmp / "real/data.bin", tmp / "file-link");
  fs::create_directory_symlink(tmp.path(), tmp / "real/loop");  // would walk in a circle
  fs::create_symlink(tmp / "nowhere", tmp / "dangling");
  fs::create_symlink(tmp / "self", tmp / "self");
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);

  ASSERT_EQ(FileNames(*root), std::vector<std::string>{"file-link"});
  EXPECT_EQ(root->Files().File(0).LocalPath(), tmp / "file-link");
  EXPECT_EQ(root->Files().File(0).Size(), 10);  // the size of what it points to
  ASSERT_EQ(SubNames(*root), std::vector<std::string>{"real"});
  EXPECT_EQ(FileNames(*root->SubDirectory(0)), std::vector<std::string>{"data.bin"});
  EXPECT_EQ(root->SubDirectory(0)->SubDirectoryCount(), 0);

  ASSERT_EQ(passed.size(), 3u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "dangling");
  EXPECT_EQ(passed[0].Reason, "symbolic link that leads nowhere: No such file or directory");
  EXPECT_EQ(passed[1].LocalPath, tmp / "real/loop");
  EXPECT_EQ(passed[1].Reason, "symbolic link to a folder not followed");
  EXPECT_EQ(passed[2].LocalPath, tmp / "self");
  EXPECT_EQ(passed[2].Reason,
            "symbolic link that leads nowhere: Too many levels of symbolic links");
}

TEST(LocalImportTest, SpecialFilesArePassedOver) {
  TempDir tmp;
  tmp.WriteFile("a.txt", "a");
  ASSERT_EQ(mkfifo((tmp / "pipe").c_str(), 0600), 0);
  auto root = clsISODirectory::Create();
  const std::vector<PassedOver> passed = root->AddLocalDirectory(tmp.path().string(), kAll, true);
  EXPECT_EQ(FileNames(*root), std::vector<std::string>{"a.txt"});
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].LocalPath, tmp / "pipe");
  EXPECT_EQ(passed[0].Reason, "not a regular file or folder");
}

TEST(LocalImportTest, MalformedPatternRaisesBeforeAnythingIsAdded) {
  TempDir tmp;
  tmp.WriteFile("a.txt", "a");
  tmp.WriteFile("sub/b.txt", "b");
  auto root = clsISODirectory::Create();
  try {
    root->AddLocalDirectory(tmp.path().string(), {u"*", u"*.[tx"}, true);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("'*.[tx'"), std::string::npos) << e.what();
  }
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_EQ(root->SubDirectoryCount(), 0);
  EXPECT_THROW(root->AddLocalDirectory(tmp / "missing", {u"[z-a]"}, true), InputError);
}

TEST(LocalImportTest, EmptyPathIsRefused) {
  auto root = clsISODirectory::Create();
  EXPECT_THROW(root->AddLocalDirectory("", kAll, true), InputError);
}

// A file that Add refuses (4 GiB, more than one extent holds) ends the import with Add's error;
// what was added before stays, nothing after it is added, and no listing is left open.
TEST(LocalImportTest, FailureOfAddEndsTheImportKeepingWhatWasAdded) {
  TempDir tmp;
  tmp.WriteFile("a/0first.txt", "1");
  tmp.WriteFile("a/b/0second.txt", "2");
  const std::string big = tmp.WriteFile("a/b/c/huge.bin", "");
  tmp.WriteFile("a/b/c/later.txt", "3");
  tmp.WriteFile("a/z.txt", "4");
  ASSERT_EQ(truncate(big.c_str(), 0x100000000LL), 0);  // sparse: takes no space
  auto root = clsISODirectory::Create();
  const std::size_t descriptors = OpenDescriptors();
  try {
    root->AddLocalDirectory(tmp.path().string(), kAll, true);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find(big), std::string::npos) << e.what();
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  const std::vector<std::string> expected = {"\\",
                                             "\\a\\",
                                             Entry("\\a\\0first.txt", tmp / "a/0first.txt"),
                                             "\\a\\b\\",
                                             Entry("\\a\\b\\0second.txt", tmp / "a/b/0second.txt"),
                                             "\\a\\b\\c\\"};
  EXPECT_EQ(Describe(*root), expected);
}

// A plain model of the import, built from std::filesystem listings and fnmatch: random trees of
// names that collide ignoring case, carry spaces and full stops, and mix files and folders.
struct ModelDir {
  std::string name;
  std::vector<std::pair<std::string, std::string>> files;  // image name, local path
  std::vector<ModelDir> subs;
};

std::string AsciiLower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

std::string TrimmedOfSpaces(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

void ModelScan(const fs::path& folder, const std::vector<std::string>& patterns, ModelDir& into) {
  std::vector<fs::directory_entry> entries;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string()[0] != '.') entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.path().filename().string() < b.path().filename().string();
  });
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    const bool taken = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
      return fnmatch(p.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
    });
    const std::string trimmed = TrimmedOfSpaces(name);
    if (!taken || trimmed.empty()) continue;
    const std::string key = AsciiLower(trimmed);
    if (entry.is_directory()) {
      auto sub = std::find_if(into.subs.begin(), into.subs.end(),
                              [&](const ModelDir& d) { return AsciiLower(d.name) == key; });
      if (sub == into.subs.end()) {
        into.subs.push_back({trimmed, {}, {}});
        sub = into.subs.end() - 1;
      }
      ModelScan(entry.path(), patterns, *sub);
    } else if (std::none_of(into.files.begin(), into.files.end(),
                            [&](const auto& f) { return AsciiLower(f.first) == key; })) {
      into.files.emplace_back(trimmed, entry.path().string());
    }
  }
}

void Describe(const ModelDir& dir, const std::string& path, std::vector<std::string>& lines) {
  lines.push_back(path);
  for (const auto& [name, local] : dir.files) lines.push_back(Entry(path + name, local));
  for (const ModelDir& sub : dir.subs) Describe(sub, path + sub.name + "\\", lines);
}

void MakeRandomTree(std::mt19937& rng, const fs::path& folder, int depth) {
  auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const std::string alphabet = "aAbB .";
  const int entries = below(7);
  for (int e = 0; e < entries; ++e) {
    std::string name;
    for (int length = 1 + below(3); length > 0; --length) name += alphabet[below(6)];
    if (below(2) == 0) name += below(2) == 0 ? ".txt" : ".TXT";
    const fs::path path = folder / name;
    if (fs::exists(path)) continue;
    if (depth > 0 && below(5) < 2) {
      fs::create_directory(path);
      MakeRandomTree(rng, path, depth - 1);
    } else {
      std::ofstream(path) << name;
    }
  }
}

TEST(LocalImportTest, AgreesWithPlainModelOnRandomTrees) {
  const std::vector<std::vector<std::string>> filters = {
      {"*"}, {"*.*"}, {"*.txt"}, {"[a ]*", "*B"}, {"?*"}, {"[!b]*", "A*"}, {"*a*"}};
  std::mt19937 rng(7031);
  for (int round = 0; round < 40; ++round) {
    TempDir tmp;
    MakeRandomTree(rng, tmp.path(), 3);
    for (const auto& filter : filters) {
      std::vector<std::u16string> patterns;
      for (const std::string& p : filter) patterns.push_back(text::FromUtf8(p));
      auto root = clsISODirectory::Create();
      root->AddLocalDirectory(tmp.path().string(), patterns, true);
      ModelDir model;
      ModelScan(tmp.path(), filter, model);
      std::vector<std::string> expected;
      Describe(model, "\\", expected);
      ASSERT_EQ(Describe(*root), expected) << "round " << round << ", filter " << filter[0];
    }
  }
}

}  // namespace
}  // namespace tavrine
