// rwsim: a card reader/writer on a pseudo-terminal, for running and testing
// the polling tools without hardware.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>

#include "platform/posix_line.h"
#include "sim/link_claim.h"
#include "sim/options.h"
#include "sim/reader_model.h"
#include "sim/simulator.h"

namespace {

volatile sig_atomic_t stopping = 0;

void OnSignal(int) { stopping = 1; }

struct Pty {
  int master = -1;
  int slaveKeeper = -1;
};

// Opens a pseudo-terminal in raw mode. The simulator keeps the slave side
// open itself, so the master does not report a hang-up (and poll() does not
// spin) while no tool has the port open.
bool OpenPty(Pty *pty, std::string *path) {
  pty->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty->master < 0 || grantpt(pty->master) != 0 || unlockpt(pty->master) != 0) return false;
  const char *name = ptsname(pty->master);
  if (!name) return false;
  *path = name;
  pty->slaveKeeper = open(path->c_str(), O_RDWR | O_NOCTTY);
  if (pty->slaveKeeper < 0) return false;
  termios tio;
  if (tcgetattr(pty->slaveKeeper, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(pty->slaveKeeper, TCSANOW, &tio) == 0;
}

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void Send(int fd, const sim::Bytes &bytes) {
  std::size_t done = 0;
  while (done < bytes.size() && !stopping) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;  // the tool stopped reading for good, or a signal
    done += static_cast<std::size_t>(n);
  }
}

// Outputs waiting for their time, sent in order while input is still read,
// so that a slow or endless output does not stop the R/W from hearing.
class OutputQueue {
 public:
  void Add(const sim::Output &output) {
    if (!queue_.empty() && queue_.back().endless) return;  // it never gets its turn
    if (queue_.empty()) dueAt_ = NowMs() + output.delayMs;
    queue_.push_back(output);
  }
  // Milliseconds until the next output is due; `idleMs` when none waits.
  int WaitMs(int idleMs) const {
    if (queue_.empty()) return idleMs;
    long long left = dueAt_ - NowMs();
    return left <= 0 ? 0 : static_cast<int>(left < idleMs ? left : idleMs);
  }
  void SendDue(int fd) {
    while (!queue_.empty() && NowMs() >= dueAt_ && !stopping) {
      Send(fd, queue_.front().bytes);
      if (!queue_.front().endless) queue_.pop_front();
      if (!queue_.empty()) dueAt_ = NowMs() + queue_.front().delayMs;
      if (!queue_.empty() && queue_.front().endless) return;  // let input in between
    }
  }

 private:
  std::deque<sim::Output> queue_;
  long long dueAt_ = 0;
};

// True when the tool has set the line to the speed the R/W answers at.
bool LineSpeedMatches(int slave, std::uint32_t baudRate) {
  if (baudRate == 0) return true;
  platform::LineState line{};
  return platform::posix::ReadLine(slave, &line) && line.baudRate == baudRate;
}

void Serve(const Pty &pty, std::uint32_t baudRate, sim::Simulator &simulator, std::FILE *trace) {
  int master = pty.master;
  std::uint8_t buffer[1024];
  OutputQueue outputs;
  while (!stopping) {
    outputs.SendDue(master);
    pollfd pfd{master, POLLIN, 0};
    int ready = poll(&pfd, 1, outputs.WaitMs(200));
    if (ready <= 0 || !(pfd.revents & POLLIN)) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (!LineSpeedMatches(pty.slaveKeeper, baudRate)) {
      if (trace) std::fprintf(trace, "-- %zd bytes at another line speed, ignored\n", n);
      continue;
    }
    for (const sim::Output &output : simulator.OnInput(buffer, static_cast<std::size_t>(n))) {
      outputs.Add(output);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  sim::SimOptions options;
  switch (sim::ParseSimOptions(argc, argv, options)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kShown: return 0;
    case ParseOutcome::kRefused: return 2;
  }
  std::unique_ptr<sim::ReaderModel> model = sim::MakeReaderModel(options);
  if (!model) return 2;
  Pty pty;
  std::string path;
  if (!OpenPty(&pty, &path)) {
    std::fprintf(stderr, "rwsim: cannot open a pseudo-terminal %s: %s\n",
                 path.empty() ? "(/dev/ptmx)" : path.c_str(), std::strerror(errno));
    return 1;
  }
  sim::LinkClaim link;
  std::string error;
  if (!options.link.empty() && !link.Take(options.link, path, &error)) {
    std::fprintf(stderr, "rwsim: %s\n", error.c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  std::FILE *trace = options.trace ? stderr : nullptr;
  sim::Simulator simulator(*model, options.cards, options.faults, trace);
  Serve(pty, options.baudRate, simulator, trace);
  return 0;
}
