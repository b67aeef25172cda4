// Timing figures of the frame exchange against an R/W played by a thread on
// a pseudo-terminal: a good exchange, a missing ACK and a missing response,
// with the default 50 ms time-outs. Prints milliseconds; asserts nothing.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/cmd.h"
#include "link/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
  int master = -1;
  int keeper = -1;
  std::string path;
};

Pty OpenPty() {
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(pty.master);
  unlockpt(pty.master);
  pty.path = ptsname(pty.master);
  pty.keeper = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
  termios tio;
  tcgetattr(pty.keeper, &tio);
  cfmakeraw(&tio);
  tcsetattr(pty.keeper, TCSANOW, &tio);
  return pty;
}

enum class Mode { kAnswer, kNoAck, kAckOnly };

// Answers every complete command frame as `mode` says.
void PlayReader(int master, const std::atomic<Mode> &mode, const std::atomic<bool> &stop) {
  std::vector<std::uint8_t> pending;
  const std::uint8_t answer[] = {0x5D, 0x12, 0x01};
  std::uint8_t response[16];
  int responseLength = frame::Encode(answer, sizeof answer, response);
  while (!stop) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, 20) <= 0) continue;
    std::uint8_t buffer[512];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.insert(pending.end(), buffer, buffer + n);
    if (pending.size() < 5 || pending.size() < pending[3] + 7u) continue;
    pending.clear();
    if (mode == Mode::kNoAck) continue;
    if (write(master, frame::kAck, sizeof frame::kAck) < 0) return;
    if (mode == Mode::kAnswer && write(master, response, responseLength) < 0) return;
  }
}

double TimeExchanges(CCmd &cmd, int count, int *lastResult) {
  const std::uint8_t command[] = {0x07, 0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  std::uint8_t response[256];
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) *lastResult = cmd.Transceive(command, response);
  std::chrono::duration<double, std::milli> spent = Clock::now() - start;
  return spent.count() / count;
}

}  // namespace

int main() {
  Pty pty = OpenPty();
  std::atomic<Mode> mode{Mode::kAnswer};
  std::atomic<bool> stop{false};
  std::thread reader(PlayReader, pty.master, std::cref(mode), std::cref(stop));
  CCmd cmd(("//.//" + pty.path).c_str(), 115200, 8, 0, 0, 50, 50, 1024);
  int result = 0;
  struct {
    const char *name;
    Mode mode;
    int count;
  } runs[] = {{"good exchange", Mode::kAnswer, 200},
              {"missing ACK (at 50)", Mode::kNoAck, 10},
              {"ACK, missing response (rt 50)", Mode::kAckOnly, 10}};
  std::printf("%-32s %10s %8s\n", "case", "ms/each", "result");
  for (const auto &run : runs) {
    mode = run.mode;
    double ms = TimeExchanges(cmd, run.count, &result);
    std::printf("%-32s %10.1f %8d\n", run.name, ms, result);
  }
  stop = true;
  reader.join();
  return 0;
}
