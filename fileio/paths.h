// The two halves of a local path, split at its last "/".
#pragma once

#include <string>
#include <string_view>

namespace tavrine {

// The folder holding path: "." for a bare name, "/" for a name in the root folder.
inline std::string FolderOfPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

// The part of path after its last "/"; all of it when it holds none.
inline std::string_view NameOfPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace tavrine
