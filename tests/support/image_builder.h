// Helpers for tests that build whole images: a fixed clock, files with fixed dates, and a
// listener that records the writer's events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/writer.h"
#include "support/temp_dir.h"

namespace tavrine::testing {

// 5 March 2024 09:07:03 at offset utcOffsetMinutes (UTC unless given).
DateTime FixedDate(int utcOffsetMinutes = 0);

// Writes a local file under dir and adds it to directory with a fixed creation date; the entry
// is named name (or the local file's name). Throws when Add refuses it.
clsISOFile& AddFile(clsISODirectory& directory, const TempDir& dir, std::string_view localName,
                    std::string_view contents, std::u16string_view name = {});

// A writer with the fixed clock.
void UseFixedClock(clsISOWriter& writer);

// Records every event as a line ("BuildingFilesystem", "WritingFiles 42", ...).
class RecordingEvents : public WriterEvents {
 public:
  void BuildingFilesystem() override { log.push_back("BuildingFilesystem"); }
  void WritingPathTable() override { log.push_back("WritingPathTable"); }
  void WritingDirectoryRecords() override { log.push_back("WritingDirectoryRecords"); }
  void WritingFiles(std::int32_t percent) override {
    log.push_back("WritingFiles " + std::to_string(percent));
    percents.push_back(percent);
  }
  void WritingFinished() override { log.push_back("WritingFinished"); }
  void BytesWritten(std::int64_t written, std::int64_t total) override {
    bytesWritten.emplace_back(written, total);
  }

  std::vector<std::string> log;
  std::vector<std::int32_t> percents;
  std::vector<std::pair<std::int64_t, std::int64_t>> bytesWritten;
};

// The bytes of an image file, as a string.
std::string ImageBytes(const std::string& path);
// count bytes of image at offset, as hex pairs separated by spaces ("01 00 00 01").
std::string Hex(std::string_view image, std::size_t offset, std::size_t count);

}  // namespace tavrine::testing
