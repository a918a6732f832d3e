#include "fileio/long_paths.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace tavrine {

namespace detail {

int OpenNearFolder(const std::string& path, std::string& relative) {
  // Most paths take the direct way; the stretches are for the rare deep one.
  constexpr std::size_t kStretch = PATH_MAX - 1;
  if (path.size() < kStretch) {
    relative = path;
    return AT_FDCWD;
  }
  int folder = AT_FDCWD;
  std::string rest = path;
  while (rest.size() >= kStretch) {
    // The longest run of whole names that the system takes in one go.
    const std::size_t cut = rest.rfind('/', kStretch - 1);
    if (cut == std::string::npos || cut == 0) {
      CloseNearFolder(folder);
      errno = ENAMETOOLONG;
      return -1;
    }
    int next;
    do {
      next = ::openat(folder, rest.substr(0, cut).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (next < 0 && errno == EINTR);
    CloseNearFolder(folder);
    if (next < 0) return -1;
    folder = next;
    rest.erase(0, cut + 1);
  }
  relative = std::move(rest);
  return folder;
}

void CloseNearFolder(int fd) {
  if (fd < 0) return;
  const int error = errno;
  ::close(fd);
  errno = error;
}

}  // namespace detail

int OpenLocalPath(const std::string& path, int flags, mode_t mode) {
  return AtLocalPath(path, [&](int folder, const char* relative) {
    return ::openat(folder, relative, flags, mode);
  });
}

int StatLocalPath(const std::string& path, struct stat* st) {
  return AtLocalPath(
      path, [&](int folder, const char* relative) { return ::fstatat(folder, relative, st, 0); });
}

int LstatLocalPath(const std::string& path, struct stat* st) {
  return AtLocalPath(path, [&](int folder, const char* relative) {
    return ::fstatat(folder, relative, st, AT_SYMLINK_NOFOLLOW);
  });
}

}  // namespace tavrine
