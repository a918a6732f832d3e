// Whether work on local files runs ahead of its consumer on helper threads (the writer's
// read-ahead, the folder import's examinations): adapting to what the storage gains (the
// default), or forced on or off, for tests and measurements. TAVRINE_READ_AHEAD=on or =off in the
// environment forces it as well.
#pragma once

namespace tavrine {

enum class ReadAheadMode { kAdaptive, kAlways, kNever };

ReadAheadMode ReadAheadModeInForce();

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
