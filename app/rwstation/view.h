// The station's two views of its readers: the table redrawn on a terminal,
// and plain lines, one per reader per run, for a log that a CI job reads.
#pragma once

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

// A header, one line per reader and a total line, each cut to `columns`
// characters (none cut when 0). When more than `maxLines` lines (0: no
// limit) would be needed, failed readers are shown first and the total line
// says how many readers are left out.
std::vector<std::string> TableLines(const std::vector<ReaderRow> &rows, int columns,
                                    int maxLines = 0);

// The plain line of a reader's run that has just ended.
std::string RunLine(const ReaderRow &row);
// The plain line of a reader that has ended.
std::string EndLine(const ReaderRow &row);
