// tavrine-cli --verify: holds an image, this writer's or another's, against the files it was
// made from.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "cli/run.h"

namespace tavrine::cli {

// At most this many differences are printed; the rest are counted.
inline constexpr std::size_t kMaxDifferenceLines = 50;

// A recorded name as it compares: without a version suffix (";1") and without a lone trailing
// ".", which other writers add and every reader drops.
std::u16string ComparableName(std::u16string_view recorded);

// Makes the tree that a build of options.paths with these options would write, and holds
// options.image against it: the Joliet tree by name (the ISO 9660 tree when the image has no
// Joliet volume or --no-joliet was given), the ISO 9660 tree by content. Prints one line per
// difference to out (at most kMaxDifferenceLines, then a count), progress to err. Reads the image
// and every source file once, in the order of the data in the image. Returns kExitOk when they
// match, kExitError when they differ; throws what the reader and the tree throw.
int Verify(const Options& options, const Environment& environment, std::ostream& out,
           std::ostream& err);

}  // namespace tavrine::cli
