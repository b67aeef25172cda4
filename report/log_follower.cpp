#include "report/log_follower.h"

#include <cerrno>
#include <cstring>

#include "platform/process.h"

std::string LogFollower::ReadMore() {
  // Not inherited: a reader started while it is open must not keep it.
  std::FILE *file = platform::OpenNotInherited(path_);
  if (!file) {
    problem_ = std::strerror(errno);
    return "";
  }
  problem_.clear();
  std::string text;
  if (platform::SeekFile(file, offset_)) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  }
  std::fclose(file);
  offset_ += static_cast<std::int64_t>(text.size());
  return text;
}
