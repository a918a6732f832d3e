#include "image/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

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

// The image is written to a temporary file beside the target and renamed over it only when
// complete, so that a failed build never leaves a broken image or destroys an earlier one.
struct TemporaryOutput {
  std::string path;
  FileRecord record;
};

std::optional<TemporaryOutput> CreateTemporaryOutput(const std::string& target) {
  if (target.empty() || target.back() == '/') return std::nullopt;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return std::nullopt;
    // An existing file we may not write stays as it is, as creating it over would fail.
    if (::access(target.c_str(), W_OK) != 0) return std::nullopt;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = (folder.empty() ? std::string() : folder) + "/." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd == -1) return std::nullopt;
  // mkstemp makes the file 0600; an image gets the mode any new file of the user gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  return TemporaryOutput{buffer.data(), FileRecord{fd, buffer.data()}};
}

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

bool clsISOWriter::SaveISO(const std::string& file_out) {
  UnreadableFiles_.clear();
  CancelRequested_.store(false);
  std::optional<TemporaryOutput> output = CreateTemporaryOutput(file_out);
  if (!output) return false;
  OutputFile_ = output->record;

  try {
    if (Listener_ != nullptr) Listener_->BuildingFilesystem();
    detail::MapNames(*Root_);
    const detail::ImageLayout layout = detail::LayOut(*Root_, Joliet_);

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
    ProgressTotal_ = total;
    FileDataEvents events(Listener_, total, CancelRequested_, file_out);
    detail::WriteFileData(sink, layout, events, UnreadableFiles_);
    sink.Flush();
    ProgressTotal_ = 0;
    if (Listener_ != nullptr) Listener_->BytesWritten(sink.Position(), total);

    CloseFileRecord(OutputFile_);
    if (::rename(output->path.c_str(), file_out.c_str()) != 0) {
      const int error = errno;
      throw IoError("cannot replace " + file_out + ": " + std::strerror(error));
    }
  } catch (...) {
    ProgressTotal_ = 0;
    if (OutputFile_.Handle != -1) CloseFileRecord(OutputFile_);
    OutputFile_.Handle = -1;
    ::unlink(output->path.c_str());
    throw;
  }
  if (Listener_ != nullptr) Listener_->WritingFinished();
  return true;
}

}  // namespace tavrine
