// A file that another program is still writing, read line by line as it
// grows: the station follows its readers' event logs so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Reads a growing file from where the last call stopped and hands over each
// complete line; a line still being written waits for its end. The file is
// opened for each read and closed again, so that a station following many
// logs holds no descriptor between reads (a tool started meanwhile, or the
// report at the end, may need them all); the read goes on from the offset
// reached, so that a log of many gigabytes is never read from its start
// again.
class LogFollower {
 public:
  explicit LogFollower(std::string path) : path_(std::move(path)) {}
  LogFollower(const LogFollower &) = delete;
  LogFollower &operator=(const LogFollower &) = delete;
  // Why the last read could not open the file (errno's text), "" when it
  // could. What was not read then is read by a later call.
  const std::string &Problem() const { return problem_; }
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
  std::string problem_;
  std::int64_t offset_ = 0;
  std::string partial_;
};
