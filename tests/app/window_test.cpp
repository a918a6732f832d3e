// Start-up, settings, the identifier fields, the output folder and the fixed texts.
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTreeView>

#include "app/utilities.h"
#include "app_fixture.h"

namespace tavrine::app::testing {
namespace {

const char* const kFields[] = {"Text7", "Text2", "Text3", "Text4", "Text5", "Text6"};

TEST_F(WindowTest, FirstStartShowsDefaultsAndStoresThem) {
  Form1& w = Open();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Tavrine"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Tavrine"));
  EXPECT_EQ(w.size(), QSize(536, 681));  // 8040 x 10215 twips
  const QString desktop =
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QStringLiteral("/");
  EXPECT_EQ(Child<QLineEdit>("Text1")->text(), desktop);
  EXPECT_EQ(Child<QComboBox>("Combo1")->currentText(), QStringLiteral("ISO9660"));
  EXPECT_EQ(Child<QComboBox>("Combo1")->count(), 2);
  const char* values[] = {"MY_VOL", "WIN32", "Tavrine", "Quarnelix", "", ""};
  const int limits[] = {32, 32, 128, 128, 128, 128};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Child<QLineEdit>(kFields[i])->text(), QString::fromLatin1(values[i])) << kFields[i];
    EXPECT_EQ(Child<QLineEdit>(kFields[i])->maxLength(), limits[i]) << kFields[i];
  }
  EXPECT_EQ(Store().value("Tavrine/Combo1").toString(), QStringLiteral("0"));
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), desktop);
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(WindowTest, ControlsCarryTheirCaptionsAndPlaces) {
  Open();
  EXPECT_EQ(Child<QPushButton>("PushButton3")->geometry(), QRect(8, 8, 520, 27));
  EXPECT_EQ(Child<QPushButton>("PushButton4")->geometry(), QRect(272, 217, 256, 27));
  EXPECT_EQ(Child<QTreeView>("ListView1")->geometry(), QRect(8, 42, 520, 169));
  EXPECT_EQ(Child<QLineEdit>("Text7")->geometry(), QRect(122, 20, 383, 23));  // inside Frame1
  EXPECT_EQ(Child<QPushButton>("PushButton9")->geometry(), QRect(456, 20, 48, 23));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->geometry(), QRect(8, 646, 520, 27));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), QStringLiteral("Progress Bar"));
  EXPECT_EQ(Child<QGroupBox>("Frame3")->title(), QStringLiteral("Save Results To This Folder"));
  EXPECT_EQ(Child<QLabel>("Label5")->text(), QStringLiteral("Data Preparer ID:"));
  EXPECT_EQ(Child<QPushButton>("PushButton7")->text(), QStringLiteral("Load Sample/Example Files"));
  EXPECT_EQ(Child<QTreeView>("ListView1")->model()->headerData(0, Qt::Horizontal).toString(),
            QStringLiteral("File(s)"));
  EXPECT_TRUE(
      Child<QTreeView>("ListView1")
          ->toolTip()
          .startsWith(QStringLiteral("Drag and drop files here. Double-click item to remove it.")));
  EXPECT_EQ(Child<QPushButton>("PushButton2")->font().pointSizeF(), 11.25);
  EXPECT_TRUE(Child<QPushButton>("PushButton2")->font().bold());
  EXPECT_EQ(Child<QLabel>("Label1")->font().pointSizeF(), 9.0);
  // Without HAND-M.CUR the buttons show the platform's hand.
  for (const char* b : {"PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton6",
                        "PushButton7", "PushButton9"}) {
    EXPECT_EQ(Child<QPushButton>(b)->cursor().shape(), Qt::PointingHandCursor) << b;
  }
}

TEST_F(WindowTest, RestartAfterChoosingJolietShowsJolietIdentifiers) {
  Open();
  Child<QComboBox>("Combo1")->setCurrentIndex(1);  // as a user's choice
  EXPECT_EQ(Store().value("Tavrine/Combo1").toString(), QStringLiteral("1"));
  // The fields follow the choice only at the next start.
  EXPECT_EQ(Child<QLineEdit>("Text7")->text(), QStringLiteral("MY_VOL"));
  Open();
  const char* values[] = {"My Volume", "WIN32", "Tavrine", "Quarnelix", "", ""};
  const int limits[] = {16, 16, 64, 64, 64, 64};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Child<QLineEdit>(kFields[i])->text(), QString::fromLatin1(values[i])) << kFields[i];
    EXPECT_EQ(Child<QLineEdit>(kFields[i])->maxLength(), limits[i]) << kFields[i];
  }
}

TEST_F(WindowTest, LeavingAFieldShowsWhatTheWriterStored) {
  Form1& w = Open();
  auto* volume = Child<QLineEdit>("Text7");
  QFocusEvent out(QEvent::FocusOut);
  volume->setText(QStringLiteral("my disc 1"));
  QCoreApplication::sendEvent(volume, &out);
  EXPECT_EQ(volume->text(), QStringLiteral("MY_DISC_1"));
  EXPECT_EQ(w.Writer().VolumeID(false), u"MY_DISC_1");
  EXPECT_EQ(w.Writer().VolumeID(true), u"My Volume");

  // With "Joliet" chosen the field edits the Joliet value at once, unchanged.
  Child<QComboBox>("Combo1")->setCurrentIndex(1);
  volume->setText(QStringLiteral("my disc 1"));
  QCoreApplication::sendEvent(volume, &out);
  EXPECT_EQ(volume->text(), QStringLiteral("my disc 1"));
  EXPECT_EQ(w.Writer().VolumeID(true), u"my disc 1");
  EXPECT_EQ(w.Writer().VolumeID(false), u"MY_DISC_1");

  auto* publisher = Child<QLineEdit>("Text4");
  publisher->setText(QStringLiteral("Ünïcode Pub"));
  QCoreApplication::sendEvent(publisher, &out);
  EXPECT_EQ(w.Writer().PublisherID(true), u"Ünïcode Pub");
}

TEST_F(WindowTest, BadStoredIsoTypeShowsTheErrorAndLeavesFieldsEmpty) {
  for (const char* stored : {"7", "abc", "-1"}) {
    SCOPED_TRACE(stored);
    Store().setValue("Tavrine/Combo1", QString::fromLatin1(stored));
    dialogs_.errors.clear();
    Open();
    if (QByteArray(stored) == "-1") {
      EXPECT_TRUE(dialogs_.errors.isEmpty());
    } else {
      ASSERT_EQ(dialogs_.errors.size(), 1);
      EXPECT_TRUE(dialogs_.errors[0].contains(QString::fromLatin1(stored)));
      EXPECT_TRUE(dialogs_.errors[0].contains(
          QStringLiteral("\r\nin Tavrine2021/08/31.Form1.Form_Load at line 7\r\n\r\n")));
    }
    EXPECT_EQ(Child<QComboBox>("Combo1")->currentIndex(), -1);
    for (const char* f : kFields) {
      EXPECT_TRUE(Child<QLineEdit>(f)->text().isEmpty()) << f;
      EXPECT_EQ(Child<QLineEdit>(f)->maxLength(), 32767) << f;  // no limit
    }
    EXPECT_NE(Window().findChild<QWidget*>(QStringLiteral("Text1")), nullptr);
  }
}

TEST_F(WindowTest, OutputFolderTypedAndPicked) {
  Open();
  auto* text1 = Child<QLineEdit>("Text1");
  text1->setText(QStringLiteral("/mnt/x"));
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), QStringLiteral("/mnt/x"));

  Store().setValue("Tavrine/LastFolderDot", QStringLiteral("/srv/last"));
  Click("PushButton9");  // cancelled
  EXPECT_EQ(dialogs_.folderStarts, QStringList{QStringLiteral("/srv/last")});
  EXPECT_EQ(dialogs_.folderTitles, QStringList{QStringLiteral("Please select folder:")});
  EXPECT_EQ(text1->text(), QStringLiteral("/mnt/x"));

  dialogs_.folders = {QStringLiteral("/data/out"), QStringLiteral("/")};
  Click("PushButton9");
  EXPECT_EQ(text1->text(), QStringLiteral("/data/out/"));
  EXPECT_EQ(Store().value("Tavrine/LastFolderDot").toString(), QStringLiteral("/data/out"));
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), QStringLiteral("/data/out/"));
  Click("PushButton9");  // the root keeps its one separator
  EXPECT_EQ(text1->text(), QStringLiteral("/"));
  EXPECT_EQ(dialogs_.folderStarts.last(), QStringLiteral("/data/out"));
}

// A 2 x 2 icon (type 1) or cursor (type 2) file with a 32-bit image; hotX and hotY fill the
// fields that an icon uses for planes and bit count.
std::string IconFile(int type, int hotX, int hotY) {
  std::string f;
  auto u8 = [&](int v) { f.push_back(static_cast<char>(v)); };
  auto u16 = [&](int v) { u8(v & 0xFF), u8((v >> 8) & 0xFF); };
  auto u32 = [&](int v) { u16(v & 0xFFFF), u16((v >> 16) & 0xFFFF); };
  u16(0), u16(type), u16(1);                         // directory header
  u8(2), u8(2), u8(0), u8(0), u16(hotX), u16(hotY);  // entry: size, colours, hot spot
  u32(40 + 16 + 8), u32(22);                         // image bytes and offset
  u32(40), u32(2), u32(4), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
  for (int i = 0; i < 4; ++i) u32(static_cast<int>(0xFF0000FFu & 0x7FFFFFFF));  // pixels
  for (int i = 0; i < 8; ++i) u8(0);                                            // AND mask
  return f;
}

TEST_F(WindowTest, CursorFilesNextToTheProgram) {
  temp_.WriteFile("HAND-M.CUR", IconFile(2, 1, 0));
  temp_.WriteFile("drag.ico", IconFile(1, 0, 0));
  Open();
  for (const char* b : {"PushButton1", "PushButton9"}) {
    EXPECT_EQ(Child<QPushButton>(b)->cursor().shape(), Qt::BitmapCursor) << b;
    EXPECT_EQ(Child<QPushButton>(b)->cursor().hotSpot(), QPoint(1, 0)) << b;
  }
  auto* view = Child<QTreeView>("ListView1");
  dialogs_.files = {{QStringLiteral("/a")}};
  Click("PushButton1");
  const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view->viewport(), &press);
  EXPECT_EQ(view->viewport()->cursor().shape(), Qt::BitmapCursor);
  QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view->viewport(), &release);
  EXPECT_EQ(view->viewport()->cursor().shape(), Qt::ArrowCursor);

  // An unreadable file is no error: the platform's hand stays.
  temp_.WriteFile("HAND-M.CUR", "not a cursor");
  Open();
  EXPECT_EQ(Child<QPushButton>("PushButton1")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(WindowTest, HelpAndSkin) {
  temp_.WriteFile("x/o.cjs", "QPushButton { color: rgb(1, 2, 3); }");
  Form1& w = Open();
  EXPECT_EQ(w.styleSheet(), QStringLiteral("QPushButton { color: rgb(1, 2, 3); }"));
  Click("PushButton3");
  EXPECT_EQ(dialogs_.messages, QStringList{QStringLiteral("Cannot hold very large file size.")});
}

}  // namespace
}  // namespace tavrine::app::testing
