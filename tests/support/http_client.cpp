#include "tests/support/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int Connect(unsigned short port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string &bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads until the peer closes or the deadline passes; true when it closed.
bool ReadToClose(int fd, int timeoutMs, std::string *got) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[16384];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    got->append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

HttpReply HttpExchange(unsigned short port, const std::string &request, int timeoutMs) {
  HttpReply reply;
  int fd = Connect(port);
  if (fd < 0) return reply;
  std::string bytes;
  bool closed = SendAll(fd, request) && ReadToClose(fd, timeoutMs, &bytes);
  close(fd);
  std::size_t end = bytes.find("\r\n\r\n");
  if (!closed || end == std::string::npos || bytes.compare(0, 9, "HTTP/1.1 ") != 0) return reply;
  reply.head = bytes.substr(0, end + 2);
  reply.body = bytes.substr(end + 4);
  reply.status = std::atoi(bytes.substr(9, 3).c_str());
  return reply;
}

HttpReply HttpGet(unsigned short port, const std::string &target, int timeoutMs) {
  return HttpExchange(port,
                      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                      timeoutMs);
}

unsigned short FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  unsigned short port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

RawConnection::RawConnection(unsigned short port) : fd_(Connect(port)) {}

RawConnection::~RawConnection() {
  if (fd_ >= 0) close(fd_);
}

bool RawConnection::Send(const std::string &bytes) { return fd_ >= 0 && SendAll(fd_, bytes); }

bool RawConnection::ClosedByServer(int timeoutMs) {
  std::string ignored;
  return fd_ >= 0 && ReadToClose(fd_, timeoutMs, &ignored);
}

PortHolder::PortHolder(unsigned short port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  listening_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
               listen(fd_, 4) == 0;
}

PortHolder::~PortHolder() {
  if (fd_ >= 0) close(fd_);
}
