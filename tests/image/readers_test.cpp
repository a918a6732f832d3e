// The reader adapters themselves, on an image made by genisoimage with known content: every
// reader must list both namespaces as the image reader reads them, with each reader's named
// conventions, and extract every file as it is recorded. A round trip that fails here too is
// the adapter's fault, not the writer's.
#include "support/readers.h"

#include <gtest/gtest.h>

#include "image/reader.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

class ReaderOnGenisoimage : public ::testing::TestWithParam<ReaderCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const TempDir& d = *dir_;
    d.WriteFile("src/readme.txt", "hello");
    d.WritePatternFile("src/Sub Dir/a2047.bin", 2047, 1);
    d.WritePatternFile("src/Sub Dir/a2049.bin", 2049, 3);
    d.WriteFile("src/Sub Dir/empty", "");
    d.WriteFile("src/Sub Dir/deeper/caf\xC3\xA9 cr\xC3\xA8me.txt", "accents");
    d.WriteFile("src/\xE6\x97\xA5\xE6\x9C\xAC/\xE6\x96\x87\xE6\x9B\xB8.txt", "cjk");
    d.WriteFile("src/Makefile", "all:\n");
    d.WritePatternFile("src/big.dat", 100000, 4);
    RunResult r =
        RunProgram({"genisoimage", "-quiet", "-J", "-joliet-long", "-o", d / "g.iso", d / "src"});
    if (r.exitCode == 0) image_ = new IsoImage(d / "g.iso");
  }
  static void TearDownTestSuite() {
    delete image_;
    delete dir_;
  }

  static inline TempDir* dir_ = nullptr;
  static inline IsoImage* image_ = nullptr;
};

TEST_P(ReaderOnGenisoimage, ListsAndExtractsEverything) {
  ASSERT_NE(image_, nullptr) << "genisoimage could not make the reference image";
  const Reader& reader = *AllReaders().at(GetParam().reader);
  const Namespace ns = GetParam().ns;
  ASSERT_TRUE(reader.Available()) << reader.Name() << " is not installed (scripts/deps.sh)";
  if (ns == Namespace::kIso9660 && !reader.ShowsIso9660BesideJoliet()) {
    GTEST_SKIP() << reader.Name() << " shows only the Joliet namespace of an image that has one";
  }
  const Volume& volume = ns == Namespace::kJoliet ? image_->Joliet() : image_->Primary();
  std::vector<ExpectedEntry> expected = ExpectedFrom(volume);
  ASSERT_EQ(expected.size(), 11u);
  TempDir scratch;
  for (const std::string& p : CheckWithReader(
           reader, ns, dir_->path() / "g.iso", expected,
           [&](const std::u16string& path) { return image_->ReadFile(volume.Find(path)); },
           scratch.path().string())) {
    ADD_FAILURE() << p;
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderOnGenisoimage, ::testing::ValuesIn(AllReaderCases()),
                         [](const auto& info) { return ReaderCaseName(info.param); });

TEST(RunProgram, CapturesOutputsAndExitCodeWithoutAShell) {
  RunResult r = RunProgram({"sh", "-c", "printf 'out'; printf 'err' >&2; exit 3"});
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
  EXPECT_EQ(r.exitCode, 3);
  // An argument with shell syntax reaches the program as one literal argument.
  EXPECT_EQ(RunProgram({"printf", "%s", "$(id); `x` 'q' \"d\""}).out, "$(id); `x` 'q' \"d\"");
  EXPECT_EQ(RunProgram({"sh", "-c", "kill -9 $$"}).exitCode, 128 + 9);
  EXPECT_THROW(RunProgram({"/nonexistent/program"}), std::runtime_error);
}

}  // namespace
}  // namespace tavrine::testing
