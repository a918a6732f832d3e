#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tavrine::testing {

namespace fs = std::filesystem;

TempDir::TempDir(const fs::path& base) {
  std::string pattern =
      ((base.empty() ? fs::temp_directory_path() : base) / "tavrine-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore permissions that a test may have taken away, so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  chmod(path_.c_str(), 0700);
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view relative) const {
  return (path_ / std::string(relative)).string();
}

std::string TempDir::WriteFile(std::string_view relative, std::string_view contents) const {
  fs::path full = path_ / std::string(relative);
  fs::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + full.string());
  return full.string();
}

std::string TempDir::WritePatternFile(std::string_view relative, std::uint64_t size,
                                      std::uint32_t seed) const {
  std::mt19937 rng(seed);
  std::string data(size, '\0');
  for (auto& c : data) c = static_cast<char>(rng() & 0xFF);
  return WriteFile(relative, data);
}

std::string TempDir::MakeDir(std::string_view relative) const {
  fs::path full = path_ / std::string(relative);
  fs::create_directories(full);
  return full.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace tavrine::testing
