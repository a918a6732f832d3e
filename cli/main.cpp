// tavrine-cli: writes an ISO 9660 + Joliet image from files and folders named on the command line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "cli/options.h"
#include "cli/run.h"

namespace {

std::atomic<tavrine::clsISOWriter*> runningWriter{nullptr};
std::atomic<bool> interrupted{false};
std::atomic<int> firstSignal{0};

// A stopped build removes its unfinished image. A second signal ends the program at once, the
// way the signal itself would, leaving no named temporary file behind.
extern "C" void OnSignal(int signal) {
  int none = 0;
  if (!firstSignal.compare_exchange_strong(none, signal)) {
    tavrine::clsISOWriter::RemoveUnfinishedImages();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  interrupted.store(true);
  if (tavrine::clsISOWriter* writer = runningWriter.load()) writer->RequestCancel();
}

// A closed standard descriptor would be taken by the image file, and progress text would land
// inside the image: give each closed one /dev/null.
void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == -1) {
      std::_Exit(1);
    }
  }
}

void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A reader of stderr that went away, or a file-size limit, must fail a write, not end the
  // program with its temporary file left behind: the write reports EPIPE or EFBIG instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  CatchSignals();
  tavrine::cli::Environment environment;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) environment.sourceDateEpoch = epoch;
  environment.errIsTerminal = isatty(STDERR_FILENO) == 1;
  if (environment.errIsTerminal) environment.terminalWidth = TerminalWidth();
  environment.onBuild = [](tavrine::clsISOWriter* writer) { runningWriter.store(writer); };
  environment.interrupted = &interrupted;
  environment.exitsAfterRun = true;
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = tavrine::cli::Run(args, environment, std::cout, std::cerr);
  // The shell's convention: 128 and the signal's number (130 for Ctrl-C, 143 for SIGTERM).
  if (status == tavrine::cli::kExitInterrupted && firstSignal.load() != 0) {
    status = 128 + firstSignal.load();
  }
  std::cout.flush();
  if (!std::cout && status == tavrine::cli::kExitOk) {
    std::cerr << "tavrine-cli: cannot write to standard output\n";
    return tavrine::cli::kExitError;
  }
  return status;
}
