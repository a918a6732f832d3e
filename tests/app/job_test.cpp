// The creation job end to end: real files, the real writer on its worker thread, and the image
// read back by pycdlib.
#include <sys/resource.h>

#include <QDir>
#include <QKeyEvent>
#include <QProgressBar>
#include <QTreeView>
#include <csignal>
#include <filesystem>
#include <map>

#include "app_fixture.h"
#include "support/readers.h"

namespace tavrine::app::testing {
namespace {

using tavrine::testing::AllReaders;
using tavrine::testing::Namespace;
using tavrine::testing::Reader;
using tavrine::testing::ReadFile;

const Reader& Pycdlib() {
  for (const Reader* r : AllReaders()) {
    if (r->Name() == "pycdlib") return *r;
  }
  throw std::runtime_error("no pycdlib reader");
}

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
  std::string Image() const { return (out_ + QStringLiteral("/result.iso")).toStdString(); }

  // Joliet name -> contents, as pycdlib reads the image.
  std::map<std::string, std::string> ReadBack() {
    const Reader& reader = Pycdlib();
    if (!reader.Available()) ADD_FAILURE() << "pycdlib is not installed";
    std::map<std::string, std::string> files;
    const std::string scratch = temp_ / ("extract" + std::to_string(++extractions_));
    reader.ExtractAll(Image(), Namespace::kJoliet, scratch);
    for (const auto& [path, entry] : reader.List(Image(), Namespace::kJoliet)) {
      EXPECT_FALSE(entry.directory) << path;
      files[path] = ReadFile(scratch + path);
      EXPECT_EQ(static_cast<std::int64_t>(files[path].size()), entry.size) << path;
    }
    return files;
  }

  QString out_;
  QStringList status_;
  int extractions_ = 0;
};

TEST_F(JobTest, EmptyListAndMissingFolder) {
  Click("PushButton2");
  Click("PushButton2");  // the flag was cleared: asked again
  EXPECT_EQ(dialogs_.messages, (QStringList{"No files added.", "No files added."}));
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  for (const QString& folder : {out_ + "/nope", Q(temp_ / "a.txt"), QString()}) {
    Child<QLineEdit>("Text1")->setText(folder);
    Click("PushButton2");
    EXPECT_EQ(dialogs_.messages.last(),
              QStringLiteral("Folder does not exist. Please select another folder."));
  }
  EXPECT_EQ(dialogs_.messages.size(), 5);
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(JobTest, WritesEveryListedFileAndReportsProgressInOrder) {
  const std::string big = temp_.WritePatternFile("in/data.bin", 5000, 7);
  Drop({Q(temp_.WriteFile("in/hello.txt", "Hello, image!\n")),
        Q(temp_.WriteFile("in/Grüße 100%p.txt", "Grüße\n")), Q(big),
        Q(temp_.WriteFile("in/empty.txt", ""))});
  temp_.WriteFile("out/result.iso", "an older image, replaced");
  RunJob();
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  const std::map<std::string, std::string> expected = {{"/hello.txt", "Hello, image!\n"},
                                                       {"/Grüße 100%p.txt", "Grüße\n"},
                                                       {"/data.bin", ReadFile(big)},
                                                       {"/empty.txt", ""}};
  EXPECT_EQ(ReadBack(), expected);

  const QStringList head = {"Processing: hello.txt", "Processing: Grüße 100%p.txt",
                            "Processing: data.bin",  "Processing: empty.txt",
                            "Progress Bar",          "Building filesystem",
                            "Writing path table",    "Writing directory records"};
  ASSERT_EQ(status_.size(), head.size() + 5);
  EXPECT_EQ(status_.mid(0, head.size()), head);
  for (qsizetype i = head.size(); i < head.size() + 4; ++i) {
    EXPECT_TRUE(status_[i].startsWith("Writing files (") && status_[i].endsWith("%)")) << i;
  }
  EXPECT_EQ(status_.last(), QStringLiteral("Ready"));
  auto* bar = Child<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->text(), QStringLiteral("Ready"));
  const int lastPercent = status_[head.size() + 3].mid(15).chopped(2).toInt();
  EXPECT_EQ(bar->value(), std::clamp(lastPercent, 0, 100));
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_FALSE(window_->Busy());
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

TEST_F(JobTest, SameNameTwiceGoesInOnceAndIsReported) {
  const QString first = Q(temp_.WriteFile("a/notes.txt", "first"));
  const QString second = Q(temp_.WriteFile("b/NOTES.TXT", "second"));
  Drop({first, second, first});
  RunJob();
  ASSERT_EQ(dialogs_.messages.size(), 2);
  EXPECT_EQ(dialogs_.messages[0], QStringLiteral("Done."));
  EXPECT_TRUE(
      dialogs_.messages[1].contains(second + " - a file of the same name is already in it"));
  EXPECT_TRUE(dialogs_.messages[1].contains(first + " - a file of the same name"));
  EXPECT_EQ(ReadBack(), (std::map<std::string, std::string>{{"/notes.txt", "first"}}));
}

TEST_F(JobTest, SecondJobStartsFromAnEmptyImage) {
  Drop({Q(temp_.WriteFile("in/keep.txt", "k")), Q(temp_.WriteFile("in/drop.txt", "d"))});
  RunJob();
  EXPECT_EQ(ReadBack().size(), 2u);
  auto* view = Child<QTreeView>("ListView1");
  view->setCurrentIndex(view->model()->index(1, 0));
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &del);
  RunJob();
  EXPECT_EQ(dialogs_.messages, (QStringList{"Done.", "Done."}));
  EXPECT_EQ(ReadBack(), (std::map<std::string, std::string>{{"/keep.txt", "k"}}));
}

TEST_F(JobTest, VanishedFileIsReportedAndTheJobGoesOn) {
  const QString gone = Q(temp_ / "in/gone.txt");
  Drop({gone, Q(temp_.WriteFile("in/here.txt", "h"))});
  RunJob();
  ASSERT_EQ(dialogs_.errors.size(), 1);
  EXPECT_TRUE(dialogs_.errors[0].contains(gone));
  EXPECT_TRUE(dialogs_.errors[0].contains(
      QStringLiteral("\r\nin Tavrine2021/08/31.Form1.PushButton2_Click at line 7\r\n\r\nPlease "
                     "email screenshot of this message to support@quarnelix.example")));
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_EQ(ReadBack(), (std::map<std::string, std::string>{{"/here.txt", "h"}}));
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
      QStringLiteral("\r\nin Tavrine2021/08/31.Form1.PushButton2_Click at line 10\r\n")));
  EXPECT_EQ(dialogs_.messages, QStringList{"Fail to create."});
  EXPECT_TRUE(QDir(out_).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  EXPECT_FALSE(window_->BuildInProgress());
}

TEST_F(JobTest, OutputThatCannotBeCreated) {
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  Child<QLineEdit>("Text1")->setText(QStringLiteral("/proc/self/"));
  RunJob();
  EXPECT_EQ(dialogs_.messages, QStringList{"Fail to create."});
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
}

TEST_F(JobTest, ClosingWhileFilesAreAddedAsksFirst) {
  Drop({Q(temp_.WriteFile("a.txt", "a"))});
  dialogs_.answers = {false};
  QMetaObject::invokeMethod(window_.get(), "close", Qt::QueuedConnection);
  RunJob();  // "No": the job goes on
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});

  std::filesystem::remove(Image());
  dialogs_.answers = {true};
  QMetaObject::invokeMethod(window_.get(), "close", Qt::QueuedConnection);
  Click("PushButton2");  // "Yes": the job ends before it writes anything
  EXPECT_EQ(dialogs_.questions.size(), 2);
  EXPECT_FALSE(window_->BuildInProgress());
  EXPECT_EQ(dialogs_.messages, QStringList{"Done."});
  EXPECT_FALSE(std::filesystem::exists(Image()));
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
  EXPECT_EQ(QDir(out_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
}

}  // namespace
}  // namespace tavrine::app::testing
