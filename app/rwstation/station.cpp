#include "app/rwstation/station.h"

#include <cstdio>
#include <ctime>

#include "app/rwstation/view.h"
#include "platform/platform.h"

namespace {

constexpr int kTickMs = 250;
constexpr int kTicksPerRedraw = 2;

double Seconds(const platform::ClockReading &clock) {
  return static_cast<double>(clock.seconds) + clock.milliseconds / 1000.0;
}

double Now() { return Seconds(platform::ReadClock()); }

// The command as the station's output shows it: keys are not shown.
std::string CommandText(const std::string &program, const std::vector<std::string> &args) {
  std::string text = program;
  for (std::size_t i = 0; i < args.size(); ++i) {
    bool key = i > 0 && (args[i - 1] == "ka" || args[i - 1] == "kb") && i % 2 == 1;
    text += " " + (key ? std::string("(key)") : args[i]);
  }
  return text;
}

}  // namespace

std::string ReportPage(const std::string &folder) {
  return folder + platform::PathSeparator() + "report.html";
}

std::string NewSessionFolder() {
  std::time_t now = std::time(nullptr);
  char name[64] = "station";
  if (const std::tm *local = std::localtime(&now))
    std::strftime(name, sizeof name, "station-%Y%m%d-%H%M%S", local);
  std::string folder = name;
  for (int n = 2; platform::PathExists(folder); ++n) folder = name + ("-" + std::to_string(n));
  return folder;
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

bool Station::CheckFolder(std::string *error) const {
  std::vector<std::string> paths{ReportPage(settings_.folder)};
  for (const StationReader &reader : readers_)
    paths.insert(paths.end(), {reader.resultPath, reader.logPath, reader.consolePath});
  for (const std::string &path : paths) {
    if (platform::PathExists(path)) {
      *error = path + " exists already: give a new session folder";
      return false;
    }
  }
  return true;
}

void Station::Say(const std::string &line) {
  if (settings_.terminal) {
    notes_.push_back(line);
  } else {
    std::printf("%s\n", line.c_str());
  }
}

void Station::Start(StationReader &reader) {
  std::string program = platform::FindProgram(platform::ExecutableName(reader.plan.tool),
                                              platform::OwnProgramFolder());
  std::vector<std::string> args = reader.plan.words;
  args.insert(args.end(), {"f", reader.resultPath, "log", reader.logPath});
  std::string error;
  if (program.empty()) {
    error = reader.plan.tool + " not found beside rwstation or on the PATH";
  } else if (platform::StartChild(program, args, reader.consolePath, true, &reader.child, &error)) {
    reader.exitPending = true;
    if (!settings_.terminal)
      Say(reader.plan.name + " started: " + CommandText(reader.plan.tool, args));
    return;
  }
  reader.progress.state = ReaderState::kFailed;
  reader.progress.cause = "cannot start: " + error;
  Say(reader.plan.name + " failed: " + reader.progress.cause);
}

// Applies the exit once, whoever reaped the child (this tick or the stop
// deadline's check).
void Station::Follow(StationReader &reader) {
  bool ended = platform::ChildEnded(&reader.child);
  // The log is read after the end is seen, so that its last lines count.
  reader.log->ReadNew([&](std::string_view line) {
    if (ApplyLine(line, parser_, &reader.progress) && !settings_.terminal)
      Say(RunLine(ReaderRow{&reader.plan, &reader.progress}));
  });
  if (ended && reader.exitPending) {
    reader.exitPending = false;
    ApplyExit(reader.child.exitStatus, &reader.progress);
    if (!settings_.terminal) Say(EndLine(ReaderRow{&reader.plan, &reader.progress}));
  }
}

void Station::StopAll() {
  Say("rwstation: stopping every reader");
  for (StationReader &reader : readers_) {
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
  std::vector<std::string> lines =
      TableLines(rows, platform::TerminalColumns() - 1, platform::TerminalRows() - 1);
  if (drawnLines_ > 0) std::printf("\x1b[%dA", drawnLines_);
  for (const std::string &line : lines) std::printf("\r\x1b[2K%s\n", line.c_str());
  std::printf("\x1b[J");  // what a taller table left below
  drawnLines_ = static_cast<int>(lines.size());
  std::fflush(stdout);
}

void Station::Run() {
  std::printf("rwstation: session folder %s\n", settings_.folder.c_str());
  for (StationReader &reader : readers_) Start(reader);
  std::fflush(stdout);
  bool stopping = false;
  double stopDeadline = 0;
  for (int tick = 0;; ++tick) {
    bool anyRunning = false;
    for (StationReader &reader : readers_) {
      Follow(reader);
      anyRunning = anyRunning || reader.child.running;
    }
    if (settings_.terminal && (tick % kTicksPerRedraw == 0 || !anyRunning)) Redraw();
    std::fflush(stdout);
    if (!anyRunning) break;
    if (!stopping && platform::StopRequested()) {
      stopping = true;
      stopDeadline = Now() + settings_.stopWaitSeconds;
      StopAll();
    } else if (stopping && Now() >= stopDeadline) {
      EndLateReaders();
      continue;
    }
    platform::Pause(kTickMs);
  }
  for (const std::string &note : notes_) std::printf("%s\n", note.c_str());
  std::fflush(stdout);
}
