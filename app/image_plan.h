// Where listed files go in the image. Folders keep their shape, a file whose name is taken
// beside it goes in under a "~n" name, and a local file listed twice goes in once. The build and
// the list's "In image" column follow the same plan, so the user sees what will be written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tree/directory.h"

namespace tavrine::app {

// One item of the file list: the local path as the system's bytes, and the image folder the
// file goes into, as the local folder names that lead there from the image's root joined by
// "/" (empty for the root): a file of a dropped folder "Photos" may have "Photos/2024".
struct ListedFile {
  std::string path;
  std::string folder;
  bool operator==(const ListedFile&) const = default;
};

// What becomes of one listed file.
struct Placement {
  enum class Fate { kIn, kRenamed, kListedBefore, kLeftOut };
  Fate fate = Fate::kIn;
  std::u16string imagePath;  // "\Photos\2024\a~1.jpg"; for kListedBefore the earlier listing's
  std::string reason;        // for kRenamed and kLeftOut: why
};

// Puts listed files, one at a time, into the tree under root (through AddSubDirectory and
// clsISOFiles::Add, as the command line does).
class TreeFiller {
 public:
  explicit TreeFiller(clsISODirectory& root) : root_(root) {}
  // Never throws for a file that cannot be added: that file is left out, with the reason.
  Placement Add(const ListedFile& file);
  std::int64_t Files() const { return files_; }
  std::int64_t Bytes() const { return bytes_; }

 private:
  struct Folder {
    clsISODirectory* directory;
    std::u16string path;  // FullPath form
  };
  const Folder& FolderOf(const std::string& folder);

  clsISODirectory& root_;
  std::unordered_map<std::string, Folder> folders_;
  std::map<std::pair<dev_t, ino_t>, std::u16string> placed_;  // local file -> its image path
  std::int64_t files_ = 0;
  std::int64_t bytes_ = 0;
};

// A whole list laid out as an image of its own, without writing anything.
struct ListPlan {
  std::vector<Placement> placements;  // one per listed file
  std::int64_t files = 0;             // the files that go in, and their bytes
  std::int64_t bytes = 0;
  std::int64_t blocks = 0;  // the image's size; 0 when it cannot be laid out
  std::string error;        // why it cannot
};

// Plans files; returns early, incomplete, as soon as stop() says so.
ListPlan PlanList(const std::vector<ListedFile>& files, const std::function<bool()>& stop);

}  // namespace tavrine::app
