#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavrine::cli {

namespace {

constexpr int kBarWidth = 20;

}  // namespace

std::string FormatBytes(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  }
  return text;
}

std::string FormatDuration(double seconds) {
  const long long total = std::llround(std::max(0.0, seconds));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, Mode mode, int width, Clock clock)
    : out_(out), mode_(mode), width_(std::max(width, 20)), clock_(std::move(clock)) {}

void ProgressDisplay::BuildingFilesystem() {
  EnterPhase("Building file system");
}
void ProgressDisplay::WritingPathTable() {
  EnterPhase("Writing path tables");
}
void ProgressDisplay::WritingDirectoryRecords() {
  EnterPhase("Writing directory records");
}
// The percentage rests on an estimate of the size; the byte counts give the true fraction.
void ProgressDisplay::WritingFiles(std::int32_t) {
  EnterPhase("Writing files");
}

void ProgressDisplay::WritingFinished() {
  EnterPhase("Finished");
  EndLine();
}

void ProgressDisplay::BytesWritten(std::int64_t written, std::int64_t total) {
  written_ = written;
  total_ = total;
  if (mode_ != Mode::kTerminal) return;
  const double now = clock_();
  lastReport_ = now;
  if (filesStart_ < 0) {
    filesStart_ = now;
    filesStartBytes_ = written;
  }
  if (written == total || lastDraw_ < 0 || now - lastDraw_ >= kRedrawInterval) Draw();
}

void ProgressDisplay::EnterPhase(std::string_view phase) {
  if (phase == phase_) return;
  phase_.assign(phase);
  if (mode_ == Mode::kLines) {
    out_ << phase << '\n' << std::flush;
  } else if (mode_ == Mode::kTerminal) {
    Draw();
  }
}

void ProgressDisplay::Draw() {
  lastDraw_ = clock_();
  std::string line = phase_;
  if (total_ > 0) {
    const double fraction =
        std::clamp(static_cast<double>(written_) / static_cast<double>(total_), 0.0, 1.0);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    std::string tail = percent;
    tail += "  " + FormatBytes(written_) + " of " + FormatBytes(total_);
    // The rate up to the last byte count, so that the closing draw does not count the time
    // spent after the last byte.
    const double elapsed = lastReport_ - filesStart_;
    if (filesStart_ >= 0 && elapsed >= 0.5 && written_ > filesStartBytes_) {
      const double rate = static_cast<double>(written_ - filesStartBytes_) / elapsed;
      tail += "  " + FormatBytes(static_cast<std::int64_t>(rate)) + "/s";
      if (written_ < total_) {
        tail += "  " + FormatDuration(static_cast<double>(total_ - written_) / rate) + " left";
      }
    }
    // The bar gives way first when the terminal is narrow.
    const int room = width_ - 1 - static_cast<int>(line.size() + tail.size()) - 4;
    const int bar = std::min(kBarWidth, room);
    if (bar >= 5) {
      const int filled = static_cast<int>(fraction * bar);
      line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(bar - filled), '.') + "]";
    }
    line += ' ' + tail;
  }
  line.resize(std::min(line.size(), static_cast<std::size_t>(width_ - 1)));
  // Spaces wipe what a longer earlier line left behind.
  const std::size_t length = line.size();
  if (length < lastLength_) line.append(lastLength_ - length, ' ');
  lastLength_ = length;
  out_ << '\r' << line << std::flush;
  lineOpen_ = true;
}

void ProgressDisplay::EndLine() {
  if (!lineOpen_) return;
  out_ << '\n' << std::flush;
  lineOpen_ = false;
  lastLength_ = 0;
}

}  // namespace tavrine::cli
