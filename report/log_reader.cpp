#include "report/log_reader.h"

#include <algorithm>
#include <cstdio>

#include "poll/settings.h"
#include "report/log_event.h"
#include "report/log_line_stream.h"

using logread::EventKind;
using logread::LogEvent;

namespace {

constexpr std::int64_t kUsPerSecond = 1000000;

// The attempts of the run in progress of one tool start.
struct OpenRun {
  int run = 0;
  int attempts = 0;
  int successes = 0;
  int lossAttempts = 0;                   // made while the R/W was gone
  std::vector<int> failures;              // per failure class
  std::vector<std::int64_t> latenciesUs;  // of the card-finding attempts

  void Reset(int number) {
    run = number;
    attempts = successes = lossAttempts = 0;
    failures.assign(logread::FailureClasses().size(), 0);
    latenciesUs.clear();  // keeps its memory for the next run
  }
};

bool SameSetup(const LogSetup &a, const LogSetup &b) {
  return a.tool == b.tool && a.version == b.version && a.port == b.port && a.baud == b.baud &&
         a.des == b.des && a.ackMs == b.ackMs && a.responseMs == b.responseMs;
}

bool Blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

// The reading of one file: the start in force, its run in progress.
class EventLogReader::FileState {
 public:
  FileState(EventLogReader &owner, const std::string &name, const std::string &group)
      : owner_(owner), name_(name), fixedGroup_(group) {
    open_.Reset(0);
  }

  bool Take(const LogEvent &e, int line, std::string *error) {
    bool wasLost = losses_.Lost();
    lossAttempt_ = losses_.Apply(e) == rwloss::AttemptKind::kLoss;
    if (e.kind == EventKind::kStart) TakeStart(e);
    placed_ = anchored_ && PlaceInTime(e, line);
    if (placed_) {
      LogSetup &setup = owner_.setups_[setup_];
      setup.lastWall = std::max(setup.lastWall, FloorSeconds(wallUs_));
    }
    FollowLoss(wasLost);
    switch (e.kind) {
      case EventKind::kOpen:
      case EventKind::kConnect: NoteDevice(e); break;
      case EventKind::kAttempt: TakeAttempt(e); break;
      case EventKind::kRun: return TakeRun(e, line, error);
      case EventKind::kReconnect:
        if (placed_ && owner_.series_) owner_.series_->AddReconnect(group_, wallUs_, e.ok);
        break;
      case EventKind::kStop:
        if (placed_ && owner_.series_) owner_.series_->AddStop(group_, wallUs_);
        NoteStopped(e.reason);
        break;
      default: break;
    }
    return true;
  }

  void End() {
    NoteUnfinished();
    const std::vector<rwloss::LossEpisode> &episodes = losses_.Episodes();
    for (std::size_t i = 0; i < episodes.size(); ++i) {
      LossSpan &span = spans_[i];
      owner_.losses_.push_back(LogLoss{span.group, span.resultInput, episodes[i]});
      if (owner_.series_ && span.placed) {
        owner_.series_->AddLossSpan(span.group, span.fromWallUs, span.toWallUs);
      }
    }
    if (unplaced_ > 0) {
      owner_.notes_.push_back(name_ + ": " + std::to_string(unplaced_) +
                              " attempts have no wall-clock time (no start event with one before "
                              "them, or a time beyond the year 9999); left out of the series");
    }
    if (jumps_ > 0) {
      owner_.notes_.push_back(firstJump_ +
                              (jumps_ > 1 ? " (and " + std::to_string(jumps_ - 1) + " more)" : "") +
                              "; the series shows the time between as one gap");
    }
  }

 private:
  static std::int64_t FloorSeconds(std::int64_t us) {
    return us >= 0 ? us / kUsPerSecond : -((-us + kUsPerSecond - 1) / kUsPerSecond);
  }

  // A span in which the R/W was gone takes the group of the start it began
  // in, and the wall-clock times of the events it covers.
  void FollowLoss(bool wasLost) {
    const std::vector<rwloss::LossEpisode> &episodes = losses_.Episodes();
    if (episodes.size() > spans_.size()) spans_.push_back(LossSpan{group_, resultInput_});
    if (!placed_ || !(wasLost || losses_.Lost())) return;
    LossSpan &span = spans_.back();
    if (!span.placed) span.fromWallUs = wallUs_;
    span.placed = true;
    span.toWallUs = std::max(span.toWallUs, wallUs_);
  }

  // The event's wall-clock time: the start's `wall` plus the monotonic time
  // since it. False when it cannot be placed: a sum beyond 64 bits (a `t`
  // near 2^63) or a time outside what the series places.
  bool PlaceInTime(const LogEvent &e, int line) {
    std::int64_t wall = 0;
    if (__builtin_add_overflow(wallUs0_, e.t - t0_, &wall) || !SeriesBuilder::Placeable(wall)) {
      return false;
    }
    if (haveLast_) NoteJump(wall, e.kind == EventKind::kStart, line);
    haveLast_ = true;
    wallUs_ = lastWallUs_ = wall;
    return true;
  }

  // A clock that jumps: back by more than a minute, forward by more than an
  // hour within one start of the tool (which writes an event at least
  // every second while it runs), or by more than a year at a new start. The
  // first is named, the others counted.
  void NoteJump(std::int64_t wall, bool atStart, int line) {
    constexpr std::int64_t kMinute = 60 * kUsPerSecond, kHour = 3600 * kUsPerSecond;
    constexpr std::int64_t kYear = 366 * 24 * kHour;
    std::int64_t step = wall - lastWallUs_;  // both placed: no overflow
    if (step >= -kMinute && step <= (atStart ? kYear : kHour)) return;
    if (jumps_++ > 0) return;
    char days[32];
    std::snprintf(days, sizeof days, "%.1f",
                  static_cast<double>(step < 0 ? -step : step) / 86400e6);
    firstJump_ = name_ + ":" + std::to_string(line) + ": the clock jumps " +
                 (step < 0 ? "back" : "forward") + " by " + days + " days, from " +
                 FormatWallClock(FloorSeconds(lastWallUs_)) + " to " +
                 FormatWallClock(FloorSeconds(wall));
  }

  void TakeStart(const LogEvent &e) {
    NoteUnfinished();
    open_.Reset(0);
    tool_ = e.tool;
    planned_ = e.attemptsPerRun;
    group_ = !fixedGroup_.empty() ? fixedGroup_ : e.tag < 0 ? "-" : std::to_string(e.tag);
    resultInput_ = owner_.resolveResultFile_ ? owner_.resolveResultFile_(e.resultFile, name_) : -1;
    anchored_ = e.hasWall;
    wallUs0_ = e.wallSeconds * kUsPerSecond;
    t0_ = e.t;
    LogSetup setup;
    setup.file = name_;
    setup.tool = e.tool;
    setup.version = e.toolVersion;
    setup.port = e.port;
    setup.baud = e.baud;
    setup.des = e.des;
    setup.ackMs = e.ackMs;
    setup.responseMs = e.responseMs;
    setup.wallKnown = e.hasWall;
    setup.firstWall = setup.lastWall = e.wallSeconds;
    std::vector<LogSetup> &setups = owner_.setups_;
    if (setupOpen_ && SameSetup(setups[setup_], setup) && setups[setup_].wallKnown == e.hasWall) {
      ++setups[setup_].starts;
    } else {
      setup.starts = 1;
      setups.push_back(setup);
      setup_ = setups.size() - 1;
      setupOpen_ = true;
      deviceFromConnect_ = false;
    }
  }

  // The device of the first connection that worked, else of the first open.
  void NoteDevice(const LogEvent &e) {
    if (!setupOpen_ || !e.ok || deviceFromConnect_) return;
    LogSetup &setup = owner_.setups_[setup_];
    if (e.kind == EventKind::kConnect) {
      setup.device = e.device;
      deviceFromConnect_ = true;
    } else if (setup.device.empty()) {
      setup.device = e.device;
    }
  }

  void TakeAttempt(const LogEvent &e) {
    if (e.run != open_.run) {
      NoteUnfinished();
      open_.Reset(e.run);
    }
    ++open_.attempts;
    open_.successes += e.result == 0;
    open_.lossAttempts += lossAttempt_;
    ++open_.failures[e.failure];
    if (!lossAttempt_ && open_.latenciesUs.size() < static_cast<std::size_t>(kMaxAttemptsPerRun)) {
      open_.latenciesUs.push_back(e.us);
    }
    if (!owner_.series_) return;
    if (placed_) {
      owner_.series_->AddAttempt(group_, wallUs_, e.result == 0, static_cast<std::uint32_t>(e.us),
                                 e.failure, lossAttempt_);
    } else {
      ++unplaced_;
    }
  }

  bool TakeRun(const LogEvent &e, int line, std::string *error) {
    LoggedRun run;
    run.file = name_;
    run.position.line = line;
    run.tool = tool_;
    run.run = e.run;
    run.plannedAttempts = planned_;
    run.resultInput = resultInput_;
    run.record.successes = e.successes;
    run.record.attempts = e.attempts;
    run.record.rate = e.rate;
    run.record.tagged = e.tag != -1;
    run.record.tag = run.record.tagged ? e.tag : 0;
    if (const char *problem = RecordFiguresProblem(run.record)) {
      *error = problem;
      return false;
    }
    if (open_.run != e.run) {
      NoteUnfinished();
      open_.Reset(e.run);
    }
    if (open_.attempts == e.attempts && open_.successes == e.successes) {
      // Loss attempts are failed ones (their port failed).
      run.lossAttempts = std::min(open_.lossAttempts, e.attempts - e.successes);
      const std::vector<std::string> &classes = logread::FailureClasses();
      for (std::size_t i = 1; i < classes.size(); ++i) {
        if (open_.failures[i] > 0) run.failures[classes[i]] = open_.failures[i];
      }
      run.latency = SummarizeLatencies(open_.latenciesUs);
    } else {
      owner_.notes_.push_back(
          name_ + ":" + std::to_string(line) + ": run " + std::to_string(e.run) + " of " + tool_ +
          " has figures of " + std::to_string(e.successes) + " successes in " +
          std::to_string(e.attempts) + " attempts but attempt events of " +
          std::to_string(open_.successes) + " in " + std::to_string(open_.attempts) +
          "; its latencies, failure classes and R/W losses are left out");
    }
    owner_.runs_.push_back(std::move(run));
    open_.Reset(0);
    return true;
  }

  // A run cut short in single-run mode has no figures by design.
  void NoteStopped(const std::string &reason) {
    if (open_.attempts == 0) return;
    owner_.notes_.push_back(name_ + ": run " + std::to_string(open_.run) + " of " + tool_ +
                            " was stopped (" + reason + ") after " +
                            std::to_string(open_.attempts) +
                            " attempts without figures (a single run stopped after a card gives "
                            "none); left out");
    open_.Reset(0);
  }

  void NoteUnfinished() {
    if (open_.attempts == 0) return;
    owner_.notes_.push_back(name_ + ": run " + std::to_string(open_.run) + " of " + tool_ +
                            " has " + std::to_string(open_.attempts) +
                            " attempts but no figures (the tool was killed?); left out");
    open_.Reset(0);
  }

  // Where a span of the R/W's losses belongs and when it was, as far as
  // its events have a wall-clock time.
  struct LossSpan {
    std::string group;
    int resultInput = -1;
    bool placed = false;
    std::int64_t fromWallUs = 0, toWallUs = 0;
  };

  EventLogReader &owner_;
  std::string name_;
  std::string fixedGroup_;
  std::string group_ = "-";
  std::string tool_;
  int planned_ = 0;
  bool anchored_ = false;
  std::int64_t wallUs0_ = 0, t0_ = 0, wallUs_ = 0;
  bool placed_ = false;  // the event in hand has a wall-clock time
  bool haveLast_ = false;
  std::int64_t lastWallUs_ = 0;  // of the last event placed
  long long jumps_ = 0;
  std::string firstJump_;
  int resultInput_ = -1;  // the result file the start in force names, when it is an input
  rwloss::LossTracker losses_;
  bool lossAttempt_ = false;     // the event in hand is an attempt made while the R/W was gone
  std::vector<LossSpan> spans_;  // one per episode of losses_
  bool setupOpen_ = false;
  std::size_t setup_ = 0;
  bool deviceFromConnect_ = false;
  OpenRun open_;
  long long unplaced_ = 0;
};

EventLogReader::EventLogReader(SeriesBuilder *series, std::size_t chunkSize)
    : series_(series), chunkSize_(chunkSize) {}
EventLogReader::~EventLogReader() = default;

bool EventLogReader::Read(std::FILE *in, std::string_view prefix, const std::string &name,
                          const std::string &group, std::string *error) {
  logread::LineStream lines(in, prefix, chunkSize_);
  logread::EventParser parser;
  FileState state(*this, name, group);
  LogEvent event;
  std::string why;
  std::string_view line;
  while (lines.Next(&line)) {
    if (Blank(line)) continue;
    if (!parser.ParseInPlace(lines.MutableLine(), line.size(), &event, &why) ||
        !state.Take(event, lines.LineNumber(), &why)) {
      *error = name + ":" + std::to_string(lines.LineNumber()) + ": " + why;
      return false;
    }
  }
  if (!lines.Error().empty()) {
    *error = name + ": " + lines.Error();
    return false;
  }
  state.End();
  return true;
}
