#include "report/reader_progress.h"

#include <algorithm>
#include <vector>

const char *StateName(ReaderState state) {
  switch (state) {
    case ReaderState::kStarting: return "starting";
    case ReaderState::kConnecting: return "connecting";
    case ReaderState::kPolling: return "polling";
    case ReaderState::kReconnecting: return "reconnecting";
    case ReaderState::kLost: return "lost R/W";
    case ReaderState::kStopping: return "stopping";
    case ReaderState::kEnded: return "stopped";
    case ReaderState::kFailed: return "failed";
  }
  return "?";
}

namespace {

using logread::EventKind;
using logread::LogEvent;

const std::string &FailureOf(const LogEvent &event) {
  return logread::FailureClasses()[static_cast<std::size_t>(event.failure)];
}

// The mark the console showed for an attempt's result.
char MarkOf(const LogEvent &attempt) {
  return attempt.result == 0 ? 'o' : attempt.result == 2 ? '.' : 'X';
}

// The attempt's duration and, where the log gives the wall-clock time,
// its place in the recent bins.
void TimeAttempt(const LogEvent &event, std::optional<std::int64_t> wallUs, ReaderProgress *p) {
  p->pollDurations.Add(static_cast<double>(event.us) / 1e6);
  if (wallUs) p->recent.Add(*wallUs / 1000000, event.failure == 0);
}

void ApplyAttempt(const LogEvent &event, rwloss::AttemptKind kind, ReaderProgress *p) {
  p->lastMarks += MarkOf(event);
  if (p->lastMarks.size() > kMarksShown) p->lastMarks.erase(0, p->lastMarks.size() - kMarksShown);
  std::optional<std::int64_t> wallUs;
  if (p->wallAtZeroUs) wallUs = *p->wallAtZeroUs + event.t;
  if (wallUs) p->lastAttemptWallUs = wallUs;
  if (kind == rwloss::AttemptKind::kLoss) return;  // counted apart, by the loss tracker
  if (p->state != ReaderState::kStopping) p->state = ReaderState::kPolling;
  ++p->attempts;
  if (event.failure == 0) {
    ++p->successes;
  } else {
    ++p->failures[FailureOf(event)];
  }
  TimeAttempt(event, wallUs, p);
}

// While the R/W is gone the reader shows so, whatever its tool is doing
// (polling a dead port, reconnecting, connecting after a start); a stop
// shows until the end.
void ShowLoss(ReaderProgress *p) {
  bool settled = p->state == ReaderState::kStopping || p->state == ReaderState::kEnded ||
                 p->state == ReaderState::kFailed;
  if (p->losses.Lost() && !settled) p->state = ReaderState::kLost;
}

void ApplyStart(const LogEvent &event, ReaderProgress *p) {
  // A tool started again tells its own story: what ended the last one is
  // no longer the cause of anything.
  ++p->starts;
  // (The station may have asked it to stop before its first event.)
  p->state = p->stopAsked ? ReaderState::kStopping : ReaderState::kConnecting;
  p->cause.clear();
  p->closeSent = false;
  if (event.hasWall) p->wallAtZeroUs = event.wallSeconds * 1000000 - event.t;
}

// An open or connect event: a first connection, or a reconnection.
void ApplyConnecting(const LogEvent &event, ReaderProgress *p) {
  if (p->state != ReaderState::kStopping)
    p->state = p->connected ? ReaderState::kReconnecting : ReaderState::kConnecting;
  if (event.ok) {
    if (event.kind != EventKind::kConnect) return;
    p->connected = true;
    if (p->state != ReaderState::kStopping) p->state = ReaderState::kPolling;
    return;
  }
  if (event.kind == EventKind::kOpen) {
    p->cause = "cannot open " + event.device + ": " + event.error;
  } else {
    p->cause = "no connection: " + FailureOf(event);
  }
}

void ApplyReconnect(const LogEvent &event, ReaderProgress *p) {
  if (!event.ok) {
    p->cause = "reconnection failed";
    return;
  }
  ++p->reconnections;
  if (p->state != ReaderState::kStopping) p->state = ReaderState::kPolling;
}

void ApplyStop(const LogEvent &event, ReaderProgress *p) {
  p->state = ReaderState::kStopping;
  if (event.reason != "reconnection failed" || p->cause.empty()) p->cause = event.reason;
}

}  // namespace

bool ApplyEvent(const LogEvent &event, ReaderProgress *p) {
  rwloss::AttemptKind kind = p->losses.Apply(event);
  switch (event.kind) {
    case EventKind::kStart: ApplyStart(event, p); break;
    case EventKind::kOpen:
    case EventKind::kConnect: ApplyConnecting(event, p); break;
    case EventKind::kAttempt: ApplyAttempt(event, kind, p); break;
    case EventKind::kReconnect: ApplyReconnect(event, p); break;
    case EventKind::kStop: ApplyStop(event, p); break;
    case EventKind::kClose: p->closeSent = true; break;
    case EventKind::kRun:
      ++p->runs;
      p->lastRun =
          RunFigures{event.run, event.successes, event.attempts, p->losses.RunLossAttempts()};
      ShowLoss(p);
      return true;
    default: break;
  }
  ShowLoss(p);
  return false;
}

bool ApplyLine(std::string_view line, logread::EventParser &parser, ReaderProgress *progress) {
  LogEvent event;
  std::string error;
  switch (parser.Classify(line, &event, &error)) {
    case logread::LineKind::kEvent: return ApplyEvent(event, progress);
    case logread::LineKind::kUnknownVersion:
      progress->cause = "event log format version " + parser.RefusedVersion() + " not understood";
      return false;
    case logread::LineKind::kInvalid: return false;
  }
  return false;
}

namespace {

// The cause of a tool's end that no event explained: its status.
std::string StatusText(int exitStatus) {
  if (exitStatus == 0) return "no run";
  if (exitStatus > 128) return "ended by signal " + std::to_string(exitStatus - 128);
  return "exit status " + std::to_string(exitStatus);
}

}  // namespace

ToolEnd ApplyExit(int exitStatus, ReaderProgress *p) {
  if (p->connected && p->losses.Lost()) {
    if (p->stopAsked) {
      GiveUpLost(p);
      return ToolEnd::kFailed;
    }
    p->state = ReaderState::kLost;
    return ToolEnd::kLost;
  }
  // A tool that lost its R/W without a span the tracker saw (no session)
  // ends in order with status 0: still a failure.
  bool lost = p->cause == "reconnection failed" || p->cause == "no session";
  if (exitStatus == 0 && p->runs > 0 && !lost) {
    p->state = ReaderState::kEnded;
    return ToolEnd::kDone;
  }
  p->state = ReaderState::kFailed;
  if (exitStatus == 0 && !p->cause.empty()) return ToolEnd::kFailed;
  // Outside polling a tool ends at once on a stop: that is no fault of its R/W.
  if (p->stopAsked && !p->connected && p->cause.empty() && exitStatus != 0) {
    p->cause = "stopped while connecting";
    return ToolEnd::kFailed;
  }
  std::string status = StatusText(exitStatus);
  p->cause = p->cause.empty() ? status : p->cause + ", " + status;
  return ToolEnd::kFailed;
}

void GiveUpLost(ReaderProgress *p) {
  p->state = ReaderState::kFailed;
  p->cause = "lost R/W";
}

void JudgeSingleRun(ReaderProgress *p) {
  if (p->state != ReaderState::kEnded || p->losses.Episodes().empty()) return;
  p->state = ReaderState::kFailed;
  p->cause = "lost R/W during its run";
}

std::optional<std::int64_t> LostSinceUs(const ReaderProgress &p) {
  if (!p.losses.Lost() || !p.wallAtZeroUs) return std::nullopt;
  return *p.wallAtZeroUs + p.losses.Episodes().back().startUs;
}

std::string FailureSummary(const ReaderProgress &progress) {
  std::vector<std::pair<std::string, long long>> classes(progress.failures.begin(),
                                                         progress.failures.end());
  std::stable_sort(classes.begin(), classes.end(),
                   [](const auto &a, const auto &b) { return a.second > b.second; });
  std::string text;
  for (const auto &[name, count] : classes) {
    if (!text.empty()) text += ", ";
    text += name + " " + std::to_string(count);
  }
  return text;
}
