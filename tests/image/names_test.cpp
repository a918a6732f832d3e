// Name mapping on small trees, every expected name worked out by hand; the identifier filters
// and the tilde helper that the reference transcription shares.

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
using V = std::vector<std::string>;

// A sub-directory named name, even when a sibling has that name already (ignoring case).
clsISODirectory& AddDir(clsISODirectory& parent, const std::u16string& name) {
  auto dir = parent.AddSubDirectoryByRef(clsISODirectory::Create());
  dir->name(name);
  return *dir;
}

// The DOSNames of dir's sub-directories, each followed by "/", then of its files; UTF-8, so
// that failures print readably.
V DosNames(const clsISODirectory& dir) {
  V out;
  for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i)
    out.push_back(text::ToUtf8(dir.SubDirectory(i)->DOSName()) + "/");
  for (std::int32_t i = 0; i < dir.Files().Count(); ++i)
    out.push_back(text::ToUtf8(dir.Files().File(i).DOSName()));
  return out;
}

// n names sharing a long prefix, each with its own tail.
Names Numbered(const std::u16string& prefix, const std::u16string& suffix, int n) {
  Names names;
  for (int i = 0; i < n; ++i)
    names.push_back(prefix + text::FromUtf8(std::to_string(100 + i)) + suffix);
  return names;
}

class NamesTest : public ::testing::Test {
 protected:
  // A root holding entries of the given names (a directory where the name ends with "/"),
  // after MapNames.
  std::shared_ptr<clsISODirectory> Map(const Names& names) {
    auto root = clsISODirectory::Create();
    for (const auto& name : names) {
      if (!name.empty() && name.back() == u'/') {
        AddDir(*root, name.substr(0, name.size() - 1));
      } else {
        EXPECT_NE(root->Files().Add(local_, name), nullptr);
      }
    }
    MapNames(*root);
    return root;
  }

  testing::TempDir temp_;
  std::string local_ = temp_.WriteFile("data.bin", "x");
};

const std::u16string kLong = u"abcdefghijklmnopqrstuvwxyz012345678";  // 35 characters
const std::string kUpper29 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012";
const std::string kUpper28 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01";

TEST_F(NamesTest, WorkedExamples) {
  struct Case {
    const char* what;
    Names names;
    V expected;
  };
  // Two 31-character names equal but for case: the pass numbers the second to 32 characters,
  // which the uniqueness step brings back to 31.
  const std::u16string tilde31 = u"abc~defghijklmnopqrstuvwxyz0123/";
  const std::vector<Case> cases = {
      {"files take base and extension",
       {u"readme.txt", u"Makefile", u"archive.tar.gz", u".profile"},
       {"README.TXT", "MAKEFILE.", "ARCHIVE.TAR.GZ", ".PRO"}},
      {"files are numbered in collection order",
       {u"notes.txt", u"report.text", u"notes.txt2", u"report.texts"},
       {"NOT~1.TXT", "REPO~1.TEX", "NOT~2.TXT", "REPO~2.TEX"}},
      {"numbered files keep only a single non-empty extension",
       {u"archive.tar.bz2", u"archive.tar.bz2x", u"Makefile", u"makefile."},
       {"ARCHI~1", "ARCHI~2", "MAKEFI~1", "MAKEFI~2"}},
      // "A" has no room for "~1": the suffix stands alone rather than cutting at -1 characters.
      {"short bases get the suffix alone", {u"a.txt", u"A.TXT2"}, {"~1.TXT", "~2.TXT"}},
      {"unwritable characters are replaced before duplicates are sought",
       {u"a;b.txt", u"日本語.txt", u"中文字.txt", u"µ.doc"},
       {"A_B.TXT", "?~1.TXT", "?~2.TXT", "?.DOC"}},
      // Both map to "A~1.TXT"; the passes leave names holding "~" alone.
      {"names the passes leave equal are made unique",
       {u"a~1.txt", u"A~1.txtx"},
       {"A~1.TXT", "A~1~1.TXT"}},
      {"long names alone keep 29 characters",
       {kLong.substr(0, 32) + u"/", kLong + u".txt"},
       {kUpper29 + "~1/", kUpper29 + "~1.TXT"}},
      {"directories are upper-cased and keep spaces; equal ones ignoring case are numbered",
       {u"Program Files/", u"x/", u"X/", u"/"},
       {"PROGRAM FILES/", "X/", "X~1/", "~1/"}},
      {"a number after a tilde is dropped and the siblings numbered",
       {u"DATA~2/", u"data~5/", u"Data~/", u"x~/", u"~/"},
       {"DATA~/", "DATA~1/", "DATA~2/", "X~/", "~/"}},
      {"numbered directory names beyond 31 characters are cut",
       {tilde31, text::ToUpper(tilde31)},
       {"ABC~DEFGHIJKLMNOPQRSTUVWXYZ0123/", "ABC~DEFGHIJKLMNOPQRSTUVWXYZ01~1/"}},
      // A file name always holds its ".", so "docs" does not meet the directory "DOCS".
      {"a directory and a file sharing a name are made unique",
       {u"readme.txt/", u"Docs/", u"DOCS/", u"README.TXT", u"docs"},
       {"README.TXT/", "DOCS/", "DOCS~1/", "README~1.TXT", "DOCS."}},
  };
  for (const Case& c : cases) EXPECT_EQ(DosNames(*Map(c.names)), c.expected) << c.what;
}

// Ten directories and eleven files whose long names share 29 characters: from the tenth on the
// number takes two digits and the part before it 28 characters.
TEST_F(NamesTest, LongNamesAreNumberedAndTheNumberGrowsLeftwards) {
  Names names = Numbered(kLong.substr(0, 29) + u"-tail-", u"/", 10);
  names.push_back(u"Short Name/");
  for (const auto& file : Numbered(kLong, u".dat", 11)) names.push_back(file);
  auto root = Map(names);
  const V mapped = DosNames(*root);
  EXPECT_EQ(mapped[0], kUpper29 + "~1/");
  EXPECT_EQ(mapped[8], kUpper29 + "~9/");
  EXPECT_EQ(mapped[9], kUpper28 + "~10/");
  EXPECT_EQ(mapped[11], kUpper29 + "~1.DAT");
  EXPECT_EQ(mapped[19], kUpper29 + "~9.DAT");
  EXPECT_EQ(mapped[21], kUpper28 + "~11.DAT");
  // NameValid marks a name the numbering settled; the Joliet name is the name itself.
  EXPECT_TRUE(root->SubDirectory(9)->NameValid());
  EXPECT_FALSE(root->SubDirectory(10)->NameValid());
  EXPECT_EQ(root->SubDirectory(9)->JolietName(), names[9].substr(0, 38));
  EXPECT_EQ(root->Files().File(0).JolietName(), kLong + u"100.dat");
}

// Every directory below the root is named, the root keeps its empty names, and a deep tree is
// walked without recursion (100,000 levels would exhaust the stack).
TEST_F(NamesTest, EveryDirectoryOfADeepTreeIsNamed) {
  auto root = clsISODirectory::Create();
  clsISODirectory& b = AddDir(AddDir(*root, u"alpha"), u"beta");
  for (const auto* name : {u"one.txt", u"One.txt2"}) b.Files().Add(local_, name);
  clsISODirectory* dir = &b;
  for (int i = 0; i < 100000; ++i) dir = &AddDir(*dir, u"d");
  MapNames(*root);
  EXPECT_EQ(DosNames(*root->SubDirectory(0)), V{"BETA/"});
  EXPECT_EQ(DosNames(b), (V{"D/", "O~1.TXT", "O~2.TXT"}));
  EXPECT_EQ(dir->DOSName(), u"D");
  EXPECT_TRUE(root->DOSName().empty());
  EXPECT_TRUE(root->JolietName().empty());
}

TEST(NameHelpers, TildeNameKeepsTheLengthOrStandsAlone) {
  EXPECT_EQ(TildeName(u"README", 1), u"READ~1");
  EXPECT_EQ(TildeName(u"README", 12), u"REA~12");
  EXPECT_EQ(TildeName(u"A", 1), u"~1");
  EXPECT_EQ(TildeName(u"AB", 10), u"~10");
}

// Each row: one directory's names (sub-directories first, then files) and the Joliet names they
// get. Only names that must change are touched; a changed name never meets a sibling's.
TEST(JolietNames, RefusedCharactersAndLongNamesChangeWithoutMeetingASibling) {
  const std::u16string smiley = u"\U0001F600";
  const std::u16string n111(111, u'n');
  const std::u16string x120(120, u'x');
  const std::u16string a100(100, u'a');
  const std::u16string e16(16, u'e');
  const std::u16string a107(107, u'a');
  const struct {
    Names names;
    Names joliet;
  } cases[] = {
      {{u"Program Files", u"a.txt"}, {u"Program Files", u"a.txt"}},
      {{u"a:b", u"a_b"}, {u"a_b~1", u"a_b"}},
      {{u"A_B", u"a:b"}, {u"A_B", u"a_b~1"}},  // ignoring case
      {{u"a?", u"a*", u"a_~1"}, {u"a_", u"a_~2", u"a_~1"}},
      {{u"x\u0001y\u001f\"/\\|<>;"}, {u"x_y________"}},
      {{n111, std::u16string(110, u'n')},
       {std::u16string(108, u'n') + u"~1", std::u16string(110, u'n')}},
      {{x120 + u".txt"}, {std::u16string(104, u'x') + u"~1.txt"}},
      {{a100 + u"." + e16},
       {a100 + u"." + std::u16string(7, u'e') + u"~1"}},  // 16 units: no extension
      {{a107 + smiley + u"bbb"}, {a107 + u"~1"}},         // a pair is never cut in half
  };
  for (const auto& c : cases) {
    Names names = c.names;
    MakeSiblingJolietNames(names);
    EXPECT_EQ(names, c.joliet) << text::ToUtf8(c.names.front());
  }
}

TEST(IdentifierFilters, CharacterSetsOverAllWindows1252Bytes) {
  // Every character that has a Windows-1252 byte, in byte order.
  std::u16string all;
  for (char16_t c = 1; c < 0x80; ++c) all += c;
  all += u"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ";
  for (char16_t c = 0xA0; c <= 0xFF; ++c) all += c;
  const std::u16string a =
      u" !\"&'()*+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(SanitizeAString(all), a);
  // The space becomes "_" and lower-case letters upper case before the filter; "ÿ" becomes
  // "Ÿ" (0x9F), which is no d-character.
  EXPECT_EQ(SanitizeDString(all),
            u"_.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(SanitizeAString(u"x日"), u"x日");
  EXPECT_EQ(SanitizeDString(u"x日"), u"X");
}

}  // namespace
}  // namespace tavrine::detail
