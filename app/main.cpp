// Tavrine's window.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
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
  void Details(QWidget*, const QString&, const QString&) override {}
  void Error(QWidget*, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  void OpenUrl(const QUrl&) override {}
  void Dismiss() override {}
};

// --screenshot FILE [--maximised]: drops the sample folder on the list, builds an image of it
// into a temporary folder, then saves a picture of the window as it stands after the build, and
// quits. Maximised, the window fills the screen (there may be no window manager to ask).
int TakeScreenshot(const QString& file, bool maximised) {
  UnattendedDialogs dialogs;
  tavrine::app::Form1 window(dialogs, ProgramFolder());
  QTemporaryDir output;
  if (maximised) window.setGeometry(window.screen()->availableGeometry());
  window.show();
  window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(output.path() + "/");
  QWidget* list = window.findChild<QAbstractItemView*>(QStringLiteral("ListView1"))->viewport();
  QMimeData samples;
  samples.setUrls({QUrl::fromLocalFile(ProgramFolder() + "/Samples")});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &samples, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &samples, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &drop);
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
    return TakeScreenshot(args[at + 1], args.contains(QStringLiteral("--maximised")));
  }
  tavrine::app::QtDialogs dialogs;
  tavrine::app::Form1 window(dialogs, ProgramFolder());
  window.show();
  return QApplication::exec();
}
