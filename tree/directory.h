// One directory of the image tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tree/files.h"

namespace tavrine {

// What a folder import passed over, and why. ByRule: left out by a stated rule (a symbolic link
// to a folder, a special file); otherwise it is missing from the image (a folder that cannot be
// listed, an entry that cannot be examined).
struct PassedOver {
  std::string LocalPath;
  std::string Reason;
  bool ByRule = false;
};

// What a folder import put in under another name than its own, and why.
struct Renamed {
  std::string LocalPath;
  std::u16string ImagePath;  // FullPath of its directory and the name it got
  std::string Reason;
};

struct ImportReport {
  std::vector<PassedOver> passedOver;
  std::vector<Renamed> renamed;
};

// A directory owns its sub-directories (shared, so that a subtree removed with KeepSubDirs
// lives on while a caller holds it) and its Files; it refers to its parent without owning it.
// Directories are made with Create() only, so that a child can always refer back to its parent.
class clsISODirectory : public std::enable_shared_from_this<clsISODirectory> {
  struct Token {};

 public:
  explicit clsISODirectory(Token) {}
  static std::shared_ptr<clsISODirectory> Create();
  ~clsISODirectory();
  clsISODirectory(const clsISODirectory&) = delete;
  clsISODirectory& operator=(const clsISODirectory&) = delete;

  bool NameValid() const { return NameValid_; }
  void NameValid(bool blnNewVal) { NameValid_ = blnNewVal; }
  std::int32_t DirectoryOrderPos() const { return DirectoryOrderPos_; }
  void DirectoryOrderPos(std::int32_t lngNewVal) { DirectoryOrderPos_ = lngNewVal; }
  std::int32_t DirectoryNumber() const { return DirectoryNumber_; }
  void DirectoryNumber(std::int32_t lngNewVal) { DirectoryNumber_ = lngNewVal; }

  // True when a sub-directory's name equals name ignoring case.
  bool SubDirExists(std::u16string_view name) const;
  // The name a new file called name gets in this directory: name itself when no file or
  // sub-directory here has it ignoring case, else name with "~" and the first free number
  // before its extension ("fAx.txt" -> "fAx~1.txt"), so that nothing is left out for its name.
  std::u16string FreeFileName(std::u16string_view name) const;
  // The names from the root down to this directory, each followed by "\" ("\" for the root).
  std::u16string FullPath() const;

  // Imports the local folder strPath: files whose names match one of the patterns in filter
  // become entries, and with recursive the matching sub-folders become sub-directories filled
  // the same way. Any path length and depth. Returns what was passed over and what was
  // renamed, and why. Throws InputError for a malformed pattern (before the walk) and the
  // errors of clsISOFiles::Add.
  ImportReport AddLocalDirectory(const std::string& strPath,
                                 const std::vector<std::u16string>& filter, bool recursive);

  // Appends directory (no name test) and makes this directory its parent.
  std::shared_ptr<clsISODirectory> AddSubDirectoryByRef(std::shared_ptr<clsISODirectory> directory);
  // The sub-directory named name (trimmed of spaces) ignoring case, or a new one.
  std::shared_ptr<clsISODirectory> AddSubDirectory(std::u16string_view name);
  // Removes sub-directory index; unless KeepSubDirs, empties its subtree of sub-directories.
  // OutOfRangeError outside 0 .. SubDirectoryCount() - 1.
  void RemoveSubDirectory(std::int32_t index, bool KeepSubDirs = false);
  // Empties the sub-directory list (no recursion) and Files.
  void Clear();

  const std::u16string& JolietName() const { return JolietName_; }
  void JolietName(std::u16string strNewVal) { JolietName_ = std::move(strNewVal); }
  const std::u16string& DOSName() const { return DOSName_; }
  void DOSName(std::u16string strNewVal) { DOSName_ = std::move(strNewVal); }
  const std::u16string& name() const { return name_; }
  // An empty value is ignored.
  void name(std::u16string strNewVal);
  // None (nullptr) for the root and for a directory not yet added anywhere.
  std::shared_ptr<clsISODirectory> Parent() const { return Parent_.lock(); }
  void Parent(const std::shared_ptr<clsISODirectory>& clsParent) { Parent_ = clsParent; }
  std::int32_t SubDirectoryCount() const;
  // OutOfRangeError outside 0 .. SubDirectoryCount() - 1.
  const std::shared_ptr<clsISODirectory>& SubDirectory(std::int32_t index) const;
  clsISOFiles& Files() { return Files_; }
  const clsISOFiles& Files() const { return Files_; }

 private:
  void RebuildNameIndex();

  std::weak_ptr<clsISODirectory> Parent_;
  std::vector<std::shared_ptr<clsISODirectory>> SubDirectories_;
  // Case-folded name -> index of the first sub-directory with it.
  std::unordered_map<std::u16string, std::int32_t> firstByFoldedName_;
  std::u16string name_;
  std::u16string DOSName_;
  std::u16string JolietName_;
  clsISOFiles Files_;
  std::int32_t DirectoryNumber_ = 0;
  std::int32_t DirectoryOrderPos_ = 0;
  bool NameValid_ = false;
};

}  // namespace tavrine
