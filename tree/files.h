// File entries of one image directory, and the collection that owns them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tree/date.h"

namespace tavrine {

class clsISOFiles;

// The image name of a local file or folder name (bytes): text::FromLocalName, with every "\"
// (the separator of image paths) made "_". When why is given, it receives why the name differs
// from the local one (empty when it does not).
std::u16string ImageNameOf(std::string_view localName, std::string* why = nullptr);
// As ImageNameOf, for a caller that holds text::FromLocalName(localName) already, as shown.
std::u16string ImageNameOf(std::string_view localName, std::u16string shown, std::string* why);

// One file of the image: a name in the image tied to a local file.
class clsISOFile {
 public:
  DateTime CreationDate() const { return CreationDate_; }
  void CreationDate(const DateTime& dtNewDate) { CreationDate_ = dtNewDate; }
  std::int32_t SortNumber() const { return SortNumber_; }
  void SortNumber(std::int32_t lngNewVal) { SortNumber_ = lngNewVal; }
  // First block of the data in the image; 0 for an entry whose Size is not positive.
  std::int64_t LBA() const { return LBA_; }
  void LBA(std::int64_t lngNewVal) { LBA_ = lngNewVal; }
  const std::u16string& JolietName() const { return JolietName_; }
  void JolietName(std::u16string strNewVal) { JolietName_ = std::move(strNewVal); }
  const std::u16string& DOSName() const { return DOSName_; }
  void DOSName(std::u16string strNewVal) { DOSName_ = std::move(strNewVal); }
  // The entry's name in the image before name mapping. Renaming keeps the owning collection's
  // name index true.
  const std::u16string& name() const { return name_; }
  void name(std::u16string strNewVal);
  // Native local path, handed to the system unchanged.
  const std::string& LocalPath() const { return LocalPath_; }
  void LocalPath(std::string strNewVal) { LocalPath_ = std::move(strNewVal); }
  std::int64_t Size() const { return Size_; }
  void Size(std::int64_t lngNewVal) { Size_ = lngNewVal; }

 private:
  friend class clsISOFiles;

  clsISOFiles* owner_ = nullptr;
  std::u16string name_;
  std::u16string DOSName_;
  std::u16string JolietName_;
  std::string LocalPath_;
  std::int64_t Size_ = 0;
  std::int32_t SortNumber_ = 0;
  std::int64_t LBA_ = 0;
  DateTime CreationDate_;
};

// The ordered file entries of one directory (order of addition, never sorted), and that
// directory's extent lengths and first blocks for the ISO 9660 and the Joliet tree.
class clsISOFiles {
 public:
  clsISOFiles() = default;
  clsISOFiles(const clsISOFiles&) = delete;
  clsISOFiles& operator=(const clsISOFiles&) = delete;

  // True when an entry's name equals name ignoring case. Constant time (an index of case-folded
  // names sits beside the ordered list).
  bool FileExists(std::u16string_view name) const;
  // The entry whose name equals name ignoring case, nullptr when there is none. Constant time.
  // Where renames have left several entries with one name, the first of them in index order.
  clsISOFile* FindFile(std::u16string_view name) const;

  std::int64_t Blocks() const { return Blocks_; }
  void Blocks(std::int64_t lngNewVal) { Blocks_ = lngNewVal; }
  std::int64_t BlocksJoliet() const { return BlocksJoliet_; }
  void BlocksJoliet(std::int64_t lngNewVal) { BlocksJoliet_ = lngNewVal; }
  std::int64_t LBAJoliet() const { return LBAJoliet_; }
  void LBAJoliet(std::int64_t lngNewVal) { LBAJoliet_ = lngNewVal; }
  std::int64_t LBA() const { return LBA_; }
  void LBA(std::int64_t lngNewVal) { LBA_ = lngNewVal; }

  // Empties the list; Blocks, BlocksJoliet, LBA and LBAJoliet keep their values.
  void Clear();
  std::int32_t Count() const;
  // Entry index; OutOfRangeError outside 0 .. Count() - 1.
  clsISOFile& File(std::int32_t index) const;
  // Lets entry index go; OutOfRangeError outside 0 .. Count() - 1, nothing changed.
  void Remove(std::int32_t index);
  // Appends an entry for localfile named name (or ImageNameOf the part of localfile after its
  // last "/", when name is empty). Returns nullptr and adds nothing when localfile is empty,
  // the name holds "\" or "/" or is "." or "..", or the name exists already ignoring case. Throws
  // IoError naming the path when its length cannot be read, and InputError when it is not a
  // regular file.
  clsISOFile* Add(const std::string& localfile, std::u16string_view name = {});
  // As Add, for a caller that holds the file's folder open as the descriptor folder, where the
  // file is nameInFolder: one step of lookup instead of the whole path.
  clsISOFile* Add(const std::string& localfile, std::u16string_view name, int folder,
                  const std::string& nameInFolder);

 private:
  friend class clsISOFile;
  // Keep foldedNames_ true when an entry's name changes or an entry leaves.
  void Renamed(clsISOFile& entry, const std::u16string& oldName);
  void Reindex(const std::u16string& folded);

  std::vector<std::unique_ptr<clsISOFile>> FileEntries_;
  // Case-folded name -> the first entry (in index order) with it.
  std::unordered_map<std::u16string, clsISOFile*> foldedNames_;
  std::int64_t Blocks_ = 0;
  std::int64_t BlocksJoliet_ = 0;
  std::int64_t LBA_ = 0;
  std::int64_t LBAJoliet_ = 0;
};

}  // namespace tavrine
