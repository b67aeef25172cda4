// POSIX systems other than Linux: the port search keeps to COM1 to COM20,
// which name /dev/ttyS0 to /dev/ttyS19.

#include "platform.h"
#include "posix_ports.h"

namespace platform::posix {

std::vector<std::string> ListSearchDevices(const std::string &root, int maxPorts) {
  std::vector<std::string> devices;
  for (int n = 0; n < maxPorts && n < 20; ++n) {
    devices.push_back(root + "/dev/ttyS" + std::to_string(n));
  }
  return devices;
}

}  // namespace platform::posix
