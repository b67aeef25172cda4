#include "report/comparisons.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <boost/math/distributions/chi_squared.hpp>

namespace {

// Tables whose probability is within this relative distance of the
// observed one count as equally probable: their log probabilities come
// from different sums of lgamma and differ in the last bits.
constexpr double kRelativeTolerance = 1e-7;

double LogChoose(long long n, long long k) {
  return std::lgamma(static_cast<double>(n) + 1) - std::lgamma(static_cast<double>(k) + 1) -
         std::lgamma(static_cast<double>(n - k) + 1);
}

double Rate(SuccessCount c) {
  return c.attempts > 0 ? static_cast<double>(c.successes) / static_cast<double>(c.attempts) : 0;
}

SuccessCount CountOf(const GroupStats &g) { return SuccessCount{g.successes, g.attempts}; }

}  // namespace

Difference NewcombeDifference(SuccessCount first, SuccessCount second) {
  double p1 = Rate(first), p2 = Rate(second);
  Interval w1 = WilsonInterval(first.successes, first.attempts);
  Interval w2 = WilsonInterval(second.successes, second.attempts);
  double d = p1 - p2;
  return Difference{d, d - std::hypot(p1 - w1.low, w2.high - p2),
                    d + std::hypot(w1.high - p1, p2 - w2.low)};
}

double FisherExactTwoSided(long long a, long long b, long long c, long long d) {
  // The table is taken with the smallest margin as its first row: the
  // probability of a table does not change when rows, columns or both are
  // swapped, and the number of tables to sum is that margin plus one.
  long long row1 = a + b, row2 = c + d, column1 = a + c, column2 = b + d;
  long long smallest = std::min({row1, row2, column1, column2});
  long long n = row1 + row2;
  long long x, r, k;  // x of r successes in the first row, k in the column
  if (smallest == row1) {
    x = a, r = row1, k = column1;
  } else if (smallest == row2) {
    x = c, r = row2, k = column1;
  } else if (smallest == column1) {
    x = a, r = column1, k = row1;
  } else {
    x = b, r = column2, k = row1;
  }
  auto logP = [&](long long i) {
    return LogChoose(r, i) + LogChoose(n - r, k - i) - LogChoose(n, k);
  };
  double observed = logP(x);
  double limit = observed + std::log1p(kRelativeTolerance);
  double sum = 0;  // of the probabilities relative to the observed one, each at most 1
  for (long long i = std::max(0LL, k - (n - r)); i <= std::min(r, k); ++i) {
    double l = logP(i);
    if (l <= limit) sum += std::exp(l - observed);
  }
  return std::min(1.0, std::exp(observed + std::log(sum)));
}

std::vector<double> HolmAdjusted(const std::vector<double> &p) {
  std::vector<std::size_t> order(p.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t i, std::size_t j) { return p[i] < p[j]; });
  std::vector<double> adjusted(p.size());
  double running = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    running = std::max(running, static_cast<double>(p.size() - i) * p[order[i]]);
    adjusted[order[i]] = std::min(1.0, running);
  }
  return adjusted;
}

std::optional<double> HomogeneityPValue(const std::vector<SuccessCount> &runs) {
  long long successes = 0, attempts = 0;
  for (const SuccessCount &r : runs) {
    successes += r.successes;
    attempts += r.attempts;
  }
  if (runs.size() < 2 || successes == 0 || successes == attempts) return std::nullopt;
  double pooled = static_cast<double>(successes) / static_cast<double>(attempts);
  // The sum over both cells of each run, (O - E)^2 / E, is
  // (s - n p)^2 / (n p (1 - p)) per run.
  double statistic = 0;
  for (const SuccessCount &r : runs) {
    double n = static_cast<double>(r.attempts);
    double deviation = static_cast<double>(r.successes) - n * pooled;
    statistic += deviation * deviation / (n * pooled * (1 - pooled));
  }
  boost::math::chi_squared distribution(static_cast<double>(runs.size() - 1));
  return boost::math::cdf(boost::math::complement(distribution, statistic));
}

bool CompareGroups(const Report &report, const std::string &baseline,
                   std::vector<Comparison> *comparisons) {
  const GroupStats *base = nullptr;
  for (const GroupStats &g : report.tags) {
    if (g.label == baseline) base = &g;
  }
  if (!baseline.empty() && !base) return false;
  std::vector<double> p;
  for (std::size_t i = 0; i < report.tags.size(); ++i) {
    for (std::size_t j = i + 1; j < report.tags.size(); ++j) {
      const GroupStats *first = &report.tags[i], *second = &report.tags[j];
      if (base && first != base && second != base) continue;
      if (first == base) std::swap(first, second);  // each group against the baseline
      Difference d = NewcombeDifference(CountOf(*first), CountOf(*second));
      Difference percent{100 * d.estimate, 100 * d.low, 100 * d.high};
      double fisher = FisherExactTwoSided(first->successes, first->attempts - first->successes,
                                          second->successes, second->attempts - second->successes);
      comparisons->push_back(Comparison{first, second, percent, fisher, fisher});
      p.push_back(fisher);
    }
  }
  std::vector<double> adjusted = HolmAdjusted(p);
  for (std::size_t i = 0; i < comparisons->size(); ++i) (*comparisons)[i].pHolm = adjusted[i];
  return true;
}

std::string GroupName(const GroupStats &group, GroupBy by) {
  if (by == GroupBy::kFile || group.label == "all") return group.label;
  if (group.label == "-") return "no tag";
  return "tag " + group.label;
}

std::string ComparisonVerdict(const Comparison &c, GroupBy by) {
  if (c.pHolm >= kComparisonAlpha) return "no difference shown";
  const GroupStats *lower = c.differencePercent.estimate < 0 ? c.first : c.second;
  return GroupName(*lower, by) + " is lower";
}
