// The progress display on a fake clock: what each mode prints, and how often a terminal line
// is redrawn.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tavrine::cli {
namespace {

// Drives a display through one build: the phases, then count byte reports evenly spread over
// seconds, then the end.
struct FakeBuild {
  explicit FakeBuild(ProgressDisplay::Mode mode, int width = 200)
      : display(out, mode, width, [this] { return now; }) {}

  void Run(std::int64_t total, int reports, double seconds) {
    display.BuildingFilesystem();
    display.WritingPathTable();
    display.WritingDirectoryRecords();
    for (int i = 1; i <= reports; ++i) {
      now = seconds * i / reports;
      display.WritingFiles(i);
      display.BytesWritten(total * i / reports, total);
    }
    display.WritingFinished();
  }

  std::ostringstream out;
  double now = 0;
  ProgressDisplay display;
};

// The lines as drawn: the text between carriage returns (and the final newline).
std::vector<std::string> Draws(const std::string& shown) {
  std::vector<std::string> draws;
  std::size_t at = 0;
  while ((at = shown.find('\r', at)) != std::string::npos) {
    const std::size_t end = shown.find_first_of("\r\n", at + 1);
    draws.push_back(shown.substr(at + 1, end - at - 1));
    at = end == std::string::npos ? shown.size() : end;
  }
  return draws;
}

TEST(ProgressDisplay, LinesModePrintsEachPhaseOnce) {
  FakeBuild build(ProgressDisplay::Mode::kLines);
  build.Run(100 << 20, 500, 2.0);
  EXPECT_EQ(build.out.str(),
            "Building file system\nWriting path tables\nWriting directory records\nWriting "
            "files\nFinished\n");
}

TEST(ProgressDisplay, QuietPrintsNothing) {
  FakeBuild build(ProgressDisplay::Mode::kQuiet);
  build.Run(100 << 20, 50, 2.0);
  build.display.EndLine();
  EXPECT_EQ(build.out.str(), "");
}

TEST(ProgressDisplay, TerminalRedrawsOneLineAtMostTenTimesASecond) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal);
  // 2000 reports over 2 s: one every millisecond.
  build.Run(std::int64_t{200} << 20, 2000, 2.0);
  const std::string shown = build.out.str();
  EXPECT_EQ(shown.find('\n'), shown.size() - 1) << "one line, ended once";
  const std::vector<std::string> draws = Draws(shown);
  // Three phases, the first report, one per 0.1 s, the last report, and "Finished".
  EXPECT_GE(draws.size(), 3u + 19u);
  EXPECT_LE(draws.size(), 3u + 1u + 20u + 1u + 1u);
  EXPECT_EQ(draws[0], "Building file system");
  EXPECT_EQ(draws[1].substr(0, 19), "Writing path tables");
  EXPECT_EQ(draws[1].size(), std::string("Building file system").size())
      << "padded over the longer line";
  EXPECT_EQ(draws.back().substr(0, 67),
            "Finished [####################] 100%  200.0 MiB of 200.0 MiB  100.0");
  EXPECT_EQ(draws.back().find("left"), std::string::npos);
}

TEST(ProgressDisplay, TerminalShowsBarSizesThroughputAndTimeLeft) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal);
  const std::int64_t total = std::int64_t{200} << 20;
  build.display.WritingFiles(0);
  build.display.BytesWritten(0, total);  // too soon after the phase was drawn
  build.now = 0.05;
  build.display.BytesWritten(total / 4, total);
  build.now = 1.0;
  build.display.BytesWritten(total / 2, total);
  const std::vector<std::string> draws = Draws(build.out.str());
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0], "Writing files");
  // 100 MiB in 1 s: 100 MiB/s, and 1 s for the other 100 MiB.
  EXPECT_EQ(draws[1],
            "Writing files [##########..........]  50%  100.0 MiB of 200.0 MiB  100.0 MiB/s  0:01 "
            "left");
}

TEST(ProgressDisplay, NarrowTerminalShrinksTheBarBeforeTheText) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal, 80);
  const std::int64_t total = std::int64_t{3} << 30;
  build.display.WritingFiles(0);
  build.now = 0.5;
  build.display.BytesWritten(0, total);
  build.now = 1.5;
  build.display.BytesWritten(total / 3, total);
  EXPECT_EQ(Draws(build.out.str()).back(),
            "Writing files [#####...........]  33%  1.0 GiB of 3.0 GiB  1.0 GiB/s  0:02 left");
  // The closing draw keeps the rate of the copy, not of the time spent closing the image.
  build.now = 2.5;
  build.display.BytesWritten(total, total);
  build.now = 9.0;
  build.display.WritingFinished();
  std::string last = Draws(build.out.str()).back();
  last.erase(last.find_last_not_of(' ') + 1);  // the padding over the longer line before
  EXPECT_EQ(last, "Finished [####################] 100%  3.0 GiB of 3.0 GiB  1.5 GiB/s");
}

TEST(ProgressDisplay, TerminalLineNeverWraps) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal, 40);
  build.Run(std::int64_t{3} << 30, 100, 30.0);
  for (const std::string& draw : Draws(build.out.str())) {
    EXPECT_LE(draw.size(), 39u) << draw;
  }
}

TEST(ProgressDisplay, EndLineOnlyEndsAnOpenLine) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal);
  build.display.EndLine();
  EXPECT_EQ(build.out.str(), "");
  build.display.BuildingFilesystem();
  build.display.EndLine();
  build.display.EndLine();
  EXPECT_EQ(build.out.str(), "\rBuilding file system\n");
}

TEST(Format, BytesAndDurations) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(std::int64_t{5} << 30), "5.0 GiB");
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(7.4), "0:07");
  EXPECT_EQ(FormatDuration(723), "12:03");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-5), "0:00");
}

}  // namespace
}  // namespace tavrine::cli
