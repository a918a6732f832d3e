#include "app/image_plan.h"

#include <sys/stat.h>

#include "fileio/paths.h"
#include "image/writer.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::app {

const TreeFiller::Folder& TreeFiller::FolderOf(const std::string& folder) {
  if (const auto found = folders_.find(folder); found != folders_.end()) return found->second;
  if (folder.empty()) return folders_.emplace(folder, Folder{&root_, u"\\"}).first->second;
  const std::size_t slash = folder.rfind('/');
  const Folder& parent = FolderOf(slash == std::string::npos ? "" : folder.substr(0, slash));
  clsISODirectory& above = *parent.directory;
  std::u16string name = text::TrimSpaces(ImageNameOf(folder.substr(slash + 1)));
  // Folders of one name merge; a folder never takes the name of a file beside it.
  if (!above.SubDirExists(name) && above.Files().FileExists(name)) name = above.FreeFileName(name);
  clsISODirectory* directory = above.AddSubDirectory(name).get();
  const std::u16string path = parent.path + directory->name() + u'\\';
  return folders_.emplace(folder, Folder{directory, path}).first->second;
}

Placement TreeFiller::Add(const ListedFile& file) {
  using Fate = Placement::Fate;
  struct stat st {};
  const bool known = ::stat(file.path.c_str(), &st) == 0;
  const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
  if (known) {
    if (const auto found = placed_.find(id); found != placed_.end()) {
      return {Fate::kListedBefore, found->second, {}};
    }
  }
  try {
    const Folder& folder = FolderOf(file.folder);
    std::string why;
    const std::u16string wanted = ImageNameOf(NameOfPath(file.path), &why);
    const std::u16string name = folder.directory->FreeFileName(wanted);
    const clsISOFile* entry = folder.directory->Files().Add(file.path, name);
    if (entry == nullptr) return {Fate::kLeftOut, {}, "the image cannot hold its name"};
    ++files_;
    bytes_ += entry->Size();
    if (name != wanted) why += (why.empty() ? "" : "; ") + std::string("its name was taken");
    Placement placed{why.empty() ? Fate::kIn : Fate::kRenamed, folder.path + name, why};
    if (known) placed_.emplace(id, placed.imagePath);
    return placed;
  } catch (const Error& e) {
    return {Fate::kLeftOut, {}, e.what()};
  }
}

ListPlan PlanList(const std::vector<ListedFile>& files, const std::function<bool()>& stop) {
  ListPlan plan;
  clsISOWriter writer;
  TreeFiller filler(*writer.Root());
  plan.placements.reserve(files.size());
  for (const ListedFile& file : files) {
    if (stop && stop()) return plan;
    plan.placements.push_back(filler.Add(file));
  }
  plan.files = filler.Files();
  plan.bytes = filler.Bytes();
  try {
    plan.blocks = writer.PlanImage();
  } catch (const Error& e) {
    plan.error = e.what();
    return plan;
  }
  // Joliet names that Windows could not use, or too long for their records, change too.
  std::unordered_map<std::string, std::size_t> firstListing;
  for (std::size_t i = 0; i < files.size(); ++i) firstListing.try_emplace(files[i].path, i);
  for (const JolietRename& renamed : writer.JolietRenames()) {
    const auto found = firstListing.find(renamed.LocalPath);
    if (renamed.LocalPath.empty() || found == firstListing.end()) continue;
    Placement& placed = plan.placements[found->second];
    placed.imagePath.resize(placed.imagePath.rfind(u'\\') + 1);
    placed.imagePath += renamed.JolietName;
    placed.fate = Placement::Fate::kRenamed;
    placed.reason += (placed.reason.empty() ? "" : "; ") + renamed.Reason;
  }
  return plan;
}

}  // namespace tavrine::app
