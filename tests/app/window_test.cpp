// Start-up, settings, the identifier fields and the output folder; the name and title helpers.
#include <QComboBox>
#include <QFocusEvent>
#include <filesystem>
#include <string_view>
#include <vector>

#include "app/add_folder.h"
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

TEST(HelpersTest, OddCharactersAndTitle) {
  // "?" and the code points below 32 and from 127 to 159 (NUL included) are odd, one by one.
  for (const char32_t c : std::u32string_view(U"?\t\x1F\x7F\x80\x9F\0", 7)) {
    EXPECT_TRUE(HasOddCharacters(QString::fromUcs4(&c, 1))) << static_cast<int>(c);
  }
  EXPECT_FALSE(HasOddCharacters(QString::fromUcs4(U"~\u00A0 Grüße ελληνικά 日本.txt \U0001F600")));
  // The last word goes, then more until the title fits in 40 characters.
  EXPECT_EQ(SetAppTitle("Disc Image Maker"), "Disc Image");
  EXPECT_EQ(SetAppTitle("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddd E"),
            "Aaaaaaaaaa Bbbbbbbbbb Cccccccccc");
}

}  // namespace
}  // namespace tavrine::app::testing
