// What the end-to-end tests of the station's HTTP face share: a station of
// simulated readers serving on a free port, the samples of a /metrics
// answer read by a parser of their own, and the figures of a reader's event
// log counted from its events, to compare the two.
#pragma once

#include <signal.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/station_support.h"
#include "tests/support/event_fields.h"
#include "tests/support/http_client.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

struct MetricSample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

// Reads `{name="value",...}` from `at` (just after the brace); false when
// malformed.
inline bool ReadLabels(const std::string &line, std::size_t *at,
                       std::map<std::string, std::string> *labels) {
  while (*at < line.size() && line[*at] != '}') {
    std::size_t equals = line.find("=\"", *at);
    if (equals == std::string::npos) return false;
    std::string name = line.substr(*at, equals - *at), value;
    std::size_t i = equals + 2;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        value += line[i];
      } else if (++i < line.size()) {
        value += line[i] == 'n' ? '\n' : line[i];
      }
    }
    if (i >= line.size()) return false;
    (*labels)[name] = value;
    *at = i + 1;
    if (*at < line.size() && line[*at] == ',') ++*at;
  }
  return *at < line.size();
}

// Every sample of an exposition; a line that is neither a comment nor a
// sample fails the test.
inline std::vector<MetricSample> ParseExposition(const std::string &text) {
  std::vector<MetricSample> samples;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (line.empty() || line[0] == '#') continue;
    MetricSample sample;
    std::size_t brace = line.find('{'), at = brace + 1;
    bool read = brace != std::string::npos && ReadLabels(line, &at, &sample.labels) &&
                at + 2 <= line.size() && line[at + 1] == ' ';
    EXPECT_TRUE(read) << line;
    if (!read) continue;
    sample.name = line.substr(0, brace);
    sample.value = std::strtod(line.c_str() + at + 2, nullptr);
    samples.push_back(sample);
  }
  return samples;
}

// The value of the one sample of `name` whose labels include `labels`;
// none when there is no such sample.
inline std::optional<double> SampleValue(const std::vector<MetricSample> &samples,
                                         const std::string &name,
                                         const std::map<std::string, std::string> &labels) {
  for (const MetricSample &s : samples) {
    if (s.name != name) continue;
    bool match = true;
    for (const auto &[key, value] : labels) {
      auto found = s.labels.find(key);
      match = match && found != s.labels.end() && found->second == value;
    }
    if (match) return s.value;
  }
  return std::nullopt;
}

// A sample's identity: its name and every label.
inline std::string SeriesKey(const MetricSample &s) {
  std::string key = s.name;
  for (const auto &[name, value] : s.labels) key += "|" + name + "=" + value;
  return key;
}

// What a reader's event log says, counted event by event.
struct LogTally {
  long long starts = 0, runs = 0, reconnections = 0;
  long long attempts = 0, successes = 0, portErrors = 0;
  std::map<std::string, long long> failures;  // "none" left out
  std::vector<long long> pollUs;
  std::optional<double> lastAttemptTime;  // unix seconds
};

// "2026-12-07T06:40:00Z" as unix seconds.
inline double WallSeconds(const std::string &wall) {
  tm parts{};
  strptime(wall.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return static_cast<double>(timegm(&parts));
}

inline LogTally TallyLog(const std::string &text) {
  LogTally tally;
  double wallAtZero = 0;
  for (const EventFields &e : EventsIn(text)) {
    const std::string &kind = e.at("ev");
    double t = std::strtod(e.at("t").c_str(), nullptr) / 1e6;
    if (kind == "start") {
      ++tally.starts;
      wallAtZero = WallSeconds(e.at("wall")) - t;
    } else if (kind == "run") {
      ++tally.runs;
    } else if (kind == "reconnect" && e.at("ok") == "true") {
      ++tally.reconnections;
    } else if (kind == "attempt") {
      tally.lastAttemptTime = wallAtZero + t;
      const std::string &failure = e.at("failure");
      if (failure == "port error") {
        ++tally.portErrors;
        continue;
      }
      ++tally.attempts;
      tally.pollUs.push_back(std::atoll(e.at("us").c_str()));
      if (failure == "none") {
        ++tally.successes;
      } else {
        ++tally.failures[failure];
      }
    }
  }
  return tally;
}

// Compares a reader's series in `samples` with its log, where no R/W was
// lost: every counter, every failure class, the poll durations bucket by
// bucket and the last attempt's time.
inline void ExpectSeriesEqualLog(const std::vector<MetricSample> &samples,
                                 const std::string &reader, const LogTally &log) {
  std::map<std::string, std::string> who{{"reader", reader}};
  auto value = [&](const std::string &name, std::map<std::string, std::string> more = {}) {
    more.insert(who.begin(), who.end());
    return SampleValue(samples, name, more).value_or(-1);
  };
  SCOPED_TRACE("reader " + reader);
  EXPECT_EQ(log.portErrors, 0);
  EXPECT_EQ(value("rw_attempts_total"), log.attempts);
  EXPECT_EQ(value("rw_successes_total"), log.successes);
  EXPECT_EQ(value("rw_runs_total"), log.runs);
  EXPECT_EQ(value("rw_tool_starts_total"), log.starts);
  EXPECT_EQ(value("rw_reconnections_total"), log.reconnections);
  EXPECT_EQ(value("rw_losses_total"), 0);
  double failed = 0;
  for (const MetricSample &s : samples) {
    if (s.name != "rw_failures_total" || s.labels.at("reader") != reader) continue;
    auto found = log.failures.find(s.labels.at("class"));
    EXPECT_EQ(s.value, found == log.failures.end() ? 0 : found->second) << s.labels.at("class");
    failed += s.value;
  }
  EXPECT_EQ(failed, log.attempts - log.successes);
  double sum = 0;
  for (long long us : log.pollUs) sum += static_cast<double>(us) / 1e6;
  EXPECT_EQ(value("rw_poll_duration_seconds_count"), log.attempts);
  EXPECT_NEAR(value("rw_poll_duration_seconds_sum"), sum, 1e-6);
  for (const MetricSample &s : samples) {
    if (s.name != "rw_poll_duration_seconds_bucket" || s.labels.at("reader") != reader) continue;
    const std::string &le = s.labels.at("le");
    long long bound = le == "+Inf" ? -1 : std::llround(std::strtod(le.c_str(), nullptr) * 1e6);
    long long within = 0;
    for (long long us : log.pollUs) within += bound < 0 || us <= bound;
    EXPECT_EQ(s.value, within) << "le=" << le;
  }
  ASSERT_TRUE(log.lastAttemptTime.has_value());
  EXPECT_NEAR(value("rw_last_attempt_timestamp_seconds"), *log.lastAttemptTime, 1e-3);
}

// A station of readers against simulators of their own, serving on a free
// port: `ending` readers poll for a few seconds and end by themselves, the
// last one ("keeper") polls until the test stops the station.
class ListeningStation {
 public:
  ListeningStation(const ScratchDir &dir, const std::vector<std::string> &ending,
                   const std::string &name)
      : port_(FreePort()), session_(dir / ("session-" + name)) {
    std::string plan;
    for (const std::string &reader : ending) plan += Reader(reader) + " runfor 6s\n";
    plan += Reader("keeper") + "\n";
    std::string path = WritePlan(dir, plan, "plan-" + name);
    station_ = std::make_unique<ChildProcess>(
        Station(),
        std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(port_), "--station",
                                 name, "--require", "50", "--session", session_, path});
  }
  ~ListeningStation() {
    if (!stopped_) Stop();
  }
  unsigned short Port() const { return port_; }
  bool Serving() {
    return station_->ReadUntil("rwstation: serving", kGenerousMs).find("rwstation: serving") !=
           std::string::npos;
  }
  std::string Log(const std::string &reader) const {
    return ReadFile(session_ + "/" + reader + ".log");
  }
  int Stop() {
    stopped_ = true;
    station_->Signal(SIGINT);
    return station_->Wait(kGenerousMs);
  }

 private:
  // Each reader a plain R/W that finds no card once in ten attempts and
  // once misses its ACK: more than one failure class.
  std::string Reader(const std::string &name) {
    sims_.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--card=ooooooooo.", "--fault=no-ack@7"}, false));
    return name + " brimlet c " + sims_.back()->Path();
  }
  unsigned short port_;
  std::string session_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
  std::unique_ptr<ChildProcess> station_;
  bool stopped_ = false;
};

inline std::vector<MetricSample> Scrape(unsigned short port) {
  HttpReply reply = HttpGet(port, "/metrics");
  EXPECT_EQ(reply.status, 200) << reply.head;
  EXPECT_NE(reply.head.find("text/plain; version=0.0.4"), std::string::npos) << reply.head;
  return ParseExposition(reply.body);
}

inline bool IsCounter(const MetricSample &s) {
  const std::string &n = s.name;
  return n.size() > 6 && (n.compare(n.size() - 6, 6, "_total") == 0 ||
                          n.rfind("rw_poll_duration_seconds_", 0) == 0);
}

// Scrapes until every reader in `ending` is "stopped", checking on each
// scrape that no counter went back. Returns the last scrape.
inline std::vector<MetricSample> ScrapeUntilEnded(unsigned short port,
                                                  const std::vector<std::string> &ending) {
  std::map<std::string, double> seen;
  std::vector<MetricSample> samples;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  for (bool ended = false; !ended && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    samples = Scrape(port);
    for (const MetricSample &s : samples) {
      if (!IsCounter(s)) continue;
      double &before = seen[SeriesKey(s)];
      EXPECT_GE(s.value, before) << SeriesKey(s) << " went back";
      before = s.value;
    }
    ended = true;
    for (const std::string &reader : ending) {
      ended = ended && SampleValue(samples, "rw_reader_state",
                                   {{"reader", reader}, {"state", "stopped"}}) == 1.0;
    }
  }
  return samples;
}

// Scrapes until the reader has more attempts than `than` (a tool writes
// its log a run at a time); returns its attempts then.
inline double WaitForMoreAttempts(unsigned short port, const std::string &reader, double than) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  double attempts = than;
  while (attempts <= than && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    attempts = SampleValue(Scrape(port), "rw_attempts_total", {{"reader", reader}}).value_or(-1);
  }
  return attempts;
}
