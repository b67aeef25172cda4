#include "report/run_stats.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "report/comparisons.h"

namespace {

// The two-sided 95 % quantile of the standard normal distribution.
constexpr double kZ95 = 1.959963984540054;

double RunPercent(const RecordedRun &run) {
  return 100.0 * run.record.successes / run.CardFindingAttempts();
}

void AddTotals(GroupStats &group) {
  group.runs = static_cast<int>(group.members.size());
  for (const RunInGroup &m : group.members) {
    group.attempts += m.run->CardFindingAttempts();
    group.successes += m.run->record.successes;
  }
  if (group.attempts > 0) {
    group.pooledPercent = 100.0 * static_cast<double>(group.successes) / group.attempts;
  }
  Interval w = WilsonInterval(group.successes, group.attempts);
  group.interval = Interval{100.0 * w.low, 100.0 * w.high};
}

void AddSpread(GroupStats &group) {
  if (group.members.empty()) return;
  double sum = 0;
  group.minPercent = group.maxPercent = group.members.front().ratePercent;
  for (const RunInGroup &m : group.members) {
    sum += m.ratePercent;
    group.minPercent = std::min(group.minPercent, m.ratePercent);
    group.maxPercent = std::max(group.maxPercent, m.ratePercent);
  }
  group.meanPercent = sum / group.runs;
  group.sdDefined = group.runs > 1;
  if (!group.sdDefined) return;
  double squares = 0;
  for (const RunInGroup &m : group.members) {
    squares += (m.ratePercent - group.meanPercent) * (m.ratePercent - group.meanPercent);
  }
  group.sdPercent = std::sqrt(squares / (group.runs - 1));
}

// A run is short against its planned length when known, else against the
// longest run of its group in its own file: files written with different
// `t` may share tags without flagging each other's runs.
void FlagShortRuns(GroupStats &group) {
  std::map<std::string, int> longestOfFile;
  for (const RunInGroup &m : group.members) {
    int &longest = longestOfFile[m.run->file];
    longest = std::max(longest, m.run->record.attempts);
  }
  for (RunInGroup &m : group.members) {
    int planned = m.run->plannedAttempts;
    int expected = planned > 0 ? planned : longestOfFile[m.run->file];
    m.expectedAttempts = expected;
    m.isShort = m.run->record.attempts < expected;
    if (m.isShort) ++group.shortRuns;
  }
}

// The runs of a disagreeing group whose rate lies beyond chance from the
// pooled one: (s - n p) / sqrt(n p (1 - p)) is about standard normal for a
// run that agrees; two-sided p below 0.01 / k, k the group's runs.
void FlagOutliers(GroupStats &group) {
  double pooled = static_cast<double>(group.successes) / static_cast<double>(group.attempts);
  double limit = kDisagreeingRunsP / static_cast<double>(group.members.size());
  for (RunInGroup &m : group.members) {
    double n = static_cast<double>(m.run->CardFindingAttempts());
    double z = (m.run->record.successes - n * pooled) / std::sqrt(n * pooled * (1 - pooled));
    m.outlier = std::erfc(std::fabs(z) / std::sqrt(2.0)) < limit;
  }
}

void TestHomogeneity(GroupStats &group) {
  std::vector<SuccessCount> counts;
  for (const RunInGroup &m : group.members) {
    counts.push_back(SuccessCount{m.run->record.successes, m.run->CardFindingAttempts()});
  }
  std::optional<double> p = HomogeneityPValue(counts);
  group.homogeneityDefined = p.has_value();
  if (!p) return;
  group.homogeneityP = *p;
  group.runsDisagree = group.homogeneityP < kDisagreeingRunsP;
  if (group.runsDisagree) FlagOutliers(group);
}

void Finish(GroupStats &group) {
  AddTotals(group);
  AddSpread(group);
  TestHomogeneity(group);
}

// The key that orders a group: by tag, records without tag first (tags are
// never negative); by file, the order in which the files come.
struct GroupKey {
  long long order;
  std::string label;
};

class Grouping {
 public:
  Grouping(GroupBy by, const GroupingContext &context) : by_(by), context_(context) {}

  GroupStats &Of(const RecordedRun &run) {
    if (by_ == GroupBy::kTag) {
      return At(run.record.tagged ? run.record.tag : -1,
                run.record.tagged ? std::to_string(run.record.tag) : "-");
    }
    auto label = context_.fileLabels.find(run.file);
    return At(fileOrder_.emplace(run.file, static_cast<long long>(fileOrder_.size())).first->second,
              label != context_.fileLabels.end() ? label->second : FileLabel(run.file));
  }

  // The group of a label that has losses: a tag's, or with files one
  // already made (else a new one after them).
  GroupStats &OfLabel(const std::string &label) {
    for (auto &entry : groups_) {
      if (entry.second.label == label) return entry.second;
    }
    bool tag = by_ == GroupBy::kTag && label.find_first_not_of("0123456789") == std::string::npos &&
               label.size() < 10;
    long long order = by_ == GroupBy::kTag ? (tag ? std::stoll(label) : -1)
                                           : static_cast<long long>(1) << 40 | groups_.size();
    return At(order, label);
  }

  std::vector<GroupStats> Take() {
    std::vector<GroupStats> out;
    for (auto &entry : groups_) out.push_back(std::move(entry.second));
    return out;
  }

 private:
  GroupStats &At(long long order, const std::string &label) {
    GroupStats &group = groups_[order];
    group.label = label;
    return group;
  }

  GroupBy by_;
  const GroupingContext &context_;
  std::map<long long, GroupStats> groups_;
  std::map<std::string, long long> fileOrder_;
};

// The groups in report order with their runs, and their losses.
std::vector<GroupStats> Group(const std::vector<const RecordedRun *> &runs, GroupBy by,
                              const GroupingContext &context) {
  Grouping grouping(by, context);
  for (const RecordedRun *run : runs) {
    GroupStats &group = grouping.Of(*run);
    if (run->CardFindingAttempts() > 0) {
      group.members.push_back(RunInGroup{run, RunPercent(*run), false, 0});
    } else {
      group.lossOnlyRuns.push_back(run);
    }
  }
  for (const auto &[label, losses] : context.losses) grouping.OfLabel(label).losses = losses;
  return grouping.Take();
}

// A required rate as the fraction it was written as: r = units / whole,
// whole a power of ten. 99.99 % is 9999 / 10000: the double nearest 99.99
// is not it, and near the requirement that difference is all there is.
struct ExactRate {
  double units;
  double whole;
};

// The shortest decimal, of at most nine places, that reads as `percent`.
ExactRate DecimalRate(double percent) {
  double scale = std::pow(10.0, DecimalPlaces(percent));
  return ExactRate{std::round(percent * scale), 100 * scale};
}

// a x b as a value and its rounding error, together exact.
struct ExactProduct {
  double high, low;
};
ExactProduct Multiply(double a, double b) {
  double high = a * b;
  return ExactProduct{high, std::fma(a, b, -high)};
}

// How far the successes lie above the required rate, in units of
// 1 / rate.whole of an attempt: whole s - units n = whole n (p - r). Both
// products are kept exact, so that the difference keeps its digits however
// close the rate is to the requirement (while s and n are below 2^53).
double ExcessSuccesses(long long successes, long long attempts, ExactRate rate) {
  ExactProduct have = Multiply(rate.whole, static_cast<double>(successes));
  ExactProduct want = Multiply(rate.units, static_cast<double>(attempts));
  return (have.high - want.high) + (have.low - want.low);
}

// The largest count a long long holds, as a double (2^63): a need at or
// above it cannot be counted.
constexpr double kCountLimit = 9223372036854775808.0;

}  // namespace

Interval WilsonInterval(long long successes, long long trials) {
  if (trials <= 0) return Interval{0, 1};
  double n = static_cast<double>(trials);
  double p = static_cast<double>(successes) / n;
  double z2 = kZ95 * kZ95;
  double denominator = 1 + z2 / n;
  double centre = (p + z2 / (2 * n)) / denominator;
  double half = kZ95 / denominator * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  return Interval{std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

Report BuildReport(const std::vector<RecordedRun> &runs, GroupBy by) {
  std::vector<const RecordedRun *> pointers;
  pointers.reserve(runs.size());
  for (const RecordedRun &run : runs) pointers.push_back(&run);
  return BuildReport(pointers, by);
}

Report BuildReport(const std::vector<const RecordedRun *> &runs, GroupBy by,
                   const GroupingContext &context) {
  Report report;
  report.by = by;
  report.overall.label = "all";
  for (GroupStats &group : Group(runs, by, context)) {
    FlagShortRuns(group);
    Finish(group);
    report.overall.shortRuns += group.shortRuns;
    report.overall.members.insert(report.overall.members.end(), group.members.begin(),
                                  group.members.end());
    report.overall.lossOnlyRuns.insert(report.overall.lossOnlyRuns.end(),
                                       group.lossOnlyRuns.begin(), group.lossOnlyRuns.end());
    report.overall.losses.Add(group.losses);
    report.tags.push_back(std::move(group));
  }
  Finish(report.overall);
  // Groups are different setups on purpose: their disagreement is what the
  // comparisons measure, not a fault of the pooled interval.
  report.overall.homogeneityDefined = report.overall.runsDisagree = false;
  return report;
}

std::string CountOf(long long n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string LookReasons(const RunInGroup &m) {
  std::vector<std::string> reasons;
  const RecordedRun &run = *m.run;
  if (run.record.successes == 0) reasons.push_back("no card found");
  if (m.isShort) reasons.push_back("short");
  if (run.lossAttempts > 0) {
    reasons.push_back("R/W gone for " + CountOf(run.lossAttempts, "attempt", "attempts"));
  }
  if (m.outlier) reasons.push_back("rate far from its group's");
  std::string out;
  for (const std::string &reason : reasons) out += (out.empty() ? "" : "; ") + reason;
  return out;
}

std::string LossOnlyReason(const RecordedRun &run) {
  return run.record.attempts == 1
             ? "R/W gone for its one attempt"
             : "R/W gone for all " + std::to_string(run.record.attempts) + " attempts";
}

void GroupLosses::Add(const GroupLosses &other) {
  spans += other.spans;
  attempts += other.attempts;
  seconds += other.seconds;
  goneAtEnd = goneAtEnd || other.goneAtEnd;
}

int DecimalPlaces(double percent) {
  double scale = 1;
  int places = 0;
  for (; places < 9; ++places, scale *= 10) {
    if (std::round(percent * scale) / scale == percent) break;
  }
  return places;
}

const char *VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass: return "pass";
    case Verdict::kFail: return "fail";
    case Verdict::kUndecided: break;
  }
  return "undecided";
}

GateResult ApplyGate(const GroupStats &group, double requiredPercent) {
  GateResult result{Verdict::kUndecided, AttemptsPlan{}, 0};
  if (group.interval.low >= requiredPercent) {
    result.verdict = Verdict::kPass;
  } else if (group.interval.high < requiredPercent) {
    result.verdict = Verdict::kFail;
  }
  if (group.attempts == 0) return result;
  result.toPass = AttemptsToShow(group.successes, group.attempts, requiredPercent);
  if (result.toPass.reach == Reach::kAttempts) {
    result.moreAttempts = std::max(0LL, result.toPass.attempts - group.attempts);
  }
  return result;
}

AttemptsPlan AttemptsToShow(long long successes, long long attempts, double requiredPercent) {
  ExactRate rate = DecimalRate(requiredPercent);
  double excess = ExcessSuccesses(successes, attempts, rate);
  if (!(excess > 0)) return AttemptsPlan{Reach::kNotAbove, 0};
  // z^2 r (1 - r) / (p - r)^2 with r = units / whole and
  // p - r = excess / (whole n): z^2 units (whole - units) (n / excess)^2.
  double ratio = static_cast<double>(attempts) / excess;
  double needed = kZ95 * kZ95 * rate.units * (rate.whole - rate.units) * ratio * ratio;
  if (!(needed < kCountLimit)) return AttemptsPlan{Reach::kBeyondCounting, 0};
  return AttemptsPlan{Reach::kAttempts, std::max(1LL, static_cast<long long>(std::ceil(needed)))};
}
