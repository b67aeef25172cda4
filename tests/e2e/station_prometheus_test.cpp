// Two stations scraped by a real Prometheus server, started here on
// 127.0.0.1 with its storage in the test's folder: the attempts it sums
// over both stations equal those of the readers' event logs.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "tests/e2e/station_http_support.h"
#include "tests/support/http_client.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

namespace {

std::string FindPrometheus() {
  for (const char *path : {"/usr/bin/prometheus", "/usr/local/bin/prometheus"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

// A query's URL form: every byte but letters and digits as %XX.
std::string UrlEncoded(const std::string &text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return out;
}

// The value of an instant query that gives one sample; none otherwise.
std::optional<double> Query(unsigned short port, const std::string &query) {
  HttpReply reply = HttpGet(port, "/api/v1/query?query=" + UrlEncoded(query));
  rapidjson::Document json;
  if (reply.status != 200 || json.Parse(reply.body.c_str()).HasParseError()) return std::nullopt;
  const rapidjson::Value &result = json["data"]["result"];
  if (!result.IsArray() || result.Size() != 1) return std::nullopt;
  return std::strtod(result[0]["value"][1].GetString(), nullptr);
}

// Asks again until the query gives `expected` or the patience runs out;
// returns the last value.
std::optional<double> QueryUntil(unsigned short port, const std::string &query, double expected) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  std::optional<double> value;
  while (std::chrono::steady_clock::now() < end) {
    value = Query(port, query);
    if (value == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return value;
}

TEST(StationPrometheusTest, SumsTheAttemptsOfTwoStationsAsTheirLogsHaveThem) {
  std::string prometheus = FindPrometheus();
  if (prometheus.empty()) {
    GTEST_SKIP() << "prometheus (package prometheus) is not installed; scripts/deps.sh installs "
                    "it as root: the stations were not scraped by a real Prometheus";
  }
  ScratchDir dir;
  const std::vector<std::string> ending{"unit01", "unit02"};
  ListeningStation north(dir, ending, "north"), south(dir, ending, "south");
  ASSERT_TRUE(north.Serving());
  ASSERT_TRUE(south.Serving());
  unsigned short port = FreePort();
  std::string config = dir / "prometheus.yml";
  WriteFile(config,
            "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
            "scrape_configs:\n  - job_name: rwstation\n    static_configs:\n"
            "      - targets: ['127.0.0.1:" +
                std::to_string(north.Port()) + "', '127.0.0.1:" + std::to_string(south.Port()) +
                "']\n");
  ChildProcess server(
      prometheus, {"--config.file=" + config, "--storage.tsdb.path=" + dir / "data",
                   "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"});
  // Both stations up as scrape targets.
  EXPECT_EQ(QueryUntil(port, "count(up{job=\"rwstation\"} == 1)", 2), 2.0) << server.Errors();

  // The readers that end by themselves: once both stations show them
  // stopped, their logs are complete. (Each station's keeper still polls,
  // so that it serves on.)
  ScrapeUntilEnded(north.Port(), ending);
  ScrapeUntilEnded(south.Port(), ending);
  long long attempts = 0;
  for (const ListeningStation *station : {&north, &south}) {
    for (const std::string &reader : ending) attempts += TallyLog(station->Log(reader)).attempts;
  }
  EXPECT_GT(attempts, 0);
  EXPECT_EQ(QueryUntil(port, "sum(rw_attempts_total{reader!=\"keeper\"})", attempts),
            double(attempts));
  EXPECT_EQ(Query(port, "count(count by (station) (rw_station_info))"), 2.0);
  server.Signal(SIGTERM);
  server.Wait(kGenerousMs);
}

}  // namespace
