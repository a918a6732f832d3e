// Whole images written by SaveISO with a fixed clock: sizes, block maps and bytes at absolute
// offsets, read back through the test-side reader.
#include <gtest/gtest.h>

#include "image/writer.h"
#include "support/image_builder.h"
#include "support/iso_reader.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

using testing::AddFile;
using testing::Hex;
using testing::ImageBytes;
using testing::IsoImage;
using testing::TempDir;

TEST(WholeImage, EmptyRootWithJolietIs25Blocks) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
  const std::string image = ImageBytes(dir / "result.iso");
  ASSERT_EQ(image.size(), 51200u);
  IsoImage iso(dir / "result.iso");
  EXPECT_EQ(iso.DescriptorTypes(), (std::vector<std::uint8_t>{1, 2, 255}));
  EXPECT_EQ(iso.Primary().descriptor.typeLPathTable, 19u);
  EXPECT_EQ(iso.Primary().descriptor.typeMPathTable, 20u);
  EXPECT_EQ(iso.Joliet().descriptor.typeLPathTable, 21u);
  EXPECT_EQ(iso.Joliet().descriptor.typeMPathTable, 22u);
  EXPECT_EQ(iso.Primary().root.extent(), 23u);
  EXPECT_EQ(iso.Joliet().root.extent(), 24u);
  EXPECT_EQ(iso.Primary().descriptor.volumeSpaceSize, 25u);
}

TEST(WholeImage, EmptyRootWithoutJolietIs21Blocks) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Joliet(false);
  ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
  const std::string image = ImageBytes(dir / "result.iso");
  ASSERT_EQ(image.size(), 43008u);
  IsoImage iso(dir / "result.iso");
  EXPECT_FALSE(iso.HasJoliet());
  EXPECT_EQ(iso.TerminatorBlock(), 17u);
  EXPECT_EQ(iso.Primary().descriptor.typeLPathTable, 18u);
  EXPECT_EQ(iso.Primary().root.extent(), 20u);
  EXPECT_EQ(iso.Primary().descriptor.volumeSpaceSize, 21u);
}

// The worked tree: a root with sub-directory "s" and files "a.txt" (3000 bytes) and "b.txt"
// (empty); "s" holds "c.txt" (2048 bytes).
TEST(WholeImage, WorkedTreeBlockMap) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  auto sub = writer.Root()->AddSubDirectory(u"s");
  AddFile(*writer.Root(), dir, "in/a.txt", std::string(3000, 'a'));
  AddFile(*writer.Root(), dir, "in/b.txt", "");
  AddFile(*sub, dir, "in/s/c.txt", std::string(2048, 'c'));
  ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
  const std::string image = ImageBytes(dir / "result.iso");
  ASSERT_EQ(image.size(), 31u * 2048u);

  IsoImage iso(dir / "result.iso");
  const auto& primary = iso.Primary();
  EXPECT_EQ(primary.descriptor.pathTableSize, 20u);
  EXPECT_EQ(iso.Joliet().descriptor.pathTableSize, 20u);
  EXPECT_EQ(primary.root.extent(), 23u);
  EXPECT_EQ(primary.Find(u"/S")->extent(), 24u);
  EXPECT_EQ(iso.Joliet().root.extent(), 25u);
  EXPECT_EQ(iso.Joliet().Find(u"/s")->extent(), 26u);
  EXPECT_EQ(primary.Find(u"/A.TXT")->extent(), 27u);
  EXPECT_EQ(primary.Find(u"/B.TXT")->extent(), 0u);
  EXPECT_EQ(primary.Find(u"/B.TXT")->size(), 0u);
  EXPECT_EQ(primary.Find(u"/S/C.TXT")->extent(), 29u);
  EXPECT_EQ(iso.Joliet().Find(u"/s/c.txt")->extent(), 29u);
  EXPECT_EQ(primary.descriptor.volumeSpaceSize, 31u);
  EXPECT_EQ(iso.ReadFile(*primary.Find(u"/A.TXT")), std::string(3000, 'a'));
  EXPECT_EQ(iso.ReadFile(*primary.Find(u"/S/C.TXT")), std::string(2048, 'c'));
  // 3000 bytes, then 1096 zeros up to block 29; 2048 bytes then a whole zero block.
  EXPECT_EQ(image.substr(27 * 2048 + 3000, 1096), std::string(1096, '\0'));
  EXPECT_EQ(image.substr(29 * 2048 + 2048, 2048), std::string(2048, '\0'));
}

}  // namespace
}  // namespace tavrine
