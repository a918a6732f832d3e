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

TEST_F(WholeImage, DescriptorFieldsOfAnEmptyRootWithTheDefaults) {
  const std::string image = Save();
  ASSERT_EQ(image.size(), 25 * kBlock);
  EXPECT_EQ(image.substr(0, 16 * kBlock), std::string(16 * kBlock, '\0'));  // system area
  // Primary: type 1, "CD001", version 1.
  EXPECT_EQ(Hex(image, At(16), 7), "01 43 44 30 30 31 01");
  EXPECT_EQ(image.substr(At(16, 8), 32), "WIN32" + std::string(27, '\0'));
  EXPECT_EQ(image.substr(At(16, 40), 32), "MY_VOL" + std::string(26, '\0'));
  EXPECT_EQ(Hex(image, At(16, 80), 8), "19 00 00 00 00 00 00 19");  // 25 blocks
  EXPECT_EQ(Hex(image, At(16, 120), 12), "01 00 00 01 01 00 00 01 00 08 08 00");
  EXPECT_EQ(Hex(image, At(16, 132), 8), "0A 00 00 00 00 00 00 0A");
  // Type L at 19, type M at 20, no optional tables.
  EXPECT_EQ(Hex(image, At(16, 140), 16), "13 00 00 00 00 00 00 00 00 00 00 14 00 00 00 00");
  EXPECT_EQ(image.substr(At(16, 190), 128), std::string(128, ' '));  // empty volume set
  EXPECT_EQ(image.substr(At(16, 318), 128), "Quarnelix" + std::string(119, ' '));
  EXPECT_EQ(image.substr(At(16, 446), 128), std::string(128, ' '));
  EXPECT_EQ(image.substr(At(16, 574), 128), "Tavrine" + std::string(121, ' '));
  EXPECT_EQ(image.substr(At(16, 702), 111), std::string(111, ' '));
  EXPECT_EQ(image.substr(At(16, 813), 17), std::string("2024030509070300") + '\0');
  for (std::size_t offset : {830u, 847u, 864u}) {
    EXPECT_EQ(image.substr(At(16, offset), 17), std::string(16, '0') + '\0');
  }
  EXPECT_EQ(Hex(image, At(16, 881), 2), "01 00");
  EXPECT_EQ(image.substr(At(16, 883), 2048 - 883), std::string(2048 - 883, '\0'));
  // Root record: extent 23, 2048 bytes, 5 March 2024 09:07:03 UTC, directory, sequence 1.
  EXPECT_EQ(Hex(image, At(16, 156), 34),
            "22 00 17 00 00 00 00 00 00 17 00 08 00 00 00 00 08 00 7C 03 05 09 07 03 00 02 00 "
            "00 01 00 00 01 01 00");

  // Supplementary: type 2, "%/E", UCS-2 texts without space fill, tables at 21 and 22.
  EXPECT_EQ(Hex(image, At(17), 8), "02 43 44 30 30 31 01 00");
  EXPECT_EQ(Hex(image, At(17, 8), 12), "00 57 00 49 00 4E 00 33 00 32 00 00");
  EXPECT_EQ(Hex(image, At(17, 40), 20),
            "00 4D 00 79 00 20 00 56 00 6F 00 6C 00 75 00 6D 00 65 00 00");
  EXPECT_EQ(Hex(image, At(17, 88), 4), "25 2F 45 00");
  EXPECT_EQ(Hex(image, At(17, 140), 16), "15 00 00 00 00 00 00 00 00 00 00 16 00 00 00 00");
  EXPECT_EQ(image.substr(At(17, 190), 128), std::string(128, '\0'));
  EXPECT_EQ(image.substr(At(17, 702), 111), std::string(111, '\0'));
  EXPECT_EQ(Hex(image, At(17, 156 + 2), 8), "18 00 00 00 00 00 00 18");  // Joliet root at 24
  // Terminator.
  EXPECT_EQ(Hex(image, At(18), 7), "FF 43 44 30 30 31 01");
  EXPECT_EQ(image.substr(At(18, 7), 2041), std::string(2041, '\0'));
}

// A root with sub-directory "s" and files "a.txt" (3000 bytes) and "b.txt" (empty); "s" holds
// "c.txt" (2048 bytes).
TEST_F(WholeImage, WorkedTreeBlockMapAndPathTables) {
  auto sub = writer.Root()->AddSubDirectory(u"s");
  AddFile(*writer.Root(), dir, "in/a.txt", std::string(3000, 'a'));
  AddFile(*writer.Root(), dir, "in/b.txt", "");
  AddFile(*sub, dir, "in/s/c.txt", std::string(2048, 'c'));
  const std::string image = Save();
  IsoImage iso = IsoImage::FromBytes(image);
  const auto& primary = iso.Primary();
  EXPECT_EQ(primary.root.extent(), 23u);
  EXPECT_EQ(primary.Find(u"/S").extent(), 24u);
  EXPECT_EQ(iso.Joliet().root.extent(), 25u);
  EXPECT_EQ(iso.Joliet().Find(u"/s").extent(), 26u);
  EXPECT_EQ(primary.Find(u"/A.TXT").extent(), 27u);
  EXPECT_EQ(primary.Find(u"/B.TXT").extent(), 0u);  // empty: no block
  EXPECT_EQ(primary.Find(u"/S/C.TXT").extent(), 29u);
  EXPECT_EQ(iso.Joliet().Find(u"/s/c.txt").extent(), 29u);  // one copy of the data
  EXPECT_EQ(primary.descriptor.volumeSpaceSize, 31u);
  EXPECT_EQ(image.size(), 31 * kBlock);
  // The four path tables (20 bytes each) and the zeros after them.
  EXPECT_EQ(Hex(image, At(19), 20), "01 00 17 00 00 00 01 00 00 00 01 00 18 00 00 00 01 00 53 00");
  EXPECT_EQ(Hex(image, At(20), 20), "01 00 00 00 00 17 00 01 00 00 01 00 00 00 00 18 00 01 53 00");
  EXPECT_EQ(Hex(image, At(21), 20), "01 00 19 00 00 00 01 00 00 00 02 00 1A 00 00 00 01 00 00 73");
  EXPECT_EQ(Hex(image, At(22), 20), "01 00 00 00 00 19 00 01 00 00 02 00 00 00 00 1A 00 01 00 73");
  EXPECT_EQ(image.substr(At(19, 20), 2028), std::string(2028, '\0'));
}

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

TEST_F(WholeImage, DirectoryRecordsLengthsPaddingDatesAndOrder) {
  auto& root = *writer.Root();
  root.AddSubDirectory(u"B");
  root.AddSubDirectory(u"A");
  AddFile(root, dir, "abcdef.txt", "1");  // ISO "ABCDEF.TXT": 10 characters
  AddFile(root, dir, "abcdefg.txt", "");  // 11 characters, empty
  AddFile(root, dir, "x.y", "22").CreationDate(DateTime::Zero());
  const std::string image = Save();
  IsoImage iso = IsoImage::FromBytes(image);
  const auto& children = iso.Primary().root.children;
  ASSERT_EQ(children.size(), 5u);
  EXPECT_EQ(children[0].name, u"B");  // order of addition, not sorted
  EXPECT_EQ(children[1].name, u"A");
  EXPECT_EQ(children[2].record.length, 44);
  EXPECT_EQ(iso.RecordBytes(children[2].record).back(), '\0');  // padding after an even identifier
  EXPECT_EQ(children[3].record.length, 44);                     // odd identifier: no padding
  EXPECT_EQ(iso.RecordBytes(children[3].record).back(), 'T');
  EXPECT_EQ(children[3].extent(), 0u);       // empty file: no block
  EXPECT_EQ(children[4].record.length, 36);  // "X.Y": 33 + 3
  EXPECT_EQ(Hex(iso.RecordBytes(children[4].record), 18, 7),
            "00 00 00 00 00 00 00");  // unknown date
  EXPECT_EQ(Hex(iso.RecordBytes(children[2].record), 18, 8), "7C 03 05 09 07 03 00 00");
  EXPECT_EQ(Hex(iso.RecordBytes(children[0].record), 18, 8), "7C 03 05 09 07 03 00 02");
  const auto& joliet = iso.Joliet().root.children;
  EXPECT_EQ(joliet[4].name, u"x.y");
  EXPECT_EQ(joliet[4].record.length, 33 + 6 + 1);
  EXPECT_EQ(joliet[2].extent(), children[2].extent());  // one copy of the data
  // An empty directory: two 34-byte records and 1980 zeros.
  EXPECT_EQ(image.substr(children[1].extent() * kBlock + 68, 1980), std::string(1980, '\0'));
}

TEST_F(WholeImage, FileDataAndItsPadding) {
  writer.Joliet(false);
  const std::size_t sizes[] = {2000, 2001, 4000, 2048, 0, 1};
  std::string expected;
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string data(sizes[i], static_cast<char>('a' + i));
    AddFile(*writer.Root(), dir, std::string(1, static_cast<char>('a' + i)), data);
    if (sizes[i] > 0) expected += data + std::string(2048 - sizes[i] % 2048, '\0');
  }
  const std::string image = Save();
  // Without Joliet: descriptors at 16 and 17, path tables at 18 and 19, the root extent at 20.
  EXPECT_EQ(image.substr(21 * kBlock), expected);
  IsoImage iso = IsoImage::FromBytes(image);
  EXPECT_EQ(iso.Primary().Find(u"/B.").extent(), 22u);
  EXPECT_EQ(iso.Primary().Find(u"/C.").extent(), 23u);  // after 2001 bytes: one block
  EXPECT_EQ(iso.Primary().Find(u"/D.").extent(), 25u);  // after 4000 bytes: two blocks
  EXPECT_EQ(iso.Primary().Find(u"/E.").extent(), 0u);
  EXPECT_EQ(iso.Primary().Find(u"/F.").extent(), 27u);  // after 2048 bytes: two blocks
}

// 44 records of 44 bytes end at 2004. A 45th of 44 bytes ends exactly at 2048 and stays, and
// the extent gets a whole block of zeros; one of 48 bytes would cross and starts block 21.
TEST(WholeImageBlockRule, RecordsStayWhenTheyEndOnTheBoundaryAndMoveWhenTheyWouldCross) {
  for (const char16_t* last : {u"file044.txt", u"longername.txt"}) {
    testing::TempDir dir;
    clsISOWriter writer;
    writer.Joliet(false);
    const std::string local = dir.WriteFile("data", "x");
    for (int i = 0; i < 44; ++i) {
      writer.Root()->Files().Add(
          local,
          u"file0" + std::u16string{char16_t(u'0' + i / 10), char16_t(u'0' + i % 10)} + u".txt");
    }
    writer.Root()->Files().Add(local, last);
    ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
    IsoImage iso(dir / "result.iso");
    const std::string image = testing::ReadFile(dir / "result.iso");
    const bool crosses = std::u16string_view(last).size() > 11;
    EXPECT_EQ(iso.Primary().rootSelf.dataLength, 2 * kBlock);
    if (crosses) {
      EXPECT_EQ(image.substr(At(20, 2004), 44), std::string(44, '\0'));
      EXPECT_EQ(Hex(image, At(21), 1), "30");
      EXPECT_EQ(image.substr(At(21, 33), 14), "LONGERNAME.TXT");
    } else {
      EXPECT_EQ(image.substr(At(20, 2004 + 33), 11), "FILE044.TXT");
      EXPECT_EQ(image.substr(At(21), kBlock), std::string(kBlock, '\0'));
    }
    EXPECT_EQ(iso.Primary().root.children.size(), 45u);
  }
}

}  // namespace
}  // namespace tavrine
