// The test-side reader on images made by genisoimage with known content, and on copies of them
// with single faults injected: each fault must be found and named.
#include "support/iso_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

// 15 June 2021 12:34:56 UTC: 14:34:56 in Berlin, summer time (+2 h = 8 quarter hours).
constexpr time_t kFileTime = 1623760496;

class GenisoimageImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!ProgramAvailable("genisoimage")) return;
    dir_ = new TempDir();
    TempDir& d = *dir_;
    d.WriteFile("src/a.txt", "hello");
    twoBin_ = new std::string(ReadFile(d.WritePatternFile("src/sub/two.bin", 2048, 7)));
    d.WriteFile("src/sub/empty", "");
    d.WriteFile("src/sub/deep/Long name \xC3\xA9 with spaces.txt", "x");
    d.WriteFile("src/sub/b1.txt", "1");
    d.WriteFile("src/sub/b2.txt", "2");
    for (int i = 0; i < 80; ++i) d.WriteFile("src/big/entry_" + std::to_string(i) + ".dat", "");
    utimbuf times{kFileTime, kFileTime};
    utime((d / "src/a.txt").c_str(), &times);
    RunResult r = RunProgram({"genisoimage", "-quiet", "-J", "-joliet-long", "-V", "TESTVOL",
                              "-sysid", "TESTSYS", "-A", "APP ID", "-publisher", "PUB", "-p",
                              "PREP", "-volset", "SET", "-o", d / "g.iso", d / "src"});
    if (r.exitCode != 0) throw std::runtime_error("genisoimage failed: " + r.err);
    image_ = new IsoImage(d / "g.iso");
  }
  static void TearDownTestSuite() {
    delete image_;
    delete twoBin_;
    delete dir_;
    image_ = nullptr;
    twoBin_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (image_ == nullptr) FAIL() << "genisoimage is not installed (scripts/deps.sh)";
  }

  // A copy of the image with bytes replaced at offset, parsed again: must throw a message
  // holding `expected`.
  static void ExpectFault(std::uint64_t offset, std::string_view replacement,
                          const std::string& expected) {
    std::string bytes = image_->Bytes();
    bytes.replace(offset, replacement.size(), replacement);
    try {
      IsoImage::FromBytes(std::move(bytes), "patched");
      ADD_FAILURE() << "no fault found; expected: " << expected;
    } catch (const IsoFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
    }
  }

  static TempDir* dir_;
  static std::string* twoBin_;
  static IsoImage* image_;
};

TempDir* GenisoimageImage::dir_ = nullptr;
std::string* GenisoimageImage::twoBin_ = nullptr;
IsoImage* GenisoimageImage::image_ = nullptr;

TEST_F(GenisoimageImage, DescriptorsCarryEveryField) {
  const VolumeDescriptor& p = image_->Primary().descriptor;
  EXPECT_EQ(p.block, 16u);
  EXPECT_EQ(p.type, 1);
  EXPECT_EQ(p.systemId.text, u"TESTSYS");
  EXPECT_EQ(p.systemId.raw, "TESTSYS" + std::string(25, ' '));
  EXPECT_EQ(p.volumeId.text, u"TESTVOL");
  EXPECT_EQ(p.volumeSetId.text, u"SET");
  EXPECT_EQ(p.publisherId.text, u"PUB");
  EXPECT_EQ(p.dataPreparerId.text, u"PREP");
  EXPECT_EQ(p.applicationId.text, u"APP ID");
  EXPECT_EQ(p.applicationId.raw.size(), 128u);
  EXPECT_EQ(p.logicalBlockSize, 2048);
  EXPECT_EQ(std::uint64_t{p.volumeSpaceSize} * 2048, image_->Bytes().size());
  EXPECT_GT(p.typeMPathTable, p.typeLPathTable);
  EXPECT_EQ(p.creation.digits.size(), 16u);
  EXPECT_FALSE(p.creation.IsUnset());
  EXPECT_TRUE(p.expiration.IsUnset());

  ASSERT_TRUE(image_->HasJoliet());
  const VolumeDescriptor& j = image_->Joliet().descriptor;
  EXPECT_EQ(j.type, 2);
  EXPECT_EQ(j.escapeSequences.substr(0, 3), "%/E");
  EXPECT_EQ(j.volumeId.text, u"TESTVOL");
  EXPECT_EQ(j.publisherId.text, u"PUB");
  EXPECT_EQ(j.volumeSpaceSize, p.volumeSpaceSize);
  EXPECT_EQ(image_->TerminatorBlock(), 18u);
  EXPECT_EQ(image_->DescriptorTypes(), (std::vector<std::uint8_t>{1, 2, 255}));
}

TEST_F(GenisoimageImage, TreesHoldTheFilesWithSizesDatesAndData) {
  const Volume& iso = image_->Primary();
  EXPECT_EQ(iso.directoryCount, 4u);  // root, SUB, SUB/DEEP, BIG
  EXPECT_EQ(iso.fileCount, 86u);
  const Entry* a = iso.Find(u"/A.TXT;1");
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->IsDirectory());
  EXPECT_EQ(a->size(), 5u);
  EXPECT_EQ(image_->ReadFile(*a), "hello");
  EXPECT_EQ(a->date().year(), 2021);
  EXPECT_EQ(a->date().month(), 6);
  EXPECT_EQ(a->date().day(), 15);
  EXPECT_EQ(a->date().hour(), 14);
  EXPECT_EQ(a->date().minute(), 34);
  EXPECT_EQ(a->date().second(), 56);
  EXPECT_EQ(a->date().offset(), 8);

  const Entry* two = iso.Find(u"SUB/TWO.BIN;1");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(image_->ReadFile(*two), *twoBin_);
  const Entry* empty = iso.Find(u"/SUB/EMPTY.;1");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->size(), 0u);
  EXPECT_EQ(image_->ReadFile(*empty), "");
  EXPECT_EQ(iso.Find(u"/sub"), nullptr) << "names compare exactly";

  const Entry* sub = iso.Find(u"/SUB");
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->IsDirectory());
  EXPECT_EQ(sub->parent.extent, iso.root.extent());
  EXPECT_EQ(sub->self.extent, sub->extent());
  EXPECT_EQ(iso.root.directoryNumber, 1);
  EXPECT_EQ(iso.pathTable.at(sub->directoryNumber - 1u).identifier, "SUB");

  const Volume& joliet = image_->Joliet();
  EXPECT_EQ(joliet.directoryCount, 4u);
  EXPECT_EQ(joliet.fileCount, 86u);
  const Entry* longName = joliet.Find(u"/sub/deep/Long name \u00E9 with spaces.txt");
  ASSERT_NE(longName, nullptr);
  EXPECT_EQ(image_->ReadFile(*longName), "x");
  const Entry* jtwo = joliet.Find(u"/sub/two.bin");
  ASSERT_NE(jtwo, nullptr);
  EXPECT_EQ(jtwo->extent(), two->extent()) << "both trees share the file data";

  std::vector<std::u16string> paths;
  WalkEntries(joliet.root, [&](const std::u16string& path, const Entry&) {
    if (path.rfind(u"/big/", 0) != 0) paths.push_back(path);
  });
  EXPECT_EQ(paths,
            (std::vector<std::u16string>{
                u"/a.txt", u"/big", u"/sub", u"/sub/b1.txt", u"/sub/b2.txt", u"/sub/deep",
                u"/sub/deep/Long name \u00E9 with spaces.txt", u"/sub/empty", u"/sub/two.bin"}));
}

TEST_F(GenisoimageImage, FindsBothEndianMismatch) {
  // Volume space size, big-endian half (offset 84 of the primary descriptor).
  ExpectFault(16 * 2048 + 84, std::string("\x7F", 1), "volume space size: both-endian");
}

TEST_F(GenisoimageImage, FindsTypeMPathTableDisagreeing) {
  const VolumeDescriptor& p = image_->Primary().descriptor;
  // The last byte of the root record's extent in the type M table.
  ExpectFault(std::uint64_t{p.typeMPathTable} * 2048 + 5, "\x01", "differs between type L and M");
}

TEST_F(GenisoimageImage, FindsWrongParentInPathTables) {
  const Volume& iso = image_->Primary();
  const Entry* deep = iso.Find(u"/SUB/DEEP");
  ASSERT_NE(deep, nullptr);
  // Point DEEP's path table records (type L and M) at the root instead of SUB.
  std::string bytes = image_->Bytes();
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < deep->directoryNumber; ++i) {
    std::size_t n = iso.pathTable[i].identifierLength;
    at += 8 + n + n % 2;
  }
  std::uint64_t l = std::uint64_t{iso.descriptor.typeLPathTable} * 2048 + at;
  std::uint64_t m = std::uint64_t{iso.descriptor.typeMPathTable} * 2048 + at;
  bytes[l + 6] = 1;
  bytes[l + 7] = 0;
  bytes[m + 6] = 0;
  bytes[m + 7] = 1;
  EXPECT_THROW(
      {
        try {
          IsoImage::FromBytes(bytes, "patched");
        } catch (const IsoFormatError& e) {
          // Either the order rule or the cross-check with the walk fires first.
          std::string what = e.what();
          EXPECT_TRUE(what.find("parent") != std::string::npos) << what;
          throw;
        }
      },
      IsoFormatError);
}

TEST_F(GenisoimageImage, FindsParentRecordPointingElsewhere) {
  const Entry* deep = image_->Primary().Find(u"/SUB/DEEP");
  ASSERT_NE(deep, nullptr);
  std::uint32_t wrong = deep->extent();  // ".." pointing at itself
  std::string both(8, '\0');
  for (int i = 0; i < 4; ++i) {
    both[i] = static_cast<char>(wrong >> (8 * i));
    both[7 - i] = static_cast<char>(wrong >> (8 * i));
  }
  ExpectFault(deep->parent.imageOffset + 2, both, "does not point at the parent");
}

TEST_F(GenisoimageImage, FindsDuplicateNames) {
  const Entry* b2 = image_->Primary().Find(u"/SUB/B2.TXT;1");
  ASSERT_NE(b2, nullptr);
  ExpectFault(b2->record.imageOffset + 33 + 1, "1", "two records named B1.TXT;1");
}

TEST_F(GenisoimageImage, FindsRecordStraddlingABlock) {
  const Entry* big = image_->Primary().Find(u"/BIG");
  ASSERT_NE(big, nullptr);
  ASSERT_GT(big->size(), 2048u);
  // The last record that starts in the first block of BIG's extent, grown past the block end.
  const DirectoryRecord* last = nullptr;
  for (const Entry& e : big->children) {
    if (e.record.imageOffset < std::uint64_t{big->extent()} * 2048 + 2048) last = &e.record;
  }
  ASSERT_NE(last, nullptr);
  ASSERT_GT(last->imageOffset % 2048 + 255, 2048u);
  ExpectFault(last->imageOffset, "\xFF", "straddles a block boundary");
}

TEST_F(GenisoimageImage, FindsRootRecordDisagreeingWithDot) {
  // Data length of the descriptor's root record (offset 156 + 10), both halves.
  std::uint32_t length = image_->Primary().root.size() + 2048;
  std::string both(8, '\0');
  for (int i = 0; i < 4; ++i) {
    both[i] = static_cast<char>(length >> (8 * i));
    both[7 - i] = static_cast<char>(length >> (8 * i));
  }
  ExpectFault(16 * 2048 + 156 + 10, both, "differs from the record pointing at it");
}

TEST_F(GenisoimageImage, FindsTruncatedImageAndMissingTerminator) {
  std::string bytes = image_->Bytes();
  EXPECT_THROW(IsoImage::FromBytes(bytes.substr(0, bytes.size() - 2048), "short"), IsoFormatError);
  EXPECT_THROW(IsoImage::FromBytes(bytes.substr(0, bytes.size() - 1), "odd"), IsoFormatError);
  ExpectFault(18 * 2048 + 1, "XXXXX", "block 18 is not a volume descriptor");
}

TEST_F(GenisoimageImage, FindsPathTableNameDisagreeingWithTheRecord) {
  const Volume& iso = image_->Primary();
  const Entry* sub = iso.Find(u"/SUB");
  ASSERT_NE(sub, nullptr);
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < sub->directoryNumber; ++i) {
    std::size_t n = iso.pathTable[i].identifierLength;
    at += 8 + n + n % 2;
  }
  // "SUB" becomes "SUC" in both tables, so only the cross-check with the walk can see it.
  std::string bytes = image_->Bytes();
  bytes[std::uint64_t{iso.descriptor.typeLPathTable} * 2048 + at + 10] = 'C';
  bytes[std::uint64_t{iso.descriptor.typeMPathTable} * 2048 + at + 10] = 'C';
  try {
    IsoImage::FromBytes(bytes, "patched");
    ADD_FAILURE() << "no fault found";
  } catch (const IsoFormatError& e) {
    EXPECT_NE(std::string(e.what()).find("path table identifier SUC differs"), std::string::npos)
        << e.what();
  }
}

TEST_F(GenisoimageImage, FindsBytesAfterTheLastRecordOfABlock) {
  const Entry& root = image_->Primary().root;
  ExpectFault(std::uint64_t{root.extent()} * 2048 + 2047, "\x01", "non-zero bytes after the last");
}

TEST_F(GenisoimageImage, FindsFileRunningPastTheVolume) {
  const Entry* a = image_->Primary().Find(u"/A.TXT;1");
  ASSERT_NE(a, nullptr);
  std::uint32_t beyond = image_->Primary().descriptor.volumeSpaceSize;
  std::string both(8, '\0');
  for (int i = 0; i < 4; ++i) {
    both[i] = static_cast<char>(beyond >> (8 * i));
    both[7 - i] = static_cast<char>(beyond >> (8 * i));
  }
  ExpectFault(a->record.imageOffset + 2, both, "runs past the volume space size");
}

TEST(IsoReaderOnGenisoimage, ImageWithoutJolietAndManyDirectories) {
  ASSERT_TRUE(ProgramAvailable("genisoimage")) << "genisoimage is not installed (scripts/deps.sh)";
  TempDir d;
  // 300 directories: a path table of several blocks, and a root extent of several blocks.
  for (int i = 0; i < 300; ++i) {
    d.WriteFile("src/directory_" + std::to_string(i) + "/f" + std::to_string(i % 7), "x");
  }
  RunResult r = RunProgram({"genisoimage", "-quiet", "-o", d / "g.iso", d / "src"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  IsoImage image(d / "g.iso");
  EXPECT_FALSE(image.HasJoliet());
  EXPECT_THROW(image.Joliet(), IsoFormatError);
  EXPECT_EQ(image.TerminatorBlock(), 17u);
  const Volume& v = image.Primary();
  EXPECT_EQ(v.directoryCount, 301u);
  EXPECT_EQ(v.fileCount, 300u);
  EXPECT_GT(v.descriptor.pathTableSize, 2048u);
  EXPECT_GT(v.root.size(), 2048u);
  EXPECT_EQ(v.pathTable.size(), 301u);
  for (const Entry& c : v.root.children)
    EXPECT_EQ(v.pathTable.at(c.directoryNumber - 1u).parent, 1);
  EXPECT_THROW(image.Block(v.descriptor.volumeSpaceSize), IsoFormatError);
}

TEST(IsoReaderText, DecodesSingleByteAndUcs2) {
  EXPECT_EQ(DecodeWindows1252("A\x80\xE9\x81\x9F"), std::u16string(u"A\u20AC\u00E9\u0081\u0178"));
  EXPECT_EQ(DecodeUcs2BigEndian(std::string("\x00\x41\x65\xE5", 4)), std::u16string(u"A\u65E5"));
  EXPECT_THROW(DecodeUcs2BigEndian("abc"), IsoFormatError);
  EXPECT_EQ(Utf8(u"a\u00E9\u65E5\U0001F600"), "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tavrine::testing
