// What the station knows of a reader, built from the event log its tool
// writes: the state, the figures so far, the last marks, the failures by
// class.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "report/log_event.h"

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
bool ApplyEvent(const logread::LogEvent &event, ReaderProgress *progress);

// Reads one line of the log with `parser` and applies it. A line of a format
// version this program does not know is not read as if it did: the cause
// says so. Any other line that is not a valid event is passed over. Returns
// true when it ended a run.
bool ApplyLine(std::string_view line, logread::EventParser &parser, ReaderProgress *progress);

// Settles the state once the tool has ended with `exitStatus`: a tool that
// failed, or ended without a single run, failed. One that the station stopped
// before it connected failed too, for that reason rather than the signal.
void ApplyExit(int exitStatus, ReaderProgress *progress);

// "no card 3, no ACK 1", most frequent first.
std::string FailureSummary(const ReaderProgress &progress);
