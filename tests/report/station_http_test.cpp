// The station's HTTP server over real loopback connections: what it answers
// to each method and path, and that idle, slow or oversized clients neither
// stall it nor lock out a new client. Runs under Wine in the Windows build.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "report/http_server.h"
#include "report/station_metrics.h"
#include "report/station_site.h"
#include "tests/report/station_samples.h"

namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;

namespace {

// Generous: the machine may be loaded; no test waits this long when it passes.
constexpr auto kPatience = 30s;

// One client connection with bounded waits.
class Client {
 public:
  explicit Client(unsigned short port) : socket_(io_) {
    boost::system::error_code ec;
    socket_.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
    connected_ = !ec;
  }
  bool Connected() const { return connected_; }

  bool Send(const std::string &bytes) {
    boost::system::error_code ec;
    net::write(socket_, net::buffer(bytes), ec);
    return !ec;
  }

  // Reads until the server closes the connection or `limit` passes; sets
  // `closed` when it did close.
  std::string ReadToClose(std::chrono::milliseconds limit, bool *closed = nullptr) {
    std::string got;
    bool ended = false;
    std::function<void()> readMore = [&] {
      socket_.async_read_some(net::buffer(chunk_),
                              [&](boost::system::error_code ec, std::size_t n) {
                                got.append(chunk_, n);
                                if (ec) {
                                  ended = true;
                                } else {
                                  readMore();
                                }
                              });
    };
    readMore();
    io_.restart();
    io_.run_for(limit);
    if (!ended) {
      socket_.cancel();
      io_.restart();
      io_.run();
    }
    if (closed) *closed = ended;
    return got;
  }

 private:
  net::io_context io_;
  tcp::socket socket_;
  bool connected_ = false;
  char chunk_[4096];
};

struct Answer {
  int status = 0;
  std::string head;  // status line and header fields
  std::string body;
};

Answer Split(const std::string &bytes) {
  Answer a;
  std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos || bytes.compare(0, 9, "HTTP/1.1 ") != 0) return a;
  a.head = bytes.substr(0, end + 2);
  a.body = bytes.substr(end + 4);
  a.status = std::stoi(bytes.substr(9, 3));
  return a;
}

// A header field's value, matched without regard to case; "" when absent.
std::string Field(const Answer &a, std::string name) {
  std::string head = a.head;
  for (char &c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return a.head.substr(at, head.find("\r\n", at) - at);
}

Answer Exchange(unsigned short port, const std::string &request) {
  Client client(port);
  EXPECT_TRUE(client.Connected());
  client.Send(request);
  return Split(client.ReadToClose(kPatience));
}

Answer Get(unsigned short port, const std::string &target, const char *method = "GET") {
  return Exchange(port, std::string(method) + " " + target +
                            " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
}

StationSnapshot Station(long long attempts) {
  StationSnapshot s;
  s.name = "test-station";
  s.readers.push_back(SampleReader("a", "kestrow", "COM3", "polling", attempts, 0));
  return s;
}

// The station's site on an ephemeral loopback port.
class StationServer : public ::testing::Test {
 protected:
  void Serve(HttpLimits limits = {}) {
    holder_.Publish(std::make_shared<const StationSnapshot>(Station(5)));
    server_ = std::make_unique<HttpServer>(
        [this](std::string_view path) { return site_.Find(path); }, limits);
    std::string error;
    ASSERT_TRUE(server_->Listen({"127.0.0.1", 0}, &error)) << error;
    port_ = server_->Port();
    ASSERT_NE(port_, 0);
    server_->Start();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  SnapshotHolder holder_;
  StationSite site_{&holder_};
  std::unique_ptr<HttpServer> server_;
  unsigned short port_ = 0;
};

TEST_F(StationServer, GetAndHeadServeTheLatestFigures) {
  Serve();
  Answer metrics = Get(port_, "/metrics");
  ASSERT_EQ(metrics.status, 200) << metrics.head;
  EXPECT_EQ(Field(metrics, "Content-Type"), kMetricsContentType);
  EXPECT_EQ(Field(metrics, "Content-Length"), std::to_string(metrics.body.size()));
  EXPECT_NE(metrics.body.find("rw_attempts_total{station=\"test-station\",reader=\"a\","
                              "tool=\"kestrow\",port=\"COM3\"} 5\n"),
            std::string::npos);

  Answer head = Get(port_, "/metrics", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(Field(head, "Content-Length"), std::to_string(metrics.body.size()));
  EXPECT_EQ(head.body, "");

  holder_.Publish(std::make_shared<const StationSnapshot>(Station(6)));
  Answer status = Get(port_, "/status.json?from=script");
  EXPECT_EQ(status.status, 200);
  EXPECT_EQ(Field(status, "Content-Type"), "application/json");
  EXPECT_NE(status.body.find("\"attempts\":6"), std::string::npos) << status.body;

  Answer page = Get(port_, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(Field(page, "Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page.body, LivePage());
}

TEST_F(StationServer, OnlyReadsAndOnlyItsOwnPaths) {
  Serve();
  for (const char *method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
    Answer refused = Get(port_, "/metrics", method);
    EXPECT_EQ(refused.status, 405) << method;
    EXPECT_EQ(Field(refused, "Allow"), "GET, HEAD") << method;
  }
  for (const char *target : {"/nothing", "/../metrics", "/metrics/../status.json",
                             "/%2e%2e/metrics", "/metrics/", "//metrics"}) {
    EXPECT_EQ(Get(port_, target).status, 404) << target;
  }
  EXPECT_EQ(Get(port_, "/nothing", "HEAD").body, "");
  EXPECT_EQ(Get(port_, "*", "GET").status, 400);
  EXPECT_EQ(Exchange(port_, "NOT HTTP AT ALL\r\n\r\n").status, 400);
  // A body is refused, not read; a POST with its data is refused for its
  // method.
  const char *withBody = " /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n\r\nhello";
  EXPECT_EQ(Exchange(port_, std::string("GET") + withBody).status, 413);
  Answer post = Exchange(port_, std::string("POST") + withBody);
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(Field(post, "Allow"), "GET, HEAD");
}

TEST_F(StationServer, KeepsAConnectionForMoreRequests) {
  Serve();
  Client client(port_);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(
      client.Send("GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n"
                  "HEAD /status.json HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n"));
  std::string both = client.ReadToClose(kPatience);
  Answer first = Split(both);
  EXPECT_EQ(first.status, 200);
  std::size_t second = both.find("HTTP/1.1 200", 12);
  ASSERT_NE(second, std::string::npos) << both;
  EXPECT_EQ(Field(Split(both.substr(second)), "Content-Type"), "application/json");
}

TEST_F(StationServer, RefusesAnOversizedHeader) {
  Serve();
  Client client(port_);
  ASSERT_TRUE(client.Connected());
  std::string request =
      "GET /metrics HTTP/1.1\r\nHost: t\r\nX-Filler: " + std::string(16 * 1024, 'x') + "\r\n\r\n";
  client.Send(request);  // may fail part way: the server stops reading
  bool closed = false;
  Answer answer = Split(client.ReadToClose(kPatience, &closed));
  EXPECT_TRUE(closed);
  // Either told why, or dropped; never served.
  EXPECT_TRUE(answer.status == 431 || answer.status == 0) << answer.head;
  EXPECT_EQ(Get(port_, "/metrics").status, 200);
}

TEST_F(StationServer, IdleCrowdDoesNotLockOutANewClient) {
  HttpLimits limits;
  Serve(limits);
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(std::make_unique<Client>(port_));
    ASSERT_TRUE(idle.back()->Connected()) << i;
  }
  auto start = std::chrono::steady_clock::now();
  Answer answer = Get(port_, "/metrics");
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(answer.status, 200);
  // A functional bound, far above the few milliseconds it takes.
  EXPECT_LT(took, 2s);
  // Closed connections end on the server's thread a moment later.
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (server_->OpenConnections() > limits.maxConnections &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_LE(server_->OpenConnections(), limits.maxConnections);
  EXPECT_GE(server_->EvictedConnections(), 200 - static_cast<long long>(limits.maxConnections));
}

TEST_F(StationServer, DropsAClientThatSendsAByteASecond) {
  HttpLimits limits;
  limits.requestTimeout = 2s;
  Serve(limits);
  Client slow(port_);
  ASSERT_TRUE(slow.Connected());
  // A request that would take a minute to end; the server closes the
  // connection, and a later byte finds it closed.
  bool writeFailed = false;
  std::chrono::steady_clock::duration failedAfter{};
  auto started = std::chrono::steady_clock::now();
  std::thread trickle([&] {
    const std::string request =
        "GET /metrics HTTP/1.1\r\nHost: slow\r\nX-Padding: abcdefghijklmnop\r\n";
    for (char c : request) {
      if (!slow.Send(std::string(1, c))) {
        writeFailed = true;
        failedAfter = std::chrono::steady_clock::now() - started;
        return;
      }
      std::this_thread::sleep_for(1s);
    }
  });
  // Others are served meanwhile.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Get(port_, "/metrics").status, 200);
    std::this_thread::sleep_for(300ms);
  }
  trickle.join();
  EXPECT_TRUE(writeFailed);
  // Not before the time-out, and long before its request could end.
  EXPECT_GE(failedAfter, 1900ms);
  EXPECT_LT(failedAfter, 30s);
  bool closed = false;
  Answer answer = Split(slow.ReadToClose(kPatience, &closed));
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer.status, 0) << answer.head;  // never served
}

TEST_F(StationServer, AnAddressInUseIsAClearError) {
  Serve();
  HttpServer second([](std::string_view) { return std::optional<HttpContent>(); });
  std::string error;
  EXPECT_FALSE(second.Listen({"127.0.0.1", port_}, &error));
  boost::system::error_code inUseCode = net::error::address_in_use;
  std::string inUse = inUseCode.message();
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(port_)), std::string::npos) << error;
  EXPECT_NE(error.find(inUse), std::string::npos) << error;
  // The first still serves.
  EXPECT_EQ(Get(port_, "/metrics").status, 200);
}

TEST(HttpServer, StopEndsOpenConnections) {
  HttpServer server([](std::string_view) { return std::optional<HttpContent>(); });
  std::string error;
  ASSERT_TRUE(server.Listen({"127.0.0.1", 0}, &error)) << error;
  server.Start();
  Client client(server.Port());
  ASSERT_TRUE(client.Connected());
  client.Send("GET /");
  server.Stop();
  bool closed = false;
  client.ReadToClose(kPatience, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(server.OpenConnections(), 0u);
}

TEST(ListenAddress, ParsesPortAndAddressForms) {
  std::string error;
  auto port = ParseListenAddress("9464", &error);
  ASSERT_TRUE(port) << error;
  EXPECT_EQ(port->host, "127.0.0.1");
  EXPECT_EQ(port->port, 9464);
  auto all = ParseListenAddress("0.0.0.0:80", &error);
  ASSERT_TRUE(all) << error;
  EXPECT_EQ(all->host, "0.0.0.0");
  EXPECT_EQ(all->port, 80);
  auto v6 = ParseListenAddress("[::1]:65535", &error);
  ASSERT_TRUE(v6) << error;
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 65535);
  EXPECT_EQ(ListenAddressText(*v6), "[::1]:65535");
  EXPECT_EQ(ListenAddressText(*all), "0.0.0.0:80");
}

TEST(ListenAddress, RefusesWhatIsNotOne) {
  for (const char *text : {"",
                           "0",
                           "65536",
                           "99999999999999999999",
                           "-1",
                           "+80",
                           "80x",
                           "abc",
                           ":9464",
                           "localhost:9464",
                           "1.2.3:80",
                           "1.2.3.4.5:80",
                           "256.1.1.1:80",
                           "::1:9464",
                           "[::1]9464",
                           "[::1]:",
                           "[1.2.3.4]:80",
                           "[::1:80",
                           "1.2.3.4:",
                           "1.2.3.4: 80"}) {
    std::string error;
    EXPECT_FALSE(ParseListenAddress(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(ListenAddress, ListenRefusesAnAddressThatIsNone) {
  HttpServer server([](std::string_view) { return std::optional<HttpContent>(); });
  std::string error;
  EXPECT_FALSE(server.Listen({"not-an-address", 9464}, &error));
  EXPECT_NE(error.find("not-an-address"), std::string::npos) << error;
}

}  // namespace
