#include "fileio/temporary_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "fileio/file_system_calls.h"

namespace tavrine {

namespace {

// The names a forced quit removes. A slot is free (0), being filled (1) or holds a name (2);
// the signal handler reads only names that are complete.
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
std::array<Slot, 8> g_slots;

int KeepName(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < g_slots.size(); ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(2);
    return static_cast<int>(i);
  }
  return -1;  // more builds at once than slots: that name is only removed by its build
}

void ForgetName(TemporaryFile& file) {
  if (file.slot >= 0) g_slots[static_cast<std::size_t>(file.slot)].state.store(0);
  file.slot = -1;
}

// folder + "/.tavrine-" and six random letters or digits: short, so that any valid target name
// leaves room for it beside the target.
std::string RandomName(const std::string& folder) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid());
    for (unsigned char& byte : bytes) {
      byte = static_cast<unsigned char>(seed);
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    }
  }
  std::string name = folder + "/.tavrine-";
  for (unsigned char byte : bytes) name += kLetters[byte % (sizeof kLetters - 1)];
  return name;
}

constexpr int kAttempts = 100;

// Gives the unnamed file in `file` a hidden name in folder.
int LinkUnderHiddenName(TemporaryFile& file, const std::string& folder) {
  const std::string self = "/proc/self/fd/" + std::to_string(file.record.Handle);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = RandomName(folder);
    int result = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
    // Without /proc, the privileged form.
    if (result != 0 && errno == ENOENT) {
      result = ::linkat(file.record.Handle, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
    }
    if (result == 0) {
      file.name = std::move(name);
      file.slot = KeepName(file.name);
      return 0;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename in folder survive a power cut. A folder that cannot be synced changes nothing
// for the caller: either name then still leads to a whole file.
void SyncFolder(const std::string& folder) {
  const int fd = CurrentFileSystemCalls().openat(AT_FDCWD, folder.c_str(),
                                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  CurrentFileSystemCalls().fsync(fd);
  CurrentFileSystemCalls().close(fd);
}

// Keeps errno across the clean-up after a failure.
int Fail(TemporaryFile& file, int result) {
  const int error = errno;
  DiscardTemporaryFile(file);
  errno = error;
  return result;
}

}  // namespace

TemporaryFile CreateTemporaryFile(const std::string& folder) {
  const FileSystemCalls& sys = CurrentFileSystemCalls();
  TemporaryFile file;
  file.record.Path = folder;
  // An unnamed file can be named later only through /proc, or by the superuser.
  if (::access("/proc/self/fd", F_OK) == 0 || ::geteuid() == 0) {
    file.record.Handle =
        sys.openat(AT_FDCWD, folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file.record.Handle >= 0) return file;
  }
  // The file system has no unnamed files (or the folder refuses any file: then so does this).
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = RandomName(folder);
    // The slot is taken first, so that no moment passes with a name a forced quit would miss.
    file.slot = KeepName(name);
    file.record.Handle =
        sys.openat(AT_FDCWD, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.record.Handle >= 0) {
      file.record.Path = name;
      file.name = std::move(name);
      return file;
    }
    const int error = errno;
    ForgetName(file);
    errno = error;
    if (error != EEXIST) break;
  }
  file.record.Handle = -1;
  return file;
}

int CommitTemporaryFile(TemporaryFile& file, const std::string& target, bool durable) {
  const FileSystemCalls& sys = CurrentFileSystemCalls();
  if (durable && sys.fdatasync(file.record.Handle) != 0) return Fail(file, -1);
  if (file.name.empty() && LinkUnderHiddenName(file, FolderOf(target)) != 0) return Fail(file, -2);
  if (CloseFileRecord(file.record) != 0) return Fail(file, -1);
  if (sys.rename(file.name.c_str(), target.c_str()) != 0) return Fail(file, -2);
  ForgetName(file);
  file.name.clear();
  if (durable) SyncFolder(FolderOf(target));
  return 0;
}

void DiscardTemporaryFile(TemporaryFile& file) {
  CloseFileRecord(file.record);  // nothing to do once closed
  if (!file.name.empty()) ::unlink(file.name.c_str());
  ForgetName(file);
  file.name.clear();
}

void RemoveTemporaryFiles() {
  for (Slot& slot : g_slots) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
}

}  // namespace tavrine
