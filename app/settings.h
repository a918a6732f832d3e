// The settings kept between runs: organization and application "Quarnelix", group "Tavrine".
#pragma once

#include <QString>

namespace tavrine::app {

class Settings {
 public:
  // Reads key, or defaultValue when it is absent.
  QString Read(const QString& key, const QString& defaultValue) const;
  // Writes key at once.
  void Write(const QString& key, const QString& value);
};

namespace key {
inline const char kOutputFolder[] = "Text1";
inline const char kIsoType[] = "Combo1";
inline const char kLastFolderDot[] = "LastFolderDot";
inline const char kExtension[] = "Extension";
inline const char kLastFolder[] = "LastFolder";
inline const char kFileName[] = "FileName";  // the image file's name
inline const char kGeometry[] = "Geometry";  // the window's size and place
}  // namespace key

}  // namespace tavrine::app
