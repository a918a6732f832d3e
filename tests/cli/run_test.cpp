// The program behind main(), called directly: the outcomes that need a hand inside the build
// (a file that fails to open, a stop request while the image is written).
#include "cli/run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/options.h"
#include "image/reader.h"
#include "support/faults.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

namespace tavrine::cli {
namespace {

using tavrine::iso::IsoImage;
using tavrine::testing::TempDir;

struct Outcome {
  int status;
  std::string err;
};

Outcome RunCli(const std::vector<std::string>& args, const Environment& environment) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = Run(args, environment, out, err);
  EXPECT_EQ(out.str(), "");
  return {status, err.str()};
}

std::ptrdiff_t FilesIn(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), {});
}

TEST(Run, FileThatCannotBeReadGivesExitThreeAndZerosInItsPlace) {
  TempDir dir;
  const std::string good = dir.WriteFile("good.txt", "good");
  const std::string bad = dir.WritePatternFile("bad.bin", 5000, 3);
  const std::string image = dir / "img.iso";
  Outcome outcome;
  {
    testing::ScopedFaults faults;
    faults->failOpen = bad;
    outcome = RunCli({"-q", "-o", image, good, "sub/renamed.bin=" + bad}, {});
  }
  EXPECT_EQ(outcome.status, kExitUnreadable);
  EXPECT_EQ(outcome.err, "tavrine-cli: '" + bad +
                             "' ('\\sub\\renamed.bin' in the image) is incomplete: cannot be "
                             "opened (Input/output error); zeros stand in its place\ntavrine-cli: "
                             "wrote '" +
                             image + "', but 1 file is incomplete in it\n");
  const IsoImage read(image);
  EXPECT_EQ(read.ReadFile(read.Joliet().Find(u"/good.txt")), "good");
  EXPECT_EQ(read.ReadFile(read.Joliet().Find(u"/sub/renamed.bin")), std::string(5000, '\0'));
}

TEST(Run, StopRequestsLeaveNoImage) {
  TempDir dir;
  const std::string input = dir.WritePatternFile("in.bin", 64 << 10, 4);
  dir.WriteFile("img.iso", "earlier image");
  clsISOWriter* running = nullptr;
  Environment environment;
  environment.errIsTerminal = true;
  environment.onBuild = [&](clsISOWriter* writer) { running = writer; };
  // The display reads the clock at its first draw, inside SaveISO: as a signal would, ask
  // the running build to stop there.
  environment.clock = [&] {
    if (running != nullptr) running->RequestCancel();
    return 0.0;
  };
  const Outcome outcome = RunCli({"-o", dir / "img.iso", input}, environment);
  EXPECT_EQ(outcome.status, kExitInterrupted);
  EXPECT_EQ(outcome.err.rfind("\rBuilding file system\ntavrine-cli: the build of ", 0), 0u)
      << outcome.err;
  EXPECT_EQ(outcome.err.substr(outcome.err.size() - 15), " was cancelled\n");
  EXPECT_EQ(testing::ReadFile(dir / "img.iso"), "earlier image");
  EXPECT_EQ(FilesIn(dir.path()), 2) << "no temporary file left";
  EXPECT_EQ(running, nullptr) << "the signal handler's writer is cleared after the build";

  // A signal before the build: nothing is started.
  std::atomic<bool> interrupted{true};
  environment.interrupted = &interrupted;
  const Outcome early = RunCli({"-o", dir / "new.iso", input}, environment);
  EXPECT_EQ(early.status, kExitInterrupted);
  EXPECT_EQ(early.err, "tavrine-cli: interrupted; no image written\n");
  EXPECT_EQ(FilesIn(dir.path()), 2);

  // A signal after that check but before the writer is published: the writer is asked to stop
  // before its build starts, and writes nothing.
  interrupted = false;
  Environment late;
  late.interrupted = &interrupted;
  late.onBuild = [&](clsISOWriter* writer) {
    if (writer != nullptr) interrupted = true;
  };
  const Outcome lost = RunCli({"-q", "-o", dir / "late.iso", input}, late);
  EXPECT_EQ(lost.status, kExitInterrupted);
  EXPECT_EQ(lost.err, "tavrine-cli: the build of " + dir / "late.iso" + " was cancelled\n");
  EXPECT_EQ(FilesIn(dir.path()), 2);
}

// --- the command line as a user types it, in a temporary working folder ---

struct Result {
  int status;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  Cli() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
  ~Cli() override { std::filesystem::current_path(previous_); }
  static Result Run(const std::vector<std::string>& args, const Environment& environment = {}) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = cli::Run(args, environment, out, err);
    return {status, out.str(), err.str()};
  }
  // Every file of the Joliet tree: path -> contents.
  static std::map<std::string, std::string> JolietFiles(const std::string& path) {
    const IsoImage image(path);
    std::map<std::string, std::string> files;
    iso::WalkEntries(image.Joliet().root, [&](const std::u16string& name, const iso::Entry& e) {
      if (!e.IsDirectory()) files[iso::Utf8(name)] = image.ReadFile(e);
    });
    return files;
  }
  TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(Cli, EachPathFormAndGraftPointsMergingIntoOneDirectory) {
  dir_.WriteFile("a.txt", "plain file");
  dir_.WriteFile("out/index.html", "<p>index</p>");
  dir_.WriteFile("out/css/site.css", "body{}");
  dir_.WriteFile("more/extra.txt", "extra");
  dir_.WriteFile("x.txt", "renamed");
  dir_.WriteFile("eq=name.txt", "a local name with =");
  const Result r =
      Run({"-q", "-o", "img.iso", "a.txt", "out", "docs/2024=./out", "Docs/2024/=more/extra.txt",
           "docs/a.txt=./x.txt", "eq=name.txt", "esc\\=aped.txt=x.txt"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(JolietFiles("img.iso"),
            (std::map<std::string, std::string>{{"/css/site.css", "body{}"},
                                                {"/docs/2024/css/site.css", "body{}"},
                                                {"/docs/2024/extra.txt", "extra"},
                                                {"/docs/2024/index.html", "<p>index</p>"},
                                                {"/docs/a.txt", "renamed"},
                                                {"/a.txt", "plain file"},
                                                {"/index.html", "<p>index</p>"},
                                                {"/eq=name.txt", "a local name with ="},
                                                {"/esc=aped.txt", "renamed"}}));
  EXPECT_EQ(IsoImage("img.iso").Joliet().directoryCount, 5u) << "docs and Docs are one directory";
}

TEST_F(Cli, NamesTakenAlreadyAreRenamedWarningsNamingBothAndPatternsFilterFolders) {
  dir_.WriteFile("one/readme.txt", "first");
  dir_.WriteFile("two/README.TXT", "second");
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/b.dat", "b");
  dir_.WriteFile("in/c.md", "c");
  dir_.WriteFile("again/a.txt", "A");
  const Result r = Run({"-q", "--pattern", "*.txt", "--pattern=*.md", "--pattern=*.mdd", "-o",
                        "img.iso", "one/readme.txt", "two/README.TXT", "in", "again"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.err,
            "tavrine-cli: warning: renamed 'two/README.TXT' to '\\README~1.TXT': 'one/readme.txt' "
            "is in '\\' under the same name already (case is ignored)\n"
            "tavrine-cli: warning: renamed 'again/a.txt' to '\\a~1.txt': 'a.txt' is in \\ "
            "already (case is ignored)\n"
            "tavrine-cli: warning: --pattern '*.mdd' matches nothing in any folder\n");
  EXPECT_EQ(JolietFiles("img.iso"), (std::map<std::string, std::string>{{"/readme.txt", "first"},
                                                                        {"/README~1.TXT", "second"},
                                                                        {"/a.txt", "a"},
                                                                        {"/a~1.txt", "A"},
                                                                        {"/c.md", "c"}}));
}

TEST_F(Cli, IdentifierOptionsReachBothDescriptorsAndNoJolietDropsTheSecond) {
  dir_.WriteFile("f.txt", "f");
  const Result r = Run({"-q", "-o", "img.iso", "-V", "my disk 2024", "-sysid", "Linux 6%",
                        "--application-id", "mkimg (1.0)", "-publisher", "Acme 100% Ltd", "-p",
                        "Jo Bloggs", "--volume-set=set/1", "f.txt"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const IsoImage image("img.iso");
  // ISO 9660: volume and volume set cleaned to d-characters, the others to a-characters.
  using iso::VolumeDescriptor;
  const std::tuple<iso::TextField VolumeDescriptor::*, std::u16string, std::u16string> cases[] = {
      {&VolumeDescriptor::volumeId, u"MY_DISK_2024", u"my disk 2024"},
      {&VolumeDescriptor::systemId, u"Linux 6", u"Linux 6%"},
      {&VolumeDescriptor::applicationId, u"mkimg (1.0)", u"mkimg (1.0)"},
      {&VolumeDescriptor::publisherId, u"Acme 100 Ltd", u"Acme 100% Ltd"},
      {&VolumeDescriptor::dataPreparerId, u"Jo Bloggs", u"Jo Bloggs"},
      {&VolumeDescriptor::volumeSetId, u"SET1", u"set/1"}};
  for (const auto& [field, primary, joliet] : cases) {
    EXPECT_EQ((image.Primary().descriptor.*field).text, primary) << iso::Utf8(joliet);
    EXPECT_EQ((image.Joliet().descriptor.*field).text, joliet);
  }
  ASSERT_EQ(Run({"-q", "--no-joliet", "-o", "n.iso", "f.txt"}).status, kExitOk);
  EXPECT_EQ(IsoImage("n.iso").DescriptorTypes(), (std::vector<std::uint8_t>{1, 255}));
}

TEST_F(Cli, DateSetsEveryDateAndMakesBuildsReproducibleAcrossZones) {
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/sub/b.txt", "bb");
  const auto build = [&](const char* zone, std::vector<std::string> args,
                         const Environment& environment) {
    const testing::ScopedTimeZone inZone(zone);
    args.insert(args.end(), {"-q", "-o", std::string(zone).substr(0, 4) + ".iso", "in"});
    EXPECT_EQ(Run(args, environment).status, kExitOk) << zone;
    return testing::ReadFile(args[args.size() - 2]);
  };
  Environment epoch;
  epoch.sourceDateEpoch = "1709629623";
  const std::string berlin = build("Europe/Berlin", {"--date", "2024-03-05T09:07:03Z"}, {});
  EXPECT_EQ(build("Asia/Tokyo", {"--date", "2024-03-05T10:07:03+01:00"}, {}), berlin);
  EXPECT_EQ(build("America/New_York", {}, epoch), berlin);

  const IsoImage image("Euro.iso");
  const std::array<std::uint8_t, 7> expected{124, 3, 5, 9, 7, 3, 0};
  int records = 0;
  for (const iso::Volume* volume : {&image.Primary(), &image.Joliet()}) {
    EXPECT_EQ(volume->descriptor.creation.digits, "2024030509070300");
    EXPECT_EQ(volume->root.date().bytes, expected);
    iso::WalkEntries(volume->root, [&](const std::u16string& path, const iso::Entry& entry) {
      EXPECT_EQ(entry.date().bytes, expected) << iso::Utf8(path);
      ++records;
    });
  }
  EXPECT_EQ(records, 6);
}

TEST_F(Cli, PrintSizeIsTheWrittenSizeInBlocksAndWritesNothing) {
  dir_.WritePatternFile("in/big.bin", 3 * 2048 + 17, 1);
  dir_.WriteFile("in/empty.txt", "");
  for (int i = 0; i < 40; ++i)
    dir_.WriteFile("in/d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x");
  for (const char* joliet : {"-J", "--no-joliet"}) {
    const Result size = Run({"--print-size", "-o", "never.iso", joliet, "in", "g/h=in/big.bin"});
    ASSERT_EQ(size.status, kExitOk) << size.err;
    EXPECT_FALSE(std::filesystem::exists("never.iso"));
    const Result r = Run({"-o", "img.iso", joliet, "in", "g/h=in/big.bin"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto blocks = std::filesystem::file_size("img.iso") / 2048;
    EXPECT_EQ(size.out, std::to_string(blocks) + "\n") << joliet;
    EXPECT_EQ(r.err,
              "Building file system\nWriting path tables\nWriting directory records\n"
              "Writing files\nFinished\nWrote img.iso: " +
                  std::to_string(blocks) + " blocks (" + std::to_string(blocks * 2) + ".0 KiB)\n");
  }
}

TEST_F(Cli, FailuresExitOneAndUsageErrorsTwoWithOneLineAndNoImage) {
  dir_.WriteFile("f.txt", "f");
  dir_.WriteFile("old.iso", "previous image");
  const std::pair<std::vector<std::string>, std::string> failures[] = {
      {{"-o", "missing/out.iso", "f.txt"},
       "cannot create the image 'missing/out.iso': the folder 'missing' does not exist"},
      // Root may write anywhere on a disk; /proc takes no new files from anybody.
      {{"-o", "/proc/tavrine-test.iso", "f.txt"},
       "cannot create the image '/proc/tavrine-test.iso': the folder '/proc' refused a new file"},
      {{"-o", "old.iso", "f.txt", "docs=nothere"},
       "cannot read 'nothere' (from 'docs=nothere'): No such file or directory"},
      {{"-o", ".", "f.txt"}, "cannot create the image '.': it is a folder"},
      {{"-o", "loop1", "f.txt"},
       "cannot create the image 'loop1': the symbolic link 'loop1' leads round in a loop"},
      {{"-o", "dangling.iso", "f.txt"},
       "cannot create the image 'dangling.iso': it is a symbolic link to 'missing/new.iso', and "
       "the folder 'missing' does not exist"},
  };
  ASSERT_EQ(symlink("loop2", "loop1") | symlink("loop1", "loop2") |
                symlink("missing/new.iso", "dangling.iso"),
            0);
  dir_.WriteFile("in/data.txt", "data");
  ASSERT_EQ(symlink("in/data.txt", "link.iso"), 0);
  for (const auto& [args, message] : failures) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, kExitError) << message;
    EXPECT_EQ(r.err, "tavrine-cli: " + message + "\n");
  }
  Environment tomorrow;
  tomorrow.sourceDateEpoch = "tomorrow";
  for (const auto& [args, environment] :
       {std::pair<std::vector<std::string>, Environment>{{"-o", "./f.txt", "f.txt"}, {}},
        {{"-o", "x.iso", "../a=f.txt"}, {}},
        {{"-o", "x.iso", "f.txt"}, tomorrow}}) {
    const Result r = Run(args, environment);
    EXPECT_EQ(r.status, kExitUsage) << args[1];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("; try 'tavrine-cli --help'\n"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testing::ReadFile("old.iso"), "previous image") << "an earlier image stays untouched";
  EXPECT_EQ(testing::ReadFile("f.txt"), "f") << "-o naming an input file must not replace it";
  EXPECT_EQ(testing::ReadFile("in/data.txt"), "data");
  EXPECT_TRUE(std::filesystem::is_symlink("loop2"));
  EXPECT_EQ(FilesIn("."), 7) << "no image and no temporary file left behind";
}

TEST_F(Cli, AnImageWrittenIntoItsInputFolderLeavesOutItsPreviousCopy) {
  dir_.WriteFile("in/a.txt", "a");
  ASSERT_EQ(Run({"-q", "-o", "in/img.iso", "in"}).status, kExitOk);
  const Result again = Run({"-q", "-o", "in/img.iso", "in"});
  ASSERT_EQ(again.status, kExitOk);
  EXPECT_EQ(again.err,
            "tavrine-cli: warning: left out 'in/img.iso': it is the image being written\n");
  EXPECT_EQ(JolietFiles("in/img.iso"), (std::map<std::string, std::string>{{"/a.txt", "a"}}));
  const Result size = Run({"--print-size", "-o", "in/img.iso", "in"});
  EXPECT_EQ(size.out, std::to_string(std::filesystem::file_size("in/img.iso") / 2048) + "\n");
  EXPECT_EQ(size.err, "tavrine-cli: warning: left out 'in/img.iso': it is the image -o names\n");
}

}  // namespace
}  // namespace tavrine::cli
