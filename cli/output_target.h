// The image file named by -o, seen from the command line: among the inputs.
#pragma once

#include <string>
#include <vector>

#include "tree/directory.h"

namespace tavrine::cli {

// Removes every file entry below root whose local file is the file at output (same device and
// inode: named directly, through a link, or inside an input folder), so that an image written
// among its inputs does not take in its earlier copy. Only an ISO 9660 image (a volume
// descriptor at block 16) is taken for an earlier copy: any other file would be replaced by the
// image, which is a UsageError naming it. Returns the removed entries' local paths.
std::vector<std::string> LeaveOutEarlierImage(clsISODirectory& root, const std::string& output);

}  // namespace tavrine::cli
