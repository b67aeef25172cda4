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
  // The order as 32-bit indices: 2,000 groups make 2 million comparisons.
  std::vector<std::uint32_t> order(p.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t i, std::uint32_t j) { return p[i] < p[j]; });
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

namespace {

// The group a baseline names: its label, or with groups named by file the
// one label it ends (after a folder).
const GroupStats *FindBaseline(const Report &report, const std::string &baseline,
                               std::string *error) {
  std::vector<const GroupStats *> ending;
  for (const GroupStats &g : report.tags) {
    if (g.label == baseline) return &g;
    const std::string &label = g.label;
    if (report.by == GroupBy::kFile && label.size() > baseline.size() &&
        label.compare(label.size() - baseline.size(), baseline.size(), baseline) == 0 &&
        label[label.size() - baseline.size() - 1] == '/') {
      ending.push_back(&g);
    }
  }
  if (ending.size() == 1) return ending.front();
  if (ending.empty()) {
    *error = "no group " + baseline + " to compare with";
    return nullptr;
  }
  *error = "--baseline " + baseline + " names more than one group: ";
  for (std::size_t i = 0; i < ending.size(); ++i) {
    *error += (i == 0 ? "" : i + 1 == ending.size() ? " or " : ", ") + ending[i]->label;
  }
  return nullptr;
}

}  // namespace

bool Comparisons::Make(const Report &report, const std::string &baseline, std::string *error) {
  report_ = &report;
  pairs_.clear();
  const GroupStats *base = nullptr;
  if (!baseline.empty() && !(base = FindBaseline(report, baseline, error))) return false;
  const std::vector<GroupStats> &groups = report.tags;
  // A group without a card-finding attempt has no rate to compare.
  for (std::uint32_t i = 0; i < groups.size(); ++i) {
    for (std::uint32_t j = i + 1; j < groups.size(); ++j) {
      if (base && &groups[i] != base && &groups[j] != base) continue;
      if (groups[i].attempts == 0 || groups[j].attempts == 0) continue;
      // Each group against the baseline, which comes second.
      pairs_.emplace_back(&groups[i] == base ? j : i, &groups[i] == base ? i : j);
    }
  }
  p_.clear();
  p_.reserve(pairs_.size());
  for (const auto &[first, second] : pairs_) {
    const GroupStats &a = groups[first], &b = groups[second];
    p_.push_back(FisherExactTwoSided(a.successes, a.attempts - a.successes, b.successes,
                                     b.attempts - b.successes));
  }
  pHolm_ = HolmAdjusted(p_);
  return true;
}

Comparison Comparisons::operator[](std::size_t index) const {
  const GroupStats &first = report_->tags[pairs_[index].first];
  const GroupStats &second = report_->tags[pairs_[index].second];
  Difference d = NewcombeDifference(CountOf(first), CountOf(second));
  return Comparison{&first, &second, Difference{100 * d.estimate, 100 * d.low, 100 * d.high},
                    p_[index], pHolm_[index]};
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
