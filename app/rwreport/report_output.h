// The report as an aligned text table, as CSV and as a self-contained HTML
// page with an SVG chart.
#pragma once

#include <string>
#include <vector>

#include "app/rwreport/logged_runs.h"
#include "app/rwreport/run_stats.h"

// The figures of a group in column order, with two decimals for rates;
// the standard deviation is empty where it is not defined.
constexpr int kFigureCount = 12;
extern const char *const kFigureKeys[kFigureCount];  // also the CSV header
std::vector<std::string> FigureCells(const GroupStats &group);
std::string Fixed2(double value);

// Where a run's record is: "FILE:LINE:COLUMN".
std::string RunPlace(const RecordedRun &run);

// One row per tag and a last row for all runs, then one line per short run.
std::string TextReport(const Report &report);

// A header line and one row per tag and for all runs; the standard
// deviation is empty where it is not defined.
std::string CsvReport(const Report &report);

// The runs of event logs, one row each: where, which, the figures, attempt
// latency (p50, p90, p99, max in ms) and the failure classes.
constexpr int kLoggedRunCellCount = 12;
extern const char *const kLoggedRunKeys[kLoggedRunCellCount];  // also the CSV header
std::vector<std::string> LoggedRunCells(const LoggedRun &run);
std::string LoggedRunsText(const std::vector<LoggedRun> &runs);
std::string LoggedRunsCsv(const std::vector<LoggedRun> &runs);

// A page holding the table and a chart of the success rate per tag with its
// interval and every run as a dot (hollow for a short run). `sources` are the
// result files read.
std::string HtmlReport(const Report &report, const std::vector<LoggedRun> &logged,
                       const std::vector<std::string> &sources);
