// Helpers for tests of the image writer: a fixed date, files carrying it, a listener that
// records the writer's events and hex dumps.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/writer.h"
#include "support/temp_dir.h"

namespace tavrine::testing {

// 5 March 2024 09:07:03 UTC.
inline DateTime FixedDate() {
  return DateTime{2024, 3, 5, 9, 7, 3, 0};
}

// Writes a local file under dir and adds it to directory, named name (or the local file's
// name), with the fixed date. Throws when Add refuses it.
clsISOFile& AddFile(clsISODirectory& directory, const TempDir& dir, std::string_view localName,
                    std::string_view contents, std::u16string_view name = {});

// Records every phase event as a line ("WritingFiles 42") and every BytesWritten pair.
class RecordingEvents : public WriterEvents {
 public:
  void BuildingFilesystem() override { log.push_back("BuildingFilesystem"); }
  void WritingPathTable() override { log.push_back("WritingPathTable"); }
  void WritingDirectoryRecords() override { log.push_back("WritingDirectoryRecords"); }
  void WritingFiles(std::int32_t percent) override {
    log.push_back("WritingFiles " + std::to_string(percent));
  }
  void WritingFinished() override { log.push_back("WritingFinished"); }
  void BytesWritten(std::int64_t written, std::int64_t total) override {
    bytesWritten.emplace_back(written, total);
  }

  std::vector<std::string> log;
  std::vector<std::pair<std::int64_t, std::int64_t>> bytesWritten;
};

// Bytes as hex pairs separated by spaces ("01 00 00 01").
std::string Hex(std::span<const std::uint8_t> bytes);
// count bytes of image from offset, as Hex.
std::string Hex(std::string_view image, std::size_t offset, std::size_t count);

}  // namespace tavrine::testing
