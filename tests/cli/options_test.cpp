// The command line parser: every spelling, the errors, and the date forms.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <sstream>

namespace tavrine::cli {
namespace {

Options Parse(std::vector<std::string> args) {
  return ParseArguments(args);
}

std::string UsageMessage(std::vector<std::string> args) {
  try {
    ParseArguments(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ParseArguments, EveryIdentifierSpellingSetsItsIdentifier) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> Identifiers::*field;
  };
  const Case cases[] = {
      {{"-V", "v"}, &Identifiers::volume},
      {{"--volume-id", "v"}, &Identifiers::volume},
      {{"--volume-id=v"}, &Identifiers::volume},
      {{"--system-id", "v"}, &Identifiers::system},
      {{"-sysid", "v"}, &Identifiers::system},
      {{"-A", "v"}, &Identifiers::application},
      {{"--application-id", "v"}, &Identifiers::application},
      {{"-appid", "v"}, &Identifiers::application},
      {{"--publisher", "v"}, &Identifiers::publisher},
      {{"-publisher", "v"}, &Identifiers::publisher},
      {{"-p", "v"}, &Identifiers::preparer},
      {{"--preparer=v"}, &Identifiers::preparer},
      {{"--volume-set", "v"}, &Identifiers::volumeSet},
      {{"-volset", "v"}, &Identifiers::volumeSet},
  };
  std::optional<std::string> Identifiers::*all[] = {
      &Identifiers::volume,    &Identifiers::system,   &Identifiers::application,
      &Identifiers::publisher, &Identifiers::preparer, &Identifiers::volumeSet};
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "x.iso", "in"});
    const Options options = Parse(args);
    for (auto field : all) {
      if (field == c.field) {
        EXPECT_EQ(options.identifiers.*field, "v") << c.args[0];
      } else {
        EXPECT_FALSE(options.identifiers.*field) << c.args[0];
      }
    }
    EXPECT_EQ(options.paths, std::vector<std::string>{"in"});
  }
}

TEST(ParseArguments, FlagsPatternsOutputAndPaths) {
  const Options plain = Parse({"-o", "a.iso", "one", "two=three"});
  EXPECT_EQ(plain.action, Action::kBuild);
  EXPECT_EQ(plain.output, "a.iso");
  EXPECT_TRUE(plain.joliet);
  EXPECT_FALSE(plain.quiet);
  EXPECT_EQ(plain.patterns, std::vector<std::string>{"*"});
  EXPECT_FALSE(plain.date);
  EXPECT_EQ(plain.paths, (std::vector<std::string>{"one", "two=three"}));

  const Options flags = Parse({"--no-joliet", "-J", "-q", "--pattern", "*.txt", "--pattern=*.md",
                               "--output=b.iso", "-o", "c.iso", "--", "-V", "-", "--quiet"});
  EXPECT_FALSE(flags.joliet);  // -J changes nothing, in either order
  EXPECT_TRUE(flags.quiet);
  EXPECT_EQ(flags.patterns, (std::vector<std::string>{"*.txt", "*.md"}));
  EXPECT_EQ(flags.output, "c.iso");  // the last one counts
  EXPECT_EQ(flags.paths, (std::vector<std::string>{"-V", "-", "--quiet"}));
  EXPECT_TRUE(Parse({"-J", "--quiet", "-o", "x", "y"}).joliet);

  // A value that looks like an option is still the value.
  EXPECT_EQ(Parse({"-V", "-q", "-o", "x", "y"}).identifiers.volume, "-q");
  EXPECT_EQ(Parse({"-V", "", "-o", "x", "y"}).identifiers.volume, "");
  EXPECT_EQ(Parse({"--date", "0", "-o", "x", "y"}).date, 0);
}

TEST(ParseArguments, PrintSizeHelpAndVersion) {
  const Options size = Parse({"--print-size", "in"});
  EXPECT_EQ(size.action, Action::kPrintSize);
  EXPECT_EQ(Parse({"-o", "x.iso", "--print-size", "in"}).action, Action::kPrintSize);
  // Help and version need nothing else, and win over everything else.
  EXPECT_EQ(Parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--print-size", "--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, Action::kVersion);
}

TEST(ParseArguments, UsageErrorsNameTheArgument) {
  EXPECT_EQ(UsageMessage({"--frobnicate", "-o", "x", "y"}), "unknown option '--frobnicate'");
  EXPECT_EQ(UsageMessage({"--output=x", "-x", "y"}), "unknown option '-x'");
  EXPECT_EQ(UsageMessage({"-o", "x", "-V"}), "option '-V' needs a value");
  EXPECT_EQ(UsageMessage({"--quiet=yes", "-o", "x", "y"}), "option '--quiet' takes no value");
  EXPECT_NE(UsageMessage({"-o", "x"}).find("no PATH"), std::string::npos);
  EXPECT_NE(UsageMessage({"in"}).find("-o IMAGE"), std::string::npos);
  EXPECT_NE(UsageMessage({"--date", "yesterday", "-o", "x", "y"}).find("--date 'yesterday'"),
            std::string::npos);
  // Short options do not take an attached value: "-ofile" is no "-o file".
  EXPECT_EQ(UsageMessage({"-ox.iso", "y"}), "unknown option '-ox.iso'");
}

TEST(ParseArguments, UnknownOptionFailsEvenBeforeHelp) {
  EXPECT_EQ(UsageMessage({"--bogus", "--help"}), "unknown option '--bogus'");
}

std::string WhenMessage(const std::string& when) {
  try {
    ParseWhen(when, "--date");
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ParseWhen, SecondsAndDatesGiveTheInstant) {
  // Values worked out by hand: 2024-03-05 is day 19787 after 1970-01-01 (54 years, 13 leap
  // days, then 31 + 29 + 4 days), and 9:07:03 is 32823 s.
  EXPECT_EQ(ParseWhen("0", "--date"), 0);
  EXPECT_EQ(ParseWhen("1709629623", "--date"), 1709629623);
  EXPECT_EQ(ParseWhen("-1", "--date"), -1);
  EXPECT_EQ(ParseWhen("2024-03-05", "--date"), 19787LL * 86400);
  EXPECT_EQ(ParseWhen("2024-03-05T09:07:03Z", "--date"), 19787LL * 86400 + 32823);
  EXPECT_EQ(ParseWhen("2024-03-05 09:07:03Z", "--date"), 1709629623);
  EXPECT_EQ(ParseWhen("2024-03-05T09:07Z", "--date"), 1709629620);
  EXPECT_EQ(ParseWhen("2024-03-05T10:07:03+01:00", "--date"), 1709629623);
  EXPECT_EQ(ParseWhen("2024-03-05T03:37:03-0530", "--date"), 1709629623);
  EXPECT_EQ(ParseWhen("2000-02-29T12:00:00Z", "--date"), 951825600);
  // The ends of what a directory record can hold (ECMA-119 9.1.5: years 1900 to 2155).
  EXPECT_EQ(ParseWhen("1900-01-01T00:00:00Z", "--date"), -2208988800LL);
  EXPECT_EQ(ParseWhen("-2208988800", "--date"), -2208988800LL);
  EXPECT_EQ(ParseWhen("2155-12-31T23:59:59Z", "--date"), 5869583999LL);
}

TEST(ParseWhen, RefusesWhatIsNoInstant) {
  for (const char* bad : {"", "-", "abc", "12x", "1e9", "+5", "2024-3-05", "2024-03-05T9:07Z",
                          "2024-03-05T09:07:03", "2024-03-05T09:07:03z", "2024-03-05X09:07Z",
                          "2024-03-05T09:07:03Zjunk", "2024-03-05T09:07:03+1", "99999999999999"}) {
    EXPECT_NE(WhenMessage(bad).find("--date '" + std::string(bad) + "'"), std::string::npos) << bad;
  }
  EXPECT_NE(WhenMessage("2023-02-29").find("no such day"), std::string::npos);
  EXPECT_NE(WhenMessage("1900-02-29").find("no such day"), std::string::npos);
  EXPECT_NE(WhenMessage("2024-13-01").find("no such day"), std::string::npos);
  EXPECT_NE(WhenMessage("2024-04-31").find("no such day"), std::string::npos);
  EXPECT_NE(WhenMessage("2024-03-05T24:00Z").find("no such time"), std::string::npos);
  EXPECT_NE(WhenMessage("2024-03-05T23:60Z").find("no such time"), std::string::npos);
  EXPECT_NE(WhenMessage("2024-03-05T09:07").find("\"Z\""), std::string::npos);
  for (const char* outside : {"1899-12-31T23:59:59Z", "-2208988801", "2156-01-01",
                              "1900-01-01T00:30+01:00", "5869584000"}) {
    EXPECT_NE(WhenMessage(outside).find("outside 1900-01-01 to 2155-12-31"), std::string::npos)
        << outside;
  }
}

// Against the C library's timegm on many generated instants and offsets (fixed seed).
TEST(ParseWhen, AgreesWithTimegm) {
  std::mt19937 rng(20240305);
  std::uniform_int_distribution<int> year(1901, 2154), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59), second(0, 59), offset(-14 * 4, 14 * 4);
  for (int i = 0; i < 3000; ++i) {
    std::tm tm{};
    tm.tm_year = year(rng) - 1900;
    tm.tm_mon = month(rng) - 1;
    tm.tm_mday = day(rng);
    tm.tm_hour = hour(rng);
    tm.tm_min = minute(rng);
    tm.tm_sec = second(rng);
    const std::tm asked = tm;
    const std::int64_t expected = timegm(&tm);
    const int offsetMinutes = offset(rng) * 15;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                  asked.tm_year + 1900, asked.tm_mon + 1, asked.tm_mday, asked.tm_hour,
                  asked.tm_min, asked.tm_sec, offsetMinutes < 0 ? '-' : '+',
                  std::abs(offsetMinutes) / 60, std::abs(offsetMinutes) % 60);
    if (tm.tm_mday != asked.tm_mday) {  // timegm normalised a day the month does not have
      EXPECT_NE(WhenMessage(text).find("no such day"), std::string::npos) << text;
      continue;
    }
    EXPECT_EQ(ParseWhen(text, "--date"), expected - offsetMinutes * 60) << text;
  }
}

TEST(ResolveDate, DateWinsOverSourceDateEpochWhichWinsOverNothing) {
  Options options;
  EXPECT_EQ(ResolveDate(options, std::nullopt), std::nullopt);
  EXPECT_EQ(ResolveDate(options, std::string()), std::nullopt);  // set but empty: unset
  EXPECT_EQ(ResolveDate(options, std::string("1709629623")), 1709629623);
  EXPECT_EQ(ResolveDate(options, std::string("2024-03-05T09:07:03Z")), 1709629623);
  options.date = 42;
  EXPECT_EQ(ResolveDate(options, std::string("1709629623")), 42);
  options.date.reset();
  try {
    ResolveDate(options, std::string("soon"));
    ADD_FAILURE() << "no error";
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("SOURCE_DATE_EPOCH 'soon'"), std::string::npos);
  }
}

TEST(HelpText, FitsOneScreenAndNamesEverySpelling) {
  const std::string help = HelpText();
  std::istringstream lines(help);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_LE(line.size(), 80u) << line;
  }
  EXPECT_LE(count, 30);
  for (const char* spelling : {"-o,",          "--output",     "-V,",        "--volume-id",
                               "--system-id",  "-sysid",       "-A,",        "--application-id",
                               "-appid",       "--publisher",  "-publisher", "-p,",
                               "--preparer",   "--volume-set", "-volset",    "--no-joliet",
                               "-J",           "--pattern",    "--date",     "SOURCE_DATE_EPOCH",
                               "--print-size", "-q,",          "--quiet",    "--version",
                               "-h",           "--help",       "\\=",        "Exit status"}) {
    EXPECT_NE(help.find(spelling), std::string::npos) << spelling;
  }
  // Two examples.
  std::size_t examples = 0;
  for (std::size_t at = help.find("\n  tavrine-cli "); at != std::string::npos;
       at = help.find("\n  tavrine-cli ", at + 1)) {
    ++examples;
  }
  EXPECT_EQ(examples, 2u);
  EXPECT_EQ(VersionText(), std::string("tavrine-cli ") + TAVRINE_VERSION + "\n");
}

}  // namespace
}  // namespace tavrine::cli
