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

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The upper bounds (seconds) of the poll duration histogram's buckets: a
// healthy R/W answers a poll in 10 to 20 ms, a slow one takes longer, and a
// missing answer is noticed after 100 ms or more.
constexpr std::array<double, 12> kPollBucketBounds = {0.005, 0.01, 0.015, 0.02, 0.025, 0.05,
                                                      0.075, 0.1,  0.15,  0.25, 0.5,   1.0};

// How long polls took, one count per bucket; not cumulative (the exposition
// adds them up).
struct PollDurations {
  // counts[i] holds the polls above bound i - 1 and up to bound i; the last
  // one those above every bound.
  std::array<std::uint64_t, kPollBucketBounds.size() + 1> counts{};
  double sumSeconds = 0;

  void Add(double seconds);
  std::uint64_t Count() const;
};

// The card-finding rate over the last minutes, for the page's chart: the
// attempts and successes of bins of `binSeconds` of wall-clock time, the
// newest last, at most kRecentBins of them.
constexpr std::size_t kRecentBins = 60;
struct RecentBins {
  int binSeconds = 10;
  std::int64_t newestStart = 0;  // unix time the newest bin began
  std::vector<long long> attempts;
  std::vector<long long> successes;

  // Counts an attempt that ended at `unixSeconds` (not earlier than the
  // newest bin): opens the bins up to it, empty ones for a pause, and drops
  // the oldest beyond kRecentBins.
  void Add(std::int64_t unixSeconds, bool success);
};

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
