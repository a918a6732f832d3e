// Local paths longer than the system's limit (PATH_MAX): reached one stretch at a time, each
// stretch opened relative to a descriptor of the folder before it. Results are integers, as
// everywhere in the file access layer.
#pragma once

#include <sys/stat.h>

#include <string>

namespace tavrine {

// Calls call(dirfd, relative) with a folder descriptor and a path relative to it that
// together name path: AT_FDCWD and path itself when it is short enough for the system, else a
// descriptor of a folder near its end (closed afterwards). Returns what call returns, or -1
// with errno set when a folder on the way cannot be opened.
template <typename Call>
int AtLocalPath(const std::string& path, Call call);

// open, stat and lstat that accept paths of any length.
int OpenLocalPath(const std::string& path, int flags, mode_t mode);
int StatLocalPath(const std::string& path, struct stat* st);
int LstatLocalPath(const std::string& path, struct stat* st);

namespace detail {
// The descriptor of the folder that holds the last stretch of path, and in relative that
// stretch; AT_FDCWD and path itself when path is short enough. -1 on failure (errno set).
int OpenNearFolder(const std::string& path, std::string& relative);
void CloseNearFolder(int fd);
}  // namespace detail

template <typename Call>
int AtLocalPath(const std::string& path, Call call) {
  std::string relative;
  const int folder = detail::OpenNearFolder(path, relative);
  if (folder == -1) return -1;
  const int result = call(folder, relative.c_str());
  detail::CloseNearFolder(folder);  // keeps errno
  return result;
}

}  // namespace tavrine
