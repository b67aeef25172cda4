// The readers of a session: one tool process each, followed through its
// event log, shown on a terminal or as plain lines, stopped in order.
#pragma once

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
  std::unique_ptr<LogFollower> log;
};

struct SessionSettings {
  std::string folder;
  int stopWaitSeconds = 10;
  bool terminal = false;
};

class Station {
 public:
  Station(const Plan &plan, SessionSettings settings);
  // Refuses a session folder that already holds a file of one of the
  // readers: nothing is ever appended to or overwritten.
  bool CheckFolder(std::string *error) const;
  // Starts every reader (one that cannot start has failed), follows them
  // until all have ended, and stops them in order on Ctrl-C or a signal.
  void Run();
  const std::vector<StationReader> &Readers() const { return readers_; }

 private:
  void Start(StationReader &reader);
  void Follow(StationReader &reader);
  void StopAll();
  void EndLateReaders();
  void Redraw();
  void Say(const std::string &line);
  std::vector<StationReader> readers_;
  SessionSettings settings_;
  std::vector<std::string> notes_;  // shown below the table at the end
  logread::EventParser parser_;     // of the readers' event logs
  int drawnLines_ = 0;
};

// The folder of a new session: station-YYYYMMDD-HHMMSS (local time), with a
// number added when that exists already.
std::string NewSessionFolder();
// rwreport's page in the session folder.
std::string ReportPage(const std::string &folder);
