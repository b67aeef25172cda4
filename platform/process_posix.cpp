#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/process.h"

// The environment a child inherits (not declared everywhere).
extern char **environ;

namespace platform {

namespace {

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(const char *program, char *const *argv, int output, bool ownGroup,
                            int errorPipe) {
  if (ownGroup) setpgid(0, 0);
#ifdef __linux__
  // A station that is killed outright still stops its readers in order.
  if (ownGroup) prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
  // What the parent ignored or blocked must not reach the tool.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  int input = open("/dev/null", O_RDONLY);
  if (input >= 0) dup2(input, STDIN_FILENO);
  if (output >= 0) {
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
  }
  // Descriptors our own parent let us inherit are none of the tool's.
  for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) {
    if (fd != errorPipe) close(fd);
  }
  execv(program, argv);
  int reason = errno;
  ssize_t ignored = write(errorPipe, &reason, sizeof reason);
  (void)ignored;
  _exit(127);
}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

}  // namespace

namespace {

// Our end of an output file for a child: an existing regular file, opened
// for appending and never through a link. -1 with the reason.
int OpenChildOutput(const std::string &path, std::string *reason) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *reason = path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *reason = path + ": not a regular file";
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool StartChild(const std::string &program, const std::vector<std::string> &args,
                const std::string &outputPath, bool ownGroup, Child *child, std::string *error) {
  std::string reason;
  int output = outputPath.empty() ? -1 : OpenChildOutput(outputPath, &reason);
  if (!outputPath.empty() && output < 0) {
    *error = program + ": " + reason;
    return false;
  }
  // The exec's failure comes back through a pipe that a successful exec
  // closes.
  int errorPipe[2];
  if (pipe(errorPipe) != 0 || fcntl(errorPipe[0], F_SETFD, FD_CLOEXEC) != 0 ||
      fcntl(errorPipe[1], F_SETFD, FD_CLOEXEC) != 0) {
    *error = program + ": " + std::strerror(errno);
    if (output >= 0) close(output);
    return false;
  }
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) ExecChild(program.c_str(), argv.data(), output, ownGroup, errorPipe[1]);
  int forkError = errno;
  close(errorPipe[1]);
  if (output >= 0) close(output);
  if (pid < 0) {
    close(errorPipe[0]);
    *error = program + ": " + std::strerror(forkError);
    return false;
  }
  // Also in the parent, so that a signal sent at once finds the group.
  if (ownGroup) setpgid(pid, pid);
  int execError = 0;
  ssize_t got;
  do {
    got = read(errorPipe[0], &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (got == static_cast<ssize_t>(sizeof execError)) {
    int ignored;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
    *error = program + ": " + std::strerror(execError);
    return false;
  }
  child->id = pid;
  child->running = true;
  child->exitStatus = -1;
  return true;
}

// Linux refuses any one argument longer than this (MAX_ARG_STRLEN), whatever
// the whole list's limit.
constexpr std::size_t kLongestArgument = 32 * 4096;
// Room kept for what the system adds to the list (the program's path again,
// the auxiliary vector).
constexpr long kSpareListBytes = 4096;

bool ArgumentsFit(const std::vector<std::string> &args, std::string *why) {
  long limit = sysconf(_SC_ARG_MAX);
  if (limit <= 0) limit = 131072;  // the oldest limit POSIX systems had
  long need = static_cast<long>(sizeof(char *));
  for (const std::string &arg : args) {
    if (arg.size() >= kLongestArgument) {
      *why = "an argument of " + std::to_string(arg.size()) + " characters (at most " +
             std::to_string(kLongestArgument - 1) + ")";
      return false;
    }
    need += static_cast<long>(arg.size() + 1 + sizeof(char *));
  }
  for (char **variable = environ; variable && *variable; ++variable)
    need += static_cast<long>(std::strlen(*variable) + 1 + sizeof(char *));
  if (need <= limit - kSpareListBytes) return true;
  *why = "an argument list of " + std::to_string(need) + " bytes with the environment (at most " +
         std::to_string(limit - kSpareListBytes) + ")";
  return false;
}

void AskChildToStop(const Child &child) {
  if (child.running) kill(static_cast<pid_t>(child.id), SIGINT);
}

bool ChildEnded(Child *child) {
  if (!child->running) return true;
  int status = 0;
  pid_t done = waitpid(static_cast<pid_t>(child->id), &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return false;
  child->running = false;
  child->exitStatus = done < 0 ? -1 : StatusOf(status);
  return true;
}

void KillChild(Child *child) {
  if (!child->running) return;
  kill(static_cast<pid_t>(child->id), SIGKILL);
  int status = 0;
  pid_t done;
  do {
    done = waitpid(static_cast<pid_t>(child->id), &status, 0);
  } while (done < 0 && errno == EINTR);
  child->running = false;
  child->exitStatus = done < 0 ? -1 : StatusOf(status);
}

std::string OwnProgramFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string text(path, static_cast<std::size_t>(length));
  std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? "" : text.substr(0, slash);
}

std::string ExecutableName(const std::string &name) { return name; }

namespace {

// The folders a program is looked for in: the PATH, or the system's default
// path without one.
std::string SearchPath() {
  const char *path = std::getenv("PATH");
  if (path && *path) return path;
  std::size_t length = confstr(_CS_PATH, nullptr, 0);
  if (length == 0) return "/usr/local/bin:/usr/bin:/bin";
  std::string fallback(length, '\0');
  confstr(_CS_PATH, &fallback[0], length);
  fallback.resize(length - 1);
  return fallback;
}

bool IsExecutableFile(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string &name, const std::string &folder) {
  if (!folder.empty() && IsExecutableFile(folder + "/" + name)) return folder + "/" + name;
  std::string list = SearchPath();
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;  // "", ".", "bin": wherever we are
    if (IsExecutableFile(dir + "/" + name)) return dir + "/" + name;
  }
  return "";
}

char PathSeparator() { return '/'; }

bool PathExists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool DevicePresent(const std::string &device) {
  struct stat info;
  return stat(device.c_str(), &info) == 0;
}

std::string DeviceKey(const std::string &device) {
  struct stat info;
  if (stat(device.c_str(), &info) != 0) {
    char resolved[PATH_MAX];
    return "name " + std::string(realpath(device.c_str(), resolved) ? resolved : device.c_str());
  }
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
    return "device " + std::to_string(static_cast<unsigned long long>(info.st_rdev));
  return "file " + std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(info.st_ino));
}

bool CreateNewFile(const std::string &path, std::string *error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
}

bool IsPlainFile(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MakeFolder(const std::string &path, std::string *error) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  struct stat info;
  if (errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  *error = path + ": " + std::strerror(errno);
  return false;
}

NewFolder MakeNewFolder(const std::string &path, std::string *error) {
  if (mkdir(path.c_str(), 0755) == 0) return NewFolder::kMade;
  if (errno == EEXIST) return NewFolder::kTaken;
  *error = path + ": " + std::strerror(errno);
  return NewFolder::kFailed;
}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

int TerminalColumns() {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void Pause(int milliseconds) {
  struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int TerminalRows() {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

std::FILE *OpenNotInherited(const std::string &path) { return std::fopen(path.c_str(), "rbe"); }

bool SeekFile(std::FILE *file, std::int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

double OwnProcessorSeconds() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace platform
