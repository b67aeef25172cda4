#include "app/kestrow/connect.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "poll/connection.h"
#include "poll/reader_binding.h"

namespace {

const std::int32_t kSearchBaudRates[] = {115200, 9600,   19200,   38400,  76800,  153600,
                                         307200, 614400, 1228800, 7200,   14400,  28800,
                                         57600,  230400, 460800,  921600, 8192,   16384,
                                         32768,  65536,  131072,  262144, 524288, 1048576};
constexpr int kSearchPorts = 20;  // the most ports one search tries

}  // namespace

// One port of the search at the current baud rate: with DES, then without.
static bool TryPort(SessionSlot<secure::CDesCard> &slot, ReaderSettings &settings,
                    const std::string &name, ConnectionNotes &notes) {
  int length =
      std::snprintf(settings.portPath, sizeof settings.portPath, "%s%s", kPortPrefix, name.c_str());
  if (length < 0 || length >= static_cast<int>(sizeof settings.portPath)) return false;
  settings.desEnabled = true;
  if (ConnectReader(slot, settings, false, notes)) return true;
  settings.desEnabled = false;
  return ConnectReader(slot, settings, false, notes);
}

bool ConnectReader(SessionSlot<secure::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes) {
  if (!ReplaceSession(slot, settings, closeFirst, &secure::CDesCard::CloseSession, notes)) {
    return false;
  }
  slot->SetPlainMode(!settings.desEnabled);
  int result = slot->Authenticate(settings.Ka, settings.Kb);
  notes.ConnectResult(result, slot->LastFailure(), true);
  if (result != 0) return false;  // the session stays in the slot until replaced
  platform::Sleep(20);
  return true;
}

bool SearchReader(SessionSlot<secure::CDesCard> &slot, ReaderSettings &settings,
                  std::vector<std::string> *devices, ConnectionNotes &notes) {
  std::printf("--- Trying RW Connection ---\n");
  std::fflush(stdout);
  // Listed once: the devices present do not change the order mid-search.
  std::vector<std::string> ports = platform::SearchPortNames(kSearchPorts);
  devices->clear();
  for (const std::string &name : ports)
    devices->push_back(DeviceNameOf((kPortPrefix + name).c_str()));
  bool found = false;
  for (std::int32_t baudRate : kSearchBaudRates) {
    settings.baudRate = baudRate;
    for (std::size_t i = 0; i < ports.size() && !found; ++i) {
      found = TryPort(slot, settings, ports[i], notes);
    }
    if (found) break;
  }
  std::printf("--- End ---\n");
  return found;
}
