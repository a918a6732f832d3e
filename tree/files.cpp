#include "tree/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

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

// Throws IoError naming path when the file cannot be examined.
LocalFileFacts ExamineLocalFile(const std::string& path) {
  struct statx facts {};
  const unsigned wanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME;
  if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, wanted, &facts) != 0) {
    throw IoError("cannot read '" + path + "': " + std::strerror(errno));
  }
  LocalFileFacts result;
  result.regular = (facts.stx_mask & STATX_TYPE) != 0 && S_ISREG(facts.stx_mode);
  result.size = static_cast<std::int64_t>(facts.stx_size);
  result.creationSeconds =
      (facts.stx_mask & STATX_BTIME) != 0 ? facts.stx_btime.tv_sec : facts.stx_mtime.tv_sec;
  return result;
}

// The part of a local path after its last "/", as an image name.
std::u16string NameFromPath(const std::string& localfile) {
  const auto slash = localfile.rfind('/');
  return text::FromUtf8(slash == std::string::npos ? std::string_view(localfile)
                                                   : std::string_view(localfile).substr(slash + 1));
}

[[noreturn]] void ThrowSubscript(std::int32_t index, std::size_t count) {
  throw OutOfRangeError("subscript out of range: index " + std::to_string(index) + ", " +
                        std::to_string(count) + (count == 1 ? " entry" : " entries"));
}

}  // namespace

void clsISOFile::name(std::u16string strNewVal) {
  if (owner_ != nullptr) owner_->Renamed(name_, strNewVal);
  name_ = std::move(strNewVal);
}

bool clsISOFiles::FileExists(std::u16string_view name) const {
  return foldedNames_.find(text::Fold(name)) != foldedNames_.end();
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
    ThrowSubscript(index, FileEntries_.size());
  }
  return *FileEntries_[static_cast<std::size_t>(index)];
}

void clsISOFiles::Remove(std::int32_t index) {
  clsISOFile& entry = File(index);
  Unindex(entry.name());
  FileEntries_.erase(FileEntries_.begin() + index);
}

clsISOFile* clsISOFiles::Add(const std::string& localfile, std::u16string_view name) {
  if (localfile.empty()) return nullptr;
  std::u16string entryName = name.empty() ? NameFromPath(localfile) : std::u16string(name);
  // A local file name may hold "\" on this system; it would read as a path separator inside
  // the image, so such a name is refused whether given or derived.
  if (entryName.find(u'\\') != std::u16string::npos) return nullptr;
  std::u16string foldedName = text::Fold(entryName);
  if (foldedNames_.find(foldedName) != foldedNames_.end()) return nullptr;

  const LocalFileFacts facts = ExamineLocalFile(localfile);
  if (!facts.regular) {
    throw InputError("cannot add '" + localfile + "': it is not a regular file");
  }
  if (facts.size > kMaxFileSize) {
    throw InputError("cannot add '" + localfile + "': it holds " + std::to_string(facts.size) +
                     " bytes, and a file in the image holds at most " +
                     std::to_string(kMaxFileSize) + " bytes (4 GiB - 1)");
  }

  auto entry = std::make_unique<clsISOFile>();
  entry->LocalPath_ = localfile;
  entry->name_ = std::move(entryName);
  entry->Size_ = facts.size;
  entry->CreationDate_ = DateTime::FromUnixLocal(facts.creationSeconds);
  entry->owner_ = this;
  ++foldedNames_[std::move(foldedName)];
  FileEntries_.push_back(std::move(entry));
  return FileEntries_.back().get();
}

void clsISOFiles::Unindex(const std::u16string& name) {
  auto found = foldedNames_.find(text::Fold(name));
  if (found != foldedNames_.end() && --found->second == 0) foldedNames_.erase(found);
}

void clsISOFiles::Renamed(const std::u16string& oldName, const std::u16string& newName) {
  Unindex(oldName);
  ++foldedNames_[text::Fold(newName)];
}

}  // namespace tavrine
