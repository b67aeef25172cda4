// How long the station's HTTP face takes to render its texts: the
// Prometheus exposition and the status JSON of a station of 32 readers (or
// as many as asked), each rendered N times. Asserts nothing.
//
//   build/station_metrics_bench [renders] [readers]   (default 2000, 32)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/station_sample.h"
#include "report/station_metrics.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Render>
void Time(const char *what, int renders, Render render) {
  std::size_t bytes = 0, lines = 0;
  auto start = Clock::now();
  for (int i = 0; i < renders; ++i) {
    std::string text = render();
    bytes = text.size();
    if (i == 0) {
      for (char c : text) lines += c == '\n';
    }
  }
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / renders;
  std::printf("%-12s %8.1f us a render, %7zu bytes, %5zu lines\n", what, us, bytes, lines);
}

}  // namespace

int main(int argc, char **argv) {
  int renders = argc > 1 ? std::atoi(argv[1]) : 2000;
  int readers = argc > 2 ? std::atoi(argv[2]) : 32;
  if (renders < 1 || readers < 0) {
    std::fprintf(stderr, "usage: station_metrics_bench [renders] [readers]\n");
    return 2;
  }
  StationSnapshot station = SampleStation(readers, 1000);
  std::printf("%d readers, %d renders each\n", readers, renders);
  Time("metrics", renders, [&] { return MetricsText(station); });
  Time("status.json", renders, [&] { return StatusJson(station); });
  // What publishing costs the station's loop: a copy of its figures.
  auto start = Clock::now();
  std::size_t names = 0;
  for (int i = 0; i < renders; ++i) {
    auto copy = std::make_shared<const StationSnapshot>(station);
    names += copy->readers.size();
  }
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / renders;
  std::printf("%-12s %8.1f us a copy (%zu readers copied)\n", "snapshot", us, names);
  return 0;
}
