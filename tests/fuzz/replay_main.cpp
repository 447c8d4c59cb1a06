// Runs a fuzz target's checks once on every input in the given files and
// directories (seed corpus, saved crashes), without libFuzzer. A directory
// that does not exist holds no inputs.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::filesystem::path> InputsIn(const std::filesystem::path &place) {
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(place)) {
    for (const auto &entry : std::filesystem::directory_iterator(place))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
  } else if (std::filesystem::exists(place)) {
    inputs.push_back(place);
  }
  return inputs;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
    return 2;
  }
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path &input : InputsIn(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(file)),
                        std::istreambuf_iterator<char>());
      // Named first, so a crash report says which input it was.
      printf("replay %s (%zu bytes)\n", input.c_str(), bytes.size());
      fflush(stdout);
      // A copy of exactly the input's size, never null, as libFuzzer
      // hands it over.
      std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
      std::copy(bytes.begin(), bytes.end(), data.get());
      LLVMFuzzerTestOneInput(data.get(), bytes.size());
      ++replayed;
    }
  }
  printf("%zu inputs replayed, all checks held\n", replayed);
  if (replayed == 0) {
    fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return 0;
}
