// The writer object: identifier properties and their filters, the path operations on the tree,
// and ImageSize.
#include "image/writer.h"

#include <gtest/gtest.h>

#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

TEST(WriterProperties, DefaultsAreStoredUnfiltered) {
  clsISOWriter writer;
  EXPECT_TRUE(writer.Joliet());
  EXPECT_EQ(writer.VolumeID(false), u"MY_VOL");
  EXPECT_EQ(writer.VolumeID(true), u"My Volume");
  EXPECT_EQ(writer.SystemID(false), u"WIN32");
  EXPECT_EQ(writer.SystemID(true), u"WIN32");
  EXPECT_EQ(writer.ApplicationID(false), u"Tavrine");
  EXPECT_EQ(writer.PublisherID(true), u"Quarnelix");
  EXPECT_EQ(writer.DataPreparerID(false), u"");
  EXPECT_EQ(writer.VolumeSetID(true), u"");
  EXPECT_EQ(writer.Root()->SubDirectoryCount(), 0);
  EXPECT_FALSE(writer.VolumeCreation().IsZero());
}

TEST(WriterProperties, PrimaryValuesAreFilteredJolietValuesKept) {
  clsISOWriter writer;
  writer.VolumeID(false, u"my disc 1");
  EXPECT_EQ(writer.VolumeID(false), u"MY_DISC_1");
  EXPECT_EQ(writer.VolumeID(true), u"My Volume");
  writer.VolumeSetID(false, u"set a.b%");
  EXPECT_EQ(writer.VolumeSetID(false), u"SET_A.B");
  writer.SystemID(false, u"Win32 %v");
  EXPECT_EQ(writer.SystemID(false), u"Win32 v");
  writer.ApplicationID(false, u"app%1");
  EXPECT_EQ(writer.ApplicationID(false), u"app1");
  writer.PublisherID(false, u"pub%");
  EXPECT_EQ(writer.PublisherID(false), u"pub");
  writer.DataPreparerID(false, u"me & you");
  EXPECT_EQ(writer.DataPreparerID(false), u"me & you");
  const std::u16string any = u"lower %case \u00e9\u4e2d";
  writer.VolumeID(true, any);
  writer.VolumeSetID(true, any);
  writer.SystemID(true, any);
  writer.ApplicationID(true, any);
  writer.PublisherID(true, any);
  writer.DataPreparerID(true, any);
  for (const auto& value :
       {writer.VolumeID(true), writer.VolumeSetID(true), writer.SystemID(true),
        writer.ApplicationID(true), writer.PublisherID(true), writer.DataPreparerID(true)}) {
    EXPECT_EQ(value, any);
  }
  writer.Joliet(false);
  EXPECT_FALSE(writer.Joliet());
}

TEST(WriterPaths, DirByPath) {
  clsISOWriter writer;
  auto docs = writer.Root()->AddSubDirectory(u"docs");
  auto inner = docs->AddSubDirectory(u"inner");
  EXPECT_EQ(writer.DirByPath(u""), nullptr);
  EXPECT_EQ(writer.DirByPath(u"docs\\"), nullptr);
  EXPECT_EQ(writer.DirByPath(u"\\"), writer.Root());
  EXPECT_EQ(writer.DirByPath(docs->FullPath()), docs);
  EXPECT_EQ(writer.DirByPath(u"\\docs\\"), docs);
  EXPECT_EQ(writer.DirByPath(u"\\docs"), docs);       // read as if closed by "\"
  EXPECT_EQ(writer.DirByPath(u"\\Docs\\"), nullptr);  // case-sensitive
  EXPECT_EQ(writer.DirByPath(u"\\docs\\inner\\"), inner);
  EXPECT_EQ(writer.DirByPath(u"\\docs\\inner"), inner);
  EXPECT_EQ(writer.DirByPath(u"\\docs\\outer\\"), nullptr);
  EXPECT_EQ(writer.DirByPath(u"\\inner\\"), nullptr);
  EXPECT_EQ(writer.DirByPath(u"\\\\"), nullptr);
}

TEST(WriterPaths, LevelsAndAncestry) {
  clsISOWriter writer;
  const auto& root = writer.Root();
  auto a = root->AddSubDirectory(u"A");
  auto b = a->AddSubDirectory(u"B");
  auto c = root->AddSubDirectory(u"C");
  EXPECT_EQ(writer.DirectoryLevel(*root), 0);
  EXPECT_EQ(writer.DirectoryLevel(*a), 1);
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
  EXPECT_EQ(writer.ImageSize(), 206848);
  auto sub = writer.Root()->AddSubDirectory(u"sub");
  testing::AddFile(*sub, dir, "sub/full", std::string(2048, 'x'));
  EXPECT_EQ(writer.ImageSize(), 206848 + 4096);
}

}  // namespace
}  // namespace tavrine
