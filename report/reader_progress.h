// What the station knows of a reader, built from the event log its tool
// writes (every start of the tool appends to the same log): the state, the
// card-finding figures so far, the R/W's losses apart from them, the last
// marks, the failures by class, how long polls took and the rate over the
// last minutes. Every start of the tool adds to the same figures, so that
// none of them goes down while the station runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "report/log_event.h"
#include "report/poll_figures.h"
#include "report/rw_losses.h"

enum class ReaderState {
  kStarting,
  kConnecting,
  kPolling,
  kReconnecting,
  kLost,  // its R/W is gone: the tool still polls a dead port, or has ended
  kStopping,
  kEnded,
  kFailed
};
const char *StateName(ReaderState state);

// The figures of one run, as its `run` event gives them (every attempt, as
// the result file has them), and the attempts of the run made while the R/W
// was gone.
struct RunFigures {
  int run = 0;
  long long successes = 0;
  long long attempts = 0;
  long long lossAttempts = 0;
};

struct ReaderProgress {
  ReaderState state = ReaderState::kStarting;
  std::string cause;       // why it failed, or why polling stopped
  bool connected = false;  // a connection has succeeded, in any start
  bool closeSent = false;
  bool stopAsked = false;  // the station asked it to stop
  int starts = 0;          // `start` events: times the tool was started
  int runs = 0;
  // Card finding: the attempts made while the R/W was there.
  long long attempts = 0;
  long long successes = 0;
  std::string lastMarks;                      // the latest marks, oldest first, as shown
  std::map<std::string, long long> failures;  // card-finding failures by class, "none" left out
  RunFigures lastRun;
  long long reconnections = 0;  // reconnections between runs that worked
  // How long the card-finding attempts took, and their rate in bins of
  // wall-clock time (fed only while the log gives the wall-clock time).
  PollDurations pollDurations;
  RecentBins recent;
  // When the last attempt of any kind ended, in microseconds since 1970.
  std::optional<std::int64_t> lastAttemptWallUs;
  // The R/W's losses: its spans and the attempts made while it was gone.
  rwloss::LossTracker losses;
  // The wall-clock time (microseconds since 1970, UTC) at `t` = 0 of the
  // tools' clock, from the latest `start` event that had one.
  std::optional<std::int64_t> wallAtZeroUs;
};

constexpr std::size_t kMarksShown = 10;

// Applies one event. Returns true when it ended a run.
bool ApplyEvent(const logread::LogEvent &event, ReaderProgress *progress);

// Reads one line of the log with `parser` and applies it. A line of a format
// version this program does not know is not read as if it did: the cause
// says so. Any other line that is not a valid event is passed over. Returns
// true when it ended a run.
bool ApplyLine(std::string_view line, logread::EventParser &parser, ReaderProgress *progress);

// How a tool's end leaves its reader.
enum class ToolEnd {
  kDone,    // it ran and ended in order: kEnded
  kFailed,  // kFailed, with the cause
  kLost,    // it ended with its R/W gone after a connection had worked: kLost,
            // to be started again once the R/W is back, or given up
};

// Settles the state once the tool has ended with `exitStatus`. A tool that
// failed, or ended without a single run, failed; one that the station
// stopped before it ever connected failed too, for that reason rather than
// the signal. A tool that ended while its R/W was gone (a failed
// reconnection, a port that failed, a start that could not reach it again)
// is kLost, unless the station had asked it to stop.
ToolEnd ApplyExit(int exitStatus, ReaderProgress *progress);

// Ends a reader that is not started again although its R/W is gone: the
// session ended, or it is a reader of a single run (which cannot start that
// run again), or starting again is off. It has failed.
void GiveUpLost(ReaderProgress *progress);

// A reader of a single run (t N) that lost its R/W during its run failed:
// its run does not measure card finding throughout. Applied when its tool
// has ended in order.
void JudgeSingleRun(ReaderProgress *progress);

// When the current loss began, in microseconds since 1970 (UTC); none when
// the R/W is not lost or the log has no wall-clock time.
std::optional<std::int64_t> LostSinceUs(const ReaderProgress &progress);

// "no card 3, no ACK 1", most frequent first.
std::string FailureSummary(const ReaderProgress &progress);
