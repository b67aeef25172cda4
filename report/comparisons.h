// Tests that decide between groups of runs: the difference of two pooled
// rates with its interval, Fisher's exact test, Holm's adjustment over
// several comparisons, and whether the runs of one group agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/run_stats.h"

struct SuccessCount {
  long long successes;
  long long attempts;
};

// p1 - p2 with its 95 % interval by Newcombe's hybrid score method (his
// method 10) from the two Wilson intervals, as fractions.
struct Difference {
  double estimate;
  double low;
  double high;
};
Difference NewcombeDifference(SuccessCount first, SuccessCount second);

// The two-sided p-value of Fisher's exact test on the 2x2 table
// [[a, b], [c, d]]: the probability, under fixed margins, of every table no
// more probable than this one.
double FisherExactTwoSided(long long a, long long b, long long c, long long d);

// Holm's step-down adjustment of `p`, in the same order.
std::vector<double> HolmAdjusted(const std::vector<double> &p);

// The p-value of the chi-square test of homogeneity of the runs' success
// rates (k runs, k - 1 degrees of freedom). None for fewer than two runs, or
// when no attempt failed or none succeeded: every run then has the same
// rate, the statistic is 0 over 0, and there is nothing to test.
std::optional<double> HomogeneityPValue(const std::vector<SuccessCount> &runs);

constexpr double kComparisonAlpha = 0.05;

// Group `first` against group `second`: rates as pooled, the difference
// first - second in percent, Fisher's p-value raw and adjusted by Holm over
// every comparison made.
struct Comparison {
  const GroupStats *first;
  const GroupStats *second;
  Difference differencePercent;
  double p;
  double pHolm;
};

// The comparisons made among a report's groups: every pair in report order,
// or each other group against a baseline; groups without a card-finding
// attempt are left out. Only the pairs and their p-values
// are kept (Holm's adjustment needs them all); the rest of a comparison is
// computed when it is read, so that 2,000 groups (2 million pairs) take
// tens of MB, not hundreds.
class Comparisons {
 public:
  // `baseline` empty: every pair. Otherwise the group of that label; with
  // groups named by file, a name that ends more than one label ("unit1" for
  // monday/unit1 and tuesday/unit1) is refused, naming them. False with the
  // reason when there is no such group. `report` must outlive this.
  [[nodiscard]] bool Make(const Report &report, const std::string &baseline, std::string *error);
  std::size_t Size() const { return pairs_.size(); }
  bool Empty() const { return pairs_.empty(); }
  Comparison operator[](std::size_t index) const;

 private:
  const Report *report_ = nullptr;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;  // indices into report.tags
  std::vector<double> p_, pHolm_;
};

// "tag 3 is lower" (by Holm's p at 5 %) or "no difference shown".
std::string ComparisonVerdict(const Comparison &comparison, GroupBy by);

// "tag 3", "no tag", or the file name when groups are files.
std::string GroupName(const GroupStats &group, GroupBy by);
