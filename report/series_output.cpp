// The soak series as text, as CSV and as an SVG chart.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/csv_cells.h"
#include "report/log_event.h"
#include "report/report_output.h"
#include "report/series.h"

namespace {

const char *const kSeriesCsvKeys[] = {
    "group",    "bin_start",    "bin_seconds", "attempts", "successes",     "rate",
    "rate_low", "rate_high",    "p50_ms",      "p99_ms",   "reconnections", "failed_reconnections",
    "stops",    "loss_attempts"};

std::string Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ms(std::int64_t us) { return Format("%.1f", static_cast<double>(us) / 1000.0); }

std::string FailureText(const SeriesBin &bin) {
  const std::vector<std::string> &classes = logread::FailureClasses();
  std::string out;
  for (std::size_t i = 1; i < classes.size() && i < bin.failures.size(); ++i) {
    if (bin.failures[i] == 0) continue;
    out += (out.empty() ? "" : "; ") + classes[i] + " " + std::to_string(bin.failures[i]);
  }
  return out;
}

std::string Padded(const std::string &text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string SeriesTitle(const Series &series) {
  return series.label == "-" ? std::string("runs without tag")
         : series.label.find_first_not_of("0123456789") == std::string::npos
             ? "tag " + series.label
             : Printable(series.label);
}

}  // namespace

std::string FormatWallClock(std::int64_t seconds) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  std::int64_t rest = seconds - days * 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t dayOfEra = z - era * 146097;
  std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t mp = (5 * dayOfYear + 2) / 153;
  int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  long long year = yearOfEra + era * 400 + (month <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", year, month, day,
                static_cast<int>(rest / 3600), static_cast<int>(rest % 3600 / 60),
                static_cast<int>(rest % 60));
  return text;
}

std::string SeriesText(const SeriesSet &set) {
  std::string out;
  for (const Series &series : set.series) {
    out += "\nseries of " + SeriesTitle(series) + " (bins of " + std::to_string(set.binSeconds) +
           " s" + (set.automatic ? ", chosen from the span" : "") + "; latency in ms):\n";
    out +=
        "bin start (UTC)       attempts  successes   rate%  95%low 95%high    p50    p99"
        "  reconn  stops  failures\n";
    for (const SeriesBin &bin : series.bins) {
      if (bin.seconds > set.binSeconds) {
        out += FormatWallClock(bin.startSeconds) + " to " +
               FormatWallClock(bin.startSeconds + bin.seconds) + ": no events (" +
               std::to_string(bin.seconds / set.binSeconds) + " bins)\n";
        continue;
      }
      bool any = bin.attempts > 0;
      out += FormatWallClock(bin.startSeconds) + Padded(std::to_string(bin.attempts), 10) +
             Padded(std::to_string(bin.successes), 11) +
             Padded(any ? Format("%.2f", bin.ratePercent) : "-", 8) +
             Padded(any ? Format("%.2f", bin.interval.low) : "-", 8) +
             Padded(any ? Format("%.2f", bin.interval.high) : "-", 8) +
             Padded(any ? Ms(bin.p50Us) : "-", 7) + Padded(any ? Ms(bin.p99Us) : "-", 7) +
             Padded(std::to_string(bin.reconnections), 8) + Padded(std::to_string(bin.stops), 7) +
             "  " + FailureText(bin) +
             (bin.lossAttempts > 0
                  ? "; R/W gone for " + CountOf(bin.lossAttempts, "attempt", "attempts")
                  : "") +
             "\n";
      if (bin.failedReconnections > 0) {
        out += "  " + std::to_string(bin.failedReconnections) + " reconnection(s) failed\n";
      }
    }
    out += series.trendSentence + "\n";
  }
  return out;
}

std::string SeriesCsv(const SeriesSet &set) {
  const std::vector<std::string> &classes = logread::FailureClasses();
  std::vector<std::string> header(std::begin(kSeriesCsvKeys), std::end(kSeriesCsvKeys));
  for (const std::string &column : FailureColumns()) header.push_back(column);
  std::string out = CsvLine(header);
  for (const Series &series : set.series) {
    // Runs without tag have an empty group, as in the other tables.
    std::string group = series.label == "-" ? "" : series.label;
    for (const SeriesBin &bin : series.bins) {
      bool any = bin.attempts > 0;
      auto defined = [any](const std::string &text) { return any ? text : std::string(); };
      std::vector<std::string> cells = {group,
                                        FormatWallClock(bin.startSeconds),
                                        std::to_string(bin.seconds),
                                        std::to_string(bin.attempts),
                                        std::to_string(bin.successes),
                                        defined(Format("%.4f", bin.ratePercent)),
                                        defined(Format("%.4f", bin.interval.low)),
                                        defined(Format("%.4f", bin.interval.high)),
                                        defined(Ms(bin.p50Us)),
                                        defined(Ms(bin.p99Us)),
                                        std::to_string(bin.reconnections),
                                        std::to_string(bin.failedReconnections),
                                        std::to_string(bin.stops),
                                        std::to_string(bin.lossAttempts)};
      for (std::size_t i = 1; i < classes.size(); ++i) {
        cells.push_back(std::to_string(i < bin.failures.size() ? bin.failures[i] : 0));
      }
      out += CsvLine(cells);
    }
  }
  return out;
}
