#include "report/report_output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "report/csv_cells.h"
#include "report/log_event.h"

namespace {

struct Column {
  const char *heading;
  int width;
};

const Column kColumns[] = {{"tag", 6},     {"runs", 5},   {"attempts", 9}, {"successes", 10},
                           {"rate%", 8},   {"95%low", 8}, {"95%high", 8},  {"mean%", 8},
                           {"sd%", 8},     {"min%", 8},   {"max%", 8},     {"short", 6},
                           {"verdict", 10}};

std::string AlignedLine(const std::vector<std::string> &cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string cell = cells[i].empty() ? std::string("-") : Printable(cells[i]);
    int pad = kColumns[i].width - static_cast<int>(cell.size());
    if (i == 0) {
      line += cell + std::string(pad > 0 ? pad : 0, ' ');
    } else {
      line += std::string(pad > 0 ? pad : 0, ' ') + " " + cell;
    }
  }
  return line + "\n";
}

bool Gated(const ReportRequest &request) { return request.requiredPercent >= 0; }

// The table's rows, with the verdict as a last column when a rate is
// required; the row of all runs gets none (its groups are different setups).
std::vector<std::string> TextRow(const GroupStats &g, const ReportRequest &request, bool overall) {
  std::vector<std::string> cells = FigureCells(g);
  if (Gated(request)) {
    cells.push_back(overall ? "" : VerdictName(ApplyGate(g, request.requiredPercent).verdict));
  }
  return cells;
}

std::string Table(const Report &report, const ReportRequest &request) {
  std::vector<std::string> headings;
  for (const Column &c : kColumns) headings.push_back(c.heading);
  if (report.by == GroupBy::kFile) headings[0] = "file";
  if (!Gated(request)) headings.pop_back();
  std::string out = AlignedLine(headings);
  for (const GroupStats &g : report.tags) out += AlignedLine(TextRow(g, request, false));
  return out + AlignedLine(TextRow(report.overall, request, true));
}

// "short run: tag 3, results.csv:2:2: 45 of 100 attempts made, 41 successes".
std::string ShortRunLines(const Report &report) {
  std::string out;
  for (const GroupStats &g : report.tags) {
    for (const RunInGroup &m : g.members) {
      if (!m.isShort) continue;
      out += "short run: " + Printable(GroupName(g, report.by)) + ", " +
             Printable(RunPlace(*m.run)) + ": " + std::to_string(m.run->record.attempts) + " of " +
             std::to_string(m.expectedAttempts) + " attempts made, " +
             CountOf(m.run->record.successes, "success", "successes") + "\n";
    }
  }
  return out;
}

// The R/W's losses of each group that had any, apart from the figures.
std::string LossLines(const Report &report) {
  std::string out;
  for (const GroupStats &g : report.tags) {
    if (g.losses.spans == 0 && g.lossOnlyRuns.empty()) continue;
    out += "  " + Printable(GroupName(g, report.by)) + ": " + LossText(g) + "\n";
  }
  if (out.empty()) return out;
  return "R/W losses (attempts made while the R/W was gone, not counted as card finding):\n" + out;
}

std::string UnloggedFailuresLine(const Report &report) {
  std::string note = UnloggedFailuresNote(report);
  return note.empty() ? "" : "note: " + Printable(note) + "\n";
}

std::string DisagreementLines(const Report &report) {
  std::string out;
  for (const GroupStats &g : report.tags) {
    if (g.runsDisagree) out += "runs disagree: " + Printable(DisagreementNote(g, report.by)) + "\n";
  }
  return out;
}

std::string GateLine(const GroupStats &g, const ReportRequest &request, GroupBy by) {
  GateResult gate = ApplyGate(g, request.requiredPercent);
  if (g.attempts == 0) {
    return "  " + Printable(GroupName(g, by)) + ": " + VerdictName(gate.verdict) +
           ": no card-finding attempt (" + LossText(g) + ")\n";
  }
  int decimals =
      DecimalsBeside(request.requiredPercent, {g.interval.low, g.interval.high, g.pooledPercent});
  auto percent = [decimals](double value) { return FixedN(value, decimals) + " %"; };
  std::string out = "  " + Printable(GroupName(g, by)) + ": " + VerdictName(gate.verdict) + " (" +
                    percent(g.interval.low) + " to " + percent(g.interval.high) + ")";
  if (gate.verdict != Verdict::kUndecided) return out + "\n";
  switch (gate.toPass.reach) {
    case Reach::kNotAbove:
      return out + "; its rate of " + percent(g.pooledPercent) + " is " +
             (g.pooledPercent < request.requiredPercent ? "below" : "not above") +
             " the required " + RequiredText(request.requiredPercent) +
             " %, so more attempts cannot show it\n";
    case Reach::kBeyondCounting:
      return out + "; at its rate of " + percent(g.pooledPercent) +
             " a pass needs more attempts than can be counted\n";
    case Reach::kAttempts: break;
  }
  return out + "; a pass needs " + std::to_string(gate.toPass.attempts) +
         " attempts at its rate of " + percent(g.pooledPercent) + ", " +
         std::to_string(gate.moreAttempts) + " more\n";
}

std::string GateSection(const Report &report, const ReportRequest &request) {
  std::string out = "\nverdicts for a required " + RequiredText(request.requiredPercent) +
                    " % (95 % Wilson interval of the pooled rate):\n";
  for (const GroupStats &g : report.tags) out += GateLine(g, request, report.by);
  return out + "  all: no verdict (the groups are different setups)\n";
}

// What the comparisons' heading says of Holm's adjustment: nothing to
// adjust for a single one.
std::string ComparisonsHeading(std::size_t count) {
  if (count == 0) return "\ncomparisons: none (fewer than two groups with card-finding attempts)\n";
  std::string intro =
      "\n" + CountOf(static_cast<long long>(count), "comparison", "comparisons") +
      " (difference of pooled rates with its 95 % Newcombe interval; Fisher's exact p";
  if (count == 1) return intro + ", which Holm's adjustment leaves as it is for one):\n";
  return intro + ", and Holm's over all " + std::to_string(count) + "):\n";
}

bool WriteComparisonSection(const Comparisons &comparisons, GroupBy by, const TextSink &write) {
  if (!write(ComparisonsHeading(comparisons.Size()))) return false;
  for (std::size_t i = 0; i < comparisons.Size(); ++i) {
    Comparison c = comparisons[i];
    if (!write("  " + Printable(GroupName(*c.first, by)) + " - " +
               Printable(GroupName(*c.second, by)) + ": " + Fixed2(c.differencePercent.estimate) +
               " (" + Fixed2(c.differencePercent.low) + " to " + Fixed2(c.differencePercent.high) +
               ") points, " + PEquals(c.p) + ", Holm " + PEquals(c.pHolm) + ": " +
               Printable(ComparisonVerdict(c, by)) + "\n")) {
      return false;
    }
  }
  return true;
}

AttemptsPlan NeverFailing(double planPercent) { return AttemptsToShow(1, 1, planPercent); }

AttemptsPlan PlanOf(const GroupStats &g, double planPercent) {
  return AttemptsToShow(g.successes, g.attempts, planPercent);
}

// A plan's attempts, and how many more than `has`, as cells: empty when no
// number can be given.
std::string PlannedCell(const AttemptsPlan &plan) {
  return plan.reach == Reach::kAttempts ? std::to_string(plan.attempts) : "";
}
std::string MoreCell(const AttemptsPlan &plan, long long has) {
  return plan.reach == Reach::kAttempts ? std::to_string(std::max(0LL, plan.attempts - has)) : "";
}

// A plan in words: the attempts (and how many more than `has`), or why none
// is given.
std::string PlanText(const AttemptsPlan &plan, long long has) {
  switch (plan.reach) {
    case Reach::kNotAbove: return "none (the rate is not above it)";
    case Reach::kBeyondCounting:
      return "beyond what can be counted (more than " +
             std::to_string(std::numeric_limits<long long>::max()) + ")";
    case Reach::kAttempts: break;
  }
  if (has < 0) return PlannedCell(plan);
  return PlannedCell(plan) + " (" + MoreCell(plan, has) + " more than it has)";
}

std::string PlanSection(const Report &report, double planPercent) {
  std::string out =
      "\nattempts whose 95 % Wilson lower bound reaches " + RequiredText(planPercent) + " %" +
      ":\n  an R/W that never fails: " + PlanText(NeverFailing(planPercent), -1) + "\n";
  for (const GroupStats &g : report.tags) {
    if (g.attempts == 0) {
      out += "  " + Printable(GroupName(g, report.by)) + ": no card-finding attempt\n";
      continue;
    }
    int decimals = DecimalsBeside(planPercent, {g.pooledPercent});
    out += "  " + Printable(GroupName(g, report.by)) + " at its rate of " +
           FixedN(g.pooledPercent, decimals) +
           " %: " + PlanText(PlanOf(g, planPercent), g.attempts) + "\n";
  }
  return out;
}

// A group's losses as CSV cells: spans, attempts, seconds, runs wholly
// without the R/W, and whether it was gone at the end (1 or 0).
std::vector<std::string> LossCells(const GroupStats &g) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", g.losses.seconds);
  return {std::to_string(g.losses.spans), std::to_string(g.losses.attempts), seconds,
          std::to_string(g.lossOnlyRuns.size()), g.losses.goneAtEnd ? "1" : "0"};
}

// In CSV a group without tag has an empty tag cell.
std::string CsvLabel(const GroupStats &g) { return g.label == "-" ? "" : g.label; }

std::string Count(long long n) { return std::to_string(n); }

std::string Milliseconds(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(microseconds) / 1000.0);
  return text;
}

std::string ColumnName(const std::string &name) {
  std::string out;
  for (char c : name) {
    out += std::isalnum(static_cast<unsigned char>(c))
               ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
               : '_';
  }
  return out;
}

// The failure classes the tools log, "none" left out.
std::vector<std::string> FailureNames() {
  const std::vector<std::string> &classes = logread::FailureClasses();
  return std::vector<std::string>(classes.begin() + 1, classes.end());
}

std::vector<std::string> LatencyCells(const LoggedRun *run) {
  if (!run || run->latency.count == 0) return {"", "", "", ""};
  return {Milliseconds(run->latency.AtPercent(50)), Milliseconds(run->latency.AtPercent(90)),
          Milliseconds(run->latency.AtPercent(99)), Milliseconds(run->latency.AtPercent(100))};
}

std::vector<std::string> FailureCells(const LoggedRun *run) {
  std::vector<std::string> cells;
  for (const std::string &name : FailureNames()) {
    if (!run) {
      cells.push_back("");
      continue;
    }
    auto it = run->failures.find(name);
    cells.push_back(Count(it == run->failures.end() ? 0 : it->second));
  }
  return cells;
}

// A row of the runs' table. `reasons`: why it needs a look.
std::vector<std::string> RunRow(const RecordedRun &run, const LoggedRun *logged,
                                const char *isShort, bool counted, const std::string &reasons) {
  const ResultRecord &record = run.record;
  int planned = run.plannedAttempts;
  std::vector<std::string> cells = {run.file,
                                    Count(run.position.line),
                                    logged ? logged->tool : "",
                                    logged ? Count(logged->run) : "",
                                    record.tagged ? Count(record.tag) : "",
                                    Count(record.attempts),
                                    Count(record.successes),
                                    Fixed2(100.0 * record.successes / record.attempts),
                                    planned > 0 ? Count(planned) : "",
                                    isShort,
                                    counted ? "1" : "0",
                                    Count(run.lossAttempts),
                                    reasons};
  for (const std::string &cell : LatencyCells(logged)) cells.push_back(cell);
  for (const std::string &cell : FailureCells(logged)) cells.push_back(cell);
  return cells;
}

// The runs of logs that the figures do not count that are short, judged as
// the figures judge theirs (against the planned length, else the longest
// run of their group in their file) among themselves.
std::set<const RecordedRun *> ShortUncountedRuns(const LoggedRuns &logged,
                                                 const std::set<const LoggedRun *> &counted,
                                                 GroupBy by) {
  std::vector<const RecordedRun *> uncounted;
  for (const LoggedRun &run : logged) {
    if (counted.count(&run) == 0) uncounted.push_back(&run);
  }
  std::set<const RecordedRun *> shortRuns;
  for (const GroupStats &group : BuildReport(uncounted, by).tags) {
    for (const RunInGroup &m : group.members) {
      if (m.isShort) shortRuns.insert(m.run);
    }
  }
  return shortRuns;
}

}  // namespace

const char *const kFigureKeys[kFigureCount] = {"tag",  "runs",       "attempts",    "successes",
                                               "rate", "wilson_low", "wilson_high", "mean",
                                               "sd",   "min",        "max",         "short_runs"};

std::vector<std::string> FigureCells(const GroupStats &g) {
  // Without card-finding attempts there is no rate to show.
  auto rate = [&g](double value) { return g.attempts > 0 ? Fixed2(value) : ""; };
  return {g.label,
          Count(g.runs),
          Count(g.attempts),
          Count(g.successes),
          rate(g.pooledPercent),
          rate(g.interval.low),
          rate(g.interval.high),
          rate(g.meanPercent),
          g.sdDefined ? Fixed2(g.sdPercent) : "",
          rate(g.minPercent),
          rate(g.maxPercent),
          Count(g.shortRuns)};
}

std::string UnloggedFailuresNote(const Report &report) {
  std::string groups;
  for (const GroupStats &g : report.tags) {
    bool unlogged = std::any_of(g.members.begin(), g.members.end(), [](const RunInGroup &m) {
      return !m.run->log && m.run->record.successes < m.run->record.attempts;
    });
    if (unlogged) groups += (groups.empty() ? "" : ", ") + GroupName(g, report.by);
  }
  if (groups.empty()) return "";
  return groups +
         ": failed attempts from result files without their event logs may include attempts made "
         "while the R/W was gone; only a log tells them apart";
}

std::string LossText(const GroupStats &g) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", g.losses.seconds);
  std::string out = CountOf(g.losses.spans, "span", "spans") + ", " +
                    CountOf(g.losses.attempts, "attempt", "attempts") + ", " + seconds;
  if (!g.lossOnlyRuns.empty()) {
    out += "; " + CountOf(static_cast<long long>(g.lossOnlyRuns.size()), "run", "runs") +
           " wholly without the R/W";
  }
  if (g.losses.goneAtEnd) out += "; still gone at the end of its log";
  return out;
}

std::string Fixed2(double value) { return FixedN(value, 2); }

std::string FixedN(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  // A difference that rounds to nothing has no sign ("-0.00").
  std::string out = text;
  if (out[0] == '-' && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

std::string RequiredText(double percent) {
  return FixedN(percent, std::max(2, DecimalPlaces(percent)));
}

int DecimalsBeside(double requiredPercent, const std::vector<double> &values) {
  int decimals = std::max(2, DecimalPlaces(requiredPercent));
  for (; decimals < 12; ++decimals) {
    std::string required = FixedN(requiredPercent, decimals);
    bool told = std::all_of(values.begin(), values.end(), [&](double value) {
      return value == requiredPercent || FixedN(value, decimals) != required;
    });
    if (told) break;
  }
  return decimals;
}

std::string PEquals(double p) { return p < kSmallestPValue ? "p < 1e-300" : "p = " + PValue(p); }

std::string PValue(double p) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", p);
  return text;
}

std::string DisagreementNote(const GroupStats &g, GroupBy by) {
  return GroupName(g, by) + ": its runs differ more than chance allows (chi-square " +
         PEquals(g.homogeneityP) + (g.homogeneityP < kSmallestPValue ? "" : " < 0.01") +
         "); its pooled interval understates the uncertainty";
}

std::string RunPlace(const RecordedRun &run) {
  return run.file + ":" + std::to_string(run.position.line) + ":" +
         std::to_string(run.position.column);
}

bool WriteTextReport(const Report &report, const ReportRequest &request,
                     const Comparisons &comparisons, const TextSink &write) {
  std::string out = Table(report, request) + ShortRunLines(report) + DisagreementLines(report) +
                    UnloggedFailuresLine(report) + LossLines(report);
  if (Gated(request)) out += GateSection(report, request);
  if (!write(out)) return false;
  if (request.compare && !WriteComparisonSection(comparisons, report.by, write)) return false;
  return request.planPercent < 0 || write(PlanSection(report, request.planPercent));
}

std::string TextReport(const Report &report, const ReportRequest &request,
                       const Comparisons &comparisons) {
  std::string out;
  WriteTextReport(report, request, comparisons, [&out](const std::string &text) {
    out += text;
    return true;
  });
  return out;
}

std::string CsvReport(const Report &report, const ReportRequest &request) {
  std::vector<std::string> headings(kFigureKeys, kFigureKeys + kFigureCount);
  if (report.by == GroupBy::kFile) headings[0] = "file";
  headings.insert(headings.end(), {"homogeneity_p", "runs_disagree", "loss_spans", "loss_attempts",
                                   "loss_seconds", "loss_only_runs", "gone_at_end"});
  if (Gated(request)) {
    headings.insert(headings.end(), {"required", "verdict", "attempts_to_pass", "more_attempts"});
  }
  std::string out = CsvLine(headings);
  auto row = [&](const GroupStats &g, bool overall) {
    std::vector<std::string> cells = FigureCells(g);
    cells[0] = CsvLabel(g);
    cells.push_back(g.homogeneityDefined ? PValue(g.homogeneityP) : "");
    cells.push_back(overall ? "" : g.runsDisagree ? "1" : "0");
    for (const std::string &cell : LossCells(g)) cells.push_back(cell);
    if (Gated(request)) {
      GateResult gate = ApplyGate(g, request.requiredPercent);
      cells.insert(cells.end(),
                   {RequiredText(request.requiredPercent), overall ? "" : VerdictName(gate.verdict),
                    overall ? "" : PlannedCell(gate.toPass),
                    overall ? "" : MoreCell(gate.toPass, g.attempts)});
    }
    return CsvLine(cells);
  };
  for (const GroupStats &g : report.tags) out += row(g, false);
  return out + row(report.overall, true);
}

std::vector<std::string> FailureColumns() {
  std::vector<std::string> columns;
  for (const std::string &name : FailureNames()) columns.push_back(ColumnName(name));
  return columns;
}

bool WriteRunsCsv(const Report &report, const LoggedRuns &logged, const TextSink &write) {
  std::vector<std::string> headings = {"source",     "line",    "tool",
                                       "run",        "tag",     "attempts",
                                       "successes",  "rate",    "planned_attempts",
                                       "short",      "counted", "loss_attempts",
                                       "needs_look", "p50_ms",  "p90_ms",
                                       "p99_ms",     "max_ms"};
  for (const std::string &c : FailureColumns()) headings.push_back(c);
  if (!write(CsvLine(headings))) return false;
  // The runs the figures count, then those without card finding, each with
  // the run of its log when one told it.
  std::set<const LoggedRun *> counted;
  for (const RunInGroup &m : report.overall.members) {
    counted.insert(m.run->log);
    if (!write(CsvLine(RunRow(*m.run, m.run->log, m.isShort ? "1" : "0", true, LookReasons(m))))) {
      return false;
    }
  }
  for (const RecordedRun *run : report.overall.lossOnlyRuns) {
    counted.insert(run->log);
    if (!write(CsvLine(RunRow(*run, run->log, "0", true, LossOnlyReason(*run))))) return false;
  }
  std::set<const RecordedRun *> shortRuns = ShortUncountedRuns(logged, counted, report.by);
  for (const LoggedRun &run : logged) {
    const char *isShort = shortRuns.count(&run) ? "1" : "0";
    if (counted.count(&run) == 0 && !write(CsvLine(RunRow(run, &run, isShort, false, "")))) {
      return false;
    }
  }
  return true;
}

bool WriteComparisonsCsv(const Comparisons &comparisons, GroupBy by, const TextSink &write) {
  std::string first = by == GroupBy::kFile ? "file" : "tag";
  if (!write(CsvLine({first + "_a", "attempts_a", "successes_a", "rate_a", first + "_b",
                      "attempts_b", "successes_b", "rate_b", "difference", "difference_low",
                      "difference_high", "p_value", "p_holm", "verdict"}))) {
    return false;
  }
  for (std::size_t i = 0; i < comparisons.Size(); ++i) {
    Comparison c = comparisons[i];
    if (!write(CsvLine({CsvLabel(*c.first), Count(c.first->attempts), Count(c.first->successes),
                        Fixed2(c.first->pooledPercent), CsvLabel(*c.second),
                        Count(c.second->attempts), Count(c.second->successes),
                        Fixed2(c.second->pooledPercent), Fixed2(c.differencePercent.estimate),
                        Fixed2(c.differencePercent.low), Fixed2(c.differencePercent.high),
                        PValue(c.p), PValue(c.pHolm), ComparisonVerdict(c, by)}))) {
      return false;
    }
  }
  return true;
}

std::string PlanCsv(const Report &report, double planPercent) {
  std::string out =
      CsvLine({report.by == GroupBy::kFile ? "file" : "tag", "attempts", "successes", "rate",
               "required", "attempts_needed", "more_attempts", "attempts_needed_no_failure"});
  std::string neverFailing = PlannedCell(NeverFailing(planPercent));
  for (const GroupStats &g : report.tags) {
    AttemptsPlan plan = PlanOf(g, planPercent);
    out += CsvLine({CsvLabel(g), Count(g.attempts), Count(g.successes), Fixed2(g.pooledPercent),
                    RequiredText(planPercent), PlannedCell(plan), MoreCell(plan, g.attempts),
                    neverFailing});
  }
  return out;
}

const char *const kLoggedRunKeys[kLoggedRunCellCount] = {
    "source", "tool",   "run",    "tag",    "attempts", "successes",
    "rate",   "p50_ms", "p90_ms", "p99_ms", "max_ms",   "failures"};

namespace {

// "no ACK 3; bad MAC 1", most frequent first.
std::string FailureList(const std::map<std::string, int> &failures) {
  std::vector<std::pair<std::string, int>> sorted(failures.begin(), failures.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto &a, const auto &b) { return a.second > b.second; });
  std::string out;
  for (const auto &[name, count] : sorted) {
    out += (out.empty() ? "" : "; ") + name + " " + std::to_string(count);
  }
  return out;
}

}  // namespace

std::vector<std::string> LoggedRunCells(const LoggedRun &run) {
  std::vector<std::string> latency = LatencyCells(&run);
  return {run.file + ":" + std::to_string(run.position.line),
          run.tool,
          std::to_string(run.run),
          run.record.tagged ? std::to_string(run.record.tag) : "-",
          std::to_string(run.record.attempts),
          std::to_string(run.record.successes),
          Fixed2(run.record.rate),
          latency[0],
          latency[1],
          latency[2],
          latency[3],
          FailureList(run.failures)};
}

bool WriteLoggedRunsText(const RunsToList<LoggedRun> &runs, const TextSink &write) {
  std::string heading = "\nruns in event logs (latency in ms):\n";
  if (runs.fine > 0) {
    heading = "\nruns in event logs that need a look (latency in ms; " +
              CountOf(static_cast<long long>(runs.fine), "more run is", "more runs are") +
              " without failure, shortness, R/W loss or outlying rate; --csv runs lists "
              "every run):\n";
  }
  if (!write(heading)) return false;
  for (const auto &[run, reasons] : runs.listed) {
    std::vector<std::string> cells = LoggedRunCells(*run);
    for (std::string &cell : cells) cell = Printable(cell);
    std::string line = cells[0] + "  " + cells[1] + " run " + cells[2] + ", tag " + cells[3] +
                       ": " + cells[5] + " of " + cells[4] + " (" + cells[6] + " %)";
    if (!cells[7].empty()) {
      line +=
          ", p50 " + cells[7] + ", p90 " + cells[8] + ", p99 " + cells[9] + ", max " + cells[10];
    }
    if (!cells[11].empty()) line += "; failures: " + cells[11];
    if (!reasons.empty()) line += "; needs a look: " + Printable(reasons);
    if (!write(line + "\n")) return false;
  }
  return true;
}

RunsToList<RecordedRun> CountedRunsToList(const Report &report) {
  RunsToList<RecordedRun> out;
  std::size_t all = report.overall.members.size() + report.overall.lossOnlyRuns.size();
  for (const GroupStats &g : report.tags) {
    for (const RunInGroup &m : g.members) {
      std::string reasons = LookReasons(m);
      if (reasons.empty() && all > kRunsListedWhole) {
        ++out.fine;
      } else {
        out.listed.emplace_back(m.run, reasons);
      }
    }
  }
  for (const RecordedRun *run : report.overall.lossOnlyRuns) {
    out.listed.emplace_back(run, LossOnlyReason(*run));
  }
  return out;
}

RunsToList<LoggedRun> LoggedRunsToList(const Report &report, const LoggedRuns &logged) {
  // Why the counted ones need a look, by their log's run.
  std::map<const LoggedRun *, std::string> reasons;
  std::set<const LoggedRun *> counted;
  for (const auto &[run, why] : CountedRunsToList(report).listed) {
    if (run->log) reasons[run->log] = why;
  }
  for (const RunInGroup &m : report.overall.members) counted.insert(m.run->log);
  for (const RecordedRun *run : report.overall.lossOnlyRuns) counted.insert(run->log);
  RunsToList<LoggedRun> out;
  for (const LoggedRun &run : logged) {
    std::string why;
    auto found = reasons.find(&run);
    if (found != reasons.end()) {
      why = found->second;
    } else if (counted.count(&run) == 0) {
      // Not counted (a result file was given without its record): what the
      // run alone shows.
      if (run.record.successes == 0) why = "no card found";
      if (run.lossAttempts > 0) {
        why += (why.empty() ? "" : "; ") + std::string("R/W gone for ") +
               CountOf(run.lossAttempts, "attempt", "attempts");
      }
    }
    if (why.empty() && logged.size() > kRunsListedWhole) {
      ++out.fine;
    } else {
      out.listed.emplace_back(&run, why);
    }
  }
  return out;
}
