// The report as an aligned text table, as CSV tables and as a
// self-contained HTML page with SVG charts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report/comparisons.h"
#include "report/logged_runs.h"
#include "report/run_stats.h"
#include "report/series.h"

// What was asked of the report beyond the figures.
struct ReportRequest {
  double requiredPercent = -1;  // --require; no gate when negative
  double planPercent = -1;      // --plan; no plan when negative
  bool compare = false;         // --compare or --baseline
  std::string baseline;         // empty: every pair
};

// The figures of a group in column order, with two decimals for rates;
// the standard deviation is empty where it is not defined.
constexpr int kFigureCount = 12;
extern const char *const kFigureKeys[kFigureCount];
std::vector<std::string> FigureCells(const GroupStats &group);
std::string Fixed2(double value);
// A required rate as it was written, with at least two decimals: "99.00",
// "99.9999".
std::string RequiredText(double percent);
// Percentages shown beside a required rate: with its decimals and as many
// more as it takes for each value that differs from it to read differently
// (99.999712 against 99.9999, not 100.00), at most 12.
int DecimalsBeside(double requiredPercent, const std::vector<double> &values);
// A number with `decimals` decimals; one that rounds to zero without a sign.
std::string FixedN(double value, int decimals);
// A p-value with four significant digits.
std::string PValue(double p);
// Below this a p-value is shown as a bound: a double may hold smaller ones
// (or 0, when the tail is too thin for it), none of them meaningfully.
constexpr double kSmallestPValue = 1e-300;
// "p = 0.002011", or "p < 1e-300".
std::string PEquals(double p);
// The groups whose failed attempts come from result files without their
// logs, which cannot tell a lost R/W from a card not found, in a sentence;
// empty when there are none.
std::string UnloggedFailuresNote(const Report &report);
// A group's losses in words: "2 spans, 14 attempts, 18.0 s; 1 run wholly
// without the R/W; still gone at the end of its log".
std::string LossText(const GroupStats &group);

// What it means that the runs of `group` disagree, naming it.
std::string DisagreementNote(const GroupStats &group, GroupBy by);

// Where a run's record is: "FILE:LINE:COLUMN".
std::string RunPlace(const RecordedRun &run);

// Takes output part by part, so that the rows of a day of logs never make
// one string; false when it could not be written (writing stops).
using TextSink = std::function<bool(const std::string &)>;

// The table (one row per group and one for all runs), the short runs, the
// groups whose runs disagree, and the verdicts, comparisons and plan asked
// for. Text from files is shown with control characters escaped.
bool WriteTextReport(const Report &report, const ReportRequest &request,
                     const Comparisons &comparisons, const TextSink &write);
// The same as one string.
std::string TextReport(const Report &report, const ReportRequest &request,
                       const Comparisons &comparisons);

// The CSV tables, each with one header line. The per-group table, with the
// gate's columns when a rate is required:
std::string CsvReport(const Report &report, const ReportRequest &request);

// One row per run: the runs the figures count, then those of event logs
// that they do not, with the latencies and one column per failure class.
bool WriteRunsCsv(const Report &report, const LoggedRuns &logged, const TextSink &write);
bool WriteComparisonsCsv(const Comparisons &comparisons, GroupBy by, const TextSink &write);
std::string PlanCsv(const Report &report, double planPercent);

// The failure classes as CSV column names: "no ACK" is no_ack.
std::vector<std::string> FailureColumns();

// The runs of event logs, one row each: where, which, the figures, attempt
// latency (p50, p90, p99, max in ms) and the failure classes.
constexpr int kLoggedRunCellCount = 12;
extern const char *const kLoggedRunKeys[kLoggedRunCellCount];
std::vector<std::string> LoggedRunCells(const LoggedRun &run);

// The runs a reader lists: every one when there are few, else those that
// need a look (LookReasons), with why, and how many are left out.
constexpr std::size_t kRunsListedWhole = 20;
template <typename Run>
struct RunsToList {
  std::vector<std::pair<const Run *, std::string>> listed;  // the run and why it needs a look
  std::size_t fine = 0;                                     // left out: nothing to look at
};
// Of the runs the figures count (loss-only ones last).
RunsToList<RecordedRun> CountedRunsToList(const Report &report);
// Of the runs of the logs, counted or not.
RunsToList<LoggedRun> LoggedRunsToList(const Report &report, const LoggedRuns &logged);

// The runs of the logs as lines of text: each listed one with its
// latencies, failure classes and why it needs a look.
bool WriteLoggedRunsText(const RunsToList<LoggedRun> &runs, const TextSink &write);

// What the page says about the test besides the figures.
struct PageContext {
  std::string title;
  std::string madeAt;                // when the page was made, as text
  std::vector<std::string> sources;  // the input files
  // One entry per event log: what its start events say (tool, version,
  // port, baud rate, ...), as name and value pairs.
  std::vector<std::vector<std::pair<std::string, std::string>>> setups;
  SeriesSet series;  // the soak series of the event logs
};

// A page holding the setup, verdicts, comparisons, the table and charts of
// the rate per group (interval bar with the pooled rate, every run as a
// dot, hollow for a short run), the runs with a chart of attempt latency,
// and the soak series, each a chart with its trend.
std::string HtmlReport(const Report &report, const ReportRequest &request,
                       const Comparisons &comparisons, const LoggedRuns &logged,
                       const PageContext &context);
