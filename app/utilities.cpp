#include "app/utilities.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/dialogs.h"

namespace tavrine::app {

QString SetAppTitle(const QString& productName) {
  QStringList words = productName.split(QLatin1Char(' '));
  if (words.size() < 2) return productName;
  do {
    words.removeLast();
  } while (words.size() > 1 && words.join(QLatin1Char(' ')).size() > 40);
  return words.join(QLatin1Char(' '));
}

namespace {
QString& Title() {
  static QString title;
  return title;
}
}  // namespace

void SetApplicationTitle(const QString& title) {
  Title() = title;
}

QString ApplicationTitle() {
  return Title();
}

QString WhyNotCreated(const std::string& output) {
  struct stat st {};
  if (::stat(output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return QStringLiteral("it is a folder");
    if (::access(output.c_str(), W_OK) != 0) return QString::fromLocal8Bit(std::strerror(errno));
  }
  // The folder's own answer to a new file, as the writer asked for one.
  const std::size_t slash = output.rfind('/');
  std::string probe = (slash == std::string::npos ? std::string(".") : output.substr(0, slash)) +
                      "/.tavrine-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
  ::close(fd);
  ::unlink(probe.c_str());
  return QStringLiteral("the system refused it");
}

QString DesktopFolder() {
  // The desktop folder is a name from the user's folder settings; many systems have none.
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  const QString folder = QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString StoredOutputFolder(const QString& stored) {
  const QString oldDefault =
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/');
  return stored == oldDefault && !QFileInfo(stored).isDir() ? DesktopFolder() : stored;
}

std::string NativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QString FromNativePath(const std::string& path) {
  QString out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(path.data());
  const std::size_t n = path.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = bytes[i];
    const std::size_t length = c < 0x80                 ? 1
                               : c >= 0xC2 && c <= 0xDF ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    bool valid = length > 0 && i + length <= n;
    for (std::size_t k = 1; valid && k < length; ++k) valid = (bytes[i + k] & 0xC0) == 0x80;
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if (valid && length > 2) {
      const unsigned char next = bytes[i + 1];
      valid = !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0) &&
              !(c == 0xF0 && next < 0x90) && !(c == 0xF4 && next >= 0x90);
    }
    if (valid) {
      out += QString::fromUtf8(path.data() + i, static_cast<qsizetype>(length));
      i += length;
    } else {
      out += QStringLiteral("\\x") + QString::number(c, 16).toUpper();  // c >= 0x80
      ++i;
    }
  }
  return out;
}

QString ErrorText(const QString& description, const QString& location, int line) {
  return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
         QString::number(line) + QStringLiteral("\r\n\r\n") +
         QStringLiteral("Please email screenshot of this message to ") +
         QLatin1String(kSupportAddress);
}

void Trap::Report(const QString& description, int line) const {
  dialogs_.Error(owner_, ErrorText(description, location_, line));
}

}  // namespace tavrine::app
