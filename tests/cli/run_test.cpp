// The program behind main(), called directly: the outcomes that need a hand inside the build
// (a file that fails to open, a stop request while the image is written).
#include "cli/run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sstream>

#include "cli/options.h"
#include "fileio/file_system_calls.h"
#include "support/iso_reader.h"
#include "support/temp_dir.h"

namespace tavrine::cli {
namespace {

using tavrine::testing::IsoImage;
using tavrine::testing::TempDir;

std::string failingPath;

int OpenFailingOne(const char* path, int flags, mode_t mode) {
  if (failingPath == path) {
    errno = EIO;
    return -1;
  }
  return RealFileSystemCalls().open(path, flags, mode);
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunCli(const std::vector<std::string>& args, const Environment& environment = {}) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = Run(args, environment, out, err);
  return {status, out.str(), err.str()};
}

std::size_t FilesIn(const std::filesystem::path& dir) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++count;
  return count;
}

TEST(Run, FileThatCannotBeReadGivesExitThreeAndZerosInItsPlace) {
  TempDir dir;
  const std::string good = dir.WriteFile("good.txt", "good");
  const std::string bad = dir.WritePatternFile("bad.bin", 5000, 3);
  const std::string image = dir / "img.iso";
  FileSystemCalls calls = RealFileSystemCalls();
  calls.open = OpenFailingOne;
  failingPath = bad;
  Outcome outcome;
  {
    ScopedFileSystemCalls scoped(calls);
    outcome = RunCli({"-q", "-o", image, good, "sub/renamed.bin=" + bad});
  }
  EXPECT_EQ(outcome.status, kExitUnreadable);
  EXPECT_EQ(outcome.err, "tavrine-cli: could not read all of '" + bad +
                             "' (\\sub\\renamed.bin in the image): Input/output error; the image "
                             "holds zeros in its place\ntavrine-cli: wrote '" +
                             image + "', but 1 file is incomplete in it\n");
  const IsoImage read(image);
  EXPECT_EQ(read.ReadFile(*read.Joliet().Find(u"/good.txt")), "good");
  EXPECT_EQ(read.ReadFile(*read.Joliet().Find(u"/sub/renamed.bin")), std::string(5000, '\0'));
}

TEST(Run, StopRequestDuringTheBuildLeavesNoImage) {
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
  EXPECT_EQ(FilesIn(dir.path()), 2u) << "no temporary file left";
  EXPECT_EQ(running, nullptr) << "the signal handler's writer is cleared after the build";
}

TEST(Run, InterruptBeforeTheBuildWritesNothing) {
  TempDir dir;
  const std::string input = dir.WriteFile("in.txt", "x");
  std::atomic<bool> interrupted{true};
  Environment environment;
  environment.interrupted = &interrupted;
  const Outcome outcome = RunCli({"-o", dir / "img.iso", input}, environment);
  EXPECT_EQ(outcome.status, kExitInterrupted);
  EXPECT_EQ(outcome.err, "tavrine-cli: interrupted; no image written\n");
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(Run, HelpAndVersionGoToStandardOutput) {
  const Outcome help = RunCli({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_EQ(help.out, HelpText());
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(RunCli({"--version"}).out, VersionText());
  const Outcome usage = RunCli({});
  EXPECT_EQ(usage.status, kExitUsage);
  EXPECT_EQ(usage.err,
            "tavrine-cli: no PATH given: name the files and folders to put in the image; try "
            "'tavrine-cli --help'\n");
}

}  // namespace
}  // namespace tavrine::cli
