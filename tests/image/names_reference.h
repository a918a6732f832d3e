// A plain, literal transcription of the name mapping passes (every sibling compared with every
// other, names changed in place while the loops run), kept as the reference that the fast
// implementation in image/names.cpp must agree with.
#pragma once

#include <string>
#include <vector>

namespace tavrine::reference {

// DOSNames of sibling directories named names (collection order) after both directory passes.
std::vector<std::u16string> MapDirectoryNames(const std::vector<std::u16string>& names);
// DOSNames of sibling files named names (collection order) after both file passes.
std::vector<std::u16string> MapFileNames(const std::vector<std::u16string>& names);

}  // namespace tavrine::reference
