// What the connection attempts came to: each port open and each connect
// command goes to the event log, and the last one is handed back so that a
// tool whose first connection fails can say why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/event_log.h"
#include "poll/settings.h"

struct ConnectionAttempt {
  std::string device;  // the device the port path names
  std::int32_t baudRate = 0;
  bool desEnabled = false;
  bool opened = false;
  std::string openError;  // the system's reason when the port did not open
  int result = -1;        // the connect command's result, 0 success
  eventlog::Failure failure = eventlog::Failure::kNone;
  bool authenticates = false;  // a secured R/W's authentication, not a plain open
};

// The device a port path ("//.//" and a name) names on this platform.
std::string DeviceNameOf(const char *portPath);

// What the connect routines write down, owned by the tool's entry point:
// the event log they write to (nullptr: none), and the last attempt.
class ConnectionNotes {
 public:
  explicit ConnectionNotes(eventlog::Log *log) : log_(log) {}
  eventlog::Log *Log() const { return log_; }
  // Called by the connect routines: the port open, then the connect command.
  void PortOpen(const ReaderSettings &settings, bool opened);
  void ConnectResult(int result, eventlog::Failure failure, bool authenticates);
  const ConnectionAttempt &Last() const { return last_; }

 private:
  eventlog::Log *log_;
  ConnectionAttempt last_;
};

// One line that says why `attempt` failed, for standard error.
std::string DescribeConnectionFailure(const ConnectionAttempt &attempt);
// One line after a port search that found nothing, naming the devices tried.
std::string DescribeSearchFailure(const std::vector<std::string> &devices);
