// Opening the local file of an entry when its data are copied. Internal to the writer.
#pragma once

#include <cstdint>
#include <string>

#include "fileio/file_access.h"
#include "tree/files.h"

namespace tavrine::detail {

// Opens the local file of an entry for reading. It must still be a regular file: whatever took
// its place since it was added (a FIFO, a link to a device) would hang the build or give endless
// data. Otherwise Handle is -1 and reason says why, and what stands in the image instead.
FileRecord OpenSource(const clsISOFile& file, std::string& reason);

// What stands in the image for a file of size bytes that gives none of them.
std::string InItsPlace(std::int64_t size);

}  // namespace tavrine::detail
