// The path helpers, the folder walk and the file listing, on real folders.
#include "app/add_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/utilities.h"
#include "app_fixture.h"
#include "support/temp_dir.h"
#include "tree/errors.h"

namespace tavrine::app {
namespace {

using tavrine::app::testing::Q;
using tavrine::testing::TempDir;

TEST(CleanPathTest, CollapsesSeparatorPairsFromTheLeft) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"", ""},
      {"a", "a"},
      {"a/b", "a/b"},
      {"a//b", "a/b"},
      {"a///b", "a//b"},   // pairs do not overlap: 3 -> 2
      {"a////b", "a//b"},  // 4 -> 2
      {"a/////b", "a///b"},
      {"a//b//c", "a/b/c"},
      {"a/b/", "a/b/"},
      {"a//", "a/"},
      {"/", "/"},
      {"//", "/"},  // a leading run becomes exactly one separator
      {"///a", "/a"},
      {"/a", "/a"},
      {"//a//b", "/a/b"},
      {"////a///b", "/a//b"},
      {"//home//u/x.txt", "/home/u/x.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CleanPath(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
  }
}

TEST(HasOddCharactersTest, RefusesControlsC1AndQuestionMark) {
  EXPECT_FALSE(HasOddCharacters(QStringLiteral("plain name.txt")));
  EXPECT_FALSE(HasOddCharacters(QString::fromUtf8("Grüße ελληνικά 日本")));
  EXPECT_FALSE(HasOddCharacters(QString(QChar(0xA0))));  // first code point after C1
  EXPECT_FALSE(HasOddCharacters(QString(QChar(126))));
  EXPECT_TRUE(HasOddCharacters(QStringLiteral("what?")));
  EXPECT_TRUE(HasOddCharacters(QString(QChar(31))));
  EXPECT_TRUE(HasOddCharacters(QStringLiteral("tab\there")));
  EXPECT_TRUE(HasOddCharacters(QString(QChar(127))));
  EXPECT_TRUE(HasOddCharacters(QString(QChar(159))));
  EXPECT_FALSE(HasOddCharacters(QString::fromUcs4(U"\U0001F600")));  // beyond the BMP is fine
}

TEST(UtilitiesTest, AppTitleAndErrorText) {
  EXPECT_EQ(SetAppTitle(QStringLiteral("Tavrine")), QStringLiteral("Tavrine"));
  EXPECT_EQ(SetAppTitle(QStringLiteral("Disc Image Maker")), QStringLiteral("Disc Image"));
  // Longer than 40 after the first cut: words go until it fits.
  EXPECT_EQ(SetAppTitle(QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd Eeeee Ff")),
            QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc"));
  EXPECT_EQ(ErrorText(QStringLiteral("Bad thing"), QStringLiteral("in X.Y "), 7),
            QStringLiteral("Bad thing\r\nin X.Y at line 7\r\n\r\nPlease email screenshot of this "
                           "message to support@quarnelix.example"));
}

class WalkTest : public ::testing::Test {
 protected:
  QString P(const char* relative) const { return Q(temp_ / relative); }
  QStringList Walk(const char* start, bool recursive = true) {
    QStringList folders{P(start) + QLatin1Char('/')};
    GetSubDirectories2016(folders, recursive,
                          {nullptr, [this](const QString& e) { errors_ << e; }});
    return folders;
  }
  TempDir temp_;
  QStringList errors_;
};

TEST_F(WalkTest, LevelOrderWithSortedSiblings) {
  for (const char* d : {"t/b/y", "t/a/x/deep", "t/c", "t/a/w"}) temp_.MakeDir(d);
  EXPECT_EQ(Walk("t"), (QStringList{P("t/"), P("t/a/"), P("t/b/"), P("t/c/"), P("t/a/w/"),
                                    P("t/a/x/"), P("t/b/y/"), P("t/a/x/deep/")}));
  EXPECT_EQ(Walk("t", false), (QStringList{P("t/"), P("t/a/"), P("t/b/"), P("t/c/")}));
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(WalkTest, LinksToFoldersAreNotEnteredSoALoopEnds) {
  temp_.MakeDir("t/a");
  std::filesystem::create_directory_symlink(temp_.path() / "t", temp_.path() / "t/a/back");
  std::filesystem::create_directory_symlink(temp_.path() / "t/a", temp_.path() / "t/link");
  EXPECT_EQ(Walk("t"), (QStringList{P("t/"), P("t/a/")}));
}

TEST_F(WalkTest, OddNamesSkippedAndMissingStartKept) {
  temp_.MakeDir("t/what?");
  temp_.MakeDir("t/tab\tname");
  temp_.MakeDir("t/ok");
  EXPECT_EQ(Walk("t"), (QStringList{P("t/"), P("t/ok/")}));
  // A start that is no folder stays as it is and brings nothing.
  EXPECT_EQ(Walk("missing"), QStringList{P("missing/")});
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
  // Byte order, folders and non-regular files left out, case ignored.
  EXPECT_EQ(ListFiles(P("d"), QStringLiteral("*.txt")),
            (QStringList{QStringLiteral(".hidden.txt"), QStringLiteral("A.TXT"),
                         QStringLiteral("b.txt")}));
  EXPECT_EQ(ListFiles(P("d/"), QStringLiteral("*.*")).size(), 6);  // README too
  EXPECT_TRUE(ListFiles(P("d"), QStringLiteral("*..txt")).isEmpty());
  EXPECT_TRUE(ListFiles(P("nothing"), QStringLiteral("*.*")).isEmpty());
  EXPECT_THROW(ListFiles(P("d"), QStringLiteral("*.[z-a]")), InputError);
}

TEST_F(WalkTest, AttributesDerivedFromNameAndPermissions) {
  const QString hidden = Q(temp_.WriteFile(".h", "x"));
  const QString hiddenReadOnly = Q(temp_.WriteFile(".r", "x"));
  ::chmod(hiddenReadOnly.toLocal8Bit().constData(), 0444);
  EXPECT_TRUE(IsHiddenArchiveOnly(hidden));
  EXPECT_FALSE(IsHiddenArchiveOnly(hiddenReadOnly));
  EXPECT_FALSE(IsHiddenArchiveOnly(Q(temp_.WriteFile("plain", "x"))));
  EXPECT_FALSE(IsHiddenArchiveOnly(Q(temp_.MakeDir(".dir"))));
  EXPECT_TRUE(IsUsableFile(hidden));
  EXPECT_FALSE(IsUsableFile(Q(temp_.MakeDir("dir"))));
  EXPECT_FALSE(IsUsableFile(P("absent")));
}

}  // namespace
}  // namespace tavrine::app
