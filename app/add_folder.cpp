#include "app/add_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr QChar kSeparator = QLatin1Char('/');

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
bool WalkOneFolder(const QString& entry, QStringList& children, const WalkHooks& hooks) {
  const std::string native = NativePath(entry);
  if (native.size() >= kPathLimit || !IsFolder(entry)) return true;
  if (hooks.yield) hooks.yield();
  std::error_code ec;
  const std::vector<std::string> names = SortedNames(native, ec);
  if (ec) {
    if (ec == std::errc::permission_denied || ec == std::errc::no_such_file_or_directory ||
        ec == std::errc::not_a_directory) {
      return false;
    }
    if (hooks.error) {
      hooks.error(QStringLiteral("Cannot list the folder ") + entry + QStringLiteral(": ") +
                  QString::fromStdString(ec.message()));
    }
    return true;
  }
  for (const std::string& name : names) {
    const std::string child = native + name;
    if (child.size() + 1 >= kPathLimit || !IsDirectoryNotLink(child)) continue;
    const QString qname = FromNativePath(name);
    if (HasOddCharacters(qname)) continue;
    children << entry + qname + kSeparator;
  }
  return true;
}

}  // namespace

QString CleanPath(const QString& path) {
  QString out;
  out.reserve(path.size());
  qsizetype i = 0;
  if (path.startsWith(kSeparator)) {
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

bool IsUsableFile(const QString& path) {
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

bool IsFolder(const QString& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsHiddenArchiveOnly(const QString& path) {
  const QString name = path.section(kSeparator, -1);
  struct stat st {};
  return name.startsWith(QLatin1Char('.')) && ::stat(NativePath(path).c_str(), &st) == 0 &&
         S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) != 0;
}

QStringList ListFiles(const QString& folder, const QString& pattern) {
  const NamePattern matcher(pattern);
  const QString base = folder.endsWith(kSeparator) ? folder : folder + kSeparator;
  std::error_code ec;
  QStringList names;
  for (const std::string& name : SortedNames(NativePath(base), ec)) {
    if (!matcher.Matches(name)) continue;
    const QString qname = FromNativePath(name);
    if (IsUsableFile(base + qname)) names << qname;
  }
  return names;
}

void GetSubDirectories2016(QStringList& folders, bool recursive, const WalkHooks& hooks) {
  // Entries before levelEnd belong to the level being walked; their sub-folders are appended
  // behind them, which gives level order.
  qsizetype levelEnd = folders.size();
  qsizetype i = 0;
  while (i < folders.size()) {
    if (i == levelEnd) {
      if (!recursive) break;
      levelEnd = folders.size();
    }
    QStringList children;
    if (WalkOneFolder(folders[i], children, hooks)) {
      folders << children;
      ++i;
    } else {
      folders.removeAt(i);
      --levelEnd;
    }
  }
}

void ImportFolderTree(const QString& folder, const QString& pattern, const WalkHooks& hooks,
                      const std::function<void(const QStringList&)>& take) {
  QStringList folders{folder.endsWith(kSeparator) ? folder : folder + kSeparator};
  GetSubDirectories2016(folders, true, hooks);
  for (const QString& entry : folders) {
    const QString base = entry.chopped(1);
    QStringList paths;
    for (const QString& name : ListFiles(base, pattern)) {
      if (name.startsWith(QLatin1Char('~'))) continue;
      const QString path = base + kSeparator + name;
      if (IsHiddenArchiveOnly(path)) continue;
      paths << CleanPath(path);
    }
    if (!paths.isEmpty()) take(paths);
    if (hooks.yield) hooks.yield();
  }
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
