#include "app/rwreport/run_stats.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// The two-sided 95 % quantile of the standard normal distribution.
constexpr double kZ95 = 1.959963984540054;

double RunPercent(const RecordedRun &run) {
  return 100.0 * run.record.successes / run.record.attempts;
}

void AddTotals(GroupStats &group) {
  group.runs = static_cast<int>(group.members.size());
  for (const RunInGroup &m : group.members) {
    group.attempts += m.run->record.attempts;
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

void FlagShortRuns(GroupStats &group) {
  int longest = 0;
  for (const RunInGroup &m : group.members) longest = std::max(longest, m.run->record.attempts);
  for (RunInGroup &m : group.members) {
    m.isShort = m.run->record.attempts < longest;
    if (m.isShort) ++group.shortRuns;
  }
}

void Finish(GroupStats &group) {
  AddTotals(group);
  AddSpread(group);
}

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

Report BuildReport(const std::vector<RecordedRun> &runs) {
  // Records without tag sort before every tag, since tags are never negative.
  std::map<long long, GroupStats> byTag;
  Report report;
  report.overall.label = "all";
  for (const RecordedRun &run : runs) {
    long long key = run.record.tagged ? run.record.tag : -1;
    GroupStats &group = byTag[key];
    group.label = run.record.tagged ? std::to_string(run.record.tag) : "-";
    group.members.push_back(RunInGroup{&run, RunPercent(run), false});
  }
  for (auto &entry : byTag) {
    GroupStats &group = entry.second;
    FlagShortRuns(group);
    Finish(group);
    report.overall.shortRuns += group.shortRuns;
    report.overall.members.insert(report.overall.members.end(), group.members.begin(),
                                  group.members.end());
    report.tags.push_back(std::move(group));
  }
  Finish(report.overall);
  return report;
}
