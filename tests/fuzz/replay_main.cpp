// Runs the fuzz target once on each file named, or each file in a folder named,
// for builds without libFuzzer: the checked-in corpus is a regression suite.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    (void)fprintf(stderr, "can't read %s\n", path.c_str());
    return false;
  }
  // An exactly sized copy, as libFuzzer hands it over.
  std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), input.get());
  LLVMFuzzerTestOneInput(input.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argv[i], error)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
    if (error || files.empty()) {
      (void)fprintf(stderr, "nothing to replay in %s\n", argv[i]);
      ++failed;
    }
    for (const auto& file : files) {
      if (Replay(file))
        ++replayed;
      else
        ++failed;
    }
  }
  (void)printf("%d passed, %d failed\n", replayed, failed);
  return failed == 0 && replayed > 0 ? 0 : 1;
}
