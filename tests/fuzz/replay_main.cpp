// Runs the fuzz target on every file of the folders and files named on the command line: the
// corpus as a plain test, in builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::directory_iterator(arg)) files.push_back(e.path());
    } else {
      files.push_back(arg);
    }
    for (const auto& file : files) {
      std::ostringstream bytes;
      bytes << std::ifstream(file, std::ios::binary).rdbuf();
      const std::string input = bytes.str();
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
      ++inputs;
    }
  }
  std::printf("%d inputs read without a crash\n", inputs);
  return inputs > 0 ? 0 : 1;
}
