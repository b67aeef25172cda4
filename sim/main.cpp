// rwsim: a card reader/writer on a pseudo-terminal, for running and testing
// the polling tools without hardware.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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
#include "sim/soak_plan.h"

namespace {

volatile sig_atomic_t stopping = 0;

void OnSignal(int) { stopping = 1; }

// The longest the serving loop sleeps without a reason to wake.
constexpr int kIdleWaitMs = 200;

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// A pseudo-terminal in raw mode, the R/W's end of the line. The simulator
// keeps the slave side open itself, so the master does not report a hang-up
// (and poll() does not spin) while no tool has the port open. The master is
// non-blocking: output that the terminal cannot take yet waits, while input
// is still read, as a real R/W's line does not stop its listening.
class Terminal {
 public:
  Terminal() = default;
  ~Terminal() { Close(); }
  Terminal(const Terminal &) = delete;
  Terminal &operator=(const Terminal &) = delete;

  bool Open(std::string *error) {
    path_.clear();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    bool ok = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
              fcntl(master_, F_SETFL, O_NONBLOCK) == 0 && OpenSlave();
    if (!ok) {
      *error = "cannot open a pseudo-terminal " + (path_.empty() ? "(/dev/ptmx)" : path_) + ": " +
               std::strerror(errno);
      Close();
    }
    return ok;
  }
  // Both ends close: to a tool that has the port open this is an unplugged
  // adapter (its reads fail, poll() reports a hang-up), and the path goes.
  void Close() {
    if (keeper_ >= 0) close(keeper_);
    if (master_ >= 0) close(master_);
    keeper_ = master_ = -1;
  }
  bool IsOpen() const { return master_ >= 0; }
  int Master() const { return master_; }
  int Keeper() const { return keeper_; }
  const std::string &Path() const { return path_; }

 private:
  bool OpenSlave() {
    const char *name = ptsname(master_);
    if (!name) return false;
    path_ = name;
    keeper_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (keeper_ < 0) return false;
    termios tio;
    if (tcgetattr(keeper_, &tio) != 0) return false;
    cfmakeraw(&tio);
    return tcsetattr(keeper_, TCSANOW, &tio) == 0;
  }

  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
};

// Outputs waiting for their time, sent in order while input is still read,
// so that a slow or endless output does not stop the R/W from hearing.
class OutputQueue {
 public:
  void Add(const sim::Output &output) {
    if (!queue_.empty() && queue_.back().endless) return;  // it never gets its turn
    if (queue_.empty()) dueAt_ = NowMs() + output.delayMs;
    queue_.push_back(output);
  }
  void Clear() {
    queue_.clear();
    sent_ = 0;
  }
  bool Due() const { return !queue_.empty() && NowMs() >= dueAt_; }
  // Milliseconds until the next output is due; `idleMs` when none waits.
  int WaitMs(int idleMs) const {
    if (queue_.empty()) return idleMs;
    long long left = dueAt_ - NowMs();
    return left <= 0 ? 0 : static_cast<int>(left < idleMs ? left : idleMs);
  }
  // Writes what is due, as far as the terminal takes it without waiting.
  void SendDue(int fd) {
    while (Due() && !stopping) {
      const sim::Output &front = queue_.front();
      ssize_t n = write(fd, front.bytes.data() + sent_, front.bytes.size() - sent_);
      if (n <= 0) return;  // full (or failing): the rest waits for room
      sent_ += static_cast<std::size_t>(n);
      if (sent_ < front.bytes.size()) continue;
      sent_ = 0;
      bool endless = front.endless;
      if (!endless) queue_.pop_front();
      if (!queue_.empty()) dueAt_ = NowMs() + queue_.front().delayMs;
      if (endless) return;  // let input in between
    }
  }

 private:
  std::deque<sim::Output> queue_;
  std::size_t sent_ = 0;  // bytes of the front output written so far
  long long dueAt_ = 0;
};

// True when the tool has set the line to the speed the R/W answers at.
bool LineSpeedMatches(int slave, std::uint32_t baudRate) {
  if (baudRate == 0) return true;
  platform::LineState line{};
  return platform::posix::ReadLine(slave, &line) && line.baudRate == baudRate;
}

// The simulator at work: its terminal, its link, and the faults of a soak
// by its own clock, from its start.
class Server {
 public:
  Server(const sim::SimOptions &options, sim::Simulator &simulator, Terminal &terminal,
         sim::LinkClaim *link, std::FILE *trace)
      : options_(options),
        simulator_(simulator),
        terminal_(terminal),
        link_(link),
        trace_(trace),
        start_(NowMs()) {}

  // Serves until a stop request; false when the terminal could not come back.
  bool Run() {
    while (!stopping) {
      if (!FollowUnplugPlan()) return false;
      if (terminal_.IsOpen()) {
        ServeOnce();
      } else {
        poll(nullptr, 0, IdleWaitMs());
      }
    }
    return true;
  }

 private:
  sim::SimMs Clock() const { return NowMs() - start_; }

  // Until the unplug plan changes something, at most kIdleWaitMs.
  int IdleWaitMs() const {
    sim::SimMs now = Clock();
    std::optional<sim::SimMs> next = options_.unplugs.NextChange(now);
    if (!next) return kIdleWaitMs;
    return static_cast<int>(std::min<sim::SimMs>(kIdleWaitMs, *next - now));
  }

  // Sends what is due, then waits for input, for room for the output, or
  // for the next output's time, and answers the input.
  void ServeOnce() {
    int master = terminal_.Master();
    outputs_.SendDue(master);
    bool due = outputs_.Due();
    pollfd pfd{master, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0};
    int wait = due ? IdleWaitMs() : outputs_.WaitMs(IdleWaitMs());
    int ready = poll(&pfd, 1, wait);
    if (ready <= 0 || !(pfd.revents & POLLIN)) return;
    std::uint8_t buffer[1024];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    if (!LineSpeedMatches(terminal_.Keeper(), options_.baudRate)) {
      if (trace_) std::fprintf(trace_, "-- %zd bytes at another line speed, ignored\n", n);
      return;
    }
    for (const sim::Output &output :
         simulator_.OnInput(buffer, static_cast<std::size_t>(n), Clock())) {
      outputs_.Add(output);
    }
  }

  bool FollowUnplugPlan() {
    bool away = options_.unplugs.Away(Clock());
    if (away && terminal_.IsOpen()) Unplug();
    if (!away && !terminal_.IsOpen()) return PlugIn();
    return true;
  }

  // The adapter goes: whatever the R/W was sending is lost with the line.
  void Unplug() {
    terminal_.Close();
    outputs_.Clear();
    simulator_.LineLost();
    if (link_) link_->Withdraw();
    Trace("-- the terminal went away (unplug)\n");
  }

  bool PlugIn() {
    std::string error;
    if (!terminal_.Open(&error)) {
      std::fprintf(stderr, "rwsim: %s\n", error.c_str());
      return false;
    }
    if (link_ && !link_->Repoint(terminal_.Path(), &error)) {
      std::fprintf(stderr, "rwsim: %s\n", error.c_str());
    }
    std::printf("%s\n", terminal_.Path().c_str());
    std::fflush(stdout);
    Trace(("-- a new terminal came back: " + terminal_.Path() + " (unplug)\n").c_str());
    return true;
  }

  void Trace(const char *text) {
    if (!trace_) return;
    std::fputs(text, trace_);
    std::fflush(trace_);
  }

  const sim::SimOptions &options_;
  sim::Simulator &simulator_;
  Terminal &terminal_;
  sim::LinkClaim *link_;
  std::FILE *trace_;
  long long start_;
  OutputQueue outputs_;
};

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // Nobody reading the terminal's path any more is no reason to end.
  signal(SIGPIPE, SIG_IGN);
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
  Terminal terminal;
  std::string error;
  if (!terminal.Open(&error)) {
    std::fprintf(stderr, "rwsim: %s\n", error.c_str());
    return 1;
  }
  sim::LinkClaim link;
  if (!options.link.empty() && !link.Take(options.link, terminal.Path(), &error)) {
    std::fprintf(stderr, "rwsim: %s\n", error.c_str());
    return 1;
  }
  InstallSignals();
  std::printf("%s\n", terminal.Path().c_str());
  std::fflush(stdout);
  std::FILE *trace = options.trace ? stderr : nullptr;
  sim::Simulator simulator(*model, options.cards, options.faults, trace, options.flap);
  Server server(options, simulator, terminal, options.link.empty() ? nullptr : &link, trace);
  return server.Run() ? 0 : 1;
}
