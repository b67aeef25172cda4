// The station's HTTP server on loopback, serving a station of 32 readers
// (or as many as asked) whose figures change twice a second:
//   - the answer time of GET /metrics, each on a new connection, as a
//     scraper makes it (median, 99th percentile, worst);
//   - the processor time of the whole process (server, the publishing of
//     snapshots, and the clients) while Prometheus scrapes /metrics every
//     second and a live page fetches /status.json every 1.5 s, as a share
//     of one core.
// Asserts nothing.
//
//   build/station_http_bench [requests] [readers] [seconds]   (1000, 32, 20)
//   build/station_http_bench --serve SECONDS [PORT]  serves it for a browser
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "bench/station_sample.h"
#include "report/http_server.h"
#include "report/station_site.h"

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// One GET on a new connection; returns the bytes of the answer.
std::size_t Get(unsigned short port, const std::string &path) {
  net::io_context io;
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
  net::write(socket, net::buffer(request));
  std::string answer;
  boost::system::error_code ec;
  net::read(socket, net::dynamic_buffer(answer), ec);  // to the end of the connection
  return answer.size();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Publishes a new snapshot twice a second, as the station's loop would.
class Publisher {
 public:
  Publisher(SnapshotHolder *holder, int readers) : holder_(holder), readers_(readers) {
    holder_->Publish(std::make_shared<const StationSnapshot>(SampleStation(readers_, 0)));
    thread_ = std::thread([this] {
      for (long long step = 1; !stop_; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        holder_->Publish(std::make_shared<const StationSnapshot>(SampleStation(readers_, step)));
      }
    });
  }
  ~Publisher() {
    stop_ = true;
    thread_.join();
  }

 private:
  SnapshotHolder *holder_;
  int readers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Latency(unsigned short port, int requests) {
  std::vector<double> ms;
  std::size_t bytes = 0;
  for (int i = 0; i < requests; ++i) {
    auto start = Clock::now();
    bytes = Get(port, "/metrics");
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("GET /metrics (%zu bytes), %d requests: median %.3f ms, p99 %.3f ms, worst %.3f ms\n",
              bytes, requests, ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

void Load(unsigned short port, int seconds) {
  double cpuBefore = CpuSeconds();
  auto start = Clock::now();
  auto nextScrape = start, nextPage = start;
  int scrapes = 0, pages = 0;
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    auto now = Clock::now();
    if (now >= nextScrape) {
      Get(port, "/metrics");
      ++scrapes;
      nextScrape += std::chrono::seconds(1);
    }
    if (now >= nextPage) {
      Get(port, "/status.json");
      ++pages;
      nextPage += std::chrono::milliseconds(1500);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  double wall = std::chrono::duration<double>(Clock::now() - start).count();
  double cpu = CpuSeconds() - cpuBefore;
  std::printf(
      "%d s, %d scrapes, %d page fetches, snapshots twice a second: %.2f %% of a core "
      "(the clients included)\n",
      seconds, scrapes, pages, 100 * cpu / wall);
}

}  // namespace

int main(int argc, char **argv) {
  bool serve = argc > 1 && std::string(argv[1]) == "--serve";
  int requests = !serve && argc > 1 ? std::atoi(argv[1]) : 1000;
  int readers = !serve && argc > 2 ? std::atoi(argv[2]) : 32;
  int seconds = serve ? (argc > 2 ? std::atoi(argv[2]) : 60) : (argc > 3 ? std::atoi(argv[3]) : 20);
  unsigned short port = serve && argc > 3 ? static_cast<unsigned short>(std::atoi(argv[3])) : 0;
  if (requests < 1 || readers < 0 || seconds < 1) {
    std::fprintf(stderr,
                 "usage: station_http_bench [requests] [readers] [seconds]\n"
                 "       station_http_bench --serve SECONDS [PORT]\n");
    return 2;
  }
  SnapshotHolder holder;
  StationSite site(&holder);
  HttpServer server([&](std::string_view path) { return site.Find(path); });
  std::string error;
  if (!server.Listen({"127.0.0.1", port}, &error)) {
    std::fprintf(stderr, "station_http_bench: %s\n", error.c_str());
    return 1;
  }
  server.Start();
  Publisher publisher(&holder, readers);
  if (serve) {
    std::printf("http://127.0.0.1:%u/ for %d s\n", server.Port(), seconds);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
  }
  std::printf("%d readers\n", readers);
  Latency(server.Port(), requests);
  Load(server.Port(), seconds);
  return 0;
}
