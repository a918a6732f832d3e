// The program behind main(), called directly: the outcomes that need a hand inside the build
// (a file that fails to open, a stop request while the image is written).
#include "cli/run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <sstream>

#include "cli/options.h"
#include "fileio/file_system_calls.h"
#include "image/reader.h"
#include "support/temp_dir.h"

namespace tavrine::cli {
namespace {

using tavrine::iso::IsoImage;
using tavrine::testing::TempDir;

std::string failingName;  // looked up in its folder or along its whole path

int OpenFailingOne(int folder, const char* path, int flags, mode_t mode) {
  const std::string_view name(path);
  if (name.substr(name.rfind('/') + 1) == failingName) {
    errno = EIO;
    return -1;
  }
  return RealFileSystemCalls().openat(folder, path, flags, mode);
}

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
  FileSystemCalls calls = RealFileSystemCalls();
  calls.openat = OpenFailingOne;
  failingName = "bad.bin";
  Outcome outcome;
  {
    ScopedFileSystemCalls scoped(calls);
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

}  // namespace
}  // namespace tavrine::cli
