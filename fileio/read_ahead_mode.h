// Whether work on local files runs ahead of its consumer on helper threads (the writer's
// read-ahead, the folder import's examinations): adapting to what the storage gains (the
// default), or forced on or off, for tests and measurements. TAVRINE_READ_AHEAD=on or =off in the
// environment forces it as well.
#pragma once

#include <cstddef>

namespace tavrine {

enum class ReadAheadMode { kAdaptive, kAlways, kNever };

ReadAheadMode ReadAheadModeInForce();

// How often the calling thread has given up the processor to wait, so far: what tells work ahead
// that the storage makes the program wait (a busy machine that only preempts it does not count).
long VoluntarySwitches();

// How many descriptors work ahead may hold at once: a sixteenth of those the process may open, at
// least one and at most most, so that a low limit narrows the work instead of making opens fail.
std::size_t DescriptorsAhead(std::size_t most);

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
