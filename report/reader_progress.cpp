#include "report/reader_progress.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/process.h"

const char *StateName(ReaderState state) {
  switch (state) {
    case ReaderState::kStarting: return "starting";
    case ReaderState::kConnecting: return "connecting";
    case ReaderState::kPolling: return "polling";
    case ReaderState::kReconnecting: return "reconnecting";
    case ReaderState::kStopping: return "stopping";
    case ReaderState::kEnded: return "stopped";
    case ReaderState::kFailed: return "failed";
  }
  return "?";
}

namespace {

std::string Field(const eventlog::Fields &event, const char *key) {
  auto found = event.find(key);
  return found == event.end() ? "" : found->second;
}

long long Number(const eventlog::Fields &event, const char *key) {
  return std::atoll(Field(event, key).c_str());
}

bool IsTrue(const eventlog::Fields &event, const char *key) { return Field(event, key) == "true"; }

void ApplyAttempt(const eventlog::Fields &event, ReaderProgress *p) {
  p->state = ReaderState::kPolling;
  ++p->attempts;
  std::string failure = Field(event, "failure");
  if (failure == "none") {
    ++p->successes;
  } else if (!failure.empty()) {
    ++p->failures[failure];
  }
  p->lastMarks += Field(event, "mark").substr(0, 1);
  if (p->lastMarks.size() > kMarksShown) p->lastMarks.erase(0, p->lastMarks.size() - kMarksShown);
}

// An open or connect event: a first connection, or a reconnection.
void ApplyConnecting(const eventlog::Fields &event, const std::string &kind, ReaderProgress *p) {
  if (p->state != ReaderState::kStopping)
    p->state = p->connected ? ReaderState::kReconnecting : ReaderState::kConnecting;
  if (IsTrue(event, "ok")) {
    if (kind != "connect") return;
    p->connected = true;
    if (p->state != ReaderState::kStopping) p->state = ReaderState::kPolling;
    return;
  }
  if (kind == "open") {
    p->cause = "cannot open " + Field(event, "device") + ": " + Field(event, "error");
  } else {
    p->cause = "no connection: " + Field(event, "failure");
  }
}

}  // namespace

bool ApplyEvent(const eventlog::Fields &event, ReaderProgress *p) {
  // Events of a format this program does not know are not read as if it did.
  long long version = Number(event, "v");
  if (version < 1 || version > eventlog::kFormatVersion) {
    p->cause = "event log format version " + Field(event, "v") + " not understood";
    return false;
  }
  const std::string kind = Field(event, "ev");
  if (kind == "start") {
    p->state = ReaderState::kConnecting;
  } else if (kind == "open" || kind == "connect") {
    ApplyConnecting(event, kind, p);
  } else if (kind == "attempt") {
    ApplyAttempt(event, p);
  } else if (kind == "reconnect") {
    if (!IsTrue(event, "ok")) {
      p->cause = "reconnection failed";
    } else if (p->state != ReaderState::kStopping) {
      p->state = ReaderState::kPolling;
    }
  } else if (kind == "stop") {
    p->state = ReaderState::kStopping;
    std::string reason = Field(event, "reason");
    if (reason != "reconnection failed" || p->cause.empty()) p->cause = reason;
  } else if (kind == "close") {
    p->closeSent = true;
  } else if (kind == "run") {
    ++p->runs;
    p->lastRun = RunFigures{static_cast<int>(Number(event, "run")), Number(event, "successes"),
                            Number(event, "attempts")};
    return true;
  }
  return false;
}

void ApplyExit(int exitStatus, ReaderProgress *p) {
  // A lost R/W ends the tool in order, with status 0: still a failure.
  bool lost = p->cause == "reconnection failed" || p->cause == "no session";
  if (exitStatus == 0 && p->runs > 0 && !lost) {
    p->state = ReaderState::kEnded;
    return;
  }
  p->state = ReaderState::kFailed;
  if (exitStatus == 0 && !p->cause.empty()) return;
  // Outside polling a tool ends at once on a stop: that is no fault of its R/W.
  if (p->stopAsked && !p->connected && p->cause.empty() && exitStatus != 0) {
    p->cause = "stopped while connecting";
    return;
  }
  std::string status = exitStatus > 128 ? "ended by signal " + std::to_string(exitStatus - 128)
                                        : "exit status " + std::to_string(exitStatus);
  if (exitStatus == 0) status = "no run";
  p->cause = p->cause.empty() ? status : p->cause + ", " + status;
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
