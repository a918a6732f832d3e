#include "cli/options.h"

#include <array>
#include <cctype>
#include <functional>
#include <string>

#include "tree/date.h"
#include "tree/errors.h"
#include "tree/text.h"
#include "tree/wildcard.h"

namespace tavrine::cli {

namespace {

constexpr std::int64_t kEarliest = DaysFromCivil(kFirstRecordableYear, 1, 1) * 86400;
constexpr std::int64_t kLatest = DaysFromCivil(kLastRecordableYear + 1, 1, 1) * 86400 - 1;
static_assert(kEarliest == -2208988800);

bool IsLeapYear(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(std::int64_t y, int m) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// Reads exactly `digits` decimal digits at text[pos], advancing pos; -1 when they are not there.
int TakeDigits(std::string_view text, std::size_t& pos, std::size_t digits) {
  if (text.size() - pos < digits) return -1;
  int value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  pos += digits;
  return value;
}

bool Take(std::string_view text, std::size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

[[noreturn]] void BadWhen(std::string_view what, std::string_view when, std::string_view reason) {
  throw UsageError(std::string(what) + " '" + std::string(when) + "': " + std::string(reason));
}

constexpr std::string_view kOutOfRange =
    "outside 1900-01-01 to 2155-12-31 UTC, the dates an image can record";

std::int64_t ParseSeconds(std::string_view when, std::string_view what) {
  const std::size_t first = when[0] == '-' ? 1 : 0;
  if (first == when.size()) BadWhen(what, when, "not a number of seconds since 1970");
  for (std::size_t pos = first; pos < when.size(); ++pos) {
    if (when[pos] < '0' || when[pos] > '9') {
      BadWhen(what, when,
              "not a number of seconds since 1970 nor a date like 2024-03-05T09:07:03Z");
    }
  }
  // Longer numbers are far beyond the range; refused before they could overflow.
  if (when.size() - first > 12) BadWhen(what, when, kOutOfRange);
  std::int64_t value = 0;
  for (std::size_t pos = first; pos < when.size(); ++pos) value = value * 10 + (when[pos] - '0');
  return first == 1 ? -value : value;
}

std::int64_t ParseIsoDate(std::string_view when, std::string_view what) {
  constexpr std::string_view kForm = "expected a date like 2024-03-05 or 2024-03-05T09:07:03Z";
  std::size_t pos = 0;
  const int year = TakeDigits(when, pos, 4);
  if (year < 0 || !Take(when, pos, '-')) BadWhen(what, when, kForm);
  const int month = TakeDigits(when, pos, 2);
  if (month < 0 || !Take(when, pos, '-')) BadWhen(what, when, kForm);
  const int day = TakeDigits(when, pos, 2);
  if (day < 0) BadWhen(what, when, kForm);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    BadWhen(what, when, "no such day");
  }
  int hour = 0;
  int minute = 0;
  int second = 0;
  int offsetMinutes = 0;
  if (pos < when.size()) {
    if (!Take(when, pos, 'T') && !Take(when, pos, ' ')) BadWhen(what, when, kForm);
    hour = TakeDigits(when, pos, 2);
    if (hour < 0 || !Take(when, pos, ':')) BadWhen(what, when, kForm);
    minute = TakeDigits(when, pos, 2);
    if (minute < 0) BadWhen(what, when, kForm);
    if (Take(when, pos, ':')) {
      second = TakeDigits(when, pos, 2);
      if (second < 0) BadWhen(what, when, kForm);
    }
    if (hour > 23 || minute > 59 || second > 59) BadWhen(what, when, "no such time of day");
    if (Take(when, pos, 'Z')) {
      offsetMinutes = 0;
    } else if (pos < when.size() && (when[pos] == '+' || when[pos] == '-')) {
      const int sign = when[pos++] == '-' ? -1 : 1;
      const int offsetHours = TakeDigits(when, pos, 2);
      Take(when, pos, ':');
      const int offsetMins = TakeDigits(when, pos, 2);
      if (offsetHours < 0 || offsetMins < 0 || offsetHours > 14 || offsetMins > 59) {
        BadWhen(what, when, "the offset from UTC must look like +01:00 or -0530");
      }
      offsetMinutes = sign * (offsetHours * 60 + offsetMins);
    } else {
      BadWhen(what, when, "a time needs \"Z\" (UTC) or an offset such as +01:00");
    }
    if (pos != when.size()) BadWhen(what, when, kForm);
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
         offsetMinutes * 60;
}

// A malformed pattern is a mistake on the command line, found before any work, whether or not a
// folder is imported.
std::string CheckedPattern(const std::string& pattern) {
  try {
    WildcardPattern{text::FromUtf8(pattern)};
  } catch (const InputError& e) {
    throw UsageError(std::string("--pattern: ") + e.what());
  }
  return pattern;
}

// --print-size, --verify and --list each give the command another task: with two of them one
// would be silently left undone.
void SetAction(Options& o, Action action, std::string_view name) {
  if (o.action == Action::kPrintSize || o.action == Action::kVerify || o.action == Action::kList) {
    throw UsageError(std::string(name) +
                     " cannot go with an earlier --print-size, --verify or --list");
  }
  if (o.action == Action::kBuild) o.action = action;
}

struct OptionRule {
  std::vector<std::string_view> names;
  bool takesValue;
  std::function<void(Options&, const std::string&)> apply;
};

const std::vector<OptionRule>& OptionTable() {
  static const std::vector<OptionRule> table = {
      {{"-o", "--output"}, true, [](Options& o, const std::string& v) { o.output = v; }},
      {{"-V", "--volume-id"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.volume = v; }},
      {{"--system-id", "-sysid"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.system = v; }},
      {{"-A", "--application-id", "-appid"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.application = v; }},
      {{"--publisher", "-publisher"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.publisher = v; }},
      {{"-p", "--preparer"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.preparer = v; }},
      {{"--volume-set", "-volset"},
       true,
       [](Options& o, const std::string& v) { o.identifiers.volumeSet = v; }},
      {{"--no-joliet"}, false, [](Options& o, const std::string&) { o.joliet = false; }},
      {{"-J"}, false, [](Options&, const std::string&) {}},
      {{"--pattern"},
       true,
       [](Options& o, const std::string& v) { o.patterns.push_back(CheckedPattern(v)); }},
      {{"--date"}, true, [](Options& o, const std::string& v) { o.date = ParseWhen(v, "--date"); }},
      {{"--print-size"},
       false,
       [](Options& o, const std::string&) { SetAction(o, Action::kPrintSize, "--print-size"); }},
      {{"--verify"},
       true,
       [](Options& o, const std::string& v) {
         SetAction(o, Action::kVerify, "--verify");
         o.image = v;
       }},
      {{"--list"},
       true,
       [](Options& o, const std::string& v) {
         SetAction(o, Action::kList, "--list");
         o.image = v;
       }},
      {{"-q", "--quiet"}, false, [](Options& o, const std::string&) { o.quiet = true; }},
      {{"--version"}, false, [](Options& o, const std::string&) { o.action = Action::kVersion; }},
      {{"-h", "--help"}, false, [](Options& o, const std::string&) { o.action = Action::kHelp; }},
  };
  return table;
}

const OptionRule* FindOption(std::string_view name) {
  for (const OptionRule& rule : OptionTable()) {
    for (std::string_view n : rule.names) {
      if (n == name) return &rule;
    }
  }
  return nullptr;
}

}  // namespace

std::int64_t ParseWhen(std::string_view when, std::string_view what) {
  if (when.empty()) BadWhen(what, when, "empty");
  const bool isDate = when.size() >= 5 && when[4] == '-' && when[0] != '-';
  const std::int64_t seconds = isDate ? ParseIsoDate(when, what) : ParseSeconds(when, what);
  if (seconds < kEarliest || seconds > kLatest) BadWhen(what, when, kOutOfRange);
  return seconds;
}

std::optional<std::int64_t> ResolveDate(const Options& options,
                                        const std::optional<std::string>& sourceDateEpoch) {
  if (options.date) return options.date;
  if (sourceDateEpoch && !sourceDateEpoch->empty()) {
    return ParseWhen(*sourceDateEpoch, "SOURCE_DATE_EPOCH");
  }
  return std::nullopt;
}

Options ParseArguments(const std::vector<std::string>& args) {
  Options options;
  bool onlyPaths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPaths || arg.size() < 2 || arg[0] != '-') {
      options.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyPaths = true;
      continue;
    }
    // "--name=value" for the long spellings; everything else takes its value from the next
    // argument, so "-publisher" is never read as "-p ublisher".
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
      }
    }
    const OptionRule* rule = FindOption(name);
    if (rule == nullptr) throw UsageError("unknown option '" + name + "'");
    if (!rule->takesValue) {
      if (inlineValue) throw UsageError("option '" + name + "' takes no value");
      rule->apply(options, {});
      continue;
    }
    if (!inlineValue) {
      if (i + 1 == args.size()) throw UsageError("option '" + name + "' needs a value");
      inlineValue = args[++i];
    }
    rule->apply(options, *inlineValue);
  }

  if (options.action == Action::kHelp || options.action == Action::kVersion) return options;
  if (options.patterns.empty()) options.patterns.push_back("*");
  if (options.action == Action::kList) {
    if (!options.paths.empty())
      throw UsageError("--list takes no PATH: '" + options.paths[0] + "'");
    return options;
  }
  if (options.action == Action::kVerify && !options.output.empty()) {
    throw UsageError("--verify writes nothing: drop -o '" + options.output + "'");
  }
  if (options.paths.empty())
    throw UsageError("no PATH given: name the files and folders to put in the image");
  if (options.action == Action::kBuild && options.output.empty()) {
    throw UsageError("no image file given: use -o IMAGE (or --print-size)");
  }
  return options;
}

std::vector<std::string_view> OptionNames() {
  std::vector<std::string_view> names;
  for (const OptionRule& rule : OptionTable())
    names.insert(names.end(), rule.names.begin(), rule.names.end());
  return names;
}

std::string HelpText() {
  return R"(Usage: tavrine-cli [OPTIONS] -o IMAGE PATH...
       tavrine-cli [OPTIONS] --print-size PATH...
       tavrine-cli [OPTIONS] --verify IMAGE PATH...  |  tavrine-cli --list IMAGE
Writes an ISO 9660 image with a Joliet volume. Each PATH is a file (put in the
root), a folder (its contents put in the root), or a graft point IMAGEPATH=LOCAL
(LOCAL placed at IMAGEPATH: a folder's contents go into that directory; for a
file, IMAGEPATH is its directory plus its new name, or ends in "/" to keep its
name). A PATH that exists as typed is never split at "="; otherwise write "\="
for a "=" and "\\" for a "\". Clashing names get "~1" (a warning); names
beginning with ".", links to folders and special files are left out.
  -o, --output FILE        the image to write (replaced when it exists)
  -V, --volume-id TEXT     volume identifier
  --system-id TEXT         system identifier (also -sysid)
  -A, --application-id TEXT  application identifier (also -appid)
  --publisher TEXT         publisher identifier (also -publisher)
  -p, --preparer TEXT      data preparer identifier
  --volume-set TEXT        volume set identifier (also -volset)
  --no-joliet              no Joliet volume (-J: keep it, the default)
  --pattern GLOB           take from folders only the names matching GLOB
                           (* ? # [a-z] [!a-z]; folders must match too);
                           repeatable; default "*"
  --date WHEN              every date in the image: seconds since 1970 or
                           2024-03-05T09:07:03Z (default: $SOURCE_DATE_EPOCH)
  --print-size             print the size in 2048-byte blocks, write nothing
  -q, --quiet              print nothing but errors and warnings
  --version, -h, --help
Examples:
  tavrine-cli -V PHOTOS -o photos.iso ~/Pictures/2024
  tavrine-cli -o site.iso --date 2024-03-05T09:07:03Z docs/2024=./out readme.txt
Exit status: 0 written, 1 failed (no image left), 2 bad command line, 3 written
but something a PATH names or holds is missing or incomplete (see the messages),
130, 143, 129 stopped by Ctrl-C, SIGTERM, SIGHUP (no image left).
)";
}

std::string VersionText() {
  return std::string("tavrine-cli ") + TAVRINE_VERSION + "\n";
}

}  // namespace tavrine::cli
