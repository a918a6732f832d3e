// Fuzz target of the image reader. An input of at least 32 KiB is read as an image as it
// stands; a shorter one is a list of edits to a small image made by the writer at start-up
// (3 bytes offset, big-endian, 1 byte count n, n bytes), so that mutations land on structure
// rather than on the system area. Whatever the input, the reader must end in an image or in an
// Error, never in a crash, a hang or a large allocation.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "image/reader.h"
#include "image/writer.h"

namespace {

std::string BaseImage() {
  char folder[] = "/tmp/tavrine-fuzz-XXXXXX";
  if (::mkdtemp(folder) == nullptr) std::abort();
  const std::string dir = folder;
  tavrine::clsISOWriter writer;
  writer.VolumeCreation(tavrine::DateTime{2024, 3, 5, 9, 7, 3, 0});
  auto sub = writer.Root()->AddSubDirectory(u"Documents and more");
  auto deep = sub->AddSubDirectory(u"deep");
  const std::pair<tavrine::clsISODirectory*, const char*> files[] = {
      {writer.Root().get(), "a.txt"}, {sub.get(), "b.bin"}, {deep.get(), "long name \u00e9.txt"}};
  for (const auto& [directory, name] : files) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << std::string(3000, name[0]);
    directory->Files().Add(path);
  }
  const std::string image = dir + "/base.iso";
  if (!writer.SaveISO(image)) std::abort();
  std::ostringstream bytes;
  bytes << std::ifstream(image, std::ios::binary).rdbuf();
  for (const auto& [directory, name] : files) ::unlink((dir + "/" + name).c_str());
  ::unlink(image.c_str());
  ::rmdir(folder);
  return bytes.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string base = BaseImage();
  std::string image;
  if (size >= 32768) {
    image.assign(reinterpret_cast<const char*>(data), size);
  } else {
    image = base;
    for (std::size_t at = 0; at + 4 <= size;) {
      const std::size_t offset =
          (std::size_t{data[at]} << 16 | std::size_t{data[at + 1]} << 8 | data[at + 2]) %
          image.size();
      const std::size_t count = data[at + 3];
      at += 4;
      for (std::size_t k = 0; k < count && at < size && offset + k < image.size(); ++k, ++at) {
        image[offset + k] = static_cast<char>(data[at]);
      }
    }
  }
  try {
    const auto iso = tavrine::iso::IsoImage::FromBytes(std::move(image), "fuzz");
    for (const tavrine::iso::Volume* v :
         {&iso.Primary(), iso.HasJoliet() ? &iso.Joliet() : nullptr}) {
      if (v == nullptr) continue;
      tavrine::iso::WalkEntries(v->root, [&](const std::u16string&, const tavrine::iso::Entry& e) {
        if (!e.IsDirectory() && e.size() < (1u << 20)) iso.ReadFile(e);
      });
    }
  } catch (const tavrine::Error&) {
  }
  return 0;
}
