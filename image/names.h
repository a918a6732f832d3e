// Name mapping: the ISO 9660 name (DOSName) and the Joliet name of every entry, and the
// identifier filters. Internal to the writer; tests include it directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/directory.h"

namespace tavrine::detail {

// Names every directory below dir (dir itself keeps its names).
void MapDirectoryNames(clsISODirectory& dir);
// Names every file entry of dir and of every directory below it.
void MapFileNames(clsISODirectory& dir);
// Makes the ISO 9660 names of each directory's files and sub-directories unique together, for
// dir and every directory below it. Runs after the two passes above.
void MakeNamesUnique(clsISODirectory& dir);
// Joliet names Windows can use, within the record, of dir's entries and of every directory below
// it: characters it refuses become "_", names too long are shortened; numbered "~n" where
// either change would meet a sibling's name. Runs after the passes above.
void MapJolietNames(clsISODirectory& dir);
// The four above, in order: what a build runs before its layout.
void MapNames(clsISODirectory& root);

// The per-directory work of the three operations above, on plain lists of names in collection
// order (the tree operations run these on each directory): the DOSNames that the directory
// passes and the file passes give a list of sibling names, and the uniqueness step over one
// directory's sub-directory and file DOSNames.
std::vector<std::u16string> MapSiblingDirectoryNames(const std::vector<std::u16string>& names);
std::vector<std::u16string> MapSiblingFileNames(const std::vector<std::u16string>& names);
void MakeSiblingNamesUnique(std::vector<std::u16string>& dirNames,
                            std::vector<std::u16string>& fileNames);
// A directory record holds at most 110 UTF-16 units of name, for files and directories alike
// (the path table's 127 never binds first).
inline constexpr std::size_t kMaxJolietName = 110;
// What Windows refuses in a file name (U+0000-U+001F and " * / : < > ? \ |), and ";", which
// readers take for the start of a version.
bool JolietRefuses(char16_t c);
// MapJolietNames on one directory's names (sub-directories, then files), in place.
void MakeSiblingJolietNames(std::vector<std::u16string>& names);

std::u16string BaseName(std::u16string_view s);
std::u16string ExtensionOf(std::u16string_view s);
std::u16string TildeName(std::u16string_view s, std::int32_t n);
std::u16string SanitizeAString(std::u16string_view s);
std::u16string SanitizeDString(std::u16string_view s);

}  // namespace tavrine::detail
