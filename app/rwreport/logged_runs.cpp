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

long long Number(const eventlog::Fields &fields, const char *key) {
  auto it = fields.find(key);
  return it == fields.end() ? 0 : std::strtoll(it->second.c_str(), nullptr, 10);
}

std::string Text(const eventlog::Fields &fields, const char *key) {
  auto it = fields.find(key);
  return it == fields.end() ? "" : it->second;
}

class LogReader {
 public:
  LogReader(const std::string &file, std::vector<LoggedRun> *runs, std::vector<std::string> *notes)
      : file_(file), runs_(runs), notes_(notes) {}

  void Take(const eventlog::Fields &event, int line) {
    const std::string kind = Text(event, "ev");
    if (kind == "start") {
      NoteUnfinished();
      tool_ = Text(event, "tool");
      open_ = OpenRun{};
    } else if (kind == "attempt") {
      TakeAttempt(event);
    } else if (kind == "run") {
      TakeRun(event, line);
    }
  }
  void End() { NoteUnfinished(); }

 private:
  void TakeAttempt(const eventlog::Fields &event) {
    int run = static_cast<int>(Number(event, "run"));
    if (run != open_.run) {
      NoteUnfinished();
      open_ = OpenRun{};
      open_.run = run;
    }
    ++open_.attempts;
    std::string failure = Text(event, "failure");
    if (failure != "none") ++open_.failures[failure];
    open_.latenciesUs.push_back(Number(event, "us"));
  }

  void TakeRun(const eventlog::Fields &event, int line) {
    LoggedRun run;
    run.file = file_;
    run.line = line;
    run.tool = tool_;
    run.run = static_cast<int>(Number(event, "run"));
    run.record.successes = static_cast<int>(Number(event, "successes"));
    run.record.attempts = static_cast<int>(Number(event, "attempts"));
    run.record.rate = std::strtod(Text(event, "rate").c_str(), nullptr);
    int tag = static_cast<int>(Number(event, "tag"));
    run.record.tagged = tag != -1;
    run.record.tag = run.record.tagged ? tag : 0;
    if (open_.run == run.run) {
      run.failures = open_.failures;
      run.latenciesUs = open_.latenciesUs;
    }
    runs_->push_back(run);
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
    reader.Take(event, line);
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
