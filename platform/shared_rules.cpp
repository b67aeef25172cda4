#include "shared_rules.h"

#include <atomic>
#include <cstring>

#include "platform.h"

namespace platform {
namespace {

// Lock-free atomics may be used from a signal handler as well as from the
// console control handler's thread.
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flags need lock-free atomics");
std::atomic<bool> stoppable{false};
std::atomic<bool> stopRequested{false};

constexpr int kComSearchPorts = 20;

bool ParseComNumber(const char *digits, int *number) {
  if (*digits == '\0' || std::strlen(digits) > 4) return false;
  int value = 0;
  for (const char *p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  *number = value;
  return value >= 1;
}

}  // namespace

namespace rules {

bool TakeStopRequest() {
  if (!stoppable.load()) return false;
  stopRequested.store(true);
  return true;
}

bool InStoppableSection() { return stoppable.load(); }

void ResetStopState() {
  stoppable.store(false);
  stopRequested.store(false);
}

PortName ReadPortName(const char *portPath, const char *separators) {
  const char *name = portPath;
  if (std::strncmp(name, "//.//", 5) == 0) name += 5;
  if (std::strpbrk(name, separators) != nullptr) return PortName{PortName::Kind::kPath, name, 0};
  int number = 0;
  if (std::strncmp(name, "COM", 3) == 0 && ParseComNumber(name + 3, &number)) {
    return PortName{PortName::Kind::kComPort, name, number};
  }
  return PortName{PortName::Kind::kDevice, name, 0};
}

std::vector<std::string> ComPortNames(int maxPorts) {
  std::vector<std::string> names;
  for (int n = 1; n <= kComSearchPorts && n <= maxPorts; ++n) {
    names.push_back("COM" + std::to_string(n));
  }
  return names;
}

}  // namespace rules

// A request counts only while the section lasts: the close command that
// follows the loop waits for its answer as usual.
void SetStoppable(bool value) { stoppable.store(value); }

bool StopRequested() { return stopRequested.load() && stoppable.load(); }

}  // namespace platform
