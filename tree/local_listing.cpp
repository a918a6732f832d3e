#include "tree/local_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "fileio/read_ahead_mode.h"
#include "tree/text.h"

namespace tavrine::listing {

namespace {

// Helper threads of each kind, beside the walk's own.
constexpr std::size_t kHelpers = 7;
// Sub-folders listed ahead: the first kListingWindow of the queue are worked on, and at most
// kMaxHeld listed ones wait for the walk, each holding a descriptor.
constexpr std::size_t kListingWindow = 32;
constexpr std::size_t kMaxHeld = 64;

// The name up to, not including, its first NUL character; the whole name when it has none.
std::string_view StripAtNul(std::string_view name) {
  return name.substr(0, name.find('\0'));
}

bool Matches(const std::vector<WildcardPattern>& patterns, const LocalEntry& entry) {
  return MatchesAny(patterns, entry.shown);
}

// Looks entry up in folder (through a symbolic link as well) and learns its type where the
// listing could not tell it; the walk's own examination then finds the answer cached.
void ExamineEntry(int folder, LocalEntry& entry) {
  struct stat info {};
  const char* name = entry.name.c_str();
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISLNK(info.st_mode)) {
    entry.type = DT_LNK;
    fstatat(folder, name, &info, 0);
  } else if (entry.type == DT_UNKNOWN && S_ISREG(info.st_mode)) {
    entry.type = DT_REG;
  } else if (entry.type == DT_UNKNOWN && S_ISDIR(info.st_mode)) {
    entry.type = DT_DIR;
  }
}

}  // namespace

FolderDescriptor::~FolderDescriptor() {
  if (fd_ >= 0) close(fd_);
}

bool ListLocalFolder(int folder, std::vector<LocalEntry>& entries, std::string& failure) {
  // Straight from the descriptor: no second descriptor and directory stream to make per folder.
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t length = getdents64(folder, buffer, sizeof buffer);
    if (length < 0) {
      failure = std::strerror(errno);
      return false;
    }
    if (length == 0) break;
    for (ssize_t at = 0; at < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      // This skips "." and "..", and every other name beginning with a full stop.
      const std::string_view name = StripAtNul(entry->d_name);
      if (name.empty() || name.front() == '.') continue;
      entries.push_back({std::string(name), text::FromLocalName(name), entry->d_type});
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const LocalEntry& a, const LocalEntry& b) { return a.name < b.name; });
  return true;
}

bool AheadWanted(bool listingWaited) {
  const ReadAheadMode mode = ReadAheadModeInForce();
  return mode == ReadAheadMode::kAdaptive ? listingWaited : mode == ReadAheadMode::kAlways;
}

Examiners::~Examiners() {
  StopHelpers(mutex_, stop_, work_, helpers_);
}

void Examiners::Examine(int fd, std::vector<LocalEntry>& entries, std::size_t from) {
  const std::size_t to = std::min(entries.size(), from + kExamineAhead);
  if (to - from < 4) return;
  if (helpers_.empty()) StartHelpers(helpers_, kHelpers, [this] { Help(); });
  std::unique_lock<std::mutex> lock(mutex_);
  folder_ = fd;
  entries_ = &entries;
  next_ = from;
  to_ = to;
  busy_ = 0;
  ++round_;
  work_.notify_all();
  lock.unlock();
  Work();
  lock.lock();
  done_.wait(lock, [&] { return busy_ == 0 && next_ >= to_; });
}

void Examiners::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::uint64_t seen = 0;
  for (;;) {
    work_.wait(lock, [&] { return stop_ || round_ != seen; });
    if (stop_) return;
    seen = round_;
    lock.unlock();
    Work();
    lock.lock();
  }
}

// Takes entries until none is left.
void Examiners::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (next_ < to_) {
    const std::size_t i = next_++;
    ++busy_;
    const int folder = folder_;
    LocalEntry& entry = (*entries_)[i];
    lock.unlock();
    if (Matches(patterns_, entry)) ExamineEntry(folder, entry);
    lock.lock();
    --busy_;
  }
  if (busy_ == 0) done_.notify_all();
}

// A small share of the descriptors the process may open, so that the walk's own never run out.
ListingAhead::ListingAhead(const std::vector<WildcardPattern>& patterns)
    : patterns_(patterns), maxHeld_(DescriptorsAhead(kMaxHeld)) {}

ListingAhead::~ListingAhead() {
  StopHelpers(mutex_, stop_, work_, helpers_);
}

std::vector<std::shared_ptr<ListingAhead::Request>> ListingAhead::Requests(
    const SharedFolder& parent, const std::vector<LocalEntry>& entries, std::size_t from,
    std::size_t to) const {
  std::vector<std::shared_ptr<Request>> folders;
  for (std::size_t i = from; i < to; ++i) {
    if (entries[i].type != DT_DIR || !Matches(patterns_, entries[i])) continue;
    folders.push_back(std::make_shared<Request>());
    folders.back()->parent = parent;
    folders.back()->name = entries[i].name;
  }
  return folders;
}

void ListingAhead::Queue(const SharedFolder& parent, const std::vector<LocalEntry>& entries,
                         std::size_t from, std::size_t to) {
  const std::vector<std::shared_ptr<Request>> folders = Requests(parent, entries, from, to);
  if (folders.empty()) return;
  if (helpers_.empty()) StartHelpers(helpers_, kHelpers, [this] { Help(); });
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.insert(queue_.begin(), folders.begin(), folders.end());
  }
  work_.notify_all();
}

std::optional<ListedFolder> ListingAhead::Take(const SharedFolder& parent,
                                               const std::string& name) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = std::find_if(queue_.begin(), queue_.end(), [&](const auto& request) {
    return request->parent == parent && request->name == name;
  });
  if (found == queue_.end()) return std::nullopt;
  const std::shared_ptr<Request> request = *found;
  // The walk is past whatever was queued before it.
  for (auto passed = queue_.begin(); passed != found; ++passed) Drop(**passed);
  queue_.erase(queue_.begin(), found + 1);
  done_.wait(lock, [&] { return request->state != Request::State::kListing; });
  const bool listed = request->state == Request::State::kListed;
  if (listed) --held_;
  lock.unlock();
  work_.notify_all();
  if (!listed) return std::nullopt;
  return std::move(request->listed);
}

// Under the lock.
void ListingAhead::Drop(Request& request) {
  if (request.state == Request::State::kListed) --held_;
  request.dropped = true;
}

void ListingAhead::Help() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<Request> next;
    work_.wait(lock, [&] {
      if (stop_) return true;
      if (held_ >= maxHeld_) return false;
      const std::size_t window = std::min(queue_.size(), kListingWindow);
      for (std::size_t i = 0; i < window; ++i) {
        if (queue_[i]->state == Request::State::kQueued) {
          next = queue_[i];
          return true;
        }
      }
      return false;
    });
    if (stop_) return;
    next->state = Request::State::kListing;
    ++held_;
    lock.unlock();
    ListedFolder listed;
    const bool ok = List(next->parent->get(), next->name, listed);
    const std::vector<std::shared_ptr<Request>> children =
        ok ? Requests(listed.folder, listed.entries, 0, listed.entries.size())
           : std::vector<std::shared_ptr<Request>>{};
    lock.lock();
    if (ok && !next->dropped) {
      // Depth first: right after the folder, or first of all where the walk has taken it.
      const auto at = std::find(queue_.begin(), queue_.end(), next);
      queue_.insert(at == queue_.end() ? queue_.begin() : at + 1, children.begin(), children.end());
      listed.childrenQueued = true;
      if (!children.empty()) work_.notify_all();
    }
    next->listed = std::move(listed);
    next->state = ok ? Request::State::kListed : Request::State::kFailed;
    // Nobody takes what failed or what the walk has passed meanwhile.
    if (!ok || next->dropped) --held_;
    done_.notify_all();
  }
}

// Runs on a helper, without the lock.
bool ListingAhead::List(int parent, const std::string& name, ListedFolder& listed) {
  const long switches = VoluntarySwitches();
  const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  listed.folder = std::make_shared<const FolderDescriptor>(fd);
  std::string failure;
  if (!ListLocalFolder(fd, listed.entries, failure)) return false;
  listed.waited = VoluntarySwitches() > switches;
  for (LocalEntry& entry : listed.entries) {
    if (Matches(patterns_, entry)) ExamineEntry(fd, entry);
  }
  return true;
}

}  // namespace tavrine::listing
