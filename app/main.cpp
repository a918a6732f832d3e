// Tavrine's window.
#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "app/dialogs.h"
#include "app/form1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  tavrine::app::QtDialogs dialogs;
  tavrine::app::Form1 window(dialogs, QCoreApplication::applicationDirPath());
  window.show();

  // Hidden flag for the documentation: --screenshot FILE saves the shown window and quits.
  const QStringList args = QCoreApplication::arguments();
  if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot"));
      at > 0 && at + 1 < args.size()) {
    const QString file = args[at + 1];
    QTimer::singleShot(800, &window, [&window, file] {
      const bool saved = window.grab().save(file);
      QCoreApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
