// The HTML form of the report: one page without outside resources, so that
// it can be mailed or archived beside the result files, legible on screen
// and printed on A4. It reads from the top: the verdicts, the comparisons,
// the rate per group, the soak series, then the tables.
#include <algorithm>
#include <cstdio>

#include "report/page_charts.h"
#include "report/report_output.h"
#include "report/svg.h"

namespace {

// The most runs a table of runs lists; --csv runs has them all.
constexpr std::size_t kMostRunsListed = 60;

const char *const kColumnHeadings[] = {"tag",    "runs",     "attempts",  "successes",
                                       "rate %", "95 % low", "95 % high", "mean %",
                                       "sd %",   "min %",    "max %",     "short runs"};

using svg::Escape;

// A heading kept with what follows it when printed.
std::string Heading(const char *level, const std::string &text) {
  return std::string("<") + level + ">" + Escape(text) + "</" + level + ">\n";
}

// A row of cells; the cell at `path` (a file name) may wrap anywhere.
std::string Cells(const std::vector<std::string> &cells, const char *tag = "td", int path = -1) {
  std::string out = "<tr>";
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::string open = static_cast<int>(i) == path ? std::string(tag) + " class=\"path\"" : tag;
    out += "<" + open + ">" + Escape(cells[i].empty() ? "-" : cells[i]) + "</" + tag + ">";
  }
  return out + "</tr>\n";
}

// A table's heading row, repeated on every printed page it spans.
std::string HeadRow(const std::vector<std::string> &cells) {
  return "<thead>" + Cells(cells, "th") + "</thead>\n";
}

std::string FigureRow(const GroupStats &g) {
  std::vector<std::string> cells = FigureCells(g);
  std::string out = "<tr data-label=\"" + Escape(g.label) + "\">";
  for (std::size_t i = 0; i < cells.size(); ++i) {
    out += "<td data-col=\"" + std::string(kFigureKeys[i]) + "\">" +
           Escape(cells[i].empty() ? "-" : cells[i]) + "</td>";
  }
  return out + "</tr>\n";
}

std::string FigureTable(const Report &report) {
  std::string out = "<table id=\"figures\">\n<thead><tr>";
  for (const char *heading : kColumnHeadings) out += "<th>" + std::string(heading) + "</th>";
  out += "</tr></thead>\n";
  for (const GroupStats &g : report.tags) out += FigureRow(g);
  return out + FigureRow(report.overall) + "</table>\n";
}

std::string Notes(const Report &report) {
  std::string out, unlogged = UnloggedFailuresNote(report);
  if (!unlogged.empty()) out += "<p class=\"note\">" + Escape(unlogged) + ".</p>\n";
  for (const GroupStats &g : report.tags) {
    if (g.runsDisagree)
      out += "<p class=\"warning\">" + Escape(DisagreementNote(g, report.by)) + ".</p>\n";
  }
  return out;
}

std::string LossCell(const GroupStats &g) {
  return g.losses.spans == 0 && g.lossOnlyRuns.empty() ? "none" : LossText(g);
}

std::string AttemptsForAPass(const AttemptsPlan &plan) {
  switch (plan.reach) {
    case Reach::kNotAbove: return "none at its rate";
    case Reach::kBeyondCounting: return "more than can be counted";
    case Reach::kAttempts: break;
  }
  return std::to_string(plan.attempts);
}

std::string VerdictRow(const GroupStats &g, const ReportRequest &request, GroupBy by) {
  GateResult gate = ApplyGate(g, request.requiredPercent);
  if (g.attempts == 0) {
    return Cells({GroupName(g, by), "no card-finding attempt", VerdictName(gate.verdict), "", "",
                  LossCell(g)});
  }
  bool counted = gate.toPass.reach == Reach::kAttempts;
  int decimals = DecimalsBeside(request.requiredPercent, {g.interval.low, g.interval.high});
  return Cells(
      {GroupName(g, by),
       FixedN(g.interval.low, decimals) + " to " + FixedN(g.interval.high, decimals) + " %",
       VerdictName(gate.verdict), AttemptsForAPass(gate.toPass),
       counted ? std::to_string(gate.moreAttempts) : "", LossCell(g)});
}

std::string VerdictSection(const Report &report, const ReportRequest &request) {
  if (request.requiredPercent < 0) return "";
  std::string out =
      "<section class=\"keep\">\n" + Heading("h2", "Verdicts") +
      "<p>Required success rate: " + RequiredText(request.requiredPercent) +
      " %. Pass when the 95 % Wilson interval of the card-finding rate lies at or "
      "above it, fail when it lies below, undecided otherwise. Attempts made while "
      "the R/W was gone are its losses, not card finding: they decide "
      "nothing.</p>\n<table id=\"verdicts\">\n" +
      HeadRow({"group", "95 % interval", "verdict", "attempts for a pass", "more", "R/W losses"});
  for (const GroupStats &g : report.tags) out += VerdictRow(g, request, report.by);
  return out +
         "</table>\n<p>All runs together get no verdict: the groups are different "
         "setups.</p>\n</section>\n";
}

// A p-value cell: a bound below what a double holds.
std::string PCell(double p) { return p < kSmallestPValue ? "< 1e-300" : PValue(p); }

std::string ComparisonSection(const Comparisons &comparisons, GroupBy by) {
  if (comparisons.Empty()) return "";
  std::string holm = comparisons.Size() == 1
                         ? "(a single comparison, which Holm's adjustment leaves as it is)"
                         : "and Holm's adjustment over the " + std::to_string(comparisons.Size()) +
                               " comparisons made";
  std::string out =
      "<section>\n" + Heading("h2", "Comparisons") +
      "<p>Difference of the card-finding rates in points with its 95 % interval (Newcombe's "
      "hybrid score method), Fisher's exact p-value, " +
      holm + "; decided at 5 %.</p>\n<table id=\"comparisons\">\n" +
      HeadRow({"groups", "difference", "95 % interval", "p", "Holm p", "verdict"});
  for (std::size_t i = 0; i < comparisons.Size(); ++i) {
    Comparison c = comparisons[i];
    out += Cells({GroupName(*c.first, by) + " \xe2\x88\x92 " + GroupName(*c.second, by),
                  Fixed2(c.differencePercent.estimate),
                  Fixed2(c.differencePercent.low) + " to " + Fixed2(c.differencePercent.high),
                  PCell(c.p), PCell(c.pHolm), ComparisonVerdict(c, by)});
  }
  return out + "</table>\n</section>\n";
}

std::string RateSection(const Report &report, const ReportRequest &request) {
  int below = 0;
  std::string chart = RateChart(report, request.requiredPercent, &below);
  std::string out =
      "<section class=\"keep\">\n" + Heading("h2", "Success rate per group") +
      "<p>Bars: 95 % Wilson interval of the card-finding rate, with the pooled rate as a dark "
      "line across it. Dots: runs, one per rate (hollow: short; the tooltip says how many)." +
      (request.requiredPercent >= 0 ? " Dashed line: the required rate." : "") +
      " All runs together stand apart, right of the dashed line.</p>\n" + chart;
  if (below > 0) {
    out += "<p class=\"axis-note\">" + CountOf(below, "run lies", "runs lie") +
           " far below the rest: marked at the axis' foot (\xe2\x96\xbc), so that the others keep "
           "their scale.</p>\n";
  }
  return out + Notes(report) + "</section>\n";
}

std::string SeriesName(const std::string &label, GroupBy by) {
  GroupStats group;
  group.label = label;
  return GroupName(group, by);
}

// Each soak series as a chart over the full width with its trend.
std::string SeriesSection(const SeriesSet &set, GroupBy by) {
  if (set.series.empty()) return "";
  std::string out =
      "<section class=\"keep\">\n" + Heading("h2", "Soak series") +
      "<p>Card-finding rate per bin of " + std::to_string(set.binSeconds) + " s" +
      (set.automatic ? " (chosen from the span)" : "") +
      " over wall-clock time (UTC): the line on its 95 % Wilson band; bins of few attempts "
      "faint, apart from the line. Shaded: the R/W was gone. Triangles at the foot: "
      "reconnections (red: failed); dashed lines: stops.</p>\n";
  for (std::size_t i = 0; i < set.series.size(); ++i) {
    const Series &series = set.series[i];
    out += (i == 0 ? "" : "<section class=\"keep\">\n") +
           Heading("h3", SeriesName(series.label, by)) +
           SeriesSvg(series, set.binSeconds, static_cast<int>(i)) + "<p class=\"trend\">" +
           Escape(series.trendSentence) + "</p>\n</section>\n";
  }
  return out;
}

std::string LossTable(const Report &report) {
  std::string rows;
  for (const GroupStats &g : report.tags) {
    if (g.losses.spans == 0 && g.lossOnlyRuns.empty()) continue;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", g.losses.seconds);
    rows += Cells({GroupName(g, report.by), std::to_string(g.losses.spans),
                   std::to_string(g.losses.attempts), seconds,
                   std::to_string(g.lossOnlyRuns.size()), g.losses.goneAtEnd ? "yes" : "no"});
  }
  if (rows.empty()) return "";
  return "<section class=\"keep\">\n" + Heading("h3", "R/W losses") +
         "<p>Spans of the event logs in which the R/W was gone (its port failed, the device went "
         "away, a reconnection failed), the attempts made during them, which the figures leave "
         "out, and the runs made wholly without it.</p>\n<table id=\"losses\">\n" +
         HeadRow(
             {"group", "spans", "attempts", "seconds", "runs without the R/W", "gone at the end"}) +
         rows + "</table>\n</section>\n";
}

std::string FiguresSection(const Report &report) {
  return "<section>\n" + Heading("h2", "Figures") + FigureTable(report) + "</section>\n" +
         LossTable(report);
}

// "and 12 more need a look" / "312 more runs are fine" after a table.
std::string LeftOut(std::size_t moreListed, std::size_t fine) {
  std::string out;
  if (moreListed > 0) {
    out += CountOf(static_cast<long long>(moreListed), "more run needs", "more runs need") +
           " a look. ";
  }
  if (fine > 0) {
    out += CountOf(static_cast<long long>(fine), "other run has", "other runs have") +
           " no failure, shortness, R/W loss or outlying rate. ";
  }
  if (out.empty()) return "";
  return "<p>" + out + "<code>rwreport --csv runs</code> lists every run.</p>\n";
}

std::string RunTable(const Report &report) {
  RunsToList<RecordedRun> runs = CountedRunsToList(report);
  std::size_t shown = std::min(runs.listed.size(), kMostRunsListed);
  std::string out = "<section>\n" +
                    Heading("h2", runs.fine > 0 ? "Runs that need a look" : "Runs") +
                    "<table id=\"runs\">\n" +
                    HeadRow({"record", "successes", "attempts", "rate %", "needs a look"});
  for (std::size_t i = 0; i < shown; ++i) {
    const RecordedRun &run = *runs.listed[i].first;
    out += Cells(
        {RunPlace(run), std::to_string(run.record.successes), std::to_string(run.record.attempts),
         Fixed2(100.0 * run.record.successes / run.record.attempts), runs.listed[i].second},
        "td", 0);
  }
  return out + "</table>\n" + LeftOut(runs.listed.size() - shown, runs.fine) + "</section>\n";
}

std::string LoggedRunTable(const std::vector<const LoggedRun *> &runs,
                           const std::vector<std::string> &reasons) {
  std::string out = "<table id=\"logged-runs\">\n<thead><tr><th>#</th>";
  for (const char *key : kLoggedRunKeys) out += "<th>" + std::string(key) + "</th>";
  out += "<th>needs a look</th></tr></thead>\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    std::vector<std::string> cells = LoggedRunCells(*runs[i]);
    cells.push_back(reasons[i]);
    out += "<tr><td>" + std::to_string(i + 1) + "</td>";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const char *key = c < kLoggedRunCellCount ? kLoggedRunKeys[c] : "look";
      out += "<td data-col=\"" + std::string(key) + "\">" + Escape(cells[c]) + "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string LoggedRunsSection(const Report &report, const LoggedRuns &logged) {
  if (logged.empty()) return "";
  RunsToList<LoggedRun> list = LoggedRunsToList(report, logged);
  std::size_t shown = std::min(list.listed.size(), kMostRunsListed);
  std::vector<const LoggedRun *> runs;
  std::vector<std::string> reasons;
  for (std::size_t i = 0; i < shown; ++i) {
    runs.push_back(list.listed[i].first);
    reasons.push_back(list.listed[i].second);
  }
  std::string out =
      "<section>\n" +
      Heading("h2", list.fine > 0 ? "Runs in event logs that need a look" : "Runs in event logs");
  if (!runs.empty()) {
    out +=
        "<p>Attempt latency per run: bar from the median to the 99th percentile, dot at the "
        "maximum.</p>\n" +
        LatencyChart(runs) + LoggedRunTable(runs, reasons);
  }
  return out + LeftOut(list.listed.size() - shown, list.fine) + "</section>\n";
}

// One row per log and change of setup; the columns are the setup's names.
std::string SetupSection(const PageContext &context) {
  std::string out = "<section>\n" + Heading("h2", "Setup");
  if (!context.setups.empty()) {
    std::vector<std::string> names;
    for (const auto &setup : context.setups) {
      for (const auto &entry : setup) {
        if (std::find(names.begin(), names.end(), entry.first) == names.end()) {
          names.push_back(entry.first);
        }
      }
    }
    out += "<table class=\"setup\">\n" + HeadRow(names);
    for (const auto &setup : context.setups) {
      std::vector<std::string> cells;
      for (const std::string &name : names) {
        auto found = std::find_if(setup.begin(), setup.end(),
                                  [&name](const auto &entry) { return entry.first == name; });
        cells.push_back(found == setup.end() ? "" : found->second);
      }
      out += Cells(cells, "td", 0);
    }
    out += "</table>\n";
  }
  out += "<p>Files read:";
  for (const std::string &s : context.sources) out += " <code>" + Escape(s) + "</code>";
  return out + "</p>\n</section>\n";
}

// Sections stay whole where they fit on a page; a heading never ends one.
const char kStyle[] =
    "body{font-family:sans-serif;margin:20px;color:#222}"
    "svg.chart,svg.series{display:block;width:100%;height:auto;break-inside:avoid}"
    "table{border-collapse:collapse;margin-top:12px;max-width:100%}"
    "td,th{border:1px solid #bbb;padding:3px 8px;text-align:right;white-space:nowrap}"
    "td.path,td[data-col=source],td[data-col=failures],td[data-col=look]"
    "{white-space:normal;overflow-wrap:anywhere}"
    "td:first-child,th:first-child{text-align:left}"
    "tr[data-label=all] td{border-top:3px double #888;color:#555}"
    "p.warning{color:#a33}"
    "h1,h2,h3{break-after:avoid}section.keep,tr,p{break-inside:avoid}"
    "@page{size:A4;margin:15mm}"
    "@media print{body{margin:0;font-size:9pt}td,th{padding:2px 4px}h2{margin:10px 0 4px}"
    "h3{margin:8px 0 2px}p{margin:4px 0}}";

}  // namespace

std::string HtmlReport(const Report &report, const ReportRequest &request,
                       const Comparisons &comparisons, const LoggedRuns &logged,
                       const PageContext &context) {
  std::string title = context.title.empty() ? "R/W polling results" : context.title;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
      Escape(title) + "</title><style>" + kStyle + "</style></head>\n<body>\n";
  out +=
      "<h1>" + Escape(title) + "</h1>\n<p>Made " + Escape(context.madeAt) + " by rwreport.</p>\n";
  out += VerdictSection(report, request);
  out += ComparisonSection(comparisons, report.by);
  out += RateSection(report, request);
  out += SeriesSection(context.series, report.by);
  out += FiguresSection(report);
  out += RunTable(report);
  out += LoggedRunsSection(report, logged);
  out += SetupSection(context);
  return out + "</body></html>\n";
}
