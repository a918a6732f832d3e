// The creation job end to end: real files, the real writer on its worker thread, and the image
// read back by the image reader.
#include <QDir>
#include <QProgressBar>
#include <filesystem>
#include <map>

#include "app_fixture.h"
#include "image/reader.h"
#include "tree/text.h"

namespace tavrine::app::testing {
namespace {

using Files = std::map<std::string, std::string>;

class JobTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Open();
    out_ = Q(temp_.MakeDir("out"));
    Child<QLineEdit>("Text1")->setText(out_);  // without a trailing separator
    QObject::connect(window_.get(), &Form1::StatusText,
                     [this](const QString& text) { status_ << text; });
  }
  QStringList OutputFolder() const {
    return QDir(out_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  // Joliet path -> contents, as the image reader reads the image.
  Files ReadBack() const {
    const iso::IsoImage image((out_ + "/result.iso").toStdString());
    Files files;
    iso::WalkEntries(image.Joliet().root, [&](const std::u16string& path, const iso::Entry& e) {
      if (!e.IsDirectory()) files[text::ToUtf8(path)] = image.ReadFile(e);
    });
    return files;
  }

  QString out_;
  QStringList status_;
};

TEST_F(JobTest, NoImageWithoutFiles) {
  Click("PushButton2");
  EXPECT_EQ(dialogs_.messages, QStringList{"No files added."});
  EXPECT_FALSE(window_->BuildInProgress());
}

// A dropped folder goes in under its own name, "Add All File(s) In Folder" puts a folder's files
// and sub-folders into the root, and names that clash go in under "~n" names: nothing is lost.
TEST_F(JobTest, FoldersKeepTheirShapeAndClashingNamesGoInRenamed) {
  temp_.WriteFile("Photos/a:b.txt", "Windows refuses ':'");
  temp_.WriteFile("Photos/2024/a.jpg", "a");
  temp_.WriteFile("Photos/2024/A.JPG", "A");
  temp_.WriteFile("more/Photos", "a file named like the folder");
  temp_.WriteFile("more/2024/a.jpg", "another a");
  Drop({P("Photos")});
  dialogs_.inputs = {"*"};
  dialogs_.folders = {P("more")};
  Click("PushButton4");
  EXPECT_EQ(window_->List().InImage(),
            (QStringList{"\\Photos\\a_b.txt  (renamed)", "\\Photos\\2024\\A.JPG",
                         "\\Photos\\2024\\a~1.jpg  (renamed)", "\\Photos~1  (renamed)",
                         "\\2024\\a.jpg"}));
  RunJob();
  EXPECT_EQ(dialogs_.messages,
            (QStringList{"Done.", "3 listed file(s) went in under another name."}));
  EXPECT_EQ(ReadBack(), (Files{{"/Photos/a_b.txt", "Windows refuses ':'"},
                               {"/Photos/2024/A.JPG", "A"},
                               {"/Photos/2024/a~1.jpg", "a"},
                               {"/Photos~1", "a file named like the folder"},
                               {"/2024/a.jpg", "another a"}}));
}

// A box open during a build holds nothing up, and the end of the build waits for it: "Help" is
// open while the build runs to its end behind it; "Done." comes after it, with the bar full. A
// close question that the build outlives is answered for what is on disk: the image stays.
TEST_F(JobTest, BoxesNeverHoldTheBuildUpAndTheEndWaitsForThem) {
  Drop({Q(temp_.WritePatternFile("in/a.bin", 3 << 20, 1)), Q(temp_.WriteFile("in/b", "b"))});
  QList<int> bar;
  QObject::connect(Child<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged,
                   [&](int value) { bar << value; });
  dialogs_.holdMessage = [this] { return status_.contains("Ready"); };
  QMetaObject::invokeMethod(Child<QPushButton>("PushButton3"), "click", Qt::QueuedConnection);
  RunJob();
  EXPECT_EQ(dialogs_.messages, (QStringList{"Cannot hold very large file size.", "Done."}));
  EXPECT_EQ(bar.value(bar.size() - 1), 100);

  dialogs_.holdQuestion = true;
  Click("PushButton2");
  EXPECT_FALSE(window_->close());
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_EQ(dialogs_.messages.last(),
            "Done.\r\n\r\nThe image was finished before the question was answered, so it was "
            "kept.");
  EXPECT_EQ(ReadBack().size(), 2u);
  EXPECT_EQ(dialogs_.overlaps, 0);

  // "No": the build goes on.
  dialogs_.holdQuestion = false;
  QMetaObject::invokeMethod(window_.get(), "close", Qt::QueuedConnection);
  RunJob();
  EXPECT_EQ(dialogs_.questions.size(), 2);
  EXPECT_EQ(dialogs_.messages.last(), "Done.");
}

TEST_F(JobTest, ClosingWhileTheImageIsWrittenRemovesIt) {
  // Many files: the writer looks for a stop request before each of them, and cannot be through
  // them all in the moment between the click and the close.
  QStringList files;
  for (int i = 0; i < 600; ++i) {
    files << Q(temp_.WritePatternFile("in/f" + std::to_string(i) + ".bin", 16384,
                                      static_cast<std::uint32_t>(i)));
  }
  Drop(files);
  dialogs_.answers = {true};
  Click("PushButton2");
  ASSERT_TRUE(window_->BuildInProgress());
  EXPECT_TRUE(window_->close());
  EXPECT_EQ(dialogs_.questions.size(), 1);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialogs_.messages.isEmpty());
  EXPECT_EQ(OutputFolder(), QStringList());
}

}  // namespace
}  // namespace tavrine::app::testing
