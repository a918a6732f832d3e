// Small helpers of the window: the application title, the desktop folder, paths as the system
// sees them, and the trapping of failures inside the window's handlers.
#pragma once

#include <QString>
#include <exception>
#include <string>
#include <utility>

class QWidget;

namespace tavrine::app {

class Dialogs;

inline constexpr char kProductName[] = "Tavrine";
inline constexpr char kSupportAddress[] = "support@quarnelix.example";

// The title of message boxes and input boxes without one of their own: the product name without
// its last word, shortened word by word to at most 40 characters; a one-word name is used whole.
QString SetAppTitle(const QString& productName);

// The title of message and input boxes. Kept apart from the application's display name, which
// the desktop would append to the title of every dialog.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The user's desktop folder followed by "/", or the home folder where there is no desktop folder.
QString DesktopFolder();
// The stored output folder, except that the desktop folder which earlier versions stored even
// where it does not exist gives way to DesktopFolder().
QString StoredOutputFolder(const QString& stored);

// A local path as the system takes it (bytes on Linux).
std::string NativePath(const QString& path);
// A local path for people to read: each byte that is not part of valid UTF-8 shows as "\xE9".
QString FromNativePath(const std::string& path);

// The text of the "Application Error" dialog.
QString ErrorText(const QString& description, const QString& location, int line);

// Runs a handler step by step: a step that throws shows the error dialog with the handler's
// location and the step's number, and the handler goes on with its next step.
class Trap {
 public:
  Trap(Dialogs& dialogs, QWidget* owner, QString location)
      : dialogs_(dialogs), owner_(owner), location_(std::move(location)) {}

  // True when the step ran to its end.
  template <typename Step>
  bool Run(int line, Step&& step) {
    try {
      std::forward<Step>(step)();
      return true;
    } catch (const std::exception& e) {
      Report(QString::fromUtf8(e.what()), line);
    } catch (...) {
      Report(QStringLiteral("Unknown error"), line);
    }
    return false;
  }

  void Report(const QString& description, int line) const;

 private:
  Dialogs& dialogs_;
  QWidget* owner_;
  QString location_;
};

// Where each trapping handler reports its failures.
namespace location {
inline const char kCreateIso[] = "in Tavrine2021/08/31.Form1.PushButton2_Click ";
inline const char kAddFiles[] = "in Tavrine2021/08/31.Form1.PushButton1_Click ";
inline const char kHelp[] = "in Tavrine2021/08/31.Form1.PushButton3_Click ";
inline const char kAddFolder[] = "in Tavrine2021/08/31.Form1.PushButton4_Click ";
inline const char kClearList[] = "in Tavrine2021/08/31.Form1.PushButton6_Click ";
inline const char kLoadSamples[] = "in Tavrine2021/08/31.Form1.PushButton7_Click ";
inline const char kPickOutput[] = "in Tavrine2021/08/31.Form1.PushButton9_Click ";
inline const char kLoad[] = "in Tavrine2021/08/31.Form1.Form_Load ";
inline const char kClose[] = "in Tavrine2021/08/31.Form1.Form_QueryUnload ";
inline const char kFolderScan[] = "in DorvanTitle2021/08/31.AddFolder.GetSubDirectories2016 ";
}  // namespace location

}  // namespace tavrine::app
