// Whether work on local files runs ahead of its consumer on helper threads (the writer's
// read-ahead, the folder import's examinations): adapting to what the storage gains (the
// default), or forced on or off, for tests and measurements. TAVRINE_READ_AHEAD=on or =off in the
// environment forces it as well.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tavrine {

enum class ReadAheadMode { kAdaptive, kAlways, kNever };

ReadAheadMode ReadAheadModeInForce();

// How often the calling thread has given up the processor to wait, so far: what tells work ahead
// that the storage makes the program wait (a busy machine that only preempts it does not count).
long VoluntarySwitches();

// How many descriptors work ahead may hold at once: a sixteenth of those the process may open, at
// least one and at most most, so that a low limit narrows the work instead of making opens fail.
std::size_t DescriptorsAhead(std::size_t most);

// Starts count helper threads running body; fewer where the system has no more threads to give
// (the caller then goes on with those there are, or alone).
template <typename Body>
void StartHelpers(std::vector<std::thread>& helpers, std::size_t count, Body body) {
  try {
    for (std::size_t n = 0; n < count; ++n) helpers.emplace_back(body);
  } catch (const std::system_error&) {
  }
}

// Tells helpers that wait for work on work (under mutex, until stop) to stop, and joins them.
void StopHelpers(std::mutex& mutex, bool& stop, std::condition_variable& work,
                 std::vector<std::thread>& helpers);

// Forces a mode while it lives (tests).
class ScopedReadAheadMode {
 public:
  explicit ScopedReadAheadMode(ReadAheadMode mode);
  ~ScopedReadAheadMode();
  ScopedReadAheadMode(const ScopedReadAheadMode&) = delete;
  ScopedReadAheadMode& operator=(const ScopedReadAheadMode&) = delete;

 private:
  ReadAheadMode previous_;
};

}  // namespace tavrine
