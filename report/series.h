// The soak time series: the attempts of event logs in bins of wall-clock
// time, per group (tag or file), with a trend test over the bins.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report/run_stats.h"

// Latencies with their exact percentiles: a count per distinct value, so
// that memory grows with the number of distinct microsecond values, not
// with the number of attempts.
class ExactHistogram {
 public:
  void Add(std::uint32_t value);
  void Merge(ExactHistogram &&other);
  // Gives back the memory of values not yet counted (when a bin is left).
  void Compact();
  std::uint64_t Count() const;
  // The nearest-rank value at `percent` (as NearestRank); 0 when empty.
  std::uint32_t Percentile(int percent);

 private:
  void Fold();
  // Ascending values with their counts: a bin of 2^32 attempts would take
  // two years at the tools' cycle.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> counts_;
  std::vector<std::uint32_t> pending_;
};

// A bin of the series, or a gap: a stretch of bins in which nothing
// happened, kept as one entry however long it is (a clock that jumped ten
// years), so that memory and output follow the events, not the time.
struct SeriesBin {
  std::int64_t startSeconds = 0;  // wall clock, seconds since 1970-01-01 UTC
  std::int64_t seconds = 0;       // its width: the series' bin width, or a gap's length
  long long attempts = 0;
  long long successes = 0;
  double ratePercent = 0;   // defined when attempts > 0
  Interval interval{0, 0};  // 95 % Wilson, in percent
  std::int64_t p50Us = 0;   // latency, defined when attempts > 0
  std::int64_t p99Us = 0;
  std::vector<long long> failures;  // per FailureClasses() index; [0] ("none") unused
  int reconnections = 0;            // reconnect events, failed ones included
  int failedReconnections = 0;
  int stops = 0;
  // Attempts made while the R/W was gone: not in `attempts`, nor in the
  // rate or latency; their failure class (port error) is in `failures`.
  long long lossAttempts = 0;
};

// Cochran-Armitage test for a trend in proportions over ordered groups.
struct TrendTest {
  bool defined = false;  // at least two bins with attempts, neither all nor no successes
  double z = 0;          // positive: the rate rises with time
  double p = 1;          // two-sided
};
// Scores are the bins' positions in time; bins without attempts add nothing.
TrendTest CochranArmitage(const std::vector<long long> &successes,
                          const std::vector<long long> &trials, const std::vector<double> &scores);

struct Series {
  std::string label;  // the group: a tag, "-" for untagged, or a file's name
  // Consecutive, from the first bin with an event to the last; a stretch
  // of more than one bin without events is one entry (a gap).
  std::vector<SeriesBin> bins;
  // The spans in which the R/W was gone, wall-clock seconds from and to.
  std::vector<std::pair<std::int64_t, std::int64_t>> lossSpans;
  TrendTest trend;
  std::string trendSentence;  // "rate fell from ... (trend p < 0.001)" or "no trend shown"
};

struct SeriesSet {
  std::int64_t binSeconds = 0;
  bool automatic = false;      // the width was chosen from the span
  std::vector<Series> series;  // by label: "-" first, then tags in ascending order, then names
};

// Collects events into bins as a log is read; with an automatic width the
// bins grow (merging neighbours) to keep at most kMaxAutoBins over the span
// of every group, so memory does not grow with the length of the soak.
class SeriesBuilder {
 public:
  static constexpr int kMaxAutoBins = 120;
  // `binSeconds` 0 chooses the width from the span.
  explicit SeriesBuilder(std::int64_t binSeconds = 0);

  // An attempt made while the R/W was gone (`loss`) counts apart from the
  // card-finding ones.
  void AddAttempt(const std::string &group, std::int64_t wallUs, bool success,
                  std::uint32_t latencyUs, int failureClass, bool loss = false);
  void AddLossSpan(const std::string &group, std::int64_t fromWallUs, std::int64_t toWallUs);
  void AddReconnect(const std::string &group, std::int64_t wallUs, bool ok);
  void AddStop(const std::string &group, std::int64_t wallUs);
  bool Empty() const { return groups_.empty(); }
  SeriesSet Build();

  // Wall-clock times the series can place: from 1970-01-01 to the end of
  // year 9999, in microseconds. Others (a clock set wrong, a monotonic time
  // near 2^63) are left out by the reader and said so.
  static constexpr std::int64_t kLatestWallUs = 253402300799LL * 1000000;
  static bool Placeable(std::int64_t wallUs) { return wallUs >= 0 && wallUs <= kLatestWallUs; }

 private:
  struct Counts {
    long long attempts = 0, successes = 0;
    std::vector<long long> failures;
    ExactHistogram latency;
    int reconnections = 0, failedReconnections = 0, stops = 0;
    long long lossAttempts = 0;
  };
  using Bins = std::map<std::int64_t, Counts>;  // by index: start = index x width
  Counts &BinAt(const std::string &group, std::int64_t wallUs);
  void Widen();
  Series SeriesOf(const std::string &label, Bins &bins) const;

  std::int64_t binSeconds_;
  bool automatic_;
  std::map<std::string, Bins> groups_;
  std::map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> lossSpans_;
  std::int64_t lowIndex_ = 0, highIndex_ = 0;  // over every group
  Counts *last_ = nullptr;                     // the bin found last, with its group and index
  std::string lastGroup_;
  std::int64_t lastIndex_ = 0;
};

// From the start of the earliest bin to the end of the latest, over every
// series; 0 when there is none.
std::int64_t SpanSeconds(const SeriesSet &set);

// The widths an automatic series may take, in seconds, each a multiple of
// the one before.
std::int64_t NextAutoBinWidth(std::int64_t seconds);

// Text, CSV and SVG renderings of the series.
std::string SeriesText(const SeriesSet &set);
// Columns: kSeriesCsvKeys, then one per failure class (snake_case).
std::string SeriesCsv(const SeriesSet &set);
// One chart per series; `index` makes element ids unique on a page.
std::string SeriesSvg(const Series &series, std::int64_t binSeconds, int index);

// A wall-clock time as "2026-12-07T06:40:00Z".
std::string FormatWallClock(std::int64_t seconds);
