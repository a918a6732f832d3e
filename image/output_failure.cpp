#include "image/output_failure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fileio/file_access.h"
#include "fileio/paths.h"
#include "fileio/temporary_file.h"

namespace tavrine {

std::string WhyOutputNotCreated(const std::string& output) {
  struct stat st {};
  if (::stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a folder";
  std::string prefix;
  std::string path = output;
  if (::lstat(output.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (::stat(output.c_str(), &st) != 0 && errno == ELOOP)
      return "the symbolic link '" + output + "' leads round in a loop";
    const LinkTarget link = ReadLinkTarget(output);
    if (!link.path.empty()) {
      prefix = "it is a symbolic link to '" + link.text + "', and ";
      path = FolderOfPath(output) == "." ? link.text : link.path;
    }
  }
  if (::stat(path.c_str(), &st) == 0 && ::access(path.c_str(), W_OK) != 0)
    return prefix + "it may not be written (" + std::strerror(errno) + ")";
  const std::string folder = FolderOfPath(path);
  if (::stat(folder.c_str(), &st) != 0)
    return prefix + "the folder '" + folder + "' does not exist";
  if (!S_ISDIR(st.st_mode)) return prefix + "'" + folder + "' is not a folder";
  // The folder's own answer to a new file, asked as the writer asks for one.
  std::string reason = prefix + "the folder '" + folder + "' refused a new file";
  TemporaryFile probe = CreateTemporaryFile(folder);
  if (probe.record.Handle == -1) return reason + " (" + std::strerror(errno) + ")";
  DiscardTemporaryFile(probe);
  return reason;
}

}  // namespace tavrine
