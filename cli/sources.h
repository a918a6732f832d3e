// The PATH arguments of tavrine-cli: plain paths and graft points, and how they fill the tree.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tree/date.h"
#include "tree/directory.h"

namespace tavrine::cli {

// One PATH argument. A plain path goes into the root; a graft point IMAGEPATH=LOCAL goes to
// IMAGEPATH, whose meaning depends on what LOCAL turns out to be (see AddSource).
struct Source {
  std::string argument;  // as typed, for messages
  std::string local;     // native local path
  bool graft = false;
  std::vector<std::string> imagePath;  // UTF-8 components of IMAGEPATH, "." and empty ones gone
  bool endsInSlash = false;            // IMAGEPATH ended in "/" (or was empty)
};

// Splits a PATH argument. An argument for which existsLocally is true is a plain path, taken
// as typed. Otherwise the first "=" not escaped by a backslash makes it a graft point; "\=" stands
// for "=" and "\\" for "\" on both sides (any other backslash stays). Throws UsageError for a
// graft point without a local side, and for an IMAGEPATH with "..", a blank name or a "\".
Source SplitPathArgument(const std::string& argument,
                         const std::function<bool(const std::string&)>& existsLocally);

// True when the local path exists (a file, a folder, anything stat can see).
bool LocalPathExists(const std::string& path);

// True when both paths name one existing local file (same device and inode).
bool SameLocalFile(const std::string& a, const std::string& b);

// What a source's local side is; throws IoError naming the argument when it cannot be read.
enum class LocalKind { kFile, kFolder };
LocalKind InspectSource(const Source& source);

// One warning of AddSource. missing: something the PATH names or holds is not in the image for
// a reason other than the stated rules (names beginning with ".", links to folders, special
// files), which makes the exit status 3.
struct Warning {
  std::string text;
  bool missing = false;
};

// Puts one source into the tree below root:
//   - a plain file: root.Files().Add(local), named after the local file;
//   - a plain folder: its contents imported into root (recursively, names matching patterns);
//   - a graft point with a folder: its contents imported into the directory IMAGEPATH;
//   - a graft point with a file: into IMAGEPATH's parent under IMAGEPATH's last name, or, when
//     IMAGEPATH ends in "/" or is empty, into IMAGEPATH under the file's own name.
// Directories on the way are made with AddSubDirectory, so graft points merge into one
// directory. A file whose name (ignoring case) is taken already goes in as "name~1.ext" (the
// first free number); that, the other renames and what the folder import passes over are
// appended to warnings, naming both files where there are two. A folder that cannot be listed
// at all is an IoError naming it. Throws what InspectSource and the tree throw.
void AddSource(clsISODirectory& root, const Source& source,
               const std::vector<std::u16string>& patterns, std::vector<Warning>& warnings);

// Removes every file entry below root whose local file is the file at path (same device and
// inode), so that an image written into one of its own input folders does not take in its
// previous copy. Returns the removed entries' local paths.
std::vector<std::string> LeaveOutLocalFile(clsISODirectory& root, const std::string& path);

// Sets the CreationDate of every file entry below root.
void SetAllFileDates(clsISODirectory& root, const DateTime& date);

}  // namespace tavrine::cli
