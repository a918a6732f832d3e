// The command line of tavrine-cli: options, the date forms it accepts, and its help text.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavrine::cli {

// A command line that cannot be run as given (unknown option, missing value, no PATH): the
// message names the argument at fault. Reported with exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit statuses; scripts depend on them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreadable = 3;  // image written, some files not read completely
inline constexpr int kExitInterrupted = 130;

enum class Action { kBuild, kPrintSize, kHelp, kVersion, kVerify, kList };

// One identifier given on the command line (UTF-8, as typed).
struct Identifiers {
  std::optional<std::string> volume;
  std::optional<std::string> system;
  std::optional<std::string> application;
  std::optional<std::string> publisher;
  std::optional<std::string> preparer;
  std::optional<std::string> volumeSet;
};

struct Options {
  Action action = Action::kBuild;
  std::string output;
  std::string image;  // --verify and --list: the image to read
  Identifiers identifiers;
  bool joliet = true;
  bool quiet = false;
  // Name patterns of folder imports, in the order given; "*" when none was given.
  std::vector<std::string> patterns;
  // --date as seconds since 1970 (UTC).
  std::optional<std::int64_t> date;
  // The PATH arguments, unchanged (graft points are split later, see sources.h).
  std::vector<std::string> paths;
};

// Parses the arguments after the program name. Throws UsageError.
Options ParseArguments(const std::vector<std::string>& args);

// Seconds since 1970 from "1709629623" (optionally negative), "2024-03-05" (midnight UTC),
// "2024-03-05T09:07Z", "2024-03-05T09:07:03Z", or a time with an offset ("+01:00", "-0530") in
// place of "Z". A time must carry "Z" or an offset, so that the instant does not depend on the
// machine's zone. "T" may be a space.
// The instant must lie in the years 1900 to 2155, the range of a directory record's date.
// Throws UsageError naming `what` (the option or variable) and the value.
std::int64_t ParseWhen(std::string_view when, std::string_view what);

// The instant every date of the image is set to: --date, else SOURCE_DATE_EPOCH when it is set
// and not empty, else none (the current time and the files' own dates).
std::optional<std::int64_t> ResolveDate(const Options& options,
                                        const std::optional<std::string>& sourceDateEpoch);

// Every spelling of every option the parser accepts, so that the help text, the man page and the
// shell completion can be checked against the parser itself.
std::vector<std::string_view> OptionNames();

std::string HelpText();
std::string VersionText();

}  // namespace tavrine::cli
