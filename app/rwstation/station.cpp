#include "app/rwstation/station.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/rwstation/view.h"
#include "platform/platform.h"
#include "report/csv_cells.h"

namespace {

constexpr int kTickMs = 250;
constexpr int kTicksPerRedraw = 2;
// The wait before a lost reader is started again: 1 s, doubled for each
// start that could not reach its R/W, at most 30 s.
constexpr int kFirstBackOffSeconds = 1;
constexpr int kLongestBackOffSeconds = 30;
// How long an ended tool's log that cannot be opened is tried again: 10 s.
constexpr int kUnreadTicks = 40;
// The notes a terminal gets below the table at the end.
constexpr std::size_t kNotesKept = 100;

// The command as the station's output shows it: keys are not shown.
std::string CommandText(const std::string &program, const std::vector<std::string> &args) {
  std::string text = program;
  for (std::size_t i = 0; i < args.size(); ++i) {
    bool key = i > 0 && (args[i - 1] == "ka" || args[i - 1] == "kb") && i % 2 == 1;
    text += " " + (key ? std::string("(key)") : args[i]);
  }
  return text;
}

// What ended a tool whose R/W is gone: the cause its log gave, and its
// status.
std::string EndCause(const StationReader &reader) {
  int status = reader.child.exitStatus;
  std::string text = status > 128 ? "ended by signal " + std::to_string(status - 128)
                                  : "exit status " + std::to_string(status);
  return reader.progress.cause.empty() ? text : reader.progress.cause + ", " + text;
}

std::string SessionFolderName() {
  std::time_t now = std::time(nullptr);
  char name[64] = "station";
  if (const std::tm *local = std::localtime(&now))
    std::strftime(name, sizeof name, "station-%Y%m%d-%H%M%S", local);
  return name;
}

}  // namespace

std::vector<std::string> ToolArguments(const StationReader &reader) {
  std::vector<std::string> args = reader.plan.words;
  args.insert(args.end(), {"f", reader.resultPath, "log", reader.logPath});
  return args;
}

double StationClock() {
  platform::ClockReading clock = platform::ReadClock();
  return static_cast<double>(clock.seconds) + clock.milliseconds / 1000.0;
}

std::string ReportPage(const std::string &folder) {
  return folder + platform::PathSeparator() + "report.html";
}

std::string ReportText(const std::string &folder) {
  return folder + platform::PathSeparator() + "report.txt";
}

std::string ReportJunit(const std::string &folder) {
  return folder + platform::PathSeparator() + "junit.xml";
}

std::string MakeSessionFolder(std::string *error) {
  std::string name = SessionFolderName();
  std::string folder = name;
  for (int n = 2; n < 1000; ++n) {
    switch (platform::MakeNewFolder(folder, error)) {
      case platform::NewFolder::kMade: return folder;
      case platform::NewFolder::kFailed: return "";
      case platform::NewFolder::kTaken: break;
    }
    folder = name + "-" + std::to_string(n);
  }
  *error = name + ": every name up to " + folder + " is taken";
  return "";
}

Station::Station(const Plan &plan, SessionSettings settings) : settings_(std::move(settings)) {
  std::string prefix = settings_.folder + platform::PathSeparator();
  for (const PlannedReader &planned : plan.readers) {
    StationReader reader;
    reader.plan = planned;
    reader.resultPath = prefix + planned.name + ".txt";
    reader.logPath = prefix + planned.name + ".log";
    reader.consolePath = prefix + planned.name + ".out";
    reader.log = std::make_unique<LogFollower>(reader.logPath);
    readers_.push_back(std::move(reader));
  }
}

std::vector<std::string> Station::SessionFiles() const {
  std::vector<std::string> paths{ReportPage(settings_.folder), ReportText(settings_.folder),
                                 ReportJunit(settings_.folder)};
  for (const StationReader &reader : readers_)
    paths.insert(paths.end(), {reader.resultPath, reader.logPath, reader.consolePath});
  return paths;
}

bool Station::CheckFolder(std::string *error) const {
  for (const std::string &path : SessionFiles()) {
    if (platform::PathExists(path)) {
      *error = path + " exists already: give a new session folder";
      return false;
    }
  }
  return true;
}

bool Station::CreateReaderFiles(std::string *error) const {
  for (const StationReader &reader : readers_) {
    for (const std::string *path : {&reader.resultPath, &reader.logPath, &reader.consolePath}) {
      if (!platform::CreateNewFile(*path, error)) return false;
    }
  }
  return true;
}

void Station::Say(const std::string &line) {
  if (settings_.terminal) {
    // A night of a cable that comes and goes would fill the screen at the
    // end: the latest notes are kept, the others counted.
    if (notes_.size() == kNotesKept) {
      notes_.pop_front();
      ++notesLeftOut_;
    }
    notes_.push_back(Printable(line));
  } else {
    std::printf("%s\n", Printable(line).c_str());
  }
}

bool Station::Start(StationReader &reader, std::string *error) {
  std::string program = platform::FindProgram(platform::ExecutableName(reader.plan.tool),
                                              platform::OwnProgramFolder());
  std::vector<std::string> args = ToolArguments(reader);
  if (program.empty()) {
    *error = reader.plan.tool + " not found beside rwstation or on the PATH";
    return false;
  }
  if (!platform::StartChild(program, args, reader.consolePath, true, &reader.child, error))
    return false;
  reader.exitPending = true;
  reader.unreadTicks = 0;
  reader.progress.stopAsked = false;
  reader.episodesAtStart = reader.progress.losses.Episodes().size();
  ++reader.starts;
  if (!settings_.terminal) {
    Say(reader.plan.name + (reader.starts > 1 ? " started again: " : " started: ") +
        CommandText(reader.plan.tool, args));
  }
  return true;
}

// Applies the exit once, whoever reaped the child (this tick or the stop
// deadline's check).
void Station::Follow(StationReader &reader) {
  bool ended = platform::ChildEnded(&reader.child);
  bool wasLost = reader.progress.losses.Lost();
  // The log is read after the end is seen, so that its last lines count.
  reader.log->ReadNew([&](std::string_view line) {
    if (ApplyLine(line, parser_, &reader.progress) && !settings_.terminal)
      Say(RunLine(ReaderRow{&reader.plan, &reader.progress}));
  });
  if (wasLost && !reader.progress.losses.Lost() && !settings_.terminal) {
    const rwloss::LossEpisode &episode = reader.progress.losses.Episodes().back();
    Say(reader.plan.name + " has its R/W again after " + ShortDuration(episode.Seconds()) +
        ": polling");
  }
  if (!ended || !reader.exitPending) return;
  // A log that could not be opened just now (descriptors ran out) is read
  // again on the next ticks before the end is settled: a reader is judged by
  // all it recorded.
  if (!reader.log->Problem().empty() && ++reader.unreadTicks < kUnreadTicks) return;
  reader.exitPending = false;
  OnToolEnd(reader);
}

void Station::OnToolEnd(StationReader &reader) {
  ReaderRow row{&reader.plan, &reader.progress};
  if (!reader.log->Problem().empty()) {
    reader.progress.state = ReaderState::kFailed;
    reader.progress.cause =
        "cannot read its event log " + reader.logPath + ": " + reader.log->Problem();
    if (!settings_.terminal) Say(EndLine(row));
    return;
  }
  switch (ApplyExit(reader.child.exitStatus, &reader.progress)) {
    case ToolEnd::kDone:
      if (reader.plan.singleRun) JudgeSingleRun(&reader.progress);
      break;
    case ToolEnd::kFailed: break;
    case ToolEnd::kLost:
      if (settings_.retry && !reader.plan.singleRun && !stopping_) {
        WaitForPort(reader, EndCause(reader));
        return;
      }
      GiveUpLost(&reader.progress);
      break;
  }
  if (!settings_.terminal) Say(EndLine(row));
}

// Its tool ended with the R/W gone (or could not be started): the reader is
// started again once its port is there, no sooner than the back-off, which
// doubles while starts do not bring the R/W back.
void Station::WaitForPort(StationReader &reader, const std::string &why) {
  bool stillTheSameLoss = reader.backOffSeconds > 0 &&
                          reader.progress.losses.Episodes().size() == reader.episodesAtStart;
  reader.backOffSeconds = stillTheSameLoss
                              ? std::min(2 * reader.backOffSeconds, kLongestBackOffSeconds)
                              : kFirstBackOffSeconds;
  reader.waiting = true;
  reader.nextStart = StationClock() + reader.backOffSeconds;
  Say(reader.plan.name + " " + StateText(reader.progress) + ": " + why +
      "; starting it again when " + reader.plan.device + " is there, in " +
      std::to_string(reader.backOffSeconds) + " s at the earliest");
}

// Before a tool appends to a reader's files again: they are still the plain
// files the station made, not links put in their place meanwhile.
bool Station::OwnFilesIntact(const StationReader &reader, std::string *which) const {
  for (const std::string *path : {&reader.resultPath, &reader.logPath, &reader.consolePath}) {
    if (!platform::IsPlainFile(*path)) {
      *which = *path;
      return false;
    }
  }
  return true;
}

void Station::StartAgainIfDue(StationReader &reader) {
  if (!reader.waiting || StationClock() < reader.nextStart) return;
  if (!platform::DevicePresent(reader.plan.device)) return;  // checked again next tick
  reader.waiting = false;
  std::string file;
  if (!OwnFilesIntact(reader, &file)) {
    GiveUpLost(&reader.progress);
    reader.progress.cause = file + " is no longer the file the station made";
    Say(reader.plan.name + " failed: " + reader.progress.cause + "; not started again");
    return;
  }
  // A start that fails counts as one that could not reach the R/W.
  std::string error;
  if (!Start(reader, &error)) {
    reader.episodesAtStart = reader.progress.losses.Episodes().size();
    WaitForPort(reader, "cannot start: " + error);
  }
}

void Station::StopAll() {
  Say("rwstation: stopping every reader");
  for (StationReader &reader : readers_) {
    if (reader.waiting) {
      reader.waiting = false;
      GiveUpLost(&reader.progress);
      if (!settings_.terminal) Say(EndLine(ReaderRow{&reader.plan, &reader.progress}));
      continue;
    }
    if (!reader.child.running) continue;
    platform::AskChildToStop(reader.child);
    reader.progress.stopAsked = true;
    if (reader.progress.state != ReaderState::kFailed)
      reader.progress.state = ReaderState::kStopping;
  }
}

void Station::EndLateReaders() {
  for (StationReader &reader : readers_) {
    if (!reader.child.running || platform::ChildEnded(&reader.child)) {
      Follow(reader);  // it ended since this tick's look: its exit still counts
      continue;
    }
    platform::KillChild(&reader.child);
    reader.exitPending = false;  // the verdict is the late end, not the kill's signal
    Follow(reader);
    reader.progress.state = ReaderState::kFailed;
    reader.progress.cause = "did not end in time";
    Say("rwstation: " + reader.plan.name + " did not end within " +
        std::to_string(settings_.stopWaitSeconds) + " s; ended it by force");
  }
}

void Station::Redraw() {
  std::vector<ReaderRow> rows;
  for (const StationReader &reader : readers_) rows.push_back({&reader.plan, &reader.progress});
  // A line as wide as the terminal, or a table as high, would scroll it and
  // spoil the redraw in place.
  int columns = platform::TerminalColumns(), lines = platform::TerminalRows();
  std::vector<std::string> table =
      TableLines(rows, columns > 0 ? std::max(columns - 1, 1) : kNoLimit,
                 lines > 0 ? std::max(lines - 1, 1) : kNoLimit);
  if (drawnLines_ > 0) std::printf("\x1b[%dA", drawnLines_);
  for (const std::string &line : table) std::printf("\r\x1b[2K%s\n", line.c_str());
  std::printf("\x1b[J");  // what a taller table left below
  drawnLines_ = static_cast<int>(table.size());
  std::fflush(stdout);
}

bool Station::DurationOver() const {
  return settings_.durationSeconds > 0 &&
         StationClock() - started_ >= static_cast<double>(settings_.durationSeconds);
}

void Station::Run() {
  std::printf("rwstation: session folder %s\n", Printable(settings_.folder).c_str());
  started_ = StationClock();
  for (StationReader &reader : readers_) {
    std::string error;
    if (Start(reader, &error)) continue;
    reader.progress.state = ReaderState::kFailed;
    reader.progress.cause = "cannot start: " + error;
    Say(reader.plan.name + " failed: " + reader.progress.cause);
  }
  std::fflush(stdout);
  double stopDeadline = 0;
  for (int tick = 0;; ++tick) {
    bool active = false;
    for (StationReader &reader : readers_) {
      Follow(reader);
      if (!stopping_) StartAgainIfDue(reader);
      active = active || reader.child.running || reader.waiting || reader.exitPending;
    }
    bool everyHalfSecond = tick % kTicksPerRedraw == 0;
    if (settings_.terminal && (everyHalfSecond || !active)) Redraw();
    if (settings_.publish && (everyHalfSecond || !active)) settings_.publish(*this);
    std::fflush(stdout);
    if (!active) break;
    if (!stopping_ && (platform::StopRequested() || DurationOver())) {
      if (!platform::StopRequested())
        Say("rwstation: the session's duration of " + settings_.durationText + " has passed");
      stopping_ = true;
      stopDeadline = StationClock() + settings_.stopWaitSeconds;
      StopAll();
    } else if (stopping_ && StationClock() >= stopDeadline) {
      EndLateReaders();
      continue;
    }
    platform::Pause(kTickMs);
  }
  if (notesLeftOut_ > 0) std::printf("rwstation: %zu earlier notes left out\n", notesLeftOut_);
  for (const std::string &note : notes_) std::printf("%s\n", note.c_str());
  std::fflush(stdout);
}
