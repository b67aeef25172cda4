// The soak series: exact latency percentiles per bin, binning by wall-clock
// time (given and chosen), several logs making one series, the trend test
// against independently computed values, and the three renderings.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "report/log_event.h"
#include "report/log_reader.h"
#include "report/logged_runs.h"
#include "report/series.h"
#include "tests/support/log_lines.h"

namespace {

constexpr std::int64_t kSecond = 1000000;
// 2026-12-07T06:40:00Z in seconds since 1970.
constexpr std::int64_t kSoakStart = 1796625600;

int ClassOf(const std::string &name) {
  const std::vector<std::string> &classes = logread::FailureClasses();
  return static_cast<int>(std::find(classes.begin(), classes.end(), name) - classes.begin());
}

TEST(ExactHistogramTest, PercentilesMatchTheNearestRankOfAllValues) {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> latency(9000, 16000);
  for (int count : {1, 2, 99, 1000, 12345}) {
    ExactHistogram a, b;
    std::vector<std::int64_t> all;
    for (int i = 0; i < count; ++i) {
      std::uint32_t value = i % 97 == 0 ? 130000 + i : latency(random);
      (i % 3 ? a : b).Add(value);
      all.push_back(value);
    }
    a.Merge(std::move(b));
    EXPECT_EQ(a.Count(), static_cast<std::uint64_t>(count));
    for (int percent : {1, 50, 90, 99, 100}) {
      EXPECT_EQ(a.Percentile(percent), NearestRank(all, percent)) << count << " " << percent;
    }
  }
  ExactHistogram empty;
  EXPECT_EQ(empty.Percentile(50), 0u);
}

TEST(SeriesTest, AttemptsFallIntoTheBinsOfTheirWallClockTime) {
  SeriesBuilder builder(60);
  std::int64_t t0 = kSoakStart * kSecond;
  builder.AddAttempt("7", t0 + 1 * kSecond, true, 12000, 0);
  builder.AddAttempt("7", t0 + 59 * kSecond, false, 131000, ClassOf("no ACK"));
  builder.AddAttempt("7", t0 + 59 * kSecond, true, 14000, 0);
  builder.AddReconnect("7", t0 + 60 * kSecond, false);
  builder.AddAttempt("7", t0 + 185 * kSecond, false, 13000, ClassOf("no card"));
  builder.AddStop("7", t0 + 190 * kSecond);
  builder.AddAttempt("-", t0 + 10 * kSecond, true, 11000, 0);
  SeriesSet set = builder.Build();
  EXPECT_EQ(set.binSeconds, 60);
  EXPECT_FALSE(set.automatic);
  ASSERT_EQ(set.series.size(), 2u);
  EXPECT_EQ(set.series[0].label, "-");
  const Series &tag = set.series[1];
  ASSERT_EQ(tag.bins.size(), 4u);  // 06:40, 06:41 (a reconnection only), 06:42 (empty), 06:43
  const SeriesBin &first = tag.bins[0];
  EXPECT_EQ(FormatWallClock(first.startSeconds), "2026-12-07T06:40:00Z");
  EXPECT_EQ(first.attempts, 3);
  EXPECT_EQ(first.successes, 2);
  EXPECT_NEAR(first.ratePercent, 66.6667, 1e-3);
  EXPECT_EQ(first.p50Us, 14000);  // 12000 14000 131000: rank 2
  EXPECT_EQ(first.p99Us, 131000);
  EXPECT_EQ(first.failures[ClassOf("no ACK")], 1);
  EXPECT_EQ(tag.bins[1].attempts, 0);
  EXPECT_EQ(tag.bins[1].reconnections, 1);
  EXPECT_EQ(tag.bins[1].failedReconnections, 1);
  EXPECT_EQ(tag.bins[2].attempts, 0);
  EXPECT_EQ(tag.bins[3].attempts, 1);
  EXPECT_EQ(tag.bins[3].stops, 1);
  EXPECT_EQ(tag.bins[3].failures[ClassOf("no card")], 1);
}

TEST(SeriesTest, TheChosenWidthKeepsTheBinsFewAndTheCountsWhole) {
  SeriesBuilder builder;  // automatic
  std::int64_t t0 = kSoakStart * kSecond;
  long long attempts = 0;
  // Three hours, an attempt every 5 s.
  for (std::int64_t s = 0; s < 3 * 3600; s += 5, ++attempts) {
    builder.AddAttempt("1", t0 + s * kSecond, s % 100 != 0, 12000, s % 100 ? 0 : 2);
  }
  SeriesSet set = builder.Build();
  EXPECT_TRUE(set.automatic);
  EXPECT_EQ(set.binSeconds, 300);  // 60 s would give 180 bins, 300 s gives 36
  ASSERT_EQ(set.series.size(), 1u);
  EXPECT_EQ(set.series[0].bins.size(), 36u);
  long long total = 0;
  for (const SeriesBin &bin : set.series[0].bins) total += bin.attempts;
  EXPECT_EQ(total, attempts);
  EXPECT_EQ(set.series[0].bins[0].attempts, 60);
  EXPECT_EQ(set.series[0].trendSentence, "no trend shown");
  // The widths each divide the next, so that bins merge exactly.
  for (std::int64_t w = 1; w < 200000; w = NextAutoBinWidth(w)) {
    EXPECT_EQ(NextAutoBinWidth(w) % w, 0) << w;
  }
}

TEST(SeriesTest, LogsOfOneSoakMakeOneSeriesPerTag) {
  // One file per day: the second day's log starts after midnight.
  std::string day1 = loglines::Start(5000000, "2026-12-07T23:59:00Z", 3);
  day1 += loglines::Attempt(5000000 + 30 * kSecond, 1, 1, 0, 12000, "none");
  std::string day2 = loglines::Start(100, "2026-12-08T00:01:00Z", 3);
  day2 += loglines::Attempt(100 + 10 * kSecond, 1, 1, 3, 131000, "no ACK");
  day2 += loglines::Start(200, "2026-12-08T00:01:30Z", 4);
  day2 += loglines::Attempt(300, 1, 1, 0, 12000, "none");
  SeriesBuilder builder(60);
  EventLogReader reader(&builder);
  std::string error;
  ASSERT_TRUE(reader.Read(nullptr, day1, "day1.jsonl", "", &error)) << error;
  ASSERT_TRUE(reader.Read(nullptr, day2, "day2.jsonl", "", &error)) << error;
  SeriesSet set = builder.Build();
  ASSERT_EQ(set.series.size(), 2u);
  const Series &three = set.series[0];
  EXPECT_EQ(three.label, "3");
  ASSERT_EQ(three.bins.size(), 3u);  // 23:59, 00:00 (empty), 00:01
  EXPECT_EQ(FormatWallClock(three.bins[0].startSeconds), "2026-12-07T23:59:00Z");
  EXPECT_EQ(three.bins[0].successes, 1);
  EXPECT_EQ(three.bins[2].attempts, 1);
  EXPECT_EQ(three.bins[2].successes, 0);
  EXPECT_EQ(set.series[1].label, "4");

  // Grouped by file instead, each log is its own series.
  SeriesBuilder byFile(60);
  EventLogReader files(&byFile);
  ASSERT_TRUE(files.Read(nullptr, day2, "day2.jsonl", "day2", &error)) << error;
  SeriesSet fileSet = byFile.Build();
  ASSERT_EQ(fileSet.series.size(), 1u);
  EXPECT_EQ(fileSet.series[0].label, "day2");
  EXPECT_EQ(fileSet.series[0].bins[0].attempts, 2);
}

// Values from tests/report/data/cochran_armitage.py, which computes the test
// with Python's standard library alone.
TEST(CochranArmitageTest, MatchesValuesWorkedByHandAndComputedIndependently) {
  // By hand: 9/10, 8/10, 5/10 at scores 0, 1, 2. N = 30, S = 22, mean score
  // 1, T = 9(-1) + 8(0) + 5(1) = -4, sum n (x - 1)^2 = 20,
  // Var T = (22/30)(8/30)(20) = 3.9111, z = -4 / 1.97765 = -2.0226.
  TrendTest hand = CochranArmitage({9, 8, 5}, {10, 10, 10}, {0, 1, 2});
  ASSERT_TRUE(hand.defined);
  EXPECT_NEAR(hand.z, -2.0225995873897262, 1e-12);
  EXPECT_NEAR(hand.p, 0.04311444678307538, 1e-12);
  // R's prop.trend.test example prints X-squared = 8.2249, p = 0.004132.
  TrendTest smokers = CochranArmitage({83, 90, 129, 70}, {86, 93, 136, 82}, {1, 2, 3, 4});
  EXPECT_NEAR(smokers.z * smokers.z, 8.2249, 5e-5);
  EXPECT_NEAR(smokers.p, 0.0041318974776416, 1e-12);
  // An empty bin adds nothing, but keeps its place in time.
  TrendTest gap = CochranArmitage({50, 0, 45, 40}, {50, 0, 50, 50}, {0, 1, 2, 3});
  EXPECT_NEAR(gap.z, -3.2732683535398888, 1e-12);
  EXPECT_NEAR(gap.p, 0.0010631149171585938, 1e-12);
  // Not defined: one bin, or every attempt alike.
  EXPECT_FALSE(CochranArmitage({5, 0}, {10, 0}, {0, 1}).defined);
  EXPECT_FALSE(CochranArmitage({10, 20}, {10, 20}, {0, 1}).defined);
  EXPECT_FALSE(CochranArmitage({0, 0}, {10, 20}, {0, 1}).defined);
}

// A soak whose rate changes linearly from `from` to `to` percent over
// `hours`, 600 attempts a minute.
SeriesSet Soak(double from, double to, double hours, std::int64_t binSeconds = 0) {
  SeriesBuilder builder(binSeconds);
  std::int64_t t0 = kSoakStart * kSecond;
  int minutes = static_cast<int>(hours * 60);
  for (int m = 0; m < minutes; ++m) {
    double rate = from + (to - from) * m / (minutes - 1);
    int successes = static_cast<int>(rate * 6 + 0.5);
    for (int i = 0; i < 600; ++i) {
      builder.AddAttempt("1", t0 + (m * 60 + i / 10) * kSecond, i < successes, 12000,
                         i < successes ? 0 : 2);
    }
  }
  return builder.Build();
}

TEST(SeriesTest, TheTrendSentenceNamesHoursOrBinsAndPrintsP) {
  EXPECT_EQ(Soak(97, 93, 3).series[0].trendSentence,
            "rate fell from 96.3 % in the first hour to 93.7 % in the last (trend p < 0.001)");
  EXPECT_EQ(Soak(93, 97, 3).series[0].trendSentence,
            "rate rose from 93.7 % in the first hour to 96.3 % in the last (trend p < 0.001)");
  // Shorter than two hours: the first and the last bin.
  SeriesSet shortSoak = Soak(99, 95, 1, 600);
  EXPECT_EQ(shortSoak.series[0].trendSentence,
            "rate fell from 98.7 % in the first bin to 95.3 % in the last (trend p < 0.001)");
  EXPECT_EQ(Soak(95, 95, 3).series[0].trendSentence, "no trend shown");
}

// The note that holds `text`; empty when none does.
std::string NoteWith(const std::vector<std::string> &notes, const std::string &text) {
  for (const std::string &note : notes) {
    if (note.find(text) != std::string::npos) return note;
  }
  return "";
}

// A log whose clock jumps ten years forward between two starts: one-second
// bins are kept only where something happened, the years between are one
// gap (one line of text, one row of CSV), and the jump is named.
TEST(SeriesTest, AClockJumpIsOneGapNamedInTheNotes) {
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 3);
  for (int i = 0; i < 5; ++i)
    log += loglines::Attempt(2000000 + i * kSecond, 1, i + 1, 0, 9000, "none");
  log += loglines::Start(9000000, "2036-12-07T06:40:00Z", 3);
  log += loglines::Attempt(9500000, 1, 1, 3, 130000, "no ACK");
  SeriesBuilder builder(1);
  EventLogReader reader(&builder);
  std::string error;
  ASSERT_TRUE(reader.Read(nullptr, log, "jump.jsonl", "", &error)) << error;
  SeriesSet set = builder.Build();
  ASSERT_EQ(set.series.size(), 1u);
  const std::vector<SeriesBin> &bins = set.series[0].bins;
  // 06:40:01 to 06:40:05, the gap, 2036-12-07T06:40:00.
  ASSERT_EQ(bins.size(), 7u);
  const SeriesBin &gap = bins[5];
  EXPECT_EQ(FormatWallClock(gap.startSeconds), "2026-12-07T06:40:06Z");
  EXPECT_EQ(FormatWallClock(gap.startSeconds + gap.seconds), "2036-12-07T06:40:00Z");
  EXPECT_EQ(gap.attempts, 0);
  EXPECT_EQ(bins[6].attempts, 1);
  EXPECT_EQ(bins[6].seconds, 1);
  std::string text = SeriesText(set);
  EXPECT_NE(text.find("2026-12-07T06:40:06Z to 2036-12-07T06:40:00Z: no events (315619194 bins)\n"),
            std::string::npos)
      << text;
  std::string csv = SeriesCsv(set);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);  // the header and 7 rows
  EXPECT_NE(csv.find("\n3,2026-12-07T06:40:06Z,315619194,0,0,"), std::string::npos) << csv;
  // (The runs without figures are named too.)
  EXPECT_EQ(NoteWith(reader.Notes(), "jumps"),
            "jump.jsonl:7: the clock jumps forward by 3653.0 days, from 2026-12-07T06:40:05Z to "
            "2036-12-07T06:40:00Z; the series shows the time between as one gap");
}

// Monotonic times that pass the format's range check but put the wall
// clock beyond what 64 bits or the calendar hold are left out, said so,
// not placed in the year -290863.
TEST(SeriesTest, TimesBeyondTheCalendarAreLeftOut) {
  std::string log = loglines::Start(0, "2026-12-07T06:40:00Z", 3);
  log += loglines::Attempt(5 * kSecond, 1, 1, 0, 9000, "none");
  log += loglines::Attempt(9223372036854775000LL, 1, 2, 0, 9000, "none");
  log += loglines::Attempt(9223372036854775807LL, 1, 3, 0, 9000, "none");
  SeriesBuilder builder(60);
  EventLogReader reader(&builder);
  std::string error;
  ASSERT_TRUE(reader.Read(nullptr, log, "far.jsonl", "", &error)) << error;
  SeriesSet set = builder.Build();
  ASSERT_EQ(set.series.size(), 1u);
  ASSERT_EQ(set.series[0].bins.size(), 1u);
  EXPECT_EQ(FormatWallClock(set.series[0].bins[0].startSeconds), "2026-12-07T06:40:00Z");
  EXPECT_EQ(set.series[0].bins[0].attempts, 1);
  EXPECT_EQ(NoteWith(reader.Notes(), "wall-clock")
                .rfind("far.jsonl: 2 attempts have no wall-clock "
                       "time",
                       0),
            0u);
  EXPECT_EQ(NoteWith(reader.Notes(), "jumps"), "");
  // The year 9999 is the last the series places.
  EXPECT_TRUE(SeriesBuilder::Placeable(253402300799LL * kSecond));
  EXPECT_FALSE(SeriesBuilder::Placeable(253402300800LL * kSecond));
  EXPECT_FALSE(SeriesBuilder::Placeable(-1));
}

TEST(SeriesTest, CsvHasFixedColumnsAndEmptyCellsForWhatIsNotDefined) {
  SeriesBuilder builder(60);
  std::int64_t t0 = kSoakStart * kSecond;
  builder.AddAttempt("=1,2", t0, true, 12345, 0);
  builder.AddAttempt("=1,2", t0 + 130 * kSecond, false, 131000, ClassOf("no ACK"));
  std::string csv = SeriesCsv(builder.Build());
  std::string header = csv.substr(0, csv.find('\n'));
  const std::string kLeading =
      "group,bin_start,bin_seconds,attempts,successes,rate,rate_low,rate_high,p50_ms,p99_ms,"
      "reconnections,failed_reconnections,stops,loss_attempts,no_card,no_ack,no_response,"
      "bad_checksum,";
  EXPECT_EQ(header.substr(0, kLeading.size()), kLeading);
  EXPECT_NE(header.find(",port_error"), std::string::npos);
  // The label is quoted and cannot run as a formula; the empty bin has empty
  // cells where nothing is defined, and counts of 0.
  EXPECT_NE(csv.find("\n\"'=1,2\",2026-12-07T06:40:00Z,60,1,1,100.0000,"), std::string::npos);
  EXPECT_NE(csv.find("\n\"'=1,2\",2026-12-07T06:41:00Z,60,0,0,,,,,,0,0,0,0,0,0"),
            std::string::npos);
  EXPECT_NE(csv.find(",0.0000,0.0000,"), std::string::npos);  // rate 0 in the last bin
}

TEST(SeriesTest, TheChartIsFullWidthWithLabelledAxesAndMarks) {
  SeriesBuilder builder(60);
  std::int64_t t0 = kSoakStart * kSecond;
  for (int m = 0; m < 10; ++m) {
    for (int i = 0; i < 100; ++i) {
      builder.AddAttempt("1", t0 + m * 60 * kSecond, i != 0, 12000, i ? 0 : 2);
    }
  }
  builder.AddReconnect("1", t0 + 120 * kSecond, false);
  builder.AddStop("1", t0 + 599 * kSecond);
  SeriesSet set = builder.Build();
  std::string svg = SeriesSvg(set.series[0], set.binSeconds, 3);
  EXPECT_NE(svg.find("id=\"series-3\""), std::string::npos);
  EXPECT_NE(svg.find("width=\"100%\""), std::string::npos);
  EXPECT_NE(svg.find("success rate (%)"), std::string::npos);
  EXPECT_NE(svg.find("time (UTC), bins of 60 s"), std::string::npos);
  // 99 % per bin: the axis is zoomed, and says so.
  EXPECT_NE(svg.find("class=\"axis-break\""), std::string::npos);
  EXPECT_NE(svg.find("rate axis starts at"), std::string::npos);
  EXPECT_NE(svg.find("class=\"band\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"rate\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"reconnect\""), std::string::npos);
  EXPECT_NE(svg.find("1 reconnections, 1 failed"), std::string::npos);
  EXPECT_NE(svg.find("class=\"stop\""), std::string::npos);
  EXPECT_NE(svg.find(">06:44<"), std::string::npos);  // a time label, every 2 minutes
  std::string text = SeriesText(set);
  EXPECT_NE(text.find("series of tag 1 (bins of 60 s; latency in ms):"), std::string::npos);
  EXPECT_NE(text.find("2026-12-07T06:40:00Z       100         99   99.00"), std::string::npos);
}

// A bin of a few attempts (the soak's last seconds) is faint and apart
// from the band, which does not fall to its wide interval; a span without
// the R/W is shaded, its attempts counted apart from the rate.
TEST(SeriesTest, FewAttemptsAreFaintAndTheRwsLossesShaded) {
  SeriesBuilder builder(60);
  std::int64_t t0 = kSoakStart * kSecond;
  for (int m = 0; m < 10; ++m) {
    for (int i = 0; i < 100; ++i) {
      builder.AddAttempt("1", t0 + m * 60 * kSecond, i != 0, 12000, i ? 0 : 2);
    }
  }
  for (int i = 0; i < 3; ++i) builder.AddAttempt("1", t0 + 600 * kSecond, i == 0, 12000, 0);
  for (int i = 0; i < 5; ++i) {
    builder.AddAttempt("1", t0 + 300 * kSecond, false, 1000, ClassOf("port error"), true);
  }
  builder.AddLossSpan("1", t0 + 300 * kSecond, t0 + 330 * kSecond);
  SeriesSet set = builder.Build();
  const Series &series = set.series[0];
  EXPECT_EQ(series.bins[5].attempts, 100);  // the losses are not card finding
  EXPECT_EQ(series.bins[5].lossAttempts, 5);
  EXPECT_EQ(series.bins[5].failures[ClassOf("port error")], 5);
  ASSERT_EQ(series.lossSpans.size(), 1u);
  std::string svg = SeriesSvg(series, set.binSeconds, 0);
  // 99 of 100 per bin: the axis zooms to their intervals (lowest 94.55 %,
  // in steps of 1 from 94 %), not to the 1 of 3 of the last bin (its
  // interval reaches down to 6 %).
  EXPECT_NE(svg.find(">94</text>"), std::string::npos) << svg;
  EXPECT_EQ(svg.find(">10</text>"), std::string::npos) << svg;
  EXPECT_NE(svg.find("class=\"few\""), std::string::npos);
  EXPECT_NE(svg.find("<title>1 of 3 attempts</title>"), std::string::npos);
  std::size_t band = svg.find("class=\"band\"");
  ASSERT_NE(band, std::string::npos);
  EXPECT_EQ(svg.find("class=\"band\"", band + 1), std::string::npos);  // one stretch
  EXPECT_NE(svg.find("<rect class=\"loss\""), std::string::npos);
  EXPECT_NE(svg.find("R/W gone from 2026-12-07T06:45:00Z to 2026-12-07T06:45:30Z"),
            std::string::npos);
  EXPECT_NE(SeriesText(set).find("; R/W gone for 5 attempts\n"), std::string::npos);
}

}  // namespace
