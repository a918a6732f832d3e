#include "cli/sources.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "cli/options.h"
#include "fileio/long_paths.h"
#include "fileio/paths.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::cli {

namespace {

// Whether the backslash at text[i] escapes the character after it.
bool IsEscape(std::string_view text, std::size_t i) {
  return text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '=' || text[i + 1] == '\\');
}

std::size_t FindGraftSeparator(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsEscape(text, i)) {
      ++i;
    } else if (text[i] == '=') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::string Unescape(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsEscape(text, i)) ++i;
    result += text[i];
  }
  return result;
}

void SplitImagePath(const std::string& argument, std::string_view imageSide, Source& source) {
  std::size_t start = 0;
  std::string_view last;
  while (start <= imageSide.size()) {
    std::size_t slash = imageSide.find('/', start);
    if (slash == std::string_view::npos) slash = imageSide.size();
    const std::string_view component = imageSide.substr(start, slash - start);
    last = component;
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      throw UsageError("graft point '" + argument + "': \"..\" cannot lead out of the image");
    }
    if (component.find('\\') != std::string_view::npos) {
      throw UsageError("graft point '" + argument + "': image names cannot hold \"\\\"");
    }
    if (text::TrimSpaces(text::FromUtf8(component)).empty()) {
      throw UsageError("graft point '" + argument + "': a name in the image path is blank");
    }
    source.imagePath.emplace_back(component);
  }
  source.endsInSlash = last.empty() || last == "." || source.imagePath.empty();
}

// Quoted: an image path such as "\new" must not read like an escape sequence.
std::string Quoted(const std::u16string& imagePath) {
  std::string quoted = "'";
  quoted += text::ToUtf8(imagePath);
  quoted += '\'';
  return quoted;
}

std::string Quoted(const std::string& localPath) {
  std::string quoted = "'";
  quoted += text::ShowLocalName(localPath);
  quoted += '\'';
  return quoted;
}

void AddFile(clsISODirectory& target, const std::string& local, const std::u16string& name,
             std::vector<Warning>& warnings) {
  std::string why;
  const std::u16string wanted = name.empty() ? ImageNameOf(NameOfPath(local), &why) : name;
  const std::u16string free = target.FreeFileName(wanted);
  if (free != wanted) {
    if (!why.empty()) why += "; ";
    const clsISOFile* earlier = target.Files().FindFile(wanted);
    why += (earlier != nullptr ? Quoted(earlier->LocalPath()) : std::string("a directory")) +
           " is in " + Quoted(target.FullPath()) + " under the same name already (case is ignored)";
  }
  if (target.Files().Add(local, free) == nullptr) {
    warnings.push_back(
        {"skipped " + Quoted(local) + ": it could not be added to " + Quoted(target.FullPath()),
         true});
  } else if (!why.empty()) {
    warnings.push_back(
        {"renamed " + Quoted(local) + " to " + Quoted(target.FullPath() + free) + ": " + why});
  }
}

IoError CannotRead(const Source& source, const std::string& reason) {
  std::string message = "cannot read '" + source.local + "'";
  if (source.argument != source.local) message += " (from '" + source.argument + "')";
  return IoError(message + ": " + reason);
}

template <typename Visit>
void ForEachDirectory(clsISODirectory& dir, const Visit& visit) {
  visit(dir);
  for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i)
    ForEachDirectory(*dir.SubDirectory(i), visit);
}

}  // namespace

Source SplitPathArgument(const std::string& argument,
                         const std::function<bool(const std::string&)>& existsLocally) {
  Source source;
  source.argument = argument;
  if (existsLocally(argument)) {
    source.local = argument;
    return source;
  }
  const std::size_t separator = FindGraftSeparator(argument);
  if (separator == std::string::npos) {
    source.local = Unescape(argument);
    return source;
  }
  source.graft = true;
  source.local = Unescape(std::string_view(argument).substr(separator + 1));
  if (source.local.empty()) {
    throw UsageError("graft point '" + argument + "': no local file or folder after \"=\"");
  }
  SplitImagePath(argument, Unescape(std::string_view(argument).substr(0, separator)), source);
  return source;
}

bool LocalPathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

LocalKind InspectSource(const Source& source) {
  struct stat st {};
  if (::stat(source.local.c_str(), &st) != 0) {
    const int error = errno;
    throw CannotRead(source, std::strerror(error));
  }
  return S_ISDIR(st.st_mode) ? LocalKind::kFolder : LocalKind::kFile;
}

void AddSource(clsISODirectory& root, const Source& source,
               const std::vector<std::u16string>& patterns, std::vector<Warning>& warnings) {
  const LocalKind kind = InspectSource(source);
  std::size_t directories = source.imagePath.size();
  std::u16string name;
  if (kind == LocalKind::kFile && !source.endsInSlash && !source.imagePath.empty()) {
    --directories;
    name = text::FromUtf8(source.imagePath.back());
  }
  clsISODirectory* target = &root;
  std::shared_ptr<clsISODirectory> holder;
  for (std::size_t i = 0; i < directories; ++i) {
    holder = target->AddSubDirectory(text::FromUtf8(source.imagePath[i]));
    target = holder.get();
  }
  if (kind == LocalKind::kFile) {
    AddFile(*target, source.local, name, warnings);
    return;
  }
  // The import names each folder with a closing "/". When the folder given itself cannot be
  // listed, none of it is in the image: that is a failure, not a warning.
  const std::string folder = source.local.back() == '/' ? source.local : source.local + '/';
  const ImportReport report = target->AddLocalDirectory(source.local, patterns, true);
  for (const PassedOver& passed : report.passedOver) {
    if (passed.LocalPath == folder) throw CannotRead(source, passed.Reason);
    warnings.push_back(
        {"passed over " + Quoted(passed.LocalPath) + ": " + passed.Reason, !passed.ByRule});
  }
  for (const Renamed& renamed : report.renamed) {
    warnings.push_back({"renamed " + Quoted(renamed.LocalPath) + " to " +
                        Quoted(renamed.ImagePath) + ": " + renamed.Reason});
  }
}

std::vector<std::string> LeaveOutLocalFile(clsISODirectory& root, const std::string& path) {
  std::vector<std::string> removed;
  struct stat output {};
  if (::stat(path.c_str(), &output) != 0) return removed;
  ForEachDirectory(root, [&](clsISODirectory& dir) {
    clsISOFiles& files = dir.Files();
    for (std::int32_t i = files.Count() - 1; i >= 0; --i) {
      const clsISOFile& file = files.File(i);
      // The size recorded when the entry was added spares a stat of every other file.
      if (file.Size() != output.st_size) continue;
      struct stat st {};
      if (StatLocalPath(file.LocalPath(), &st) == 0 && st.st_dev == output.st_dev &&
          st.st_ino == output.st_ino) {
        removed.push_back(file.LocalPath());
        files.Remove(i);
      }
    }
  });
  return removed;
}

void SetAllFileDates(clsISODirectory& root, const DateTime& date) {
  ForEachDirectory(root, [&](clsISODirectory& dir) {
    for (std::int32_t i = 0; i < dir.Files().Count(); ++i) dir.Files().File(i).CreationDate(date);
  });
}

}  // namespace tavrine::cli
