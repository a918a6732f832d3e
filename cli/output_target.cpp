#include "cli/output_target.h"

#include <cstring>

#include "cli/options.h"
#include "cli/sources.h"
#include "fileio/file_access.h"

namespace tavrine::cli {

namespace {

// An ISO 9660 volume starts with a volume descriptor at block 16: any type, "CD001", version 1.
bool IsIsoImage(const std::string& path) {
  unsigned type = 0;
  FileRecord file = OpenInputFileRecord(-1, path, type);
  if (file.Handle == -1) return false;
  char id[7] = {};
  const bool read = ReadFileRecordAt(file, id, sizeof id, 16 * 2048) == std::int64_t{sizeof id};
  CloseFileRecord(file);
  return read && std::memcmp(id + 1, "CD001\x01", 6) == 0;
}

}  // namespace

std::vector<std::string> LeaveOutEarlierImage(clsISODirectory& root, const std::string& output) {
  std::vector<std::string> removed = LeaveOutLocalFile(root, output);
  if (!removed.empty() && !IsIsoImage(output)) {
    throw UsageError("the image '" + output + "' would replace the input file '" + removed[0] +
                     "', which is not an ISO 9660 image; name another image with -o");
  }
  return removed;
}

}  // namespace tavrine::cli
