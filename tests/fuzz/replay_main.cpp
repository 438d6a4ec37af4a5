// Runs a fuzz target over saved inputs without libFuzzer, so that the
// committed corpus and every input that once crashed are replayed by the
// ordinary (gcc, ASan+UBSan) test builds. Arguments are files or directories.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"

namespace fs = std::filesystem;

static int RunFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const std::vector<char> abFile((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  // An exactly sized heap copy, as libFuzzer gives it: one byte past is outside.
  std::unique_ptr<uint8_t[]> pCopy(new uint8_t[abFile.size() ? abFile.size() : 1]);
  std::copy(abFile.begin(), abFile.end(), pCopy.get());
  LLVMFuzzerTestOneInput(pCopy.get(), abFile.size());
  return 0;
}

int main(int argc, char **argv) {
  int nRun = 0;
  int nFailed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::vector<fs::path> files;
    if (fs::is_directory(arg)) {
      for (const auto &entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file())
          files.push_back(entry.path());
    } else {
      files.push_back(arg);
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
      std::fprintf(stderr, "replay %s\n", file.c_str());
      nFailed += RunFile(file);
      ++nRun;
    }
  }
  std::printf("%d inputs replayed\n", nRun);
  return nFailed == 0 && nRun > 0 ? 0 : 1;
}
