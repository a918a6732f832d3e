#include "image/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "fileio/paths.h"
#include "fileio/temporary_file.h"
#include "image/encoding.h"
#include "image/file_data.h"
#include "image/layout.h"
#include "image/names.h"
#include "image/records.h"
#include "image/sink.h"
#include "tree/errors.h"

namespace tavrine {

namespace {

// FullPath split at every "\": "\" gives {"", ""}, "\A\B\" gives {"", "A", "B", ""}.
std::vector<std::u16string_view> PathParts(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = path.find(u'\\', from);
    parts.push_back(path.substr(from, at == std::u16string_view::npos ? path.npos : at - from));
    if (at == std::u16string_view::npos) return parts;
    from = at + 1;
  }
}

std::int32_t CountSharedParts(const std::u16string& path1, const std::u16string& path2) {
  const auto parts1 = PathParts(path1);
  const auto parts2 = PathParts(path2);
  const std::size_t last = std::min(parts1.size(), parts2.size()) - 1;
  std::int32_t count = 0;
  for (std::size_t i = 0; i <= last && parts1[i] == parts2[i]; ++i) ++count;
  return count;
}

std::int64_t TotalFileBytes(clsISODirectory& root) {
  std::int64_t total = 0;
  for (const clsISODirectory* directory : detail::PreOrder(root)) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      total += detail::NextBlockBoundary(files.File(i).Size());
    }
  }
  return total;
}

// The identifier pairs: the primary volume's value passes the d- or a-character filter, the
// Joliet value is kept as given.
template <class Pair>
std::u16string Read(const Pair& pair, bool joliet) {
  return joliet ? pair.Joliet : pair.Primary;
}

template <class Pair>
void Store(Pair& pair, bool joliet, std::u16string_view value,
           std::u16string (*primaryFilter)(std::u16string_view)) {
  if (joliet) {
    pair.Joliet = value;
  } else {
    pair.Primary = primaryFilter(value);
  }
}

// Where the image goes. Usually a temporary file beside the target, named over it only when
// complete, so that a failed build never leaves a broken image or destroys an earlier one.
// Devices and FIFOs are written directly: they cannot be replaced, and writing to them cannot
// be undone anyway.
struct Output {
  TemporaryFile temporary;  // record.Handle -1 when the target itself is open
  FileRecord direct;
  std::string replaced;  // the file the temporary takes the name of
  bool durable = false;  // an earlier file is replaced: it must survive a power cut
  Output() { temporary.record.Handle = direct.Handle = -1; }
  FileRecord& record() { return temporary.record.Handle != -1 ? temporary.record : direct; }
};

// The file a chain of symbolic links ends in, so that a link stays a link and the file behind
// it gets the image (each link's text read relative to its own folder); any other path is its
// own file.
std::string FileBehind(const std::string& target) {
  std::string path = target;
  for (int hops = 0; hops < 40; ++hops) {  // the system's own limit; a loop is refused before
    LinkTarget link = ReadLinkTarget(path);
    if (link.path.empty()) return path;
    path = std::move(link.path);
  }
  return path;
}

std::optional<Output> OpenDirectly(const std::string& target, std::uint32_t disposition) {
  Output output;
  output.direct = OpenFileRecord(target, GENERIC_WRITE, SHARE_READ_WRITE, disposition);
  if (output.direct.Handle == -1) return std::nullopt;
  return output;
}

// Opens the output of target, or nullopt when it cannot be created: no name, a directory, links
// in a loop, an existing file we may not write, or a folder that does not exist or takes no
// new file.
std::optional<Output> CreateOutput(const std::string& target) {
  if (target.empty() || target.back() == '/') return std::nullopt;
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  // Links in a loop lead to no file: writing one of them over would destroy a link.
  if (!exists && errno == ELOOP) return std::nullopt;
  if (exists && S_ISDIR(st.st_mode)) return std::nullopt;
  // A device, FIFO or socket is opened as it is: no creation, no truncation.
  if (exists && !S_ISREG(st.st_mode)) return OpenDirectly(target, OPEN_EXISTING);
  // An existing file we may not write stays as it is, as creating it over would fail.
  if (exists && ::access(target.c_str(), W_OK) != 0) return std::nullopt;
  const std::string file = FileBehind(target);
  Output output;
  output.temporary = CreateTemporaryFile(FolderOfPath(file));
  if (output.temporary.record.Handle != -1) {
    output.replaced = file;
    output.durable = exists;
    // The replaced file's permissions and, where we may give it, its owner: a private image
    // stays private. Only the superuser may give a file away; the image then stays ours.
    if (exists) {
      ::fchmod(output.temporary.record.Handle, st.st_mode & 07777);
      // Refused unless we are the superuser or the owner already: either way the image is whole.
      [[maybe_unused]] const int given =
          ::fchown(output.temporary.record.Handle, st.st_uid, st.st_gid);
    }
    return output;
  }
  // No new file in its folder, but the file itself may be written: overwritten in place, losing
  // the earlier image should writing fail. Every check of the layout has passed by now.
  if (exists) return OpenDirectly(file, CREATE_ALWAYS);
  return std::nullopt;
}

// Clears a cancel request when a build ends, however it ends; a request made before the build
// started is honoured by it.
class CancelReset {
 public:
  explicit CancelReset(std::atomic<bool>& flag) : flag_(flag) {}
  ~CancelReset() { flag_.store(false); }
  CancelReset(const CancelReset&) = delete;
  CancelReset& operator=(const CancelReset&) = delete;

 private:
  std::atomic<bool>& flag_;
};

// Raises the writer's events for the file data and stops the copy on request.
class FileDataEvents final : public detail::FileDataObserver {
 public:
  FileDataEvents(WriterEvents* listener, std::int64_t total, const std::atomic<bool>& cancel,
                 std::string target)
      : listener_(listener), total_(total), cancel_(cancel), target_(std::move(target)) {}

  void BeforeFile(std::int64_t position) override {
    if (listener_ == nullptr) return;
    // Against the image's real size, halves to even; not clamped.
    const double percent =
        std::nearbyint(static_cast<double>(position) / static_cast<double>(total_) * 100.0);
    listener_->WritingFiles(static_cast<std::int32_t>(percent));
  }

  void Progress(std::int64_t position) override {
    if (listener_ == nullptr || position - reported_ < kReportEvery) return;
    reported_ = position;
    listener_->BytesWritten(position, total_);
  }

  void CheckCancel() override {
    if (cancel_.load()) throw CancelledError("the build of " + target_ + " was cancelled");
  }

 private:
  static constexpr std::int64_t kReportEvery = std::int64_t{4} << 20;
  WriterEvents* listener_;
  std::int64_t total_;
  const std::atomic<bool>& cancel_;
  std::string target_;
  std::int64_t reported_ = 0;
};

}  // namespace

clsISOWriter::clsISOWriter()
    : Root_(clsISODirectory::Create()), VolumeCreation_(DateTime::LocalNow()) {
  OutputFile_.Handle = -1;
}

bool clsISOWriter::DirectoryIsChildOf(const clsISODirectory& clsParent,
                                      const clsISODirectory& clsChild) const {
  return DirectoryLevel(clsParent) < DirectoryInPath(clsParent, clsChild);
}

std::int32_t clsISOWriter::DirectoryInPath(const clsISODirectory& clsDir1,
                                           const clsISODirectory& clsDir2) const {
  return CountSharedParts(clsDir1.FullPath(), clsDir2.FullPath());
}

std::int32_t clsISOWriter::DirectoryLevel(const clsISODirectory& clsDir) const {
  // The number of the last part, minus one.
  return static_cast<std::int32_t>(PathParts(clsDir.FullPath()).size()) - 2;
}

std::shared_ptr<clsISODirectory> clsISOWriter::DirByPath(std::u16string_view strPath) const {
  if (strPath.empty() || strPath.front() != u'\\') return nullptr;
  if (strPath == u"\\") return Root_;
  std::u16string path(strPath);
  if (path.back() != u'\\') path.push_back(u'\\');
  std::shared_ptr<clsISODirectory> current = Root_;
  for (std::u16string_view component :
       PathParts(std::u16string_view(path).substr(1, path.size() - 2))) {
    std::shared_ptr<clsISODirectory> found;
    for (std::int32_t i = 0; i < current->SubDirectoryCount(); ++i) {
      if (current->SubDirectory(i)->name() == component) {
        found = current->SubDirectory(i);
        break;
      }
    }
    if (!found) return nullptr;
    current = std::move(found);
  }
  return current;
}

std::int64_t clsISOWriter::ImageSize() const {
  return TotalFileBytes(*Root_) + 204800;
}

std::u16string clsISOWriter::VolumeSetID(bool Joliet) const {
  return Read(VolumeSetID_, Joliet);
}
void clsISOWriter::VolumeSetID(bool Joliet, std::u16string_view strNewVal) {
  Store(VolumeSetID_, Joliet, strNewVal, detail::SanitizeDString);
}
std::u16string clsISOWriter::DataPreparerID(bool Joliet) const {
  return Read(DataPreparerID_, Joliet);
}
void clsISOWriter::DataPreparerID(bool Joliet, std::u16string_view strNewVal) {
  Store(DataPreparerID_, Joliet, strNewVal, detail::SanitizeAString);
}
std::u16string clsISOWriter::PublisherID(bool Joliet) const {
  return Read(PublisherID_, Joliet);
}
void clsISOWriter::PublisherID(bool Joliet, std::u16string_view strNewVal) {
  Store(PublisherID_, Joliet, strNewVal, detail::SanitizeAString);
}
std::u16string clsISOWriter::ApplicationID(bool Joliet) const {
  return Read(ApplicationID_, Joliet);
}
void clsISOWriter::ApplicationID(bool Joliet, std::u16string_view strNewVal) {
  Store(ApplicationID_, Joliet, strNewVal, detail::SanitizeAString);
}
std::u16string clsISOWriter::VolumeID(bool Joliet) const {
  return Read(VolumeID_, Joliet);
}
void clsISOWriter::VolumeID(bool Joliet, std::u16string_view strNewVal) {
  Store(VolumeID_, Joliet, strNewVal, detail::SanitizeDString);
}
std::u16string clsISOWriter::SystemID(bool Joliet) const {
  return Read(SystemID_, Joliet);
}
void clsISOWriter::SystemID(bool Joliet, std::u16string_view strNewVal) {
  Store(SystemID_, Joliet, strNewVal, detail::SanitizeAString);
}

std::int64_t clsISOWriter::PlanImage() {
  detail::MapNames(*Root_);
  return detail::LayOut(*Root_, Joliet_).volumeBlocks;
}

void clsISOWriter::RemoveUnfinishedImages() {
  RemoveTemporaryFiles();
}

namespace {

std::string WhyJolietRenamed(std::u16string_view name) {
  if (std::any_of(name.begin(), name.end(), detail::JolietRefuses)) {
    return "Windows refuses some of its characters in file names";
  }
  if (name.size() > detail::kMaxJolietName) {
    return "it is longer than the " + std::to_string(detail::kMaxJolietName) +
           " UTF-16 units a record holds";
  }
  return "another name in its directory became the same";
}

}  // namespace

std::vector<JolietRename> clsISOWriter::JolietRenames() const {
  std::vector<JolietRename> renames;
  if (!Joliet_) return renames;
  for (const clsISODirectory* directory : detail::PreOrder(*Root_)) {
    const std::u16string path = directory->FullPath();
    for (std::int32_t i = 0; i < directory->SubDirectoryCount(); ++i) {
      const clsISODirectory& sub = *directory->SubDirectory(i);
      if (sub.JolietName() != sub.name()) {
        renames.push_back(
            {path + sub.name() + u'\\', sub.JolietName(), {}, WhyJolietRenamed(sub.name())});
      }
    }
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      const clsISOFile& file = files.File(i);
      if (file.JolietName() != file.name()) {
        renames.push_back({path + file.name(), file.JolietName(), file.LocalPath(),
                           WhyJolietRenamed(file.name())});
      }
    }
  }
  return renames;
}

bool clsISOWriter::SaveISO(const std::string& file_out) {
  const CancelReset cancelReset(CancelRequested_);
  UnreadableFiles_.clear();
  // Everything the layout may refuse is refused before the output is opened in any mode: an
  // image overwritten in place is never cut short by a check.
  detail::MapNames(*Root_);
  const detail::ImageLayout layout = detail::LayOut(*Root_, Joliet_);
  std::optional<Output> output = CreateOutput(file_out);
  if (!output) return false;
  OutputFile_ = output->record();

  try {
    if (Listener_ != nullptr) Listener_->BuildingFilesystem();

    detail::DescriptorInput input;
    input.creation = VolumeCreation_;
    input.iso = {SystemID_.Primary,        VolumeID_.Primary,       VolumeSetID_.Primary,
                 PublisherID_.Primary,     DataPreparerID_.Primary, ApplicationID_.Primary,
                 CopyrightFileID_.Primary, AbstractFileID_.Primary, BibliographicFileID_.Primary};
    input.joliet = {SystemID_.Joliet,        VolumeID_.Joliet,       VolumeSetID_.Joliet,
                    PublisherID_.Joliet,     DataPreparerID_.Joliet, ApplicationID_.Joliet,
                    CopyrightFileID_.Joliet, AbstractFileID_.Joliet, BibliographicFileID_.Joliet};

    detail::FileSink sink(OutputFile_, file_out);
    detail::WriteDirectoryStructures(sink, input, layout, *Root_, [&](detail::Phase phase) {
      if (CancelRequested_.load())
        throw CancelledError("the build of " + file_out + " was cancelled");
      if (Listener_ == nullptr) return;
      if (phase == detail::Phase::PathTables) Listener_->WritingPathTable();
      if (phase == detail::Phase::DirectoryRecords) Listener_->WritingDirectoryRecords();
    });

    const std::int64_t total = layout.volumeBlocks * detail::kBlockSize;
    FileDataEvents events(Listener_, total, CancelRequested_, file_out);
    detail::WriteFileData(sink, layout, events, UnreadableFiles_);
    sink.Flush();
    if (Listener_ != nullptr) Listener_->BytesWritten(sink.Position(), total);

    // A late write failure (NFS, some full disks) shows only at the sync or the close: the
    // image is then not whole and must not replace anything.
    if (output->temporary.record.Handle != -1) {
      const int committed =
          CommitTemporaryFile(output->temporary, output->replaced, output->durable);
      const int error = errno;
      if (committed == -1)
        throw IoError("cannot finish writing " + file_out + ": " + std::strerror(error));
      if (committed != 0)
        throw IoError("cannot replace " + output->replaced + ": " + std::strerror(error));
    } else if (CloseFileRecord(output->direct) != 0) {
      const int error = errno;
      throw IoError("cannot finish writing " + file_out + ": " + std::strerror(error));
    }
    OutputFile_.Handle = -1;
    OutputFile_.Path.clear();
  } catch (...) {
    DiscardTemporaryFile(output->temporary);  // nothing to do once committed
    CloseFileRecord(output->direct);
    OutputFile_.Handle = -1;
    OutputFile_.Path.clear();
    throw;
  }
  if (Listener_ != nullptr) Listener_->WritingFinished();
  return true;
}

}  // namespace tavrine
