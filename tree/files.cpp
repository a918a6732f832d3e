#include "tree/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "fileio/long_paths.h"
#include "fileio/paths.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {

namespace {

// What Add needs to know of a local file, from one statx call.
struct LocalFileFacts {
  bool regular = false;
  std::int64_t size = 0;
  // Birth time where the file system records one, else the last modification.
  std::int64_t creationSeconds = 0;
};

// The file is nameInFolder in the folder open as folder, or path itself when folder is -1. Throws
// IoError naming path when the file cannot be examined.
LocalFileFacts ExamineLocalFile(const std::string& path, int folder,
                                const std::string& nameInFolder) {
  struct statx facts {};
  const unsigned wanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME;
  const auto examine = [&](int at, const char* relative) {
    return statx(at, relative, AT_STATX_SYNC_AS_STAT, wanted, &facts);
  };
  const int failed =
      folder >= 0 ? examine(folder, nameInFolder.c_str()) : AtLocalPath(path, examine);
  if (failed != 0) {
    throw IoError("cannot read '" + path + "': " + std::strerror(errno));
  }
  LocalFileFacts result;
  result.regular = (facts.stx_mask & STATX_TYPE) != 0 && S_ISREG(facts.stx_mode);
  result.size = static_cast<std::int64_t>(facts.stx_size);
  result.creationSeconds =
      (facts.stx_mask & STATX_BTIME) != 0 ? facts.stx_btime.tv_sec : facts.stx_mtime.tv_sec;
  return result;
}

// "\" and "/" separate the parts of paths inside the image and outside it; "." and ".." stand
// for directories.
bool UsableEntryName(std::u16string_view name) {
  return name.find_first_of(u"\\/") == std::u16string_view::npos && name != u"." && name != u"..";
}

}  // namespace

std::u16string ImageNameOf(std::string_view localName, std::string* why) {
  return ImageNameOf(localName, text::FromLocalName(localName), why);
}

std::u16string ImageNameOf(std::string_view localName, std::u16string name, std::string* why) {
  std::replace(name.begin(), name.end(), u'\\', u'_');
  if (why != nullptr) {
    why->clear();
    if (!text::IsUtf8(localName))
      *why = "the name is not UTF-8; its bytes are read as Windows-1252";
    if (localName.find('\\') != std::string_view::npos) {
      *why += why->empty() ? "" : "; ";
      *why += "\"\\\" separates image paths and became \"_\"";
    }
  }
  return name;
}

void clsISOFile::name(std::u16string strNewVal) {
  std::u16string oldName = std::exchange(name_, std::move(strNewVal));
  if (owner_ != nullptr) owner_->Renamed(*this, oldName);
}

bool clsISOFiles::FileExists(std::u16string_view name) const {
  return FindFile(name) != nullptr;
}

clsISOFile* clsISOFiles::FindFile(std::u16string_view name) const {
  const auto found = foldedNames_.find(text::Fold(name));
  return found == foldedNames_.end() ? nullptr : found->second;
}

void clsISOFiles::Clear() {
  FileEntries_.clear();
  foldedNames_.clear();
}

std::int32_t clsISOFiles::Count() const {
  return static_cast<std::int32_t>(FileEntries_.size());
}

clsISOFile& clsISOFiles::File(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= FileEntries_.size()) {
    ThrowSubscriptOutOfRange(index, FileEntries_.size(), "entry", "entries");
  }
  return *FileEntries_[static_cast<std::size_t>(index)];
}

void clsISOFiles::Remove(std::int32_t index) {
  const std::u16string folded = text::Fold(File(index).name());
  const bool wasFirst = foldedNames_.at(folded) == &File(index);
  FileEntries_.erase(FileEntries_.begin() + index);
  if (wasFirst) Reindex(folded);
}

clsISOFile* clsISOFiles::Add(const std::string& localfile, std::u16string_view name) {
  return Add(localfile, name, -1, {});
}

clsISOFile* clsISOFiles::Add(const std::string& localfile, std::u16string_view name, int folder,
                             const std::string& nameInFolder) {
  if (localfile.empty()) return nullptr;
  std::u16string entryName =
      name.empty() ? ImageNameOf(NameOfPath(localfile)) : std::u16string(name);
  if (!UsableEntryName(entryName)) return nullptr;
  std::u16string foldedName = text::Fold(entryName);
  if (foldedNames_.find(foldedName) != foldedNames_.end()) return nullptr;

  const LocalFileFacts facts = ExamineLocalFile(localfile, folder, nameInFolder);
  if (!facts.regular) {
    throw InputError("cannot add '" + localfile + "': it is not a regular file");
  }

  auto entry = std::make_unique<clsISOFile>();
  entry->LocalPath_ = localfile;
  entry->name_ = std::move(entryName);
  entry->Size_ = facts.size;
  entry->CreationDate_ = DateTime::FromUnixLocal(facts.creationSeconds);
  entry->owner_ = this;
  FileEntries_.push_back(std::move(entry));
  clsISOFile* added = FileEntries_.back().get();
  foldedNames_.emplace(std::move(foldedName), added);
  return added;
}

void clsISOFiles::Reindex(const std::u16string& folded) {
  for (const auto& entry : FileEntries_) {
    if (text::Fold(entry->name_) == folded) {
      foldedNames_[folded] = entry.get();
      return;
    }
  }
  foldedNames_.erase(folded);
}

// Renames are rare, so a rename that may change which entry comes first under a name rescans.
void clsISOFiles::Renamed(clsISOFile& entry, const std::u16string& oldName) {
  const std::u16string oldFolded = text::Fold(oldName);
  const std::u16string newFolded = text::Fold(entry.name_);
  if (oldFolded == newFolded) return;
  if (foldedNames_.at(oldFolded) == &entry) Reindex(oldFolded);
  if (!foldedNames_.try_emplace(newFolded, &entry).second) Reindex(newFolded);
}

}  // namespace tavrine
