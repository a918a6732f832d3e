// The command line parser: the usage errors and the date forms.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

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

TEST(ParseArguments, UsageErrorsNameTheArgument) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--list", "i.iso", "x"}, "--list takes no PATH: 'x'"},
      {{"--verify", "i.iso", "-o", "x", "y"}, "--verify writes nothing: drop -o 'x'"},
      {{"--verify", "i.iso", "--list", "j.iso"},
       "--list cannot go with an earlier --print-size, --verify or --list"}};
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(UsageMessage([&] { ParseArguments(args); }), message) << args[0];
  }
}

// An empty reason means the text is accepted as the instant given; the last good instant is the
// end of what a directory record can hold (years 1900 to 2155).
TEST(ParseWhen, InstantsAndRefusals) {
  const std::tuple<const char*, std::int64_t, const char*> cases[] = {
      {"2024-03-05T09:07:03Z", 1709629623, ""},
      {"2024-03-05T10:07:03+01:00", 1709629623, ""},
      {"2024-03-05T03:37:03-0530", 1709629623, ""},
      {"2155-12-31T23:59:59Z", 5869583999LL, ""},
      {"2024-03-05T09:07", 0, "\"Z\""},
      {"2023-02-29", 0, "no such day"},
      {"2156-01-01", 0, "outside 1900-01-01 to 2155-12-31"},
      {"5869584000", 0, "outside 1900-01-01 to 2155-12-31"}};
  for (const auto& [text, seconds, reason] : cases) {
    if (*reason == '\0') {
      EXPECT_EQ(ParseWhen(text, "--date"), seconds) << text;
      continue;
    }
    const std::string message = UsageMessage([&] { ParseWhen(text, "--date"); });
    EXPECT_EQ(message.rfind("--date '" + std::string(text) + "': ", 0), 0u) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message;
  }
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
