#include "app/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "app/utilities.h"

namespace tavrine::app {
namespace {

// A modal message box; returns the button chosen.
int Show(QWidget* owner, QMessageBox::Icon icon, const QString& title, const QString& text,
         QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, title, text, buttons, owner);
  return box.exec();
}

}  // namespace

// Messages and questions carry no icon; only the error dialog has one.
void QtDialogs::Message(QWidget* owner, const QString& text) {
  Show(owner, QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
}

bool QtDialogs::Question(QWidget* owner, const QString& text) {
  return Show(owner, QMessageBox::NoIcon, ApplicationTitle(), text,
              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString QtDialogs::Input(QWidget* owner, const QString& prompt, const QString& defaultAnswer) {
  bool ok = false;
  QString answer = QInputDialog::getText(owner, ApplicationTitle(), prompt, QLineEdit::Normal,
                                         defaultAnswer, &ok);
  return ok ? answer : QString();
}

QStringList QtDialogs::OpenFiles(QWidget* owner, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileNames(owner, title, QString(), filter);
}

QString QtDialogs::PickFolder(QWidget* owner, const QString& title, const QString& startFolder) {
  return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void QtDialogs::Details(QWidget* owner, const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, owner);
  box.setDetailedText(details);
  box.exec();
}

void QtDialogs::Error(QWidget* owner, const QString& text) {
  Show(owner, QMessageBox::Warning, QStringLiteral("Application Error"), text, QMessageBox::Ok);
}

void QtDialogs::OpenUrl(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

void QtDialogs::Dismiss() {
  if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
    box->done(QMessageBox::No);
  }
}

template <typename Call>
auto TrackedDialogs::Open(Call call) {
  struct Count {
    TrackedDialogs& dialogs;
    explicit Count(TrackedDialogs& d) : dialogs(d) { ++dialogs.open_; }
    ~Count() {
      if (--dialogs.open_ == 0 && dialogs.closed_) dialogs.closed_();
    }
  } count(*this);
  return call();
}

void TrackedDialogs::Message(QWidget* owner, const QString& text) {
  Open([&] { inner_.Message(owner, text); });
}

bool TrackedDialogs::Question(QWidget* owner, const QString& text) {
  return Open([&] { return inner_.Question(owner, text); });
}

QString TrackedDialogs::Input(QWidget* owner, const QString& prompt, const QString& answer) {
  return Open([&] { return inner_.Input(owner, prompt, answer); });
}

QStringList TrackedDialogs::OpenFiles(QWidget* owner, const QString& title, const QString& filter) {
  return Open([&] { return inner_.OpenFiles(owner, title, filter); });
}

QString TrackedDialogs::PickFolder(QWidget* owner, const QString& title, const QString& start) {
  return Open([&] { return inner_.PickFolder(owner, title, start); });
}

void TrackedDialogs::Details(QWidget* owner, const QString& text, const QString& details) {
  Open([&] { inner_.Details(owner, text, details); });
}

void TrackedDialogs::Error(QWidget* owner, const QString& text) {
  Open([&] { inner_.Error(owner, text); });
}

}  // namespace tavrine::app
