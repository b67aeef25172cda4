// POSIX backend of the platform layer: serial ports through file descriptors,
// termios and poll(); the monotonic clock; the console through termios.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_line.h"
#include "posix_ports.h"
#include "shared_rules.h"

namespace platform {
namespace {

// Received bytes are taken from the device in one read() call and handed
// out from here, so that byte-at-a-time readers cost one system call per
// burst rather than one per byte.
constexpr std::uint32_t kReceiveBufferSize = 4096;

struct PosixPort {
  int fd;
  CommTimeouts timeouts;
  std::uint32_t eventMask;
  posix::LineSnapshot savedLine;
  unsigned char received[kReceiveBufferSize];
  std::uint32_t receivedStart;
  std::uint32_t receivedEnd;
};

// The port that is open, if any, so that a signal that ends the program can
// still put the line back and release the exclusive-use flag.
PosixPort *volatile openPort = nullptr;

// Why the last port operation failed, for LastPortError.
std::string lastPortError;

void NotePortError(const std::string &reason) { lastPortError = reason; }
void NoteErrno(int error) { NotePortError(std::strerror(error)); }

// True when the process may use files of group `gid`.
bool InGroup(gid_t gid) {
  if (getegid() == gid) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

// What would let the user open a device the system refused: joining its
// group, when that group may read and write it and is not root's (joining
// root's group is no advice); otherwise access given by the administrator.
std::string PermissionHint(const char *device) {
  struct stat info;
  if (stat(device, &info) != 0) return "";
  bool groupMayUse = (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP);
  if (groupMayUse && info.st_gid != 0) {
    if (InGroup(info.st_gid)) return "";
    const group *owner = getgrgid(info.st_gid);
    std::string name = owner ? owner->gr_name : std::to_string(info.st_gid);
    return " (the device belongs to group " + name + ", which you are not in: sudo usermod -aG " +
           name + " $USER, then log in again)";
  }
  return " (no group you could join may read and write it: ask the administrator for access, "
         "e.g. a udev rule that gives the device to a group you are in)";
}

// The system's reason, with what to do about it where the system's words
// alone do not say.
void NoteOpenError(const char *device, int error) {
  std::string reason = std::strerror(error);
  if (error == EACCES || error == EPERM) {
    reason += PermissionHint(device);
  } else if (error == EBUSY || error == EWOULDBLOCK) {
    reason = "in use by another program (" + reason + ")";
  }
  NotePortError(reason);
}

// The checks on an opened device: a terminal, not locked by another
// program, its settings saved.
bool ClaimDevice(int fd, const char *device, PosixPort *port) {
  if (!isatty(fd)) {
    NotePortError("not a serial device");
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    NoteOpenError(device, errno);
    return false;
  }
  if (!posix::SaveLine(fd, &port->savedLine)) {
    NoteErrno(errno);
    return false;
  }
  return true;
}

// Bounds how long closing waits for queued output (the close command) to
// leave before the queues are purged.
constexpr int kOutputDrainLimitMs = 200;

PosixPort *AsPort(PortHandle handle) { return static_cast<PosixPort *>(handle); }

std::int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A point in time a wait must not pass; a zero span means "no limit".
class Deadline {
 public:
  explicit Deadline(std::uint64_t spanMs) : unlimited_(spanMs == 0), end_(NowMs() + spanMs) {}
  // Milliseconds left for poll(): -1 without a limit, 0 once passed.
  int RemainingMs() const {
    if (unlimited_) return -1;
    std::int64_t left = end_ - NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
  }

 private:
  bool unlimited_;
  std::int64_t end_;
};

// Waits for `events` on fd. Returns 1 when ready, 0 on time-out, -1 when the
// device failed or its far end went away.
int WaitFor(int fd, short events, const Deadline &deadline) {
  for (;;) {
    int wait = deadline.RemainingMs();
    pollfd pfd{fd, events, 0};
    int r = poll(&pfd, 1, wait);
    if (r < 0) {
      // A stop request ends the wait as a time-out; other signals wait out
      // the rest of the time.
      if (errno == EINTR) {
        if (StopRequested()) return 0;
        continue;
      }
      return -1;
    }
    if (r == 0) return 0;
    if (pfd.revents & events) return 1;
    return -1;  // POLLHUP, POLLERR or POLLNVAL without data
  }
}

// The longest path the system opens, without its terminating NUL, bounded by
// the settings' buffers.
constexpr int kMaxPathLength = (PATH_MAX < 4096 ? PATH_MAX : 4096) - 1;

// Lets queued output (the close command, written just before the port is
// purged and closed) leave the device, for a bounded time: throwing it away
// would leave the R/W in its session. True when it left.
bool WaitForOutputSent(int fd) {
  Deadline deadline(kOutputDrainLimitMs);
  int queued = 0;
  while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
    if (deadline.RemainingMs() == 0) return false;
    timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

// snprintf that reports whether the whole text fitted.
template <class... Args>
bool Format(char *out, int size, const char *format, Args... args) {
  int n = std::snprintf(out, size, format, args...);
  return n >= 0 && n < size;
}

}  // namespace

bool DevicePathFor(const char *portPath, char *device, int size) {
  rules::PortName port = rules::ReadPortName(portPath, "/");
  std::string root = posix::SystemRoot();
  switch (port.kind) {
    case rules::PortName::Kind::kPath: return Format(device, size, "%s", port.name);
    case rules::PortName::Kind::kComPort:
      return Format(device, size, "%s/dev/ttyS%d", root.c_str(), port.comNumber - 1);
    case rules::PortName::Kind::kDevice: break;
  }
  return Format(device, size, "%s/dev/%s", root.c_str(), port.name);
}

std::vector<std::string> SearchPortNames(int maxPorts) {
  return posix::ListSearchDevices(posix::SystemRoot(), maxPorts);
}

std::string LastPortError() { return lastPortError; }

int MaxPortNameLength() { return kMaxPathLength; }

int MaxFilePathLength() { return kMaxPathLength; }

PortHandle OpenPort(const char *path) {
  char device[kMaxPathLength + 1];
  if (!DevicePathFor(path, device, sizeof device)) {
    NoteErrno(ENAMETOOLONG);
    return nullptr;
  }
  int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    NoteOpenError(device, errno);
    return nullptr;
  }
  // The advisory lock holds against root too and closes the race between
  // two openers; TIOCEXCL keeps out programs that do not lock.
  auto *port = new PosixPort{fd, {}, 0, {}, {}, 0, 0};
  if (!ClaimDevice(fd, device, port)) {
    close(fd);
    delete port;
    return nullptr;
  }
  openPort = port;  // from here a signal puts the line back and unlocks
  if (ioctl(fd, TIOCEXCL) != 0) {
    NoteOpenError(device, errno);
    openPort = nullptr;
    ioctl(fd, TIOCNXCL);
    close(fd);
    delete port;
    return nullptr;
  }
  return port;
}

bool SetupQueues(PortHandle handle, std::uint32_t, std::uint32_t) {
  return AsPort(handle) != nullptr;  // the kernel sizes its own queues
}

bool SetEventMask(PortHandle handle, std::uint32_t mask) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  port->eventMask = mask;  // reads wait with poll(); the mask is kept for symmetry
  return true;
}

bool PurgePort(PortHandle handle, std::uint32_t flags) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  bool input = flags & (kPurgeRxAbort | kPurgeRxClear);
  bool output = flags & (kPurgeTxAbort | kPurgeTxClear);
  if (!input && !output) return true;
  if (input) port->receivedStart = port->receivedEnd = 0;
  // Output that has left the driver's queue is not flushed: there is nothing
  // left to throw away but what the far end has not taken in yet. On a
  // pseudo-terminal that is the close command itself, written a moment ago
  // and still on its way to the other side, which a flush discards.
  bool stuck = output && !WaitForOutputSent(port->fd);
  if (!input && !stuck) return true;
  return tcflush(port->fd, input && stuck ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH) == 0;
}

bool GetTimeouts(PortHandle handle, CommTimeouts *timeouts) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  *timeouts = port->timeouts;
  return true;
}

bool SetTimeouts(PortHandle handle, const CommTimeouts &timeouts) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  port->timeouts = timeouts;
  return true;
}

bool GetLineState(PortHandle handle, LineState *line) {
  PosixPort *port = AsPort(handle);
  return port && posix::ReadLine(port->fd, line);
}

bool SetLineState(PortHandle handle, const LineState &line) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  if (posix::ApplyLine(port->fd, line)) return true;
  NotePortError("the device refused the line settings (" + std::to_string(line.baudRate) +
                " baud, " + std::to_string(line.byteSize) + " data bits): " + std::strerror(errno));
  return false;
}

bool ClearLineErrors(PortHandle handle) {
  return AsPort(handle) != nullptr;  // errors are reported per read; nothing is latched
}

namespace {

// Hands out up to `count` buffered bytes. Returns how many.
std::uint32_t TakeBuffered(PosixPort *port, unsigned char *out, std::uint32_t count) {
  std::uint32_t n = port->receivedEnd - port->receivedStart;
  if (n > count) n = count;
  std::memcpy(out, port->received + port->receivedStart, n);
  port->receivedStart += n;
  return n;
}

// One read() into the empty receive buffer. Returns 1 when bytes came, 0
// when none are waiting, -1 when the read failed or the far end is gone.
int FillBuffer(PosixPort *port) {
  for (;;) {
    ssize_t n = read(port->fd, port->received, kReceiveBufferSize);
    if (n > 0) {
      port->receivedStart = 0;
      port->receivedEnd = static_cast<std::uint32_t>(n);
      return 1;
    }
    if (n == 0) {
      NotePortError("the device is gone (end of file)");
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    NoteErrno(errno);
    return -1;
  }
}

// A wait that ended with a hang-up or an error of the device.
bool PortGone() {
  NotePortError("the device hung up or failed");
  return false;
}

}  // namespace

bool ReadPort(PortHandle handle, void *buffer, std::uint32_t count, std::uint32_t *received) {
  *received = 0;
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  const CommTimeouts &t = port->timeouts;
  // Interval MAXDWORD: return as soon as anything has been read.
  bool returnWhenAny = t.readInterval == kMaxDword;
  std::uint64_t total = std::uint64_t{t.readTotalMultiplier} * count + t.readTotalConstant;
  bool noWait = returnWhenAny && total == 0;
  Deadline deadline(total);
  auto *bytes = static_cast<unsigned char *>(buffer);
  while (*received < count) {
    if (port->receivedStart < port->receivedEnd) {
      *received += TakeBuffered(port, bytes + *received, count - *received);
      if (returnWhenAny) break;
      continue;
    }
    // Where the read may wait, readiness comes first: a read that finds
    // nothing yet would be a system call for nothing (the drain before
    // every command finds the input empty).
    int ready = noWait ? 1 : WaitFor(port->fd, POLLIN, deadline);
    if (ready == 0) break;
    int filled = FillBuffer(port);  // after a hang-up it says why
    if (filled < 0) return false;
    if (filled == 0 && ready < 0) return PortGone();
    if (filled == 0 && noWait) break;
  }
  return true;
}

bool WritePort(PortHandle handle, const void *buffer, std::uint32_t count, std::uint32_t *written) {
  *written = 0;
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  const CommTimeouts &t = port->timeouts;
  Deadline deadline(std::uint64_t{t.writeTotalMultiplier} * count + t.writeTotalConstant);
  const auto *bytes = static_cast<const unsigned char *>(buffer);
  while (*written < count) {
    ssize_t n = write(port->fd, bytes + *written, count - *written);
    if (n > 0) {
      *written += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      NoteErrno(errno);
      return false;
    }
    int ready = WaitFor(port->fd, POLLOUT, deadline);
    if (ready < 0) return PortGone();
    if (ready == 0) break;
  }
  return true;
}

bool ClosePort(PortHandle handle) {
  PosixPort *port = AsPort(handle);
  if (!port) return false;
  if (openPort == port) openPort = nullptr;
  posix::RestoreLine(port->fd, port->savedLine);
  // On a pseudo-terminal the exclusive flag outlives the close.
  ioctl(port->fd, TIOCNXCL);
  bool closed = close(port->fd) == 0;
  delete port;
  return closed;
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

ClockReading ReadClock() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ClockReading{static_cast<std::int64_t>(ts.tv_sec),
                      static_cast<std::uint16_t>(ts.tv_nsec / 1000000)};
}

void Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR && !StopRequested()) {
  }
}

void SetIdlePriority() { setpriority(PRIO_PROCESS, 0, 19); }

namespace {

volatile std::sig_atomic_t consoleWanted = 0;   // PrepareConsoleInput was called
volatile std::sig_atomic_t consoleSaved = 0;    // savedConsole holds the settings
volatile std::sig_atomic_t consoleChanged = 0;  // the key mode is in force
termios savedConsole;
termios keysConsole;

// Only the foreground process group may change the terminal: a background
// process that tries is stopped by SIGTTOU.
bool OwnsConsole() { return isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp(); }

// Whether standard input can bring key presses at all: a terminal this
// process owns, or input that counts its waiting bytes (a pipe, a file).
// Not /dev/null or another device without a byte count, nor the terminal
// of a background job.
// Raised by SIGCONT; standard input is judged again when it has moved since
// the last judgement. A counter, not a flag the judgement clears, so that a
// SIGCONT arriving while standard input is being judged is not lost.
volatile std::sig_atomic_t stdinContinued = 0;
std::sig_atomic_t stdinJudgedAt = -1;
bool stdinHasKeys = false;

bool StdinMayHaveKeys() {
  if (isatty(STDIN_FILENO)) return OwnsConsole();
  int waiting = 0;
  return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0;
}

// Puts the console into key mode when the process owns it. Every call here
// is async-signal-safe, so the SIGCONT and SIGTSTP handlers use it too.
void ApplyKeyMode() {
  if (!consoleWanted || consoleChanged || !OwnsConsole()) return;
  if (!consoleSaved) {
    if (tcgetattr(STDIN_FILENO, &savedConsole) != 0) return;
    keysConsole = savedConsole;
    keysConsole.c_lflag &= ~(ICANON | ECHO);
    keysConsole.c_cc[VMIN] = 1;
    keysConsole.c_cc[VTIME] = 0;
    consoleSaved = 1;
  }
  if (tcsetattr(STDIN_FILENO, TCSANOW, &keysConsole) == 0) consoleChanged = 1;
}

// Puts the line back and drops the exclusive-use flag of the open port, so
// that a program ended by a signal leaves the port usable.
void ReleaseOpenPort() {
  PosixPort *port = openPort;
  if (!port) return;
  posix::RestoreLine(port->fd, port->savedLine);
  ioctl(port->fd, TIOCNXCL);
}

void Install(int signalNumber, void (*handler)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking poll() returns at once
  sigaction(signalNumber, &action, nullptr);
}

void EndBySignal(int signalNumber) {
  RestoreConsoleInput();
  ReleaseOpenPort();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);  // delivered once this handler returns
}

void OnStopSignal(int signalNumber) {
  if (!rules::TakeStopRequest()) EndBySignal(signalNumber);
}

void OnSuspend(int) {
  int savedErrno = errno;
  RestoreConsoleInput();
  std::signal(SIGTSTP, SIG_DFL);
  sigset_t suspend;
  sigemptyset(&suspend);
  sigaddset(&suspend, SIGTSTP);
  std::raise(SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &suspend, nullptr);  // stops here until SIGCONT
  Install(SIGTSTP, OnSuspend);
  ApplyKeyMode();
  errno = savedErrno;
}

void OnContinue(int) {
  int savedErrno = errno;
  ApplyKeyMode();
  ++stdinContinued;  // `fg` or `bg`: the terminal may have changed hands
  errno = savedErrno;
}

}  // namespace

void GuardStandardDescriptors() {
  // open() takes the lowest free number, so a closed 0, 1 or 2 would go to
  // the next file or port opened.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

void PrepareConsoleInput() {
  GuardStandardDescriptors();
  if (consoleWanted || !isatty(STDIN_FILENO)) return;
  consoleWanted = 1;
  std::atexit(RestoreConsoleInput);
  // A background job leaves the terminal alone; SIGCONT after `fg` sets it.
  ApplyKeyMode();
}

void RestoreConsoleInput() {
  // tcsetattr is async-signal-safe, so this also serves the signal handler.
  // The key that stopped the tool is discarded with the mode, so that it
  // does not reach the shell's next command line.
  if (!consoleChanged || !OwnsConsole()) return;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedConsole);
  consoleChanged = 0;
}

bool KeyPressed() {
  // Bytes waiting count as a key press; end of input (a closed pipe,
  // /dev/null) does not. Nothing is read. The keyboard of a background job
  // belongs to the foreground. What standard input is, is decided once (and
  // again after SIGCONT), so that each test costs at most one call.
  std::sig_atomic_t continued = stdinContinued;
  if (continued != stdinJudgedAt) {
    stdinHasKeys = StdinMayHaveKeys();
    stdinJudgedAt = continued;
  }
  if (!stdinHasKeys) return false;
  int waiting = 0;
  return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool ErrorSharesOutput() {
  struct stat output, error;
  if (fstat(STDOUT_FILENO, &output) != 0 || fstat(STDERR_FILENO, &error) != 0) return false;
  return output.st_dev == error.st_dev && output.st_ino == error.st_ino;
}

void InstallStopHandlers() {
  // A lost terminal ends polling like Ctrl-C. A reader that went away fails
  // the write to its own descriptor (EPIPE) instead of ending the program:
  // a broken event log is only a log write failure, and a broken standard
  // output is noticed by the polling loop, which then ends in order.
  for (int signalNumber : {SIGINT, SIGTERM}) Install(signalNumber, OnStopSignal);
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction hangUp;
  sigaction(SIGHUP, nullptr, &hangUp);
  if (hangUp.sa_handler != SIG_IGN) Install(SIGHUP, OnStopSignal);  // nohup stays in force
  Install(SIGQUIT, EndBySignal);
  Install(SIGTSTP, OnSuspend);
  Install(SIGCONT, OnContinue);
}

std::int64_t FileLength(std::FILE *file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool TruncateFile(std::FILE *file, std::int64_t length) {
  return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool SyncFileData(std::FILE *file) {
#if defined(__APPLE__)
  return fsync(fileno(file)) == 0;
#else
  return fdatasync(fileno(file)) == 0;
#endif
}

}  // namespace platform
