// The creation job end to end: real files, the real writer on its worker thread, and the image
// read back by pycdlib.
#include <sys/resource.h>

#include <QDir>
#include <QProgressBar>
#include <QRegularExpression>
#include <csignal>
#include <filesystem>
#include <map>

#include "app_fixture.h"
#include "support/readers.h"

namespace tavrine::app::testing {
namespace {

using tavrine::testing::Namespace;
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

  // Joliet name -> contents, as pycdlib reads the image.
  Files ReadBack() {
    for (const tavrine::testing::Reader* reader : tavrine::testing::AllReaders()) {
      if (reader->Name() != "pycdlib") continue;
      if (!reader->Available()) ADD_FAILURE() << "pycdlib is not installed";
      const std::string scratch = temp_ / ("extract" + std::to_string(++extractions_));
      reader->ExtractAll(Image(), Namespace::kJoliet, scratch);
      Files files;
      for (const auto& [path, entry] : reader->List(Image(), Namespace::kJoliet)) {
        EXPECT_FALSE(entry.directory) << path;
        files[path] = tavrine::testing::ReadFile(scratch + path);
        EXPECT_EQ(static_cast<std::int64_t>(files[path].size()), entry.size) << path;
      }
      return files;
    }
    throw std::runtime_error("no pycdlib reader");
  }

  QString out_;
  QStringList status_;
  int extractions_ = 0;
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
  // A folder where no file can be created: the writer's refusal, no error dialog.
  Child<QLineEdit>("Text1")->setText("/proc/self/");
  RunJob();
  EXPECT_EQ(dialogs_.messages.last(), "Fail to create.");
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
}

TEST_F(JobTest, WritesEveryListedFileReportsProgressInOrderAndStartsAfreshEachTime) {
  const std::string big = temp_.WritePatternFile("in/data.bin", 5000, 7);
  Drop({Q(temp_.WriteFile("in/hello.txt", "Hello, image!\n")),
        Q(temp_.WriteFile("in/Grüße 100%p.txt", "Grüße\n")), Q(big),
        Q(temp_.WriteFile("in/empty.txt", ""))});
  temp_.WriteFile("out/result.iso", "an older image, replaced");
  RunJob();
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_EQ(ReadBack(), (Files{{"/hello.txt", "Hello, image!\n"},
                               {"/Grüße 100%p.txt", "Grüße\n"},
                               {"/data.bin", tavrine::testing::ReadFile(big)},
                               {"/empty.txt", ""}}));

  // The writer's percentages are its own; the bar shows the last one.
  const int lastPercent = status_.value(11).section('(', 1).chopped(2).toInt();
  status_.replaceInStrings(QRegularExpression("\\(-?\\d+%\\)"), "(n%)");
  EXPECT_EQ(
      status_,
      (QStringList{"Processing: hello.txt", "Processing: Grüße 100%p.txt", "Processing: data.bin",
                   "Processing: empty.txt", "Progress Bar", "Building filesystem",
                   "Writing path table", "Writing directory records", "Writing files (n%)",
                   "Writing files (n%)", "Writing files (n%)", "Writing files (n%)", "Ready"}));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->text(), "Ready");
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), std::clamp(lastPercent, 0, 100));
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
  RunJob();
  ASSERT_EQ(dialogs_.errors.size(), 1);
  const QString why = dialogs_.errors[0].section("\r\n", 0, 0);
  EXPECT_TRUE(why.contains(gone));
  EXPECT_TRUE(dialogs_.errors[0].endsWith(
      "\r\nin Tavrine2021/08/31.Form1.PushButton2_Click at line 7\r\n\r\nPlease email "
      "screenshot of this message to support@quarnelix.example"));
  ASSERT_EQ(dialogs_.messages.size(), 2);
  EXPECT_EQ(dialogs_.messages[0], "Done.");
  EXPECT_EQ(dialogs_.messages[1], "Some listed files are not in the image, or not whole:\r\n" +
                                      gone + " - " + why + "\r\n" + second +
                                      " - a file of the same name is already in it\r\n" + first +
                                      " - a file of the same name is already in it");
  // "\" in a local name becomes "_".
  EXPECT_EQ(ReadBack(), (Files{{"/notes.txt", "first"}, {"/back_slash", "x"}}));
}

TEST_F(JobTest, FailingWriteShowsTheErrorAndLeavesNoImage) {
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
  ASSERT_EQ(dialogs_.errors.size(), 1);
  EXPECT_TRUE(dialogs_.errors[0].contains(
      "\r\nin Tavrine2021/08/31.Form1.PushButton2_Click at line 10\r\n"));
  EXPECT_EQ(dialogs_.messages, QStringList{"Fail to create."});
  EXPECT_EQ(OutputFolder(), QStringList());
  EXPECT_FALSE(window_->BuildInProgress());
}

TEST_F(JobTest, ClosingWhileFilesAreAddedAsksFirst) {
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  dialogs_.answers = {false, true};
  QMetaObject::invokeMethod(window_.get(), "close", Qt::QueuedConnection);
  RunJob();  // "No": the job goes on
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});

  std::filesystem::remove(Image());
  QMetaObject::invokeMethod(window_.get(), "close", Qt::QueuedConnection);
  Click("PushButton2");  // "Yes": the job ends before it writes anything
  EXPECT_EQ(dialogs_.questions.size(), 2);
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_EQ(OutputFolder(), QStringList());
}

TEST_F(JobTest, ClosingWhileTheImageIsWrittenStopsItAndRemovesIt) {
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
