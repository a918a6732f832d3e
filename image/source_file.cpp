#include "image/source_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tavrine::detail {

namespace {

const char* KindOfFile(unsigned type) {
  switch (type) {
    case S_IFIFO:
      return "a FIFO";
    case S_IFCHR:
      return "a character device";
    case S_IFBLK:
      return "a block device";
    case S_IFSOCK:
      return "a socket";
    case S_IFDIR:
      return "a folder";
    default:
      return "not a file";
  }
}

}  // namespace

std::string InItsPlace(std::int64_t size) {
  return size > 0 ? "zeros stand in its place" : "it is empty in the image";
}

InputFile OpenSource(const clsISOFile& file) {
  InputFile input;
  errno = 0;
  input.source = OpenInputFileRecord(-1, file.LocalPath(), input.fileType);
  if (input.source.Handle == -1) input.openError = errno;
  return input;
}

std::string UnusableReason(int error, unsigned type, std::int64_t size) {
  std::string reason;
  if (type != 0) {
    reason = std::string("is no longer a regular file (now ") + KindOfFile(type) + "); ";
  } else {
    reason = std::string("cannot be opened (") +
             (error != 0 ? std::strerror(error) : "no reason given") + "); ";
  }
  return reason + InItsPlace(size);
}

}  // namespace tavrine::detail
