// The creation job end to end: real files, the real writer on its worker thread, and the image
// read back by the image reader.
#include <sys/resource.h>

#include <QDir>
#include <QProgressBar>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>

#include "app_fixture.h"
#include "image/reader.h"

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
  std::string Image() const { return (out_ + "/result.iso").toStdString(); }
  QStringList OutputFolder() const {
    return QDir(out_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }

  // Joliet path -> contents, as the image reader reads the image.
  Files ReadBack() const {
    const iso::IsoImage image(Image());
    Files files;
    iso::WalkEntries(image.Joliet().root, [&](const std::u16string& path, const iso::Entry& e) {
      if (!e.IsDirectory()) files[iso::Utf8(path)] = image.ReadFile(e);
    });
    return files;
  }

  QString out_;
  QStringList status_;
};

TEST_F(JobTest, NoImageWithoutFilesOrAnOutputFolder) {
  Click("PushButton2");
  Click("PushButton2");  // the flag was cleared: asked again
  EXPECT_EQ(dialogs_.messages, (QStringList{"No files added.", "No files added."}));
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  for (const QString& folder : {out_ + "/nope", P("a.txt"), QString()}) {
    Child<QLineEdit>("Text1")->setText(folder);
    Click("PushButton2");
    EXPECT_EQ(dialogs_.messages.last(), "Folder does not exist. Please select another folder.");
  }
  EXPECT_EQ(dialogs_.messages.size(), 5);
  EXPECT_FALSE(window_->BuildInProgress());
  // A folder where no file can be created, and an image name that is a folder: the writer's
  // refusal with the file and the reason, no error dialog.
  temp_.MakeDir("out/result.iso");
  for (const auto& [folder, why] : {std::pair{QString("/proc/self/"), QString(": ")},
                                    std::pair{out_, QString(": it is a folder")}}) {
    Child<QLineEdit>("Text1")->setText(folder);
    RunJob();
    const QString image = QDir::cleanPath(folder + "/result.iso");
    EXPECT_TRUE(dialogs_.messages.last().startsWith("Fail to create.\r\n\r\nThe image " + image +
                                                    " cannot be created" + why))
        << dialogs_.messages.last().toStdString();
    EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Not created");
  }
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
  // The image file's own name, which "/" cannot stand in.
  Child<QLineEdit>("FileName")->setText("a/b.iso");
  Click("PushButton2");
  EXPECT_TRUE(dialogs_.messages.last().startsWith("The image file name \"a/b.iso\" cannot be"));
  Child<QLineEdit>("FileName")->setText("my disc.iso");
  RunJob();
  EXPECT_EQ(OutputFolder(), (QStringList{"my disc.iso", "result.iso"}));
}

TEST_F(JobTest, WritesEveryListedFileReportsProgressInOrderAndStartsAfreshEachTime) {
  const std::string big = temp_.WritePatternFile("in/data.bin", 9 << 20, 7);
  Drop({Q(temp_.WriteFile("in/hello.txt", "Hello, image!\n")),
        Q(temp_.WriteFile("in/Grüße 100%p.txt", "Grüße\n")), Q(big),
        Q(temp_.WriteFile("in/empty.txt", ""))});
  temp_.WriteFile("out/result.iso", "an older image, replaced");
  QList<int> bar;
  QObject::connect(Child<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged,
                   [&](int value) {
                     if (status_.contains("Building filesystem")) bar << value;
                   });
  RunJob();
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_EQ(ReadBack(), (Files{{"/hello.txt", "Hello, image!\n"},
                               {"/Grüße 100%p.txt", "Grüße\n"},
                               {"/data.bin", tavrine::testing::ReadFile(big)},
                               {"/empty.txt", ""}}));

  // The bar moves inside the large file and is full at the end.
  EXPECT_TRUE(std::any_of(bar.begin(), bar.end(), [](int v) { return v > 5 && v < 95; }));
  EXPECT_EQ(bar.last(), 100);
  status_.replaceInStrings(QRegularExpression("\\(-?\\d+%\\)"), "(n%)");
  EXPECT_EQ(
      status_,
      (QStringList{"Processing: hello.txt", "Processing: Grüße 100%p.txt", "Processing: data.bin",
                   "Processing: empty.txt", "Progress Bar", "Building filesystem",
                   "Writing path table", "Writing directory records", "Writing files (n%)",
                   "Writing files (n%)", "Writing files (n%)", "Writing files (n%)", "Ready"}));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Ready");
  EXPECT_FALSE(window_->Busy());

  // Files taken off the list stay out of the next image.
  Click("PushButton6");
  Drop({P("in/empty.txt")});
  RunJob();
  EXPECT_EQ(dialogs_.messages, (QStringList{"Done.", "Done."}));
  EXPECT_EQ(ReadBack(), (Files{{"/empty.txt", ""}}));
}

TEST_F(JobTest, SecondClickDuringAJobIsIgnored) {
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  // One click arrives while the job lets the window breathe, one while the image is written.
  QMetaObject::invokeMethod(Child<QPushButton>("PushButton2"), "click", Qt::QueuedConnection);
  QEventLoop loop;
  QObject::connect(window_.get(), &Form1::JobFinished, &loop, &QEventLoop::quit);
  Click("PushButton2");
  ASSERT_TRUE(window_->BuildInProgress());
  EXPECT_TRUE(Child<QLineEdit>("Text7")->isReadOnly());
  EXPECT_TRUE(Child<QLineEdit>("Text1")->isReadOnly());
  Click("PushButton2");
  loop.exec();
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_EQ(status_.count("Building filesystem"), 1);
  EXPECT_FALSE(Child<QLineEdit>("Text7")->isReadOnly());
}

TEST_F(JobTest, FilesLeftOutAreReportedAndTheJobGoesOn) {
  const QString first = Q(temp_.WriteFile("a/notes.txt", "first"));
  const QString second = Q(temp_.WriteFile("b/NOTES.TXT", "second"));
  const QString gone = P("in/gone.txt");
  const QString backslash = Q(temp_.WriteFile("c/back\\slash", "x"));
  Drop({first, gone, second, backslash, first});
  const QStringList inImage = window_->List().InImage();
  EXPECT_EQ(inImage.mid(2), (QStringList{"\\NOTES~1.TXT  (renamed)", "\\back_slash  (renamed)",
                                         "\\notes.txt  (listed above: goes in once)"}));
  EXPECT_TRUE(inImage[1].startsWith("left out: ") && inImage[1].contains("gone.txt"));
  RunJob();
  // A vanished file is routine: named in the summary, no error dialog.
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
  EXPECT_EQ(dialogs_.messages,
            (QStringList{"Done.",
                         "2 listed file(s) went in under another name. 1 listed file(s) are not "
                         "in the image, or not whole."}));
  const QStringList details = dialogs_.details.value(0).split('\n');
  ASSERT_EQ(details.size(), 3);
  EXPECT_TRUE(details[0].startsWith(gone + " - ") && details[0].contains("gone.txt"));
  EXPECT_EQ(details[1], second + " - in the image as \\NOTES~1.TXT: its name was taken");
  EXPECT_TRUE(details[2].startsWith(backslash + " - in the image as \\back_slash: "));
  EXPECT_EQ(ReadBack(),
            (Files{{"/notes.txt", "first"}, {"/NOTES~1.TXT", "second"}, {"/back_slash", "x"}}));
}

// A dropped folder goes in under its own name, "Add All File(s) In Folder" puts a folder's files
// and sub-folders into the root, and names that clash go in under "~n" names: nothing is lost.
TEST_F(JobTest, FoldersKeepTheirShapeAndClashingNamesGoInRenamed) {
  temp_.WriteFile("Photos/a:b.txt", "Windows refuses ':'");
  temp_.WriteFile("Photos/b.txt", "b");
  temp_.WriteFile("Photos/caf\xE9.txt", "latin-1 name");
  temp_.WriteFile("Photos/2024/a.jpg", "a");
  temp_.WriteFile("Photos/2024/A.JPG", "A");
  temp_.WriteFile("more/Photos", "a file named like the folder");
  temp_.WriteFile("more/2024/a.jpg", "another a");
  Drop({P("Photos")});
  dialogs_.inputs = {"*"};
  dialogs_.folders = {P("more")};
  Click("PushButton4");
  // The same local file again, by the bytes of its name: it goes in once.
  Drop(QUrl::fromLocalFile(P("Photos/")).toEncoded() + "caf%E9.txt\r\n");
  EXPECT_EQ(Listed().last(), P("Photos/caf") + "\\xE9.txt");
  const QString cafe = QString::fromUtf8("\\Photos\\café.txt");
  EXPECT_EQ(window_->List().InImage(),
            (QStringList{"\\Photos\\a_b.txt  (renamed)", "\\Photos\\b.txt", cafe + "  (renamed)",
                         "\\Photos\\2024\\A.JPG", "\\Photos\\2024\\a~1.jpg  (renamed)",
                         "\\Photos~1  (renamed)", "\\2024\\a.jpg",
                         cafe + "  (listed above: goes in once)"}));
  RunJob();
  EXPECT_EQ(dialogs_.messages,
            (QStringList{"Done.", "4 listed file(s) went in under another name."}));
  EXPECT_EQ(ReadBack(), (Files{{"/Photos/a_b.txt", "Windows refuses ':'"},
                               {"/Photos/b.txt", "b"},
                               {"/Photos/café.txt", "latin-1 name"},
                               {"/Photos/2024/A.JPG", "A"},
                               {"/Photos/2024/a~1.jpg", "a"},
                               {"/Photos~1", "a file named like the folder"},
                               {"/2024/a.jpg", "another a"}}));
}

TEST_F(JobTest, FailingWriteSaysWhyAndLeavesNoImage) {
  Drop({Q(temp_.WritePatternFile("in/big.bin", 300000, 3))});
  // The image outgrows the file-size limit while it is written.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 128 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  RunJob();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  // A full disk is no fault of the program: the message says which file and why.
  EXPECT_TRUE(dialogs_.errors.isEmpty());
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].startsWith("Fail to create.\r\n\r\n"));
  EXPECT_TRUE(dialogs_.messages[0].contains(out_ + "/result.iso") &&
              dialogs_.messages[0].contains(std::strerror(EFBIG)))
      << dialogs_.messages[0].toStdString();
  EXPECT_EQ(OutputFolder(), QStringList());
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Failed");
}

// A box open during a build holds nothing up, and the end of the build waits for it: "Help" is
// open while the build runs to its end behind it; "Done." comes after it. A close question that
// the build outlives is closed and answered for what is on disk: the image stays.
TEST_F(JobTest, BoxesNeverHoldTheBuildUpAndTheEndWaitsForThem) {
  Drop({Q(temp_.WritePatternFile("in/a.bin", 3 << 20, 1)), Q(temp_.WriteFile("in/b", "b"))});
  dialogs_.holdMessage = [this] { return status_.contains("Ready"); };
  QMetaObject::invokeMethod(Child<QPushButton>("PushButton3"), "click", Qt::QueuedConnection);
  RunJob();
  EXPECT_TRUE(status_.contains("Ready"));
  EXPECT_EQ(dialogs_.messages, (QStringList{"Cannot hold very large file size.", "Done."}));

  dialogs_.holdQuestion = true;
  Click("PushButton2");
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(dialogs_.questions.size(), 1);
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

TEST_F(JobTest, StoppingOrClosingWhileTheImageIsWrittenRemovesIt) {
  // Many files: the writer looks for a stop request before each of them, and cannot be through
  // them all in the moment between the click and the close.
  QStringList files;
  for (int i = 0; i < 600; ++i) {
    files << Q(temp_.WritePatternFile("in/f" + std::to_string(i) + ".bin", 16384,
                                      static_cast<std::uint32_t>(i)));
  }
  Drop(files);
  // The stop button: the build ends and says so, no image is left, the window stays.
  QEventLoop loop;
  QObject::connect(window_.get(), &Form1::JobFinished, &loop, &QEventLoop::quit);
  Click("PushButton2");
  Click("StopButton");
  loop.exec();
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Stopped");
  EXPECT_EQ(OutputFolder(), QStringList());
  // Closing asks first.
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
