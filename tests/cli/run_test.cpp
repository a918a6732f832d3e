// The program behind main(), called directly: the outcomes that need a hand inside the build
// (a file that fails to open, a stop request while the image is written).
#include "cli/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "cli/options.h"
#include "image/reader.h"
#include "support/faults.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"
#include "tree/text.h"

namespace tavrine::cli {
namespace {

using tavrine::iso::IsoImage;
using tavrine::testing::TempDir;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunCli(const std::vector<std::string>& args, const Environment& environment = {}) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = Run(args, environment, out, err);
  return {status, out.str(), err.str()};
}

std::ptrdiff_t FilesIn(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), {});
}

TEST(Run, FileThatCannotBeReadGivesExitThreeAndZerosInItsPlace) {
  TempDir dir;
  const std::string good = dir.WriteFile("good.txt", "good");
  const std::string bad = dir.WritePatternFile("bad.bin", 5000, 3);
  const std::string image = dir / "img.iso";
  Result outcome;
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
  const Result outcome = RunCli({"-o", dir / "img.iso", input}, environment);
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
  const Result early = RunCli({"-o", dir / "new.iso", input}, environment);
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
  const Result lost = RunCli({"-q", "-o", dir / "late.iso", input}, late);
  EXPECT_EQ(lost.status, kExitInterrupted);
  EXPECT_EQ(lost.err, "tavrine-cli: the build of " + dir / "late.iso" + " was cancelled\n");
  EXPECT_EQ(FilesIn(dir.path()), 2);
}

// --- the command line as a user types it, in a temporary working folder ---

class Cli : public ::testing::Test {
 protected:
  Cli() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
  ~Cli() override { std::filesystem::current_path(previous_); }
  // Every file of the Joliet tree: path -> contents.
  static std::map<std::string, std::string> JolietFiles(const std::string& path) {
    const IsoImage image(path);
    std::map<std::string, std::string> files;
    iso::WalkEntries(image.Joliet().root, [&](const std::u16string& name, const iso::Entry& e) {
      if (!e.IsDirectory()) files[text::ToUtf8(name)] = image.ReadFile(e);
    });
    return files;
  }
  TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(Cli, GraftPointsMergeIntoOneDirectory) {
  dir_.WriteFile("out/index.html", "<p>index</p>");
  dir_.WriteFile("more/extra.txt", "extra");
  dir_.WriteFile("x.txt", "renamed");
  const Result r = RunCli({"-q", "-o", "img.iso", "out", "docs/2024=./out",
                           "Docs/2024/=more/extra.txt", "esc\\=aped.txt=x.txt"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(JolietFiles("img.iso"),
            (std::map<std::string, std::string>{{"/docs/2024/extra.txt", "extra"},
                                                {"/docs/2024/index.html", "<p>index</p>"},
                                                {"/index.html", "<p>index</p>"},
                                                {"/esc=aped.txt", "renamed"}}));
}

TEST_F(Cli, DateSetsEveryDateAndMakesBuildsReproducibleAcrossZones) {
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/sub/b.txt", "bb");
  const auto build = [&](const char* zone, std::vector<std::string> args,
                         const Environment& environment) {
    const testing::ScopedTimeZone inZone(zone);
    args.insert(args.end(), {"-q", "-o", std::string(zone).substr(0, 4) + ".iso", "in"});
    EXPECT_EQ(RunCli(args, environment).status, kExitOk) << zone;
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
      EXPECT_EQ(entry.date().bytes, expected) << text::ToUtf8(path);
      ++records;
    });
  }
  EXPECT_EQ(records, 6);
}

TEST_F(Cli, FailuresExitOneAndUsageErrorsTwoWithOneLineAndNoImage) {
  dir_.WriteFile("f.txt", "f");
  dir_.WriteFile("old.iso", "previous image");
  ASSERT_EQ(symlink("loop2", "loop1") | symlink("loop1", "loop2"), 0);
  const std::pair<std::vector<std::string>, std::string> failures[] = {
      {{"-o", "missing/out.iso", "f.txt"},
       "cannot create the image 'missing/out.iso': the folder 'missing' does not exist"},
      {{"-o", "old.iso", "f.txt", "docs=nothere"},
       "cannot read 'nothere' (from 'docs=nothere'): No such file or directory"},
      {{"-o", "loop1", "f.txt"},
       "cannot create the image 'loop1': the symbolic link 'loop1' leads round in a loop"}};
  for (const auto& [args, message] : failures) {
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitError) << message;
    EXPECT_EQ(r.err, "tavrine-cli: " + message + "\n");
  }
  const Result input = RunCli({"-o", "./f.txt", "f.txt"});  // -o naming an input
  EXPECT_EQ(input.status, kExitUsage);
  EXPECT_EQ(std::count(input.err.begin(), input.err.end(), '\n'), 1) << input.err;
  EXPECT_NE(input.err.find("; try 'tavrine-cli --help'\n"), std::string::npos) << input.err;
  EXPECT_EQ(testing::ReadFile("old.iso"), "previous image");
  EXPECT_EQ(testing::ReadFile("f.txt"), "f");
  EXPECT_EQ(FilesIn("."), 4) << "no image and no temporary file left behind";
}

TEST_F(Cli, AnImageWrittenIntoItsInputFolderLeavesOutItsPreviousCopy) {
  dir_.WriteFile("in/a.txt", "a");
  ASSERT_EQ(RunCli({"-q", "-o", "in/img.iso", "in"}).status, kExitOk);
  const Result again = RunCli({"-q", "-o", "in/img.iso", "in"});
  ASSERT_EQ(again.status, kExitOk);
  EXPECT_EQ(again.err,
            "tavrine-cli: warning: left out 'in/img.iso': it is the image being written\n");
  EXPECT_EQ(JolietFiles("in/img.iso"), (std::map<std::string, std::string>{{"/a.txt", "a"}}));
}

}  // namespace
}  // namespace tavrine::cli
