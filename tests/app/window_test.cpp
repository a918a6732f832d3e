// Start-up, settings, the identifier fields, the output folder, cursors and skin.
#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStandardPaths>
#include <filesystem>
#include <vector>

#include "app/utilities.h"
#include "app_fixture.h"

namespace tavrine::app::testing {
namespace {

const char* const kFields[] = {"Text7", "Text2", "Text3", "Text4", "Text5", "Text6"};

class StartTest : public WindowTest {
 protected:
  // The six identifier fields, in the order of kFields, and their length limits.
  void ExpectFields(const QStringList& texts, const std::vector<int>& limits) {
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(Child<QLineEdit>(kFields[i])->text(), texts[i]) << kFields[i];
      EXPECT_EQ(Child<QLineEdit>(kFields[i])->maxLength(), limits[i]) << kFields[i];
    }
  }
};

TEST_F(StartTest, FirstStartStoresDefaultsAndARestartFollowsTheChosenType) {
  // The output folder is the desktop folder where there is one, else the home folder; a stored
  // desktop folder that does not exist gives way too.
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(temp_.path().string()));
  Open();
  EXPECT_EQ(Child<QLineEdit>("Text1")->text(), Q(temp_.path().string()) + "/");
  const QString desktop = Q(temp_.MakeDir("Desktop")) + "/";
  Store().setValue("Tavrine/Text1", desktop);
  std::filesystem::remove(temp_ / "Desktop");
  Open();
  EXPECT_EQ(Child<QLineEdit>("Text1")->text(), Q(temp_.path().string()) + "/");
  temp_.MakeDir("Desktop");
  Store().remove("Tavrine/Text1");
  Open();
  qputenv("HOME", home);
  EXPECT_EQ(Child<QLineEdit>("Text1")->text(), desktop);
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), desktop);
  EXPECT_EQ(Child<QComboBox>("Combo1")->currentText(), "ISO9660");
  EXPECT_EQ(Store().value("Tavrine/Combo1").toString(), "0");
  ExpectFields({"MY_VOL", "WIN32", "Tavrine", "Quarnelix", "", ""}, {32, 32, 128, 128, 128, 128});

  // The fields follow a choice at once, so tabbing through them writes nothing new.
  Child<QComboBox>("Combo1")->setCurrentIndex(1);
  EXPECT_EQ(Store().value("Tavrine/Combo1").toString(), "1");
  const QStringList joliet = {"My Volume", "WIN32", "Tavrine", "Quarnelix", "", ""};
  ExpectFields(joliet, {16, 16, 64, 64, 64, 64});
  for (const char* field : kFields) {
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(Child<QLineEdit>(field), &out);
  }
  EXPECT_EQ(window_->Writer().VolumeID(true), u"My Volume");
  Open();
  ExpectFields(joliet, {16, 16, 64, 64, 64, 64});
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(StartTest, BadStoredIsoTypeShowsTheErrorAndLeavesFieldsEmpty) {
  for (const char* stored : {"7", "abc", "-1"}) {
    SCOPED_TRACE(stored);
    Store().setValue("Tavrine/Combo1", stored);
    dialogs_.errors.clear();
    Open();
    if (QByteArray(stored) == "-1") {
      EXPECT_TRUE(dialogs_.errors.isEmpty());
    } else {
      ASSERT_EQ(dialogs_.errors.size(), 1);
      EXPECT_TRUE(dialogs_.errors[0].contains(stored));
      EXPECT_TRUE(
          dialogs_.errors[0].contains("\r\nin Tavrine2021/08/31.Form1.Form_Load at line 7"));
    }
    EXPECT_EQ(Child<QComboBox>("Combo1")->currentIndex(), -1);
    ExpectFields({"", "", "", "", "", ""}, std::vector<int>(6, 32767));  // no limit
    EXPECT_EQ(window_->Writer().VolumeID(false), u"MY_VOL");  // the later steps still ran
  }
}

// Positions in twips turn into pixels rounded to the nearest (15 twips a pixel), nested
// controls relative to their frame.
TEST_F(WindowTest, ControlsSitWhereDesigned) {
  Form1& w = Open();
  EXPECT_EQ(w.size(), QSize(536, 681));  // 8040 x 10215 twips
  EXPECT_EQ(Child<QPushButton>("PushButton4")->geometry(), QRect(272, 217, 256, 27));
  EXPECT_EQ(Child<QLineEdit>("Text7")->geometry(), QRect(122, 20, 383, 23));
  EXPECT_EQ(Child<QPushButton>("PushButton9")->geometry(), QRect(456, 20, 48, 23));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->geometry(), QRect(8, 646, 520, 27));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Progress Bar");
  // The icon is a disc: clear in its corners and its centre hole, drawn on its ring.
  const QImage icon = w.windowIcon().pixmap(32, 32).toImage();
  ASSERT_EQ(icon.size(), QSize(32, 32));
  EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(16, 16)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(16, 3)), 255);
}

TEST_F(WindowTest, LeavingAFieldShowsWhatTheWriterStored) {
  Form1& w = Open();
  auto* volume = Child<QLineEdit>("Text7");
  QFocusEvent out(QEvent::FocusOut);
  volume->setText("my disc 1");
  QCoreApplication::sendEvent(volume, &out);
  EXPECT_EQ(volume->text(), "MY_DISC_1");
  EXPECT_EQ(w.Writer().VolumeID(false), u"MY_DISC_1");
  EXPECT_EQ(w.Writer().VolumeID(true), u"My Volume");
  // With "Joliet" chosen the field edits the Joliet value at once, unchanged.
  Child<QComboBox>("Combo1")->setCurrentIndex(1);
  volume->setText(QString::fromUtf8("my dïsc 1"));
  QCoreApplication::sendEvent(volume, &out);
  EXPECT_EQ(volume->text(), QString::fromUtf8("my dïsc 1"));
  EXPECT_EQ(w.Writer().VolumeID(true), u"my dïsc 1");
  EXPECT_EQ(w.Writer().VolumeID(false), u"MY_DISC_1");
}

TEST_F(WindowTest, OutputFolderTypedAndPicked) {
  Open();
  auto* text1 = Child<QLineEdit>("Text1");
  text1->setText("/mnt/x");
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), "/mnt/x");
  Store().setValue("Tavrine/LastFolderDot", "/srv/last");
  Click("PushButton9");  // cancelled
  EXPECT_EQ(dialogs_.folderStarts, QStringList{"/srv/last"});
  EXPECT_EQ(text1->text(), "/mnt/x");

  dialogs_.folders = {"/data/out", "/"};
  Click("PushButton9");
  EXPECT_EQ(text1->text(), "/data/out/");
  EXPECT_EQ(Store().value("Tavrine/LastFolderDot").toString(), "/data/out");
  EXPECT_EQ(Store().value("Tavrine/Text1").toString(), "/data/out/");
  Click("PushButton9");  // the root keeps its one separator
  EXPECT_EQ(text1->text(), "/");
  EXPECT_EQ(dialogs_.folderStarts.last(), "/data/out");
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
  for (int i = 0; i < 4; ++i) u32(0x7F0000FF);  // pixels
  for (int i = 0; i < 8; ++i) u8(0);            // AND mask
  return f;
}

TEST_F(WindowTest, CursorFilesNextToTheProgram) {
  Open();  // without HAND-M.CUR the buttons show the platform's hand
  EXPECT_EQ(Child<QPushButton>("PushButton2")->cursor().shape(), Qt::PointingHandCursor);
  temp_.WriteFile("HAND-M.CUR", IconFile(2, 1, 0));
  temp_.WriteFile("drag.ico", IconFile(1, 0, 0));
  Open();
  for (const char* b : {"PushButton1", "PushButton9"}) {
    EXPECT_EQ(Child<QPushButton>(b)->cursor().shape(), Qt::BitmapCursor) << b;
    EXPECT_EQ(Child<QPushButton>(b)->cursor().hotSpot(), QPoint(1, 0)) << b;
  }
  // The drag pointer shows while an item is pressed.
  dialogs_.files = {{"/a"}};
  Click("PushButton1");
  QWidget* list = View()->viewport();
  const QPoint at = View()->visualRect(View()->model()->index(0, 0)).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, list->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &press);
  EXPECT_EQ(list->cursor().shape(), Qt::BitmapCursor);
  QMouseEvent release(QEvent::MouseButtonRelease, at, list->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &release);
  EXPECT_EQ(list->cursor().shape(), Qt::ArrowCursor);

  // An unreadable file is no error: the platform's hand stays.
  temp_.WriteFile("HAND-M.CUR", "not a cursor");
  Open();
  EXPECT_EQ(Child<QPushButton>("PushButton1")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(WindowTest, HelpAndSkin) {
  temp_.WriteFile("x/o.cjs", "QPushButton { color: rgb(1, 2, 3); }");
  Open();
  EXPECT_EQ(window_->styleSheet(), "QPushButton { color: rgb(1, 2, 3); }");
  Click("PushButton3");
  EXPECT_EQ(dialogs_.messages, QStringList{"Cannot hold very large file size."});
  // A display name would be appended to every dialog's title by the desktop.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_EQ(ApplicationTitle(), "Tavrine");
}

}  // namespace
}  // namespace tavrine::app::testing
