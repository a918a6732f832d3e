// Opening the local file of an entry when its data are copied. Internal to the writer.
#pragma once

#include <cstdint>
#include <string>

#include "fileio/file_access.h"
#include "image/read_ahead.h"
#include "tree/files.h"

namespace tavrine::detail {

// Opens the local file of an entry for reading, as the read-ahead opens the others. It must still
// be a regular file: whatever took its place since it was added (a FIFO, a link to a device)
// would hang the build or give endless data.
InputFile OpenSource(const clsISOFile& file);

// Why a file of size bytes gives none of them, and what stands in the image instead: the open
// failed with error, or it found something of type (S_IFMT bits) that is not a regular file.
std::string UnusableReason(int error, unsigned type, std::int64_t size);

// What stands in the image for a file of size bytes that gives none of them.
std::string InItsPlace(std::int64_t size);

}  // namespace tavrine::detail
