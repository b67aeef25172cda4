#include "link/file_append.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

AppendOutcome AppendWhole(std::FILE *file, const char *data, std::size_t size,
                          bool keepWholeLines) {
  AppendOutcome outcome;
  std::int64_t before = platform::FileLength(file);
  errno = 0;
  std::size_t sent = std::fwrite(data, 1, size, file);
  if (sent == size && std::fflush(file) == 0) return outcome;
  outcome.written = false;
  outcome.error = std::strerror(errno ? errno : EIO);
  std::clearerr(file);
  if (before < 0) return outcome;
  std::size_t keep = 0;
  for (std::size_t at = sent; keepWholeLines && at > 0 && keep == 0; --at) {
    if (data[at - 1] == '\n') keep = at;
  }
  std::int64_t target = before + static_cast<std::int64_t>(keep);
  if (platform::FileLength(file) <= target) return outcome;  // nothing partial arrived
  if (platform::TruncateFile(file, target)) {
    outcome.cutBack = true;
  } else {
    outcome.cutFailed = true;
    outcome.cutError = std::strerror(errno);
  }
  return outcome;
}
