// Where /dev and /sys are. A file of its own, so that the test build of
// kestrow links a variant compiled with PLATFORM_ROOT_VARIABLE (the name of
// an environment variable that points at a fake device tree) in place of
// this one, and nothing else is compiled twice.
#include <cstdlib>
#include <string>

#include "platform/posix_ports.h"

namespace platform::posix {

std::string SystemRoot() {
#ifdef PLATFORM_ROOT_VARIABLE
  if (const char *root = std::getenv(PLATFORM_ROOT_VARIABLE)) return root;
#endif
  return "";
}

}  // namespace platform::posix
