// The writer object: which filter each identifier passes, the path operations on the tree, and
// ImageSize.
#include "image/writer.h"

#include <gtest/gtest.h>

#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tree/text.h"

namespace tavrine {
namespace {

TEST(WriterProperties, PrimaryValuesPassTheirFilterJolietValuesAreKept) {
  struct Property {
    const char* name;
    void (clsISOWriter::*set)(bool, std::u16string_view);
    std::u16string (clsISOWriter::*get)(bool) const;
    std::u16string primary;  // "my disc%1" after the d- or a-character filter
  };
  const std::u16string joliet = u"any %case \u00e9\u4e2d";
  for (const Property& p : {
           Property{"VolumeID", &clsISOWriter::VolumeID, &clsISOWriter::VolumeID, u"MY_DISC1"},
           Property{"VolumeSetID", &clsISOWriter::VolumeSetID, &clsISOWriter::VolumeSetID,
                    u"MY_DISC1"},
           Property{"SystemID", &clsISOWriter::SystemID, &clsISOWriter::SystemID, u"my disc1"},
           Property{"ApplicationID", &clsISOWriter::ApplicationID, &clsISOWriter::ApplicationID,
                    u"my disc1"},
           Property{"PublisherID", &clsISOWriter::PublisherID, &clsISOWriter::PublisherID,
                    u"my disc1"},
           Property{"DataPreparerID", &clsISOWriter::DataPreparerID, &clsISOWriter::DataPreparerID,
                    u"my disc1"},
       }) {
    clsISOWriter writer;
    (writer.*p.set)(true, joliet);
    (writer.*p.set)(false, u"my disc%1");
    EXPECT_EQ((writer.*p.get)(false), p.primary) << p.name;
    EXPECT_EQ((writer.*p.get)(true), joliet) << p.name;
  }
}

TEST(WriterPaths, DirByPath) {
  clsISOWriter writer;
  const auto& root = writer.Root();
  auto docs = root->AddSubDirectory(u"docs");
  auto inner = docs->AddSubDirectory(u"inner");
  const std::pair<std::u16string, std::shared_ptr<clsISODirectory>> cases[] = {
      {u"\\", root},
      {u"\\docs\\", docs},
      {u"\\docs", docs},
      {u"\\docs\\inner\\", inner},
      {u"\\docs\\inner", inner},
      {u"", nullptr},
      {u"docs\\", nullptr},
      {u"\\Docs\\", nullptr},
      {u"\\docs\\outer\\", nullptr},
      {u"\\inner\\", nullptr},
      {u"\\\\", nullptr}};
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(writer.DirByPath(path), expected) << text::ToUtf8(path);
  }
}

TEST(WriterPaths, LevelsAndAncestry) {
  clsISOWriter writer;
  const auto& root = writer.Root();
  auto a = root->AddSubDirectory(u"A");
  auto b = a->AddSubDirectory(u"B");
  auto c = root->AddSubDirectory(u"C");
  EXPECT_EQ(writer.DirectoryLevel(*root), 0);
  EXPECT_EQ(writer.DirectoryLevel(*b), 2);
  EXPECT_EQ(writer.DirectoryInPath(*root, *root), 2);
  EXPECT_EQ(writer.DirectoryInPath(*a, *a), 3);
  EXPECT_EQ(writer.DirectoryInPath(*a, *b), 2);
  EXPECT_EQ(writer.DirectoryInPath(*a, *c), 1);
  EXPECT_TRUE(writer.DirectoryIsChildOf(*a, *a));
  EXPECT_TRUE(writer.DirectoryIsChildOf(*a, *b));
  EXPECT_FALSE(writer.DirectoryIsChildOf(*b, *a));
  EXPECT_FALSE(writer.DirectoryIsChildOf(*a, *c));
  for (const auto& d : {root, a, b, c}) EXPECT_TRUE(writer.DirectoryIsChildOf(*root, *d));
}

TEST(WriterImageSize, CountsEveryFileByTheBlockRule) {
  testing::TempDir dir;
  clsISOWriter writer;
  EXPECT_EQ(writer.ImageSize(), 204800);
  testing::AddFile(*writer.Root(), dir, "empty", "");
  testing::AddFile(*writer.Root()->AddSubDirectory(u"sub"), dir, "sub/full",
                   std::string(2048, 'x'));
  EXPECT_EQ(writer.ImageSize(), 204800 + 2048 + 4096);
}

}  // namespace
}  // namespace tavrine
