// Scripted dialogs and a window fixture for the headless tests of the window.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QTreeView>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/file_list.h"
#include "app/form1.h"
#include "support/temp_dir.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace tavrine::app::testing {

// The next scripted answer; an empty queue answers "cancel" or "No".
template <typename T>
T Pop(std::deque<T>& queue) {
  if (queue.empty()) return T{};
  T answer = queue.front();
  queue.pop_front();
  return answer;
}

// Answers from queues and records every call. A box may be held open, letting the window run,
// as a user would leave it open.
class ScriptedDialogs : public Dialogs {
 public:
  void Message(QWidget*, const QString& text) override {
    const Box box(*this);
    messages << text;
    if (holdMessage) Hold(std::exchange(holdMessage, {}));
  }
  bool Question(QWidget*, const QString& text) override {
    const Box box(*this);
    questions << text;
    if (!holdQuestion) return Pop(answers);
    Hold([this] { return dismissed; });
    return !std::exchange(dismissed, false) && Pop(answers);
  }
  void Dismiss() override { dismissed = true; }
  QString Input(QWidget*, const QString&, const QString&) override { return Pop(inputs); }
  QStringList OpenFiles(QWidget*, const QString&, const QString&) override { return {}; }
  QString PickFolder(QWidget*, const QString&, const QString&) override { return Pop(folders); }
  void Details(QWidget*, const QString& text, const QString&) override {
    const Box box(*this);
    messages << text;
  }
  void Error(QWidget*, const QString& text) override { errors << text; }
  void OpenUrl(const QUrl&) override {}

  // Counts boxes that opened while another one was open.
  struct Box {
    explicit Box(ScriptedDialogs& d) : dialogs(d) { d.overlaps += d.open++ > 0 ? 1 : 0; }
    ~Box() { --dialogs.open; }
    ScriptedDialogs& dialogs;
  };
  // Lets the window run until done() says so (at most 10 s).
  static void Hold(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(1);
    }
  }

  int open = 0, overlaps = 0;
  std::function<bool()> holdMessage;  // the next message stays open until this says so
  bool holdQuestion = false;          // questions stay open until dismissed
  bool dismissed = false;
  QStringList messages, questions, errors;
  std::deque<bool> answers;
  std::deque<QString> inputs, folders;
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

  template <typename T>
  T* Child(const char* name) {
    T* child = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Click(const char* button) { Child<QPushButton>(button)->click(); }
  QTreeView* View() { return Child<QTreeView>("ListView1"); }
  QString P(const char* relative) const { return Q(temp_ / relative); }

  // Clicks "Start Creating ISO" and waits until its job has ended.
  void RunJob() {
    QEventLoop loop;
    QObject::connect(window_.get(), &Form1::JobFinished, &loop, &QEventLoop::quit);
    Click("PushButton2");
    if (window_->BuildInProgress()) loop.exec();
  }

  // Drops local paths onto the list as a drag from a file manager would: Qt delivers a drop to
  // the widget that accepted the drag's entry.
  void Drop(const QStringList& paths) {
    QByteArray uris;
    for (const QString& path : paths) uris += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    QMimeData data;
    data.setData("text/uri-list", uris);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &drop);
  }

  tavrine::testing::TempDir temp_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<Form1> window_;
};

}  // namespace tavrine::app::testing
