// PATH arguments: telling graft points from paths, and what each form puts into the tree.
#include "cli/sources.h"

#include <gtest/gtest.h>

#include <set>

#include "cli/options.h"
#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::cli {
namespace {

using tavrine::testing::TempDir;

Source Split(const std::string& argument, std::set<std::string> existing = {}) {
  return SplitPathArgument(argument, [&](const std::string& p) { return existing.count(p) > 0; });
}

std::string SplitError(const std::string& argument) {
  try {
    Split(argument);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no error)";
}

using Components = std::vector<std::string>;

TEST(SplitPathArgument, PlainPathsAndGraftPoints) {
  const Source plain = Split("dir/file.txt");
  EXPECT_FALSE(plain.graft);
  EXPECT_EQ(plain.local, "dir/file.txt");

  const Source graft = Split("docs/2024=./out");
  EXPECT_TRUE(graft.graft);
  EXPECT_EQ(graft.local, "./out");
  EXPECT_EQ(graft.imagePath, (Components{"docs", "2024"}));
  EXPECT_FALSE(graft.endsInSlash);
  EXPECT_EQ(graft.argument, "docs/2024=./out");

  // Only the first "=" splits; the local side may hold more.
  const Source twice = Split("a=b=c");
  EXPECT_EQ(twice.imagePath, Components{"a"});
  EXPECT_EQ(twice.local, "b=c");
}

TEST(SplitPathArgument, AnExistingPathIsNeverSplit) {
  const Source exists = Split("a=b", {"a=b"});
  EXPECT_FALSE(exists.graft);
  EXPECT_EQ(exists.local, "a=b");
  // Taken as typed: no escapes are undone either.
  EXPECT_EQ(Split("a\\=b", {"a\\=b"}).local, "a\\=b");
}

TEST(SplitPathArgument, BackslashEscapesEqualsAndItself) {
  const Source escaped = Split("a\\=b");
  EXPECT_FALSE(escaped.graft);
  EXPECT_EQ(escaped.local, "a=b");

  const Source both = Split("x\\=y=in\\=put");
  EXPECT_TRUE(both.graft);
  EXPECT_EQ(both.imagePath, Components{"x=y"});
  EXPECT_EQ(both.local, "in=put");

  // "\\" is one backslash, and the "=" after it splits; other backslashes stay.
  const Source backslash = Split("docs=my\\\\file\\n");
  EXPECT_EQ(backslash.imagePath, Components{"docs"});
  EXPECT_EQ(backslash.local, "my\\file\\n");
  EXPECT_EQ(Split("plain\\\\name").local, "plain\\name");
}

TEST(SplitPathArgument, ImagePathForms) {
  const Source slash = Split("docs/=x.txt");
  EXPECT_EQ(slash.imagePath, Components{"docs"});
  EXPECT_TRUE(slash.endsInSlash);

  const Source root = Split("=x.txt");
  EXPECT_TRUE(root.graft);
  EXPECT_TRUE(root.imagePath.empty());
  EXPECT_TRUE(root.endsInSlash);
  EXPECT_TRUE(Split("/=x.txt").endsInSlash);
  EXPECT_TRUE(Split(".=x.txt").imagePath.empty());

  const Source messy = Split("/docs//./a.txt=x");
  EXPECT_EQ(messy.imagePath, (Components{"docs", "a.txt"}));
  EXPECT_FALSE(messy.endsInSlash);
  EXPECT_TRUE(Split("docs/.=x").endsInSlash);
}

TEST(SplitPathArgument, RefusesGraftPointsThatCannotBeMet) {
  EXPECT_NE(SplitError("docs=").find("no local file or folder"), std::string::npos);
  EXPECT_NE(SplitError("../up=x").find("\"..\""), std::string::npos);
  EXPECT_NE(SplitError("a/../b=x").find("\"..\""), std::string::npos);
  EXPECT_NE(SplitError("a/  /b=x").find("blank"), std::string::npos);
  EXPECT_NE(SplitError("a\\\\b=x").find("cannot hold \"\\\""), std::string::npos);
  EXPECT_NE(SplitError("docs=").find("'docs='"), std::string::npos);
}

class AddSourceTest : public ::testing::Test {
 protected:
  void Add(const std::string& argument, std::vector<std::u16string> patterns = {u"*"}) {
    // Relative arguments are taken in the temporary folder.
    std::string full = argument;
    const std::size_t eq = argument.find('=');
    if (argument.find('/') != 0) {
      full = eq == std::string::npos
                 ? dir_ / argument
                 : argument.substr(0, eq + 1) + (dir_ / argument.substr(eq + 1));
    }
    AddSource(*root_, Split(full), patterns, warnings_);
  }

  TempDir dir_;
  std::shared_ptr<clsISODirectory> root_ = clsISODirectory::Create();
  std::vector<std::string> warnings_;
};

TEST_F(AddSourceTest, ABackslashInALocalNameIsReportedNotLost) {
  dir_.WriteFile("odd\\name.txt", "o");
  Add("odd\\\\name.txt");  // typed with the backslash escaped
  EXPECT_EQ(root_->Files().Count(), 0);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("holds a \"\\\""), std::string::npos);
  // A graft point gives it a name the image can hold.
  Add("odd.txt=odd\\\\name.txt");
  EXPECT_EQ(root_->Files().Count(), 1);
}

TEST(SameLocalFile, ComparesFilesNotSpellings) {
  TempDir dir;
  const std::string a = dir.WriteFile("a", "x");
  dir.WriteFile("b", "x");
  EXPECT_TRUE(SameLocalFile(a, dir.path().string() + "/./a"));
  EXPECT_FALSE(SameLocalFile(a, dir / "b"));
  EXPECT_FALSE(SameLocalFile(a, dir / "missing"));
}

}  // namespace
}  // namespace tavrine::cli
