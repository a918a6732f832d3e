// The command line parser: every spelling, the errors, and the date forms.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"

namespace tavrine::cli {
namespace {

// The UsageError's message, or "(no error)".
template <typename Call>
std::string UsageMessage(const Call& call) {
  try {
    call();
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no error)";
}

std::string ArgsMessage(const std::vector<std::string>& args) {
  return UsageMessage([&] { ParseArguments(args); });
}
std::string WhenMessage(const std::string& when) {
  return UsageMessage([&] { ParseWhen(when, "--date"); });
}

TEST(ParseArguments, IdentifierSpellingsFlagsAndPaths) {
  // Each identifier under another spelling; "-publisher" must not be read as "-p ublisher".
  const std::vector<std::optional<std::string>> ids = {"1", "2", "3", "4", "5", "6"};
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--volume-id=1", "--system-id", "2", "-A", "3", "--publisher", "4",
                                 "--preparer=5", "--volume-set", "6", "-o", "x", "y"},
        std::vector<std::string>{"-V", "1", "-sysid", "2", "-appid", "3", "-publisher", "4", "-p",
                                 "5", "-volset", "6", "-o", "x", "y"}}) {
    const Identifiers& i = ParseArguments(args).identifiers;
    EXPECT_EQ(
        (std::vector{i.volume, i.system, i.application, i.publisher, i.preparer, i.volumeSet}), ids)
        << args[0];
  }
  const Options flags =
      ParseArguments({"--no-joliet", "-J", "-q", "--pattern", "*.txt", "--pattern=*.md",
                      "--output=b.iso", "-o", "c.iso", "--", "-V", "-", "--quiet"});
  EXPECT_FALSE(flags.joliet);  // -J changes nothing, in either order
  EXPECT_TRUE(ParseArguments({"-J", "-o", "x", "y"}).joliet);
  EXPECT_TRUE(flags.quiet);
  EXPECT_EQ(flags.patterns, (std::vector<std::string>{"*.txt", "*.md"}));
  EXPECT_EQ(flags.output, "c.iso");  // the last one counts
  EXPECT_EQ(flags.paths, (std::vector<std::string>{"-V", "-", "--quiet"}));
  // A value that looks like an option is still the value.
  EXPECT_EQ(ParseArguments({"-V", "-q", "-o", "x", "y"}).identifiers.volume, "-q");
  // Help and version need nothing else, and win over everything else.
  EXPECT_EQ(ParseArguments({"--help", "--print-size"}).action, Action::kHelp);
  EXPECT_EQ(ParseArguments({"--version"}).action, Action::kVersion);
}

TEST(ParseArguments, UsageErrorsNameTheArgument) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frobnicate", "-o", "x", "y"}, "unknown option '--frobnicate'"},
      {{"--bogus", "--help"}, "unknown option '--bogus'"},  // even before help
      {{"-ox.iso", "y"}, "unknown option '-ox.iso'"},       // no attached short values
      {{"-o", "x", "-V"}, "option '-V' needs a value"},
      {{"--quiet=yes", "-o", "x", "y"}, "option '--quiet' takes no value"},
      {{"-o", "x"}, "no PATH given: name the files and folders to put in the image"},
      {{"in"}, "no image file given: use -o IMAGE (or --print-size)"},
      {{"--list", "i.iso", "x"}, "--list takes no PATH: 'x'"},
      {{"--verify", "i.iso", "-o", "x", "y"}, "--verify writes nothing: drop -o 'x'"},
      {{"--verify", "i.iso"}, "no PATH given: name the files and folders to put in the image"},
      // Found by the parser, whatever the PATHs are, and before help.
      {{"--pattern", "*.[tx", "--help"},
       "--pattern: malformed name pattern '*.[tx': no ']' closes the '[' at position 3"}};
  for (const auto& [args, message] : cases) EXPECT_EQ(ArgsMessage(args), message) << args[0];
  EXPECT_NE(ArgsMessage({"--date", "noon", "-o", "x", "y"}).find("--date 'noon'"),
            std::string::npos);
}

TEST(ParseWhen, SecondsAndDatesGiveTheInstant) {
  // Worked out by hand: 2024-03-05 is day 19787 after 1970-01-01 (54 years, 13 leap days, then
  // 31 + 29 + 4 days), and 9:07:03 is 32823 s. The last three are the ends of what a directory
  // record can hold (ECMA-119 9.1.5: years 1900 to 2155).
  const std::pair<const char*, std::int64_t> cases[] = {
      {"0", 0},
      {"-1", -1},
      {"2024-03-05", 19787LL * 86400},
      {"2024-03-05T09:07:03Z", 19787LL * 86400 + 32823},
      {"2024-03-05 09:07:03Z", 1709629623},
      {"2024-03-05T09:07Z", 1709629620},
      {"2024-03-05T10:07:03+01:00", 1709629623},
      {"2024-03-05T03:37:03-0530", 1709629623},
      {"2000-02-29T12:00:00Z", 951825600},
      {"1900-01-01T00:00:00Z", -2208988800LL},
      {"-2208988800", -2208988800LL},
      {"2155-12-31T23:59:59Z", 5869583999LL}};
  for (const auto& [text, seconds] : cases) EXPECT_EQ(ParseWhen(text, "--date"), seconds) << text;
}

TEST(ParseWhen, RefusesWhatIsNoInstantNamingTheValue) {
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"empty", {""}},
      {"not a number", {"-", "abc", "1e9", "+5", "99999999999999"}},
      {"expected a date",
       {"2024-3-05", "2024-03-05T9:07Z", "2024-03-05X09:07Z", "2024-03-05T09:07:03Zjunk"}},
      // A time without a zone would depend on the machine.
      {"\"Z\"", {"2024-03-05T09:07", "2024-03-05T09:07:03z"}},
      {"offset from UTC", {"2024-03-05T09:07:03+1", "2024-03-05T09:07+15:00"}},
      {"no such day", {"2023-02-29", "1900-02-29", "2024-13-01", "2024-04-31"}},
      {"no such time", {"2024-03-05T24:00Z", "2024-03-05T23:60Z"}},
      {"outside 1900-01-01 to 2155-12-31",
       {"1899-12-31T23:59:59Z", "-2208988801", "1900-01-01T00:30+01:00", "2156-01-01",
        "5869584000"}}};
  for (const auto& [reason, texts] : cases) {
    for (const char* text : texts) {
      const std::string message = WhenMessage(text);
      EXPECT_EQ(message.rfind("--date '" + std::string(text) + "': ", 0), 0u) << message;
      EXPECT_NE(message.find(reason), std::string::npos) << message;
    }
  }
}

// Against the C library's timegm on generated instants and offsets (fixed seed).
TEST(ParseWhen, AgreesWithTimegm) {
  std::mt19937 rng(20240305);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution(low, high)(rng); };
  for (int i = 0; i < 3000; ++i) {
    std::tm tm{};
    tm.tm_year = pick(1901, 2154) - 1900;
    tm.tm_mon = pick(0, 11);
    tm.tm_mday = pick(1, 31);
    tm.tm_hour = pick(0, 23);
    tm.tm_min = pick(0, 59);
    tm.tm_sec = pick(0, 59);
    const int offset = pick(-14 * 4, 14 * 4) * 15;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    const int day = tm.tm_mday;
    const std::int64_t expected = timegm(&tm);
    if (tm.tm_mday != day) {  // timegm normalised a day the month does not have
      EXPECT_NE(WhenMessage(text).find("no such day"), std::string::npos) << text;
    } else {
      EXPECT_EQ(ParseWhen(text, "--date"), expected - offset * 60) << text;
    }
  }
}

TEST(ResolveDate, DateWinsOverSourceDateEpochWhichWinsOverNothing) {
  Options options;
  EXPECT_EQ(ResolveDate(options, std::nullopt), std::nullopt);
  EXPECT_EQ(ResolveDate(options, std::string()), std::nullopt);  // set but empty: unset
  EXPECT_EQ(ResolveDate(options, std::string("2024-03-05T09:07:03Z")), 1709629623);
  EXPECT_NE(UsageMessage([&] {
              ResolveDate(options, std::string("soon"));
            }).find("SOURCE_DATE_EPOCH 'soon'"),
            std::string::npos);
  options.date = 42;
  EXPECT_EQ(ResolveDate(options, std::string("1709629623")), 42);
}

TEST(HelpText, FitsOneScreen) {
  std::istringstream lines(HelpText());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_LE(count, 40);
}

// The documents a user reads or types options from must not drift from the parser: each names
// every spelling as a word of its own ("-p" inside "-publisher" does not count).
TEST(OptionNames, HelpManPageAndCompletionNameEveryOption) {
  const char* source = std::getenv("TAVRINE_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "TAVRINE_SOURCE_DIR names the source tree";
  const std::string data = std::string(source) + "/data/";
  const std::pair<std::string, std::string> documents[] = {
      {"--help", HelpText()},
      {"the man page", testing::ReadFile(data + "tavrine-cli.1.scd")},
      {"the bash completion", testing::ReadFile(data + "tavrine-cli.bash")}};
  ASSERT_GT(OptionNames().size(), 20u);
  for (const std::string_view name : OptionNames()) {
    const std::regex word("(^|[^-A-Za-z0-9])" + std::string(name) + "($|[^-A-Za-z0-9])");
    for (const auto& [what, text] : documents) {
      EXPECT_TRUE(std::regex_search(text, word)) << name << " is missing from " << what;
    }
  }
}

}  // namespace
}  // namespace tavrine::cli
