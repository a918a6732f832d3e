#include "image/names.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "tree/text.h"

namespace tavrine::detail {

namespace {

// Level 2 limits of ECMA-119 7.5 / 7.6: a directory identifier, and the name part of a file
// identifier, hold at most 31 characters; our extensions keep 3.
constexpr std::size_t kMaxNameLength = 31;
constexpr std::size_t kMaxExtensionLength = 3;
// Sibling files whose DOSNames agree in this many leading characters count as duplicates.
constexpr std::size_t kFileKeyLength = 29;

std::u16string Left(std::u16string_view s, std::size_t n) {
  return std::u16string(s.substr(0, std::min(n, s.size())));
}

std::u16string Utf16Number(std::int64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::size_t DigitCount(std::size_t n) {
  std::size_t digits = 1;
  while (n >= 10) {
    n /= 10;
    ++digits;
  }
  return digits;
}

bool HasTilde(std::u16string_view s) {
  return s.find(u'~') != std::u16string_view::npos;
}

// Upper-cases a piece of an ISO 9660 name and replaces what cannot be written as given: ";"
// would read as the version separator (ECMA-119 7.5.1), and a character outside Windows-1252
// becomes the "?" it will be written as, so that the duplicate tests see the written name.
std::u16string IsoNamePiece(std::u16string_view s) {
  std::u16string out = text::ToUpper(s);
  for (auto& c : out) {
    if (c == u';') {
      c = u'_';
    } else if (!text::InWindows1252(c)) {
      c = u'?';
    }
  }
  return out;
}

bool IsACharacter(char16_t c) {
  const unsigned char b = text::ToWindows1252(c);
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_' ||
         (b >= 32 && b <= 34) || (b >= 38 && b <= 47) || (b >= 58 && b <= 63);
}

bool IsDCharacter(char16_t c) {
  const unsigned char b = text::ToWindows1252(c);
  return (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' || b == '.';
}

// ---- Directories -------------------------------------------------------------------------

struct DirectoryState {
  std::u16string dos;
  std::u16string folded;  // text::Fold(dos): directory names compare ignoring case
  bool longName = false;  // the entry's own name has more than 31 characters
  bool numbered = false;  // NameValid: the entry got its final numbered name
};

// First pass: the upper-cased name, cut to 31 characters; a "~" followed by a number loses the
// number, and a longer name keeps 29 characters and a "~".
DirectoryState FirstDirectoryName(std::u16string_view name) {
  DirectoryState state;
  state.longName = name.size() > kMaxNameLength;
  state.dos = IsoNamePiece(Left(name, kMaxNameLength));
  const auto tilde = state.dos.find(u'~');
  if (tilde != std::u16string::npos &&
      text::IsDecimalNumber(std::u16string_view(state.dos).substr(tilde + 1))) {
    state.dos.resize(tilde + 1);
  } else if (state.longName) {
    state.dos = Left(state.dos, kMaxNameLength - 2) + u'~';
  }
  return state;
}

// The second pass, on siblings in collection order. Each step i reads key = DOSName of i and
// touches only siblings that are not numbered yet and whose name equals key, or one of the
// merge patterns of key, ignoring case; a numbered sibling never changes again. So siblings are
// kept in buckets by folded name, each bucket knowing its size and its not-yet-numbered members
// in index order: step i then costs what it changes, and every sibling is merged and numbered at
// most once.
std::vector<DirectoryState> MapDirectorySiblings(const std::vector<std::u16string_view>& names) {
  struct Bucket {
    std::size_t size = 0;
    std::vector<std::size_t> open;  // members not numbered yet, ascending
  };
  std::vector<DirectoryState> states;
  states.reserve(names.size());
  std::unordered_map<std::u16string, Bucket> buckets;
  buckets.reserve(names.size() * 2);
  for (std::size_t i = 0; i < names.size(); ++i) {
    states.push_back(FirstDirectoryName(names[i]));
    states[i].folded = text::Fold(states[i].dos);
    Bucket& bucket = buckets[states[i].folded];
    ++bucket.size;
    bucket.open.push_back(i);
  }

  for (std::size_t i = 0; i < states.size(); ++i) {
    if (!HasTilde(states[i].dos)) continue;
    const std::u16string key = states[i].dos;
    const std::u16string foldedKey = states[i].folded;
    Bucket& keyBucket = buckets[foldedKey];
    const std::size_t count = keyBucket.size - 1;

    // Merge: open siblings named like key without its last k characters, plus "~", take key.
    for (std::size_t k = 1; k <= DigitCount(count); ++k) {
      // A key shorter than k leaves just the "~" (cutting to a negative length would fail).
      const std::u16string pattern =
          Left(foldedKey, foldedKey.size() >= k ? foldedKey.size() - k : 0) + u'~';
      if (pattern == foldedKey) continue;  // those siblings hold key already
      const auto found = buckets.find(pattern);
      if (found == buckets.end() || found->second.open.empty()) continue;
      Bucket& from = found->second;
      for (std::size_t j : from.open) {
        states[j].dos = key;
        states[j].folded = foldedKey;
      }
      from.size -= from.open.size();
      keyBucket.size += from.open.size();
      std::vector<std::size_t> merged;
      merged.reserve(keyBucket.open.size() + from.open.size());
      std::merge(keyBucket.open.begin(), keyBucket.open.end(), from.open.begin(), from.open.end(),
                 std::back_inserter(merged));
      keyBucket.open = std::move(merged);
      from.open.clear();
    }

    // Number: every open sibling holding key gets "~" and its sequence number; i itself only
    // when its own name was too long.
    std::vector<std::size_t> members = std::move(keyBucket.open);
    keyBucket.open.clear();
    std::int32_t seq = 1;
    for (std::size_t j : members) {
      if (j == i && !states[i].longName) {
        keyBucket.open.push_back(j);
        continue;
      }
      DirectoryState& state = states[j];
      state.dos = TildeName(state.dos + u' ', seq++);
      state.folded = text::Fold(state.dos);
      state.numbered = true;
      --keyBucket.size;
      ++buckets[state.folded].size;
    }
  }
  return states;
}

// ---- Files -------------------------------------------------------------------------------

std::u16string FirstFileName(std::u16string_view name) {
  return IsoNamePiece(Left(BaseName(name), kMaxNameLength)) + u'.' +
         IsoNamePiece(Left(ExtensionOf(name), kMaxExtensionLength));
}

// The numbered form of a file DOSName: the part before its first "." gets "~" and seq; the
// part after it stays only when it is the one, non-empty extension.
std::u16string NumberedFileName(std::u16string_view dos, std::int32_t seq) {
  const auto firstDot = dos.find(u'.');
  std::u16string out = TildeName(dos.substr(0, firstDot), seq);
  if (firstDot != std::u16string_view::npos) {
    const std::u16string_view rest = dos.substr(firstDot + 1);
    if (!rest.empty() && rest.find(u'.') == std::u16string_view::npos) {
      out += u'.';
      out += rest;
    }
  }
  return out;
}

// The second file pass compares the first 29 characters of the DOSNames exactly. A renamed
// name either keeps its 29-character key (a 31-character base with a one-digit number; its
// "~" then sits at position 29, within the first 31, which stops it from starting a group
// again) or gets a key holding "~", which can never start a group. Groups therefore never
// mix: each key's siblings, as the first pass left them, are numbered 1, 2, ... in collection
// order once some member without "~" in its first 31 characters reaches its turn; a sibling
// alone with its key is numbered 1 when its base was too long and its name holds no "~".
std::vector<std::u16string> MapFileSiblings(const std::vector<std::u16string_view>& names) {
  std::vector<std::u16string> dos;
  dos.reserve(names.size());
  for (std::u16string_view name : names) dos.push_back(FirstFileName(name));

  // Group by key (views into dos, which stays unchanged until the groups are gathered).
  std::vector<std::vector<std::size_t>> groups;
  {
    std::unordered_map<std::u16string_view, std::size_t> groupOf;
    groupOf.reserve(names.size() * 2);
    for (std::size_t i = 0; i < dos.size(); ++i) {
      const std::u16string_view key = std::u16string_view(dos[i]).substr(0, kFileKeyLength);
      const auto [found, added] = groupOf.try_emplace(key, groups.size());
      if (added) groups.emplace_back();
      groups[found->second].push_back(i);
    }
  }

  for (const auto& members : groups) {
    if (members.size() > 1) {
      const bool starts = std::any_of(members.begin(), members.end(), [&](std::size_t j) {
        return !HasTilde(std::u16string_view(dos[j]).substr(0, kMaxNameLength));
      });
      if (!starts) continue;
      std::int32_t seq = 1;
      for (std::size_t j : members) dos[j] = NumberedFileName(dos[j], seq++);
    } else {
      const std::size_t i = members.front();
      if (!HasTilde(dos[i]) && BaseName(names[i]).size() > kMaxNameLength) {
        dos[i] = NumberedFileName(dos[i], 1);
      }
    }
  }
  return dos;
}

// ---- Uniqueness ----------------------------------------------------------------------------

// The candidate name n for a colliding or over-long name: "~n" appended, the part before it cut
// so that the limit holds; a file keeps its extension.
std::u16string UniqueForm(std::u16string_view name, bool isFile, std::int64_t n) {
  const std::u16string suffix = u'~' + Utf16Number(n);
  const auto lastDot = isFile ? name.rfind(u'.') : std::u16string_view::npos;
  const std::u16string_view stem = name.substr(0, lastDot);
  std::u16string out = Left(stem, kMaxNameLength - suffix.size()) + suffix;
  if (lastDot != std::u16string_view::npos) {
    out += u'.';
    out += Left(name.substr(lastDot + 1), kMaxExtensionLength);
  }
  return out;
}

// An empty directory identifier would read as the root's own record (ECMA-119 6.8.2.2).
bool WithinLimits(std::u16string_view name, bool isFile) {
  if (!isFile) return !name.empty() && name.size() <= kMaxNameLength;
  const auto lastDot = name.rfind(u'.');
  if (lastDot == std::u16string_view::npos) return name.size() <= kMaxNameLength;
  return lastDot <= kMaxNameLength && name.size() - lastDot - 1 <= kMaxExtensionLength;
}

std::vector<std::u16string_view> Views(const std::vector<std::u16string>& names) {
  return std::vector<std::u16string_view>(names.begin(), names.end());
}

// ---- Joliet -------------------------------------------------------------------------------

// A shortened name keeps an extension shorter than this.
constexpr std::size_t kKeptExtension = 16;

// The numbered form n of a Joliet name: "~n" before the extension, the part before it cut so
// that the whole fits the record (never between the halves of a surrogate pair).
std::u16string JolietNumbered(std::u16string_view name, std::int64_t n) {
  const std::u16string suffix = u'~' + Utf16Number(n);
  std::size_t dot = name.rfind(u'.');
  if (dot == 0 || dot == std::u16string_view::npos || name.size() - dot - 1 >= kKeptExtension) {
    dot = name.size();
  }
  const std::u16string_view extension = name.substr(dot);
  std::size_t keep = std::min(dot, kMaxJolietName - suffix.size() - extension.size());
  if (keep > 0 && keep < dot && name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) --keep;
  return std::u16string(name.substr(0, keep)) + suffix + std::u16string(extension);
}

bool JolietNeedsChange(std::u16string_view name) {
  return name.size() > kMaxJolietName || std::any_of(name.begin(), name.end(), JolietRefuses);
}

}  // namespace

bool JolietRefuses(char16_t c) {
  switch (c) {
    case u'"':
    case u'*':
    case u'/':
    case u':':
    case u'<':
    case u'>':
    case u'?':
    case u'\\':
    case u'|':
    case u';':
      return true;
    default:
      return c < 0x20;
  }
}

namespace {

// ---- Tree walks ----------------------------------------------------------------------------

// Calls visit on dir and every directory below it, depth-first pre-order. Iterative, so that
// a deep tree cannot exhaust the stack.
template <typename Visit>
void ForEachDirectory(clsISODirectory& dir, Visit visit) {
  std::vector<clsISODirectory*> pending{&dir};
  while (!pending.empty()) {
    clsISODirectory* current = pending.back();
    pending.pop_back();
    visit(*current);
    for (std::int32_t i = current->SubDirectoryCount(); i-- > 0;) {
      pending.push_back(current->SubDirectory(i).get());
    }
  }
}

}  // namespace

std::vector<std::u16string> MapSiblingDirectoryNames(const std::vector<std::u16string>& names) {
  std::vector<std::u16string> out;
  out.reserve(names.size());
  for (auto& state : MapDirectorySiblings(Views(names))) out.push_back(std::move(state.dos));
  return out;
}

std::vector<std::u16string> MapSiblingFileNames(const std::vector<std::u16string>& names) {
  return MapFileSiblings(Views(names));
}

void MakeSiblingNamesUnique(std::vector<std::u16string>& dirNames,
                            std::vector<std::u16string>& fileNames) {
  // Every name in the directory, the passes' and the new ones, with whether a member holds it
  // already. Keys view dirNames, fileNames and fresh; the vectors are only written at the end.
  struct Use {
    bool taken = false;
  };
  std::unordered_map<std::u16string_view, Use> used;
  used.reserve((dirNames.size() + fileNames.size()) * 2);
  for (const auto& name : dirNames) used.try_emplace(name);
  for (const auto& name : fileNames) used.try_emplace(name);

  std::deque<std::u16string> fresh;  // stable storage for the new names
  std::vector<std::pair<std::u16string*, std::u16string*>> renames;
  // Per original name, the number to try next, so that a large group costs linear time.
  std::unordered_map<std::u16string_view, std::int64_t> nextNumber;
  auto settle = [&](std::u16string& name, bool isFile) {
    Use& use = used.find(name)->second;
    if (WithinLimits(name, isFile) && !use.taken) {
      use.taken = true;
      return;
    }
    std::int64_t& n = nextNumber.try_emplace(name, 1).first->second;
    std::u16string candidate = UniqueForm(name, isFile, n++);
    while (used.count(candidate) != 0) candidate = UniqueForm(name, isFile, n++);
    fresh.push_back(std::move(candidate));
    used.try_emplace(fresh.back()).first->second.taken = true;
    renames.emplace_back(&name, &fresh.back());
  };
  for (auto& name : dirNames) settle(name, false);
  for (auto& name : fileNames) settle(name, true);
  used.clear();
  nextNumber.clear();
  for (auto& [name, candidate] : renames) *name = std::move(*candidate);
}

void MapDirectoryNames(clsISODirectory& dir) {
  ForEachDirectory(dir, [](clsISODirectory& current) {
    const std::int32_t n = current.SubDirectoryCount();
    std::vector<std::u16string_view> names;
    names.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) names.push_back(current.SubDirectory(i)->name());
    std::vector<DirectoryState> states = MapDirectorySiblings(names);
    for (std::int32_t i = 0; i < n; ++i) {
      clsISODirectory& sub = *current.SubDirectory(i);
      DirectoryState& state = states[static_cast<std::size_t>(i)];
      sub.DOSName(std::move(state.dos));
      sub.JolietName(sub.name());
      sub.NameValid(state.numbered);
    }
  });
}

void MapFileNames(clsISODirectory& dir) {
  ForEachDirectory(dir, [](clsISODirectory& current) {
    clsISOFiles& files = current.Files();
    const std::int32_t m = files.Count();
    std::vector<std::u16string_view> names;
    names.reserve(static_cast<std::size_t>(m));
    for (std::int32_t i = 0; i < m; ++i) names.push_back(files.File(i).name());
    std::vector<std::u16string> dos = MapFileSiblings(names);
    for (std::int32_t i = 0; i < m; ++i) {
      clsISOFile& file = files.File(i);
      file.DOSName(std::move(dos[static_cast<std::size_t>(i)]));
      file.JolietName(file.name());
    }
  });
}

void MakeNamesUnique(clsISODirectory& dir) {
  ForEachDirectory(dir, [](clsISODirectory& current) {
    const std::int32_t n = current.SubDirectoryCount();
    clsISOFiles& files = current.Files();
    const std::int32_t m = files.Count();
    std::vector<std::u16string> dirNames;
    std::vector<std::u16string> fileNames;
    dirNames.reserve(static_cast<std::size_t>(n));
    fileNames.reserve(static_cast<std::size_t>(m));
    for (std::int32_t i = 0; i < n; ++i) dirNames.push_back(current.SubDirectory(i)->DOSName());
    for (std::int32_t i = 0; i < m; ++i) fileNames.push_back(files.File(i).DOSName());
    MakeSiblingNamesUnique(dirNames, fileNames);
    for (std::int32_t i = 0; i < n; ++i) {
      current.SubDirectory(i)->DOSName(std::move(dirNames[static_cast<std::size_t>(i)]));
    }
    for (std::int32_t i = 0; i < m; ++i) {
      files.File(i).DOSName(std::move(fileNames[static_cast<std::size_t>(i)]));
    }
  });
}

void MakeSiblingJolietNames(std::vector<std::u16string>& names) {
  std::vector<bool> changed(names.size());
  std::unordered_set<std::u16string> used;
  for (std::size_t i = 0; i < names.size(); ++i) {
    changed[i] = JolietNeedsChange(names[i]);
    if (!changed[i]) used.insert(text::Fold(names[i]));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!changed[i]) continue;
    std::u16string& name = names[i];
    std::replace_if(name.begin(), name.end(), JolietRefuses, u'_');
    std::u16string candidate = name;
    for (std::int64_t n = 1;
         candidate.size() > kMaxJolietName || !used.insert(text::Fold(candidate)).second; ++n) {
      candidate = JolietNumbered(name, n);
    }
    name = std::move(candidate);
  }
}

void MapJolietNames(clsISODirectory& dir) {
  ForEachDirectory(dir, [](clsISODirectory& current) {
    clsISOFiles& files = current.Files();
    const std::int32_t n = current.SubDirectoryCount();
    const std::int32_t m = files.Count();
    // Most directories have nothing to change: their Joliet names are their names already.
    bool any = false;
    for (std::int32_t i = 0; i < n && !any; ++i) {
      any = JolietNeedsChange(current.SubDirectory(i)->name());
    }
    for (std::int32_t i = 0; i < m && !any; ++i) any = JolietNeedsChange(files.File(i).name());
    if (!any) return;
    std::vector<std::u16string> names;
    names.reserve(static_cast<std::size_t>(n + m));
    for (std::int32_t i = 0; i < n; ++i) names.push_back(current.SubDirectory(i)->name());
    for (std::int32_t i = 0; i < m; ++i) names.push_back(files.File(i).name());
    MakeSiblingJolietNames(names);
    for (std::int32_t i = 0; i < n; ++i) {
      current.SubDirectory(i)->JolietName(std::move(names[static_cast<std::size_t>(i)]));
    }
    for (std::int32_t i = 0; i < m; ++i) {
      files.File(i).JolietName(std::move(names[static_cast<std::size_t>(n + i)]));
    }
  });
}

void MapNames(clsISODirectory& root) {
  MapDirectoryNames(root);
  MapFileNames(root);
  MakeNamesUnique(root);
  MapJolietNames(root);
}

std::u16string BaseName(std::u16string_view s) {
  return std::u16string(s.substr(0, s.rfind(u'.')));
}

std::u16string ExtensionOf(std::u16string_view s) {
  const auto dot = s.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(dot + 1));
}

// The last characters of s give way to "~" and n, so that the result is as long as s. A name
// too short for the suffix becomes the suffix alone rather than being cut at a negative length.
std::u16string TildeName(std::u16string_view s, std::int32_t n) {
  const std::u16string suffix = u'~' + Utf16Number(n);
  if (s.size() < suffix.size()) return suffix;
  return std::u16string(s.substr(0, s.size() - suffix.size())) + suffix;
}

std::u16string SanitizeAString(std::u16string_view s) {
  std::u16string out;
  std::copy_if(s.begin(), s.end(), std::back_inserter(out), IsACharacter);
  return out;
}

std::u16string SanitizeDString(std::u16string_view s) {
  std::u16string spaced(s);
  std::replace(spaced.begin(), spaced.end(), u' ', u'_');
  const std::u16string upper = text::ToUpper(spaced);
  std::u16string out;
  std::copy_if(upper.begin(), upper.end(), std::back_inserter(out), IsDCharacter);
  return out;
}

}  // namespace tavrine::detail
