// tavrine-cli as a function: the whole program behind main(), for tests to call directly.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/progress.h"
#include "image/writer.h"

namespace tavrine::cli {

// What the program takes from its surroundings.
struct Environment {
  std::optional<std::string> sourceDateEpoch;  // SOURCE_DATE_EPOCH, when set
  bool errIsTerminal = false;                  // standard error is a terminal
  int terminalWidth = 80;
  ProgressDisplay::Clock clock;  // a steady clock when empty
  // Called with the writer right before SaveISO and with nullptr right after, so that a signal
  // handler can ask a running build to stop (clsISOWriter::RequestCancel).
  std::function<void(clsISOWriter*)> onBuild;
  // Set by a signal handler; checked before the image is started and again once it is written.
  const std::atomic<bool>* interrupted = nullptr;
  // The process ends right after Run (tavrine-cli's main): the image tree is then left to the
  // exit rather than taken apart entry by entry. Off, Run frees everything it made.
  bool exitsAfterRun = false;
};

// Runs tavrine-cli with args (without the program name); returns the exit status. Regular
// output (sizes, help) goes to out; progress, warnings and errors go to err.
int Run(const std::vector<std::string>& args, const Environment& environment, std::ostream& out,
        std::ostream& err);

}  // namespace tavrine::cli
