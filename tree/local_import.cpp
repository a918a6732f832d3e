// Importing a local folder tree into the image tree.
//
// Each folder is listed completely, its handle closed, and its entries taken in ascending byte
// order of their names (a raw listing's order is arbitrary; sorting makes images reproducible).
// Only one listing handle is open at any time, so a deep tree cannot exhaust descriptors and a
// failure midway leaves nothing open.
//
// What the import passes over is returned with the reason, so that the caller can tell the user:
// names already in the image, folders that cannot be listed, symbolic links to folders (not
// followed, so a link cannot lead the walk in a circle) or to nothing, special files (a FIFO
// would block the build when its data are copied), and names that the image cannot hold. Matching
// folders skipped because the import is not recursive are not listed: that is what was asked for.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tree/directory.h"
#include "tree/errors.h"
#include "tree/files.h"
#include "tree/text.h"
#include "tree/wildcard.h"

namespace tavrine {

namespace {

// The name up to, not including, its first NUL character; the whole name when it has none.
std::string_view StripAtNul(std::string_view name) {
  return name.substr(0, name.find('\0'));
}

struct LocalEntry {
  std::string name;
  unsigned char type;  // d_type of the listing: DT_REG, DT_DIR, DT_LNK, DT_UNKNOWN, ...
};

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Lists folder (which ends with "/") without the names beginning with ".", sorted by byte.
// On failure returns false and leaves the system's reason in failure.
bool ListFolder(const std::string& folder, std::vector<LocalEntry>& entries, std::string& failure) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) {
    failure = std::strerror(errno);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        failure = std::strerror(errno);
        return false;
      }
      break;
    }
    // This skips "." and "..", and every other name beginning with a full stop.
    const std::string_view name = StripAtNul(entry->d_name);
    if (name.empty() || name.front() == '.') continue;
    entries.push_back({std::string(name), entry->d_type});
  }
  std::sort(entries.begin(), entries.end(),
            [](const LocalEntry& a, const LocalEntry& b) { return a.name < b.name; });
  return true;
}

enum class Kind { kFile, kFolder, kFolderLink, kPassedOver };

// What entry is, at the cost of a stat only when the listing cannot tell (a symbolic link, or a
// file system without d_type). For kPassedOver, reason says why.
Kind Classify(const std::string& path, unsigned char type, std::string& reason) {
  if (type == DT_REG) return Kind::kFile;
  if (type == DT_DIR) return Kind::kFolder;
  struct stat info {};
  if (type == DT_UNKNOWN) {
    if (lstat(path.c_str(), &info) != 0) {
      reason = std::string("cannot be examined: ") + std::strerror(errno);
      return Kind::kPassedOver;
    }
    if (S_ISREG(info.st_mode)) return Kind::kFile;
    if (S_ISDIR(info.st_mode)) return Kind::kFolder;
    if (S_ISLNK(info.st_mode)) type = DT_LNK;
  }
  if (type == DT_LNK) {
    if (stat(path.c_str(), &info) != 0) {
      reason = std::string("symbolic link that leads nowhere: ") + std::strerror(errno);
      return Kind::kPassedOver;
    }
    if (S_ISREG(info.st_mode)) return Kind::kFile;  // added as the file it points to
    if (S_ISDIR(info.st_mode)) {
      reason = "symbolic link to a folder not followed";
      return Kind::kFolderLink;
    }
  }
  reason = "not a regular file or folder";
  return Kind::kPassedOver;
}

// Why name cannot become an entry of the image, or empty when it can.
std::string UnusableName(std::u16string_view trimmed) {
  if (trimmed.empty()) return "the name is empty without its leading and trailing spaces";
  // "\" separates the components of paths inside the image.
  if (trimmed.find(u'\\') != std::u16string_view::npos) return "the name holds '\\'";
  return {};
}

std::string AlreadyThere(const clsISODirectory& target, std::u16string_view name) {
  const clsISOFile* existing = target.Files().FindFile(name);
  return "a file named '" + text::ToUtf8(existing != nullptr ? existing->name() : name) +
         "' is already in " + text::ToUtf8(target.FullPath());
}

struct Import {
  std::vector<WildcardPattern> patterns;
  bool recursive;
  std::vector<PassedOver> passedOver;
};

// Adds the matching entries of folder (which ends with "/") to target, depth first: a matching
// sub-folder is scanned completely when it is met.
void ScanLocalDirectory(const std::string& folder, clsISODirectory& target, Import& import) {
  std::vector<LocalEntry> entries;
  std::string failure;
  if (!ListFolder(folder, entries, failure)) {
    import.passedOver.push_back({folder, "the folder cannot be listed: " + failure});
    return;
  }
  for (const LocalEntry& entry : entries) {
    const std::u16string name = text::FromUtf8(entry.name);
    if (!MatchesAny(import.patterns, name)) continue;
    // The local path keeps the name as the system has it; only the image name is trimmed.
    const std::string path = folder + entry.name;
    std::string reason;
    const Kind kind = Classify(path, entry.type, reason);
    const bool isFolder = kind == Kind::kFolder || kind == Kind::kFolderLink;
    if (isFolder && !import.recursive) continue;
    const std::u16string trimmed = text::TrimSpaces(name);
    if (reason.empty()) reason = UnusableName(trimmed);
    if (!reason.empty()) {
      import.passedOver.push_back({path, reason});
      continue;
    }
    if (kind == Kind::kFile) {
      if (target.Files().Add(path, trimmed) == nullptr) {
        import.passedOver.push_back({path, AlreadyThere(target, trimmed)});
      }
    } else {
      // Merged into an existing sub-directory of the same name ignoring case, but scanned by
      // its own local path: folders 'Sub' and 'sub' both contribute their files.
      const std::shared_ptr<clsISODirectory> sub = target.AddSubDirectory(trimmed);
      ScanLocalDirectory(path + '/', *sub, import);
    }
  }
}

}  // namespace

std::vector<PassedOver> clsISODirectory::AddLocalDirectory(
    const std::string& strPath, const std::vector<std::u16string>& filter, bool recursive) {
  // An empty path would otherwise become "/" and import the whole file system.
  if (strPath.empty()) throw InputError("no local folder given to import");
  Import import{{}, recursive, {}};
  import.patterns.reserve(filter.size());
  for (const std::u16string& pattern : filter) import.patterns.emplace_back(pattern);
  if (import.patterns.empty()) return {};
  ScanLocalDirectory(strPath.back() == '/' ? strPath : strPath + '/', *this, import);
  return std::move(import.passedOver);
}

}  // namespace tavrine
