// The image reader on hostile copies of a small image: each damage must end in an IsoFormatError
// that names the block and the field, never in a crash. (tests/fuzz tries many more.)
#include "image/reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

using iso::Entry;
using iso::IsoImage;

// The four bytes of a 32-bit value in both byte orders (ECMA-119 7.3.3).
std::string Both32(std::uint32_t v) {
  std::string both(8, '\0');
  for (int i = 0; i < 4; ++i) both[std::size_t(i)] = both[std::size_t(7 - i)] = char(v >> 8 * i);
  return both;
}

TEST(Reader, RefusesEveryKindOfDamageNamingBlockAndField) {
  TempDir dir;
  clsISOWriter writer;
  writer.VolumeCreation(FixedDate());
  auto sub = writer.Root()->AddSubDirectory(u"sub");
  AddFile(*writer.Root(), dir, "a.txt", std::string(3000, 'a'));
  AddFile(*sub, dir, "b.bin", "b");
  ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
  const std::string image = ReadFile(dir / "result.iso");
  const IsoImage good(dir / "result.iso");
  const iso::Volume& p = good.Primary();
  const Entry& a = p.Find(u"/A.TXT");
  const Entry& s = p.Find(u"/SUB");
  const Entry& jb = good.Joliet().Find(u"/sub/b.bin");
  const std::uint64_t subSelf = std::uint64_t{s.extent()} * 2048;  // its "." record
  const std::uint64_t typeM = std::uint64_t{p.descriptor.typeMPathTable} * 2048;
  const std::string block = "block " + std::to_string(a.record.imageOffset / 2048);

  struct Case {
    const char* damage;
    std::uint64_t at;
    std::string bytes;  // written at `at`; empty: the image is cut to `at` bytes
    std::string message;
  };
  const Case cases[] = {
      {"cut short", image.size() - 2048, "", "shorter than its volume space size"},
      {"halves of a data length differ", a.record.imageOffset + 17, "\x01",
       block + ", directory record at offset " + std::to_string(a.record.imageOffset % 2048) +
           ": data length: both-endian halves differ"},
      {"data outside the volume", a.record.imageOffset + 2, Both32(99999),
       "data at block 99999 run past the volume space size"},
      {"a directory pointing at the root (loop)", s.record.imageOffset + 2, Both32(p.root.extent()),
       "visited twice (a loop)"},
      {"\"..\" elsewhere", subSelf + 34 + 2, Both32(s.extent()),
       "\"..\" (block " + std::to_string(s.extent()) + ") does not point at the parent"},
      {"record length 0 in the middle of a block", a.record.imageOffset, std::string(1, '\0'),
       "record length 0 at offset " + std::to_string(a.record.imageOffset % 2048) +
           " followed by non-zero bytes"},
      {"Joliet name of odd length", jb.record.imageOffset + 32, "\x09",
       "identifier: UCS-2 text of odd length 9"},
      {"path tables disagree", typeM + 10 + 2, "\x7F", "record 2 differs between type L and M"},
      {"a path table of 4 GiB", 16 * 2048 + 132, Both32(0xFFFFFFF0u), "path table size"},
      {"multi-extent run without its last record", jb.record.imageOffset + 25, "\x80",
       "a multi-extent run ends without its final record"},
  };
  for (const Case& c : cases) {
    std::string damaged = image;
    if (c.bytes.empty()) {
      damaged.resize(c.at);
    } else {
      damaged.replace(c.at, c.bytes.size(), c.bytes);
    }
    EXPECT_THAT([&] { IsoImage::FromBytes(damaged, "damaged.iso"); },
                ::testing::ThrowsMessage<iso::IsoFormatError>(::testing::AllOf(
                    ::testing::StartsWith("damaged.iso: "), ::testing::HasSubstr(c.message))))
        << c.damage;
  }
  EXPECT_THROW(p.Find(u"/SUB/NONE"), InputError) << "a lookup that finds nothing";
}

}  // namespace
}  // namespace tavrine::testing
