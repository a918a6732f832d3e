// Every message box, input box, file dialog, folder picker and shell request of the window goes
// through Dialogs, so that tests can replace them with scripted answers.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <utility>

class QWidget;

namespace tavrine::app {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message with an OK button under the application title.
  virtual void Message(QWidget* owner, const QString& text) = 0;
  // A Yes/No question under the application title; true for Yes.
  virtual bool Question(QWidget* owner, const QString& text) = 0;
  // An input box under the application title; an empty text when cancelled.
  virtual QString Input(QWidget* owner, const QString& prompt, const QString& defaultAnswer) = 0;
  // The open-file dialog with multiple selection: the full paths of the chosen files (which may
  // stand in different folders), empty when cancelled.
  virtual QStringList OpenFiles(QWidget* owner, const QString& title, const QString& filter) = 0;
  // The folder picker, starting at startFolder; an empty text when cancelled.
  virtual QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder) = 0;
  // A short text under the application title with a details area (scrollable, copyable) that
  // the user can open.
  virtual void Details(QWidget* owner, const QString& text, const QString& details) = 0;
  // "Application Error" with an exclamation icon.
  virtual void Error(QWidget* owner, const QString& text) = 0;
  // Opens a folder in the desktop's file browser; the result is ignored.
  virtual void OpenUrl(const QUrl& url) = 0;
  // Closes the question open at the moment, which then answers No.
  virtual void Dismiss() = 0;
};

// Passes every call on to other dialogs and knows whether a box is open, so that what comes at
// the end of a build can wait for it.
class TrackedDialogs final : public Dialogs {
 public:
  // closed runs whenever the last open box has closed.
  TrackedDialogs(Dialogs& inner, std::function<void()> closed)
      : inner_(inner), closed_(std::move(closed)) {}
  bool AnyOpen() const { return open_ > 0; }

  void Message(QWidget* owner, const QString& text) override;
  bool Question(QWidget* owner, const QString& text) override;
  QString Input(QWidget* owner, const QString& prompt, const QString& defaultAnswer) override;
  QStringList OpenFiles(QWidget* owner, const QString& title, const QString& filter) override;
  QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
  void Details(QWidget* owner, const QString& text, const QString& details) override;
  void Error(QWidget* owner, const QString& text) override;
  void OpenUrl(const QUrl& url) override { inner_.OpenUrl(url); }
  void Dismiss() override { inner_.Dismiss(); }

 private:
  // Counts a box from its opening to its closing.
  template <typename Call>
  auto Open(Call call);

  Dialogs& inner_;
  std::function<void()> closed_;
  int open_ = 0;
};

// The real dialogs of Qt.
class QtDialogs : public Dialogs {
 public:
  void Message(QWidget* owner, const QString& text) override;
  bool Question(QWidget* owner, const QString& text) override;
  QString Input(QWidget* owner, const QString& prompt, const QString& defaultAnswer) override;
  QStringList OpenFiles(QWidget* owner, const QString& title, const QString& filter) override;
  QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
  void Details(QWidget* owner, const QString& text, const QString& details) override;
  void Error(QWidget* owner, const QString& text) override;
  void OpenUrl(const QUrl& url) override;
  void Dismiss() override;
};

}  // namespace tavrine::app
