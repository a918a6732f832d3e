// PATH arguments: telling graft points from paths, escapes, and the image paths they refuse.
#include "cli/sources.h"

#include <gtest/gtest.h>

#include "cli/options.h"
#include "support/temp_dir.h"

namespace tavrine::cli {
namespace {

using Components = std::vector<std::string>;

// Splits with "a=b" and "a\=b" existing as local files.
Source Split(const std::string& argument) {
  return SplitPathArgument(argument,
                           [](const std::string& p) { return p == "a=b" || p == "a\\=b"; });
}

TEST(SplitPathArgument, PlainPathsGraftPointsAndEscapes) {
  struct Case {
    std::string argument;
    bool graft;
    std::string local;
    Components imagePath;
    bool endsInSlash;
  };
  const Case cases[] = {
      {"dir/file.txt", false, "dir/file.txt", {}, false},
      {"a=b=c", true, "b=c", {"a"}, false},  // only the first "=" splits
      // An existing path is taken as typed: never split, no escapes undone.
      {"a=b", false, "a=b", {}, false},
      {"a\\=b", false, "a\\=b", {}, false},
      // "\=" is "=" and "\\" is "\" on both sides; other backslashes stay.
      {"c\\=d", false, "c=d", {}, false},
      {"x\\=y=in\\=put", true, "in=put", {"x=y"}, false},
      {"docs=my\\\\file\\n", true, "my\\file\\n", {"docs"}, false},
      {"plain\\\\name", false, "plain\\name", {}, false},
      // Image path forms: "/", "." and empty components go; a trailing "/" or none keeps the name.
      {"docs/=x.txt", true, "x.txt", {"docs"}, true},
      {"=x.txt", true, "x.txt", {}, true},
      {"/=x.txt", true, "x.txt", {}, true},
      {".=x.txt", true, "x.txt", {}, true},
      {"/docs//./a.txt=x", true, "x", {"docs", "a.txt"}, false},
      {"docs/.=x", true, "x", {"docs"}, true},
  };
  for (const Case& c : cases) {
    const Source source = Split(c.argument);
    EXPECT_EQ(source.argument, c.argument);
    EXPECT_EQ(source.graft, c.graft) << c.argument;
    EXPECT_EQ(source.local, c.local) << c.argument;
    EXPECT_EQ(source.imagePath, c.imagePath) << c.argument;
    EXPECT_EQ(source.endsInSlash, c.endsInSlash) << c.argument;
  }
}

TEST(SplitPathArgument, RefusesGraftPointsThatCannotBeMet) {
  const std::pair<std::string, std::string> cases[] = {
      {"docs=", "graft point 'docs=': no local file or folder after \"=\""},
      {"../up=x", "graft point '../up=x': \"..\" cannot lead out of the image"},
      {"a/../b=x", "graft point 'a/../b=x': \"..\" cannot lead out of the image"},
      {"a/  /b=x", "graft point 'a/  /b=x': a name in the image path is blank"},
      {"a\\\\b=x", "graft point 'a\\\\b=x': image names cannot hold \"\\\""},
  };
  for (const auto& [argument, message] : cases) {
    try {
      Split(argument);
      ADD_FAILURE() << argument << ": no error";
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

}  // namespace
}  // namespace tavrine::cli
