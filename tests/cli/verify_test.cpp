// tavrine-cli --verify and --list: each kind of difference is found and named once, images of
// other writers verify, and a multi-extent file is read whole.
#include "cli/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "image/reader.h"
#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Cli(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::Run(args, {}, out, err);
  return {status, out.str(), err.str()};
}

// Writes bytes over the image file at offset.
void Patch(const std::string& image, std::uint64_t offset, std::string_view bytes) {
  std::string data = ReadFile(image);
  data.replace(offset, bytes.size(), bytes);
  std::ofstream(image, std::ios::binary | std::ios::trunc) << data;
}

class Verify : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("src/a.txt", "alpha");
    dir_.WriteFile("src/c.txt", "gamma");
    dir_.WritePatternFile("src/docs/b.bin", 5000, 1);
    dir_.WriteFile("src/docs/Long name \xC3\xA9 with spaces.txt", "x");
    dir_.WriteFile("src/empty", "");
  }
  const iso::Entry& Record(const char16_t* path) {
    image_ = std::make_unique<iso::IsoImage>(dir_ / "img.iso");
    return path[1] >= u'a' ? image_->Joliet().Find(path) : image_->Primary().Find(path);
  }
  TempDir dir_;
  std::unique_ptr<iso::IsoImage> image_;
};

TEST_F(Verify, NamesEachDifferenceOnce) {
  const std::string src = dir_ / "src";
  const std::string image = dir_ / "img.iso";
  struct Case {
    const char* change;
    std::function<void()> apply;
    std::string out;  // the differences, without the closing count
  };
  const Case cases[] = {
      {"none", [] {}, ""},
      {"a flipped byte in a file's data",
       [&] { Patch(image, Record(u"/docs/b.bin").extent() * 2048ull + 1234, "\xFF"); },
       "content differs: /docs/b.bin: first at byte 1234 (source '" + src + "/docs/b.bin')\n"},
      {"a file missing from the image", [&] { dir_.WriteFile("src/docs/new", "n"); },
       "missing from the image: /docs/new\n"},
      {"a file missing from the sources", [&] { std::filesystem::remove(dir_ / "src/empty"); },
       "not in the sources: /empty\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_ / "src");
    SetUp();
    ASSERT_EQ(Cli({"-q", "-o", image, src}).status, cli::kExitOk);
    c.apply();
    const Result r = Cli({"-q", "--verify", image, src});
    EXPECT_EQ(r.status, c.out.empty() ? cli::kExitOk : cli::kExitError) << c.change;
    EXPECT_EQ(r.out,
              c.out.empty() ? "" : c.out + "1 difference between '" + image + "' and its sources\n")
        << c.change;
  }
}

TEST_F(Verify, ImagesOfOtherWritersVerify) {
  const std::string src = dir_ / "src";
  const std::vector<std::vector<std::string>> writers = {
      {"genisoimage", "-quiet", "-J", "-joliet-long", "-o", dir_ / "g.iso", src},
      {"xorriso", "-as", "mkisofs", "-quiet", "-J", "-joliet-long", "-o", dir_ / "x.iso", src}};
  for (const auto& argv : writers) {
    if (!ProgramAvailable(argv[0])) GTEST_SKIP() << argv[0] << " is not installed";
    ASSERT_EQ(RunProgram(argv).exitCode, 0) << argv[0];
    const Result r = Cli({"-q", "--verify", argv[argv.size() - 2], src});
    EXPECT_EQ(r.status, cli::kExitOk) << argv[0] << ": " << r.out << r.err;
  }
}

// A file in two sections (ECMA-119 9.1.6), made from an image of the files "a1" and "a2" by
// flagging the record of a1 and giving a2's record a1's name: "a1" is then a1 and a2 joined.
TEST_F(Verify, MultiExtentFileIsReadWhole) {
  const std::string image = dir_ / "img.iso";
  const std::string first = dir_.WritePatternFile("parts/a1", 4096, 2);
  const std::string second = dir_.WriteFile("parts/a2", "tail");
  ASSERT_EQ(Cli({"-q", "--date", "2024-03-05T09:07:03Z", "-o", image, first, second}).status,
            cli::kExitOk);
  for (const char16_t* names : {u"/A1.\0/A2.", u"/a1\0/a2"}) {
    const std::u16string a1 = names;
    const std::u16string a2 = names + a1.size() + 1;
    const iso::DirectoryRecord one = Record(a1.c_str()).record;
    const iso::DirectoryRecord two = Record(a2.c_str()).record;
    const std::string bytes = image_->RecordBytes(one);
    Patch(image, one.imageOffset + 25, "\x80");
    Patch(image, two.imageOffset + 33, bytes.substr(33, std::uint8_t(bytes[32])));
  }
  dir_.WriteFile("whole/a1", ReadFile(first) + "tail");
  const Result r = Cli({"-q", "--verify", image, dir_ / "whole"});
  EXPECT_EQ(r.status, cli::kExitOk) << r.out << r.err;
  const iso::Entry& joined = Record(u"/a1");
  EXPECT_EQ(joined.sections.size(), 2u);
  EXPECT_EQ(Cli({"--list", image}).out, "-\t4100\t2024-03-05 09:07:03 +00:00\t" +
                                            std::to_string(joined.extent()) + "\t/a1\t/A1.\n");
}

}  // namespace
}  // namespace tavrine::testing
