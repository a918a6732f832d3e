#include "tree/directory.h"

#include <string>
#include <unordered_set>

#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {

namespace {

// True when target is directory or lies anywhere below it.
bool Contains(const std::shared_ptr<clsISODirectory>& directory, const clsISODirectory* target) {
  std::vector<const clsISODirectory*> pending{directory.get()};
  std::unordered_set<const clsISODirectory*> seen;
  while (!pending.empty()) {
    const clsISODirectory* current = pending.back();
    pending.pop_back();
    if (current == target) return true;
    if (!seen.insert(current).second) continue;
    for (std::int32_t i = 0; i < current->SubDirectoryCount(); ++i) {
      pending.push_back(current->SubDirectory(i).get());
    }
  }
  return false;
}

}  // namespace

std::shared_ptr<clsISODirectory> clsISODirectory::Create() {
  return std::make_shared<clsISODirectory>(Token{});
}

clsISODirectory::~clsISODirectory() {
  // Let a deep subtree go level by level instead of by nested destructor calls, which would
  // exhaust the stack on a long chain of directories.
  std::vector<std::shared_ptr<clsISODirectory>> pending = std::move(SubDirectories_);
  while (!pending.empty()) {
    std::shared_ptr<clsISODirectory> last = std::move(pending.back());
    pending.pop_back();
    if (last.use_count() == 1) {
      for (auto& child : last->SubDirectories_) pending.push_back(std::move(child));
      last->SubDirectories_.clear();
    }
  }
}

bool clsISODirectory::SubDirExists(std::u16string_view name) const {
  return firstByFoldedName_.find(text::Fold(name)) != firstByFoldedName_.end();
}

std::u16string clsISODirectory::FullPath() const {
  std::vector<const std::u16string*> names{&name_};
  for (auto up = Parent(); up != nullptr; up = up->Parent()) names.push_back(&up->name_);
  std::u16string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += **it;
    path += u'\\';
  }
  return path;
}

std::u16string clsISODirectory::FreeFileName(std::u16string_view name) const {
  const auto taken = [this](std::u16string_view candidate) {
    return Files_.FileExists(candidate) || SubDirExists(candidate);
  };
  if (!taken(name)) return std::u16string(name);
  const std::size_t dot = name.rfind(u'.');
  const std::size_t cut = dot == std::u16string_view::npos || dot == 0 ? name.size() : dot;
  for (std::uint64_t number = 1;; ++number) {
    const std::string suffix = std::to_string(number);
    std::u16string candidate(name.substr(0, cut));
    candidate += u'~';
    candidate.append(suffix.begin(), suffix.end());
    candidate += name.substr(cut);
    if (!taken(candidate)) return candidate;
  }
}

std::shared_ptr<clsISODirectory> clsISODirectory::AddSubDirectoryByRef(
    std::shared_ptr<clsISODirectory> directory) {
  if (directory == nullptr) return nullptr;
  // A directory below itself would make the tree endless (and never freed).
  if (Contains(directory, this)) {
    throw InputError("cannot add directory '" + text::ToUtf8(directory->FullPath()) +
                     "' below itself ('" + text::ToUtf8(FullPath()) + "')");
  }
  directory->Parent_ = weak_from_this();
  firstByFoldedName_.try_emplace(text::Fold(directory->name_), SubDirectoryCount());
  SubDirectories_.push_back(directory);
  return directory;
}

std::shared_ptr<clsISODirectory> clsISODirectory::AddSubDirectory(std::u16string_view name) {
  std::u16string trimmed = text::TrimSpaces(name);
  std::u16string folded = text::Fold(trimmed);
  if (auto found = firstByFoldedName_.find(folded); found != firstByFoldedName_.end()) {
    return SubDirectories_[static_cast<std::size_t>(found->second)];
  }
  auto directory = Create();
  directory->name_ = std::move(trimmed);
  directory->Parent_ = weak_from_this();
  firstByFoldedName_.emplace(std::move(folded), SubDirectoryCount());
  SubDirectories_.push_back(directory);
  return directory;
}

void clsISODirectory::RemoveSubDirectory(std::int32_t index, bool KeepSubDirs) {
  const std::shared_ptr<clsISODirectory> removed = SubDirectory(index);
  if (!KeepSubDirs) {
    // Empty the whole subtree, every directory below keeping nothing beneath it.
    std::vector<std::shared_ptr<clsISODirectory>> pending{removed};
    while (!pending.empty()) {
      std::shared_ptr<clsISODirectory> current = std::move(pending.back());
      pending.pop_back();
      for (auto& child : current->SubDirectories_) pending.push_back(std::move(child));
      current->SubDirectories_.clear();
      current->firstByFoldedName_.clear();
    }
  }
  SubDirectories_.erase(SubDirectories_.begin() + index);
  RebuildNameIndex();
}

void clsISODirectory::Clear() {
  SubDirectories_.clear();
  firstByFoldedName_.clear();
  Files_.Clear();
}

void clsISODirectory::name(std::u16string strNewVal) {
  if (strNewVal.empty() || strNewVal == name_) return;
  name_ = std::move(strNewVal);
  if (auto parent = Parent()) parent->RebuildNameIndex();
}

std::int32_t clsISODirectory::SubDirectoryCount() const {
  return static_cast<std::int32_t>(SubDirectories_.size());
}

const std::shared_ptr<clsISODirectory>& clsISODirectory::SubDirectory(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= SubDirectories_.size()) {
    ThrowSubscriptOutOfRange(index, SubDirectories_.size(), "sub-directory", "sub-directories");
  }
  return SubDirectories_[static_cast<std::size_t>(index)];
}

void clsISODirectory::RebuildNameIndex() {
  firstByFoldedName_.clear();
  for (std::size_t i = 0; i < SubDirectories_.size(); ++i) {
    firstByFoldedName_.try_emplace(text::Fold(SubDirectories_[i]->name_),
                                   static_cast<std::int32_t>(i));
  }
}

}  // namespace tavrine
