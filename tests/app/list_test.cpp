// Filling the list: file dialog, drops, the folder import by extension, samples, removal and
// reordering.
#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app_fixture.h"

namespace tavrine::app::testing {
namespace {

class ListTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Open();
  }
  void Mouse(QEvent::Type type, int row, Qt::MouseButtons buttons) {
    const QPoint at = View()->visualRect(View()->model()->index(row, 0)).center();
    QMouseEvent event(type, at, View()->viewport()->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &event);
  }
  void Delete() {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(View(), &event);
  }
};

TEST_F(ListTest, FileDialogOneFileUnchangedSeveralCleaned) {
  // Several files may come from several folders (the dialog's recent files, typed paths).
  dialogs_.files = {{"/home/u//odd/x.txt"}, {"//a.txt", "/b.txt"}, {"/srv//d.txt", "/home/u/c"}};
  for (int i = 0; i < 4; ++i) Click("PushButton1");  // the last one cancelled
  EXPECT_EQ(Listed(),
            (QStringList{"/home/u//odd/x.txt", "/a.txt", "/b.txt", "/srv/d.txt", "/home/u/c"}));
  // The dialog shows names that are not UTF-8 with U+FFFD; the real bytes are found again.
  const std::string odd = temp_.WriteFile("caf\xE9/\xFF.txt", "x");
  dialogs_.files = {{QFile::decodeName(QByteArray::fromStdString(odd))}};
  Click("PushButton1");
  EXPECT_EQ(window_->List().Files().back().path, odd);
}

TEST_F(ListTest, DropsFilesUnchangedAndFoldersLevelByLevel) {
  const QString file = Q(temp_.WriteFile("loose.txt", "x"));
  for (const char* f : {"one/z.txt", "one/sub/deep/d.txt", "one/sub/s.txt", "one/a.txt",
                        "one/other/o.txt", "two/t.txt"}) {
    temp_.WriteFile(f, "x");
  }
  Drop({file});
  Drop({file});
  Drop({P("one"), P("two/"), file});
  EXPECT_EQ(Listed(),
            (QStringList{file, file, P("one/a.txt"), P("one/z.txt"), P("one/other/o.txt"),
                         P("one/sub/s.txt"), P("one/sub/deep/d.txt"), P("two/t.txt"), file}));
  // A drag without a local file is refused: plain text, or web links only.
  QMimeData text, links;
  text.setText("just words");
  links.setUrls({QUrl("https://example.org/a.txt"), QUrl("ftp://example.org/b.txt")});
  for (QMimeData* data : {&text, &links}) {
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
  }
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

TEST_F(ListTest, DeleteDoubleClickAndClearOnlyWhileIdle) {
  Delete();  // empty list: nothing happens
  const QStringList files = {Q(temp_.WriteFile("in/a", "a")), Q(temp_.WriteFile("in/b", "b")),
                             Q(temp_.WriteFile("in/c", "c"))};
  Drop(files);
  Child<QLineEdit>("Text1")->setText(Q(temp_.MakeDir("out")));
  View()->setCurrentIndex(View()->model()->index(0, 0));
  // Delivered while the build runs.
  QCoreApplication::postEvent(View(),
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
  QMetaObject::invokeMethod(Child<QPushButton>("PushButton6"), "click", Qt::QueuedConnection);
  // The hourglass shows while the files go into the image.
  QEventLoop loop;
  QObject::connect(window_.get(), &Form1::JobFinished, &loop, &QEventLoop::quit);
  Click("PushButton2");
  const QCursor* pointer = QApplication::overrideCursor();
  EXPECT_TRUE(window_->Busy() && pointer && pointer->shape() == Qt::WaitCursor);
  loop.exec();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Listed(), files);

  View()->clearSelection();
  Delete();  // nothing selected: nothing happens
  EXPECT_EQ(Listed(), files);
  View()->setCurrentIndex(View()->model()->index(1, 0));
  Delete();
  EXPECT_EQ(Listed(), (QStringList{files[0], files[2]}));
  View()->setCurrentIndex(View()->model()->index(0, 0));
  Mouse(QEvent::MouseButtonDblClick, 0, Qt::LeftButton);
  EXPECT_EQ(Listed(), QStringList{files[2]});
  Click("PushButton6");
  EXPECT_TRUE(Listed().isEmpty());
  // Ctrl+A and Delete remove everything selected.
  Drop(files);
  QKeyEvent all(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
  QCoreApplication::sendEvent(View(), &all);
  Delete();
  EXPECT_TRUE(Listed().isEmpty());
}

TEST_F(ListTest, DraggingAnItemSwapsTextsWithDifferentNeighboursOnly) {
  dialogs_.files = {{"/a", "/a", "/b", "/c"}};
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
  for (const char* f : {"src/a.txt", "src/B.TXT", "src/c.doc", "src/sub/d.txt"}) {
    temp_.WriteFile(f, "x");
  }
  const QString src = P("src");
  // Cancelled and empty answers stop at once and store nothing.
  dialogs_.inputs = {"", "", "txt", "*", "[t]xt"};
  Click("PushButton4");
  Click("PushButton4");
  EXPECT_FALSE(Store().contains("Tavrine/Extension"));
  EXPECT_TRUE(dialogs_.folderStarts.isEmpty());
  dialogs_.folders = {src, "", src};
  Click("PushButton4");
  EXPECT_EQ(Listed(), (QStringList{P("src/B.TXT"), P("src/a.txt"), P("src/sub/d.txt")}));
  EXPECT_EQ(Store().value("Tavrine/LastFolder").toString(), src);
  Click("PushButton4");  // a cancelled picker still stores the extension
  EXPECT_EQ(Store().value("Tavrine/Extension").toString(), "*");
  EXPECT_EQ(dialogs_.folderStarts.last(), src);
  // An extension is taken literally: it lists nothing here, with no error, and the pointer
  // comes back. The start folder comes from the store alone.
  Store().remove("Tavrine/LastFolder");
  Click("PushButton4");
  EXPECT_EQ(dialogs_.inputDefaults, (QStringList{"*", "*", "*", "txt", "*"}));
  EXPECT_EQ(dialogs_.folderStarts.last(), "");
  EXPECT_EQ(Listed().size(), 3);
  EXPECT_TRUE(dialogs_.errors.isEmpty());
  EXPECT_FALSE(window_->Busy());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ListTest, SamplesAddedOnceAndFolderOffered) {
  Click("PushButton7");  // missing, then empty: nothing listed, still asked
  temp_.MakeDir("Samples");
  Click("PushButton7");
  EXPECT_TRUE(Listed().isEmpty());
  temp_.WriteFile("Samples/b.csv", "1,2");
  temp_.WriteFile("Samples/a.txt", "a");
  const QString folder = P("Samples/");
  dialogs_.files = {{P("samples/a.txt")}};  // the same file in another case
  Click("PushButton1");
  dialogs_.answers = {true, false};
  Click("PushButton7");
  Click("PushButton7");
  EXPECT_EQ(Listed(), (QStringList{P("samples/a.txt"), folder + "a.txt", folder + "b.csv"}));
  EXPECT_EQ(dialogs_.questions.size(), 4);
  EXPECT_EQ(dialogs_.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

}  // namespace
}  // namespace tavrine::app::testing
