#include "report/input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

InputFile::~InputFile() {
  if (f_ && f_ != stdin) std::fclose(f_);
}

bool InputFile::Open(const std::string &path, std::string *error) {
  path_ = path;
  if (path == kStandardInput) {
    platform::ReadStandardInputAsBytes();
    f_ = stdin;
    return true;
  }
  f_ = std::fopen(path.c_str(), "rb");
  if (!f_) *error = "cannot open " + path + ": " + Reason();
  return f_ != nullptr;
}

bool InputFile::Read(std::size_t limit, std::string *text, std::string *error) {
  char buffer[65536];
  std::size_t n, left = limit;
  while ((limit == 0 || left > 0) &&
         (n = std::fread(buffer, 1, limit == 0 ? sizeof buffer : std::min(left, sizeof buffer),
                         f_)) > 0) {
    text->append(buffer, n);
    left -= std::min(left, n);
  }
  if (std::ferror(f_) == 0) return true;
  *error =
      "cannot read " + (f_ == stdin ? std::string("the standard input") : path_) + ": " + Reason();
  return false;
}

bool IdentifyInput(const std::string &path, platform::FileIdentity *identity) {
  return path == kStandardInput ? platform::IdentifyStandardInput(identity)
                                : platform::IdentifyFile(path, identity);
}
