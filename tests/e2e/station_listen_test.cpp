// rwstation --listen end to end: real tools against simulators while the
// test reads /metrics, /status.json and the live page; counters that never
// go back and that equal the readers' event logs once they have ended; an
// address it cannot have refused before anything starts; and clients that
// misbehave while the readers go on polling.
#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "tests/e2e/station_http_support.h"
#include "tests/e2e/station_support.h"
#include "tests/support/browser.h"
#include "tests/support/http_client.h"
#include "tests/support/page_dom.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

constexpr int kSkipped = 77;

std::string Source(const std::string &path) { return std::string(SOURCE_DIR) + "/" + path; }

// Runs one of the tests' Python checkers on `text` saved to a file; a
// checker that is missing its library skips.
void PythonCheck(const ScratchDir &dir, const std::string &script, const std::string &text,
                 std::vector<std::string> more) {
  std::string path = dir / "checked";
  WriteFile(path, text);
  std::vector<std::string> args{Source(script), path};
  args.insert(args.end(), more.begin(), more.end());
  RunResult r = RunProgram("/usr/bin/python3", args, "", 120000);
  if (r.exitCode == kSkipped) {
    std::printf("%s skipped: %s", script.c_str(), r.out.c_str());
    return;
  }
  EXPECT_EQ(r.exitCode, 0) << script << ": " << r.out << r.err;
}

TEST(StationListenTest, RefusesAnAddressItCannotHaveBeforeAnyReaderStarts) {
  ScratchDir dir;
  std::string session = dir / "session";
  unsigned short port = FreePort();
  PortHolder busy(port);
  ASSERT_TRUE(busy.Listening());
  RunResult r = RunProgram(Station(),
                           {"--listen", std::to_string(port), "--session", session, "--reader",
                            "a brimlet c " + dir / "no-port"},
                           "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "rwstation: cannot listen on 127.0.0.1:" + std::to_string(port) +
                       " (bind): Address already in use; no reader was started\n");
  EXPECT_EQ(ReadFile(session), "<missing>");  // not even the session folder
  // An address of no interface of this computer (a documentation network).
  r = RunProgram(Station(), {"--listen", "192.0.2.1:9464", "--session", session, "--reader",
                             "a brimlet c " + dir / "no-port"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("rwstation: cannot listen on 192.0.2.1:9464 (bind): "), std::string::npos);
  EXPECT_NE(r.err.find("; no reader was started\n"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(session), "<missing>");
  for (std::vector<std::string> words : {std::vector<std::string>{"--listen", "0"},
                                         {"--listen", "65536"},
                                         {"--listen", "abc"},
                                         {"--listen", "::1:9464"},
                                         {"--listen", "1.2.3:9464"},
                                         {"--listen", ""},
                                         {"--station", ""},
                                         {"--station", "a\nb"},
                                         {"--listen"}}) {
    words.insert(words.end(), {"--reader", "a brimlet c x"});
    r = RunProgram(Station(), words);
    EXPECT_EQ(r.exitCode, 2) << words[0] << " " << words[1];
    EXPECT_NE(r.err.find("Usage: rwstation"), std::string::npos) << r.err;
  }
  r = RunProgram(Station(), {"--listen", "99999", "--reader", "a brimlet c x"});
  EXPECT_EQ(
      r.err.rfind("rwstation: --listen 99999: the port must be a number from 1 to 65535\n", 0), 0u)
      << r.err;
}

// The figures served while the readers poll: counters never go back; once
// a reader has ended, each of its series equals what its event log says;
// the status JSON passes its schema and says the same; the exposition passes
// an independent parser.
TEST(StationListenTest, ServesFiguresThatEqualTheReadersLogs) {
  ScratchDir dir;
  const std::vector<std::string> ending{"unit01", "unit02"};
  ListeningStation station(dir, ending, "lab \"3\" \\ north");
  ASSERT_TRUE(station.Serving());
  std::vector<MetricSample> samples = ScrapeUntilEnded(station.Port(), ending);
  for (const std::string &reader : ending) {
    ASSERT_EQ(SampleValue(samples, "rw_reader_state", {{"reader", reader}, {"state", "stopped"}}),
              1.0)
        << reader;
    LogTally log = TallyLog(station.Log(reader));
    EXPECT_GE(log.runs, 1) << reader;
    ExpectSeriesEqualLog(samples, reader, log);
  }
  // The keeper still polls: its figures are at most what its log holds now.
  LogTally keeper = TallyLog(station.Log("keeper"));
  EXPECT_LE(SampleValue(samples, "rw_attempts_total", {{"reader", "keeper"}}).value_or(-1),
            keeper.attempts);
  EXPECT_EQ(SampleValue(samples, "rw_station_info", {{"station", "lab \"3\" \\ north"}}), 1.0);
  EXPECT_EQ(SampleValue(samples, "rw_required_success_ratio", {{"reader", "keeper"}}), 0.5);

  HttpReply metrics = HttpGet(station.Port(), "/metrics");
  PythonCheck(dir, "tests/report/data/check_exposition.py", metrics.body,
              {"--expect", "station=lab \"3\" \\ north"});
  HttpReply figures = HttpGet(station.Port(), "/status.json");
  ASSERT_EQ(figures.status, 200);
  PythonCheck(dir, "tests/report/data/check_status.py", figures.body,
              {Source("docs/station-status.schema.json"), Source("docs/station-status.md")});
  rapidjson::Document json;
  ASSERT_FALSE(json.Parse(figures.body.c_str()).HasParseError());
  for (const rapidjson::Value &reader : json["readers"].GetArray()) {
    std::string name = reader["name"].GetString();
    if (name == "keeper") continue;
    LogTally log = TallyLog(station.Log(name));
    EXPECT_EQ(reader["attempts"].GetInt64(), log.attempts) << name;
    EXPECT_EQ(reader["successes"].GetInt64(), log.successes) << name;
    EXPECT_EQ(reader["runs"].GetInt64(), log.runs) << name;
  }
  int status = station.Stop();
  EXPECT_TRUE(status == 0 || status == 1) << status;  // the keeper's last run may be short
}

// A reader whose R/W goes away and comes back: the station starts its tool
// again, and none of its counters goes back meanwhile. Once it has ended,
// the attempts with the R/W gone are counted apart, as its log has them.
TEST(StationListenTest, CountersGoOnAcrossAToolStartedAgain) {
  ScratchDir dir;
  // Unplugged 3 s after its start, back 2 s later under the same link.
  SimProcess lost({"--link=" + dir / "rw", "--unplug=3,2"}, false);
  SimProcess keeper({}, false);
  unsigned short port = FreePort();
  std::string session = dir / "session";
  ChildProcess station(Station(), {"--listen", std::to_string(port), "--session", session,
                                   "--reader", "lost brimlet c " + dir / "rw" + " runfor 5s",
                                   "--reader", "keeper brimlet c " + keeper.Path()});
  ASSERT_NE(station.ReadUntil("rwstation: serving", kGenerousMs).find("rwstation: serving"),
            std::string::npos);
  std::vector<MetricSample> samples = ScrapeUntilEnded(port, {"lost"});
  LogTally log = TallyLog(ReadFile(session + "/lost.log"));
  auto value = [&](const std::string &name) {
    return SampleValue(samples, name, {{"reader", "lost"}}).value_or(-1);
  };
  EXPECT_EQ(log.starts, 2);
  EXPECT_EQ(value("rw_tool_starts_total"), 2);
  EXPECT_EQ(value("rw_losses_total"), 1);
  EXPECT_EQ(value("rw_lost_attempts_total"), log.portErrors);
  EXPECT_GT(value("rw_lost_seconds_total"), 0);
  EXPECT_EQ(value("rw_attempts_total"), log.attempts);
  EXPECT_EQ(value("rw_successes_total"), log.successes);
  EXPECT_EQ(value("rw_poll_duration_seconds_count"), log.attempts);
  EXPECT_EQ(value("rw_runs_total"), log.runs);
  station.Signal(SIGINT);
  EXPECT_GE(station.Wait(kGenerousMs), 0);
}

// The live page in a browser: every reader of the running station, and
// figures that change between two looks while the keeper polls.
TEST(StationListenTest, ThePageShowsEveryReaderAndFollowsThem) {
  std::string chromium = FindChromium();
  if (chromium.empty()) {
    GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it as root)";
  }
  ScratchDir dir;
  ListeningStation station(dir, {"unit01"}, "page");
  ASSERT_TRUE(station.Serving());
  std::string url = "http://127.0.0.1:" + std::to_string(station.Port()) + "/";
  std::vector<std::string> looks;
  for (int look = 0; look < 2; ++look) {
    RunResult r = RunChromium(chromium, dir, {"--virtual-time-budget=3000", "--dump-dom", url});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char *reader : {"unit01", "keeper"})
      EXPECT_FALSE(PageRow(r.out, reader).empty()) << reader << " not shown: " << r.out;
    looks.push_back(PageCell(PageRow(r.out, "keeper"), "attempts"));
    // The next look once the station has counted more.
    WaitForMoreAttempts(station.Port(), "keeper", std::atof(looks.back().c_str()));
  }
  EXPECT_NE(looks[0], looks[1]) << "the keeper's attempts did not change on the page";
}

// Clients that misbehave, all at once: a request with a huge header, one
// that sends a byte a second, a crowd of idle connections, a POST and a path
// with "..". Each is answered or dropped, and meanwhile the readers go on
// polling and their ended figures still equal their logs.
TEST(StationListenTest, MisbehavingClientsStopNeitherTheServerNorTheReaders) {
  ScratchDir dir;
  const std::vector<std::string> ending{"unit01"};
  ListeningStation station(dir, ending, "hostile");
  ASSERT_TRUE(station.Serving());
  unsigned short port = station.Port();
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(std::make_unique<RawConnection>(port));
  RawConnection slow(port);
  std::atomic<bool> done{false};
  std::thread dripping([&] {
    std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
    for (std::size_t i = 0; i < request.size() && !done && slow.Send(request.substr(i, 1)); ++i)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  });
  HttpReply huge =
      HttpExchange(port, "GET / HTTP/1.1\r\nX: " + std::string(100000, 'a') + "\r\n\r\n");
  EXPECT_TRUE(huge.status == 431 || huge.status == 400 || huge.status == 0) << huge.head;
  EXPECT_EQ(HttpExchange(port,
                         "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n"
                         "Connection: close\r\n\r\nab")
                .status,
            405);
  for (const char *path : {"/../etc/passwd", "/%2e%2e/plan", "/docs/../metrics/.."}) {
    HttpReply r = HttpGet(port, path);
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_EQ(r.body.find("root:"), std::string::npos);
  }
  double keeper =
      SampleValue(Scrape(port), "rw_attempts_total", {{"reader", "keeper"}}).value_or(0);
  std::vector<MetricSample> samples = ScrapeUntilEnded(port, ending);
  ExpectSeriesEqualLog(samples, "unit01", TallyLog(station.Log("unit01")));
  EXPECT_GT(WaitForMoreAttempts(port, "keeper", keeper), keeper) << "the keeper stopped polling";
  for (const auto &connection : idle) EXPECT_TRUE(connection->Connected());
  done = true;
  dripping.join();
  int status = station.Stop();
  EXPECT_TRUE(status == 0 || status == 1) << status;
}

}  // namespace
