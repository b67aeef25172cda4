#include "tests/support/scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <stdexcept>

namespace {

#ifdef _WIN32
// No mkdtemp: a random name, which create_directory refuses to reuse.
std::string MakePrivateFolder() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int tries = 0; tries < 100; ++tries) {
    auto path = std::filesystem::temp_directory_path() /
                ("kestrow-test-" + std::to_string(random() % 1000000000000ULL));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path.string();
  }
  throw std::runtime_error("no private folder could be made");
}
#else
std::string MakePrivateFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrow-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}
#endif

}  // namespace

ScratchDir::ScratchDir() : path_(MakePrivateFolder()) {}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchPath(const std::string &name) {
  static ScratchDir dir;
  return dir / name;
}
