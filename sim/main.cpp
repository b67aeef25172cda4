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

void Send(int fd, const sim::Output &output) {
  if (output.delayMs > 0) usleep(static_cast<useconds_t>(output.delayMs) * 1000);
  std::size_t done = 0;
  while (done < output.bytes.size()) {
    ssize_t n = write(fd, output.bytes.data() + done, output.bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::unique_ptr<sim::ReaderModel> MakeModel(const sim::SimOptions &options);

// True when the tool has set the line to the speed the R/W answers at.
bool LineSpeedMatches(int slave, std::uint32_t baudRate) {
  if (baudRate == 0) return true;
  platform::LineState line{};
  return platform::posix::ReadLine(slave, &line) && line.baudRate == baudRate;
}

void Serve(const Pty &pty, std::uint32_t baudRate, sim::Simulator &simulator, std::FILE *trace) {
  int master = pty.master;
  std::uint8_t buffer[1024];
  while (!stopping) {
    pollfd pfd{master, POLLIN, 0};
    int ready = poll(&pfd, 1, 200);
    if (ready <= 0 || !(pfd.revents & POLLIN)) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (!LineSpeedMatches(pty.slaveKeeper, baudRate)) {
      if (trace) std::fprintf(trace, "-- %zd bytes at another line speed, ignored\n", n);
      continue;
    }
    for (const sim::Output &output : simulator.OnInput(buffer, static_cast<std::size_t>(n))) {
      Send(master, output);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  sim::SimOptions options;
  int parsed = sim::ParseSimOptions(argc, argv, options);
  if (parsed != 0) return parsed == 2 ? 0 : 2;
  std::unique_ptr<sim::ReaderModel> model = MakeModel(options);
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

namespace {

std::unique_ptr<sim::ReaderModel> MakeModel(const sim::SimOptions &options) {
  if (options.secured) {
    sim::SecuredReaderConfig config{};
    config.desEnabled = options.desEnabled;
    std::memcpy(config.ka, options.ka, 8);
    std::memcpy(config.kb, options.kb, 8);
    std::memcpy(config.readerId, options.readerId, 8);
    std::memcpy(config.sessionKey, options.sessionKey, 8);
    std::memcpy(config.cardId, options.cardId, 8);
    std::memcpy(config.cardParameters, options.cardParameters, 8);
    return std::make_unique<sim::SecuredReader>(config);
  }
  return std::make_unique<sim::PlainReader>(options.cardId, options.cardParameters);
}

}  // namespace
