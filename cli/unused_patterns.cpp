#include "cli/unused_patterns.h"

#include "tree/text.h"
#include "tree/wildcard.h"

namespace tavrine::cli {

std::vector<std::string> UnusedPatterns(const clsISODirectory& root,
                                        const std::vector<std::string>& patterns) {
  std::vector<std::pair<std::string, WildcardPattern>> unused;
  for (const std::string& pattern : patterns)
    unused.emplace_back(pattern, WildcardPattern(text::FromUtf8(pattern)));
  const auto match = [&](std::u16string_view name) {
    std::erase_if(unused, [&](const auto& pattern) { return pattern.second.Matches(name); });
  };
  std::vector<const clsISODirectory*> pending{&root};
  while (!pending.empty() && !unused.empty()) {
    const clsISODirectory& dir = *pending.back();
    pending.pop_back();
    for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i) {
      pending.push_back(dir.SubDirectory(i).get());
      match(dir.SubDirectory(i)->name());
    }
    for (std::int32_t i = 0; i < dir.Files().Count(); ++i) {
      const std::string& local = dir.Files().File(i).LocalPath();
      match(text::FromUtf8(local.substr(local.rfind('/') + 1)));
    }
  }
  std::vector<std::string> names;
  for (const auto& pattern : unused) names.push_back(pattern.first);
  return names;
}

}  // namespace tavrine::cli
