#include "report/page_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "report/comparisons.h"
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

// How far below the lowest interval bound (or the requirement) a run is
// still drawn where it lies, in times the distance of that bound from
// 100 %: runs further down are marked at the axis' foot.
constexpr double kRunReach = 3;

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
// lowest bound, requirement or run it shows, to 100 %.
struct RateAxis {
  double low;
  double step;
  double Y(double percent) const { return kTop + (100.0 - percent) / (100.0 - low) * kPlotHeight; }
  bool Shows(double percent) const { return percent >= low; }
};

RateAxis ZoomedRateAxis(const std::vector<const GroupStats *> &groups, double requiredPercent) {
  double floor = requiredPercent >= 0 ? requiredPercent : 100;
  for (const GroupStats *g : groups) {
    if (g->attempts > 0) floor = std::min(floor, g->interval.low);
  }
  double reach = floor - kRunReach * (100 - floor), lowest = floor;
  for (const GroupStats *g : groups) {
    for (const RunInGroup &m : g->members) {
      if (m.ratePercent >= reach) lowest = std::min(lowest, m.ratePercent);
    }
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

// The required rate as a dashed line across the plot, labelled.
std::string RequirementLine(const RateAxis &axis, double requiredPercent) {
  if (requiredPercent < 0) return "";
  double y = axis.Y(requiredPercent);
  return Line(kLeft, y, kWidth - kRight, y, svg::kRequirementColour,
              " class=\"requirement\" stroke-width=\"2\" stroke-dasharray=\"8 4\"") +
         Text(kWidth - kRight - 4, y - 5, "end", "required " + RequiredText(requiredPercent) + " %",
              std::string(" fill=\"") + svg::kRequirementColour + "\"") +
         "\n";
}

std::string GroupLabel(const GroupStats &g, GroupBy by) {
  if (g.label == "all") return "all runs";
  return GroupName(g, by);
}

// The runs of a group at one rate: one dot.
struct RunsAtRate {
  const RunInGroup *first = nullptr;
  int count = 0;
};

std::string DotTitle(const RunsAtRate &at) {
  const RunInGroup &m = *at.first;
  if (at.count == 1) {
    return RunPlace(*m.run) + ": " + std::to_string(m.run->record.successes) + " of " +
           std::to_string(m.run->CardFindingAttempts());
  }
  return std::to_string(at.count) + (m.isShort ? " short runs at " : " runs at ") +
         Fixed2(m.ratePercent) + " %";
}

// A dot per distinct rate (and shortness), spread sideways so that
// neighbours stay visible; runs below the axis as triangles at its foot.
std::string RunDots(const GroupStats &g, double x, const RateAxis &axis, int *below) {
  std::map<std::pair<double, bool>, RunsAtRate> dots;
  for (const RunInGroup &m : g.members) {
    RunsAtRate &at = dots[{m.ratePercent, m.isShort}];
    if (at.count++ == 0) at.first = &m;
  }
  std::string out;
  int i = 0;
  double foot = kTop + kPlotHeight;
  for (const auto &[key, at] : dots) {
    double cx = x + 24 + static_cast<double>(i++ % 5) * 7;
    std::string title = "<title>" + Escape(DotTitle(at)) + "</title>";
    if (!axis.Shows(key.first)) {
      *below += at.count;
      out += "<path class=\"run-below\" d=\"M" + Number(cx - 6) + " " + Number(foot - 12) +
             " h12 l-6 10 z\" fill=\"" + svg::kAlertColour + "\">" + title + "</path>";
      continue;
    }
    std::string fill = key.second ? "#ffffff" : svg::kAlertColour;
    out += "<circle class=\"run\" cx=\"" + Number(cx) + "\" cy=\"" + Number(axis.Y(key.first)) +
           "\" r=\"5\" fill=\"" + fill + "\" stroke=\"" + svg::kAlertColour +
           "\" stroke-width=\"2\">" + title + "</circle>";
  }
  return out + "\n";
}

std::string GroupMarks(const GroupStats &g, double x, const RateAxis &axis, GroupBy by,
                       bool overall, int *below) {
  std::string out = "<g class=\"group\" data-label=\"" + Escape(g.label) + "\">";
  if (g.attempts > 0) {
    double top = axis.Y(g.interval.high);
    double height = std::max(axis.Y(g.interval.low) - top, 2.0);
    out += "<rect class=\"interval\" x=\"" + Number(x - 12) + "\" y=\"" + Number(top) +
           "\" width=\"24\" height=\"" + Number(height) + "\" fill=\"" +
           (overall ? svg::kOverallColour : svg::kIntervalColour) +
           "\" shape-rendering=\"crispEdges\"/>";
    // The pooled rate is a line across its interval bar.
    out += "<rect class=\"pooled\" x=\"" + Number(x - 16) + "\" y=\"" +
           Number(axis.Y(g.pooledPercent) - 1.5) + "\" width=\"32\" height=\"3\" fill=\"" +
           svg::kPooledColour + "\" shape-rendering=\"crispEdges\"><title>" +
           Fixed2(g.pooledPercent) + " %</title></rect>";
  }
  out += RunDots(g, x, axis, below);
  out += Text(x, kTop + kPlotHeight + 18, "middle", GroupLabel(g, by)) + "</g>\n";
  return out;
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

LatencyAxis LatencyAxisFor(const std::vector<const LoggedRun *> &runs) {
  double smallest = 0, largest = 0;
  for (const LoggedRun *each : runs) {
    const LoggedRun &run = *each;
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

}  // namespace

std::string LatencyChart(const std::vector<const LoggedRun *> &runs) {
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
    const LoggedRun &run = *runs[i];
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

std::string RateChart(const Report &report, double requiredPercent, int *below) {
  std::vector<const GroupStats *> groups;
  for (const GroupStats &g : report.tags) groups.push_back(&g);
  groups.push_back(&report.overall);
  RateAxis axis = ZoomedRateAxis(groups, requiredPercent);
  // One slot per group and a gap before all runs, which stand apart.
  double slot = (kWidth - kLeft - kRight) / (static_cast<double>(groups.size()) + 0.5);
  std::string out = ChartOpen("chart", kTop + kPlotHeight + kBottom,
                              "success rate per group with its 95 % interval") +
                    RateAxisMarks(axis) + RequirementLine(axis, requiredPercent);
  int ignored = 0;  // all runs repeat the groups' runs
  *below = 0;
  for (std::size_t i = 0; i + 1 < groups.size(); ++i) {
    out += GroupMarks(*groups[i], kLeft + slot * (static_cast<double>(i) + 0.5), axis, report.by,
                      false, below);
  }
  double divider = kLeft + slot * static_cast<double>(report.tags.size()) + slot * 0.25;
  out += Line(divider, kTop, divider, kTop + kPlotHeight + 24, svg::kMutedColour,
              " class=\"divider\" stroke-dasharray=\"4 4\"");
  out += GroupMarks(report.overall, divider + slot * 0.75, axis, report.by, true, &ignored);
  return out + "</svg>\n";
}
