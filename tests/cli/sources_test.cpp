// PATH arguments: telling graft points from paths, escapes, and the image path forms.
#include "cli/sources.h"

#include <gtest/gtest.h>

namespace tavrine::cli {
namespace {

TEST(SplitPathArgument, PlainPathsGraftPointsAndEscapes) {
  struct Case {
    std::string argument;
    bool graft;
    std::string local;
    std::vector<std::string> imagePath;
    bool endsInSlash;
  };
  const Case cases[] = {
      {"a=b=c", true, "b=c", {"a"}, false},  // only the first "=" splits
      {"a=b", false, "a=b", {}, false},      // an existing path is taken as typed
      {"x\\=y=in\\=put", true, "in=put", {"x=y"}, false},
      // A trailing "/" or no name at all keeps the local name.
      {"docs/=x.txt", true, "x.txt", {"docs"}, true},
      {"=x.txt", true, "x.txt", {}, true},
      {"/docs//./a.txt=x", true, "x", {"docs", "a.txt"}, false},
  };
  for (const Case& c : cases) {
    const Source source =
        SplitPathArgument(c.argument, [](const std::string& p) { return p == "a=b"; });
    EXPECT_EQ(source.graft, c.graft) << c.argument;
    EXPECT_EQ(source.local, c.local) << c.argument;
    EXPECT_EQ(source.imagePath, c.imagePath) << c.argument;
    EXPECT_EQ(source.endsInSlash, c.endsInSlash) << c.argument;
  }
}

}  // namespace
}  // namespace tavrine::cli
