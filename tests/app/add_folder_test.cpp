// The path helpers, the folder walk and the file listing, on real folders.
#include "app/add_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

#include "app/utilities.h"
#include "app_fixture.h"

namespace tavrine::app::testing {
namespace {

TEST(PathHelpersTest, CleanPathOddCharactersAndAppTitle) {
  // Pairs collapse from the left without overlapping; a leading run becomes one separator.
  // clang-format off
  const char* const paths[][2] = {{"", ""}, {"a//b", "a/b"}, {"a///b", "a//b"}, {"a////b", "a//b"},
      {"a/////b", "a///b"}, {"a//b//c", "a/b/c"}, {"a//", "a/"}, {"//", "/"}, {"///a", "/a"},
      {"////a///b", "/a//b"}, {"//home//u/x.txt", "/home/u/x.txt"}};
  // clang-format on
  for (const auto& [in, out] : paths) EXPECT_EQ(CleanPath(in), out) << in;

  // "?" and the code points below 32 and from 127 to 159 (NUL included) are odd, one by one.
  for (const char32_t c : std::u32string_view(U"?\t\x1F\x7F\x80\x9F\0", 7)) {
    EXPECT_TRUE(HasOddCharacters(QString::fromUcs4(&c, 1))) << static_cast<int>(c);
  }
  EXPECT_FALSE(HasOddCharacters(QString::fromUcs4(U"~\u00A0 Grüße ελληνικά 日本.txt \U0001F600")));

  // The last word goes, then more until the title fits in 40 characters; one word stays whole.
  EXPECT_EQ(SetAppTitle("Tavrine"), "Tavrine");
  EXPECT_EQ(SetAppTitle("Disc Image Maker"), "Disc Image");
  EXPECT_EQ(SetAppTitle("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd Eeeee Ff"),
            "Aaaaaaaaaa Bbbbbbbbbb Cccccccccc");
}

class WalkTest : public WindowTest {
 protected:
  QStringList Walk(const char* start, bool recursive = true) {
    std::vector<std::string> folders{temp_ / start + '/'};
    GetSubDirectories2016(folders, recursive,
                          {nullptr, [this](const QString& e) { errors_ << e; }});
    QStringList walked;
    for (const std::string& folder : folders) walked << Q(folder);
    return walked;
  }
  QStringList List(const char* folder, const char* pattern) {
    QStringList names;
    for (const std::string& name : ListFiles(temp_ / folder, pattern)) names << Q(name);
    return names;
  }
  QStringList errors_;
};

TEST_F(WalkTest, LevelOrderSortedSiblingsAndOddNamesSkipped) {
  for (const char* d : {"t/b/y", "t/a/x/deep", "t/c", "t/a/w", "t/what?", "t/tab\tname"}) {
    temp_.MakeDir(d);
  }
  EXPECT_EQ(Walk("t"), (QStringList{P("t/"), P("t/a/"), P("t/b/"), P("t/c/"), P("t/a/w/"),
                                    P("t/a/x/"), P("t/b/y/"), P("t/a/x/deep/")}));
  EXPECT_EQ(Walk("t", false), (QStringList{P("t/"), P("t/a/"), P("t/b/"), P("t/c/")}));
  // A start that is no folder stays as it is and brings nothing.
  EXPECT_EQ(Walk("missing"), QStringList{P("missing/")});
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(WalkTest, LinksToFoldersAreNotEnteredSoALoopEnds) {
  temp_.MakeDir("t/a");
  std::filesystem::create_directory_symlink(temp_.path() / "t", temp_.path() / "t/a/back");
  std::filesystem::create_directory_symlink(temp_.path() / "t/a", temp_.path() / "t/link");
  EXPECT_EQ(Walk("t"), (QStringList{P("t/"), P("t/a/")}));
}

TEST_F(WalkTest, UnreadableFolderIsDroppedSilently) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  temp_.MakeDir("t/closed/inner");
  temp_.MakeDir("t/open");
  ::chmod((temp_ / "t/closed").c_str(), 0);
  const QStringList folders = Walk("t");
  ::chmod((temp_ / "t/closed").c_str(), 0755);
  EXPECT_EQ(folders, (QStringList{P("t/"), P("t/open/")}));
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(WalkTest, ListFilesMatchesLikeADirectorySearch) {
  for (const char* f : {"b.txt", "A.TXT", "c.doc", "README", "x.txt.bak", ".hidden.txt"}) {
    temp_.WriteFile(std::string("d/") + f, "x");
  }
  temp_.MakeDir("d/folder.txt");
  ::mkfifo((temp_ / "d/pipe.txt").c_str(), 0644);
  // Byte order, case ignored, folders and other non-regular files left out.
  EXPECT_EQ(List("d", "*.txt"), (QStringList{".hidden.txt", "A.TXT", "b.txt"}));
  EXPECT_EQ(List("d/", "*.*").size(), 6);  // README, without a dot, too
  EXPECT_TRUE(List("d", "*..txt").isEmpty());
  EXPECT_TRUE(List("nothing", "*.*").isEmpty());
  // Only "*" and "?" are wildcards: "#" is no digit, "[" opens no list, and nothing is malformed.
  for (const char* f : {"a.1", "b.#", "c.[x]", "d.x", "e.["}) {
    temp_.WriteFile(std::string("e/") + f, "x");
  }
  const char* const literal[][2] = {
      {"*.#", "b.#"}, {"*.[x]", "c.[x]"}, {"*.[", "e.["}, {"?.[X]", "c.[x]"}};
  for (const auto& [pattern, name] : literal) {
    EXPECT_EQ(List("e", pattern), QStringList{name}) << pattern;
  }
}

}  // namespace
}  // namespace tavrine::app::testing
