// The HTML form of the report: one page without outside resources, so that
// it can be mailed or archived beside the result files, legible on screen
// and printed on A4.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/report_output.h"
#include "report/svg.h"

namespace {

// Chart geometry in the units of the SVG's view box; the chart is as wide
// as the page and scales with it.
constexpr double kWidth = 1000;
constexpr double kLeft = 70;
constexpr double kRight = 20;
constexpr double kTop = 20;
constexpr double kPlotHeight = 260;
constexpr double kBottom = 60;

const char *const kColumnHeadings[] = {"tag",    "runs",     "attempts",  "successes",
                                       "rate %", "95 % low", "95 % high", "mean %",
                                       "sd %",   "min %",    "max %",     "short runs"};

using svg::Escape;
using svg::Line;
using svg::Number;
using svg::Text;

std::string ChartOpen(const char *id, double height, const std::string &label) {
  return svg::Open(id, "chart", kWidth, height, 13, label);
}

// The axis titles: the value axis turned upright at the left, the other
// below the plot.
std::string AxisTitles(const std::string &value, const std::string &across) {
  double middle = kTop + kPlotHeight / 2;
  return Text(16, middle, "middle", value, " transform=\"rotate(-90 16 " + Number(middle) + ")\"") +
         Text((kLeft + kWidth - kRight) / 2, kTop + kPlotHeight + 50, "middle", across) + "\n";
}

// The rate axis, zoomed to the data: from a round value at or below the
// lowest bound or run to 100 %.
struct RateAxis {
  double low;
  double step;
  double Y(double percent) const { return kTop + (100.0 - percent) / (100.0 - low) * kPlotHeight; }
};

RateAxis ZoomedRateAxis(const std::vector<const GroupStats *> &groups) {
  double lowest = 100;
  for (const GroupStats *g : groups) {
    lowest = std::min(lowest, g->interval.low);
    for (const RunInGroup &m : g->members) lowest = std::min(lowest, m.ratePercent);
  }
  for (double step : {0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 25.0}) {
    double low = std::floor(lowest / step) * step;
    if (low == lowest && low > 0) low -= step;  // keep the lowest off the bottom line
    if ((100 - low) / step <= 8) return RateAxis{std::max(0.0, low), step};
  }
  return RateAxis{0, 25};
}

std::string RateAxisMarks(const RateAxis &axis) {
  std::string out;
  for (double p = axis.low; p <= 100.0 + 1e-9; p += axis.step) {
    out += Line(kLeft, axis.Y(p), kWidth - kRight, axis.Y(p), svg::kGridColour);
    out += Text(kLeft - 8, axis.Y(p) + 4, "end", Number(p) + " %") + "\n";
  }
  if (axis.low > 0) {
    // A break in the axis line says that it does not start at 0.
    out += svg::AxisBreak(kLeft, kTop + kPlotHeight);
    out += Text(kLeft, kTop + kPlotHeight + 34, "start",
                "the axis starts at " + Number(axis.low) + " %, not at 0",
                " class=\"axis-note\" font-style=\"italic\"") +
           "\n";
  }
  return out + AxisTitles("success rate (%)", "");
}

std::string GroupLabel(const GroupStats &g, GroupBy by) {
  if (g.label == "all") return "all runs";
  return GroupName(g, by);
}

std::string RunDots(const GroupStats &g, double x, const RateAxis &axis) {
  std::string out;
  for (std::size_t i = 0; i < g.members.size(); ++i) {
    const RunInGroup &m = g.members[i];
    // Dots spread sideways so that runs with equal rates stay visible.
    double cx = x + 24 + static_cast<double>(i % 5) * 7;
    std::string fill = m.isShort ? "#ffffff" : svg::kAlertColour;
    out += "<circle class=\"run\" cx=\"" + Number(cx) + "\" cy=\"" + Number(axis.Y(m.ratePercent)) +
           "\" r=\"5\" fill=\"" + fill + "\" stroke=\"" + svg::kAlertColour +
           "\" stroke-width=\"2\">" + "<title>" + Escape(RunPlace(*m.run)) + ": " +
           std::to_string(m.run->record.successes) + " of " +
           std::to_string(m.run->record.attempts) + "</title></circle>";
  }
  return out + "\n";
}

std::string GroupMarks(const GroupStats &g, double x, const RateAxis &axis, GroupBy by,
                       bool overall) {
  double top = axis.Y(g.interval.high);
  double height = std::max(axis.Y(g.interval.low) - top, 2.0);
  std::string out = "<g class=\"group\" data-label=\"" + Escape(g.label) + "\">";
  out += "<rect class=\"interval\" x=\"" + Number(x - 12) + "\" y=\"" + Number(top) +
         "\" width=\"24\" height=\"" + Number(height) + "\" fill=\"" +
         (overall ? svg::kOverallColour : svg::kIntervalColour) +
         "\" shape-rendering=\"crispEdges\"/>";
  // The pooled rate is a line across its interval bar.
  out += "<rect class=\"pooled\" x=\"" + Number(x - 16) + "\" y=\"" +
         Number(axis.Y(g.pooledPercent) - 1.5) + "\" width=\"32\" height=\"3\" fill=\"" +
         svg::kPooledColour + "\" shape-rendering=\"crispEdges\"><title>" +
         Fixed2(g.pooledPercent) + " %</title></rect>";
  out += RunDots(g, x, axis);
  out += Text(x, kTop + kPlotHeight + 18, "middle", GroupLabel(g, by)) + "</g>\n";
  return out;
}

std::string RateChart(const Report &report) {
  std::vector<const GroupStats *> groups;
  for (const GroupStats &g : report.tags) groups.push_back(&g);
  groups.push_back(&report.overall);
  RateAxis axis = ZoomedRateAxis(groups);
  // One slot per group and a gap before all runs, which stand apart.
  double slot = (kWidth - kLeft - kRight) / (static_cast<double>(groups.size()) + 0.5);
  std::string out = ChartOpen("chart", kTop + kPlotHeight + kBottom,
                              "success rate per group with its 95 % interval") +
                    RateAxisMarks(axis);
  for (std::size_t i = 0; i + 1 < groups.size(); ++i) {
    out += GroupMarks(*groups[i], kLeft + slot * (static_cast<double>(i) + 0.5), axis, report.by,
                      false);
  }
  double divider = kLeft + slot * static_cast<double>(report.tags.size()) + slot * 0.25;
  out += Line(divider, kTop, divider, kTop + kPlotHeight + 24, svg::kMutedColour,
              " class=\"divider\" stroke-dasharray=\"4 4\"");
  out += GroupMarks(report.overall, divider + slot * 0.75, axis, report.by, true);
  return out + "</svg>\n";
}

// A latency axis in ms: linear, or logarithmic when the values spread over
// more than a factor of 8, so that one slow attempt does not flatten the
// rest.
struct LatencyAxis {
  bool log;
  double low, high;  // ms
  double Y(double ms) const {
    double fraction = log ? (std::log10(std::max(ms, low)) - std::log10(low)) /
                                (std::log10(high) - std::log10(low))
                          : (ms - low) / (high - low);
    return kTop + kPlotHeight - fraction * kPlotHeight;
  }
  std::vector<double> Ticks() const {
    std::vector<double> ticks;
    if (log) {
      for (double decade = std::pow(10, std::floor(std::log10(low))); decade <= high;
           decade *= 10) {
        for (double m : {1.0, 2.0, 5.0}) {
          if (decade * m >= low - 1e-9 && decade * m <= high + 1e-9) ticks.push_back(decade * m);
        }
      }
      return ticks;
    }
    double step = std::pow(10, std::floor(std::log10(high)));
    if (high / step < 2)
      step /= 5;
    else if (high / step < 5)
      step /= 2;
    for (double v = 0; v <= high + 1e-9; v += step) ticks.push_back(v);
    return ticks;
  }
};

// The nearest of 1, 2, 5, 10, 20, ... ms below (or above) `ms`.
double RoundOneTwoFive(double ms, bool up) {
  double decade = std::pow(10, std::floor(std::log10(ms)));
  if (!up) return ms >= 5 * decade ? 5 * decade : ms >= 2 * decade ? 2 * decade : decade;
  return ms <= decade       ? decade
         : ms <= 2 * decade ? 2 * decade
         : ms <= 5 * decade ? 5 * decade
                            : 10 * decade;
}

LatencyAxis LatencyAxisFor(const LoggedRuns &runs) {
  double smallest = 0, largest = 0;
  for (const LoggedRun &run : runs) {
    if (run.latency.count == 0) continue;
    double low = run.latency.AtPercent(0) / 1000.0;
    double high = run.latency.AtPercent(100) / 1000.0;
    smallest = smallest == 0 ? low : std::min(smallest, low);
    largest = std::max(largest, high);
  }
  largest = std::max(largest, 0.001);
  if (smallest > 0 && largest / smallest > 8) {
    return LatencyAxis{true, RoundOneTwoFive(smallest, false), RoundOneTwoFive(largest, true)};
  }
  LatencyAxis linear{false, 0, largest};
  linear.high = linear.Ticks().back() < largest ? largest * 1.1 : linear.Ticks().back();
  return linear;
}

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms < 10 ? "%.3g" : "%.0f", ms);
  return text;
}

std::string LatencyChart(const LoggedRuns &runs) {
  LatencyAxis axis = LatencyAxisFor(runs);
  std::string out = ChartOpen("latency", kTop + kPlotHeight + kBottom,
                              "attempt latency per run, p50 to p99 and maximum");
  for (double tick : axis.Ticks()) {
    out += Line(kLeft, axis.Y(tick), kWidth - kRight, axis.Y(tick), svg::kGridColour);
    out += Text(kLeft - 8, axis.Y(tick) + 4, "end", Ms(tick)) + "\n";
  }
  out += AxisTitles(axis.log ? "attempt latency (ms, log scale)" : "attempt latency (ms)",
                    "run (in the order of the table below)");
  double slot =
      (kWidth - kLeft - kRight) / static_cast<double>(std::max<std::size_t>(runs.size(), 1));
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const LoggedRun &run = runs[i];
    if (run.latency.count == 0) continue;
    double x = kLeft + slot * (static_cast<double>(i) + 0.5);
    double width = std::min(24.0, slot * 0.6);
    double p50 = axis.Y(run.latency.AtPercent(50) / 1000.0);
    double p99 = axis.Y(run.latency.AtPercent(99) / 1000.0);
    out += "<rect class=\"latency\" x=\"" + Number(x - width / 2) + "\" y=\"" + Number(p99) +
           "\" width=\"" + Number(width) + "\" height=\"" + Number(std::max(p50 - p99, 2.0)) +
           "\" fill=\"" + svg::kLatencyColour + "\"><title>" + Escape(run.file) + ":" +
           std::to_string(run.position.line) + "</title></rect>";
    out += "<circle class=\"max\" cx=\"" + Number(x) + "\" cy=\"" +
           Number(axis.Y(run.latency.AtPercent(100) / 1000.0)) + "\" r=\"4\" fill=\"" +
           svg::kLatencyColour + "\"/>";
    if (runs.size() <= 40) out += Text(x, kTop + kPlotHeight + 18, "middle", std::to_string(i + 1));
    out += "\n";
  }
  return out + "</svg>\n";
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
  std::string out = "<table id=\"figures\">\n<tr>";
  for (const char *heading : kColumnHeadings) out += "<th>" + std::string(heading) + "</th>";
  out += "</tr>\n";
  for (const GroupStats &g : report.tags) out += FigureRow(g);
  return out + FigureRow(report.overall) + "</table>\n";
}

std::string Notes(const Report &report) {
  std::string out;
  for (const GroupStats &g : report.tags) {
    if (g.runsDisagree)
      out += "<p class=\"warning\">" + Escape(DisagreementNote(g, report.by)) + ".</p>\n";
  }
  return out;
}

std::string SetupSection(const PageContext &context) {
  std::string out = "<h2>Setup</h2>\n";
  for (const auto &setup : context.setups) {
    out += "<table class=\"setup\">\n";
    for (const auto &[name, value] : setup) out += Cells({name, value}, "td", 1);
    out += "</table>\n";
  }
  out += "<p>Files read:";
  for (const std::string &s : context.sources) out += " <code>" + Escape(s) + "</code>";
  return out + "</p>\n";
}

std::string AttemptsForAPass(const AttemptsPlan &plan) {
  switch (plan.reach) {
    case Reach::kNotAbove: return "none at its rate";
    case Reach::kBeyondCounting: return "more than can be counted";
    case Reach::kAttempts: break;
  }
  return std::to_string(plan.attempts);
}

std::string VerdictSection(const Report &report, const ReportRequest &request) {
  if (request.requiredPercent < 0) return "";
  std::string out =
      "<h2>Verdicts</h2>\n<p>Required success rate: " + RequiredText(request.requiredPercent) +
      " %. Pass when the 95 % Wilson interval lies at or above it, fail when it "
      "lies below, undecided otherwise.</p>\n<table id=\"verdicts\">\n" +
      Cells({"group", "95 % interval", "verdict", "attempts for a pass", "more"}, "th");
  for (const GroupStats &g : report.tags) {
    GateResult gate = ApplyGate(g, request.requiredPercent);
    bool counted = gate.toPass.reach == Reach::kAttempts;
    int decimals = DecimalsBeside(request.requiredPercent, {g.interval.low, g.interval.high});
    out +=
        Cells({GroupName(g, report.by),
               FixedN(g.interval.low, decimals) + " to " + FixedN(g.interval.high, decimals) + " %",
               VerdictName(gate.verdict), AttemptsForAPass(gate.toPass),
               counted ? std::to_string(gate.moreAttempts) : ""});
  }
  return out +
         "</table>\n<p>All runs together get no verdict: the groups are different "
         "setups.</p>\n";
}

std::string ComparisonSection(const Comparisons &comparisons, GroupBy by) {
  if (comparisons.Empty()) return "";
  std::string out =
      "<h2>Comparisons</h2>\n<p>Difference of the pooled rates in points with its 95 % "
      "interval (Newcombe's hybrid score method), Fisher's exact p-value, and Holm's "
      "adjustment over the comparisons made; decided at 5 %.</p>\n<table id=\"comparisons\">\n" +
      Cells({"groups", "difference", "95 % interval", "p", "Holm p", "verdict"}, "th");
  for (std::size_t i = 0; i < comparisons.Size(); ++i) {
    Comparison c = comparisons[i];
    out += Cells({GroupName(*c.first, by) + " \xe2\x88\x92 " + GroupName(*c.second, by),
                  Fixed2(c.differencePercent.estimate),
                  Fixed2(c.differencePercent.low) + " to " + Fixed2(c.differencePercent.high),
                  PValue(c.p), PValue(c.pHolm), ComparisonVerdict(c, by)});
  }
  return out + "</table>\n";
}

std::string RunTable(const Report &report) {
  std::string out = "<h2>Runs</h2>\n<table id=\"runs\">\n" +
                    Cells({"group", "record", "successes", "attempts", "rate %", "short"}, "th");
  for (const GroupStats &g : report.tags) {
    for (const RunInGroup &m : g.members) {
      out += Cells({GroupName(g, report.by), RunPlace(*m.run),
                    std::to_string(m.run->record.successes), std::to_string(m.run->record.attempts),
                    Fixed2(m.ratePercent), m.isShort ? "short" : ""});
    }
  }
  return out + "</table>\n";
}

std::string LoggedRunTable(const LoggedRuns &runs) {
  std::string out = "<table id=\"logged-runs\">\n<tr><th>#</th>";
  for (const char *key : kLoggedRunKeys) out += "<th>" + std::string(key) + "</th>";
  out += "</tr>\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    std::vector<std::string> cells = LoggedRunCells(runs[i]);
    out += "<tr><td>" + std::to_string(i + 1) + "</td>";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      out +=
          "<td data-col=\"" + std::string(kLoggedRunKeys[c]) + "\">" + Escape(cells[c]) + "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string LoggedRunsSection(const LoggedRuns &runs) {
  if (runs.empty()) return "";
  return "<h2>Runs in event logs</h2>\n<p>Attempt latency per run: bar from the median to the "
         "99th percentile, dot at the maximum.</p>\n" +
         LatencyChart(runs) + LoggedRunTable(runs);
}

std::string SeriesName(const std::string &label, GroupBy by) {
  GroupStats group;
  group.label = label;
  return GroupName(group, by);
}

// Each soak series as a chart over the full width with its trend.
std::string SeriesSection(const SeriesSet &set, GroupBy by) {
  if (set.series.empty()) return "";
  std::string out = "<h2>Soak series</h2>\n<p>Success rate per bin of " +
                    std::to_string(set.binSeconds) + " s" +
                    (set.automatic ? " (chosen from the span)" : "") +
                    " over wall-clock time (UTC): the line on its 95 % Wilson band. Triangles at "
                    "the foot: reconnections (red: failed); dashed lines: stops.</p>\n";
  for (std::size_t i = 0; i < set.series.size(); ++i) {
    const Series &series = set.series[i];
    out += "<h3>" + Escape(SeriesName(series.label, by)) + "</h3>\n" +
           SeriesSvg(series, set.binSeconds, static_cast<int>(i)) + "<p class=\"trend\">" +
           Escape(series.trendSentence) + "</p>\n";
  }
  return out;
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:20px;color:#222}"
    "svg.chart,svg.series{display:block;width:100%;height:auto;break-inside:avoid}"
    "table{border-collapse:collapse;margin-top:12px;max-width:100%}"
    "td,th{border:1px solid #bbb;padding:3px 8px;text-align:right;white-space:nowrap}"
    "td.path,td[data-col=source],td[data-col=failures]{white-space:normal;overflow-wrap:anywhere}"
    "td:first-child,th:first-child{text-align:left}"
    "tr[data-label=all] td{border-top:3px double #888;color:#555}"
    "p.warning{color:#a33}"
    "@page{size:A4;margin:15mm}"
    "@media print{body{margin:0;font-size:9pt}td,th{padding:2px 4px}"
    "h2{break-after:avoid}tr{break-inside:avoid}}";

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
  out += SetupSection(context);
  out += VerdictSection(report, request);
  out += ComparisonSection(comparisons, report.by);
  out +=
      "<h2>Success rate per group</h2>\n"
      "<p>Bars: 95 % Wilson interval, with the pooled rate as a dark line across it. Dots: "
      "runs (hollow: short). All runs together stand apart, right of the dashed line.</p>\n";
  out += RateChart(report) + Notes(report) + FigureTable(report);
  out += RunTable(report);
  out += LoggedRunsSection(logged);
  out += SeriesSection(context.series, report.by);
  return out + "</body></html>\n";
}
