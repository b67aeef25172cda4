#include "app/rwstation/view.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "report/run_stats.h"

namespace {

std::string Format(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string StateText(const ReaderProgress &p) {
  std::string state = StateName(p.state);
  if (p.state == ReaderState::kFailed || p.state == ReaderState::kStopping ||
      p.state == ReaderState::kEnded) {
    if (!p.cause.empty()) state += " (" + p.cause + ")";
  } else if (!p.cause.empty() && p.state != ReaderState::kPolling) {
    state += " (" + p.cause + ")";
  }
  return state;
}

std::string Cut(std::string line, int columns) {
  if (columns > 0 && line.size() > static_cast<std::size_t>(columns)) line.resize(columns);
  return line;
}

}  // namespace

std::string RateText(long long successes, long long attempts) {
  if (attempts <= 0) return "-";
  Interval interval = WilsonInterval(successes, attempts);
  return Format("%.2f %% [%.2f, %.2f]", 100.0 * successes / attempts, 100.0 * interval.low,
                100.0 * interval.high);
}

std::vector<std::string> TableLines(const std::vector<ReaderRow> &rows, int columns, int maxLines) {
  int nameWidth = 6, portWidth = 4, stateWidth = 12;
  for (const ReaderRow &row : rows) {
    nameWidth = std::max(nameWidth, static_cast<int>(row.reader->name.size()));
    portWidth = std::max(portWidth, static_cast<int>(row.reader->port.size()));
    stateWidth = std::max(stateWidth, static_cast<int>(StateText(*row.progress).size()));
  }
  portWidth = std::min(portWidth, 24);
  stateWidth = std::min(stateWidth, 40);
  std::vector<std::string> lines;
  lines.push_back(
      Cut(Format("%-*s %-*s %-*s %5s %9s  %-26s %-*s %s", nameWidth, "reader", portWidth, "port",
                 stateWidth, "state", "runs", "attempts", "rate (95 % interval)",
                 static_cast<int>(kMarksShown), "marks", "failures"),
          columns));
  // What does not fit is left out, failed readers last of all.
  std::size_t room = rows.size();
  if (maxLines > 0) room = std::min(room, static_cast<std::size_t>(std::max(maxLines - 2, 0)));
  std::vector<ReaderRow> shown = rows;
  std::stable_partition(shown.begin(), shown.end(), [&](const ReaderRow &row) {
    return room < rows.size() && row.progress->state == ReaderState::kFailed;
  });
  shown.resize(room);
  for (const ReaderRow &row : shown) {
    const ReaderProgress &p = *row.progress;
    lines.push_back(Cut(
        Format("%-*s %-*.*s %-*.*s %5d %9lld  %-26s %-*s %s", nameWidth, row.reader->name.c_str(),
               portWidth, portWidth, row.reader->port.c_str(), stateWidth, stateWidth,
               StateText(p).c_str(), p.runs, p.attempts, RateText(p.successes, p.attempts).c_str(),
               static_cast<int>(kMarksShown), p.lastMarks.c_str(), FailureSummary(p).c_str()),
        columns));
  }
  long long attempts = 0, successes = 0;
  int runs = 0, failed = 0, active = 0;
  for (const ReaderRow &row : rows) {
    const ReaderProgress &p = *row.progress;
    attempts += p.attempts;
    successes += p.successes;
    runs += p.runs;
    failed += p.state == ReaderState::kFailed;
    active += p.state != ReaderState::kFailed && p.state != ReaderState::kEnded;
  }
  std::string summary = Format("%d running, %d failed", active, failed);
  if (room < rows.size()) summary += Format(", %zu not shown", rows.size() - room);
  lines.push_back(
      Cut(Format("%-*s %-*s %-*s %5d %9lld  %s", nameWidth, "total", portWidth, "", stateWidth,
                 summary.c_str(), runs, attempts, RateText(successes, attempts).c_str()),
          columns));
  return lines;
}

std::string RunLine(const ReaderRow &row) {
  const ReaderProgress &p = *row.progress;
  std::string line =
      Format("%s run %d: %lld/%lld; so far %d runs, %lld/%lld, %s", row.reader->name.c_str(),
             p.lastRun.run, p.lastRun.successes, p.lastRun.attempts, p.runs, p.successes,
             p.attempts, RateText(p.successes, p.attempts).c_str());
  std::string failures = FailureSummary(p);
  return failures.empty() ? line : line + "; failures: " + failures;
}

std::string EndLine(const ReaderRow &row) {
  const ReaderProgress &p = *row.progress;
  return Format("%s %s: %d runs, %lld/%lld, %s%s", row.reader->name.c_str(), StateText(p).c_str(),
                p.runs, p.successes, p.attempts, RateText(p.successes, p.attempts).c_str(),
                p.closeSent ? ", close command sent" : "");
}
