// Figures of a reader's polling attempts that the station's HTTP face
// shows and the progress model keeps: how long polls took (a histogram) and
// the card-finding rate over the last minutes (bins of wall-clock time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
