// The readers of a session: one tool process each, followed through its
// event log, shown on a terminal or as plain lines, started again when its
// R/W was lost and is back, stopped in order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/rwstation/plan.h"
#include "platform/process.h"
#include "report/log_event.h"
#include "report/log_follower.h"
#include "report/reader_progress.h"

struct StationReader {
  PlannedReader plan;
  std::string resultPath;
  std::string logPath;
  std::string consolePath;  // the tool's own console output
  ReaderProgress progress;
  platform::Child child;
  bool exitPending = false;  // started, and its exit not yet applied
  int unreadTicks = 0;       // ticks its ended tool's log could not be opened
  std::unique_ptr<LogFollower> log;
  // Lost and its tool ended: started again once its port is there and
  // `nextStart` (the station's clock, seconds) has come.
  bool waiting = false;
  double nextStart = 0;
  int starts = 0;                   // times the station started its tool
  int backOffSeconds = 0;           // the wait before the latest start again; 0 before any
  std::size_t episodesAtStart = 0;  // loss spans when its tool was last started
};

class Station;

struct SessionSettings {
  std::string folder;
  int stopWaitSeconds = 10;
  bool terminal = false;
  bool retry = true;                  // start a reader again when its R/W was lost
  std::uint64_t durationSeconds = 0;  // stop every reader after this long; 0: no limit
  std::string durationText;           // as given, for the message
  // Called about twice a second with every reader's current state: where
  // a snapshot of the station can be published.
  std::function<void(const Station &)> publish;
};

class Station {
 public:
  Station(const Plan &plan, SessionSettings settings);
  // The paths in the session folder that the station and its readers write:
  // report.html, report.txt and each reader's .txt, .log and .out.
  std::vector<std::string> SessionFiles() const;
  // Refuses a session folder in which one of SessionFiles() exists in any
  // form, a symbolic link too: nothing is ever appended to, overwritten, or
  // written through a link.
  [[nodiscard]] bool CheckFolder(std::string *error) const;
  // Creates each reader's files, new and empty (never through a link), for
  // every start of its tool to append to.
  [[nodiscard]] bool CreateReaderFiles(std::string *error) const;
  // Starts every reader (one that cannot start has failed), follows them
  // until all have ended, starts a reader again when its R/W was lost and is
  // back, and stops them in order on Ctrl-C, a signal or the end of the
  // duration.
  void Run();
  const std::vector<StationReader> &Readers() const { return readers_; }
  const SessionSettings &Settings() const { return settings_; }

 private:
  [[nodiscard]] bool Start(StationReader &reader, std::string *error);
  void Follow(StationReader &reader);
  void OnToolEnd(StationReader &reader);
  void WaitForPort(StationReader &reader, const std::string &why);
  void StartAgainIfDue(StationReader &reader);
  bool OwnFilesIntact(const StationReader &reader, std::string *which) const;
  void StopAll();
  void EndLateReaders();
  void Redraw();
  void Say(const std::string &line);
  bool DurationOver() const;
  std::vector<StationReader> readers_;
  SessionSettings settings_;
  std::deque<std::string> notes_;  // shown below the table at the end
  std::size_t notesLeftOut_ = 0;
  logread::EventParser parser_;  // of the readers' event logs
  int drawnLines_ = 0;
  bool stopping_ = false;
  double started_ = 0;  // the station's clock when the session began, seconds
};

// The folder of a new session, station-YYYYMMDD-HHMMSS (local time), with a
// number added when that name is taken: created here, exclusively, so that
// two stations started in the same second never share one. "" with the
// reason when none could be made.
std::string MakeSessionFolder(std::string *error);
// The tool's words for a reader: the plan's, then its result file and log.
std::vector<std::string> ToolArguments(const StationReader &reader);
// rwreport's page in the session folder, its console output, and its
// verdicts for CI servers (JUnit XML).
std::string ReportPage(const std::string &folder);
std::string ReportText(const std::string &folder);
std::string ReportJunit(const std::string &folder);
// The station's clock in seconds (monotonic).
double StationClock();
