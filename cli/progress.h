// The progress display of tavrine-cli: the writer's events shown on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "image/writer.h"

namespace tavrine::cli {

class ProgressDisplay : public WriterEvents {
 public:
  enum class Mode {
    kQuiet,     // nothing
    kLines,     // one line per phase, for logs and pipes
    kTerminal,  // one line redrawn in place, with a bar, throughput and time left
  };
  // Seconds on a monotonic clock.
  using Clock = std::function<double()>;

  // width: the terminal's columns; a redrawn line is kept shorter, since a wrapped line can
  // no longer be redrawn with "\r".
  ProgressDisplay(std::ostream& out, Mode mode, int width, Clock clock);
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void BuildingFilesystem() override;
  void WritingPathTable() override;
  void WritingDirectoryRecords() override;
  void WritingFiles(std::int32_t percent) override;
  void WritingFinished() override;
  void BytesWritten(std::int64_t written, std::int64_t total) override;

  // Ends a redrawn line (before an error or a warning is printed, and at the end), so that
  // whatever follows starts on a line of its own.
  void EndLine();
  // Starts a phase of another task than a build (a check of an image, say), named as shown.
  void EnterPhase(std::string_view phase);

  // The shortest interval between two redraws of the same phase.
  static constexpr double kRedrawInterval = 0.1;

 private:
  void Draw();

  std::ostream& out_;
  Mode mode_;
  int width_;
  Clock clock_;
  std::string phase_;
  std::int64_t written_ = 0;
  std::int64_t total_ = 0;
  double filesStart_ = -1;  // when the first file byte count arrived
  std::int64_t filesStartBytes_ = 0;
  double lastReport_ = -1;  // when the last byte count arrived
  double lastDraw_ = -1;
  bool lineOpen_ = false;
  std::size_t lastLength_ = 0;
};

// "12.3 MiB", "512 B": a byte count for people.
std::string FormatBytes(std::int64_t bytes);
// "0:07", "12:03", "1:02:03".
std::string FormatDuration(double seconds);

}  // namespace tavrine::cli
