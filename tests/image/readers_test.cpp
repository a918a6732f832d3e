// The reader adapters themselves, on an image made by genisoimage with known content: every
// reader must list both namespaces as the test-side reader reads them, with each reader's named
// conventions, and extract every file as it is recorded.
#include "support/readers.h"

#include <gtest/gtest.h>

#include "support/iso_reader.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

struct Case {
  std::size_t reader;
  Namespace ns;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << AllReaders().at(c.reader)->Name() << " " << NamespaceName(c.ns);
}

class ReaderOnGenisoimage : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    TempDir& d = *dir_;
    d.WriteFile("src/readme.txt", "hello");
    d.WritePatternFile("src/Sub Dir/a2047.bin", 2047, 1);
    d.WritePatternFile("src/Sub Dir/a2048.bin", 2048, 2);
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
    image_ = nullptr;
    dir_ = nullptr;
  }

  static TempDir* dir_;
  static IsoImage* image_;
};

TempDir* ReaderOnGenisoimage::dir_ = nullptr;
IsoImage* ReaderOnGenisoimage::image_ = nullptr;

TEST_P(ReaderOnGenisoimage, ListsAndExtractsEverything) {
  ASSERT_NE(image_, nullptr) << "genisoimage could not make the reference image";
  const Reader& reader = *AllReaders().at(GetParam().reader);
  const Namespace ns = GetParam().ns;
  ASSERT_TRUE(reader.Available()) << reader.Name() << " is not installed (scripts/deps.sh)";
  if (ns == Namespace::kIso9660 && !reader.ShowsIso9660BesideJoliet()) {
    GTEST_SKIP() << reader.Name() << " cannot show the " << NamespaceName(ns)
                 << " namespace of an image that has a Joliet volume";
  }
  const Volume& volume = ns == Namespace::kJoliet ? image_->Joliet() : image_->Primary();
  std::vector<ExpectedEntry> expected = ExpectedFrom(volume);
  ASSERT_EQ(expected.size(), 12u);
  TempDir scratch;
  std::vector<std::string> problems = CheckWithReader(
      reader, ns, dir_->path() / "g.iso", expected,
      [&](const std::u16string& path) { return image_->ReadFile(*volume.Find(path)); },
      scratch.path().string());
  for (const std::string& p : problems) ADD_FAILURE() << p;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (std::size_t i = 0; i < AllReaders().size(); ++i) {
    cases.push_back({i, Namespace::kIso9660});
    cases.push_back({i, Namespace::kJoliet});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = AllReaders().at(info.param.reader)->Name();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + (info.param.ns == Namespace::kJoliet ? "_Joliet" : "_Iso9660");
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderOnGenisoimage, ::testing::ValuesIn(AllCases()), CaseName);

TEST(ReaderOnGenisoimageSource, JolietDataEqualSources) {
  // The reference image itself holds the sources (so the comparison above is against them).
  TempDir d;
  std::string src = d.WritePatternFile("src/x.bin", 4097, 9);
  RunResult r = RunProgram({"genisoimage", "-quiet", "-J", "-o", d / "g.iso", d / "src"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  IsoImage image(d / "g.iso");
  const Entry* e = image.Joliet().Find(u"/x.bin");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(image.ReadFile(*e), ReadFile(src));
}

TEST(RunProgram, CapturesOutputsAndExitCodeWithoutAShell) {
  RunResult r = RunProgram({"sh", "-c", "printf 'out'; printf 'err' >&2; exit 3"});
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
  EXPECT_EQ(r.exitCode, 3);
  // An argument with shell syntax reaches the program as one literal argument.
  RunResult echo = RunProgram({"printf", "%s", "$(id); `x` 'q' \"d\""});
  EXPECT_EQ(echo.out, "$(id); `x` 'q' \"d\"");
  EXPECT_THROW(RunProgram({"/nonexistent/program"}), std::runtime_error);
}

}  // namespace
}  // namespace tavrine::testing
