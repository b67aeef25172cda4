// What the station's HTTP face shows: a plain copy of the station's figures
// at one moment. The station builds a new one about twice a second and
// publishes it whole (SnapshotHolder); the metrics, the status JSON and the
// live page are rendered from the latest one and never see the station's
// own, changing state.
//
// Every count is a total over the whole session: it never goes down from
// one snapshot to the next, also not when a reader's tool is started again
// (the station adds the new tool's figures to what the earlier ones
// counted). Prometheus reads a counter that goes down as a restart of the
// station and would count it twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "report/poll_figures.h"

// Why a reader's R/W was gone, and for how long: attempts made while it was
// (each failing with a port error), and the separate episodes.
struct ReaderLosses {
  long long episodes = 0;
  long long attempts = 0;
  double seconds = 0;
};

struct ReaderSnapshot {
  std::string name;
  std::string tool;  // "kestrow" or "brimlet"
  std::string port;
  // The progress model's state name ("polling", "failed", ...) and, where
  // there is one, its cause ("no connection: no ACK").
  std::string state;
  std::string cause;
  long long starts = 0;  // times its tool was started
  long long runs = 0;
  long long attempts = 0;
  long long successes = 0;
  // Failed attempts by failure class, as FailureName names them ("none"
  // left out).
  std::map<std::string, long long> failures;
  ReaderLosses losses;
  long long reconnections = 0;
  std::optional<double> lastAttemptTime;  // unix seconds
  PollDurations pollDurations;
  std::string lastMarks;  // the latest marks, oldest first
  RecentBins recent;
};

struct StationSnapshot {
  std::string name;                    // the station's name (host name unless given)
  std::string version;                 // the program's version
  std::string title;                   // what the session tests (free text; may be empty)
  std::string session;                 // the session folder
  double startTime = 0;                // unix seconds
  double time = 0;                     // unix seconds when this snapshot was taken
  std::optional<double> requiredRate;  // the gate as a ratio 0 to 1
  std::vector<ReaderSnapshot> readers;
};

// The latest snapshot, handed from the station's loop to the HTTP thread.
// The station publishes a new, never changed object; readers keep theirs as
// long as they render from it.
class SnapshotHolder {
 public:
  void Publish(std::shared_ptr<const StationSnapshot> snapshot) {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = std::move(snapshot);
  }
  std::shared_ptr<const StationSnapshot> Latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const StationSnapshot> latest_;
};
