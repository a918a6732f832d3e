// The worked examples as whole images, byte for byte against checked-in copies, gzip-compressed,
// in tests/image/golden. Their bytes were checked by hand against the format when they were
// made. After a deliberate change of the format, remake them with
//   TAVRINE_WRITE_GOLDEN=1 TAVRINE_SOURCE_DIR=$PWD build/bin/image_tests --gtest_filter='Golden*'
// and check every changed byte by hand before committing them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "image/writer.h"
#include "support/image_builder.h"
#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

struct Example {
  const char* name;
  std::function<void(clsISOWriter&, const TempDir&)> fill;
};

// The first byte where two images differ, as block and offset.
std::string FirstDifference(const std::string& got, const std::string& want) {
  std::size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
         ", first difference in block " + std::to_string(at / 2048) + " at offset " +
         std::to_string(at % 2048);
}

class Golden : public ::testing::TestWithParam<Example> {};

TEST_P(Golden, ImageIsByteForByteTheCheckedInOne) {
  TempDir dir;
  clsISOWriter writer;
  writer.VolumeCreation(FixedDate());
  GetParam().fill(writer, dir);
  const std::string image = dir / "result.iso";
  ASSERT_TRUE(writer.SaveISO(image));
  const char* source = std::getenv("TAVRINE_SOURCE_DIR");
  ASSERT_TRUE(source != nullptr) << "TAVRINE_SOURCE_DIR names the source tree";
  const std::string golden =
      std::string(source) + "/tests/image/golden/" + GetParam().name + ".iso.gz";
  if (std::getenv("TAVRINE_WRITE_GOLDEN") != nullptr) {
    const RunResult zipped = RunProgram({"gzip", "-9nc", image});
    ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
    std::ofstream(golden, std::ios::binary) << zipped.out;
  }
  const RunResult want = RunProgram({"gzip", "-dc", golden});
  ASSERT_EQ(want.exitCode, 0) << want.err;
  const std::string got = ReadFile(image);
  EXPECT_TRUE(got == want.out) << GetParam().name << ": " << FirstDifference(got, want.out);
}

// A root with sub-directory "s" and files "a.txt" (3000 bytes) and "b.txt" (empty); "s" holds
// "c.txt" (2048 bytes): extents at 23 (root), 24 (s), 25 and 26 (Joliet), data at 27 and 29,
// "b.txt" at 0, 31 blocks; path tables of 20 bytes.
void WorkedTree(clsISOWriter& writer, const TempDir& dir) {
  auto sub = writer.Root()->AddSubDirectory(u"s");
  AddFile(*writer.Root(), dir, "in/a.txt", std::string(3000, 'a'));
  AddFile(*writer.Root(), dir, "in/b.txt", "");
  AddFile(*sub, dir, "in/s/c.txt", std::string(2048, 'c'));
}

// Records in the order of addition, padded after even identifiers, an unknown date as zeros, an
// empty directory; file data of 2000, 2001, 4000, 2048, 0 and 1 bytes, each padded to a block.
void RecordsAndData(clsISOWriter& writer, const TempDir& dir) {
  auto& root = *writer.Root();
  root.AddSubDirectory(u"B");
  root.AddSubDirectory(u"A");
  AddFile(root, dir, "abcdef.txt", "1");
  AddFile(root, dir, "abcdefg.txt", "");
  AddFile(root, dir, "x.y", "22").CreationDate(DateTime::Zero());
  const std::size_t sizes[] = {2000, 2001, 4000, 2048, 0, 1};
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string name(1, static_cast<char>('p' + i));
    AddFile(*writer.Root(), dir, name, std::string(sizes[i], name[0]));
  }
}

// 44 records of 44 bytes end at 2004; a 45th of 44 bytes ends exactly at 2048 and stays, and
// the extent gets a whole block of zeros; one of 48 bytes would cross and starts the next block.
std::function<void(clsISOWriter&, const TempDir&)> BlockRule(const char16_t* last) {
  return [last](clsISOWriter& writer, const TempDir& dir) {
    writer.Joliet(false);
    for (int i = 0; i < 44; ++i) {
      const std::string name = "file0" + std::to_string(i / 10) + std::to_string(i % 10) + ".txt";
      AddFile(*writer.Root(), dir, name, "x");
    }
    AddFile(*writer.Root(), dir, "last", "x", last);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Golden,
    ::testing::Values(Example{"empty", [](clsISOWriter&, const TempDir&) {}},
                      Example{"worked", WorkedTree}, Example{"records", RecordsAndData},
                      Example{"record_ends_on_boundary", BlockRule(u"file044.txt")},
                      Example{"record_crosses_boundary", BlockRule(u"longername.txt")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrine::testing
