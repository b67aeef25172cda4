#include "report/poll_figures.h"

#include <algorithm>
#include <numeric>

void PollDurations::Add(double seconds) {
  // The first bucket whose bound holds it; past the last bound, the last.
  auto bound = std::lower_bound(kPollBucketBounds.begin(), kPollBucketBounds.end(), seconds);
  ++counts[static_cast<std::size_t>(bound - kPollBucketBounds.begin())];
  sumSeconds += seconds;
}

std::uint64_t PollDurations::Count() const {
  return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
}

void RecentBins::Add(std::int64_t unixSeconds, bool success) {
  const std::int64_t width = std::max(binSeconds, 1);
  std::int64_t start = unixSeconds - unixSeconds % width;
  if (attempts.empty()) {
    newestStart = start;
    attempts.push_back(0);
    successes.push_back(0);
  }
  // A long pause leaves at most a window of empty bins.
  std::int64_t newBins = std::min<std::int64_t>((start - newestStart) / width, kRecentBins);
  for (std::int64_t i = 0; i < newBins; ++i) {
    attempts.push_back(0);
    successes.push_back(0);
  }
  if (newBins > 0) newestStart = start;
  if (attempts.size() > kRecentBins) {
    std::size_t drop = attempts.size() - kRecentBins;
    attempts.erase(attempts.begin(), attempts.begin() + drop);
    successes.erase(successes.begin(), successes.begin() + drop);
  }
  ++attempts.back();
  if (success) ++successes.back();
}
