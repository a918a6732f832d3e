// tavrine-cli --list: every directory and file of an image, with the ISO 9660 tree paired to the
// Joliet tree.
#pragma once

#include <ostream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "image/reader.h"

namespace tavrine::cli {

// The ISO 9660 tree paired with the Joliet tree of one image. The two trees name the same
// directories and files differently (and each writer forms ISO 9660 names its own way), so they
// are paired by content: a file by the block and length of its data, a directory by the files
// below it; what the content cannot tell apart is paired in record order.
struct TreePairing {
  std::unordered_map<const iso::Entry*, const iso::Entry*> isoOf;  // Joliet entry to ISO entry
  // ISO 9660 entries without a Joliet counterpart, with their paths.
  std::vector<std::pair<std::u16string, const iso::Entry*>> unpairedIso;
};
TreePairing PairTrees(const iso::Entry& jolietRoot, const iso::Entry& isoRoot);

// One line per directory and file, in pre-order: kind ("d" or "-"), size, recording date with
// its offset from UTC, first block, Joliet path and ISO 9660 path, separated by tabs (a "-" for
// a missing one). Without a Joliet volume the ISO 9660 path stands in both places.
void ListImage(const iso::IsoImage& image, std::ostream& out);

}  // namespace tavrine::cli
