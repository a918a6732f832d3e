// Whole images written by SaveISO with a fixed clock: block maps and bytes at absolute offsets
// worked out by hand, read back through the strict image reader (image/reader.h).
#include <gtest/gtest.h>

#include <stdexcept>

#include "image/reader.h"
#include "image/writer.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace tavrine {
namespace {

using iso::IsoImage;
using testing::AddFile;
using testing::Hex;

constexpr std::size_t kBlock = 2048;

std::size_t At(std::size_t block, std::size_t offset = 0) {
  return block * kBlock + offset;
}

class WholeImage : public ::testing::Test {
 protected:
  WholeImage() { writer.VolumeCreation(testing::FixedDate()); }

  // Builds the image and returns its bytes.
  std::string Save() {
    if (!writer.SaveISO(dir / "result.iso")) throw std::runtime_error("SaveISO returned false");
    return testing::ReadFile(dir / "result.iso");
  }

  testing::TempDir dir;
  clsISOWriter writer;
};

TEST_F(WholeImage, IdentifiersAreCutAtTheirFields) {
  writer.VolumeID(false, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD");  // 40 characters
  writer.VolumeID(true, u"abcdefghijklmnopqrst");                       // 20 characters
  writer.VolumeSetID(false, u"SET");
  writer.VolumeSetID(true, u"Set");
  const std::string image = Save();
  EXPECT_EQ(image.substr(At(16, 40), 32), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
  EXPECT_EQ(Hex(image, At(17, 40), 4), "00 61 00 62");
  EXPECT_EQ(Hex(image, At(17, 70), 2), "00 70");  // 16th character, no zero left
  EXPECT_EQ(image.substr(At(16, 190), 128), "SET" + std::string(125, ' '));
  EXPECT_EQ(Hex(image, At(17, 190), 8), "00 53 00 65 00 74 00 00");
}

TEST_F(WholeImage, ParentNumber128InBothPathTables) {
  writer.Joliet(false);
  std::shared_ptr<clsISODirectory> last;
  for (int i = 0; i < 127; ++i) {  // numbers 2 to 128, three-character names
    last = writer.Root()->AddSubDirectory(
        std::u16string{u'D', char16_t(u'A' + i % 26), char16_t(u'A' + i / 26)});
  }
  last->AddSubDirectory(u"X");
  const std::string image = Save();
  IsoImage iso = IsoImage::FromBytes(image);
  const auto& d = iso.Primary().descriptor;
  ASSERT_EQ(d.pathTableSize, 10u + 127u * 12u + 10u);
  // The last record (X, parent 128): type M 00 80, type L 80 00.
  EXPECT_EQ(Hex(image, d.typeMPathTable * kBlock + d.pathTableSize - 10 + 6, 3), "00 80 58");
  EXPECT_EQ(Hex(image, d.typeLPathTable * kBlock + d.pathTableSize - 10 + 6, 3), "80 00 58");
}

}  // namespace
}  // namespace tavrine
