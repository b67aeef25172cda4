#include "poll/connection.h"

#include <vector>

#include "platform/platform.h"

namespace {

ConnectionAttempt last;

}  // namespace

std::string DeviceNameOf(const char *portPath) {
  std::vector<char> device(sizeof(ReaderSettings::portPath) + 64);
  if (!platform::DevicePathFor(portPath, device.data(), static_cast<int>(device.size()))) {
    return portPath;
  }
  return device.data();
}

void NotePortOpen(const ReaderSettings &settings, bool opened) {
  last = ConnectionAttempt{};
  last.device = DeviceNameOf(settings.portPath);
  last.baudRate = settings.baudRate;
  last.desEnabled = settings.desEnabled;
  last.opened = opened;
  if (!opened) last.openError = platform::LastPortError();
  if (eventlog::Current()) {
    eventlog::Event event("open");
    event.Text("device", last.device).Int("baud", last.baudRate).Flag("ok", opened);
    if (!opened) event.Text("error", last.openError);
    eventlog::Emit(event);
  }
}

void NoteConnectResult(int result, eventlog::Failure failure, bool authenticates) {
  last.result = result;
  last.failure = failure;
  last.authenticates = authenticates;
  eventlog::Emit(eventlog::Event("connect")
                     .Text("device", last.device)
                     .Int("baud", last.baudRate)
                     .Flag("des", last.desEnabled)
                     .Flag("ok", result == 0)
                     .Int("result", result)
                     .Text("failure", eventlog::FailureName(failure)));
  // Connections are few: what led up to a failure reaches the file even if
  // the tool is stopped while connecting.
  if (eventlog::Log *log = eventlog::Current()) log->Flush();
}

const ConnectionAttempt &LastConnection() { return last; }

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
