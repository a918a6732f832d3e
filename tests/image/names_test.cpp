// Name mapping on small trees, with every expected name worked out by hand; the identifier
// filters and the three string helpers.

#include "image/names.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tree/directory.h"
#include "tree/text.h"

namespace tavrine::detail {
namespace {

using Names = std::vector<std::u16string>;

// The DOSNames of a directory's sub-directories and files after MapNames on the root, as UTF-8
// so that failures print readably.
struct Mapped {
  std::vector<std::string> dirs;
  std::vector<std::string> files;
};

class NamesTest : public ::testing::Test {
 protected:
  NamesTest() : root_(clsISODirectory::Create()), local_(temp_.WriteFile("data.bin", "x")) {}

  // A sub-directory named name, even when a sibling has that name already (ignoring case).
  clsISODirectory& AddDir(clsISODirectory& parent, const std::u16string& name) {
    auto dir = parent.AddSubDirectoryByRef(clsISODirectory::Create());
    dir->name(name);
    return *dir;
  }
  void AddDirs(clsISODirectory& parent, const Names& names) {
    for (const auto& name : names) AddDir(parent, name);
  }
  void AddFiles(clsISODirectory& parent, const Names& names) {
    for (const auto& name : names) ASSERT_NE(parent.Files().Add(local_, name), nullptr);
  }

  static Mapped Read(const clsISODirectory& dir) {
    Mapped out;
    for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i) {
      out.dirs.push_back(text::ToUtf8(dir.SubDirectory(i)->DOSName()));
    }
    for (std::int32_t i = 0; i < dir.Files().Count(); ++i) {
      out.files.push_back(text::ToUtf8(dir.Files().File(i).DOSName()));
    }
    return out;
  }

  Mapped MapFiles(const Names& names) {
    AddFiles(*root_, names);
    MapNames(*root_);
    return Read(*root_);
  }
  Mapped MapDirs(const Names& names) {
    AddDirs(*root_, names);
    MapNames(*root_);
    return Read(*root_);
  }

  testing::TempDir temp_;
  std::shared_ptr<clsISODirectory> root_;
  std::string local_;
};

using V = std::vector<std::string>;

TEST_F(NamesTest, FileNamesTakeBaseAndExtension) {
  EXPECT_EQ(MapFiles({u"readme.txt", u"Makefile", u"archive.tar.gz", u".profile", u"a.txt"}).files,
            (V{"README.TXT", "MAKEFILE.", "ARCHIVE.TAR.GZ", ".PRO", "A.TXT"}));
  EXPECT_EQ(text::ToUtf8(root_->Files().File(0).JolietName()), "readme.txt");
}

TEST_F(NamesTest, FilesSharingANameAreNumberedInCollectionOrder) {
  EXPECT_EQ(MapFiles({u"notes.txt", u"report.text", u"notes.txt2", u"report.texts"}).files,
            (V{"NOT~1.TXT", "REPO~1.TEX", "NOT~2.TXT", "REPO~2.TEX"}));
}

TEST_F(NamesTest, NumberedFileNamesKeepOnlyASingleNonEmptyExtension) {
  EXPECT_EQ(MapFiles({u"archive.tar.bz2", u"archive.tar.bz2x", u"Makefile", u"makefile."}).files,
            (V{"ARCHI~1", "ARCHI~2", "MAKEFI~1", "MAKEFI~2"}));
}

TEST_F(NamesTest, LongFileBasesKeep29CharactersAndTheNumberGrowsLeftwards) {
  const std::u16string base35 = u"abcdefghijklmnopqrstuvwxyz012345678";
  EXPECT_EQ(MapFiles({base35 + u".txt"}).files, (V{"ABCDEFGHIJKLMNOPQRSTUVWXYZ012~1.TXT"}));

  root_->Files().Clear();
  Names names;
  for (int i = 0; i < 11; ++i)
    names.push_back(base35 + u"_" + text::FromUtf8(std::to_string(i)) + u".dat");
  const Mapped mapped = MapFiles(names);
  EXPECT_EQ(mapped.files[0], "ABCDEFGHIJKLMNOPQRSTUVWXYZ012~1.DAT");
  EXPECT_EQ(mapped.files[8], "ABCDEFGHIJKLMNOPQRSTUVWXYZ012~9.DAT");
  EXPECT_EQ(mapped.files[9], "ABCDEFGHIJKLMNOPQRSTUVWXYZ01~10.DAT");
  EXPECT_EQ(mapped.files[10], "ABCDEFGHIJKLMNOPQRSTUVWXYZ01~11.DAT");
}

TEST_F(NamesTest, ShortFileBasesGetTheSuffixAlone) {
  // "A" has no room for "~1": the suffix stands alone rather than cutting at -1 characters.
  EXPECT_EQ(MapFiles({u"a.txt", u"A.TXT2"}).files, (V{"~1.TXT", "~2.TXT"}));
}

TEST_F(NamesTest, UnwritableCharactersAreReplacedBeforeDuplicatesAreSought) {
  EXPECT_EQ(MapFiles({u"a;b.txt", u"日本語.txt", u"中文字.txt", u"µ.doc"}).files,
            (V{"A_B.TXT", "?~1.TXT", "?~2.TXT", "?.DOC"}));
}

TEST_F(NamesTest, NamesThePassesLeaveEqualAreMadeUnique) {
  // Both map to "A~1.TXT"; the passes leave names holding "~" alone.
  EXPECT_EQ(MapFiles({u"a~1.txt", u"A~1.txtx"}).files, (V{"A~1.TXT", "A~1~1.TXT"}));
}

TEST_F(NamesTest, ADirectoryAndAFileSharingANameAreMadeUnique) {
  AddDir(*root_, u"readme.txt");
  AddDirs(*root_, {u"Docs", u"DOCS"});
  AddFiles(*root_, {u"README.TXT", u"docs"});
  MapNames(*root_);
  const Mapped mapped = Read(*root_);
  EXPECT_EQ(mapped.dirs, (V{"README.TXT", "DOCS", "DOCS~1"}));
  // A file name always holds its ".", so "docs" does not meet the directory "DOCS".
  EXPECT_EQ(mapped.files, (V{"README~1.TXT", "DOCS."}));
}

TEST_F(NamesTest, DirectoryNamesAreUpperCasedAndKeepTheirSpaces) {
  EXPECT_EQ(MapDirs({u"Program Files"}).dirs, (V{"PROGRAM FILES"}));
  EXPECT_EQ(text::ToUtf8(root_->SubDirectory(0)->JolietName()), "Program Files");
  EXPECT_FALSE(root_->SubDirectory(0)->NameValid());
}

TEST_F(NamesTest, LongDirectoryNamesAreNumbered) {
  const std::u16string shared29 = u"abcdefghijklmnopqrstuvwxyz012";
  Names names;
  for (int i = 0; i < 10; ++i) {
    names.push_back(shared29 + u"-tail-" + text::FromUtf8(std::to_string(1000 + i)));
  }
  const Mapped mapped = MapDirs(names);
  EXPECT_EQ(mapped.dirs[0], "ABCDEFGHIJKLMNOPQRSTUVWXYZ012~1");
  EXPECT_EQ(mapped.dirs[1], "ABCDEFGHIJKLMNOPQRSTUVWXYZ012~2");
  EXPECT_EQ(mapped.dirs[8], "ABCDEFGHIJKLMNOPQRSTUVWXYZ012~9");
  // The tenth: two digits, 28 characters before the "~".
  EXPECT_EQ(mapped.dirs[9], "ABCDEFGHIJKLMNOPQRSTUVWXYZ01~10");
  EXPECT_TRUE(root_->SubDirectory(9)->NameValid());
  EXPECT_EQ(text::ToUtf8(root_->SubDirectory(9)->JolietName()), text::ToUtf8(names[9]));
}

TEST_F(NamesTest, A32CharacterDirectoryNameGetsTilde1) {
  EXPECT_EQ(MapDirs({u"abcdefghijklmnopqrstuvwxyz012345"}).dirs,
            (V{"ABCDEFGHIJKLMNOPQRSTUVWXYZ012~1"}));
}

TEST_F(NamesTest, ANumberAfterTildeIsDropped) {
  EXPECT_EQ(MapDirs({u"DATA~2"}).dirs, (V{"DATA~"}));
  root_->Clear();
  EXPECT_EQ(MapDirs({u"DATA~2", u"data~5", u"Data~", u"x~", u"~"}).dirs,
            (V{"DATA~", "DATA~1", "DATA~2", "X~", "~"}));
}

TEST_F(NamesTest, DirectoryNamesBeyondTheLimitAreCut) {
  // Two 31-character names equal but for case: the pass numbers the second to 32 characters,
  // which the uniqueness step brings back to 31.
  const std::u16string name = u"abc~defghijklmnopqrstuvwxyz0123";
  ASSERT_EQ(name.size(), 31u);
  EXPECT_EQ(MapSiblingDirectoryNames({name, text::ToUpper(name)})[1],
            u"ABC~DEFGHIJKLMNOPQRSTUVWXYZ012~1");
  EXPECT_EQ(MapDirs({name, text::ToUpper(name)}).dirs,
            (V{"ABC~DEFGHIJKLMNOPQRSTUVWXYZ0123", "ABC~DEFGHIJKLMNOPQRSTUVWXYZ01~1"}));
}

TEST_F(NamesTest, ABlankDirectoryNameGetsANumberedOne) {
  root_->AddSubDirectory(u"   ");
  MapNames(*root_);
  EXPECT_EQ(Read(*root_).dirs, (V{"~1"}));
}

TEST_F(NamesTest, EveryDirectoryOfTheTreeIsNamed) {
  clsISODirectory& a = AddDir(*root_, u"alpha");
  clsISODirectory& b = AddDir(a, u"beta");
  AddFiles(b, {u"one.txt", u"One.txt2"});
  AddDirs(b, {u"x", u"X"});
  MapNames(*root_);
  EXPECT_EQ(Read(a).dirs, (V{"BETA"}));
  EXPECT_EQ(Read(b).files, (V{"O~1.TXT", "O~2.TXT"}));
  EXPECT_EQ(Read(b).dirs, (V{"X", "X~1"}));
  // The root keeps its (empty) names.
  EXPECT_TRUE(root_->DOSName().empty());
  EXPECT_TRUE(root_->JolietName().empty());
}

TEST_F(NamesTest, DeepTreesDoNotExhaustTheStack) {
  clsISODirectory* dir = root_.get();
  for (int i = 0; i < 100000; ++i) dir = &AddDir(*dir, u"d");
  MapNames(*root_);
  EXPECT_EQ(dir->DOSName(), u"D");
}

TEST(NameHelpers, TildeName) {
  EXPECT_EQ(TildeName(u"README", 1), u"READ~1");
  EXPECT_EQ(TildeName(u"README", 12), u"REA~12");
  EXPECT_EQ(TildeName(u"AB", 1), u"~1");
  EXPECT_EQ(TildeName(u"A", 1), u"~1");
  EXPECT_EQ(TildeName(u"", 7), u"~7");
  EXPECT_EQ(TildeName(u"AB", 10), u"~10");
}

TEST(NameHelpers, BaseNameAndExtensionSplitAtTheLastDot) {
  EXPECT_EQ(BaseName(u"archive.tar.gz"), u"archive.tar");
  EXPECT_EQ(ExtensionOf(u"archive.tar.gz"), u"gz");
  EXPECT_EQ(BaseName(u"Makefile"), u"Makefile");
  EXPECT_EQ(ExtensionOf(u"Makefile"), u"");
  EXPECT_EQ(BaseName(u".profile"), u"");
  EXPECT_EQ(ExtensionOf(u".profile"), u"profile");
  EXPECT_EQ(BaseName(u"x."), u"x");
  EXPECT_EQ(ExtensionOf(u"x."), u"");
}

TEST(IdentifierFilters, Examples) {
  EXPECT_EQ(SanitizeDString(u"my disc 1"), u"MY_DISC_1");
  EXPECT_EQ(SanitizeAString(u"Win32 %v"), u"Win32 v");
  EXPECT_EQ(SanitizeDString(u"a.b-c;d é"), u"A.BCD_");
  EXPECT_EQ(SanitizeAString(u"a;b%c<é~"), u"a;bc<");
  EXPECT_EQ(SanitizeDString(u""), u"");
}

TEST(IdentifierFilters, CharacterSetsOverAllWindows1252Bytes) {
  // Every character that has a Windows-1252 byte, in byte order.
  std::u16string all;
  for (char16_t c = 1; c < 0x80; ++c) all += c;
  all += u"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ";
  for (char16_t c = 0xA0; c <= 0xFF; ++c) all += c;
  EXPECT_EQ(SanitizeAString(all),
            u" !\"&'()*+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
  // The space becomes "_" and lower-case letters upper case before the filter; "ÿ" becomes
  // "Ÿ" (0x9F), which is no d-character.
  EXPECT_EQ(SanitizeDString(all),
            u"_.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST(IdentifierFilters, CharactersBeyondWindows1252CountAsQuestionMarks) {
  EXPECT_TRUE(IsAString(u"日本"));
  EXPECT_FALSE(IsDString(u"日本"));
  EXPECT_EQ(SanitizeAString(u"x日"), u"x日");
  EXPECT_EQ(SanitizeDString(u"x日"), u"X");
  EXPECT_TRUE(IsAString(u""));
  EXPECT_TRUE(IsDString(u""));
  EXPECT_TRUE(IsDString(u"ABC_1.2"));
  EXPECT_FALSE(IsDString(u"ABc"));
  EXPECT_FALSE(IsAString(u"a%"));
  EXPECT_FALSE(IsAString(u"\u0081"));  // an undefined byte of the code page stands for itself
}

}  // namespace
}  // namespace tavrine::detail
