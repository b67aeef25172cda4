// Runs read from result files, grouped by tag, with the figures a person
// compares: pooled success rate with its 95 % interval and the spread of the
// per-run rates.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "poll/result_record.h"
#include "report/group_labels.h"

struct LoggedRun;

// One run: a record and where it was read.
struct RecordedRun {
  std::string file;
  RecordPosition position;
  ResultRecord record;
  // The run's planned length (the tool's `t`) when known, as a log says it;
  // 0 when unknown.
  int plannedAttempts = 0;
  // Of its attempts, those made while the R/W was gone (as its log tells;
  // a result file alone cannot): they are not card finding, and count
  // apart as the R/W's losses.
  int lossAttempts = 0;
  // The run as its event log told it, when one did: its latencies and
  // failure classes.
  const LoggedRun *log = nullptr;

  int CardFindingAttempts() const { return record.attempts - lossAttempts; }
};

struct Interval {
  double low;
  double high;
};

// The 95 % Wilson score interval of a proportion, as fractions 0 to 1.
// An empty sample gives the whole range.
Interval WilsonInterval(long long successes, long long trials);

// A run of a group, with its own rate and whether it is short: shorter than
// its planned length when that is known, else than the longest run of its
// group in its own input file (cut short by a key, a signal or the failure
// limit).
struct RunInGroup {
  const RecordedRun *run;
  double ratePercent;  // of its card-finding attempts
  bool isShort;
  int expectedAttempts;  // its planned length, or its file's longest run of the group
  // In a group whose runs disagree, a run whose own rate lies beyond chance
  // from the group's: its standardized residual's two-sided p below 0.01
  // over the group's runs (Bonferroni).
  bool outlier = false;
};

// "1 run", "3 runs".
std::string CountOf(long long n, const char *one, const char *many);

// Why a run needs a look, "" when it does not: no card found at all,
// shorter than planned, attempts made while the R/W was gone, a rate far
// from its group's. Reasons are joined by "; ".
std::string LookReasons(const RunInGroup &run);
// The same for a run whose every attempt was made while the R/W was gone.
std::string LossOnlyReason(const RecordedRun &run);

// The R/W's losses of a group: the spans of its logs in which the R/W was
// gone (rwloss::LossTracker).
struct GroupLosses {
  int spans = 0;
  long long attempts = 0;  // made during them
  double seconds = 0;
  bool goneAtEnd = false;  // a log of the group ended with its R/W gone
  void Add(const GroupLosses &other);
};

struct GroupStats {
  // The tag ("-" for records without tag) or the input file's label
  // (UniqueFileLabels), "all" for every run.
  std::string label;
  // The figures are of card finding: the runs with at least one attempt
  // made while the R/W was there, their successes over those attempts.
  int runs = 0;
  long long attempts = 0;
  long long successes = 0;
  double pooledPercent = 0;  // all successes over all attempts
  Interval interval{0, 0};   // in percent
  double meanPercent = 0;    // of the per-run rates
  double sdPercent = 0;      // sample standard deviation; not defined for one run
  bool sdDefined = false;
  double minPercent = 0;
  double maxPercent = 0;
  int shortRuns = 0;
  // The chi-square test of homogeneity over the runs' successes and
  // failures; not defined for one run, nor when no attempt failed or none
  // succeeded (HomogeneityPValue). Runs that disagree (p below
  // kDisagreeingRunsP) make the pooled interval too narrow.
  double homogeneityP = 1;
  bool homogeneityDefined = false;
  bool runsDisagree = false;
  std::vector<RunInGroup> members;
  // Runs whose every attempt was made while the R/W was gone: they say
  // nothing of card finding and are not in the figures.
  std::vector<const RecordedRun *> lossOnlyRuns;
  GroupLosses losses;
};

constexpr double kDisagreeingRunsP = 0.01;

enum class GroupBy { kTag, kFile };

struct Report {
  GroupBy by = GroupBy::kTag;
  std::vector<GroupStats> tags;  // records without tag first, then tags in ascending order
  GroupStats overall;
};

// What the reading of the inputs adds to the runs: with GroupBy::kFile the
// label of each file (else FileLabel), and the R/W's losses of each group
// by its label (a group may have losses and no run).
struct GroupingContext {
  std::map<std::string, std::string> fileLabels;
  std::map<std::string, GroupLosses> losses;
};

// Groups the runs by tag, or by input file in the order the files come, and
// computes every figure. `runs` must outlive the report, which points into
// it.
Report BuildReport(const std::vector<RecordedRun> &runs, GroupBy by = GroupBy::kTag);
// The same over runs held elsewhere (those of event logs).
Report BuildReport(const std::vector<const RecordedRun *> &runs, GroupBy by = GroupBy::kTag,
                   const GroupingContext &context = GroupingContext());

// The requirement gate: from the pooled 95 % interval, `kPass` when its
// lower bound reaches the required rate, `kFail` when its upper bound is
// below it, `kUndecided` otherwise.
enum class Verdict { kPass, kFail, kUndecided };
const char *VerdictName(Verdict verdict);

// Whether some number of attempts at an observed rate shows a required one.
enum class Reach {
  kAttempts,        // this many do
  kNotAbove,        // none: the rate is not above the requirement
  kBeyondCounting,  // more than a 64-bit count holds (2^63 - 1)
};

struct AttemptsPlan {
  Reach reach = Reach::kNotAbove;
  long long attempts = 0;  // with kAttempts, at least 1
};

// The smallest number of attempts n whose Wilson lower bound, at the
// observed rate p = successes / attempts, reaches r = requiredPercent / 100:
// the bound meets r where n (p - r)^2 = z^2 r (1 - r), so
// n = ceil(z^2 r (1 - r) / (p - r)^2). For p = 1 it is the smallest n with
// n / (n + z^2) >= r. r is taken as the decimal that requiredPercent was
// written as (up to nine places), and p - r from the counts without
// rounding while they stay below 2^53, so that a rate barely above the
// requirement keeps its distance: n is then as exact as a double (about 16
// digits).
AttemptsPlan AttemptsToShow(long long successes, long long attempts, double requiredPercent);

struct GateResult {
  Verdict verdict = Verdict::kUndecided;
  // The attempts a run at the group's observed rate needs in all for a
  // pass (AttemptsToShow), and, when they can be counted, how many more
  // than it has.
  AttemptsPlan toPass;
  long long moreAttempts = 0;
};
GateResult ApplyGate(const GroupStats &group, double requiredPercent);

// The decimal places of the shortest decimal (at most nine places) that
// reads as `percent`: 2 for 99.25, 4 for 99.9999.
int DecimalPlaces(double percent);
