// The POSIX backend's process-wide duties, each checked in a child process
// of its own so that closed descriptors do not disturb the test program.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"

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

// A port named by a relative path is opened from the working directory,
// not looked for under /dev.
TEST(PlatformTest, RelativePortPathOpensFromTheWorkingDirectory) {
  PtyPair pty;
  ScratchDir dir;
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), (dir / "rw3").c_str()), 0);
  int code = InChild([&] {
    if (chdir(dir.Path().c_str()) != 0) return 1;
    platform::PortHandle port = platform::OpenPort("//.//./rw3");
    if (!port) return 2;
    platform::ClosePort(port);
    return 0;
  });
  EXPECT_EQ(code, 0);
}

// The reason a refused open gives, seen by an unprivileged user (a child
// that drops root). A regular file stands in for the device: the
// permission check comes before any other.
std::string RefusalFor(const std::string &device, gid_t group, mode_t mode) {
  if (chown(device.c_str(), 0, group) != 0 || chmod(device.c_str(), mode) != 0) return "setup";
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe";
  InChild([&] {
    close(pipeFds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 1;
    std::string reason = "opened";
    if (!platform::OpenPort(("//.//" + device).c_str())) reason = platform::LastPortError();
    return write(pipeFds[1], reason.data(), reason.size()) >= 0 ? 0 : 2;
  });
  close(pipeFds[1]);
  std::string reason;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) reason.append(buffer, n);
  close(pipeFds[0]);
  return reason;
}

// The hint names a group to join only when that group may read and write
// the device and is not root's; otherwise the administrator can help.
TEST(PlatformTest, PermissionHintNamesOnlyAGroupThatWouldHelp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  std::string device = dir / "ttyRW";
  close(open(device.c_str(), O_CREAT | O_WRONLY, 0600));
  const std::string administrator = "ask the administrator";

  std::string rootOnly = RefusalFor(device, 0, 0600);
  EXPECT_EQ(rootOnly.find("group root"), std::string::npos) << rootOnly;
  EXPECT_NE(rootOnly.find(administrator), std::string::npos) << rootOnly;
  std::string rootGroup = RefusalFor(device, 0, 0660);
  EXPECT_EQ(rootGroup.find("usermod"), std::string::npos) << rootGroup;
  EXPECT_NE(rootGroup.find(administrator), std::string::npos) << rootGroup;

  const gid_t other = 4321;  // a group the unprivileged user is not in
  const group *entry = getgrgid(other);
  std::string name = entry ? entry->gr_name : std::to_string(other);
  std::string groupReadOnly = RefusalFor(device, other, 0640);
  EXPECT_EQ(groupReadOnly.find("usermod"), std::string::npos) << groupReadOnly;
  EXPECT_NE(groupReadOnly.find(administrator), std::string::npos) << groupReadOnly;
  std::string groupMayUse = RefusalFor(device, other, 0660);
  EXPECT_NE(groupMayUse.find("belongs to group " + name + ", which you are not in"),
            std::string::npos)
      << groupMayUse;
}

}  // namespace
