// Runs read from result files, grouped by tag, with the figures a person
// compares: pooled success rate with its 95 % interval and the spread of the
// per-run rates.
#pragma once

#include <string>
#include <vector>

#include "poll/result_record.h"

// One run: a record and where it was read.
struct RecordedRun {
  std::string file;
  RecordPosition position;
  ResultRecord record;
  // The run's planned length, from the log's start.attempts_per_run when the
  // run came from a log; 0 unknown.
  int plannedAttempts = 0;
};

struct Interval {
  double low;
  double high;
};

// The 95 % Wilson score interval of a proportion, as fractions 0 to 1.
// An empty sample gives the whole range.
Interval WilsonInterval(long long successes, long long trials);

// A run of a group, with its own rate and whether it is shorter than the
// longest run of its group (cut short by a key, a signal or the failure
// limit, or run with another `t`).
struct RunInGroup {
  const RecordedRun *run;
  double ratePercent;
  bool isShort;
};

struct GroupStats {
  std::string label;  // the tag, "-" for records without tag, "all" for every run
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
  std::vector<RunInGroup> members;
};

struct Report {
  std::vector<GroupStats> tags;  // records without tag first, then tags in ascending order
  GroupStats overall;
};

// Groups the runs by tag and computes every figure. `runs` must outlive
// the report, which points into it.
Report BuildReport(const std::vector<RecordedRun> &runs);
