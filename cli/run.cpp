#include "cli/run.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include "cli/list.h"
#include "cli/options.h"
#include "cli/output_target.h"
#include "cli/sources.h"
#include "cli/unused_patterns.h"
#include "cli/verify.h"
#include "image/output_failure.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::cli {

namespace {

constexpr std::string_view kProgram = "tavrine-cli: ";

void SetIdentifiers(clsISOWriter& writer, const Identifiers& ids) {
  // The ISO 9660 value goes through the writer's character filter, the Joliet value is kept as
  // typed: the same as the window does with one field typed once for each volume.
  using Setter = void (clsISOWriter::*)(bool, std::u16string_view);
  const std::pair<const std::optional<std::string>*, Setter> pairs[] = {
      {&ids.volume, &clsISOWriter::VolumeID},
      {&ids.system, &clsISOWriter::SystemID},
      {&ids.application, &clsISOWriter::ApplicationID},
      {&ids.publisher, &clsISOWriter::PublisherID},
      {&ids.preparer, &clsISOWriter::DataPreparerID},
      {&ids.volumeSet, &clsISOWriter::VolumeSetID},
  };
  for (const auto& [value, setter] : pairs) {
    if (!*value) continue;
    const std::u16string text = text::FromUtf8(**value);
    (writer.*setter)(false, text);
    (writer.*setter)(true, text);
  }
}

std::vector<Source> SplitSources(const Options& options) {
  std::vector<Source> sources;
  for (const std::string& path : options.paths) {
    sources.push_back(SplitPathArgument(path, LocalPathExists));
  }
  // A missing input fails before any work.
  for (const Source& source : sources) InspectSource(source);
  return sources;
}

// A writer left for the end of the process. Reachable from here (volatile: the store stays), so
// a leak checker sees no leak.
const clsISOWriter* volatile g_leftForExit = nullptr;

// Owns the writer of one build. Taking apart a tree of tens of thousands of entries costs a
// noticeable part of a build, for nothing when the process ends next.
struct WriterOwner {
  std::unique_ptr<clsISOWriter> writer = std::make_unique<clsISOWriter>();
  bool leaveForExit = false;
  ~WriterOwner() {
    if (leaveForExit) g_leftForExit = writer.release();
  }
};

bool Interrupted(const Environment& environment) {
  return environment.interrupted != nullptr && environment.interrupted->load();
}

class Reporter {
 public:
  explicit Reporter(std::ostream& err) : err_(err) {}
  void Warn(const std::string& message) {
    err_ << kProgram << "warning: " << Printable(message) << '\n';
  }
  void Error(const std::string& message) { err_ << kProgram << Printable(message) << '\n'; }

 private:
  std::ostream& err_;
};

// Names the Joliet tree records otherwise than they were given.
void WarnJolietRenames(const clsISOWriter& writer, Reporter& report) {
  for (const JolietRename& rename : writer.JolietRenames()) {
    std::string message = "'";
    message += text::ToUtf8(rename.ImagePath);
    message += "' is '";
    message += text::ToUtf8(rename.JolietName);
    message += "' in the Joliet tree: ";
    report.Warn(message + rename.Reason);
  }
}

int Build(const Options& options, const Environment& environment, std::ostream& out,
          std::ostream& err) {
  Reporter report(err);
  struct stat st {};
  if (options.action == Action::kBuild && ::stat(options.output.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    // Found out now rather than after every file has been copied.
    report.Error("cannot create the image '" + options.output + "': it is a folder");
    return kExitError;
  }
  const std::optional<std::int64_t> date = ResolveDate(options, environment.sourceDateEpoch);
  const std::vector<Source> sources = SplitSources(options);

  WriterOwner owner;
  owner.leaveForExit = environment.exitsAfterRun;
  clsISOWriter& writer = *owner.writer;
  writer.Joliet(options.joliet);
  SetIdentifiers(writer, options.identifiers);
  std::vector<std::u16string> patterns;
  for (const std::string& pattern : options.patterns) patterns.push_back(text::FromUtf8(pattern));

  clsISODirectory& root = *writer.Root();
  bool folders = false;
  std::size_t missing = 0;
  for (const Source& source : sources) {
    std::vector<Warning> warnings;
    AddSource(root, source, patterns, warnings);
    for (const Warning& warning : warnings) {
      report.Warn(warning.text);
      if (warning.missing) ++missing;
    }
    folders = folders || InspectSource(source) == LocalKind::kFolder;
  }
  if (folders && options.patterns != std::vector<std::string>{"*"}) {
    for (const std::string& pattern : UnusedPatterns(root, options.patterns))
      report.Warn("--pattern '" + pattern + "' matches nothing in any folder");
  }
  // --print-size with -o leaves it out too: the size printed is the size that build writes.
  if (!options.output.empty()) {
    const char* why = options.action == Action::kBuild ? "it is the image being written"
                                                       : "it is the image -o names";
    for (const std::string& path : LeaveOutEarlierImage(root, options.output)) {
      report.Warn("left out '" + path + "': " + why);
    }
  }
  if (date) {
    const DateTime when = DateTime::FromUnixUtc(*date);
    writer.VolumeCreation(when);
    SetAllFileDates(root, when);
  } else {
    writer.VolumeCreation(DateTime::LocalNow());
  }

  if (options.action == Action::kPrintSize) {
    out << writer.PlanImage() << '\n';
    WarnJolietRenames(writer, report);
    return missing == 0 ? kExitOk : kExitUnreadable;
  }
  if (Interrupted(environment)) throw CancelledError("interrupted; no image written");

  ProgressDisplay::Clock clock = environment.clock;
  if (!clock) {
    clock = [] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
  const ProgressDisplay::Mode mode = options.quiet               ? ProgressDisplay::Mode::kQuiet
                                     : environment.errIsTerminal ? ProgressDisplay::Mode::kTerminal
                                                                 : ProgressDisplay::Mode::kLines;
  ProgressDisplay progress(err, mode, environment.terminalWidth, clock);
  writer.Listener(&progress);
  if (environment.onBuild) environment.onBuild(&writer);
  // A signal between the check above and publishing the writer asked nothing of it yet; the
  // writer keeps a request made before its build starts.
  if (Interrupted(environment)) writer.RequestCancel();
  bool written = false;
  try {
    written = writer.SaveISO(options.output);
  } catch (...) {
    if (environment.onBuild) environment.onBuild(nullptr);
    progress.EndLine();
    throw;
  }
  if (environment.onBuild) environment.onBuild(nullptr);
  progress.EndLine();
  // A signal after the image was renamed into place stops nothing: the image is complete.
  if (!written) {
    report.Error("cannot create the image '" + options.output +
                 "': " + WhyOutputNotCreated(options.output));
    return kExitError;
  }

  WarnJolietRenames(writer, report);
  const std::vector<UnreadableFile>& unreadable = writer.UnreadableFiles();
  for (const UnreadableFile& file : unreadable) {
    std::string message = "'";
    message += text::ShowLocalName(file.LocalPath);
    message += "' ('";
    message += text::ToUtf8(file.ImagePath);
    report.Error(message + "' in the image) is incomplete: " + file.Reason);
  }
  if (!unreadable.empty() || missing != 0) {
    std::string what;
    if (!unreadable.empty()) {
      what = std::to_string(unreadable.size()) +
             (unreadable.size() == 1 ? " file is incomplete in it" : " files are incomplete in it");
    }
    if (missing != 0) {
      what += what.empty() ? "" : " and ";
      what += std::to_string(missing) + (missing == 1 ? " entry is" : " entries are") +
              " missing from it (see the warnings)";
    }
    report.Error("wrote '" + options.output + "', but " + what);
    return kExitUnreadable;
  }
  if (!options.quiet) {
    struct stat st {};
    const std::int64_t bytes = ::stat(options.output.c_str(), &st) == 0 ? st.st_size : 0;
    err << "Wrote " << options.output << ": " << bytes / 2048 << " blocks (" << FormatBytes(bytes)
        << ")\n";
  }
  return kExitOk;
}

}  // namespace

int Run(const std::vector<std::string>& args, const Environment& environment, std::ostream& out,
        std::ostream& err) {
  Reporter report(err);
  try {
    const Options options = ParseArguments(args);
    switch (options.action) {
      case Action::kHelp:
        out << HelpText();
        return kExitOk;
      case Action::kVersion:
        out << VersionText();
        return kExitOk;
      case Action::kBuild:
      case Action::kPrintSize:
        return Build(options, environment, out, err);
      case Action::kVerify:
        return Verify(options, environment, out, err);
      case Action::kList:
        ListImage(iso::IsoImage(options.image), out);
        return kExitOk;
    }
  } catch (const UsageError& e) {
    report.Error(std::string(e.what()) + "; try 'tavrine-cli --help'");
    return kExitUsage;
  } catch (const CancelledError& e) {
    report.Error(e.what());
    return kExitInterrupted;
  } catch (const std::exception& e) {
    report.Error(e.what());
    return kExitError;
  }
  return kExitError;
}

}  // namespace tavrine::cli
