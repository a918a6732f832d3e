#include "app/add_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/dialogs.h"
#include "app/utilities.h"
#include "tree/text.h"
#include "tree/wildcard.h"

namespace fs = std::filesystem;

namespace tavrine::app {
namespace {

constexpr char kSeparator = '/';

std::u16string ToU16(const QString& s) {
  return s.toStdU16String();
}

// A directory search knows two wildcards, "*" and "?"; everything else is itself. The matcher
// also reads "#" as a digit and "[" as the start of a list, so each of them goes in as a
// one-member list, which no text can make malformed ("]" outside a list is itself already).
std::u16string DirectorySearchPattern(const QString& pattern) {
  std::u16string out;
  for (const char16_t c : text::Fold(ToU16(pattern))) {
    if (c == u'#' || c == u'[') {
      out += {u'[', c, u']'};
    } else {
      out += c;
    }
  }
  return out;
}

// A directory-search pattern: compared without regard to case, and a trailing ".*" also matches
// names without any dot.
class NamePattern {
 public:
  explicit NamePattern(const QString& pattern)
      : pattern_(DirectorySearchPattern(pattern)),
        optionalDot_(pattern.endsWith(QLatin1String(".*"))) {}

  bool Matches(const std::string& nativeName) const {
    const std::u16string name = text::Fold(text::FromUtf8(nativeName));
    return pattern_.Matches(name) || (optionalDot_ && pattern_.Matches(name + u"."));
  }

 private:
  WildcardPattern pattern_;
  bool optionalDot_;
};

// The names of one folder's entries in ascending byte order; none when it cannot be listed.
std::vector<std::string> SortedNames(const std::string& folder, std::error_code& ec) {
  std::vector<std::string> names;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().native());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectoryNotLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Walks one folder entry, appending its sub-folders to children. False when the folder vanished
// or may not be read, so that the caller drops it.
bool WalkOneFolder(const std::string& entry, std::vector<std::string>& children,
                   const WalkHooks& hooks) {
  if (entry.size() >= kPathLimit || !IsFolder(entry)) return true;
  if (hooks.yield) hooks.yield();
  std::error_code ec;
  const std::vector<std::string> names = SortedNames(entry, ec);
  if (ec) {
    if (ec == std::errc::permission_denied || ec == std::errc::no_such_file_or_directory ||
        ec == std::errc::not_a_directory) {
      return false;
    }
    if (hooks.error) {
      hooks.error(QStringLiteral("Cannot list the folder ") + FromNativePath(entry) +
                  QStringLiteral(": ") + QString::fromStdString(ec.message()));
    }
    return true;
  }
  for (const std::string& name : names) {
    const std::string child = entry + name;
    if (child.size() + 1 >= kPathLimit || !IsDirectoryNotLink(child)) continue;
    if (HasOddCharacters(FromNativePath(name))) continue;
    children.push_back(child + kSeparator);
  }
  return true;
}

}  // namespace

std::string CleanPath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  if (!path.empty() && path[0] == kSeparator) {
    out += kSeparator;
    while (i < path.size() && path[i] == kSeparator) ++i;
  }
  while (i < path.size()) {
    out += path[i];
    // A separator swallows the one right after it; the pair is not looked at again.
    if (path[i] == kSeparator && i + 1 < path.size() && path[i + 1] == kSeparator) ++i;
    ++i;
  }
  return out;
}

bool HasOddCharacters(const QString& name) {
  for (char32_t c : name.toUcs4()) {
    if (c == U'?' || c < 32 || (c >= 127 && c <= 159)) return true;
  }
  return false;
}

bool IsUsableFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsHiddenArchiveOnly(const std::string& path) {
  const std::size_t slash = path.rfind(kSeparator);
  const bool dotName = path.size() > slash + 1 && path[slash + 1] == '.';  // npos + 1 is 0
  struct stat st {};
  return dotName && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (st.st_mode & S_IWUSR) != 0;
}

std::vector<std::string> ListFiles(const std::string& folder, const QString& pattern) {
  const NamePattern matcher(pattern);
  const std::string base = folder.ends_with(kSeparator) ? folder : folder + kSeparator;
  std::error_code ec;
  std::vector<std::string> names;
  for (std::string& name : SortedNames(base, ec)) {
    if (matcher.Matches(name) && IsUsableFile(base + name)) names.push_back(std::move(name));
  }
  return names;
}

void GetSubDirectories2016(std::vector<std::string>& folders, bool recursive,
                           const WalkHooks& hooks) {
  // Entries before levelEnd belong to the level being walked; their sub-folders are appended
  // behind them, which gives level order.
  std::size_t levelEnd = folders.size();
  std::size_t i = 0;
  while (i < folders.size()) {
    if (i == levelEnd) {
      if (!recursive) break;
      levelEnd = folders.size();
    }
    std::vector<std::string> children;
    if (WalkOneFolder(folders[i], children, hooks)) {
      folders.insert(folders.end(), children.begin(), children.end());
      ++i;
    } else {
      folders.erase(folders.begin() + static_cast<std::ptrdiff_t>(i));
      --levelEnd;
    }
  }
}

void ImportFolderTree(const std::string& folder, const QString& pattern,
                      const std::string& imageFolder, const WalkHooks& hooks,
                      const std::function<void(std::vector<ListedFile>)>& take) {
  const std::string start = folder.ends_with(kSeparator) ? folder : folder + kSeparator;
  std::vector<std::string> folders{start};
  GetSubDirectories2016(folders, true, hooks);
  for (const std::string& entry : folders) {
    const std::string base = entry.substr(0, entry.size() - 1);
    // The walk builds every entry on the start folder, so what follows it is the way down.
    std::string inImage = imageFolder;
    if (base.size() > start.size()) {
      if (!inImage.empty()) inImage += kSeparator;
      inImage.append(base, start.size());
    }
    std::vector<ListedFile> files;
    for (const std::string& name : ListFiles(base, pattern)) {
      if (name.starts_with('~')) continue;
      const std::string path = base + kSeparator + name;
      if (IsHiddenArchiveOnly(path)) continue;
      files.push_back({CleanPath(path), inImage});
    }
    if (!files.empty()) take(std::move(files));
    if (hooks.yield) hooks.yield();
  }
}

std::string LocalPathFromDialog(const QString& path) {
  const std::string native = NativePath(path);
  struct stat st {};
  if (!path.contains(QChar::ReplacementCharacter) || ::lstat(native.c_str(), &st) == 0) {
    return native;
  }
  const QStringList parts = path.split(QLatin1Char(kSeparator));
  std::string real = NativePath(parts.front());  // empty for an absolute path
  for (qsizetype i = 1; i < parts.size(); ++i) {
    std::string name = NativePath(parts[i]);
    if (parts[i].contains(QChar::ReplacementCharacter) &&
        ::lstat((real + kSeparator + name).c_str(), &st) != 0) {
      // The entries of the folder as the dialog read them.
      std::error_code ec;
      std::vector<std::string> fits;
      for (const std::string& entry : SortedNames(real.empty() ? "/" : real, ec)) {
        if (QFile::decodeName(QByteArray::fromStdString(entry)) == parts[i]) fits.push_back(entry);
      }
      if (fits.size() != 1) return native;
      name = fits.front();
    }
    real += kSeparator;
    real += name;
  }
  return real;
}

QString BrowseForFolder(Dialogs& dialogs, QWidget* owner, const QString& title,
                        const QString& startFolder) {
  QString folder = dialogs.PickFolder(owner, title, startFolder);
  const qsizetype nul = folder.indexOf(QChar(0));
  if (nul >= 0) folder.truncate(nul);
  if (NativePath(folder).size() >= kPathLimit) return QString();
  return folder;
}

}  // namespace tavrine::app
