// The progress display on a fake clock: what each mode prints, and how often a terminal line
// is redrawn.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tavrine::cli {
namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// A display on a fake clock, driven like the writer drives it.
struct FakeBuild {
  explicit FakeBuild(ProgressDisplay::Mode mode, int width = 200)
      : display(out, mode, width, [this] { return now; }) {}

  // The phases, then `reports` byte counts spread evenly over `seconds`, then the end.
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
  void Report(double at, std::int64_t written, std::int64_t total) {
    now = at;
    display.BytesWritten(written, total);
  }
  // The lines as drawn: the text after each carriage return.
  std::vector<std::string> Draws() const {
    const std::string shown = out.str();
    std::vector<std::string> draws;
    for (std::size_t at = shown.find('\r'); at != std::string::npos; at = shown.find('\r', at + 1))
      draws.push_back(shown.substr(at + 1, shown.find_first_of("\r\n", at + 1) - at - 1));
    return draws;
  }

  std::ostringstream out;
  double now = 0;
  ProgressDisplay display;
};

TEST(ProgressDisplay, LinesModePrintsEachPhaseOnceAndQuietNothing) {
  FakeBuild lines(ProgressDisplay::Mode::kLines);
  lines.Run(100 * kMiB, 500, 2.0);
  EXPECT_EQ(lines.out.str(),
            "Building file system\nWriting path tables\nWriting directory records\nWriting "
            "files\nFinished\n");
  FakeBuild quiet(ProgressDisplay::Mode::kQuiet);
  quiet.Run(100 * kMiB, 50, 2.0);
  quiet.display.EndLine();
  EXPECT_EQ(quiet.out.str(), "");
}

TEST(ProgressDisplay, TerminalRedrawsOneLineAtMostTenTimesASecond) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal);
  build.Run(200 * kMiB, 2000, 2.0);  // a report every millisecond
  const std::string shown = build.out.str();
  EXPECT_EQ(shown.find('\n'), shown.size() - 1) << "one line, ended once";
  const std::vector<std::string> draws = build.Draws();
  // Three phases, the first report, one per 0.1 s, the last report, and "Finished".
  EXPECT_GE(draws.size(), 3u + 19u);
  EXPECT_LE(draws.size(), 3u + 1u + 20u + 1u + 1u);
  EXPECT_EQ(draws[0], "Building file system");
  EXPECT_EQ(draws[1], "Writing path tables ") << "padded over the longer line";
  EXPECT_EQ(draws.back().substr(0, 67),
            "Finished [####################] 100%  200.0 MiB of 200.0 MiB  100.0");
  EXPECT_EQ(draws.back().find("left"), std::string::npos);
}

TEST(ProgressDisplay, TerminalShowsBarSizesThroughputAndTimeLeft) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal);
  build.display.WritingFiles(0);
  build.Report(0, 0, 200 * kMiB);
  build.Report(0.05, 50 * kMiB, 200 * kMiB);  // too soon after the last draw
  build.Report(1.0, 100 * kMiB, 200 * kMiB);
  // 100 MiB in 1 s: 100 MiB/s, and 1 s for the other 100 MiB.
  EXPECT_EQ(build.Draws(), (std::vector<std::string>{"Writing files",
                                                     "Writing files [##########..........]  50%"
                                                     "  100.0 MiB of 200.0 MiB  100.0 MiB/s  "
                                                     "0:01 left"}));
}

TEST(ProgressDisplay, NarrowTerminalShrinksTheBarAndNeverWraps) {
  FakeBuild build(ProgressDisplay::Mode::kTerminal, 80);
  const std::int64_t total = std::int64_t{3} << 30;
  build.display.WritingFiles(0);
  build.Report(0.5, 0, total);
  build.Report(1.5, total / 3, total);
  EXPECT_EQ(build.Draws().back(),
            "Writing files [#####...........]  33%  1.0 GiB of 3.0 GiB  1.0 GiB/s  0:02 left");
  // The closing draw keeps the rate of the copy, not of the time spent closing the image.
  build.Report(2.5, total, total);
  build.now = 9.0;
  build.display.WritingFinished();
  std::string last = build.Draws().back();
  last.erase(last.find_last_not_of(' ') + 1);  // the padding over the longer line before
  EXPECT_EQ(last, "Finished [####################] 100%  3.0 GiB of 3.0 GiB  1.5 GiB/s");

  FakeBuild narrow(ProgressDisplay::Mode::kTerminal, 40);
  narrow.Run(total, 100, 30.0);
  for (const std::string& draw : narrow.Draws()) EXPECT_LE(draw.size(), 39u) << draw;
}

TEST(Format, BytesAndDurations) {
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatDuration(-5), "0:00");
  EXPECT_EQ(FormatDuration(723), "12:03");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

}  // namespace
}  // namespace tavrine::cli
