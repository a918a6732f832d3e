#include "image/read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace tavrine::detail {

namespace {

// The window: at most this many files and (for the data read ahead) bytes ahead of the writer,
// served by this many helper threads: enough to keep a share that serves requests side by side
// busy, little enough to keep the memory small.
constexpr std::size_t kWindowFiles = 64;
constexpr std::int64_t kWindowBytes = std::int64_t{16} << 20;
constexpr std::size_t kHelpers = 8;

// Adapting: the writer's time per file is measured over stretches of files, weighted by their
// size (one unit per file and per kUnitBytes), with the number of times it had to wait for the
// device (the thread's voluntary context switches: a busy machine that only preempts it does
// not count). A stretch that waited for at least a quarter of its files and took kSlowUnit per
// unit opens the window for a trial. The window stays open when the writer then found at least
// half of its files ready, or went faster by kGain; if not, it is tried again after twice as
// many stretches each time.
constexpr std::int64_t kUnitBytes = std::int64_t{256} << 10;
constexpr auto kSlowUnit = std::chrono::microseconds(50);
constexpr double kGain = 0.75;
constexpr std::size_t kShutStretch = 32;
constexpr std::size_t kOpenStretch = 64;
constexpr std::size_t kRecheckAfter = 32;  // open stretches before the shut one is measured again
constexpr std::size_t kFirstBackoff = 16;  // shut stretches before a failed trial is repeated

// Runs job(i) for i = 0, 1, 2, ... and hands the results out in that order. The caller's
// thread does each job itself while the window is shut; once it is open, helper threads do
// them ahead of the caller, within the window.
template <class Result>
class OrderedWork {
 public:
  // job(i, ahead): the result for i; ahead when a helper does it. held(i): the bytes a result
  // done ahead holds; units(i): its weight in the measured time.
  using Job = std::function<Result(std::size_t, bool)>;
  using Measure = std::function<std::int64_t(std::size_t)>;

  OrderedWork(std::size_t count, Job job, Measure held, Measure units)
      : count_(count),
        job_(std::move(job)),
        held_(std::move(held)),
        units_(std::move(units)),
        ring_(kWindowFiles),
        windowFiles_(DescriptorsAhead(kWindowFiles)),
        mode_(ReadAheadModeInForce()) {}

  ~OrderedWork() { StopHelpers(mutex_, stop_, workReady_, helpers_); }

  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  Result Take() {
    if (taken_ == 0 && mode_ == ReadAheadMode::kAlways) SetWindow(true);
    const std::size_t i = taken_;
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<Result> result;
    if (i >= dispatched_) {
      // Nobody has it: do it here.
      dispatched_ = i + 1;
      lock.unlock();
      result.emplace(job_(i, false));
      lock.lock();
    } else {
      if (!ring_[i % kWindowFiles].has_value()) {
        ++stretchWaits_;
        resultReady_.wait(lock, [&] { return ring_[i % kWindowFiles].has_value(); });
      }
      result = std::move(ring_[i % kWindowFiles]);
      ring_[i % kWindowFiles].reset();
      held_bytes_ -= held_(i);
    }
    taken_ = i + 1;
    lock.unlock();
    workReady_.notify_all();
    if (mode_ == ReadAheadMode::kAdaptive) Adapt(i);
    return std::move(*result);
  }

 private:
  bool CanDispatch() const {
    if (!open_ || dispatched_ >= count_ || dispatched_ >= taken_ + windowFiles_) return false;
    return held_bytes_ == 0 || held_bytes_ + held_(dispatched_) <= kWindowBytes;
  }

  void Help() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      workReady_.wait(lock, [&] { return stop_ || CanDispatch(); });
      if (stop_) return;
      const std::size_t i = dispatched_++;
      held_bytes_ += held_(i);
      lock.unlock();
      Result result = job_(i, true);
      lock.lock();
      ring_[i % kWindowFiles].emplace(std::move(result));
      resultReady_.notify_all();
    }
  }

  void SetWindow(bool open) {
    if (open && helpers_.empty()) {
      StartHelpers(helpers_, kHelpers, [this] { Help(); });
      if (helpers_.empty()) return;  // no thread to be had: the writer goes on alone
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      open_ = open;
    }
    workReady_.notify_all();
  }

  // Called after each file with the time since the previous one: ends a stretch when it is
  // complete and decides how the next one runs.
  void Adapt(std::size_t i) {
    const auto now = Clock::now();
    if (i > 0) {
      stretchTime_ += now - last_;
      stretchUnits_ += units_(i);
    }
    last_ = now;
    if (++stretchFiles_ < (windowOpen_ ? kOpenStretch : kShutStretch)) return;
    const double perUnit = stretchUnits_ > 0 ? std::chrono::duration<double>(stretchTime_).count() /
                                                   static_cast<double>(stretchUnits_)
                                             : 0.0;
    const std::size_t files = stretchFiles_;
    const std::size_t waits = stretchWaits_;
    const long blocked = VoluntarySwitches() - switches_;
    switches_ += blocked;
    stretchFiles_ = 0;
    stretchWaits_ = 0;
    stretchUnits_ = 0;
    stretchTime_ = Clock::duration::zero();
    if (!windowOpen_) {
      shutPerUnit_ = perUnit;
      if (backoff_ > 0) {
        --backoff_;
      } else if (4 * static_cast<std::size_t>(blocked) >= files &&
                 perUnit >= std::chrono::duration<double>(kSlowUnit).count()) {
        windowOpen_ = true;
        trial_ = true;
        SetWindow(true);
      }
      return;
    }
    if (trial_ && 2 * waits > files && perUnit >= kGain * shutPerUnit_) {
      // Requests in flight gained nothing here: shut, and try again much later.
      windowOpen_ = false;
      nextBackoff_ = nextBackoff_ == 0 ? kFirstBackoff : 2 * nextBackoff_;
      backoff_ = nextBackoff_;
      SetWindow(false);
      return;
    }
    trial_ = false;
    if (++openStretches_ >= kRecheckAfter) {
      // Measure the shut window again now and then: the input may have changed its pace.
      openStretches_ = 0;
      windowOpen_ = false;
      SetWindow(false);
    }
  }

  using Clock = std::chrono::steady_clock;

  const std::size_t count_;
  Job job_;
  Measure held_;
  Measure units_;

  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable resultReady_;
  std::vector<std::optional<Result>> ring_;
  const std::size_t windowFiles_;
  std::size_t dispatched_ = 0;
  std::size_t taken_ = 0;
  std::int64_t held_bytes_ = 0;
  bool open_ = false;
  bool stop_ = false;
  std::vector<std::thread> helpers_;

  // The caller's own, for adapting.
  const ReadAheadMode mode_;
  Clock::time_point last_{};
  Clock::duration stretchTime_{};
  std::int64_t stretchUnits_ = 0;
  std::size_t stretchFiles_ = 0;
  std::size_t stretchWaits_ = 0;  // files the writer had to wait for
  long switches_ = VoluntarySwitches();
  bool windowOpen_ = false;
  bool trial_ = false;
  double shutPerUnit_ = 0;
  std::size_t openStretches_ = 0;
  std::size_t backoff_ = 0;
  std::size_t nextBackoff_ = 0;
};

// The folders of consecutive files in one folder, each held open while its files are looked up,
// so that a name is looked up in its folder rather than along its whole path.
class FolderRuns {
 public:
  explicit FolderRuns(const std::vector<const std::string*>& paths) : runOf_(paths.size()) {
    std::vector<std::size_t> lasts;
    std::string_view previous;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string& path = *paths[i];
      const std::string_view folder(path.data(), std::min(path.rfind('/'), path.size()));
      if (i == 0 || folder != previous) lasts.push_back(i);
      lasts.back() = i;
      previous = folder;
      runOf_[i] = static_cast<std::uint32_t>(lasts.size() - 1);
    }
    runs_ = std::make_unique<Run[]>(lasts.size());
    for (std::size_t r = 0; r < lasts.size(); ++r) runs_[r].last = lasts[r];
    count_ = lasts.size();
    paths_ = &paths;
  }

  ~FolderRuns() {
    for (std::size_t r = 0; r < count_; ++r) CloseFolder(runs_[r].fd);
  }

  FolderRuns(const FolderRuns&) = delete;
  FolderRuns& operator=(const FolderRuns&) = delete;

  // The folder of file i, or -1 to walk its whole path (a file alone in its run gains nothing
  // from opening its folder first). Safe from any thread.
  int For(std::size_t i) {
    Run& run = runs_[runOf_[i]];
    if (run.last == i && (i == 0 || runOf_[i - 1] != runOf_[i])) return -1;
    std::call_once(run.once, [&] {
      const int saved = errno;
      run.fd = OpenFolderOf(*(*paths_)[i]);
      errno = saved;
    });
    return run.fd;
  }

  // Called once file i is done with: closes its folder after the last file in it.
  void Done(std::size_t i) {
    Run& run = runs_[runOf_[i]];
    if (run.last != i) return;
    CloseFolder(run.fd);
    run.fd = -1;
  }

 private:
  struct Run {
    std::once_flag once;
    int fd = -1;
    std::size_t last = 0;
  };
  std::vector<std::uint32_t> runOf_;
  std::unique_ptr<Run[]> runs_;
  std::size_t count_ = 0;
  const std::vector<const std::string*>* paths_ = nullptr;
};

std::vector<const std::string*> PathsOf(const std::vector<InputRequest>& files) {
  std::vector<const std::string*> paths;
  paths.reserve(files.size());
  for (const InputRequest& file : files) paths.push_back(file.path);
  return paths;
}

}  // namespace

InputFile::InputFile(InputFile&& other) noexcept
    : source(std::exchange(other.source, FileRecord{-1, {}})),
      openError(other.openError),
      fileType(other.fileType),
      read(other.read),
      data(std::move(other.data)),
      result(other.result) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    CloseFileRecord(source);
    source = std::exchange(other.source, FileRecord{-1, {}});
    openError = other.openError;
    fileType = other.fileType;
    read = other.read;
    data = std::move(other.data);
    result = other.result;
  }
  return *this;
}

InputFile::~InputFile() {
  CloseFileRecord(source);
}

struct InputFiles::State {
  State(std::vector<InputRequest> requests, std::int64_t limit)
      : files(std::move(requests)),
        readLimit(limit),
        paths(PathsOf(files)),
        folders(paths),
        work(
            files.size(), [this](std::size_t i, bool ahead) { return Open(i, ahead); },
            [this](std::size_t i) { return Held(i); },
            [this](std::size_t i) { return 1 + files[i].size / kUnitBytes; }) {}

  std::int64_t Held(std::size_t i) const {
    return files[i].size <= readLimit ? files[i].size + 1 : 0;
  }

  // Opens file i and, ahead of the writer, reads it when it is small. The writer reads a file it
  // opens itself straight into its output buffer, which saves a copy.
  InputFile Open(std::size_t i, bool ahead) {
    InputFile input;
    const int folder = folders.For(i);
    errno = 0;
    input.source = OpenInputFileRecord(folder, *files[i].path, input.fileType);
    if (input.source.Handle == -1) {
      input.openError = errno;
      return input;
    }
    const std::int64_t size = files[i].size;
    if (ahead && size <= readLimit) {
      input.data.resize(static_cast<std::size_t>(size + 1));
      input.result = ReadRange(input.source, input.data.data(), 0, size);
      input.data.resize(static_cast<std::size_t>(input.result.copied));
      input.read = true;
    }
    return input;
  }

  std::vector<InputRequest> files;
  std::int64_t readLimit;
  std::vector<const std::string*> paths;
  FolderRuns folders;
  OrderedWork<InputFile> work;
  std::size_t next = 0;
};

InputFiles::InputFiles(std::vector<InputRequest> files, std::int64_t readLimit)
    : state_(std::make_unique<State>(std::move(files), readLimit)) {}

InputFiles::~InputFiles() = default;

InputFile InputFiles::Next() {
  InputFile input = state_->work.Take();
  state_->folders.Done(state_->next++);
  return input;
}

std::vector<FileLength> QueryLengths(const std::vector<const std::string*>& paths) {
  FolderRuns folders(paths);
  std::vector<FileLength> lengths;
  lengths.reserve(paths.size());
  {
    OrderedWork<FileLength> work(
        paths.size(),
        [&](std::size_t i, bool) {
          const int folder = folders.For(i);
          errno = 0;
          const std::int64_t size = FileLengthIn(folder, *paths[i]);
          return FileLength{size, size < 0 ? errno : 0};
        },
        [](std::size_t) { return std::int64_t{0}; }, [](std::size_t) { return std::int64_t{1}; });
    for (std::size_t i = 0; i < paths.size(); ++i) {
      lengths.push_back(work.Take());
      folders.Done(i);
    }
  }
  return lengths;
}

}  // namespace tavrine::detail
