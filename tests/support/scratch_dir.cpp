#include "tests/support/scratch_dir.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

class ScratchDir {
 public:
  ScratchDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestrow-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string ScratchPath(const std::string &name) {
  static ScratchDir dir;
  return dir.Path() + "/" + name;
}
