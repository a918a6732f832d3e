#include "fileio/read_ahead_mode.h"

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

ScopedReadAheadMode::ScopedReadAheadMode(ReadAheadMode mode) : previous_(ModeInForce()) {
  ModeInForce() = mode;
}

ScopedReadAheadMode::~ScopedReadAheadMode() {
  ModeInForce() = previous_;
}

}  // namespace tavrine
