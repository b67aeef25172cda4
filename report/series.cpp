#include "report/series.h"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstdio>

#include "report/log_event.h"

namespace {

constexpr std::int64_t kUsPerSecond = 1000000;
constexpr std::int64_t kHour = 3600;
constexpr std::size_t kPendingValues = 4096;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// "-" first, then tags by number, then other labels (file names) by name.
bool LabelBefore(const std::string &a, const std::string &b) {
  auto rank = [](const std::string &s) {
    if (s == "-") return 0;
    bool number = !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == s.npos;
    return number ? 1 : 2;
  };
  int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb;
  if (ra == 1) return std::stol(a) < std::stol(b);
  return a < b;
}

std::string Percent1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", value);
  return text;
}

// p rounded down to three decimals, so that a p below 0.05 never prints as
// 0.050.
std::string PValueText(double p) {
  if (p < 0.001) return "p < 0.001";
  char text[32];
  std::snprintf(text, sizeof text, "p = %.3f", std::floor(p * 1000) / 1000);
  return text;
}

// The pooled rate of the bins that start in [from, to); false when none
// has attempts.
bool PooledPercentBetween(const std::vector<SeriesBin> &bins, std::int64_t from, std::int64_t to,
                          double *percent) {
  long long attempts = 0, successes = 0;
  for (const SeriesBin &bin : bins) {
    if (bin.startSeconds < from || bin.startSeconds >= to) continue;
    attempts += bin.attempts;
    successes += bin.successes;
  }
  if (attempts == 0) return false;
  *percent = 100.0 * static_cast<double>(successes) / static_cast<double>(attempts);
  return true;
}

// The first and last hour when the bins divide an hour and the series spans
// at least two; otherwise the first and last bin with attempts.
std::string TrendSentence(const Series &series, std::int64_t binSeconds) {
  const TrendTest &trend = series.trend;
  if (!trend.defined || trend.p >= 0.05) return "no trend shown";
  const std::vector<SeriesBin> &bins = series.bins;
  const char *direction = trend.z < 0 ? "fell" : "rose";
  double first = 0, last = 0;
  const char *window = "hour";
  std::int64_t begin = bins.front().startSeconds;
  std::int64_t end = bins.back().startSeconds + bins.back().seconds;
  bool hours = binSeconds <= kHour && kHour % binSeconds == 0 && end - begin >= 2 * kHour &&
               PooledPercentBetween(bins, begin, begin + kHour, &first) &&
               PooledPercentBetween(bins, end - kHour, end, &last);
  if (!hours) {
    window = "bin";
    std::size_t a = 0, b = bins.size() - 1;
    while (bins[a].attempts == 0) ++a;
    while (bins[b].attempts == 0) --b;
    first = bins[a].ratePercent;
    last = bins[b].ratePercent;
  }
  return std::string("rate ") + direction + " from " + Percent1(first) + " in the first " + window +
         " to " + Percent1(last) + " in the last (trend " + PValueText(trend.p) + ")";
}

}  // namespace

void ExactHistogram::Add(std::uint32_t value) {
  pending_.push_back(value);
  if (pending_.size() >= kPendingValues) Fold();
}

// Merges two ascending lists of (value, count) into one.
static std::vector<std::pair<std::uint32_t, std::uint32_t>> MergeCounts(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> &a,
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> &b) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
  merged.reserve(a.size() + b.size());
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    bool fromA = j == b.size() || (i < a.size() && a[i].first <= b[j].first);
    const auto &entry = fromA ? a[i++] : b[j++];
    if (!merged.empty() && merged.back().first == entry.first) {
      merged.back().second += entry.second;
    } else {
      merged.push_back(entry);
    }
  }
  if (merged.capacity() > merged.size() + merged.size() / 4) merged.shrink_to_fit();
  return merged;
}

void ExactHistogram::Fold() {
  if (pending_.empty()) return;
  std::sort(pending_.begin(), pending_.end());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  for (std::uint32_t value : pending_) {
    if (!runs.empty() && runs.back().first == value) {
      ++runs.back().second;
    } else {
      runs.emplace_back(value, 1);
    }
  }
  counts_ = MergeCounts(counts_, runs);
  pending_.clear();
}

void ExactHistogram::Compact() {
  Fold();
  pending_.shrink_to_fit();
}

void ExactHistogram::Merge(ExactHistogram &&other) {
  Fold();
  other.Fold();
  counts_ = MergeCounts(counts_, other.counts_);
  other.counts_.clear();
  other.counts_.shrink_to_fit();
  other.pending_.shrink_to_fit();
}

std::uint64_t ExactHistogram::Count() const {
  std::uint64_t total = pending_.size();
  for (const auto &entry : counts_) total += entry.second;
  return total;
}

std::uint32_t ExactHistogram::Percentile(int percent) {
  Fold();
  std::uint64_t total = Count();
  if (total == 0) return 0;
  // The rank is ceil(percent x count / 100), at least 1.
  std::uint64_t rank = (static_cast<std::uint64_t>(percent) * total + 99) / 100;
  rank = std::max<std::uint64_t>(rank, 1);
  std::uint64_t seen = 0;
  for (const auto &entry : counts_) {
    seen += entry.second;
    if (seen >= rank) return entry.first;
  }
  return counts_.back().first;
}

TrendTest CochranArmitage(const std::vector<long long> &successes,
                          const std::vector<long long> &trials, const std::vector<double> &scores) {
  TrendTest test;
  double n = 0, s = 0, nx = 0;
  int filled = 0;
  for (std::size_t i = 0; i < trials.size(); ++i) {
    n += static_cast<double>(trials[i]);
    s += static_cast<double>(successes[i]);
    nx += static_cast<double>(trials[i]) * scores[i];
    filled += trials[i] > 0;
  }
  if (filled < 2 || s <= 0 || s >= n) return test;
  double mean = nx / n, rate = s / n;
  // T = sum of s_i (x_i - mean x); under no trend its variance is
  // rate (1 - rate) sum of n_i (x_i - mean x)^2.
  double statistic = 0, spread = 0;
  for (std::size_t i = 0; i < trials.size(); ++i) {
    double d = scores[i] - mean;
    statistic += static_cast<double>(successes[i]) * d;
    spread += static_cast<double>(trials[i]) * d * d;
  }
  double variance = rate * (1 - rate) * spread;
  if (!(variance > 0)) return test;
  test.defined = true;
  test.z = statistic / std::sqrt(variance);
  boost::math::normal_distribution<double> normal;
  test.p = std::min(1.0, 2 * boost::math::cdf(boost::math::complement(normal, std::fabs(test.z))));
  return test;
}

std::int64_t SpanSeconds(const SeriesSet &set) {
  if (set.series.empty()) return 0;
  std::int64_t first = set.series[0].bins.front().startSeconds, last = first;
  for (const Series &series : set.series) {
    first = std::min(first, series.bins.front().startSeconds);
    last = std::max(last, series.bins.back().startSeconds + series.bins.back().seconds);
  }
  return last - first;
}

std::int64_t NextAutoBinWidth(std::int64_t seconds) {
  static const std::int64_t kWidths[] = {1,    2,    10,   30,    60,    300,  900,
                                         1800, 3600, 7200, 21600, 43200, 86400};
  for (std::int64_t width : kWidths) {
    if (width > seconds) return width;
  }
  return seconds * 2;
}

SeriesBuilder::SeriesBuilder(std::int64_t binSeconds)
    : binSeconds_(binSeconds > 0 ? binSeconds : 1), automatic_(binSeconds <= 0) {}

SeriesBuilder::Counts &SeriesBuilder::BinAt(const std::string &group, std::int64_t wallUs) {
  std::int64_t index = FloorDiv(wallUs, binSeconds_ * kUsPerSecond);
  if (groups_.empty()) lowIndex_ = highIndex_ = index;
  lowIndex_ = std::min(lowIndex_, index);
  highIndex_ = std::max(highIndex_, index);
  while (automatic_ && highIndex_ - lowIndex_ + 1 > kMaxAutoBins) {
    Widen();
    index = FloorDiv(wallUs, binSeconds_ * kUsPerSecond);
  }
  // Attempts come in time order, so most fall into the bin of the last one;
  // a bin left keeps only its counts.
  if (last_ && index == lastIndex_ && group == lastGroup_) return *last_;
  if (last_) last_->latency.Compact();
  Counts &counts = groups_[group][index];
  if (counts.failures.empty()) counts.failures.assign(logread::FailureClasses().size(), 0);
  last_ = &counts;
  lastIndex_ = index;
  lastGroup_ = group;
  return counts;
}

void SeriesBuilder::Widen() {
  last_ = nullptr;
  std::int64_t wider = NextAutoBinWidth(binSeconds_);
  std::int64_t factor = wider / binSeconds_;
  for (auto &group : groups_) {
    Bins merged;
    for (auto &bin : group.second) {
      Counts &into = merged[FloorDiv(bin.first, factor)];
      Counts &from = bin.second;
      into.attempts += from.attempts;
      into.successes += from.successes;
      into.failures.resize(from.failures.size());
      for (std::size_t i = 0; i < from.failures.size(); ++i) into.failures[i] += from.failures[i];
      into.latency.Merge(std::move(from.latency));
      into.reconnections += from.reconnections;
      into.failedReconnections += from.failedReconnections;
      into.stops += from.stops;
      into.lossAttempts += from.lossAttempts;
    }
    group.second.swap(merged);
  }
  lowIndex_ = FloorDiv(lowIndex_, factor);
  highIndex_ = FloorDiv(highIndex_, factor);
  binSeconds_ = wider;
}

void SeriesBuilder::AddAttempt(const std::string &group, std::int64_t wallUs, bool success,
                               std::uint32_t latencyUs, int failureClass, bool loss) {
  Counts &bin = BinAt(group, wallUs);
  if (failureClass > 0 && failureClass < static_cast<int>(bin.failures.size())) {
    ++bin.failures[failureClass];
  }
  if (loss) {
    ++bin.lossAttempts;
    return;
  }
  ++bin.attempts;
  bin.successes += success;
  bin.latency.Add(latencyUs);
}

void SeriesBuilder::AddLossSpan(const std::string &group, std::int64_t fromWallUs,
                                std::int64_t toWallUs) {
  lossSpans_[group].emplace_back(FloorDiv(fromWallUs, kUsPerSecond),
                                 FloorDiv(toWallUs, kUsPerSecond));
}

void SeriesBuilder::AddReconnect(const std::string &group, std::int64_t wallUs, bool ok) {
  Counts &bin = BinAt(group, wallUs);
  ++bin.reconnections;
  bin.failedReconnections += !ok;
}

void SeriesBuilder::AddStop(const std::string &group, std::int64_t wallUs) {
  ++BinAt(group, wallUs).stops;
}

namespace {

SeriesBin BinOf(std::int64_t start, std::int64_t seconds) {
  SeriesBin bin;
  bin.startSeconds = start;
  bin.seconds = seconds;
  bin.failures.assign(logread::FailureClasses().size(), 0);
  return bin;
}

}  // namespace

// A series from the bins that hold events: the stretches between them
// become one gap entry each.
Series SeriesBuilder::SeriesOf(const std::string &label, Bins &bins) const {
  Series series;
  series.label = label;
  std::int64_t first = bins.begin()->first;
  std::vector<long long> successes, trials;
  std::vector<double> scores;
  std::int64_t next = first;
  for (auto &[index, c] : bins) {
    if (index > next)
      series.bins.push_back(BinOf(next * binSeconds_, (index - next) * binSeconds_));
    next = index + 1;
    SeriesBin bin = BinOf(index * binSeconds_, binSeconds_);
    bin.attempts = c.attempts;
    bin.successes = c.successes;
    bin.failures = c.failures;
    bin.reconnections = c.reconnections;
    bin.failedReconnections = c.failedReconnections;
    bin.stops = c.stops;
    bin.lossAttempts = c.lossAttempts;
    bin.p50Us = c.latency.Percentile(50);
    bin.p99Us = c.latency.Percentile(99);
    if (bin.attempts > 0) {
      bin.ratePercent = 100.0 * static_cast<double>(bin.successes) / bin.attempts;
      Interval w = WilsonInterval(bin.successes, bin.attempts);
      bin.interval = {100 * w.low, 100 * w.high};
    }
    // A bin's place in time is its score: a gap keeps its length.
    successes.push_back(bin.successes);
    trials.push_back(bin.attempts);
    scores.push_back(static_cast<double>(index - first));
    series.bins.push_back(std::move(bin));
  }
  series.trend = CochranArmitage(successes, trials, scores);
  series.trendSentence = TrendSentence(series, binSeconds_);
  return series;
}

SeriesSet SeriesBuilder::Build() {
  SeriesSet set;
  set.binSeconds = binSeconds_;
  set.automatic = automatic_;
  for (auto &group : groups_) {
    set.series.push_back(SeriesOf(group.first, group.second));
    auto spans = lossSpans_.find(group.first);
    if (spans != lossSpans_.end()) set.series.back().lossSpans = spans->second;
  }
  std::sort(set.series.begin(), set.series.end(),
            [](const Series &a, const Series &b) { return LabelBefore(a.label, b.label); });
  return set;
}
