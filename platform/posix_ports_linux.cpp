// Linux: the serial devices a port search tries, from the tty class of
// sysfs. USB serial adapters and ACM devices come first, because that is
// how R/Ws are usually attached; ttyS ports follow only where the kernel
// found a UART (ttyS0 to ttyS31 exist on most machines whether or not
// there is hardware behind them). The kernel's active console is never
// listed: a search would set it to 24 speeds and write frames to it.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform.h"
#include "posix_ports.h"

namespace platform::posix {
namespace {

bool HasPrefix(const std::string &name, const char *prefix) { return name.rfind(prefix, 0) == 0; }

bool IsUsbSerial(const std::string &name) {
  return HasPrefix(name, "ttyUSB") || HasPrefix(name, "ttyACM");
}

bool IsNumbered(const std::string &name, std::size_t prefixLength) {
  return name.size() > prefixLength &&
         name.find_first_not_of("0123456789", prefixLength) == std::string::npos;
}

// Names sort by their letters, then by their number: ttyUSB2 before ttyUSB10.
bool SearchOrder(const std::string &a, const std::string &b) {
  std::size_t da = a.find_first_of("0123456789"), db = b.find_first_of("0123456789");
  std::string pa = a.substr(0, da), pb = b.substr(0, db);
  if (pa != pb) return pa < pb;
  std::string na = da == std::string::npos ? "" : a.substr(da);
  std::string nb = db == std::string::npos ? "" : b.substr(db);
  if (na.size() != nb.size()) return na.size() < nb.size();
  return na < nb;
}

// The kernel's console devices, or nothing when they cannot be read.
bool ReadConsoles(const std::string &ttyClass, std::set<std::string> *consoles) {
  std::ifstream active(ttyClass + "/console/active");
  if (!active) return false;
  std::string name;
  while (active >> name) consoles->insert(name);
  return true;
}

// The UART type the kernel reports for a ttyS port; 0 means no hardware.
bool HasUart(const std::string &ttyClass, const std::string &name) {
  std::ifstream type(ttyClass + "/" + name + "/type");
  int uart = 0;
  return type >> uart && uart != 0;
}

std::vector<std::string> ClassEntries(const std::string &ttyClass) {
  std::vector<std::string> names;
  DIR *dir = opendir(ttyClass.c_str());
  if (!dir) return names;
  while (dirent *entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

}  // namespace

std::vector<std::string> ListSearchDevices(const std::string &root, int maxPorts) {
  std::string ttyClass = root + "/sys/class/tty";
  std::set<std::string> consoles;
  // Without the console list no ttyS port is known to be safe to try.
  bool consolesKnown = ReadConsoles(ttyClass, &consoles);
  std::vector<std::string> usb, uarts;
  for (const std::string &name : ClassEntries(ttyClass)) {
    if (consoles.count(name) || access((root + "/dev/" + name).c_str(), F_OK) != 0) continue;
    if (IsUsbSerial(name) && IsNumbered(name, 6)) {
      usb.push_back(name);
    } else if (consolesKnown && HasPrefix(name, "ttyS") && IsNumbered(name, 4) &&
               HasUart(ttyClass, name)) {
      uarts.push_back(name);
    }
  }
  std::sort(usb.begin(), usb.end(), SearchOrder);
  std::sort(uarts.begin(), uarts.end(), SearchOrder);
  usb.insert(usb.end(), uarts.begin(), uarts.end());
  std::vector<std::string> devices;
  for (const std::string &name : usb) {
    if (static_cast<int>(devices.size()) == maxPorts) break;
    devices.push_back(root + "/dev/" + name);
  }
  return devices;
}

}  // namespace platform::posix
