#include "app/rwreport/report_output.h"

#include <cstdio>

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

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + cells[i];
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
