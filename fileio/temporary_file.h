// Files that get their name only when complete: an image being written is never seen under its
// name half-made, and a killed process or a power cut leaves no trace of it.
#pragma once

#include <string>

#include "fileio/file_access.h"

namespace tavrine {

struct TemporaryFile {
  // Open for writing. Its Path is the folder for a file that has no name yet.
  FileRecord record;
  // The file's hidden name in its folder; empty while it has none.
  std::string name;
  int slot = -1;  // where RemoveTemporaryFiles finds the name; -1 when not kept there
};

// Opens a new, empty file for writing in folder, with the mode any new file of the user gets
// (0666 less the umask, applied by the system; the umask is neither read nor changed). It has
// no name (O_TMPFILE) where the file system allows; elsewhere it is ".tavrine-XXXXXX" in folder,
// which RemoveTemporaryFiles removes. record.Handle is -1 on failure (errno tells why).
TemporaryFile CreateTemporaryFile(const std::string& folder);

// Gives a complete temporary file the name target (in the same folder), replacing any file of
// that name, and closes it. With durable (an earlier file is being replaced) its data reach the
// disk before the rename (fdatasync), and the rename after it (fsync of the folder), so that a
// power cut leaves the earlier file or the new one, never an empty one. 0 on success; -1 when
// the data may not be whole (the sync or the close failed); -2 when the name could not be given.
// On failure the file is closed and gone, and errno tells why.
int CommitTemporaryFile(TemporaryFile& file, const std::string& target, bool durable);

// Closes a temporary file and removes it.
void DiscardTemporaryFile(TemporaryFile& file);

// Removes every named temporary file neither committed nor discarded yet. For a forced quit:
// safe to call from a signal handler.
void RemoveTemporaryFiles();

}  // namespace tavrine
