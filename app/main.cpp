// Tavrine's window.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/dialogs.h"
#include "app/form1.h"

namespace {

// Where Samples/ is: next to the program in the build folder, else in the installed data
// folder, found relative to the program so that a moved or staged installation still finds it.
QString ProgramFolder() {
  const QString here = QCoreApplication::applicationDirPath();
  const QString installed = QDir::cleanPath(here + QStringLiteral("/" TAVRINE_DATA_FROM_BIN));
  if (QDir(here + QStringLiteral("/Samples")).exists() || !QDir(installed).exists()) return here;
  return installed;
}

// Answers every dialog itself, for the documentation's picture: no question is asked of anybody.
class UnattendedDialogs final : public tavrine::app::Dialogs {
 public:
  void Message(QWidget*, const QString&) override {}
  bool Question(QWidget*, const QString&) override { return false; }
  QString Input(QWidget*, const QString&, const QString&) override { return {}; }
  QStringList OpenFiles(QWidget*, const QString&, const QString&) override { return {}; }
  QString PickFolder(QWidget*, const QString&, const QString&) override { return {}; }
  void Error(QWidget*, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  void OpenUrl(const QUrl&) override {}
};

// --screenshot FILE: loads the sample files, builds an image of them into a temporary folder,
// then saves a picture of the window as it stands after the build, and quits.
int TakeScreenshot(const QString& file) {
  UnattendedDialogs dialogs;
  tavrine::app::Form1 window(dialogs, ProgramFolder());
  QTemporaryDir output;
  window.show();
  window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(output.path() + "/");
  window.findChild<QPushButton*>(QStringLiteral("PushButton7"))->click();
  QObject::connect(&window, &tavrine::app::Form1::JobFinished, &window, [&window, file] {
    QTimer::singleShot(300, &window, [&window, file] {
      QCoreApplication::exit(window.grab().save(file) ? 0 : 1);
    });
  });
  QTimer::singleShot(300, &window, [&window] {
    window.findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // The desktop entry that names the icon, for compositors that ask the program which it is.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tavrine.Tavrine"));
  const QStringList args = QCoreApplication::arguments();
  if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot"));
      at > 0 && at + 1 < args.size()) {
    return TakeScreenshot(args[at + 1]);
  }
  tavrine::app::QtDialogs dialogs;
  tavrine::app::Form1 window(dialogs, ProgramFolder());
  window.show();
  return QApplication::exec();
}
