#include "report/rw_losses.h"

#include <algorithm>

#include "link/event_log.h"

namespace rwloss {
namespace {

bool Is(int failureClass, eventlog::Failure failure) {
  return failureClass == static_cast<int>(failure);
}

}  // namespace

AttemptKind LossTracker::Apply(const logread::LogEvent &event) {
  using logread::EventKind;
  runLossAttemptsEnded_ = 0;
  See(event.t);
  switch (event.kind) {
    case EventKind::kAttempt:
      if (Is(event.failure, eventlog::Failure::kPortError)) {
        Begin(event.t);
        ++episodes_.back().attempts;
        ++lossAttempts_;
        ++runLossAttempts_;
        return AttemptKind::kLoss;
      }
      // An attempt cut short by a stop says nothing of the R/W either way.
      if (!Is(event.failure, eventlog::Failure::kStopped)) End();
      return AttemptKind::kCardFinding;
    case EventKind::kReconnect:
      if (!event.ok) Begin(event.t);
      break;
    case EventKind::kOpen:
    case EventKind::kConnect:
      if (event.ok && event.kind == EventKind::kConnect) {
        everConnected_ = true;
        End();
      } else if (!event.ok && everConnected_) {
        Begin(event.t);
      }
      break;
    case EventKind::kRun:
      runLossAttemptsEnded_ = runLossAttempts_;
      runLossAttempts_ = 0;
      break;
    default: break;
  }
  return AttemptKind::kCardFinding;
}

double LossTracker::LostSeconds() const {
  double seconds = 0;
  for (const LossEpisode &episode : episodes_) seconds += episode.Seconds();
  return seconds;
}

void LossTracker::Begin(std::int64_t t) {
  if (Lost()) return;
  LossEpisode episode;
  episode.startUs = t;
  episode.endUs = t;
  episodes_.push_back(episode);
}

// See has already carried the span's end to this event.
void LossTracker::End() {
  if (Lost()) episodes_.back().ended = true;
}

// An open span lasts up to the latest event. A clock that went back (a log
// carried over a restart of the system) does not make it shorter.
void LossTracker::See(std::int64_t t) {
  if (Lost()) episodes_.back().endUs = std::max(episodes_.back().endUs, t);
}

}  // namespace rwloss
