// POSIX systems other than Linux: the port search keeps to COM1 to COM20,
// which name /dev/ttyS0 to /dev/ttyS19.

#include "platform.h"
#include "posix_ports.h"
#include "shared_rules.h"

namespace platform::posix {

// `root` is SystemRoot(), under which DevicePathFor puts every COM port.
std::vector<std::string> ListSearchDevices(const std::string &, int maxPorts) {
  std::vector<std::string> devices;
  for (const std::string &name : rules::ComPortNames(maxPorts)) {
    char device[4096];
    if (DevicePathFor(("//.//" + name).c_str(), device, sizeof device)) devices.push_back(device);
  }
  return devices;
}

}  // namespace platform::posix
