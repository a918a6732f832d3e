#include "support/image_builder.h"

#include <cstdio>
#include <stdexcept>

namespace tavrine::testing {

clsISOFile& AddFile(clsISODirectory& directory, const TempDir& dir, std::string_view localName,
                    std::string_view contents, std::u16string_view name) {
  const std::string path = dir.WriteFile(localName, contents);
  clsISOFile* file = directory.Files().Add(path, name);
  if (file == nullptr) throw std::runtime_error("Add refused " + path);
  file->CreationDate(FixedDate());
  return *file;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::uint8_t byte : bytes) {
    char piece[4];
    std::snprintf(piece, sizeof piece, out.empty() ? "%02X" : " %02X", byte);
    out += piece;
  }
  return out;
}

std::string Hex(std::string_view image, std::size_t offset, std::size_t count) {
  const std::string_view piece = image.substr(offset, count);
  return Hex({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
}

}  // namespace tavrine::testing
