#include "support/image_builder.h"

#include <cstdio>
#include <stdexcept>

#include "tree/text.h"

namespace tavrine::testing {

DateTime FixedDate(int utcOffsetMinutes) {
  DateTime date;
  date.year = 2024;
  date.month = 3;
  date.day = 5;
  date.hour = 9;
  date.minute = 7;
  date.second = 3;
  date.utcOffsetMinutes = utcOffsetMinutes;
  return date;
}

clsISOFile& AddFile(clsISODirectory& directory, const TempDir& dir, std::string_view localName,
                    std::string_view contents, std::u16string_view name) {
  const std::string path = dir.WriteFile(localName, contents);
  clsISOFile* file = directory.Files().Add(path, name);
  if (file == nullptr) throw std::runtime_error("Add refused " + path);
  file->CreationDate(FixedDate());
  return *file;
}

void UseFixedClock(clsISOWriter& writer) {
  writer.VolumeCreation(FixedDate());
}

std::string ImageBytes(const std::string& path) {
  return ReadFile(path);
}

std::string Hex(std::string_view image, std::size_t offset, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%02X", static_cast<unsigned char>(image.at(offset + i)));
    if (i > 0) out += ' ';
    out += piece;
  }
  return out;
}

}  // namespace tavrine::testing
