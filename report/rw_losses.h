// The R/W's losses: the spans of one reader's event log in which its R/W was
// gone (the port failed, the device went away, a reconnection or a start
// could not reach it again). Attempts made then say nothing about how well
// the reader finds a card, so everything that judges a reader counts them
// here, apart from card finding. The console and the result file keep them
// as failed attempts, as the tools always did.
#pragma once

#include <cstdint>
#include <vector>

#include "report/log_event.h"

namespace rwloss {

// One span in which the R/W was gone.
struct LossEpisode {
  std::int64_t startUs = 0;  // `t` of the first sign: a port error, a failed reconnection
  std::int64_t endUs = 0;    // `t` of the connection that ended it, or the last event seen
  bool ended = false;        // false: the R/W was still gone when the log ended
  long long attempts = 0;    // attempts made while it lasted
  double Seconds() const { return static_cast<double>(endUs - startUs) / 1e6; }
};

// What an attempt counts as.
enum class AttemptKind { kCardFinding, kLoss };

// Follows the events of one reader's log (all the tool starts it holds, in
// order) and tells which attempts were made while the R/W was gone.
//
// A span begins with an attempt whose port failed, or with a failed
// reconnection; once a connection has worked, a port that cannot be opened
// or a connection that fails begins one too (the tool was started again
// while the R/W was still away). It ends with the next connection that
// works, or with an attempt that reached the R/W. A connection that never
// worked since the log began is a failed start, not a loss.
class LossTracker {
 public:
  // Applies one event; for an attempt, says what it counts as (kCardFinding
  // for every other event).
  AttemptKind Apply(const logread::LogEvent &event);

  // The spans so far; the last one may still be open (`ended` false).
  const std::vector<LossEpisode> &Episodes() const { return episodes_; }
  bool Lost() const { return !episodes_.empty() && !episodes_.back().ended; }
  long long LossAttempts() const { return lossAttempts_; }
  // Seconds in all spans, an open one up to the last event seen.
  double LostSeconds() const;
  // Loss attempts since the last `run` event, for the run that event ends:
  // valid while applying that event's return and until the next event.
  long long RunLossAttempts() const { return runLossAttemptsEnded_; }

 private:
  void Begin(std::int64_t t);
  void End();
  void See(std::int64_t t);
  std::vector<LossEpisode> episodes_;
  bool everConnected_ = false;
  long long lossAttempts_ = 0;
  long long runLossAttempts_ = 0;       // of the run in progress
  long long runLossAttemptsEnded_ = 0;  // of the run the last `run` event ended
};

}  // namespace rwloss
