// The folder walk and the file listing of the folder import, the drop handler and the samples,
// with the path helpers they share. Local paths use "/"; a folder entry of a walk ends in "/".
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tavrine::app {

class Dialogs;

// The longest local path the walk takes, in bytes of the native form (the platform's limit).
inline constexpr int kPathLimit = 4096;

// Collapses "//" pairs from left to right without overlapping (a run of k separators becomes
// k/2 rounded up); a leading run of separators becomes exactly one "/".
QString CleanPath(const QString& path);

// True when name holds "?", a code point below 32, or one from 127 to 159.
bool HasOddCharacters(const QString& name);

// True when path opens read-only as a regular file (following links).
bool IsUsableFile(const QString& path);

// True when path names a folder (following links).
bool IsFolder(const QString& path);

// True when the derived attributes of path are exactly hidden plus archive: a regular file whose
// name begins with "." and whose owner may write it (without write permission it would also be
// read-only).
bool IsHiddenArchiveOnly(const QString& path);

// The names of the usable files of folder that match pattern, in ascending byte order. The
// pattern is compared without regard to case; "*" stands for any run of characters and "?" for
// any one, every other character for itself. A trailing ".*" also matches names without any dot,
// so "*.*" lists every file. A folder that cannot be listed gives none.
QStringList ListFiles(const QString& folder, const QString& pattern);

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
void GetSubDirectories2016(QStringList& folders, bool recursive, const WalkHooks& hooks);

// Walks folder and all its sub-folders and hands to take, folder by folder, the paths of their
// files that match pattern: names beginning with "~" and hidden-plus-archive files are skipped,
// and each path is CleanPath(folder + "/" + name).
void ImportFolderTree(const QString& folder, const QString& pattern, const WalkHooks& hooks,
                      const std::function<void(const QStringList&)>& take);

// The folder picker: the chosen folder, or an empty text when cancelled or too long.
QString BrowseForFolder(Dialogs& dialogs, QWidget* owner, const QString& title,
                        const QString& startFolder);

}  // namespace tavrine::app
