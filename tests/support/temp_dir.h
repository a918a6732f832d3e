// Test helpers for local files: a temporary folder removed at the end of a test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavrine::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative as a native string.
  std::string operator/(std::string_view relative) const;
  // Writes a file (creating its folders) and returns its full path.
  std::string WriteFile(std::string_view relative, std::string_view contents) const;
  // A file of size bytes of a fixed pseudo-random pattern derived from seed.
  std::string WritePatternFile(std::string_view relative, std::uint64_t size,
                               std::uint32_t seed) const;
  std::string MakeDir(std::string_view relative) const;

 private:
  std::filesystem::path path_;
};

// The whole contents of a local file; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace tavrine::testing
