#include "app/utilities.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include "app/dialogs.h"
#include "tree/text.h"

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
  return QString::fromStdString(text::ShowLocalName(path));
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
