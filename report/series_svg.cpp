// The soak series as an SVG chart: the rate per bin as a line on its 95 %
// interval band over wall-clock time, reconnections and stops marked. It
// scales to the width of the page (and of a printed A4 page).
#include <algorithm>
#include <cmath>

#include "report/series.h"
#include "report/svg.h"

namespace {

using svg::Number;

constexpr double kWidth = 900, kHeight = 300;
// The right margin holds half of the last time label, which is centred on its tick.
constexpr double kLeft = 64, kRight = 56, kTop = 24, kBottom = 56;
constexpr double kPlotWidth = kWidth - kLeft - kRight, kPlotHeight = kHeight - kTop - kBottom;

// A bin holds few attempts when it has fewer than a quarter of the median
// bin's (a bin cut by the start, the end or a reconnection): its interval
// is wide and its rate says little, so it is drawn faint, apart from the
// line, and does not zoom the axis.
long long FewAttempts(const Series &series) {
  std::vector<long long> attempts;
  for (const SeriesBin &bin : series.bins) {
    if (bin.attempts > 0) attempts.push_back(bin.attempts);
  }
  if (attempts.empty()) return 0;
  std::nth_element(attempts.begin(), attempts.begin() + attempts.size() / 2, attempts.end());
  return std::max(2LL, attempts[attempts.size() / 2] / 4);
}

// The lowest rate the axis shows: the lowest interval bound of the bins
// with enough attempts, rounded down to a step that gives at most ten steps
// up to 100 %.
double AxisLow(const Series &series, long long few, double *step) {
  double low = 100;
  for (const SeriesBin &bin : series.bins) {
    if (bin.attempts >= few && bin.attempts > 0) low = std::min(low, bin.interval.low);
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

std::string TimeLabel(std::int64_t seconds, bool withDate, bool withSeconds) {
  std::string wall = FormatWallClock(seconds);  // 2026-12-07T06:40:00Z
  std::string time = wall.substr(11, withSeconds ? 8 : 5);
  return withDate ? wall.substr(5, 5) + " " + time : time;
}

// The chart of one series: where its times and rates go on the plot.
class SeriesChart {
 public:
  SeriesChart(const Series &series, std::int64_t binSeconds)
      : series_(series),
        binSeconds_(binSeconds),
        t0_(series.bins.front().startSeconds),
        t1_(series.bins.back().startSeconds + series.bins.back().seconds),
        few_(FewAttempts(series)) {
    low_ = AxisLow(series, few_, &step_);
  }

  // The rate axis with its grid, zoomed to the data.
  std::string RateAxis() const {
    std::string out;
    for (double r = low_; r <= 100 + 1e-9; r += step_) {
      std::string label = step_ < 1 ? Number(r) : std::to_string(static_cast<int>(std::lround(r)));
      out += svg::Line(kLeft, Y(r), kLeft + kPlotWidth, Y(r), svg::kGridColour) +
             svg::Text(kLeft - 6, Y(r) + 4, "end", label) + "\n";
    }
    out += "<text transform=\"translate(14," + Number(kTop + kPlotHeight / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">success rate (%)</text>\n";
    if (low_ <= 0) return out;
    // The axis does not start at 0: a break mark and a note say so.
    return out + svg::AxisBreak(kLeft, kTop + kPlotHeight) +
           svg::Text(kLeft, kHeight - 8, "start",
                     "rate axis starts at " + Number(low_) + " %, not 0", " class=\"axis-note\"") +
           "\n";
  }

  // The time axis in UTC, its ticks and title, and the plot's frame.
  std::string TimeAxis() const {
    std::string out;
    std::int64_t tick = TimeStep(t1_ - t0_);
    bool withDate = t1_ - t0_ > 86400, withSeconds = tick < 60;
    double foot = kTop + kPlotHeight;
    for (std::int64_t t = (t0_ + tick - 1) / tick * tick; t <= t1_; t += tick) {
      out += svg::Line(X(t), foot, X(t), foot + 5, svg::kInkColour) +
             svg::Text(X(t), foot + 18, "middle", TimeLabel(t, withDate, withSeconds)) + "\n";
    }
    out += svg::Text(kLeft + kPlotWidth / 2, kHeight - 8, "middle",
                     "time (UTC), bins of " + std::to_string(binSeconds_) + " s") +
           "\n";
    return out + "<rect x=\"" + Number(kLeft) + "\" y=\"" + Number(kTop) + "\" width=\"" +
           Number(kPlotWidth) + "\" height=\"" + Number(kPlotHeight) +
           "\" fill=\"none\" stroke=\"" + svg::kInkColour + "\"/>\n";
  }

  // The band and the rate line, broken where bins have no attempts or few;
  // those with few are faint dots with their interval.
  std::string Band() const {
    const std::vector<SeriesBin> &bins = series_.bins;
    std::string out;
    for (std::size_t i = 0; i < bins.size();) {
      if (!Full(bins[i])) {
        if (bins[i].attempts > 0) out += FaintBin(bins[i]);
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < bins.size() && Full(bins[j])) ++j;
      out += BandStretch(i, j);
      i = j;
    }
    return out;
  }

  // The spans in which the R/W was gone, shaded behind the rest.
  std::string Losses() const {
    std::string out;
    for (const auto &[from, to] : series_.lossSpans) {
      double left = X(static_cast<double>(std::max(from, t0_)));
      double right = X(static_cast<double>(std::min(std::max(to, from + 1), t1_)));
      if (right < left) continue;
      out += "<rect class=\"loss\" x=\"" + Number(left) + "\" y=\"" + Number(kTop) + "\" width=\"" +
             Number(std::max(right - left, 1.5)) + "\" height=\"" + Number(kPlotHeight) +
             "\" fill=\"" + svg::kLossColour + "\"><title>R/W gone from " + FormatWallClock(from) +
             " to " + FormatWallClock(to) + "</title></rect>\n";
    }
    return out;
  }

  // Reconnections as triangles along the foot (red when one failed), stops
  // as dashed lines.
  std::string Marks() const {
    std::string out;
    for (const SeriesBin &b : series_.bins) {
      double cx = BinCentre(b);
      if (b.reconnections > 0) {
        const char *colour = b.failedReconnections > 0 ? svg::kAlertColour : svg::kMutedColour;
        out += "<path class=\"reconnect\" d=\"M" + Number(cx) + " " + Number(kTop + kPlotHeight) +
               " l-4 -8 h8 z\" fill=\"" + colour + "\"><title>" + std::to_string(b.reconnections) +
               " reconnections, " + std::to_string(b.failedReconnections) +
               " failed</title></path>\n";
      }
      if (b.stops > 0) {
        out += "<line class=\"stop\" x1=\"" + Number(cx) + "\" y1=\"" + Number(kTop) + "\" x2=\"" +
               Number(cx) + "\" y2=\"" + Number(kTop + kPlotHeight) + "\" stroke=\"" +
               svg::kAlertColour + "\" stroke-dasharray=\"4 3\"><title>" + std::to_string(b.stops) +
               " stop(s)</title></line>\n";
      }
    }
    return out;
  }

  static std::string Legend() {
    return svg::Text(kLeft + kPlotWidth, kTop - 8, "end",
                     "line: rate per bin; band: 95 % interval; faint: few attempts; shaded: R/W "
                     "gone; triangles: reconnections (red: one failed); dashed: stop") +
           "\n";
  }

 private:
  double X(double seconds) const {
    return kLeft +
           (seconds - static_cast<double>(t0_)) / static_cast<double>(t1_ - t0_) * kPlotWidth;
  }
  double Y(double rate) const { return kTop + (100 - rate) / (100 - low_) * kPlotHeight; }
  double BinCentre(const SeriesBin &bin) const {
    return X(static_cast<double>(bin.startSeconds) + static_cast<double>(binSeconds_) / 2.0);
  }

  bool Full(const SeriesBin &bin) const { return bin.attempts > 0 && bin.attempts >= few_; }
  // A rate on the plot, held at its foot when it lies below the axis.
  double YOnPlot(double rate) const { return Y(std::max(rate, low_)); }

  std::string FaintBin(const SeriesBin &b) const {
    double cx = BinCentre(b);
    return "<g class=\"few\" opacity=\"0.35\"><title>" + std::to_string(b.successes) + " of " +
           std::to_string(b.attempts) + " attempts</title>" +
           svg::Line(cx, YOnPlot(b.interval.low), cx, YOnPlot(b.interval.high), svg::kBandColour,
                     " stroke-width=\"3\"") +
           "<circle cx=\"" + Number(cx) + "\" cy=\"" + Number(YOnPlot(b.ratePercent)) +
           "\" r=\"3\" fill=\"" + svg::kPooledColour + "\"/></g>\n";
  }

  // The band and line over bins [first, last), which all have attempts
  // enough.
  std::string BandStretch(std::size_t first, std::size_t last) const {
    std::string upper, line;
    std::vector<std::string> lower;
    for (std::size_t k = first; k < last; ++k) {
      const SeriesBin &b = series_.bins[k];
      double cx = BinCentre(b);
      upper += Number(cx) + "," + Number(Y(b.interval.high)) + " ";
      lower.push_back(Number(cx) + "," + Number(Y(b.interval.low)) + " ");
      line += Number(cx) + "," + Number(Y(b.ratePercent)) + " ";
    }
    for (auto it = lower.rbegin(); it != lower.rend(); ++it) upper += *it;
    return "<polygon class=\"band\" points=\"" + upper + "\" fill=\"" + svg::kIntervalColour +
           "\" fill-opacity=\"0.3\" stroke=\"" + svg::kBandColour +
           "\"/>\n<polyline class=\"rate\" points=\"" + line + "\" fill=\"none\" stroke=\"" +
           svg::kPooledColour + "\" stroke-width=\"2\"/>\n";
  }

  const Series &series_;
  std::int64_t binSeconds_;
  std::int64_t t0_, t1_;  // the span of the bins, wall-clock seconds
  long long few_;         // bins with fewer attempts are faint
  double low_ = 0, step_ = 1;
};

}  // namespace

std::string SeriesSvg(const Series &series, std::int64_t binSeconds, int index) {
  if (series.bins.empty()) return "";
  SeriesChart chart(series, binSeconds);
  std::string label = "success rate over time, bins of " + std::to_string(binSeconds) + " s";
  return svg::Open("series-" + std::to_string(index), "series", kWidth, kHeight, 12, label) +
         chart.Losses() + chart.RateAxis() + chart.TimeAxis() + chart.Band() + chart.Marks() +
         SeriesChart::Legend() + "</svg>\n";
}
