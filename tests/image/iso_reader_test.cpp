// The test-side reader on an image made by genisoimage with known content, and on copies of it
// with single faults injected: each fault must be found and named.
#include "support/iso_reader.h"

#include <gtest/gtest.h>
#include <utime.h>

#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

class GenisoimageImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const TempDir& d = *dir_;
    d.WriteFile("src/a.txt", "hello");
    d.WritePatternFile("src/sub/two.bin", 2048, 7);
    d.WriteFile("src/sub/empty", "");
    d.WriteFile("src/sub/deep/Long name \xC3\xA9 with spaces.txt", "x");
    d.WriteFile("src/sub/b1.txt", "1");
    d.WriteFile("src/sub/b2.txt", "2");
    for (int i = 0; i < 80; ++i) d.WriteFile("src/big/entry_" + std::to_string(i) + ".dat", "");
    // 15 June 2021 12:34:56 UTC: 14:34:56 in Berlin, summer time (+2 h = 8 quarter hours).
    utimbuf times{1623760496, 1623760496};
    utime((d / "src/a.txt").c_str(), &times);
    RunResult r =
        RunProgram({"genisoimage", "-quiet", "-J", "-joliet-long", "-V", "TESTVOL", "-sysid",
                    "TESTSYS", "-A", "APP ID", "-publisher", "PUB", "-o", d / "g.iso", d / "src"});
    if (r.exitCode == 0) image_ = new IsoImage(d / "g.iso");
  }
  static void TearDownTestSuite() {
    delete image_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_NE(image_, nullptr) << "genisoimage is not installed or failed (scripts/deps.sh)";
  }

  static inline TempDir* dir_ = nullptr;
  static inline IsoImage* image_ = nullptr;
};

// The four bytes of a 32-bit value in both byte orders (ECMA-119 7.3.3).
std::string Both32(std::uint32_t v) {
  std::string both(8, '\0');
  for (int i = 0; i < 4; ++i) both[std::size_t(i)] = both[std::size_t(7 - i)] = char(v >> 8 * i);
  return both;
}

TEST_F(GenisoimageImage, ReadsDescriptorsTreesDatesAndData) {
  const VolumeDescriptor& p = image_->Primary().descriptor;
  EXPECT_EQ(p.systemId.raw, "TESTSYS" + std::string(25, ' '));
  EXPECT_EQ(p.systemId.text, u"TESTSYS");
  EXPECT_EQ(p.applicationId.text, u"APP ID");
  EXPECT_EQ(std::uint64_t{p.volumeSpaceSize} * 2048, image_->Bytes().size());
  EXPECT_FALSE(p.creation.IsUnset());
  const VolumeDescriptor& j = image_->Joliet().descriptor;
  EXPECT_EQ(j.volumeId.text, u"TESTVOL");
  EXPECT_EQ(j.publisherId.text, u"PUB");
  EXPECT_EQ(image_->DescriptorTypes(), (std::vector<std::uint8_t>{1, 2, 255}));

  const Volume& iso = image_->Primary();
  EXPECT_EQ(iso.directoryCount, 4u);  // root, SUB, SUB/DEEP, BIG
  EXPECT_EQ(iso.fileCount, 86u);
  const Entry* a = iso.Find(u"/A.TXT;1");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(image_->ReadFile(*a), "hello");
  EXPECT_EQ(a->date().bytes, (std::array<std::uint8_t, 7>{121, 6, 15, 14, 34, 56, 8}));
  const Entry* two = iso.Find(u"SUB/TWO.BIN;1");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(image_->ReadFile(*two), ReadFile(*dir_ / "src/sub/two.bin"));
  EXPECT_EQ(image_->ReadFile(*iso.Find(u"/SUB/EMPTY.;1")), "");
  EXPECT_EQ(iso.Find(u"/sub"), nullptr) << "names compare exactly";
  const Entry* sub = iso.Find(u"/SUB");
  EXPECT_EQ(sub->parent.extent, iso.root.extent());
  EXPECT_EQ(iso.pathTable.at(sub->directoryNumber - 1u).identifier, "SUB");

  const Volume& joliet = image_->Joliet();
  EXPECT_EQ(joliet.Find(u"/sub/two.bin")->extent(), two->extent()) << "one copy of the data";
  std::vector<std::u16string> paths;
  WalkEntries(joliet.root, [&](const std::u16string& path, const Entry&) {
    if (path.rfind(u"/big/", 0) != 0) paths.push_back(path);
  });
  EXPECT_EQ(paths,
            (std::vector<std::u16string>{
                u"/a.txt", u"/big", u"/sub", u"/sub/b1.txt", u"/sub/b2.txt", u"/sub/deep",
                u"/sub/deep/Long name \u00E9 with spaces.txt", u"/sub/empty", u"/sub/two.bin"}));
}

// One injected fault per kind of rule: a copy of the image with bytes replaced must be refused
// with a message naming the rule.
TEST_F(GenisoimageImage, FindsEveryKindOfInjectedFault) {
  const Volume& iso = image_->Primary();
  const std::string& image = image_->Bytes();
  const Entry& root = iso.root;
  const Entry* sub = iso.Find(u"/SUB");
  const Entry* deep = iso.Find(u"/SUB/DEEP");
  const Entry* big = iso.Find(u"/BIG");
  const Entry* a = iso.Find(u"/A.TXT;1");
  const Entry* b2 = iso.Find(u"/SUB/B2.TXT;1");
  ASSERT_TRUE(sub && deep && big && a && b2);
  auto pathRecord = [&](const Entry* dir, bool typeM) {  // where dir's path table record starts
    std::uint64_t at =
        std::uint64_t{typeM ? iso.descriptor.typeMPathTable : iso.descriptor.typeLPathTable} * 2048;
    for (std::size_t i = 0; i + 1 < dir->directoryNumber; ++i) {
      at += 8 + iso.pathTable[i].identifier.size() + iso.pathTable[i].identifier.size() % 2;
    }
    return at;
  };
  // The last record starting in the first block of BIG's extent, grown past the block end.
  std::uint64_t straddling = 0;
  for (const Entry& e : big->children) {
    if (e.record.imageOffset < std::uint64_t{big->extent()} * 2048 + 2048) {
      straddling = e.record.imageOffset;
    }
  }
  ASSERT_GT(straddling % 2048 + 255, 2048u);
  struct Fault {
    const char* rule;
    std::vector<std::pair<std::uint64_t, std::string>> patches;
    const char* expected;
  };
  const Fault faults[] = {
      {"both-endian halves", {{16 * 2048 + 84, "\x7F"}}, "volume space size: both-endian"},
      {"descriptor set ends with a terminator",
       {{18 * 2048 + 1, "XXXXX"}},
       "block 18 is not a volume descriptor"},
      {"type L and M path tables agree",
       {{std::uint64_t{iso.descriptor.typeMPathTable} * 2048 + 5, "\x01"}},
       "differs between type L and M"},
      {"path table parents match the walk",  // DEEP's records point at the root, not SUB
       {{pathRecord(deep, false) + 6, std::string("\1\0", 2)},
        {pathRecord(deep, true) + 6, std::string("\0\1", 2)}},
       "parent"},
      {"path table names match the records",  // "SUB" becomes "SUC" in both tables
       {{pathRecord(sub, false) + 10, "C"}, {pathRecord(sub, true) + 10, "C"}},
       "path table identifier SUC differs"},
      {"\"..\" points at the parent",
       {{deep->parent.imageOffset + 2, Both32(deep->extent())}},
       "does not point at the parent"},
      {"the descriptor's root record is the root's \".\"",
       {{16 * 2048 + 156 + 10, Both32(root.size() + 2048)}},
       "differs from the record pointing at it"},
      {"names are unique in a directory",
       {{b2->record.imageOffset + 34, "1"}},
       "two records named B1.TXT;1"},
      {"no record straddles a block", {{straddling, "\xFF"}}, "straddles a block boundary"},
      {"zeros after the last record of a block",
       {{std::uint64_t{root.extent()} * 2048 + 2047, "\x01"}},
       "non-zero bytes after the last"},
      {"files lie inside the volume",
       {{a->record.imageOffset + 2, Both32(iso.descriptor.volumeSpaceSize)}},
       "runs past the volume space size"},
  };
  for (const Fault& f : faults) {
    std::string bytes = image;
    for (const auto& [offset, replacement] : f.patches)
      bytes.replace(offset, replacement.size(), replacement);
    try {
      IsoImage::FromBytes(std::move(bytes), "patched");
      ADD_FAILURE() << f.rule << ": no fault found";
    } catch (const IsoFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(f.expected), std::string::npos)
          << f.rule << ": " << e.what();
    }
  }
  EXPECT_THROW(IsoImage::FromBytes(image.substr(0, image.size() - 2048)), IsoFormatError)
      << "an image shorter than its volume";
  EXPECT_THROW(IsoImage::FromBytes(image.substr(0, image.size() - 1)), IsoFormatError)
      << "a length that is not a whole number of blocks";
}

TEST(IsoReaderOnGenisoimage, ImageWithoutJolietAndManyDirectories) {
  TempDir d;
  // 300 directories: a path table of several blocks, and a root extent of several blocks.
  for (int i = 0; i < 300; ++i) {
    d.WriteFile("src/directory_" + std::to_string(i) + "/f" + std::to_string(i % 7), "x");
  }
  RunResult r = RunProgram({"genisoimage", "-quiet", "-o", d / "g.iso", d / "src"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  IsoImage image(d / "g.iso");
  EXPECT_THROW(image.Joliet(), IsoFormatError);
  EXPECT_EQ(image.TerminatorBlock(), 17u);
  const Volume& v = image.Primary();
  EXPECT_EQ(v.directoryCount, 301u);
  EXPECT_EQ(v.fileCount, 300u);
  EXPECT_GT(v.descriptor.pathTableSize, 2048u);
  EXPECT_GT(v.root.size(), 2048u);
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
