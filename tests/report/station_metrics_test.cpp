// The station's figures as Prometheus metrics and as status JSON, the
// snapshot's own counting helpers, and the site that serves them. The
// exposition's format is checked by independent parsers in
// station_formats_test.cpp; here the figures themselves.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>

#include "report/station_metrics.h"
#include "report/station_site.h"
#include "tests/report/station_samples.h"

namespace {

StationSnapshot TwoReaders() {
  StationSnapshot s;
  s.name = "bench-3";
  s.version = "1.1.0";
  s.session = "station-20240501-220000";
  s.startTime = 1714600000;
  s.time = 1714600100.5;
  ReaderSnapshot a = SampleReader("unit07", "kestrow", "/dev/ttyUSB3", "polling", 381, 381);
  a.starts = 1;
  a.runs = 3;
  a.lastAttemptTime = 1714600099.25;
  a.lastMarks = "oooooooooo";
  ReaderSnapshot b = SampleReader("lab1", "brimlet", "/dev/ttyACM0", "failed", 100, 97);
  b.cause = "no connection: no ACK";
  b.starts = 2;
  b.failures = {{"no card", 2}, {"no ACK", 1}};
  b.losses = {1, 4, 12.5};
  b.reconnections = 5;
  s.readers = {a, b};
  return s;
}

// The value of the one sample line that begins with `series` followed by a
// space; "<none>" when there is none, "<twice>" when there are more.
std::string Sample(const std::string &text, const std::string &series) {
  std::string found = "<none>";
  for (std::size_t at = 0; (at = text.find(series + " ", at)) != std::string::npos; ++at) {
    if (at > 0 && text[at - 1] != '\n') continue;
    if (found != "<none>") return "<twice>";
    std::size_t start = at + series.size() + 1;
    found = text.substr(start, text.find('\n', start) - start);
  }
  return found;
}

const char kA[] = R"(station="bench-3",reader="unit07",tool="kestrow",port="/dev/ttyUSB3")";
const char kB[] = R"(station="bench-3",reader="lab1",tool="brimlet",port="/dev/ttyACM0")";

std::string Series(const char *name, const char *labels, const std::string &extra = "") {
  return std::string(name) + "{" + labels + (extra.empty() ? "" : "," + extra) + "}";
}

TEST(StationMetrics, CountersOfEachReader) {
  std::string text = MetricsText(TwoReaders());
  EXPECT_EQ(Sample(text, Series("rw_attempts_total", kA)), "381");
  EXPECT_EQ(Sample(text, Series("rw_successes_total", kB)), "97");
  EXPECT_EQ(Sample(text, Series("rw_runs_total", kA)), "3");
  EXPECT_EQ(Sample(text, Series("rw_tool_starts_total", kB)), "2");
  EXPECT_EQ(Sample(text, Series("rw_reconnections_total", kB)), "5");
  EXPECT_EQ(Sample(text, Series("rw_losses_total", kB)), "1");
  EXPECT_EQ(Sample(text, Series("rw_lost_attempts_total", kB)), "4");
  EXPECT_EQ(Sample(text, Series("rw_lost_seconds_total", kB)), "12.5");
  EXPECT_EQ(Sample(text, Series("rw_failures_total", kB, R"(class="no card")")), "2");
  EXPECT_EQ(Sample(text, Series("rw_failures_total", kB, R"(class="no ACK")")), "1");
  // Every class is there from the start, at zero.
  EXPECT_EQ(Sample(text, Series("rw_failures_total", kA, R"(class="port error")")), "0");
  EXPECT_EQ(Sample(text, Series("rw_failures_total", kA, R"(class="none")")), "<none>");
  EXPECT_EQ(Sample(text, R"(rw_station_info{station="bench-3",version="1.1.0"})"), "1");
  EXPECT_EQ(Sample(text, R"(rw_station_start_time_seconds{station="bench-3"})"), "1714600000");
  EXPECT_EQ(Sample(text, Series("rw_last_attempt_timestamp_seconds", kA)), "1714600099.25");
}

TEST(StationMetrics, SeriesThatMayBeAbsent) {
  StationSnapshot s = TwoReaders();
  std::string text = MetricsText(s);
  // No attempt time for a reader without one; no requirement without a gate.
  EXPECT_EQ(Sample(text, Series("rw_last_attempt_timestamp_seconds", kB)), "<none>");
  EXPECT_EQ(text.find("rw_required_success_ratio"), std::string::npos);
  s.requiredRate = 0.995;
  text = MetricsText(s);
  EXPECT_EQ(Sample(text, Series("rw_required_success_ratio", kA)), "0.995");
  EXPECT_EQ(Sample(text, Series("rw_required_success_ratio", kB)), "0.995");
}

TEST(StationMetrics, OneStateSeriesIsOne) {
  StationSnapshot s = TwoReaders();
  s.readers[0].state = "lost";
  s.readers[1].state = "resting";  // a state this program does not list
  std::string text = MetricsText(s);
  for (const char *state : kReaderStateNames) {
    std::string label = std::string("state=\"") + state + "\"";
    EXPECT_EQ(Sample(text, Series("rw_reader_state", kA, label)),
              std::string(state) == "lost" ? "1" : "0")
        << state;
    EXPECT_EQ(Sample(text, Series("rw_reader_state", kB, label)), "0") << state;
  }
  EXPECT_EQ(Sample(text, Series("rw_reader_state", kB, R"(state="resting")")), "1");
}

TEST(StationMetrics, PollDurationHistogramIsCumulative) {
  StationSnapshot s = TwoReaders();
  for (double seconds : {0.012, 0.013, 0.015, 0.3, 2.0}) s.readers[0].pollDurations.Add(seconds);
  std::string text = MetricsText(s);
  auto bucket = [&](const char *le) {
    return Sample(text,
                  Series("rw_poll_duration_seconds_bucket", kA, std::string("le=\"") + le + "\""));
  };
  EXPECT_EQ(bucket("0.01"), "0");
  EXPECT_EQ(bucket("0.015"), "3");  // a bound holds what equals it
  EXPECT_EQ(bucket("0.25"), "3");
  EXPECT_EQ(bucket("0.5"), "4");
  EXPECT_EQ(bucket("1"), "4");
  EXPECT_EQ(bucket("+Inf"), "5");
  EXPECT_EQ(Sample(text, Series("rw_poll_duration_seconds_count", kA)), "5");
  EXPECT_DOUBLE_EQ(std::stod(Sample(text, Series("rw_poll_duration_seconds_sum", kA))), 2.34);
  EXPECT_EQ(Sample(text, Series("rw_poll_duration_seconds_count", kB)), "0");
}

TEST(StationMetrics, LabelValuesAreEscaped) {
  StationSnapshot s = TwoReaders();
  s.name = "st\"1";
  s.readers[0].name = "a\\b";
  s.readers[0].port = "COM3\n} 1\nrw_attempts_total{x=\"";
  s.readers[0].tool = "bad\xff";
  std::string text = MetricsText(s);
  const char *labels = R"(station="st\"1",reader="a\\b",tool="bad)"
                       "\xEF\xBF\xBD"
                       R"(",port="COM3\n} 1\nrw_attempts_total{x=\"")";
  EXPECT_EQ(Sample(text, Series("rw_attempts_total", labels)), "381");
  // The hostile port made no line of its own.
  EXPECT_EQ(text.find("\nrw_attempts_total{x="), std::string::npos);
}

TEST(StationMetrics, EveryFamilyIsDeclaredOnce) {
  StationSnapshot s = TwoReaders();
  s.requiredRate = 0.99;
  std::string text = MetricsText(s);
  for (const char *family :
       {"rw_attempts_total", "rw_successes_total", "rw_failures_total", "rw_runs_total",
        "rw_tool_starts_total", "rw_reconnections_total", "rw_losses_total",
        "rw_lost_attempts_total", "rw_lost_seconds_total", "rw_reader_state",
        "rw_poll_duration_seconds", "rw_last_attempt_timestamp_seconds",
        "rw_required_success_ratio", "rw_station_info", "rw_station_start_time_seconds"}) {
    std::string help = std::string("# HELP ") + family + " ";
    std::string type = std::string("# TYPE ") + family + " ";
    std::size_t first = text.find(help);
    ASSERT_NE(first, std::string::npos) << family;
    EXPECT_EQ(text.find(help, first + 1), std::string::npos) << family;
    EXPECT_NE(text.find(type), std::string::npos) << family;
  }
  EXPECT_EQ(text.back(), '\n');
}

TEST(StationMetrics, ValidUtf8KeepsCharactersAndReplacesBadBytes) {
  EXPECT_EQ(ValidUtf8("plain"), "plain");
  EXPECT_EQ(ValidUtf8("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"), "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
  EXPECT_EQ(ValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(ValidUtf8("a\xFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(ValidUtf8("\xC3"), "\xEF\xBF\xBD");                    // cut short
  EXPECT_EQ(ValidUtf8("\xC0\xAFx"), "\xEF\xBF\xBD\xEF\xBF\xBDx");  // overlong '/'
  EXPECT_EQ(ValidUtf8("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(StationSnapshot, PollDurationsCountPerBucket) {
  PollDurations d;
  d.Add(0.0);
  d.Add(0.005);
  d.Add(0.0051);
  d.Add(1.0);
  d.Add(1.5);
  EXPECT_EQ(d.counts[0], 2u);
  EXPECT_EQ(d.counts[1], 1u);
  EXPECT_EQ(d.counts[kPollBucketBounds.size() - 1], 1u);
  EXPECT_EQ(d.counts[kPollBucketBounds.size()], 1u);
  EXPECT_EQ(d.Count(), 5u);
  EXPECT_DOUBLE_EQ(d.sumSeconds, 2.5101);
}

TEST(StationSnapshot, RecentBinsRollOverWallClockTime) {
  RecentBins bins;
  bins.binSeconds = 10;
  bins.Add(1000, true);
  bins.Add(1009, false);
  bins.Add(1030, true);  // two empty bins between
  EXPECT_EQ(bins.newestStart, 1030);
  EXPECT_EQ(bins.attempts, (std::vector<long long>{2, 0, 0, 1}));
  EXPECT_EQ(bins.successes, (std::vector<long long>{1, 0, 0, 1}));
  for (int i = 0; i < 100; ++i) bins.Add(1040 + 10 * i, i % 2 == 0);
  ASSERT_EQ(bins.attempts.size(), kRecentBins);
  EXPECT_EQ(bins.newestStart, 2030);
  EXPECT_EQ(bins.successes.back(), 0);
  EXPECT_EQ(bins.successes[bins.successes.size() - 2], 1);
  // A long pause leaves a window of empty bins before the new one.
  bins.Add(1000000, true);
  EXPECT_EQ(bins.attempts.size(), kRecentBins);
  EXPECT_EQ(bins.attempts.front(), 0);
  EXPECT_EQ(bins.attempts.back(), 1);
  EXPECT_EQ(bins.newestStart, 1000000);
}

rapidjson::Document Parse(const std::string &text) {
  rapidjson::Document json;
  json.Parse(text.c_str(), text.size());
  EXPECT_FALSE(json.HasParseError()) << text;
  return json;
}

TEST(StationStatus, FiguresAndRatesWithTheirIntervals) {
  StationSnapshot s = TwoReaders();
  rapidjson::Document json = Parse(StatusJson(s));
  EXPECT_EQ(json["format"].GetInt(), kStatusFormat);
  EXPECT_TRUE(json["station"]["required_rate"].IsNull());
  const auto &a = json["readers"][0];
  EXPECT_STREQ(a["name"].GetString(), "unit07");
  EXPECT_EQ(a["attempts"].GetInt64(), 381);
  // Wilson with z the normal distribution's 97.5 % quantile (Python's
  // statistics.NormalDist().inv_cdf(0.975) = 1.9599639845400536): for no
  // failures the lower bound is n / (n + z^2); 97 of 100 computed in Python
  // with the score formula.
  const double z = 1.9599639845400536;
  EXPECT_NEAR(a["rate_low"].GetDouble(), 381 / (381 + z * z), 1e-12);
  EXPECT_NEAR(a["rate_high"].GetDouble(), 1.0, 1e-12);
  const auto &b = json["readers"][1];
  EXPECT_DOUBLE_EQ(b["rate"].GetDouble(), 0.97);
  EXPECT_NEAR(b["rate_low"].GetDouble(), 0.9154806357094722, 1e-12);
  EXPECT_NEAR(b["rate_high"].GetDouble(), 0.9897454759759611, 1e-12);
  EXPECT_EQ(b["failures"]["no card"].GetInt(), 2);
  EXPECT_EQ(b["losses"]["attempts"].GetInt(), 4);
  EXPECT_TRUE(b["last_attempt_time"].IsNull());
  const auto &total = json["total"];
  EXPECT_EQ(total["attempts"].GetInt(), 481);
  EXPECT_EQ(total["successes"].GetInt(), 478);
  EXPECT_EQ(total["running"].GetInt(), 1);
  EXPECT_EQ(total["failed"].GetInt(), 1);
}

TEST(StationStatus, NoRateBeforeTheFirstAttemptAndHostileTextSurvives) {
  StationSnapshot s = TwoReaders();
  s.readers[0].attempts = s.readers[0].successes = 0;
  s.readers[0].name = "<b>\"x\"\n\x01";
  s.readers[0].port = "\xFF";
  s.requiredRate = 0.99;
  rapidjson::Document json = Parse(StatusJson(s));
  const auto &a = json["readers"][0];
  EXPECT_TRUE(a["rate"].IsNull());
  EXPECT_TRUE(a["rate_low"].IsNull());
  EXPECT_STREQ(a["name"].GetString(), "<b>\"x\"\n\x01");
  EXPECT_STREQ(a["port"].GetString(), "\xEF\xBF\xBD");
  EXPECT_DOUBLE_EQ(json["station"]["required_rate"].GetDouble(), 0.99);
}

TEST(StationSite, ServesTheLatestSnapshotAndSharesItsTexts) {
  SnapshotHolder holder;
  StationSite site(&holder);
  EXPECT_FALSE(site.Find("/nothing"));
  EXPECT_FALSE(site.Find("/metrics/"));
  auto page = site.Find("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->contentType, kHtmlContentType);
  EXPECT_NE(page->body->find("status.json"), std::string::npos);
  // Before the first snapshot: an empty station.
  auto empty = site.Find("/metrics");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->body->find("rw_attempts_total{"), std::string::npos);

  holder.Publish(std::make_shared<const StationSnapshot>(TwoReaders()));
  auto first = site.Find("/metrics");
  auto again = site.Find("/metrics");
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->contentType, kMetricsContentType);
  EXPECT_EQ(first->body, again->body);  // rendered once for this snapshot
  EXPECT_EQ(Sample(*first->body, Series("rw_attempts_total", kA)), "381");

  StationSnapshot next = TwoReaders();
  next.readers[0].attempts = 400;
  holder.Publish(std::make_shared<const StationSnapshot>(next));
  auto status = site.Find("/status.json");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->contentType, kJsonContentType);
  EXPECT_EQ(Parse(*status->body)["readers"][0]["attempts"].GetInt(), 400);
  EXPECT_EQ(Sample(*site.Find("/metrics")->body, Series("rw_attempts_total", kA)), "400");
}

}  // namespace
