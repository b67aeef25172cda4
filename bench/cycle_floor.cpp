// The floor of the attempt cycle: a program that does only what the polling
// design forces on every attempt, to measure the tools against in the same
// bench run. Per attempt: a 10 ms wait for stale input that finds none, one
// command frame written to a pseudo-terminal, the ACK and the answer frame
// read back from a peer that answers at once, one mark, a 4 ms pause. The
// peer is a child process that is never waited for, so that its CPU time is
// not counted as the floor's. Like the tools it runs at the lowest priority.
//
// Its output has the shape of a tool's single run, so that the bench times
// its marks the same way: a line ending in ">", an empty line, the marks,
// then a line beginning with "(".
//
//   cycle_floor COMMAND_DATA RESPONSE_DATA ATTEMPTS
//     (data bytes of the polling command and answer frames)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/frame.h"

namespace {

constexpr int kDrainWaitMs = 10;     // the drain's read that finds nothing
constexpr long kPauseNs = 4000000;   // the loop's pause after every attempt
constexpr int kAnswerWaitMs = 2000;  // generous: only a starved peer is slow

std::vector<std::uint8_t> Frame(int dataBytes) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(dataBytes), 0x5A);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(dataBytes + frame::kOverhead));
  out.resize(static_cast<std::size_t>(frame::Encode(data.data(), dataBytes, out.data())));
  return out;
}

bool WriteAll(int fd, const std::vector<std::uint8_t> &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The R/W's side: answers every complete command with the ACK and the answer
// frame in one write, as soon as the command's last byte arrives.
[[noreturn]] void ServeAsPeer(int master, std::size_t commandBytes, int responseData) {
  std::vector<std::uint8_t> reply(frame::kAck, frame::kAck + sizeof frame::kAck);
  std::vector<std::uint8_t> response = Frame(responseData);
  reply.insert(reply.end(), response.begin(), response.end());
  std::uint8_t buffer[512];
  std::size_t pending = 0;
  for (;;) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) _exit(0);
    for (pending += static_cast<std::size_t>(n); pending >= commandBytes; pending -= commandBytes) {
      if (!WriteAll(master, reply)) _exit(0);
    }
  }
}

// Opens a pseudo-terminal: the master for the peer, the slave in raw mode
// for the polling side, as a tool opens its port.
bool OpenPair(int *master, int *slave) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return false;
  const char *name = ptsname(*master);
  *slave = name ? open(name, O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
  termios tio{};
  if (*slave < 0 || tcgetattr(*slave, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(*slave, TCSANOW, &tio) == 0;
}

// Reads `count` bytes as they come.
bool ReadAnswer(int fd, std::size_t count) {
  std::uint8_t buffer[512];
  while (count > 0) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, kAnswerWaitMs) <= 0) return false;
    ssize_t n = read(fd, buffer, count < sizeof buffer ? count : sizeof buffer);
    if (n <= 0) return false;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Attempt(int port, const std::vector<std::uint8_t> &command, std::size_t answerBytes) {
  pollfd pfd{port, POLLIN, 0};
  if (poll(&pfd, 1, kDrainWaitMs) != 0) return false;  // nothing stale is ever sent
  if (!WriteAll(port, command) || !ReadAnswer(port, answerBytes)) return false;
  if (write(STDOUT_FILENO, "o", 1) != 1) return false;
  timespec pause{0, kPauseNs};
  nanosleep(&pause, nullptr);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: cycle_floor COMMAND_DATA RESPONSE_DATA ATTEMPTS\n");
    return 2;
  }
  int commandData = std::atoi(argv[1]);
  int responseData = std::atoi(argv[2]);
  int attempts = std::atoi(argv[3]);
  if (commandData < 1 || commandData > frame::kMaxData || responseData < 1 ||
      responseData > frame::kMaxData || attempts < 1) {
    std::fprintf(stderr, "cycle_floor: frame data 1 to %d bytes, at least one attempt\n",
                 frame::kMaxData);
    return 2;
  }
  int master = -1, port = -1;
  if (!OpenPair(&master, &port)) {
    std::perror("cycle_floor: pseudo-terminal");
    return 1;
  }
  std::vector<std::uint8_t> command = Frame(commandData);
  pid_t peer = fork();
  if (peer == 0) ServeAsPeer(master, command.size(), responseData);
  close(master);
  // The tools ask for the lowest priority at start-up, so on a loaded machine
  // they wait for the processor as long as this does; the peer, like the
  // simulator, keeps the normal one.
  setpriority(PRIO_PROCESS, 0, 19);
  std::printf("<< floor: %d and %d data bytes >>\n\n", commandData, responseData);
  std::fflush(stdout);
  int done = 0;
  while (done < attempts &&
         Attempt(port, command,
                 sizeof frame::kAck + frame::kOverhead + static_cast<std::size_t>(responseData))) {
    ++done;
  }
  std::printf("\n(floor) %d of %d attempts\n", done, attempts);
  std::fflush(stdout);
  kill(peer, SIGKILL);  // not waited for: its time is not the floor's
  return done == attempts ? 0 : 1;
}
