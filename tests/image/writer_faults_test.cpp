// SaveISO when things go wrong: failed writes, local files that vanish, shrink or grow, a
// cancelled build. Either a whole image is written or none, and an earlier image survives.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "fileio/file_system_calls.h"
#include "image/read_ahead.h"
#include "image/reader.h"
#include "image/writer.h"
#include "support/faults.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tree/errors.h"

namespace tavrine {
namespace {

using iso::IsoImage;
using ::testing::AllOf;
using ::testing::HasSubstr;
using testing::RecordingEvents;
using testing::TempDir;
using ::testing::ThrowsMessage;

// The names in dir, without the local files the tests add under "in/".
std::vector<std::string> OutputNames(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != "in") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Calls a handler at the first WritingFiles event.
class OnFirstFile : public RecordingEvents {
 public:
  explicit OnFirstFile(std::function<void()> action) : action_(std::move(action)) {}
  void WritingFiles(std::int32_t percent) override {
    RecordingEvents::WritingFiles(percent);
    if (action_) std::exchange(action_, nullptr)();
  }

 private:
  std::function<void()> action_;
};

// Runs body in a child process (for limits and identities the test itself must keep) and gives
// its exit status, -1 when it did not exit normally.
int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child == -1 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ExpectOnlyTheEarlierImage(const TempDir& dir, const std::string& target) {
  EXPECT_EQ(testing::ReadFile(target), "earlier image");
  EXPECT_EQ(OutputNames(dir), std::vector<std::string>{"result.iso"});
}

// An existing image its user may not write stays, though its folder would take a new one. Run
// as nobody when the tests run as root, who may write anything.
TEST(WriterFaults, AReadOnlyImageIsNotReplaced) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string target = dir.WriteFile("result.iso", "earlier image");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  EXPECT_EQ(InChild([&] {
              if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 3;
              clsISOWriter writer;
              return writer.SaveISO(target) ? 1 : 0;
            }),
            0);
  ExpectOnlyTheEarlierImage(dir, target);
}

// A kernel copy that fails or is refused part way through a large file: the rest comes through
// the buffer, from where the kernel stopped.
TEST(WriterFaults, AKernelCopyStoppingPartWayIsFinishedThroughTheBuffer) {
  TempDir dir;
  const std::string source = dir.WritePatternFile("in/large.bin", 1 << 20, 5);
  clsISOWriter writer;
  writer.Root()->Files().Add(source);
  for (const int error : {EIO, EXDEV}) {
    {
      testing::ScopedFaults faults;
      faults->mapRefusal = ENODEV;  // the kernel's copy, not a mapping of the source
      faults->copyRefusal = error;
      faults->kernelCopies = 3;
      faults->copyMost = 100000;
      ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
    }
    EXPECT_TRUE(writer.UnreadableFiles().empty());
    IsoImage iso(dir / "result.iso");
    EXPECT_TRUE(iso.ReadFile(iso.Primary().Find(u"/LARGE.BIN")) == testing::ReadFile(source))
        << std::strerror(error);
  }
}

// A real full disk: the child writes under a 256 KiB file size limit (SIGXFSZ ignored, so writes
// fail with EFBIG); the error names the image and the reason, the earlier image stays.
TEST(WriterFaults, FullDiskGivesAnErrorAndNoImage) {
  TempDir dir;
  const std::string target = dir.WriteFile("result.iso", "earlier image");
  dir.WritePatternFile("in/big.bin", 1 << 20, 7);
  EXPECT_EQ(InChild([&] {
              signal(SIGXFSZ, SIG_IGN);
              const struct rlimit limit { 256 * 1024, 256 * 1024 };
              setrlimit(RLIMIT_FSIZE, &limit);
              clsISOWriter writer;
              writer.Root()->Files().Add(dir / "in/big.bin");
              try {
                writer.SaveISO(target);
              } catch (const IoError& e) {
                const std::string message = e.what();
                return message.find(target) != std::string::npos &&
                               message.find(std::strerror(EFBIG)) != std::string::npos
                           ? 0
                           : 2;
              }
              return 1;
            }),
            0);
  ExpectOnlyTheEarlierImage(dir, target);
}

TEST(WriterFaults, FailedWritesAndCloseThroughTheSeamLeaveNoImage) {
  TempDir dir;
  dir.WritePatternFile("in/data.bin", 300000, 3);
  struct Case {
    std::int64_t budget;  // bytes written before writes fail
    bool closeFails;
    int error;
  };
  // Before the first byte, in the buffered structures, in the file data; a late failing close.
  for (const Case& c : {Case{0, false, ENOSPC}, Case{1000, false, ENOSPC},
                        Case{60000, false, ENOSPC}, Case{1 << 30, true, EIO}}) {
    const std::string target = dir.WriteFile("result.iso", "earlier image");
    clsISOWriter writer;
    writer.Root()->Files().Add(dir / "in/data.bin");
    {
      // The kernel declines to copy, so every byte goes through the budgeted writes; every
      // close fails, but only the output's result is looked at.
      testing::ScopedFaults faults;
      faults->writeBudget = c.budget;
      faults->copyRefusal = EXDEV;
      faults->closeFails = c.closeFails;
      EXPECT_THAT(
          [&] { writer.SaveISO(target); },
          ThrowsMessage<IoError>(AllOf(HasSubstr(target), HasSubstr(std::strerror(c.error)))))
          << "write budget " << c.budget;
    }
    SCOPED_TRACE(c.budget);
    ExpectOnlyTheEarlierImage(dir, target);
  }
}

// Reading ahead must not change what a build sees or writes: the same images and reports as
// reading each file when its turn comes, through a window that wraps around several times and
// meets files alone in their folder, empty files, large files and a failing open.
int OpenFailingX13(int folder, const char* path, int flags, mode_t mode) {
  const std::string_view name(path);
  if (name.substr(name.rfind('/') + 1) == "x13.bin") return errno = EACCES, -1;
  return RealFileSystemCalls().openat(folder, path, flags, mode);
}

TEST(WriterReadAhead, GivesTheImageAndReportsOfReadingInOrder) {
  TempDir dir;
  clsISOWriter writer;
  writer.VolumeCreation(testing::FixedDate());
  for (int i = 0; i < 200; ++i) {
    const std::uint64_t size = i % 50 == 7 ? 300000 : i % 40 == 5 ? 0 : (i * 7919) % 9000;
    const std::string folder =
        i % 9 == 0 ? "in/alone" + std::to_string(i) : "in/d" + std::to_string(i / 60);
    writer.Root()->Files().Add(
        dir.WritePatternFile(folder + "/x" + std::to_string(i) + ".bin", size, i));
  }
  FileSystemCalls calls = RealFileSystemCalls();
  calls.openat = OpenFailingX13;
  const ScopedFileSystemCalls seam(calls);
  std::vector<std::string> images;
  // The last time with a dozen descriptors to spare: the window narrows instead of opens failing.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  for (int round = 0; round < 3; ++round) {
    const ScopedReadAheadMode forced(round == 0 ? ReadAheadMode::kNever : ReadAheadMode::kAlways);
    struct rlimit low = saved;
    if (round == 2)
      low.rlim_cur = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}) + 12;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const bool built = writer.SaveISO(dir / "result.iso");
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(built);
    images.push_back(testing::ReadFile(dir / "result.iso"));
    ASSERT_EQ(writer.UnreadableFiles().size(), 1u);
    EXPECT_EQ(writer.UnreadableFiles()[0].ImagePath, u"\\x13.bin");
  }
  EXPECT_TRUE(images[0] == images[1]);
  EXPECT_TRUE(images[0] == images[2]);
  IsoImage iso(dir / "result.iso");
  EXPECT_TRUE(iso.ReadFile(iso.Primary().Find(u"/X199.BIN")) ==
              testing::ReadFile(dir / "in/d3/x199.bin"));
}

TEST(WriterFaults, FilesRemovedShrunkOrGrownDuringTheBuildKeepTheLayout) {
  for (ReadAheadMode mode : {ReadAheadMode::kNever, ReadAheadMode::kAlways}) {
    const ScopedReadAheadMode forced(mode);
    TempDir dir;
    clsISOWriter writer;
    testing::AddFile(*writer.Root(), dir, "in/first.bin", std::string(100, 'f'));
    const std::string removed = dir / "in/removed.bin";
    const std::string shrunk = dir / "in/shrunk.bin";
    const std::string grown = dir / "in/grown.bin";
    testing::AddFile(*writer.Root(), dir, "in/removed.bin", std::string(5000, 'r'));
    testing::AddFile(*writer.Root(), dir, "in/shrunk.bin", std::string(5000, 's'));
    testing::AddFile(*writer.Root(), dir, "in/grown.bin", std::string(3000, 'g'));
    // Replaced by what would hang the build or give endless data; empty files that change.
    const std::string fifo = testing::AddFile(*writer.Root(), dir, "in/fifo", "f").LocalPath();
    const std::string device = testing::AddFile(*writer.Root(), dir, "in/zero", "z").LocalPath();
    const std::string emptyGrown = testing::AddFile(*writer.Root(), dir, "in/e1", "").LocalPath();
    const std::string emptyGone = testing::AddFile(*writer.Root(), dir, "in/e2", "").LocalPath();
    OnFirstFile events([&] {
      std::remove(removed.c_str());
      ASSERT_EQ(truncate(shrunk.c_str(), 100), 0);
      dir.WriteFile("in/grown.bin", std::string(9000, 'G'));
      ASSERT_EQ(std::remove(fifo.c_str()) | mkfifo(fifo.c_str(), 0600), 0);
      ASSERT_EQ(std::remove(device.c_str()) | symlink("/dev/zero", device.c_str()), 0);
      dir.WriteFile("in/e1", "now");
      std::remove(emptyGone.c_str());
    });
    writer.Listener(&events);
    ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));

    const auto& unreadable = writer.UnreadableFiles();
    ASSERT_EQ(unreadable.size(), 7u);
    EXPECT_EQ(unreadable[0].LocalPath, removed);
    EXPECT_EQ(unreadable[0].ImagePath, u"\\removed.bin");
    EXPECT_EQ(unreadable[0].Reason, std::string("cannot be opened (") + std::strerror(ENOENT) +
                                        "); zeros stand in its place");
    EXPECT_EQ(unreadable[1].LocalPath, shrunk);
    EXPECT_EQ(unreadable[1].Reason,
              "file shrank from 5000 to 100 bytes during the build; zeros stand for the rest");
    EXPECT_EQ(unreadable[2].LocalPath, grown);
    EXPECT_NE(unreadable[2].Reason.find("file grew from 3000 to 9000 bytes"), std::string::npos);
    const std::pair<std::string, std::string> replaced[] = {
        {fifo, "is no longer a regular file (now a FIFO); zeros stand in its place"},
        {device, "is no longer a regular file (now a character device); zeros stand in its place"},
        {emptyGrown, "file grew from 0 to 3 bytes during the build; it is empty in the image"},
        {emptyGone, std::string("cannot be opened (") + std::strerror(ENOENT) +
                        "); it is empty in the image"}};
    for (std::size_t i = 0; i < std::size(replaced); ++i) {
      EXPECT_EQ(unreadable[3 + i].LocalPath, replaced[i].first);
      EXPECT_EQ(unreadable[3 + i].Reason, replaced[i].second);
    }

    IsoImage iso(dir / "result.iso");
    EXPECT_EQ(iso.ReadFile(iso.Primary().Find(u"/REMOVED.BIN")), std::string(5000, '\0'));
    EXPECT_EQ(iso.ReadFile(iso.Primary().Find(u"/SHRUNK.BIN")),
              std::string(100, 's') + std::string(4900, '\0'));
    EXPECT_EQ(iso.ReadFile(iso.Primary().Find(u"/GROWN.BIN")), std::string(3000, 'G'));
    EXPECT_EQ(iso.ImageSize(), iso.Primary().descriptor.volumeSpaceSize * 2048u);
    EXPECT_EQ(events.log.back(), "WritingFinished");
  }
}

TEST(WriterFaults, CancelStopsTheBuildAndRemovesTheUnfinishedImage) {
  TempDir dir;
  const std::string target = dir.WriteFile("result.iso", "earlier image");
  clsISOWriter writer;
  testing::AddFile(*writer.Root(), dir, "in/a.bin", std::string(10000, 'a'));
  testing::AddFile(*writer.Root(), dir, "in/b.bin", std::string(10000, 'b'));
  OnFirstFile events([&] { writer.RequestCancel(); });
  writer.Listener(&events);
  EXPECT_THROW(writer.SaveISO(target), CancelledError);
  // Stopped at the first file (block 25 of 35): no further file, no WritingFinished.
  EXPECT_EQ(events.log, (std::vector<std::string>{"BuildingFilesystem", "WritingPathTable",
                                                  "WritingDirectoryRecords", "WritingFiles 71"}));
  ExpectOnlyTheEarlierImage(dir, target);
  // The request ended with that build: the next one runs.
  ASSERT_TRUE(writer.SaveISO(target));
  EXPECT_EQ(events.log.back(), "WritingFinished");
}

// The seam's record of what made the image durable and gave it its name.
std::vector<std::string> g_calls;
bool g_refuseUnnamed = false;

// Named only when complete: while the data are written the folder shows no new name (or only a
// hidden one where the file system has no unnamed files); a replaced file is synced before the
// rename and its folder after; a new name needs neither.
TEST(WriterOutput, TheImageIsNamedOnlyWhenCompleteAndSyncedWhenItReplacesAFile) {
  FileSystemCalls calls = RealFileSystemCalls();
  calls.openat = [](int folder, const char* path, int flags, mode_t mode) {
    if (g_refuseUnnamed && (flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
    return RealFileSystemCalls().openat(folder, path, flags, mode);
  };
  calls.fdatasync = [](int fd) {
    g_calls.push_back("fdatasync");
    return RealFileSystemCalls().fdatasync(fd);
  };
  calls.fsync = [](int fd) {
    g_calls.push_back("fsync");
    return RealFileSystemCalls().fsync(fd);
  };
  calls.rename = [](const char* from, const char* to) {
    g_calls.push_back("rename");
    return RealFileSystemCalls().rename(from, to);
  };
  ScopedFileSystemCalls seam(calls);
  const mode_t mask = umask(0);
  umask(mask);
  struct Case {
    bool refuseUnnamed;
    bool earlier;
    std::vector<std::string> whileWriting;  // ".tavrine-" stands for the hidden name
    std::vector<std::string> calls;
  };
  const std::vector<std::string> durable = {"fdatasync", "rename", "fsync"};  // the folder
  const Case cases[] = {
      {false, false, {}, {"rename"}},
      {false, true, {"result.iso"}, durable},
      {true, false, {".tavrine-"}, {"rename"}},
      {true, true, {".tavrine-", "result.iso"}, durable},
  };
  for (const Case& c : cases) {
    TempDir dir;
    clsISOWriter writer;
    testing::AddFile(*writer.Root(), dir, "in/a.bin", std::string(5000, 'a'));
    if (c.earlier) {
      dir.WriteFile("result.iso", "earlier image");
      ASSERT_EQ(chmod((dir / "result.iso").c_str(), 0604), 0);
    }
    std::vector<std::string> seen;
    OnFirstFile events([&] {
      for (std::string name : OutputNames(dir))
        seen.push_back(name.rfind(".tavrine-", 0) == 0 ? ".tavrine-" : name);
    });
    writer.Listener(&events);
    g_refuseUnnamed = c.refuseUnnamed;
    g_calls.clear();
    ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
    EXPECT_EQ(seen, c.whileWriting) << c.refuseUnnamed << c.earlier;
    EXPECT_EQ(g_calls, c.calls) << c.refuseUnnamed << c.earlier;
    EXPECT_EQ(OutputNames(dir), std::vector<std::string>{"result.iso"});
    struct stat st {};
    ASSERT_EQ(stat((dir / "result.iso").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.earlier ? 0604u : 0666 & ~mask);
  }
}

TEST(WriterEventsOrder, PhasesAndHalfEvenPercentagesOfTheRealSize) {
  TempDir dir;
  clsISOWriter writer;
  // Files at blocks 25 (14 blocks) and 39 (1 block) of a 40-block image: 62.5 % and 97.5 %.
  testing::AddFile(*writer.Root(), dir, "in/a.bin", std::string(14 * 2048 - 1, 'a'));
  testing::AddFile(*writer.Root(), dir, "in/b.bin", "b");
  testing::AddFile(*writer.Root(), dir, "in/c.bin", "");
  RecordingEvents events;
  writer.Listener(&events);
  ASSERT_TRUE(writer.SaveISO(dir / "result.iso"));
  EXPECT_EQ(events.log,
            (std::vector<std::string>{"BuildingFilesystem", "WritingPathTable",
                                      "WritingDirectoryRecords", "WritingFiles 62",
                                      "WritingFiles 98", "WritingFiles 100", "WritingFinished"}));
  ASSERT_FALSE(events.bytesWritten.empty());
  EXPECT_EQ(events.bytesWritten.back(), (std::pair<std::int64_t, std::int64_t>{81920, 81920}));
  EXPECT_EQ(testing::ReadFile(dir / "result.iso").size(), 81920u);
}

}  // namespace
}  // namespace tavrine
