// --pattern values that took nothing: most likely mistyped.
#pragma once

#include <string>
#include <vector>

#include "tree/directory.h"

namespace tavrine::cli {

// The patterns (UTF-8, as given) that match no file or directory below root: no local name of
// a file, no name of a directory. Files named directly on the command line count as well.
std::vector<std::string> UnusedPatterns(const clsISODirectory& root,
                                        const std::vector<std::string>& patterns);

}  // namespace tavrine::cli
