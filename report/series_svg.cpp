// The soak series as an SVG chart: the rate per bin as a line on its 95 %
// interval band over wall-clock time, reconnections and stops marked. It
// scales to the width of the page (and of a printed A4 page).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/series.h"

namespace {

constexpr double kWidth = 900, kHeight = 300;
// The right margin holds half of the last time label, which is centred on its tick.
constexpr double kLeft = 64, kRight = 56, kTop = 24, kBottom = 56;
const char kBandColour[] = "#4a90d9";
const char kLineColour[] = "#1a3f73";
const char kReconnectColour[] = "#888888";
const char kFailColour[] = "#e4572e";

std::string Num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// The lowest rate the axis shows: the lowest interval bound rounded down to
// a step that gives at most ten steps up to 100 %.
double AxisLow(const Series &series, double *step) {
  double low = 100;
  for (const SeriesBin &bin : series.bins) {
    if (bin.attempts > 0) low = std::min(low, bin.interval.low);
  }
  static const double kSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20};
  for (double s : kSteps) {
    *step = s;
    double axis = std::floor(low / s) * s;
    if ((100 - axis) / s <= 10 && axis < 100) return std::max(0.0, axis);
  }
  return 0;
}

// A time step for the x axis giving at most eight labels.
std::int64_t TimeStep(std::int64_t span) {
  static const std::int64_t kSteps[] = {1,     2,     5,     10,     30,    60,   120,
                                        300,   600,   900,   1800,   3600,  7200, 10800,
                                        21600, 43200, 86400, 172800, 604800};
  for (std::int64_t s : kSteps) {
    if (span / s <= 8) return s;
  }
  return span / 8 + 1;
}

std::string Label(std::int64_t seconds, bool withDate, bool withSeconds) {
  std::string wall = FormatWallClock(seconds);  // 2026-12-07T06:40:00Z
  std::string time = wall.substr(11, withSeconds ? 8 : 5);
  return withDate ? wall.substr(5, 5) + " " + time : time;
}

}  // namespace

std::string SeriesSvg(const Series &series, std::int64_t binSeconds, int index) {
  if (series.bins.empty()) return "";
  std::int64_t t0 = series.bins.front().startSeconds;
  std::int64_t t1 = series.bins.back().startSeconds + binSeconds;
  double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  double step = 1;
  double low = AxisLow(series, &step);
  auto x = [&](double seconds) { return kLeft + (seconds - t0) / double(t1 - t0) * plotW; };
  auto y = [&](double rate) { return kTop + (100 - rate) / (100 - low) * plotH; };

  std::string id = "series-" + std::to_string(index);
  std::string out = "<svg id=\"" + id +
                    "\" class=\"series\" xmlns=\"http://www.w3.org/2000/svg\" width=\"100%\" "
                    "viewBox=\"0 0 " +
                    Num(kWidth) + " " + Num(kHeight) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  // Rate axis with its grid.
  for (double r = low; r <= 100 + 1e-9; r += step) {
    out += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + plotW) + "\" y1=\"" + Num(y(r)) +
           "\" y2=\"" + Num(y(r)) + "\" stroke=\"#ddd\"/><text x=\"" + Num(kLeft - 6) + "\" y=\"" +
           Num(y(r) + 4) + "\" text-anchor=\"end\">" +
           (step < 1 ? Num(r) : std::to_string(static_cast<int>(std::lround(r)))) + "</text>\n";
  }
  out += "<text transform=\"translate(14," + Num(kTop + plotH / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">success rate (%)</text>\n";
  if (low > 0) {
    // The axis does not start at 0: a break mark and a note say so.
    double yb = kTop + plotH;
    out += "<path class=\"axis-break\" d=\"M" + Num(kLeft - 5) + " " + Num(yb - 2) + " l10 -4 M" +
           Num(kLeft - 5) + " " + Num(yb + 3) + " l10 -4\" stroke=\"#000\"/>";
    out += "<text class=\"axis-note\" x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop - 8) +
           "\">rate axis starts at " + Num(low) + " %, not 0</text>\n";
  }
  // Time axis.
  std::int64_t tick = TimeStep(t1 - t0);
  bool withDate = t1 - t0 > 86400, withSeconds = tick < 60;
  for (std::int64_t t = (t0 + tick - 1) / tick * tick; t <= t1; t += tick) {
    out += "<line x1=\"" + Num(x(t)) + "\" x2=\"" + Num(x(t)) + "\" y1=\"" + Num(kTop + plotH) +
           "\" y2=\"" + Num(kTop + plotH + 5) + "\" stroke=\"#000\"/><text x=\"" + Num(x(t)) +
           "\" y=\"" + Num(kTop + plotH + 18) + "\" text-anchor=\"middle\">" +
           Label(t, withDate, withSeconds) + "</text>\n";
  }
  out += "<text x=\"" + Num(kLeft + plotW / 2) + "\" y=\"" + Num(kHeight - 8) +
         "\" text-anchor=\"middle\">time (UTC), bins of " + std::to_string(binSeconds) +
         " s</text>\n";
  out += "<rect x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop) + "\" width=\"" + Num(plotW) +
         "\" height=\"" + Num(plotH) + "\" fill=\"none\" stroke=\"#000\"/>\n";

  // Band and line, broken where bins have no attempts.
  std::size_t i = 0;
  while (i < series.bins.size()) {
    if (series.bins[i].attempts == 0) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < series.bins.size() && series.bins[j].attempts > 0) ++j;
    std::string upper, lower, line;
    for (std::size_t k = i; k < j; ++k) {
      const SeriesBin &b = series.bins[k];
      double cx = x(b.startSeconds + binSeconds / 2.0);
      upper += Num(cx) + "," + Num(y(b.interval.high)) + " ";
      lower = Num(cx) + "," + Num(y(b.interval.low)) + " " + lower;
      line += Num(cx) + "," + Num(y(b.ratePercent)) + " ";
    }
    out += "<polygon class=\"band\" points=\"" + upper + lower + "\" fill=\"" + kBandColour +
           "\" fill-opacity=\"0.3\" stroke=\"" + kBandColour + "\"/>\n";
    out += "<polyline class=\"rate\" points=\"" + line + "\" fill=\"none\" stroke=\"" +
           kLineColour + "\" stroke-width=\"2\"/>\n";
    i = j;
  }
  // Reconnections as ticks along the bottom (red when one failed), stops as
  // dashed lines.
  for (const SeriesBin &b : series.bins) {
    double cx = x(b.startSeconds + binSeconds / 2.0);
    if (b.reconnections > 0) {
      const char *colour = b.failedReconnections > 0 ? kFailColour : kReconnectColour;
      out += "<path class=\"reconnect\" d=\"M" + Num(cx) + " " + Num(kTop + plotH) +
             " l-4 -8 h8 z\" fill=\"" + colour + "\"><title>" + std::to_string(b.reconnections) +
             " reconnections, " + std::to_string(b.failedReconnections) +
             " failed</title></path>\n";
    }
    if (b.stops > 0) {
      out += "<line class=\"stop\" x1=\"" + Num(cx) + "\" x2=\"" + Num(cx) + "\" y1=\"" +
             Num(kTop) + "\" y2=\"" + Num(kTop + plotH) + "\" stroke=\"" + kFailColour +
             "\" stroke-dasharray=\"4 3\"><title>" + std::to_string(b.stops) +
             " stop(s)</title></line>\n";
    }
  }
  out += "<text x=\"" + Num(kLeft + plotW) + "\" y=\"" + Num(kTop - 8) +
         "\" text-anchor=\"end\">line: rate per bin; band: 95 % interval; triangles: "
         "reconnections (red: one failed); dashed: stop</text>\n";
  return out + "</svg>\n";
}
