#include "report/log_follower.h"

#include "platform/process.h"

LogFollower::~LogFollower() {
  if (file_) std::fclose(file_);
}

std::string LogFollower::ReadMore() {
  // Not inherited: a reader started later would keep every earlier log open.
  if (!file_) file_ = platform::OpenNotInherited(path_);
  // Past the end before: the tool may have written more since.
  if (!file_ || !platform::SeekFile(file_, offset_)) return "";
  std::string text;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
  offset_ += static_cast<std::int64_t>(text.size());
  return text;
}
