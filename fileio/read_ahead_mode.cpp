#include "fileio/read_ahead_mode.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace tavrine {

namespace {

ReadAheadMode ModeFromEnvironment() {
  const char* value = std::getenv("TAVRINE_READ_AHEAD");
  if (value == nullptr) return ReadAheadMode::kAdaptive;
  const std::string_view text(value);
  if (text == "on") return ReadAheadMode::kAlways;
  if (text == "off") return ReadAheadMode::kNever;
  return ReadAheadMode::kAdaptive;
}

ReadAheadMode& ModeInForce() {
  static ReadAheadMode mode = ModeFromEnvironment();
  return mode;
}

}  // namespace

ReadAheadMode ReadAheadModeInForce() {
  return ModeInForce();
}

long VoluntarySwitches() {
  struct rusage usage {};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

std::size_t DescriptorsAhead(std::size_t most) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return most;
  return std::clamp<std::size_t>(limit.rlim_cur / 16, 1, most);
}

void StopHelpers(std::mutex& mutex, bool& stop, std::condition_variable& work,
                 std::vector<std::thread>& helpers) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  work.notify_all();
  for (std::thread& helper : helpers) helper.join();
}

ScopedReadAheadMode::ScopedReadAheadMode(ReadAheadMode mode) : previous_(ModeInForce()) {
  ModeInForce() = mode;
}

ScopedReadAheadMode::~ScopedReadAheadMode() {
  ModeInForce() = previous_;
}

}  // namespace tavrine
