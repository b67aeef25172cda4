// Runs read from event logs: each run's figures with the failure classes of
// its attempts and their latencies.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "report/run_stats.h"

// A run's attempt latencies by the nearest-rank method, computed from all
// of its own values when its figures are read (a run has at most 1000
// attempts), so that a day of logs keeps a few numbers per run.
struct LatencySummary {
  int count = 0;  // 0: none known
  std::int64_t minUs = 0, p50Us = 0, p90Us = 0, p99Us = 0, maxUs = 0;
  // The value at 0 (the minimum), 50, 90, 99 or 100 % (the maximum).
  std::int64_t AtPercent(int percent) const;
};
LatencySummary SummarizeLatencies(std::vector<std::int64_t> valuesUs);

// A run of a log: its figures as a result file would hold them (at the line
// of its run event, planned as the start's attempts_per_run says), so that
// the report counts it where it is, without a copy.
struct LoggedRun : RecordedRun {
  std::string tool;
  int run = 0;  // the run's number within its tool's start
  // The input that the start's `result_file` is, whose record of this run
  // counts in its place; -1 when it names none of the inputs.
  int resultInput = -1;
  // From the run's attempt events; empty when they do not match its figures.
  std::map<std::string, int> failures;  // class -> attempts, "none" left out
  LatencySummary latency;
};

// The runs of logs in the order read: a deque, so that the runs of a day of
// logs grow without being copied to ever larger blocks, nor leave the slack
// of one.
using LoggedRuns = std::deque<LoggedRun>;

// True when `text` looks like an event log (its first non-blank character
// opens a JSON object) rather than a result file.
bool LooksLikeEventLog(const std::string &text);

// Reads the runs of one event log held in `text` (see EventLogReader for a
// file read as a stream). A run whose figures are missing (its tool was
// killed) is left out and named in `notes`. Returns false, with `error`
// naming the file and line, for a line that is not a valid event.
bool ParseLoggedRuns(const std::string &text, const std::string &file, std::vector<LoggedRun> *runs,
                     std::vector<std::string> *notes, std::string *error);

// The value at `percent` of `values` by the nearest-rank method: the
// smallest value with at least `percent` % of the values at or below it.
// 0 for no values.
std::int64_t NearestRank(std::vector<std::int64_t> values, int percent);

// The runs from logs as the runs the figures count, for when no result file
// is given.
std::vector<const RecordedRun *> CountedRuns(const LoggedRuns &runs);
