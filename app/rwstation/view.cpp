#include "app/rwstation/view.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "report/csv_cells.h"
#include "report/run_stats.h"

namespace {

// printf's format into a string of any length (a cause may hold a long path).
std::string Format(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  return text;
}

// "1st", "2nd", "3rd", "4th", "11th", "21st".
std::string Ordinal(std::size_t n) {
  std::size_t lastTwo = n % 100, last = n % 10;
  const char *suffix = "th";
  if (lastTwo < 11 || lastTwo > 13)
    suffix = last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
  return std::to_string(n) + suffix;
}

// The local time of day, "14:02".
std::string ClockText(std::int64_t unixUs) {
  std::time_t seconds = static_cast<std::time_t>(unixUs / 1000000);
  char text[16] = "?";
  if (const std::tm *local = std::localtime(&seconds))
    std::strftime(text, sizeof text, "%H:%M", local);
  return text;
}

// "since 14:02, 2nd time": the current loss.
std::string LossDetails(const ReaderProgress &p) {
  std::string time = Ordinal(p.losses.Episodes().size()) + " time";
  std::optional<std::int64_t> since = LostSinceUs(p);
  return since ? "since " + ClockText(*since) + ", " + time : time;
}

}  // namespace

std::string RateText(long long successes, long long attempts) {
  if (attempts <= 0) return "-";
  Interval interval = WilsonInterval(successes, attempts);
  return Format("%.2f %% [%.2f, %.2f]", 100.0 * successes / attempts, 100.0 * interval.low,
                100.0 * interval.high);
}

std::string ShortDuration(double seconds) {
  if (seconds > 0 && seconds < 1) return "<1s";
  long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
  if (s < 60) return Format("%llds", s);
  if (s < 3600) return Format("%lldm%02llds", s / 60, s % 60);
  if (s < 86400) return Format("%lldh%02lldm", s / 3600, s % 3600 / 60);
  return Format("%lldd%02lldh", s / 86400, s % 86400 / 3600);
}

std::string LossCell(const ReaderProgress &p) {
  std::size_t episodes = p.losses.Episodes().size();
  if (episodes == 0) return "";
  return Format("%zux %s (%lld)", episodes, ShortDuration(p.losses.LostSeconds()).c_str(),
                p.losses.LossAttempts());
}

std::string CauseText(const ReaderProgress &p) {
  std::string cause = Printable(p.cause);
  if (p.state == ReaderState::kFailed && p.losses.Lost()) cause += " (" + LossDetails(p) + ")";
  return cause;
}

std::string StateText(const ReaderProgress &p) {
  std::string state = StateName(p.state);
  if (p.state == ReaderState::kLost) return state + " (" + LossDetails(p) + ")";
  if (p.cause.empty() || p.state == ReaderState::kPolling) return state;
  return state + " (" + CauseText(p) + ")";
}

namespace {

enum Column { kName, kPort, kState, kRuns, kAttempts, kRate, kLost, kMarks, kFailures, kColumns };

struct ColumnSpec {
  const char *title;
  bool right;         // figures stand right-aligned
  std::size_t most;   // a text cut to this width in reader lines; 0: never cut
  std::size_t tight;  // and to this one when the terminal is too narrow
};

constexpr std::array<ColumnSpec, kColumns> kSpecs = {{{"reader", false, 0, 0},
                                                      {"port", false, 24, 12},
                                                      {"state", false, 40, 24},
                                                      {"runs", true, 0, 0},
                                                      {"attempts", true, 0, 0},
                                                      {"rate (95 % interval)", false, 0, 0},
                                                      {"R/W lost", false, 0, 0},
                                                      {"marks", false, 0, 0},
                                                      {"failures", false, 0, 0}}};

// Which columns go first when a line is too wide.
constexpr std::array<Column, 8> kDropOrder = {kPort, kMarks,    kRuns,  kFailures,
                                              kLost, kAttempts, kState, kRate};

using Cells = std::array<std::string, kColumns>;

// The failure classes of a line, each "no ACK 10": the column shows as many
// whole ones as fit.
struct TableLine {
  Cells cells;
  std::vector<std::string> failures;
  bool reader = false;  // a reader's line, whose texts may be cut
};

std::vector<std::string> FailureItems(const ReaderProgress &p) {
  std::vector<std::string> items;
  std::string summary = FailureSummary(p);
  for (std::size_t start = 0; start < summary.size();) {
    std::size_t end = summary.find(", ", start);
    if (end == std::string::npos) end = summary.size();
    items.push_back(summary.substr(start, end - start));
    start = end + 2;
  }
  return items;
}

// Whole items in `width`, and "..." when some are left out and it fits.
std::string FitItems(const std::vector<std::string> &items, std::size_t width) {
  std::string text;
  std::size_t shown = 0;
  for (; shown < items.size(); ++shown) {
    std::string longer = text.empty() ? items[shown] : text + ", " + items[shown];
    if (longer.size() > width) break;
    text = longer;
  }
  if (shown < items.size()) {
    std::string more = text.empty() ? "..." : text + ", ...";
    if (more.size() <= width) text = more;
  }
  return text;
}

TableLine ReaderLine(const ReaderRow &row) {
  const ReaderProgress &p = *row.progress;
  TableLine line;
  line.cells = {row.reader->name,
                Printable(row.reader->port),
                StateText(p),
                std::to_string(p.runs),
                std::to_string(p.attempts),
                RateText(p.successes, p.attempts),
                LossCell(p),
                p.lastMarks,
                ""};
  line.failures = FailureItems(p);
  line.reader = true;
  return line;
}

TableLine TotalLine(const std::vector<ReaderRow> &rows, std::size_t shown) {
  long long attempts = 0, successes = 0, lossAttempts = 0;
  double lostSeconds = 0;
  std::size_t episodes = 0;
  int runs = 0, failed = 0, running = 0, lost = 0;
  for (const ReaderRow &row : rows) {
    const ReaderProgress &p = *row.progress;
    attempts += p.attempts;
    successes += p.successes;
    runs += p.runs;
    episodes += p.losses.Episodes().size();
    lostSeconds += p.losses.LostSeconds();
    lossAttempts += p.losses.LossAttempts();
    failed += p.state == ReaderState::kFailed;
    lost += p.state == ReaderState::kLost;
    running += p.state != ReaderState::kFailed && p.state != ReaderState::kEnded &&
               p.state != ReaderState::kLost;
  }
  std::string summary = Format("%d running, %d failed", running, failed);
  if (lost > 0) summary += Format(", %d lost R/W", lost);
  if (shown < rows.size()) summary += Format(", %zu not shown", rows.size() - shown);
  std::string losses = episodes == 0 ? ""
                                     : Format("%zux %s (%lld)", episodes,
                                              ShortDuration(lostSeconds).c_str(), lossAttempts);
  TableLine line;
  line.cells = {"total",
                "",
                summary,
                std::to_string(runs),
                std::to_string(attempts),
                RateText(successes, attempts),
                losses,
                "",
                ""};
  return line;
}

// The readers that fit in `room` lines: failed ones first, then those
// without their R/W, when some are left out.
std::vector<ReaderRow> ShownReaders(const std::vector<ReaderRow> &rows, std::size_t room) {
  std::vector<ReaderRow> shown = rows;
  if (room >= rows.size()) return shown;
  auto rank = [](const ReaderRow &row) {
    ReaderState state = row.progress->state;
    return state == ReaderState::kFailed ? 0 : state == ReaderState::kLost ? 1 : 2;
  };
  std::stable_sort(shown.begin(), shown.end(),
                   [&](const ReaderRow &a, const ReaderRow &b) { return rank(a) < rank(b); });
  shown.resize(room);
  return shown;
}

// A text cut to `width` between words, so that a figure in it ("since
// 14:02", "2nd time") is never shown in part.
std::string CutText(const std::string &text, std::size_t width) {
  if (text.size() <= width) return text;
  std::size_t space = text.rfind(' ', width);
  return text.substr(0, space == std::string::npos ? 0 : space);
}

// A port's path cut to `width` from its front: its end tells the devices
// of one folder apart (/dev/serial/by-id/...).
std::string CutPath(const std::string &path, std::size_t width) {
  if (path.size() <= width) return path;
  if (width < 3) return "";
  return ".." + path.substr(path.size() - (width - 2));
}

class Layout {
 public:
  explicit Layout(const std::vector<TableLine> &lines) {
    for (int c = 0; c < kColumns; ++c) {
      widths_[c] = 0;
      for (const TableLine &line : lines) {
        std::size_t size = line.cells[c].size();
        if (line.reader && kSpecs[c].most > 0) size = std::min(size, kSpecs[c].most);
        widths_[c] = std::max(widths_[c], size);
      }
    }
    widths_[kFailures] = std::string(kSpecs[kFailures].title).size();  // fitted per line
    // A narrow terminal cuts the texts of reader lines down to `tight`;
    // titles and the total line stay whole.
    for (int c = 0; c < kColumns; ++c) {
      least_[c] = widths_[c];
      if (kSpecs[c].tight == 0) continue;
      least_[c] = std::string(kSpecs[c].title).size();
      for (const TableLine &line : lines) {
        std::size_t size = line.cells[c].size();
        least_[c] = std::max(least_[c], line.reader ? std::min(size, kSpecs[c].tight) : size);
      }
    }
    bool anyLoss = false;
    for (const TableLine &line : lines) anyLoss = anyLoss || !line.cells[kLost].empty();
    shown_.fill(true);
    shown_[kLost] = anyLoss;
  }

  // Cuts the readers' texts shorter, then leaves out whole columns, until a
  // line fits in `columns`.
  void FitTo(std::size_t columns) {
    columns_ = columns;
    if (Width() <= columns) return;
    for (int c = 0; c < kColumns; ++c) widths_[c] = std::min(widths_[c], least_[c]);
    for (Column c : kDropOrder) {
      if (Width() <= columns) return;
      shown_[c] = false;
    }
  }

  std::string Render(const TableLine &line) const {
    std::string out;
    for (int c = 0; c < kColumns; ++c) {
      if (!shown_[c]) continue;
      if (!out.empty()) out += ' ';
      if (c == kFailures) {
        out += FitItems(line.failures, columns_ > out.size() ? columns_ - out.size() : 0);
        continue;
      }
      // Only texts are longer than their column.
      std::string cell =
          c == kPort ? CutPath(line.cells[c], widths_[c]) : CutText(line.cells[c], widths_[c]);
      std::string pad(widths_[c] - cell.size(), ' ');
      out += kSpecs[c].right ? pad + cell : cell + pad;
    }
    out.erase(out.find_last_not_of(' ') + 1);
    // The name alone may still be too wide: a plain name, cut at the end.
    if (out.size() > columns_) out.resize(columns_);
    return out;
  }

 private:
  std::size_t Width() const {
    std::size_t width = 0;
    for (int c = 0; c < kColumns; ++c) width += shown_[c] ? widths_[c] + (width > 0 ? 1 : 0) : 0;
    return width;
  }

  std::array<std::size_t, kColumns> widths_{};
  std::array<std::size_t, kColumns> least_{};  // the widths when cut down
  std::array<bool, kColumns> shown_{};
  std::size_t columns_ = 0;
};

}  // namespace

std::vector<std::string> TableLines(const std::vector<ReaderRow> &rows, int columns, int maxLines) {
  std::size_t lineRoom = static_cast<std::size_t>(std::max(maxLines, 1));
  bool header = lineRoom >= 2;
  std::size_t readerRoom = lineRoom >= rows.size() + 2 ? rows.size() : (header ? lineRoom - 2 : 0);
  std::vector<TableLine> lines;
  TableLine head;
  for (int c = 0; c < kColumns; ++c) head.cells[c] = kSpecs[c].title;
  head.failures = {kSpecs[kFailures].title};
  lines.push_back(head);
  for (const ReaderRow &row : ShownReaders(rows, readerRoom)) lines.push_back(ReaderLine(row));
  lines.push_back(TotalLine(rows, readerRoom));
  Layout layout(lines);
  layout.FitTo(static_cast<std::size_t>(std::max(columns, 0)));
  std::vector<std::string> out;
  for (std::size_t i = header ? 0 : 1; i < lines.size(); ++i)
    out.push_back(layout.Render(lines[i]));
  return out;
}

std::string RunLine(const ReaderRow &row) {
  const ReaderProgress &p = *row.progress;
  std::string run = Format("%s run %d: %lld/%lld", row.reader->name.c_str(), p.lastRun.run,
                           p.lastRun.successes, p.lastRun.attempts);
  if (p.lastRun.lossAttempts > 0)
    run += Format(" (%lld with the R/W lost)", p.lastRun.lossAttempts);
  std::string line = run + Format("; so far %d runs, %lld/%lld, %s", p.runs, p.successes,
                                  p.attempts, RateText(p.successes, p.attempts).c_str());
  std::string losses = LossCell(p);
  if (!losses.empty()) line += "; R/W lost " + losses;
  std::string failures = FailureSummary(p);
  return failures.empty() ? line : line + "; failures: " + failures;
}

std::string EndLine(const ReaderRow &row) {
  const ReaderProgress &p = *row.progress;
  std::string line =
      Format("%s %s: %d runs, %lld/%lld, %s", row.reader->name.c_str(), StateText(p).c_str(),
             p.runs, p.successes, p.attempts, RateText(p.successes, p.attempts).c_str());
  std::string losses = LossCell(p);
  if (!losses.empty()) line += ", R/W lost " + losses;
  return p.closeSent ? line + ", close command sent" : line;
}
