// The station's two views of its readers: the table redrawn on a terminal,
// and plain lines, one per reader per run, for a log that a CI job reads.
// Every text that comes from a plan, a log or a tool is shown with its
// control characters made visible.
#pragma once

#include <climits>
#include <string>
#include <vector>

#include "app/rwstation/plan.h"
#include "report/reader_progress.h"

struct ReaderRow {
  const PlannedReader *reader;
  const ReaderProgress *progress;
};

// "97.18 % [94.03, 98.71]": the rate so far with its 95 % Wilson interval;
// "-" before the first attempt.
std::string RateText(long long successes, long long attempts);

// A duration in whole seconds, short: "45s", "12m05s", "3h02m", "2d03h".
std::string ShortDuration(double seconds);

// The R/W's losses of a reader: "2x 1m35s (140)": how often, for how long
// in all, and the attempts made meanwhile; "" when it never lost it.
std::string LossCell(const ReaderProgress &progress);

// Why a reader failed or stopped, with its control characters made visible;
// for a reader that failed with its R/W gone, since when: "lost R/W (since
// 14:02, 2nd time)".
std::string CauseText(const ReaderProgress &progress);

// The state as the views show it: "polling", "lost R/W (since 14:02, 2nd
// time)", "failed (cannot open /dev/x: ...)".
std::string StateText(const ReaderProgress &progress);

// For a terminal whose size is not known.
constexpr int kNoLimit = INT_MAX;

// A header, one line per reader and a total line, at most `columns`
// characters each and at most `maxLines` lines (at least the total line).
// What does not fit is left out whole: columns in a fixed order (port,
// marks, runs, failures, R/W lost, attempts, state, rate), never part of a
// figure; then readers, failed readers shown first, the total line saying
// how many are left out; then the header.
std::vector<std::string> TableLines(const std::vector<ReaderRow> &rows, int columns,
                                    int maxLines = kNoLimit);

// The plain line of a reader's run that has just ended.
std::string RunLine(const ReaderRow &row);
// The plain line of a reader whose tool has ended.
std::string EndLine(const ReaderRow &row);
