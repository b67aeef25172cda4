// Serial devices of a POSIX system: where they are found, and which of them
// a port search may try.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

// The folder that holds /dev and /sys: "" for the real root. Test builds
// can point it at a fake tree, so that port names and the port search run
// against pseudo-terminals and never touch real devices.
std::string SystemRoot();

// The serial devices under `root` that a port search may try, as paths
// under root + "/dev", in search order, at most `maxPorts`.
std::vector<std::string> ListSearchDevices(const std::string &root, int maxPorts);

}  // namespace platform::posix
