// Runs read from event logs: percentiles, failure classes, and what is done
// with a run whose figures are missing or a line that is not an event.
#include <gtest/gtest.h>

#include "report/logged_runs.h"
#include "report/report_output.h"

namespace {

TEST(LoggedRunsTest, NearestRankPercentiles) {
  std::vector<std::int64_t> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_EQ(NearestRank(hundred, 50), 50);
  EXPECT_EQ(NearestRank(hundred, 90), 90);
  EXPECT_EQ(NearestRank(hundred, 99), 99);
  EXPECT_EQ(NearestRank(hundred, 100), 100);
  // Sorted 1 2 3 5 7 8 9: ranks ceil(3.5) = 4, ceil(6.3) = 7, ceil(6.93) = 7.
  const std::vector<std::int64_t> seven = {5, 1, 9, 3, 7, 2, 8};
  EXPECT_EQ(NearestRank(seven, 50), 5);
  EXPECT_EQ(NearestRank(seven, 90), 9);
  EXPECT_EQ(NearestRank(seven, 99), 9);
  // Ten values: 90 % of 10 is exactly the 9th, not the 10th.
  const std::vector<std::int64_t> ten = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  EXPECT_EQ(NearestRank(ten, 90), 90);
  EXPECT_EQ(NearestRank({}, 50), 0);
}

const char kLog[] =
    "{\"v\":1,\"t\":1,\"ev\":\"start\",\"tool\":\"kestrow\",\"title\":\"t\",\"version\":\"1.0\","
    "\"wall\":\"2026-12-07T06:40:00Z\",\"port\":\"\",\"search\":true,\"baud\":115200,"
    "\"ka\":\"0123456789ABCDEF\",\"kb\":\"FEDCBA9876543210\",\"ack_ms\":50,\"response_ms\":50,"
    "\"des\":true,\"attempts_per_run\":4,\"repeat\":true,\"result_file\":\"\",\"tag\":7,"
    "\"failure_limit\":-1,\"comma_terminated\":false}\n"
    "{\"v\":1,\"t\":2,\"ev\":\"tx\",\"frame\":\"00 00 FF\",\"written\":true}\n"
    "{\"v\":1,\"t\":3,\"ev\":\"attempt\",\"run\":1,\"n\":1,\"result\":0,\"mark\":\"o\","
    "\"us\":12000,\"failure\":\"none\"}\n"
    "{\"v\":1,\"t\":4,\"ev\":\"attempt\",\"run\":1,\"n\":2,\"result\":3,\"mark\":\"X\","
    "\"us\":131000,\"failure\":\"no ACK\"}\n"
    "\n"
    "{\"v\":1,\"t\":5,\"ev\":\"attempt\",\"run\":1,\"n\":3,\"result\":2,\"mark\":\".\","
    "\"us\":14000,\"failure\":\"no card\"}\n"
    "{\"v\":1,\"t\":6,\"ev\":\"attempt\",\"run\":1,\"n\":4,\"result\":3,\"mark\":\"X\","
    "\"us\":129000,\"failure\":\"no ACK\"}\n"
    "{\"v\":1,\"t\":7,\"ev\":\"run\",\"run\":1,\"successes\":1,\"attempts\":4,\"rate\":25.00,"
    "\"tag\":7,\"record\":\" 25.00%,   1,   4,   7,\"}\n"
    "{\"v\":1,\"t\":8,\"ev\":\"attempt\",\"run\":2,\"n\":1,\"result\":0,\"mark\":\"o\","
    "\"us\":12000,\"failure\":\"none\"}\n"
    "{\"v\":1,\"t\":9,\"ev\":\"start\",\"tool\":\"brimlet\",\"title\":\"t\",\"version\":\"1.0\","
    "\"wall\":\"2026-12-07T06:40:00Z\",\"port\":\"\",\"search\":true,\"baud\":115200,"
    "\"ka\":\"0123456789ABCDEF\",\"kb\":\"FEDCBA9876543210\",\"ack_ms\":50,\"response_ms\":50,"
    "\"des\":true,\"attempts_per_run\":4,\"repeat\":true,\"result_file\":\"\",\"tag\":7,"
    "\"failure_limit\":-1,\"comma_terminated\":false}\n"
    "{\"v\":1,\"t\":10,\"ev\":\"run\",\"run\":1,\"successes\":0,\"attempts\":1,\"rate\":0.00,"
    "\"tag\":-1,\"record\":\"  0.00%,   0,   1,\"}\n";

TEST(LoggedRunsTest, RunsCarryTheirAttemptsAndUnfinishedRunsAreNamed) {
  std::vector<LoggedRun> runs;
  std::vector<std::string> notes;
  std::string error;
  ASSERT_TRUE(ParseLoggedRuns(kLog, "a.jsonl", &runs, &notes, &error)) << error;
  ASSERT_EQ(runs.size(), 2u);
  const LoggedRun &first = runs[0];
  EXPECT_EQ(first.position.line, 8);
  EXPECT_EQ(first.tool, "kestrow");
  EXPECT_EQ(first.record.successes, 1);
  EXPECT_EQ(first.record.attempts, 4);
  EXPECT_TRUE(first.record.tagged);
  EXPECT_EQ(first.record.tag, 7);
  EXPECT_EQ(first.failures, (std::map<std::string, int>{{"no ACK", 2}, {"no card", 1}}));
  EXPECT_EQ(first.plannedAttempts, 4);
  std::vector<std::string> cells = LoggedRunCells(first);
  // Sorted latencies 12 14 129 131 ms: ranks 2, 4, 4, 4.
  EXPECT_EQ(cells[7], "14.0");
  EXPECT_EQ(cells[8], "131.0");
  EXPECT_EQ(cells[10], "131.0");
  EXPECT_EQ(cells[11], "no ACK 2; no card 1");
  EXPECT_FALSE(runs[1].record.tagged);
  EXPECT_EQ(LoggedRunCells(runs[1])[7], "");  // no attempts: no latency
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0],
            "a.jsonl: run 2 of kestrow has 1 attempts but no figures (the tool was killed?); "
            "left out");
  // brimlet's run has figures but no attempt events: named, its figures kept.
  EXPECT_EQ(notes[1],
            "a.jsonl:11: run 1 of brimlet has figures of 0 successes in 1 attempts but attempt "
            "events of 0 in 0; its latencies, failure classes and R/W losses are left out");

  // A stopped single run ends without figures by design, and is named so.
  runs.clear();
  notes.clear();
  std::string stopped = std::string(kLog).substr(0, std::string(kLog).find("{\"v\":1,\"t\":9,")) +
                        "{\"v\":1,\"t\":9,\"ev\":\"stop\",\"reason\":\"signal\"}\n";
  ASSERT_TRUE(ParseLoggedRuns(stopped, "s.jsonl", &runs, &notes, &error)) << error;
  EXPECT_EQ(runs.size(), 1u);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            "s.jsonl: run 2 of kestrow was stopped (signal) after 1 attempts without figures (a "
            "single run stopped after a card gives none); left out");
}

TEST(LoggedRunsTest, ALineThatIsNoEventIsAnErrorWithItsPlace) {
  std::vector<LoggedRun> runs;
  std::vector<std::string> notes;
  std::string error;
  EXPECT_FALSE(ParseLoggedRuns(kLog + std::string("oops\n"), "b.jsonl", &runs, &notes, &error));
  EXPECT_EQ(error, "b.jsonl:12: not JSON: Invalid value at column 1");
  EXPECT_TRUE(LooksLikeEventLog(" \n{\"v\":1}"));
  EXPECT_FALSE(LooksLikeEventLog(" 80.00%,   8,  10,"));
}

// A run's figures are checked as a result file's are.
TEST(LoggedRunsTest, RunFiguresThatDoNotHoldAreErrors) {
  const struct {
    const char *fields;
    const char *error;
  } kCases[] = {
      {"\"run\":1,\"successes\":0,\"attempts\":0,\"rate\":0.00,\"tag\":-1",
       "a record needs at least one attempt"},
      {"\"run\":1,\"successes\":9,\"attempts\":3,\"rate\":100.00,\"tag\":-1",
       "more successes than attempts"},
      {"\"run\":1,\"successes\":1,\"attempts\":3,\"rate\":50.00,\"tag\":-1",
       "the rate does not match successes and attempts"},
      {"\"run\":1,\"successes\":1,\"attempts\":2,\"rate\":50.00", "no \"tag\""},
      {"\"run\":1,\"successes\":1,\"attempts\":2,\"rate\":50.00,\"tag\":true",
       "\"tag\" is not a whole number"},
      {"\"run\":1,\"successes\":1.5,\"attempts\":2,\"rate\":75.00,\"tag\":-1",
       "\"successes\" is not a whole number"},
      {"\"run\":1,\"successes\":1,\"attempts\":99999999999,\"rate\":0.00,\"tag\":-1",
       "\"attempts\" is out of range (0 to 1000)"},
  };
  for (const auto &c : kCases) {
    std::vector<LoggedRun> runs;
    std::vector<std::string> notes;
    std::string error;
    std::string log =
        "{\"v\":1,\"t\":7,\"ev\":\"run\",\"record\":\"r\"," + std::string(c.fields) + "}\n";
    EXPECT_FALSE(ParseLoggedRuns(log, "c.jsonl", &runs, &notes, &error)) << c.fields;
    EXPECT_EQ(error, "c.jsonl:1: " + std::string(c.error)) << c.fields;
  }
  EXPECT_FALSE(LooksLikeEventLog(" 80.00%,   8,  10,"));
}

// The runs of logs that the figures do not count (a result file was given
// too) are described as fully as those they count: the planned length their
// start gives, and whether they are short. The result file's run has no
// planned length to show.
TEST(LoggedRunsTest, TheRunsTableGivesEveryRunItsPlanAndWhetherItIsShort) {
  std::vector<LoggedRun> parsed;
  std::vector<std::string> notes;
  std::string error;
  ASSERT_TRUE(ParseLoggedRuns(kLog, "a.jsonl", &parsed, &notes, &error)) << error;
  LoggedRuns logged(parsed.begin(), parsed.end());
  std::vector<RecordedRun> fromFile(1);
  fromFile[0].file = "r.csv";
  fromFile[0].position = RecordPosition{1, 2};
  fromFile[0].record = ResultRecord{75.0, 3, 4, true, 7};
  Report report = BuildReport(fromFile);
  std::vector<std::string> lines;
  ASSERT_TRUE(WriteRunsCsv(report, logged, [&](const std::string &text) {
    lines.push_back(text);
    return true;
  }));
  ASSERT_EQ(lines.size(), 4u);
  const std::string kHeading =
      "source,line,tool,run,tag,attempts,successes,rate,planned_attempts,short,counted,"
      "loss_attempts,needs_look,";
  const std::string kRows[] = {"r.csv,1,,,7,4,3,75.00,,0,1,0,,,,,",
                               "a.jsonl,8,kestrow,1,7,4,1,25.00,4,0,0,0,,",
                               "a.jsonl,11,brimlet,1,,1,0,0.00,4,1,0,0,,"};
  EXPECT_EQ(lines[0].rfind(kHeading, 0), 0u) << lines[0];
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[i + 1].rfind(kRows[i], 0), 0u) << lines[i + 1];
}

}  // namespace
