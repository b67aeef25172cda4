#include "poll/connection.h"

#include <vector>

#include "platform/platform.h"

std::string DeviceNameOf(const char *portPath) {
  std::vector<char> device(sizeof(ReaderSettings::portPath) + 64);
  if (!platform::DevicePathFor(portPath, device.data(), static_cast<int>(device.size()))) {
    return portPath;
  }
  return device.data();
}

void ConnectionNotes::PortOpen(const ReaderSettings &settings, bool opened) {
  last_ = ConnectionAttempt{};
  last_.device = DeviceNameOf(settings.portPath);
  last_.baudRate = settings.baudRate;
  last_.desEnabled = settings.desEnabled;
  last_.opened = opened;
  if (!opened) last_.openError = platform::LastPortError();
  if (log_) {
    eventlog::Event event("open");
    event.Text("device", last_.device).Int("baud", last_.baudRate).Flag("ok", opened);
    if (!opened) event.Text("error", last_.openError);
    log_->Write(event);
  }
}

void ConnectionNotes::ConnectResult(int result, eventlog::Failure failure, bool authenticates) {
  last_.result = result;
  last_.failure = failure;
  last_.authenticates = authenticates;
  if (!log_) return;
  log_->Write(eventlog::Event("connect")
                  .Text("device", last_.device)
                  .Int("baud", last_.baudRate)
                  .Flag("des", last_.desEnabled)
                  .Flag("ok", result == 0)
                  .Int("result", result)
                  .Text("failure", eventlog::FailureName(failure)));
  // Connections are few: what led up to a failure reaches the file even if
  // the tool is stopped while connecting.
  log_->Flush();
}

std::string DescribeConnectionFailure(const ConnectionAttempt &attempt) {
  using eventlog::Failure;
  if (!attempt.opened) return "Cannot open " + attempt.device + ": " + attempt.openError;
  switch (attempt.failure) {
    case Failure::kNoAck:
      return "No answer from the R/W on " + attempt.device + " at " +
             std::to_string(attempt.baudRate) +
             " baud: another port, another speed (b), or the R/W is off";
    case Failure::kPortError:
      return "The port " + attempt.device + " failed: " + platform::LastPortError();
    case Failure::kBadMac:
    case Failure::kWrongAnswer:
      if (attempt.authenticates) {
        return "The R/W on " + attempt.device +
               " refused the authentication: check the keys (ka, kb) and kagi";
      }
      break;
    default: break;
  }
  return "The R/W on " + attempt.device + " answered with something unexpected (" +
         eventlog::FailureName(attempt.failure) + ")";
}

std::string DescribeSearchFailure(const std::vector<std::string> &devices) {
  if (devices.empty()) return "No serial port to search: name the R/W's port with c";
  std::string list;
  for (const std::string &device : devices) list += (list.empty() ? "" : ", ") + device;
  return "No R/W answered on " + list + " (at every baud rate, with and without DES)";
}
