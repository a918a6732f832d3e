// Start-up, settings, the identifier fields, the output folder, cursors and skin.
#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QProgressBar>
#include <QStandardPaths>
#include <filesystem>
#include <vector>

#include "app/size_meter.h"
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

TEST_F(WindowTest, HelpAndTitles) {
  Open();
  Click("PushButton3");
  EXPECT_EQ(dialogs_.messages, QStringList{"Cannot hold very large file size."});
  // A display name would be appended to every dialog's title by the desktop.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_EQ(ApplicationTitle(), "Tavrine");
}

// The line under the list, by the blocks of the disc kinds' capacities.
TEST(SizeMeterTest, TellsTheDiscThePlanFits) {
  const auto plan = [](std::int64_t blocks, std::size_t leftOut, std::string error = {}) {
    ListPlan p{std::vector<Placement>(2), 1, 1500, blocks, std::move(error)};
    if (leftOut > 0) p.placements[0].fate = Placement::Fate::kLeftOut;
    return p;
  };
  const std::pair<ListPlan, const char*> cases[] = {
      {ListPlan{}, "No files"},
      {plan(359'847, 0), "1 file(s), 1.5 kB; image 737.0 MB, fits a CD (700 MB)"},
      {plan(359'848, 1), "1 file(s) (1 left out), 1.5 kB; image 737.0 MB, fits a DVD (4.7 GB)"},
      {plan(4'171'713, 0), "1 file(s), 1.5 kB; image 8.5 GB, fits a BD (25 GB)"},
      {plan(12'219'393, 0), "1 file(s), 1.5 kB; image 25.0 GB, too large for a BD (25 GB)"},
      {plan(0, 0, "a name too long"), "1 file(s), 1.5 kB; no image: a name too long"}};
  for (const auto& [p, text] : cases) EXPECT_EQ(MeterText(p), text);
}

}  // namespace
}  // namespace tavrine::app::testing
