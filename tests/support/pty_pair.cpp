#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "link/hex_text.h"

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slavePath_ = ptsname(master_);
  slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  termios tio;
  tcgetattr(slaveKeeper_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slaveKeeper_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
  if (master_ >= 0) close(master_);
}

void PtyPair::Write(const Bytes &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<std::size_t>(n);
  }
}

Bytes PtyPair::Read(std::size_t count, int timeoutMs) {
  Bytes out;
  while (out.size() < count) {
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0 || !(pfd.revents & POLLIN)) break;
    std::uint8_t buffer[512];
    std::size_t want = count - out.size() < sizeof buffer ? count - out.size() : sizeof buffer;
    ssize_t n = read(master_, buffer, want);
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

Bytes PtyPair::ReadAll(int quietMs) { return Read(100000, quietMs); }

std::string Hex(const Bytes &bytes) { return hex::Format(bytes.data(), bytes.size()); }
