// The POSIX backend's process-wide duties, each checked in a child process
// of its own so that closed descriptors do not disturb the test program.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/pty_pair.h"

namespace {

bool IsNullDevice(int fd) {
  struct stat a, b;
  return fstat(fd, &a) == 0 && stat("/dev/null", &b) == 0 && a.st_rdev == b.st_rdev &&
         S_ISCHR(a.st_mode);
}

// Runs `body` in a child; its return value is the child's exit code.
template <class Body>
int InChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// With standard output and error closed, the port must not take their
// numbers: marks and diagnostics would go to the R/W.
TEST(PlatformTest, ClosedStandardDescriptorsAreKeptOffThePort) {
  PtyPair pty;
  int code = InChild([&] {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    platform::PrepareConsoleInput();
    platform::PortHandle port = platform::OpenPort(pty.PortPath().c_str());
    if (!port) return 1;
    if (!IsNullDevice(STDOUT_FILENO)) return 2;
    if (!IsNullDevice(STDERR_FILENO)) return 3;
    platform::ClosePort(port);
    return 0;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
