// A small HTTP/1.1 client over loopback for tests of the station's server:
// whole requests with bounded waits, raw connections for clients that
// misbehave, and free ports.
#pragma once

#include <string>

struct HttpReply {
  int status = 0;    // 0: no complete answer in time
  std::string head;  // the status line and header fields
  std::string body;
};

// Sends `request` as it is to 127.0.0.1:`port` and reads until the server
// closes the connection or `timeoutMs` passes.
HttpReply HttpExchange(unsigned short port, const std::string &request, int timeoutMs = 30000);

// GET `target`, asking the server to close the connection after the answer.
HttpReply HttpGet(unsigned short port, const std::string &target, int timeoutMs = 30000);

// A port of 127.0.0.1 that nothing listened on a moment ago.
unsigned short FreePort();

// A TCP connection to 127.0.0.1:`port` held open while it exists.
class RawConnection {
 public:
  explicit RawConnection(unsigned short port);
  ~RawConnection();
  RawConnection(const RawConnection &) = delete;
  RawConnection &operator=(const RawConnection &) = delete;
  bool Connected() const { return fd_ >= 0; }
  // False when the bytes could not be sent (the server closed).
  bool Send(const std::string &bytes);
  // True when the server has closed the connection (waits up to `timeoutMs`).
  bool ClosedByServer(int timeoutMs);

 private:
  int fd_ = -1;
};

// A socket listening on 127.0.0.1:`port`, to make the port busy.
class PortHolder {
 public:
  explicit PortHolder(unsigned short port);
  ~PortHolder();
  PortHolder(const PortHolder &) = delete;
  PortHolder &operator=(const PortHolder &) = delete;
  bool Listening() const { return listening_; }

 private:
  int fd_ = -1;
  bool listening_ = false;
};
