// The image writer: volume identifiers, the image tree, and the build of one image file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/file_access.h"
#include "tree/date.h"
#include "tree/directory.h"

namespace tavrine {

// Receives the writer's progress. The five phase events are raised synchronously on the thread
// that runs SaveISO; every method does nothing unless overridden.
class WriterEvents {
 public:
  virtual ~WriterEvents() = default;
  virtual void BuildingFilesystem() {}
  virtual void WritingPathTable() {}
  virtual void WritingDirectoryRecords() {}
  virtual void WritingFiles(std::int32_t percent) { (void)percent; }
  virtual void WritingFinished() {}
  // Not a phase: raised while file data are copied (also inside large files, at most every few
  // MiB) with the bytes of the image written so far and the image's final size in bytes.
  virtual void BytesWritten(std::int64_t written, std::int64_t total) {
    (void)written;
    (void)total;
  }
};

// A file whose data did not go into the image completely. Its blocks hold zeros where the data
// are missing, so the image stays whole.
struct UnreadableFile {
  std::string LocalPath;
  std::u16string ImagePath;  // "\DOCS\A.TXT" form: the full path of its directory and its name
  std::string Reason;
};

// An entry whose Joliet name is not its own name: characters Windows refuses in file names
// became "_", or a name too long for its record was shortened.
struct JolietRename {
  std::u16string ImagePath;  // FullPath of its directory and its own name; "\" ends a directory
  std::u16string JolietName;
  std::string LocalPath;  // empty for a directory
  std::string Reason;
};

class clsISOWriter {
 public:
  clsISOWriter();
  clsISOWriter(const clsISOWriter&) = delete;
  clsISOWriter& operator=(const clsISOWriter&) = delete;

  // True when clsChild is clsParent itself or lies anywhere below it.
  bool DirectoryIsChildOf(const clsISODirectory& clsParent, const clsISODirectory& clsChild) const;
  // The number of leading FullPath parts the two directories share.
  std::int32_t DirectoryInPath(const clsISODirectory& clsDir1,
                               const clsISODirectory& clsDir2) const;
  // 0 for the root, 1 for a sub-directory of the root, and so on.
  std::int32_t DirectoryLevel(const clsISODirectory& clsDir) const;

  bool Joliet() const { return Joliet_; }
  void Joliet(bool blnNewVal) { Joliet_ = blnNewVal; }

  // Writes the image to file_out: into a temporary file beside it, renamed over file_out only
  // when complete; a symbolic link is written through (the file it names is replaced, the link
  // stays). A device or FIFO is written directly. An existing file in a folder that takes no
  // new file is overwritten in place, and then a failure leaves it broken. Returns false,
  // raising no event, when the output cannot be created. Any other failure throws (Error and
  // its kinds), leaving no image and, written through a temporary file, any earlier file_out
  // untouched.
  bool SaveISO(const std::string& file_out);
  // Maps the names and lays the image out as SaveISO would, writing nothing; returns the number
  // of 2048-byte blocks the image would have. Throws as SaveISO does.
  std::int64_t PlanImage();
  // Sum over all file entries of NextBlockBoundary(Size), plus 204800: the basis of the
  // percentages of the original progress display (not the image's length).
  std::int64_t ImageSize() const;

  // The identifier pairs: Joliet false reads or writes the primary volume's value (written
  // values are cleaned by the d- or a-character filter), true the Joliet value (stored as is).
  std::u16string VolumeSetID(bool Joliet) const;
  void VolumeSetID(bool Joliet, std::u16string_view strNewVal);
  DateTime VolumeCreation() const { return VolumeCreation_; }
  void VolumeCreation(const DateTime& dateNewVal) { VolumeCreation_ = dateNewVal; }
  std::u16string DataPreparerID(bool Joliet) const;
  void DataPreparerID(bool Joliet, std::u16string_view strNewVal);
  std::u16string PublisherID(bool Joliet) const;
  void PublisherID(bool Joliet, std::u16string_view strNewVal);
  std::u16string ApplicationID(bool Joliet) const;
  void ApplicationID(bool Joliet, std::u16string_view strNewVal);
  std::u16string VolumeID(bool Joliet) const;
  void VolumeID(bool Joliet, std::u16string_view strNewVal);
  std::u16string SystemID(bool Joliet) const;
  void SystemID(bool Joliet, std::u16string_view strNewVal);

  const std::shared_ptr<clsISODirectory>& Root() const { return Root_; }
  // The directory whose FullPath is strPath (exact comparison), or nullptr. A path without its
  // closing "\" is read as if it had one.
  std::shared_ptr<clsISODirectory> DirByPath(std::u16string_view strPath) const;

  // Where the events go; nullptr for nowhere. The listener must outlive the builds.
  void Listener(WriterEvents* listener) { Listener_ = listener; }
  // Files whose data could not be copied completely. Cleared when every SaveISO starts; after a
  // failed run it holds what that run had found before it stopped.
  const std::vector<UnreadableFile>& UnreadableFiles() const { return UnreadableFiles_; }
  // After SaveISO or PlanImage: the entries whose Joliet name differs from their name, in
  // depth-first order; empty without a Joliet tree.
  std::vector<JolietRename> JolietRenames() const;
  // Asks SaveISO (running on another thread, or about to start) to stop: it throws
  // CancelledError and removes the unfinished image. Cleared when SaveISO ends, however it
  // ends, so a request made while a build is being prepared stops that build.
  void RequestCancel() { CancelRequested_.store(true); }
  // For a forced quit, when no build may finish any more: removes what running builds have
  // written so far where it has a name (where the file system has no unnamed files). Safe to
  // call from a signal handler.
  static void RemoveUnfinishedImages();

 private:
  struct IdentifierPair {
    std::u16string Primary;
    std::u16string Joliet;
  };

  std::shared_ptr<clsISODirectory> Root_;
  bool Joliet_ = true;
  IdentifierPair VolumeID_{u"MY_VOL", u"My Volume"};
  IdentifierPair SystemID_{u"WIN32", u"WIN32"};
  IdentifierPair ApplicationID_{u"Tavrine", u"Tavrine"};
  IdentifierPair PublisherID_{u"Quarnelix", u"Quarnelix"};
  IdentifierPair DataPreparerID_;
  IdentifierPair VolumeSetID_;
  IdentifierPair CopyrightFileID_;
  IdentifierPair BibliographicFileID_;
  IdentifierPair AbstractFileID_;
  DateTime VolumeCreation_;
  FileRecord OutputFile_;

  WriterEvents* Listener_ = nullptr;
  std::vector<UnreadableFile> UnreadableFiles_;
  std::atomic<bool> CancelRequested_{false};
};

}  // namespace tavrine
