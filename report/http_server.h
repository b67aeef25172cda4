// A small read-only HTTP server on a thread of its own, so that the station's
// loop never waits for a client: it answers GET and HEAD from what a content
// provider hands it, refuses every other method, and keeps slow, idle or
// hostile clients from holding it (bounded requests, time-outs, a bounded
// number of connections with the longest-waiting one closed for a new one).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// What a path serves. The body is shared, so that many answers of the same
// figures need one copy.
struct HttpContent {
  std::string contentType;
  std::shared_ptr<const std::string> body;
};

// Called on the server's thread with the path of a request (query left
// out); none for a path it does not serve (404).
using ContentProvider = std::function<std::optional<HttpContent>(std::string_view path)>;

struct HttpLimits {
  std::size_t maxHeaderBytes = 8192;  // a request has no body
  std::size_t maxConnections = 64;    // beyond: the longest-waiting one is closed
  // How long a connection may take to deliver a whole request, from its
  // start or the end of the previous answer (a client sending a byte a
  // second is closed after this, as is an idle one).
  std::chrono::milliseconds requestTimeout{10000};
  std::chrono::milliseconds writeTimeout{10000};  // to take a whole answer
};

// Where to listen: an IPv4 or IPv6 address (as digits) and a port.
struct ListenAddress {
  std::string host = "127.0.0.1";
  unsigned short port = 0;
};

// "[ADDRESS:]PORT": "9464" (127.0.0.1), "0.0.0.0:9464", "[::1]:9464".
// PORT is 1 to 65535. Returns none, with the reason in `error`, otherwise.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string *error);

// "127.0.0.1:9464", "[::1]:9464": the address as people write it.
std::string ListenAddressText(const ListenAddress &address);

class HttpServer {
 public:
  explicit HttpServer(ContentProvider content, HttpLimits limits = {});
  ~HttpServer();  // stops
  HttpServer(const HttpServer &) = delete;
  HttpServer &operator=(const HttpServer &) = delete;

  // Binds and listens at once, so that an address in use or one that is
  // not this machine's is known before anything else starts. Returns false
  // with the system's reason.
  [[nodiscard]] bool Listen(const ListenAddress &address, std::string *error);
  // The port listened on (the one the system chose for port 0).
  unsigned short Port() const;
  // Serves on a thread of its own, after Listen.
  void Start();
  // Closes every connection and ends the thread. Returns when it has ended.
  void Stop();

  // For tests and figures: connections open now, and those closed to make
  // room for a new one.
  std::size_t OpenConnections() const;
  long long EvictedConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
