// Importing a local folder tree into the image tree.
//
// The walk goes by descriptors of the folders themselves (openat, getdents64, fstatat), so no
// limit on the length of a path applies: a folder is opened relative to its parent, and only the
// folders on the way down to the one being listed are held open (and, on slow storage, the few
// listed ahead: see local_listing.h). Each folder is listed
// completely and its entries taken in ascending byte order of their names (a raw listing's order
// is arbitrary; sorting makes images reproducible).
//
// Nothing is left out for its name: a name that is not UTF-8 is read byte-wise as Windows-1252,
// "\" becomes "_", a blank name becomes "_", and a file whose image name a sibling has already
// (ignoring case) goes in as "name~1.ext" (the first free number). Such renames are reported. A
// sub-folder named like an existing sub-directory merges into it.
//
// What the import passes over is returned with the reason: by the stated rules, symbolic links
// to folders (not followed, so a link cannot lead the walk in a circle) and special files (a
// FIFO would block the build when its data are copied); otherwise folders that cannot be listed
// and entries that cannot be examined, which the caller must treat as missing. Names beginning
// with "." are skipped silently, as are matching folders of an import that is not recursive.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fileio/long_paths.h"
#include "fileio/read_ahead_mode.h"
#include "tree/directory.h"
#include "tree/errors.h"
#include "tree/files.h"
#include "tree/local_listing.h"
#include "tree/text.h"
#include "tree/wildcard.h"

namespace tavrine {

namespace {

using listing::AheadWanted;
using listing::Examiners;
using listing::FolderDescriptor;
using listing::kExamineAhead;
using listing::ListedFolder;
using listing::ListingAhead;
using listing::ListLocalFolder;
using listing::LocalEntry;
using listing::SharedFolder;

std::string Reason(const char* what) {
  return std::string(what) + std::strerror(errno);
}

void AddReason(std::string& why, const std::string& reason) {
  if (!why.empty()) why += "; ";
  why += reason;
}

enum class Kind { kFile, kFolder, kFolderLink, kSpecial, kUnusable };

// What entry name of folder is, at the cost of a stat only when the listing cannot tell (a
// symbolic link, or a file system without d_type). Unless a file or folder, reason says why.
Kind Classify(int folder, const std::string& name, unsigned char type, std::string& reason) {
  if (type == DT_REG) return Kind::kFile;
  if (type == DT_DIR) return Kind::kFolder;
  struct stat info {};
  if (type == DT_UNKNOWN) {
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      reason = Reason("cannot be examined: ");
      return Kind::kUnusable;
    }
    if (S_ISREG(info.st_mode)) return Kind::kFile;
    if (S_ISDIR(info.st_mode)) return Kind::kFolder;
    if (S_ISLNK(info.st_mode)) type = DT_LNK;
  }
  if (type == DT_LNK) {
    if (fstatat(folder, name.c_str(), &info, 0) != 0) {
      reason = Reason("symbolic link that leads nowhere: ");
      return Kind::kUnusable;
    }
    if (S_ISREG(info.st_mode)) return Kind::kFile;  // added as the file it points to
    if (S_ISDIR(info.st_mode)) {
      reason = "symbolic link to a folder not followed";
      return Kind::kFolderLink;
    }
  }
  reason = "not a regular file or folder";
  return Kind::kSpecial;
}

struct Import {
  std::vector<WildcardPattern> patterns;
  bool recursive;
  ImportReport report;
  // Made when first needed; the walk's folders outlive neither.
  std::unique_ptr<Examiners> examiners;
  std::unique_ptr<ListingAhead> listingAhead;
};

// The image name of a listed entry, with why it differs from the name as the system shows it.
std::u16string ImageName(const LocalEntry& entry, std::string& why) {
  std::u16string name = text::TrimSpaces(ImageNameOf(entry.name, entry.shown, &why));
  if (name.empty() || name == u"." || name == u"..") {
    std::string reason = "the name is blank";
    if (!name.empty()) {
      reason = '"';
      reason += text::ToUtf8(name);
      reason += "\" stands for a folder in paths";
    }
    AddReason(why, reason);
    name.assign(1, u'_');
  }
  return name;
}

// Gives name the first free "~n" when target has it already; says so in why.
std::u16string FreeName(const clsISODirectory& target, const std::u16string& name,
                        std::string& why) {
  std::u16string free = target.FreeFileName(name);
  if (free != name) {
    std::string reason = "'";
    reason += text::ToUtf8(name);
    reason += "' is in ";
    reason += text::ToUtf8(target.FullPath());
    reason += " already (case is ignored)";
    AddReason(why, reason);
  }
  return free;
}

void ScanLocalDirectory(const SharedFolder& fd, const std::string& folder, clsISODirectory& target,
                        Import& import, ListedFolder* listed);

// On slow storage, the work ahead of the walk for entries from .. from + kExamineAhead of the
// folder open as fd: their examinations (unless the folder was listed ahead, which examined them)
// and the listing of their sub-folders (unless a helper has queued them already).
void WorkAhead(Import& import, const SharedFolder& fd, std::vector<LocalEntry>& entries,
               std::size_t from, const ListedFolder* listed) {
  if (listed == nullptr) {
    if (!import.examiners) import.examiners = std::make_unique<Examiners>(import.patterns);
    import.examiners->Examine(fd->get(), entries, from);
  }
  if (!import.recursive || (listed != nullptr && listed->childrenQueued)) return;
  if (!import.listingAhead) import.listingAhead = std::make_unique<ListingAhead>(import.patterns);
  import.listingAhead->Queue(fd, entries, from, std::min(entries.size(), from + kExamineAhead));
}

// Opens and scans sub-folder name of the folder open as fd into sub, or takes it as listed ahead.
void ScanSubFolder(const SharedFolder& fd, const std::string& name, const std::string& path,
                   clsISODirectory& sub, Import& import) {
  if (import.listingAhead) {
    if (std::optional<ListedFolder> listed = import.listingAhead->Take(fd, name)) {
      ScanLocalDirectory(listed->folder, path + '/', sub, import, &*listed);
      return;
    }
  }
  // Not through a link that has taken the folder's place since the listing.
  const auto child = std::make_shared<const FolderDescriptor>(
      openat(fd->get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (child->get() < 0) {
    import.report.passedOver.push_back({path + '/', Reason("the folder cannot be listed: ")});
    return;
  }
  ScanLocalDirectory(child, path + '/', sub, import, nullptr);
}

// Adds the matching entries of the folder open as fd (whose path is folder, ending with "/") to
// target, depth first: a matching sub-folder is scanned completely when it is met. listed is the
// folder as listed ahead, or nullptr when it is still to be listed.
void ScanLocalDirectory(const SharedFolder& fd, const std::string& folder, clsISODirectory& target,
                        Import& import, ListedFolder* listed) {
  std::vector<LocalEntry> entries;
  bool waited = false;
  if (listed != nullptr) {
    entries = std::move(listed->entries);
    waited = listed->waited;
  } else {
    std::string failure;
    const long switches = VoluntarySwitches();
    if (!ListLocalFolder(fd->get(), entries, failure)) {
      import.report.passedOver.push_back({folder, "the folder cannot be listed: " + failure});
      return;
    }
    waited = VoluntarySwitches() > switches;
  }
  const bool ahead = AheadWanted(waited);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ahead && i % kExamineAhead == 0) WorkAhead(import, fd, entries, i, listed);
    const LocalEntry& entry = entries[i];
    if (!MatchesAny(import.patterns, entry.shown)) continue;
    // The local path keeps the name as the system has it.
    const std::string path = folder + entry.name;
    std::string reason;
    const Kind kind = Classify(fd->get(), entry.name, entry.type, reason);
    const bool isFolder = kind == Kind::kFolder || kind == Kind::kFolderLink;
    if (isFolder && !import.recursive) continue;
    if (kind != Kind::kFile && kind != Kind::kFolder) {
      import.report.passedOver.push_back({path, reason, kind != Kind::kUnusable});
      continue;
    }
    std::string why;
    std::u16string name = ImageName(entry, why);
    if (kind == Kind::kFile) {
      name = FreeName(target, name, why);
      if (target.Files().Add(path, name, fd->get(), entry.name) == nullptr) {
        import.report.passedOver.push_back(
            {path, "it could not be added as '" + text::ToUtf8(name) + "'"});
        continue;
      }
    } else if (!target.SubDirExists(name)) {
      // Folders named alike merge; a folder named like a file gets a name of its own.
      name = FreeName(target, name, why);
    }
    if (!why.empty()) import.report.renamed.push_back({path, target.FullPath() + name, why});
    if (kind == Kind::kFolder) {
      // Merged into an existing sub-directory of the same name ignoring case, but scanned by
      // its own local path: folders 'Sub' and 'sub' both contribute their files.
      ScanSubFolder(fd, entry.name, path, *target.AddSubDirectory(name), import);
    }
  }
}

}  // namespace

ImportReport clsISODirectory::AddLocalDirectory(const std::string& strPath,
                                                const std::vector<std::u16string>& filter,
                                                bool recursive) {
  // An empty path would otherwise become "/" and import the whole file system.
  if (strPath.empty()) throw InputError("no local folder given to import");
  Import import{{}, recursive, {}, nullptr, nullptr};
  import.patterns.reserve(filter.size());
  for (const std::u16string& pattern : filter) import.patterns.emplace_back(pattern);
  if (import.patterns.empty()) return {};
  const std::string folder = strPath.back() == '/' ? strPath : strPath + '/';
  const auto fd = std::make_shared<const FolderDescriptor>(
      OpenLocalPath(strPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (fd->get() < 0) {
    import.report.passedOver.push_back({folder, Reason("the folder cannot be listed: ")});
  } else {
    ScanLocalDirectory(fd, folder, *this, import, nullptr);
  }
  return std::move(import.report);
}

}  // namespace tavrine
