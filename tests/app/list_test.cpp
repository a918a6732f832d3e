// Filling the list: file dialog, drops, the folder import by extension, samples, removal and
// reordering.
#include <sys/stat.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>
#include <chrono>
#include <cstdio>

#include "app_fixture.h"

namespace tavrine::app::testing {
namespace {

class ListTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Open();
  }
  QString P(const char* relative) const { return Q(temp_ / relative); }
  QStringList Listed() const { return window_->ListedFiles(); }
  QTreeView* View() { return Child<QTreeView>("ListView1"); }
  void Mouse(QEvent::Type type, int row, Qt::MouseButtons buttons) {
    const QPoint at = View()->visualRect(View()->model()->index(row, 0)).center();
    QMouseEvent event(type, at, View()->viewport()->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &event);
  }
  void Key(int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(View(), &event);
  }
};

TEST_F(ListTest, FileDialogOneFileUnchangedSeveralCleaned) {
  dialogs_.files = {{QStringLiteral("/home/u//odd/x.txt")},
                    {QStringLiteral("/"), QStringLiteral("a.txt"), QStringLiteral("b.txt")},
                    {QStringLiteral("/home/u"), QStringLiteral("c.txt")}};
  Click("PushButton1");
  Click("PushButton1");
  Click("PushButton1");
  Click("PushButton1");  // cancelled
  EXPECT_EQ(Listed(), (QStringList{QStringLiteral("/home/u//odd/x.txt"), QStringLiteral("/a.txt"),
                                   QStringLiteral("/b.txt"), QStringLiteral("/home/u/c.txt")}));
  EXPECT_EQ(dialogs_.fileTitles.front(),
            QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
}

TEST_F(ListTest, DropsFilesUnchangedAndFoldersLevelByLevel) {
  const QString file = Q(temp_.WriteFile("loose.txt", "x"));
  temp_.WriteFile("one/z.txt", "z");
  temp_.WriteFile("one/sub/deep/d.txt", "d");
  temp_.WriteFile("one/sub/s.txt", "s");
  temp_.WriteFile("one/a.txt", "a");
  temp_.WriteFile("one/other/o.txt", "o");
  temp_.WriteFile("two/t.txt", "t");
  Drop({file});
  Drop({file});
  Drop({P("one"), P("two/"), file});
  EXPECT_EQ(Listed(),
            (QStringList{file, file, P("one/a.txt"), P("one/z.txt"), P("one/other/o.txt"),
                         P("one/sub/s.txt"), P("one/sub/deep/d.txt"), P("two/t.txt"), file}));
}

TEST_F(ListTest, TildeAndHiddenArchiveSkippedInFoldersNotWhenDroppedAlone) {
  const QString tilde = Q(temp_.WriteFile("f/~lock.txt", "x"));
  const QString hidden = Q(temp_.WriteFile("f/.secret", "x"));
  const QString hiddenReadOnly = Q(temp_.WriteFile("f/.kept", "x"));
  ::chmod(hiddenReadOnly.toLocal8Bit().constData(), 0444);
  temp_.WriteFile("f/plain", "x");
  Drop({P("f")});
  EXPECT_EQ(Listed(), (QStringList{hiddenReadOnly, P("f/plain")}));
  Drop({tilde, hidden});
  EXPECT_EQ(Listed().mid(2), (QStringList{tilde, hidden}));
}

TEST_F(ListTest, DragWithoutFilesIsRefused) {
  QMimeData text;
  text.setText(QStringLiteral("just words"));
  QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(View()->viewport(), &refused);
  EXPECT_FALSE(refused.isAccepted());
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp"))});
  QDragEnterEvent accepted(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(View()->viewport(), &accepted);
  EXPECT_TRUE(accepted.isAccepted());
}

TEST_F(ListTest, DeleteDoubleClickAndClear) {
  Key(Qt::Key_Delete);  // empty list: nothing happens
  EXPECT_TRUE(Listed().isEmpty());
  dialogs_.files = {
      {QStringLiteral("/"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}};
  Click("PushButton1");
  Key(Qt::Key_Delete);  // nothing selected: nothing happens
  EXPECT_EQ(Listed().size(), 3);
  View()->setCurrentIndex(View()->model()->index(1, 0));
  Key(Qt::Key_Delete);
  EXPECT_EQ(Listed(), (QStringList{QStringLiteral("/a"), QStringLiteral("/c")}));
  View()->setCurrentIndex(View()->model()->index(0, 0));
  Mouse(QEvent::MouseButtonDblClick, 0, Qt::LeftButton);
  EXPECT_EQ(Listed(), QStringList{QStringLiteral("/c")});
  Click("PushButton6");
  EXPECT_TRUE(Listed().isEmpty());
}

TEST_F(ListTest, DeleteAndClearDuringAJobDoNothing) {
  const QString file = Q(temp_.WriteFile("in/a.txt", "a"));
  Drop({file, file});
  Child<QLineEdit>("Text1")->setText(Q(temp_.MakeDir("out")));
  View()->setCurrentIndex(View()->model()->index(0, 0));
  // Delivered while the job lets the window breathe.
  QCoreApplication::postEvent(View(),
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
  QMetaObject::invokeMethod(Child<QPushButton>("PushButton6"), "click", Qt::QueuedConnection);
  // A look at the pointer while the first file is added (posted from the first breath, so it
  // runs at the next one).
  bool busyWhileAdding = false;
  QMetaObject::invokeMethod(
      View(),
      [&] {
        QMetaObject::invokeMethod(
            View(),
            [&] {
              busyWhileAdding = window_->Busy() && QApplication::overrideCursor() != nullptr &&
                                QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
  RunJob();
  EXPECT_TRUE(busyWhileAdding);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Listed(), (QStringList{file, file}));
  Key(Qt::Key_Delete);  // idle again
  EXPECT_EQ(Listed(), QStringList{file});
}

TEST_F(ListTest, DraggingAnItemSwapsTextsWithDifferentNeighboursOnly) {
  dialogs_.files = {{QStringLiteral("/"), QStringLiteral("a"), QStringLiteral("a"),
                     QStringLiteral("b"), QStringLiteral("c")}};
  Click("PushButton1");
  Mouse(QEvent::MouseButtonPress, 0, Qt::LeftButton);
  Mouse(QEvent::MouseMove, 1, Qt::LeftButton);  // same text: nothing moves
  EXPECT_EQ(Listed(), (QStringList{"/a", "/a", "/b", "/c"}));
  Mouse(QEvent::MouseMove, 2, Qt::LeftButton);  // the dragged item is still row 0
  EXPECT_EQ(Listed(), (QStringList{"/b", "/a", "/a", "/c"}));
  Mouse(QEvent::MouseMove, 3, Qt::LeftButton);  // now row 2 is dragged
  EXPECT_EQ(Listed(), (QStringList{"/b", "/a", "/c", "/a"}));
  EXPECT_EQ(View()->currentIndex().row(), 3);
  Mouse(QEvent::MouseButtonRelease, 3, Qt::NoButton);
  Mouse(QEvent::MouseMove, 0, Qt::NoButton);  // not dragging any more
  EXPECT_EQ(Listed(), (QStringList{"/b", "/a", "/c", "/a"}));
}

TEST_F(ListTest, ImportByExtension) {
  temp_.WriteFile("src/a.txt", "a");
  temp_.WriteFile("src/B.TXT", "b");
  temp_.WriteFile("src/c.doc", "c");
  temp_.WriteFile("src/~skip.txt", "s");
  temp_.WriteFile("src/sub/d.txt", "d");
  const QString src = P("src");

  // Cancelled and empty answers stop at once and store nothing.
  Click("PushButton4");
  dialogs_.inputs = {QString()};
  Click("PushButton4");
  EXPECT_FALSE(Store().contains("Tavrine/Extension"));
  EXPECT_TRUE(dialogs_.folderTitles.isEmpty());
  EXPECT_EQ(dialogs_.inputDefaults.front(), QStringLiteral("*"));
  EXPECT_EQ(dialogs_.inputPrompts.front(),
            QStringLiteral("Enter file extension to load:\r\n\r\n(* for all files, txt for all txt "
                           "files, doc for all doc files, etc.)"));

  dialogs_.inputs = {QStringLiteral("txt")};
  dialogs_.folders = {src};
  Click("PushButton4");
  EXPECT_EQ(Listed(), (QStringList{P("src/B.TXT"), P("src/a.txt"), P("src/sub/d.txt")}));
  EXPECT_EQ(Store().value("Tavrine/Extension").toString(), QStringLiteral("txt"));
  EXPECT_EQ(Store().value("Tavrine/LastFolder").toString(), src);
  EXPECT_FALSE(window_->Busy());

  // ".txt" gives "*..txt": nothing. A cancelled picker still stores the extension.
  dialogs_.inputs = {QStringLiteral(".txt"), QStringLiteral("*")};
  dialogs_.folders = {src};
  Click("PushButton4");
  EXPECT_EQ(Listed().size(), 3);
  Click("PushButton4");
  EXPECT_EQ(Store().value("Tavrine/Extension").toString(), QStringLiteral("*"));
  EXPECT_EQ(dialogs_.folderStarts.last(), src);
  EXPECT_EQ(dialogs_.inputDefaults.last(), QStringLiteral(".txt"));

  dialogs_.inputs = {QStringLiteral("*")};
  dialogs_.folders = {src};
  Click("PushButton4");
  EXPECT_EQ(Listed().mid(3),
            (QStringList{P("src/B.TXT"), P("src/a.txt"), P("src/c.doc"), P("src/sub/d.txt")}));

  // A malformed pattern is reported, and the pointer comes back.
  dialogs_.inputs = {QStringLiteral("[z-a]")};
  dialogs_.folders = {src};
  Click("PushButton4");
  ASSERT_EQ(dialogs_.errors.size(), 1);
  EXPECT_TRUE(dialogs_.errors[0].contains(
      QStringLiteral("in Tavrine2021/08/31.Form1.PushButton4_Click at line 6")));
  EXPECT_FALSE(window_->Busy());
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(ListTest, SamplesAddedOnceAndFolderOffered) {
  temp_.WriteFile("Samples/b.csv", "1,2");
  temp_.WriteFile("Samples/a.txt", "a");
  const QString folder = P("Samples/");
  dialogs_.files = {{P("samples/a.txt")}};  // the same file in another case
  Click("PushButton1");
  dialogs_.answers = {true, false};
  Click("PushButton7");
  Click("PushButton7");
  EXPECT_EQ(Listed(), (QStringList{P("samples/a.txt"), folder + "a.txt", folder + "b.csv"}));
  ASSERT_EQ(dialogs_.questions.size(), 2);
  EXPECT_EQ(
      dialogs_.questions[0],
      QStringLiteral("Would you like this software to open the folder where these sample "
                     "files are stored (so that you can view them before working with them)?"));
  EXPECT_EQ(dialogs_.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

TEST_F(ListTest, EmptyOrMissingSamplesStillAsk) {
  Click("PushButton7");
  temp_.MakeDir("Samples");
  Click("PushButton7");
  EXPECT_TRUE(Listed().isEmpty());
  EXPECT_EQ(dialogs_.questions.size(), 2);
  EXPECT_TRUE(dialogs_.opened.isEmpty());
}

// Measures, does not assert: how long a folder of 20,000 files takes to reach the list.
TEST_F(ListTest, MeasureDroppingTwentyThousandFiles) {
  constexpr int kFiles = 20000;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "big/f%05d.dat", i);
    std::FILE* f = std::fopen((temp_ / name).c_str(), "w");
    if (f == nullptr) {
      temp_.MakeDir("big");
      f = std::fopen((temp_ / name).c_str(), "w");
    }
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  window_->show();
  QElapsedTimer timer;
  timer.start();
  Drop({P("big")});
  QCoreApplication::processEvents();  // the list lays itself out
  const qint64 ms = timer.elapsed();
  EXPECT_EQ(Listed().size(), kFiles);
  std::printf("[ MEASURE  ] dropping a folder of %d files filled the list in %lld ms\n", kFiles,
              static_cast<long long>(ms));
}

}  // namespace
}  // namespace tavrine::app::testing
