// Whole images written by SaveISO with a fixed clock: sizes, block maps and bytes at absolute
// offsets, read back through the test-side reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

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

constexpr std::size_t kBlock = 2048;

std::string Saved(clsISOWriter& writer, const TempDir& dir) {
  const std::string path = dir / "result.iso";
  if (!writer.SaveISO(path)) throw std::runtime_error("SaveISO returned false");
  return ImageBytes(path);
}

// prefix and two letters numbering i.
std::u16string NumberedName(const char16_t* prefix, int i) {
  std::u16string name(prefix);
  name.push_back(static_cast<char16_t>(u'A' + i % 26));
  name.push_back(static_cast<char16_t>(u'A' + i / 26));
  return name;
}

std::size_t At(std::size_t block, std::size_t offset = 0) {
  return block * kBlock + offset;
}

TEST(WholeImage, DescriptorFieldsWithTheDefaults) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  const std::string image = Saved(writer, dir);
  EXPECT_EQ(image.substr(0, 16 * kBlock), std::string(16 * kBlock, '\0'));  // system area
  // Primary: type 1, "CD001", version 1.
  EXPECT_EQ(Hex(image, At(16), 7), "01 43 44 30 30 31 01");
  EXPECT_EQ(image.substr(At(16, 8), 32), "WIN32" + std::string(27, '\0'));
  EXPECT_EQ(image.substr(At(16, 40), 32), "MY_VOL" + std::string(26, '\0'));
  EXPECT_EQ(Hex(image, At(16, 80), 8), "19 00 00 00 00 00 00 19");  // 25 blocks
  EXPECT_EQ(Hex(image, At(16, 120), 12), "01 00 00 01 01 00 00 01 00 08 08 00");
  EXPECT_EQ(Hex(image, At(16, 132), 8), "0A 00 00 00 00 00 00 0A");
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

  // Supplementary: type 2, "%/E", UCS-2 texts without space fill.
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

TEST(WholeImage, RootRecordEqualsTheSelfRecordOfTheExtent) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Root()->AddSubDirectory(u"sub");
  const std::string image = Saved(writer, dir);
  IsoImage iso = IsoImage::FromBytes(image);
  for (const auto* volume : {&iso.Primary(), &iso.Joliet()}) {
    const std::uint32_t extent = volume->root.extent();
    const std::string self = image.substr(extent * kBlock, 34);
    EXPECT_EQ(volume->descriptor.bytes.substr(156, 34), self);
    // The root's ".." is its "." but for the identifier byte.
    std::string parent = image.substr(extent * kBlock + 34, 34);
    EXPECT_EQ(parent[33], '\x01');
    parent[33] = '\0';
    EXPECT_EQ(parent, self);
  }
}

TEST(WholeImage, IdentifiersAreCutAtTheirFields) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.VolumeID(false, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD");  // 40 characters
  writer.VolumeID(true, u"abcdefghijklmnopqrst");                       // 20 characters
  writer.VolumeSetID(false, u"SET");
  writer.VolumeSetID(true, u"Set");
  const std::string image = Saved(writer, dir);
  EXPECT_EQ(image.substr(At(16, 40), 32), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
  EXPECT_EQ(Hex(image, At(17, 40), 4), "00 61 00 62");
  EXPECT_EQ(Hex(image, At(17, 70), 2), "00 70");  // 16th character, no zero left
  EXPECT_EQ(image.substr(At(16, 190), 128), "SET" + std::string(125, ' '));
  EXPECT_EQ(Hex(image, At(17, 190), 8), "00 53 00 65 00 74 00 00");
}

// Sets TZ for one test and restores the zone of the test run afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(WholeImage, TimestampsCarryTheZoneOfTheirDate) {
  struct Case {
    const char* zone;
    int month;
    const char* offsetHex;
  };
  for (const Case& c :
       {Case{"UTC", 3, "00"}, Case{"Europe/Berlin", 3, "04"}, Case{"Europe/Berlin", 7, "08"}}) {
    ScopedTimeZone zone(c.zone);
    TempDir dir;
    clsISOWriter writer;
    DateTime local = testing::FixedDate();
    local.utcOffsetMinutes.reset();  // local time of the machine
    local.month = c.month;
    writer.VolumeCreation(local);
    const std::string image = Saved(writer, dir);
    const std::string month = c.month == 3 ? "03" : "07";
    for (std::size_t block : {16u, 17u}) {
      EXPECT_EQ(image.substr(At(block, 813), 16), "2024" + month + "0509070300") << c.zone;
      EXPECT_EQ(Hex(image, At(block, 829), 1), c.offsetHex) << c.zone;
      EXPECT_EQ(Hex(image, At(block, 156 + 18), 7),
                "7C 0" + std::to_string(c.month) + " 05 09 07 03 " + c.offsetHex)
          << c.zone;
    }
  }
}

TEST(WholeImage, PathTablesOfTheWorkedTree) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Root()->AddSubDirectory(u"s");
  const std::string image = Saved(writer, dir);
  // Root at 23, S at 24 (ISO); root at 25, s at 26 (Joliet).
  EXPECT_EQ(Hex(image, At(19), 20), "01 00 17 00 00 00 01 00 00 00 01 00 18 00 00 00 01 00 53 00");
  EXPECT_EQ(image.substr(At(19, 20), 2028), std::string(2028, '\0'));
  EXPECT_EQ(Hex(image, At(20), 20), "01 00 00 00 00 17 00 01 00 00 01 00 00 00 00 18 00 01 53 00");
  EXPECT_EQ(Hex(image, At(21), 20), "01 00 19 00 00 00 01 00 00 00 02 00 1A 00 00 00 01 00 00 73");
  EXPECT_EQ(Hex(image, At(22), 20), "01 00 00 00 00 19 00 01 00 00 02 00 00 00 00 1A 00 01 00 73");
}

TEST(WholeImage, TypeMPathTableParentNumber128) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Joliet(false);
  std::shared_ptr<clsISODirectory> last;
  for (int i = 0; i < 127; ++i) {  // numbers 2 to 128
    last = writer.Root()->AddSubDirectory(NumberedName(u"D", i));
  }
  last->AddSubDirectory(u"X");
  const std::string image = Saved(writer, dir);
  IsoImage iso = IsoImage::FromBytes(image);
  const auto& d = iso.Primary().descriptor;
  ASSERT_EQ(d.pathTableSize, 10u + 127u * 12u + 10u);
  // The last record (X, parent 128): type M 00 80, type L 80 00.
  EXPECT_EQ(Hex(image, d.typeMPathTable * kBlock + d.pathTableSize - 10 + 6, 3), "00 80 58");
  EXPECT_EQ(Hex(image, d.typeLPathTable * kBlock + d.pathTableSize - 10 + 6, 3), "80 00 58");
  EXPECT_EQ(iso.Primary().pathTable.back().parent, 128);
}

TEST(WholeImage, DirectoryRecordsLengthsPaddingAndOrder) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  auto& root = *writer.Root();
  root.AddSubDirectory(u"B");
  root.AddSubDirectory(u"A");
  testing::AddFile(root, dir, "abcdef.txt", "1");  // ISO "ABCDEF.TXT": 10 characters
  testing::AddFile(root, dir, "abcdefg.txt", "");  // 11 characters, empty
  testing::AddFile(root, dir, "x.y", "22");        // short name after longer ones
  root.Files().File(2).CreationDate(DateTime::Zero());
  const std::string image = Saved(writer, dir);
  IsoImage iso = IsoImage::FromBytes(image);
  const auto& children = iso.Primary().root.children;
  ASSERT_EQ(children.size(), 5u);
  EXPECT_EQ(children[0].name, u"B");  // order of addition, not sorted
  EXPECT_EQ(children[1].name, u"A");
  EXPECT_EQ(children[2].record.length, 44);
  EXPECT_EQ(children[2].record.bytes.back(), '\0');  // padding after an even identifier
  EXPECT_EQ(children[3].record.length, 44);          // odd identifier: no padding
  EXPECT_EQ(children[3].record.bytes.back(), 'T');
  EXPECT_EQ(children[3].extent(), 0u);  // empty file: no block
  EXPECT_EQ(children[3].size(), 0u);
  EXPECT_EQ(children[4].record.length, 36);  // "X.Y": 33 + 3, odd: no padding
  EXPECT_EQ(Hex(children[4].record.bytes, 18, 7), "00 00 00 00 00 00 00");  // unknown date
  EXPECT_EQ(Hex(children[2].record.bytes, 18, 8), "7C 03 05 09 07 03 00 00");
  EXPECT_EQ(Hex(children[0].record.bytes, 18, 8), "7C 03 05 09 07 03 00 02");
  const auto& joliet = iso.Joliet().root.children;
  EXPECT_EQ(joliet[4].name, u"x.y");
  EXPECT_EQ(joliet[4].record.length, 33 + 6 + 1);
  EXPECT_EQ(joliet[2].extent(), children[2].extent());  // one copy of the data
  EXPECT_EQ(joliet[2].size(), children[2].size());
  // An empty directory: two 34-byte records and 1980 zeros.
  const std::uint32_t a = children[1].extent();
  EXPECT_EQ(image.substr(a * kBlock + 68, 1980), std::string(1980, '\0'));
}

TEST(WholeImage, FileDataAndItsPadding) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Joliet(false);
  const std::size_t sizes[] = {2000, 2001, 4000, 2048, 0, 1};
  std::string expected;
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string data(sizes[i], static_cast<char>('a' + i));
    testing::AddFile(*writer.Root(), dir, std::string(1, static_cast<char>('a' + i)), data);
    if (sizes[i] > 0) expected += data + std::string(2048 - sizes[i] % 2048, '\0');
  }
  const std::string image = Saved(writer, dir);
  // One root extent at 20; the data from 21 on.
  EXPECT_EQ(image.size(), 21 * kBlock + expected.size());
  EXPECT_EQ(image.substr(21 * kBlock), expected);
  IsoImage iso = IsoImage::FromBytes(image);
  EXPECT_EQ(iso.Primary().Find(u"/B.")->extent(), 22u);
  EXPECT_EQ(iso.Primary().Find(u"/C.")->extent(), 23u);  // after 2001 bytes: one block
  EXPECT_EQ(iso.Primary().Find(u"/D.")->extent(), 25u);  // after 4000 bytes: two blocks
  EXPECT_EQ(iso.Primary().Find(u"/E.")->extent(), 0u);
  EXPECT_EQ(iso.Primary().Find(u"/F.")->extent(), 27u);  // after 2048 bytes: two blocks
}

TEST(WholeImage, RecordsThatWouldCrossABlockStartTheNext) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Joliet(false);
  const std::string local = dir.WriteFile("data", "x");
  auto& files = writer.Root()->Files();
  for (int i = 0; i < 44; ++i) {  // 68 + 44 * 44 = 2004
    char name[16];
    std::snprintf(name, sizeof name, "file%03d.txt", i);
    files.Add(local, std::u16string(name, name + 11));
  }
  files.Add(local, u"longername.txt");  // "LONGERNAME.TXT": a 48-byte record
  const std::string image = Saved(writer, dir);
  EXPECT_EQ(image.substr(At(20, 2004), 44), std::string(44, '\0'));
  EXPECT_EQ(Hex(image, At(21), 1), "30");
  EXPECT_EQ(image.substr(At(21, 33), 14), "LONGERNAME.TXT");
  IsoImage iso = IsoImage::FromBytes(image);
  EXPECT_EQ(iso.Primary().root.self.dataLength, 2u * kBlock);
  EXPECT_EQ(iso.Primary().root.children.size(), 45u);
}

TEST(WholeImage, ExtentEndingExactlyOnABoundaryGetsAWholeZeroBlock) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  writer.Joliet(false);
  const std::string local = dir.WriteFile("data", "x");
  for (int i = 0; i < 45; ++i) {  // 68 + 45 * 44 = 2048
    char name[16];
    std::snprintf(name, sizeof name, "file%03d.txt", i);
    writer.Root()->Files().Add(local, std::u16string(name, name + 11));
  }
  const std::string image = Saved(writer, dir);
  EXPECT_EQ(image.substr(At(20, 2004), 44).substr(33, 11), "FILE044.TXT");
  EXPECT_EQ(image.substr(At(21), kBlock), std::string(kBlock, '\0'));
  IsoImage iso = IsoImage::FromBytes(image);
  EXPECT_EQ(iso.Primary().root.self.dataLength, 2u * kBlock);
  EXPECT_EQ(iso.Primary().Find(u"/FILE000.TXT")->extent(), 22u);
}

TEST(WholeImage, DeepAndWideTreesReadBack) {
  TempDir dir;
  clsISOWriter writer;
  testing::UseFixedClock(writer);
  const std::string local = dir.WriteFile("data", "payload");
  std::shared_ptr<clsISODirectory> deep = writer.Root();
  for (int i = 0; i < 40; ++i) {
    deep = deep->AddSubDirectory(NumberedName(u"level", i));
    deep->Files().Add(local, u"f.txt");
  }
  auto wide = writer.Root()->AddSubDirectory(u"wide");
  for (int i = 0; i < 600; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "a rather long file name %04d.data", i);
    wide->Files().Add(local, std::u16string(name, name + std::strlen(name)));
  }
  const std::string image = Saved(writer, dir);
  IsoImage iso = IsoImage::FromBytes(image);
  EXPECT_EQ(iso.Primary().directoryCount, 42u);
  EXPECT_EQ(iso.Joliet().fileCount, 640u);
  const auto* file = iso.Joliet().Find(u"/wide/a rather long file name 0599.data");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(iso.ReadFile(*file), "payload");
  EXPECT_EQ(iso.Primary().descriptor.volumeSpaceSize * kBlock, image.size());
}

}  // namespace
}  // namespace tavrine
