// Listing local folders for the folder import, and, on slow storage, doing it ahead of the walk.
//
// On a network share or a cold disk every listing and every examination of an entry waits for
// the device, one after the other. There the import examines the entries of a folder side by side
// (Examiners) and lists the sub-folders it is about to enter side by side (ListingAhead), on a
// few helper threads. What the walk decides is the same either way: it still takes every entry in
// order, and where work ahead failed it does that work itself and meets the failure first-hand.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tree/wildcard.h"

namespace tavrine::listing {

struct LocalEntry {
  std::string name;
  std::u16string shown;  // the name as text (text::FromLocalName), read once for every use
  // d_type of the listing (DT_REG, DT_DIR, DT_LNK, DT_UNKNOWN, ...), made exact by an
  // examination ahead where the listing could not tell.
  unsigned char type;
};

// A folder descriptor, closed with the last holder of its shared pointer.
class FolderDescriptor {
 public:
  explicit FolderDescriptor(int fd) : fd_(fd) {}
  ~FolderDescriptor();
  FolderDescriptor(const FolderDescriptor&) = delete;
  FolderDescriptor& operator=(const FolderDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};
using SharedFolder = std::shared_ptr<const FolderDescriptor>;

// Lists the folder open as folder (a descriptor not listed before) without the names beginning
// with ".", sorted by byte. The descriptor stays usable for the entries. On failure returns false
// with the system's reason in failure.
bool ListLocalFolder(int folder, std::vector<LocalEntry>& entries, std::string& failure);

// Whether work runs ahead for a folder whose listing waited (or not), unless a mode is forced.
bool AheadWanted(bool listingWaited);

// The entries ahead of the walk that are examined side by side.
constexpr std::size_t kExamineAhead = 64;

// Examines entries side by side, on helper threads made when first needed, so that the walk's
// own examinations find the answers in the system's caches, which keep them for a short time.
class Examiners {
 public:
  explicit Examiners(const std::vector<WildcardPattern>& patterns) : patterns_(patterns) {}
  ~Examiners();
  Examiners(const Examiners&) = delete;
  Examiners& operator=(const Examiners&) = delete;

  // Examines the matching entries from .. from + kExamineAhead of the folder open as fd, and
  // returns when all are done.
  void Examine(int fd, std::vector<LocalEntry>& entries, std::size_t from);

 private:
  void Help();
  void Work();

  const std::vector<WildcardPattern>& patterns_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::thread> helpers_;
  int folder_ = -1;
  std::vector<LocalEntry>* entries_ = nullptr;
  std::size_t next_ = 0;
  std::size_t to_ = 0;
  std::size_t busy_ = 0;
  std::uint64_t round_ = 0;
  bool stop_ = false;
};

// A sub-folder opened, listed and examined by a helper.
struct ListedFolder {
  SharedFolder folder;
  std::vector<LocalEntry> entries;
  bool waited = false;          // whether listing it waited for the device
  bool childrenQueued = false;  // its own sub-folders are queued already
};

// The sub-folders the walk is about to enter, listed side by side by helper threads: a queue in
// the walk's order (depth first), of which the first few are worked on. A helper that has listed
// a folder queues that folder's sub-folders right after it, so the queue grows ahead of the walk.
class ListingAhead {
 public:
  explicit ListingAhead(const std::vector<WildcardPattern>& patterns);
  ~ListingAhead();
  ListingAhead(const ListingAhead&) = delete;
  ListingAhead& operator=(const ListingAhead&) = delete;

  // Queues the folders among entries[from, to) of parent, ahead of everything queued before: the
  // walk enters them before it returns to the folders queued earlier.
  void Queue(const SharedFolder& parent, const std::vector<LocalEntry>& entries, std::size_t from,
             std::size_t to);
  // The sub-folder name of parent as a helper listed it; nothing when it was not queued, not
  // begun or failed (the walk then lists it itself). Queued folders before it are dropped: the walk
  // has passed them.
  std::optional<ListedFolder> Take(const SharedFolder& parent, const std::string& name);

 private:
  struct Request {
    SharedFolder parent;
    std::string name;
    enum class State { kQueued, kListing, kListed, kFailed } state = State::kQueued;
    bool dropped = false;  // passed by the walk while a helper listed it
    ListedFolder listed;
  };

  std::vector<std::shared_ptr<Request>> Requests(const SharedFolder& parent,
                                                 const std::vector<LocalEntry>& entries,
                                                 std::size_t from, std::size_t to) const;
  void Help();
  bool List(int parent, const std::string& name, ListedFolder& listed);
  void Drop(Request& request);

  const std::vector<WildcardPattern>& patterns_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::thread> helpers_;
  std::deque<std::shared_ptr<Request>> queue_;  // a helper listing one holds it too
  std::size_t held_ = 0;  // requests begun and not taken: each holds a descriptor
  const std::size_t maxHeld_;
  bool stop_ = false;
};

}  // namespace tavrine::listing
