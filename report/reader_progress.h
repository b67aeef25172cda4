// What the station knows of a reader, built from the event log its tool
// writes: the state, the figures so far, the last marks, the failures by
// class.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "link/event_log.h"

enum class ReaderState {
  kStarting,
  kConnecting,
  kPolling,
  kReconnecting,
  kStopping,
  kEnded,
  kFailed
};
const char *StateName(ReaderState state);

// The figures of one run, as its `run` event gives them.
struct RunFigures {
  int run = 0;
  long long successes = 0;
  long long attempts = 0;
};

struct ReaderProgress {
  ReaderState state = ReaderState::kStarting;
  std::string cause;       // why it failed, or why polling stopped
  bool connected = false;  // a connection has succeeded
  bool closeSent = false;
  bool stopAsked = false;  // the station asked it to stop
  int runs = 0;
  long long attempts = 0;
  long long successes = 0;
  std::string lastMarks;                      // the latest marks, oldest first
  std::map<std::string, long long> failures;  // by class, "none" left out
  RunFigures lastRun;
};

constexpr std::size_t kMarksShown = 10;

// Applies one event. Returns true when it ended a run.
bool ApplyEvent(const eventlog::Fields &event, ReaderProgress *progress);

// Settles the state once the tool has ended with `exitStatus`: a tool that
// failed, or ended without a single run, failed. One that the station stopped
// before it connected failed too, for that reason rather than the signal.
void ApplyExit(int exitStatus, ReaderProgress *progress);

// "no card 3, no ACK 1", most frequent first.
std::string FailureSummary(const ReaderProgress &progress);

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
