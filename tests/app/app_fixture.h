// Scripted dialogs and a window fixture for the headless tests of the window.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "app/dialogs.h"
#include "app/form1.h"
#include "support/temp_dir.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace tavrine::app::testing {

// Answers from queues (an empty queue answers "cancel" or "No") and records every call.
class ScriptedDialogs : public Dialogs {
 public:
  void Message(QWidget*, const QString& text) override {
    messages << text;
    if (onMessage) onMessage(text);
  }
  bool Question(QWidget*, const QString& text) override {
    questions << text;
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  QString Input(QWidget*, const QString& prompt, const QString& defaultAnswer) override {
    inputPrompts << prompt;
    inputDefaults << defaultAnswer;
    return Pop(inputs);
  }
  QStringList OpenFiles(QWidget*, const QString& title, const QString&) override {
    fileTitles << title;
    if (files.empty()) return {};
    QStringList answer = files.front();
    files.pop_front();
    return answer;
  }
  QString PickFolder(QWidget*, const QString& title, const QString& startFolder) override {
    folderTitles << title;
    folderStarts << startFolder;
    return Pop(folders);
  }
  void Error(QWidget*, const QString& text) override { errors << text; }
  void OpenUrl(const QUrl& url) override { opened << url; }

  QStringList messages, questions, errors, inputPrompts, inputDefaults, fileTitles, folderTitles,
      folderStarts;
  QList<QUrl> opened;
  std::deque<bool> answers;
  std::deque<QString> inputs, folders;
  std::deque<QStringList> files;
  std::function<void(const QString&)> onMessage;

 private:
  static QString Pop(std::deque<QString>& queue) {
    if (queue.empty()) return {};
    QString answer = queue.front();
    queue.pop_front();
    return answer;
  }
};

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

inline QSettings Store() {
  return QSettings(QStringLiteral("Quarnelix"), QStringLiteral("Quarnelix"));
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Store().clear(); }

  // A fresh window over the stored settings, with temp_ as the program's folder.
  Form1& Open() {
    window_.reset();
    window_ = std::make_unique<Form1>(dialogs_, Q(temp_.path().string()));
    return *window_;
  }
  Form1& Window() { return *window_; }

  template <typename T>
  T* Child(const char* name) {
    T* child = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Click(const char* button) { Child<QPushButton>(button)->click(); }

  // Clicks "Start Creating ISO" and waits until its job has ended.
  void RunJob() {
    QEventLoop loop;
    const auto done =
        QObject::connect(window_.get(), &Form1::JobFinished, &loop, &QEventLoop::quit);
    Click("PushButton2");
    if (window_->BuildInProgress()) loop.exec();
    QObject::disconnect(done);
  }

  // Drops local paths onto the list as a drag from a file manager would.
  void Drop(const QStringList& paths);

  tavrine::testing::TempDir temp_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<Form1> window_;
};

}  // namespace tavrine::app::testing
