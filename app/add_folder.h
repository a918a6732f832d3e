// The folder walk and the file listing of the folder import, the drop handler and the samples,
// with the path helpers they share. Local paths use "/"; a folder entry of a walk ends in "/".
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "app/image_plan.h"

class QWidget;

namespace tavrine::app {

class Dialogs;

// The longest local path the walk takes, in bytes of the native form (the platform's limit).
inline constexpr int kPathLimit = 4096;

// Collapses "//" pairs from left to right without overlapping (a run of k separators becomes
// k/2 rounded up); a leading run of separators becomes exactly one "/".
std::string CleanPath(const std::string& path);

// True when name holds "?", a code point below 32, or one from 127 to 159.
bool HasOddCharacters(const QString& name);

// Local paths are the system's bytes, never passed through QString: a name that is not UTF-8
// keeps its real bytes.

// True when path opens read-only as a regular file (following links).
bool IsUsableFile(const std::string& path);

// True when path names a folder (following links).
bool IsFolder(const std::string& path);

// True when the derived attributes of path are exactly hidden plus archive: a regular file whose
// name begins with "." and whose owner may write it (without write permission it would also be
// read-only).
bool IsHiddenArchiveOnly(const std::string& path);

// The names of the usable files of folder that match pattern, in ascending byte order. The
// pattern is compared without regard to case; "*" stands for any run of characters and "?" for
// any one, every other character for itself. A trailing ".*" also matches names without any dot,
// so "*.*" lists every file. A folder that cannot be listed gives none.
std::vector<std::string> ListFiles(const std::string& folder, const QString& pattern);

// What a walk does between folders, and where it reports failures other than a folder that
// vanished or may not be read (those are dropped from the walk silently).
struct WalkHooks {
  std::function<void()> yield;                            // keeps the window alive
  std::function<void(const QString& description)> error;  // shows the error dialog
};

// Extends folders (entries ending in "/") with their sub-folders, level by level: with recursive
// the whole trees, else one level. Sub-folders of one folder come in ascending byte order.
// Symbolic links to folders are not entered, so a link back to an ancestor cannot make the walk
// endless. A folder that vanished or may not be read is removed from folders.
void GetSubDirectories2016(std::vector<std::string>& folders, bool recursive,
                           const WalkHooks& hooks);

// Walks folder and all its sub-folders and hands to take, folder by folder, their files that
// match pattern: names beginning with "~" and hidden-plus-archive files are skipped, each path is
// CleanPath(folder + "/" + name), and each file goes to the image folder imageFolder followed by
// the sub-folders that lead to it, so the tree keeps its shape in the image.
void ImportFolderTree(const std::string& folder, const QString& pattern,
                      const std::string& imageFolder, const WalkHooks& hooks,
                      const std::function<void(std::vector<ListedFile>)>& take);

// The local bytes of a path that a file dialog handed over. Dialogs show names that are not
// UTF-8 with U+FFFD in place of their odd bytes; where exactly one entry of a folder reads so,
// its real name is taken.
std::string LocalPathFromDialog(const QString& path);

// The folder picker: the chosen folder, or an empty text when cancelled or too long.
QString BrowseForFolder(Dialogs& dialogs, QWidget* owner, const QString& title,
                        const QString& startFolder);

}  // namespace tavrine::app
