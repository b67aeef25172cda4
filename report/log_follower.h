// A file that another program is still writing, read line by line as it
// grows: the station follows its readers' event logs so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Reads a growing file from where the last call stopped and hands over each
// complete line; a line still being written waits for its end. The file is
// kept open, so that a log of many gigabytes is never searched from its
// start again.
class LogFollower {
 public:
  explicit LogFollower(std::string path) : path_(std::move(path)) {}
  ~LogFollower();
  LogFollower(const LogFollower &) = delete;
  LogFollower &operator=(const LogFollower &) = delete;
  // Returns the count of lines handed over.
  template <typename OnLine>
  int ReadNew(OnLine onLine) {
    int count = 0;
    partial_ += ReadMore();
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos;
         start = end + 1) {
      onLine(std::string_view(partial_).substr(start, end - start));
      ++count;
    }
    partial_.erase(0, start);
    // A line longer than any event is not an event: drop it.
    if (partial_.size() > kMaxLine) partial_.clear();
    return count;
  }

 private:
  static constexpr std::size_t kMaxLine = 1 << 20;
  std::string ReadMore();
  std::string path_;
  std::FILE *file_ = nullptr;
  std::int64_t offset_ = 0;
  std::string partial_;
};
