#include "app/rwreport/report_output.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace {

struct Column {
  const char *heading;
  int width;
};

const Column kColumns[] = {{"tag", 6},   {"runs", 5},   {"attempts", 9}, {"successes", 10},
                           {"rate%", 8}, {"95%low", 8}, {"95%high", 8},  {"mean%", 8},
                           {"sd%", 8},   {"min%", 8},   {"max%", 8},     {"short", 6}};

std::string AlignedLine(const std::vector<std::string> &cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string &cell = cells[i].empty() ? std::string("-") : cells[i];
    int pad = kColumns[i].width - static_cast<int>(cell.size());
    if (i == 0) {
      line += cell + std::string(pad > 0 ? pad : 0, ' ');
    } else {
      line += std::string(pad > 0 ? pad : 0, ' ') + " " + cell;
    }
  }
  return line + "\n";
}

// A cell with a comma or a quote (a file name) is quoted.
std::string CsvCell(const std::string &cell) {
  if (cell.find_first_of(",\"\n") == std::string::npos) return cell;
  std::string out = "\"";
  for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + CsvCell(cells[i]);
  return line + "\n";
}

std::vector<std::string> Headings() {
  std::vector<std::string> out;
  for (const Column &c : kColumns) out.push_back(c.heading);
  return out;
}

std::string ShortRunLines(const Report &report) {
  std::string out;
  for (const GroupStats &g : report.tags) {
    for (const RunInGroup &m : g.members) {
      if (!m.isShort) continue;
      out += "short run: tag " + g.label + ", " + RunPlace(*m.run) + ", " +
             std::to_string(m.run->record.successes) + " of " +
             std::to_string(m.run->record.attempts) + " attempts\n";
    }
  }
  return out;
}

}  // namespace

const char *const kFigureKeys[kFigureCount] = {"tag",  "runs",       "attempts",    "successes",
                                               "rate", "wilson_low", "wilson_high", "mean",
                                               "sd",   "min",        "max",         "short_runs"};

std::vector<std::string> FigureCells(const GroupStats &g) {
  return {g.label,
          std::to_string(g.runs),
          std::to_string(g.attempts),
          std::to_string(g.successes),
          Fixed2(g.pooledPercent),
          Fixed2(g.interval.low),
          Fixed2(g.interval.high),
          Fixed2(g.meanPercent),
          g.sdDefined ? Fixed2(g.sdPercent) : "",
          Fixed2(g.minPercent),
          Fixed2(g.maxPercent),
          std::to_string(g.shortRuns)};
}

std::string Fixed2(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string RunPlace(const RecordedRun &run) {
  return run.file + ":" + std::to_string(run.position.line) + ":" +
         std::to_string(run.position.column);
}

std::string TextReport(const Report &report) {
  std::string out = AlignedLine(Headings());
  for (const GroupStats &g : report.tags) out += AlignedLine(FigureCells(g));
  out += AlignedLine(FigureCells(report.overall));
  return out + ShortRunLines(report);
}

std::string CsvReport(const Report &report) {
  std::vector<std::string> headings(kFigureKeys, kFigureKeys + kFigureCount);
  std::string out = CsvLine(headings);
  for (const GroupStats &g : report.tags) out += CsvLine(FigureCells(g));
  return out + CsvLine(FigureCells(report.overall));
}

const char *const kLoggedRunKeys[kLoggedRunCellCount] = {
    "source", "tool",   "run",    "tag",    "attempts", "successes",
    "rate",   "p50_ms", "p90_ms", "p99_ms", "max_ms",   "failures"};

namespace {

std::string Milliseconds(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(microseconds) / 1000.0);
  return text;
}

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
  bool timed = run.latency.count > 0;
  auto at = [&](int percent) {
    return timed ? Milliseconds(run.latency.AtPercent(percent)) : std::string();
  };
  return {run.file + ":" + std::to_string(run.line),
          run.tool,
          std::to_string(run.run),
          run.record.tagged ? std::to_string(run.record.tag) : "-",
          std::to_string(run.record.attempts),
          std::to_string(run.record.successes),
          Fixed2(run.record.rate),
          at(50),
          at(90),
          at(99),
          at(100),
          FailureList(run.failures)};
}

std::string LoggedRunsText(const std::vector<LoggedRun> &runs) {
  std::string out = "\nruns in event logs (latency in ms):\n";
  for (const LoggedRun &run : runs) {
    std::vector<std::string> cells = LoggedRunCells(run);
    out += cells[0] + "  " + cells[1] + " run " + cells[2] + ", tag " + cells[3] + ": " + cells[5] +
           " of " + cells[4] + " (" + cells[6] + " %)";
    if (!cells[7].empty()) {
      out += ", p50 " + cells[7] + ", p90 " + cells[8] + ", p99 " + cells[9] + ", max " + cells[10];
    }
    out += cells[11].empty() ? "\n" : "; failures: " + cells[11] + "\n";
  }
  return out;
}

std::string LoggedRunsCsv(const std::vector<LoggedRun> &runs) {
  std::string out = "\n" + CsvLine(std::vector<std::string>(kLoggedRunKeys,
                                                            kLoggedRunKeys + kLoggedRunCellCount));
  for (const LoggedRun &run : runs) out += CsvLine(LoggedRunCells(run));
  return out;
}
