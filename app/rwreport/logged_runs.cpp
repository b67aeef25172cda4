#include "app/rwreport/logged_runs.h"

#include <algorithm>
#include <cstdlib>

#include "link/event_log.h"

namespace {

// The attempts of the run in progress of one tool start.
struct OpenRun {
  int run = 0;
  int attempts = 0;
  std::map<std::string, int> failures;
  std::vector<std::int64_t> latenciesUs;
};

// A field that must be there and be a whole number (or, with `fraction`, a
// decimal number).
bool StrictNumber(const eventlog::Fields &fields, const char *key, bool fraction, double *value,
                  std::string *error) {
  auto it = fields.find(key);
  if (it == fields.end()) {
    *error = std::string("no \"") + key + "\"";
    return false;
  }
  const std::string &text = it->second;
  char *end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  bool whole = text.find_first_of(".eE") == std::string::npos;
  if (text.empty() || *end != '\0' || (!fraction && !whole)) {
    *error = std::string("\"") + key + "\" is not a number: " + text;
    return false;
  }
  return true;
}

std::string Text(const eventlog::Fields &fields, const char *key) {
  auto it = fields.find(key);
  return it == fields.end() ? "" : it->second;
}

class LogReader {
 public:
  LogReader(const std::string &file, std::vector<LoggedRun> *runs, std::vector<std::string> *notes)
      : file_(file), runs_(runs), notes_(notes) {}

  // Returns false, with the reason, for a run whose figures do not hold.
  bool Take(const eventlog::Fields &event, int line, std::string *error) {
    const std::string kind = Text(event, "ev");
    if (kind == "start") {
      NoteUnfinished();
      tool_ = Text(event, "tool");
      open_ = OpenRun{};
    } else if (kind == "stop") {
      NoteStopped(Text(event, "reason"));
    } else if (kind == "attempt") {
      return TakeAttempt(event, error);
    } else if (kind == "run") {
      return TakeRun(event, line, error);
    }
    return true;
  }
  void End() { NoteUnfinished(); }

 private:
  bool TakeAttempt(const eventlog::Fields &event, std::string *error) {
    double run = 0, us = 0;
    if (!StrictNumber(event, "run", false, &run, error) ||
        !StrictNumber(event, "us", false, &us, error)) {
      return false;
    }
    if (static_cast<int>(run) != open_.run) {
      NoteUnfinished();
      open_ = OpenRun{};
      open_.run = static_cast<int>(run);
    }
    ++open_.attempts;
    std::string failure = Text(event, "failure");
    if (failure != "none") ++open_.failures[failure];
    open_.latenciesUs.push_back(static_cast<std::int64_t>(us));
    return true;
  }

  bool TakeRun(const eventlog::Fields &event, int line, std::string *error) {
    LoggedRun run;
    run.file = file_;
    run.line = line;
    run.tool = tool_;
    double number[5];
    const char *keys[5] = {"run", "successes", "attempts", "rate", "tag"};
    for (int i = 0; i < 5; ++i) {
      if (!StrictNumber(event, keys[i], i == 3, &number[i], error)) return false;
      if (i != 3 && (number[i] < -1 || number[i] > 2147483647)) {
        *error = std::string("\"") + keys[i] + "\" is out of range";
        return false;
      }
    }
    run.run = static_cast<int>(number[0]);
    run.record.successes = static_cast<int>(number[1]);
    run.record.attempts = static_cast<int>(number[2]);
    run.record.rate = number[3];
    int tag = static_cast<int>(number[4]);
    run.record.tagged = tag != -1;
    run.record.tag = run.record.tagged ? tag : 0;
    if (const char *problem = RecordFiguresProblem(run.record)) {
      *error = problem;
      return false;
    }
    if (open_.run == run.run) {
      run.failures = open_.failures;
      run.latenciesUs = open_.latenciesUs;
    }
    runs_->push_back(run);
    open_ = OpenRun{};
    return true;
  }

  // A run cut short in single-run mode has no figures by design.
  void NoteStopped(const std::string &reason) {
    if (open_.attempts == 0) return;
    notes_->push_back(file_ + ": run " + std::to_string(open_.run) + " of " + tool_ +
                      " was stopped (" + reason + ") after " + std::to_string(open_.attempts) +
                      " attempts without figures (a single run stopped after a card gives "
                      "none); left out");
    open_ = OpenRun{};
  }

  void NoteUnfinished() {
    if (open_.attempts == 0) return;
    notes_->push_back(file_ + ": run " + std::to_string(open_.run) + " of " + tool_ + " has " +
                      std::to_string(open_.attempts) +
                      " attempts but no figures (the tool was killed?); left out");
    open_ = OpenRun{};
  }

  std::string file_;
  std::vector<LoggedRun> *runs_;
  std::vector<std::string> *notes_;
  std::string tool_;
  OpenRun open_;
};

}  // namespace

bool LooksLikeEventLog(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string::npos && text[first] == '{';
}

bool ParseLoggedRuns(const std::string &text, const std::string &file, std::vector<LoggedRun> *runs,
                     std::vector<std::string> *notes, std::string *error) {
  LogReader reader(file, runs, notes);
  int line = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++line;
    std::string_view content(text.data() + start, end - start);
    start = end + 1;
    if (content.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    eventlog::Fields event;
    std::string why;
    if (!eventlog::ParseLine(content, &event, &why)) {
      *error = file + ":" + std::to_string(line) + ": not an event: " + why;
      return false;
    }
    if (!reader.Take(event, line, &why)) {
      *error = file + ":" + std::to_string(line) + ": " + why;
      return false;
    }
  }
  reader.End();
  return true;
}

std::int64_t NearestRank(std::vector<std::int64_t> values, int percent) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  // The rank is ceil(percent x count / 100), in integers.
  std::size_t rank = (static_cast<std::size_t>(percent) * values.size() + 99) / 100;
  rank = std::max<std::size_t>(rank, 1);
  return values[std::min(rank, values.size()) - 1];
}

std::vector<RecordedRun> AsRecordedRuns(const std::vector<LoggedRun> &runs) {
  std::vector<RecordedRun> out;
  for (const LoggedRun &run : runs) {
    RecordPosition position;
    position.line = run.line;
    out.push_back(RecordedRun{run.file, position, run.record});
  }
  return out;
}
