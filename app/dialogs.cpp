#include "app/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace tavrine::app {

void QtDialogs::Message(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, QGuiApplication::applicationDisplayName(), text);
}

bool QtDialogs::Question(QWidget* owner, const QString& text) {
  return QMessageBox::question(owner, QGuiApplication::applicationDisplayName(), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString QtDialogs::Input(QWidget* owner, const QString& prompt, const QString& defaultAnswer) {
  bool ok = false;
  QString answer = QInputDialog::getText(owner, QGuiApplication::applicationDisplayName(), prompt,
                                         QLineEdit::Normal, defaultAnswer, &ok);
  return ok ? answer : QString();
}

QStringList QtDialogs::OpenFiles(QWidget* owner, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileNames(owner, title, QString(), filter);
}

QString QtDialogs::PickFolder(QWidget* owner, const QString& title, const QString& startFolder) {
  return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void QtDialogs::Error(QWidget* owner, const QString& text) {
  QMessageBox::warning(owner, QStringLiteral("Application Error"), text);
}

void QtDialogs::OpenUrl(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

}  // namespace tavrine::app
