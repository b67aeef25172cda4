// The HTML form of the report: one page without outside resources, so that
// it can be mailed or archived beside the result files.
#include <algorithm>
#include <cstdio>

#include "app/rwreport/report_output.h"

namespace {

// Chart geometry in pixels.
constexpr int kLeft = 60;
constexpr int kTop = 20;
constexpr int kPlotHeight = 240;
constexpr int kGroupWidth = 110;
constexpr int kBottom = 50;
constexpr int kRight = 20;

// Chart colours; the page's tests look for them in a screenshot.
const char kIntervalColour[] = "#4a90d9";
const char kPooledColour[] = "#1a3f73";
const char kRunColour[] = "#e4572e";

const char *const kColumnHeadings[] = {"tag",    "runs",     "attempts",  "successes",
                                       "rate %", "95 % low", "95 % high", "mean %",
                                       "sd %",   "min %",    "max %",     "short runs"};

std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

double YOf(double percent) { return kTop + (100.0 - percent) / 100.0 * kPlotHeight; }

std::string Axis(int width) {
  std::string out;
  for (int p = 0; p <= 100; p += 25) {
    std::string y = Number(YOf(p));
    out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(width - kRight) +
           "\" y1=\"" + y + "\" y2=\"" + y + "\" stroke=\"#dddddd\"/>";
    out += "<text x=\"" + std::to_string(kLeft - 8) + "\" y=\"" + Number(YOf(p) + 4) +
           "\" text-anchor=\"end\">" + std::to_string(p) + " %</text>\n";
  }
  return out;
}

std::string GroupLabel(const GroupStats &g) {
  if (g.label == "-") return "no tag";
  if (g.label == "all") return "all";
  return "tag " + g.label;
}

std::string RunDots(const GroupStats &g, double x) {
  std::string out;
  for (std::size_t i = 0; i < g.members.size(); ++i) {
    const RunInGroup &m = g.members[i];
    // Dots spread sideways so that runs with equal rates stay visible.
    double cx = x + 24 + static_cast<double>(i % 5) * 6;
    std::string fill = m.isShort ? "#ffffff" : kRunColour;
    out += "<circle class=\"run\" cx=\"" + Number(cx) + "\" cy=\"" + Number(YOf(m.ratePercent)) +
           "\" r=\"5\" fill=\"" + fill + "\" stroke=\"" + kRunColour + "\" stroke-width=\"2\">" +
           "<title>" + Escape(RunPlace(*m.run)) + ": " + std::to_string(m.run->record.successes) +
           " of " + std::to_string(m.run->record.attempts) + "</title></circle>";
  }
  return out + "\n";
}

std::string GroupMarks(const GroupStats &g, int index) {
  double x = kLeft + kGroupWidth * index + kGroupWidth / 2.0 - 20;
  double top = YOf(g.interval.high);
  double height = YOf(g.interval.low) - top;
  if (height < 2) height = 2;
  std::string out = "<g class=\"group\" data-label=\"" + Escape(g.label) + "\">";
  out += "<rect class=\"interval\" x=\"" + Number(x - 12) + "\" y=\"" + Number(top) +
         "\" width=\"24\" shape-rendering=\"crispEdges\" height=\"" + Number(height) +
         "\" fill=\"" + kIntervalColour + "\"/>";
  // The pooled rate is a tick beside the bar, so that it hides none of it.
  out += "<rect class=\"pooled\" x=\"" + Number(x - 22) + "\" y=\"" +
         Number(YOf(g.pooledPercent) - 1.5) + "\" width=\"10\" height=\"3\" fill=\"" +
         kPooledColour + "\" shape-rendering=\"crispEdges\"/>";
  out += RunDots(g, x);
  out += "<text x=\"" + Number(x) + "\" y=\"" + std::to_string(kTop + kPlotHeight + 20) +
         "\" text-anchor=\"middle\">" + Escape(GroupLabel(g)) + "</text></g>\n";
  return out;
}

std::string Chart(const Report &report) {
  std::vector<const GroupStats *> groups;
  for (const GroupStats &g : report.tags) groups.push_back(&g);
  groups.push_back(&report.overall);
  int width = kLeft + kGroupWidth * static_cast<int>(groups.size()) + kRight;
  int height = kTop + kPlotHeight + kBottom;
  std::string out = "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(width) + "\" height=\"" + std::to_string(height) +
                    "\" font-family=\"sans-serif\" "
                    "font-size=\"12\">\n";
  out += Axis(width);
  for (std::size_t i = 0; i < groups.size(); ++i)
    out += GroupMarks(*groups[i], static_cast<int>(i));
  return out + "</svg>\n";
}

std::string TableRow(const GroupStats &g) {
  std::vector<std::string> cells = FigureCells(g);
  std::string out = "<tr data-label=\"" + Escape(g.label) + "\">";
  for (std::size_t i = 0; i < cells.size(); ++i) {
    out += "<td data-col=\"" + std::string(kFigureKeys[i]) + "\">" +
           Escape(cells[i].empty() ? "-" : cells[i]) + "</td>";
  }
  return out + "</tr>\n";
}

std::string Table(const Report &report) {
  std::string out = "<table id=\"figures\">\n<tr>";
  for (const char *heading : kColumnHeadings) out += "<th>" + std::string(heading) + "</th>";
  out += "</tr>\n";
  for (const GroupStats &g : report.tags) out += TableRow(g);
  return out + TableRow(report.overall) + "</table>\n";
}

std::string SourceList(const std::vector<std::string> &sources) {
  std::string out = "<p>Files read:";
  for (const std::string &s : sources) out += " <code>" + Escape(s) + "</code>";
  return out + "</p>\n";
}

// The runs of event logs: a chart of attempt latency (a bar from p50 to
// p99, a dot at the maximum) and a table with the failure classes.
constexpr int kRunWidth = 28;
const char kLatencyColour[] = "#6a9f3a";

std::string LatencyChart(const std::vector<LoggedRun> &runs) {
  std::int64_t top = 1;
  for (const LoggedRun &run : runs) top = std::max(top, run.latency.maxUs);
  int width = kLeft + kRunWidth * static_cast<int>(runs.size()) + kRight;
  int height = kTop + kPlotHeight + kBottom;
  auto y = [&](std::int64_t us) {
    return kTop + kPlotHeight - static_cast<double>(us) / static_cast<double>(top) * kPlotHeight;
  };
  std::string out = "<svg id=\"latency\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(width) + "\" height=\"" + std::to_string(height) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  out += "<text x=\"" + std::to_string(kLeft - 8) + "\" y=\"" + Number(y(top) + 4) +
         "\" text-anchor=\"end\">" + Number(static_cast<double>(top) / 1000.0) + " ms</text>";
  out += "<text x=\"" + std::to_string(kLeft - 8) + "\" y=\"" + Number(y(0) + 4) +
         "\" text-anchor=\"end\">0</text>\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const LoggedRun &run = runs[i];
    if (run.latency.count == 0) continue;
    double x = kLeft + kRunWidth * static_cast<double>(i) + kRunWidth / 2.0;
    double low = y(run.latency.p50Us), high = y(run.latency.p99Us);
    out += "<rect class=\"latency\" x=\"" + Number(x - 6) + "\" y=\"" + Number(high) +
           "\" width=\"12\" height=\"" + Number(std::max(low - high, 2.0)) + "\" fill=\"" +
           kLatencyColour + "\"><title>" + Escape(run.file) + ":" + std::to_string(run.line) +
           "</title></rect>";
    out += "<circle class=\"max\" cx=\"" + Number(x) + "\" cy=\"" + Number(y(run.latency.maxUs)) +
           "\" r=\"3\" fill=\"" + kLatencyColour + "\"/>\n";
  }
  return out + "</svg>\n";
}

std::string LoggedRunTable(const std::vector<LoggedRun> &runs) {
  std::string out = "<table id=\"logged-runs\">\n<tr>";
  for (const char *key : kLoggedRunKeys) out += "<th>" + std::string(key) + "</th>";
  out += "</tr>\n";
  for (const LoggedRun &run : runs) {
    std::vector<std::string> cells = LoggedRunCells(run);
    out += "<tr>";
    for (std::size_t i = 0; i < cells.size(); ++i) {
      out +=
          "<td data-col=\"" + std::string(kLoggedRunKeys[i]) + "\">" + Escape(cells[i]) + "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string LoggedRunsSection(const std::vector<LoggedRun> &runs) {
  if (runs.empty()) return "";
  return "<h2>Runs in event logs</h2>\n<p>Attempt latency per run: bar from the median to the "
         "99th percentile, dot at the maximum.</p>\n" +
         LatencyChart(runs) + LoggedRunTable(runs);
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:20px;color:#222}"
    "table{border-collapse:collapse;margin-top:16px}"
    "td,th{border:1px solid #bbb;padding:3px 8px;text-align:right}"
    "td:first-child{text-align:left}";

}  // namespace

std::string HtmlReport(const Report &report, const std::vector<LoggedRun> &logged,
                       const std::vector<std::string> &sources) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>R/W polling results</title><style>";
  out += kStyle;
  out += "</style></head>\n<body>\n<h1>Success rate per tag</h1>\n";
  out +=
      "<p>Bars: 95 % Wilson interval of the pooled rate (dark tick). Dots: runs "
      "(hollow: shorter than the longest run of the tag).</p>\n";
  out += Chart(report);
  out += Table(report);
  out += LoggedRunsSection(logged);
  out += SourceList(sources);
  return out + "</body></html>\n";
}
