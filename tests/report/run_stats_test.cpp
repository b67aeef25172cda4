// rwreport's statistics, checked against values computed independently with
// Python 3: the Wilson bounds as the roots of the quadratic
//   (1 + z^2/n) p^2 - (2 s/n + z^2/n) p + (s/n)^2 = 0,
// z = statistics.NormalDist().inv_cdf(0.975), and the run spread with
// statistics.mean and statistics.stdev (sample standard deviation).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/report_output.h"
#include "report/run_stats.h"

namespace {

constexpr double kTolerance = 1e-9;

RecordedRun MakeRun(int successes, int attempts, int tag = -1) {
  RecordedRun run;
  run.file = "r.csv";
  run.record.successes = successes;
  run.record.attempts = attempts;
  run.record.rate = 100.0 * successes / attempts;
  run.record.tagged = tag >= 0;
  run.record.tag = tag;
  return run;
}

TEST(WilsonIntervalTest, MatchesIndependentValues) {
  struct Case {
    long long s, n;
    double low, high;  // in percent
  };
  const Case cases[] = {{0, 10, 0.0, 27.753279986288916},
                        {10, 10, 72.24672001371111, 100.0},
                        {1, 1, 20.65493143772375, 100.0},
                        {0, 1, 0.0, 79.34506856227625},
                        {95, 100, 88.82495307680807, 97.84563208456318},
                        {1, 3, 6.149194472039624, 79.23403991979524}};
  for (const Case &c : cases) {
    Interval w = WilsonInterval(c.s, c.n);
    EXPECT_NEAR(100 * w.low, c.low, kTolerance) << c.s << "/" << c.n;
    EXPECT_NEAR(100 * w.high, c.high, kTolerance) << c.s << "/" << c.n;
  }
  Interval none = WilsonInterval(0, 0);
  EXPECT_EQ(none.low, 0.0);
  EXPECT_EQ(none.high, 1.0);
}

// Tag 3: 87/100, 90/100, 84/100 and a short 30/40; tag 12: 50/50, 49/50;
// no tag: 0/5.
std::vector<RecordedRun> SampleRuns() {
  return {MakeRun(87, 100, 3), MakeRun(50, 50, 12), MakeRun(90, 100, 3), MakeRun(0, 5),
          MakeRun(84, 100, 3), MakeRun(49, 50, 12), MakeRun(30, 40, 3)};
}

void ExpectGroup(const GroupStats &g, const std::string &label, int runs, long long attempts,
                 long long successes, const std::vector<double> &figures, int shortRuns) {
  SCOPED_TRACE(label);
  EXPECT_EQ(g.label, label);
  EXPECT_EQ(g.runs, runs);
  EXPECT_EQ(g.attempts, attempts);
  EXPECT_EQ(g.successes, successes);
  EXPECT_NEAR(g.pooledPercent, figures[0], kTolerance);
  EXPECT_NEAR(g.interval.low, figures[1], kTolerance);
  EXPECT_NEAR(g.interval.high, figures[2], kTolerance);
  EXPECT_NEAR(g.meanPercent, figures[3], kTolerance);
  if (figures[4] < 0) {
    EXPECT_FALSE(g.sdDefined);
  } else {
    EXPECT_TRUE(g.sdDefined);
    EXPECT_NEAR(g.sdPercent, figures[4], kTolerance);
  }
  EXPECT_NEAR(g.minPercent, figures[5], kTolerance);
  EXPECT_NEAR(g.maxPercent, figures[6], kTolerance);
  EXPECT_EQ(g.shortRuns, shortRuns);
}

TEST(BuildReportTest, FiguresPerTagAndOverall) {
  std::vector<RecordedRun> runs = SampleRuns();
  Report report = BuildReport(runs);
  ASSERT_EQ(report.tags.size(), 3u);
  // Figures: pooled, low, high, mean, sd (-1: not defined), min, max.
  ExpectGroup(report.tags[0], "-", 1, 5, 0, {0.0, 0.0, 43.448246478317465, 0, -1, 0, 0}, 0);
  ExpectGroup(
      report.tags[1], "3", 4, 340, 291,
      {85.58823529411765, 81.45717790586818, 88.92409630987372, 84.0, 6.48074069840786, 75.0, 90.0},
      1);
  ExpectGroup(report.tags[2], "12", 2, 100, 99,
              {99.0, 94.55138038212931, 99.82325679358607, 99.0, 1.4142135623730951, 98.0, 100.0},
              0);
  ExpectGroup(report.overall, "all", 7, 445, 390,
              {87.64044943820225, 84.25652927005385, 90.38006978213572, 76.28571428571429,
               34.682917436466646, 0.0, 100.0},
              1);
  // Only the 40-attempt run of tag 3 is short; runs keep their file order.
  const GroupStats &tag3 = report.tags[1];
  ASSERT_EQ(tag3.members.size(), 4u);
  EXPECT_EQ(tag3.members[1].run, &runs[2]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(tag3.members[i].isShort, i == 3) << i;
}

TEST(BuildReportTest, ShortAgainstThePlanOrTheRunsOfItsOwnFile) {
  // kestrow's file at t 200 and brimlet's at t 150 share tag 1.
  std::vector<RecordedRun> runs = {MakeRun(200, 200, 1), MakeRun(150, 150, 1), MakeRun(150, 150, 1),
                                   MakeRun(90, 100, 1), MakeRun(3, 3, 2)};
  runs[0].file = runs[1].file = "kestrow.csv";
  runs[2].file = runs[3].file = "brimlet.csv";
  runs[3].plannedAttempts = 100;  // as its log says: complete
  runs[4].file = "kestrow.csv";   // another tag: not compared with tag 1
  Report report = BuildReport(runs);
  const GroupStats &tag1 = report.tags[0];
  ASSERT_EQ(tag1.members.size(), 4u);
  EXPECT_FALSE(tag1.members[0].isShort);
  EXPECT_TRUE(tag1.members[1].isShort);   // 150 of kestrow's 200
  EXPECT_FALSE(tag1.members[2].isShort);  // brimlet's longest
  EXPECT_FALSE(tag1.members[3].isShort);  // its planned 100
  EXPECT_EQ(tag1.shortRuns, 1);
  EXPECT_EQ(report.tags[1].shortRuns, 0);
  runs[3].plannedAttempts = 120;
  EXPECT_EQ(BuildReport(runs).tags[0].shortRuns, 2);
}

TEST(BuildReportTest, GroupsByFileInTheOrderOfTheFiles) {
  std::vector<RecordedRun> runs = {MakeRun(1, 2, 5), MakeRun(2, 2, 6), MakeRun(1, 1, 5)};
  runs[0].file = "runs/unit-b.csv";
  runs[1].file = "C:\\tests\\unit-a.result.csv";
  runs[2].file = "runs/unit-b.csv";
  Report report = BuildReport(runs, GroupBy::kFile);
  ASSERT_EQ(report.tags.size(), 2u);
  EXPECT_EQ(report.tags[0].label, "unit-b");
  EXPECT_EQ(report.tags[0].attempts, 3);
  EXPECT_EQ(report.tags[1].label, "unit-a.result");
  EXPECT_EQ(FileLabel("-"), "-");
  EXPECT_EQ(FileLabel(".hidden"), ".hidden");
}

// Figures computed with the same Python as above.
TEST(ReportOutputTest, TableAndCsv) {
  std::vector<RecordedRun> runs = {MakeRun(87, 100, 7), MakeRun(3, 7, 7), MakeRun(49, 50)};
  runs[1].position = RecordPosition{1, 19};
  Report report = BuildReport(runs);
  EXPECT_EQ(TextReport(report, ReportRequest{}, {}),
            "tag     runs  attempts  successes    rate%   95%low  95%high    mean%      sd%     "
            "min%     max%  short\n"
            "-          1        50         49    98.00    89.50    99.65    98.00        -    "
            "98.00    98.00      0\n"
            "7          2       107         90    84.11    76.02    89.84    64.93    31.21    "
            "42.86    87.00      1\n"
            "all        3       157        139    88.54    82.61    92.62    75.95    29.18    "
            "42.86    98.00      1\n"
            "short run: tag 7, r.csv:1:19: 7 of 100 attempts made, 3 successes\n"
            "runs disagree: tag 7: its runs differ more than chance allows (chi-square p = "
            "0.002011 < 0.01); its pooled interval understates the uncertainty\n"
            "note: no tag, tag 7: failed attempts from result files without their event logs may "
            "include attempts made while the R/W was gone; only a log tells them apart\n");
  // Homogeneity of 87/100 and 3/7: chi-square 9.5392 with one degree of
  // freedom, p = math.erfc(math.sqrt(x / 2)) = 0.002011.
  EXPECT_EQ(CsvReport(report, ReportRequest{}),
            "tag,runs,attempts,successes,rate,wilson_low,wilson_high,mean,sd,min,max,short_runs,"
            "homogeneity_p,runs_disagree,loss_spans,loss_attempts,loss_seconds,loss_only_runs,"
            "gone_at_end\n"
            ",1,50,49,98.00,89.50,99.65,98.00,,98.00,98.00,0,,0,0,0,0.000,0,0\n"
            "7,2,107,90,84.11,76.02,89.84,64.93,31.21,42.86,87.00,1,0.002011,1,0,0,0.000,0,0\n"
            "all,3,157,139,88.54,82.61,92.62,75.95,29.18,42.86,98.00,1,,,0,0,0.000,0,0\n");
  // Of the disagreeing runs, 3/7 lies beyond chance from the pooled 90/107:
  // z = (s - n p) / sqrt(n p (1 - p)) = -2.9858, two-sided p = 0.00283
  // (math.erfc), below 0.01 / 2; 87/100 gives z = 0.790, p = 0.430.
  const std::vector<RunInGroup> &members = report.tags[1].members;
  EXPECT_EQ(LookReasons(members[0]), "");
  EXPECT_EQ(LookReasons(members[1]), "short; rate far from its group's");
}

TEST(ReportOutputTest, PageEscapesFileNames) {
  std::vector<RecordedRun> runs = {MakeRun(1, 2)};
  PageContext context;
  context.sources = {"<b>&\"x.csv"};
  std::string page = HtmlReport(BuildReport(runs), ReportRequest{}, {}, {}, context);
  EXPECT_NE(page.find("<code>&lt;b&gt;&amp;&quot;x.csv</code>"), std::string::npos);
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
}

TEST(ReportOutputTest, RateAxisZoomsToTheDataAndSaysSo) {
  std::vector<RecordedRun> high = {MakeRun(95, 100, 1), MakeRun(99, 100, 2)};
  std::string page = HtmlReport(BuildReport(high), ReportRequest{}, {}, {}, PageContext{});
  // Lowest: the Wilson low of 95/100, 88.82 %: in steps of 2 from 88 %.
  EXPECT_NE(page.find("the axis starts at 88.0 %, not at 0"), std::string::npos);
  EXPECT_NE(page.find("class=\"axis-break\""), std::string::npos);
  std::vector<RecordedRun> low = {MakeRun(0, 5, 1), MakeRun(99, 100, 2)};
  page = HtmlReport(BuildReport(low), ReportRequest{}, {}, {}, PageContext{});
  EXPECT_EQ(page.find("axis-break"), std::string::npos);
  EXPECT_NE(page.find(">0.0 %</text>"), std::string::npos);
}

LoggedRun TimedRun(std::vector<std::int64_t> latenciesUs) {
  LoggedRun run;
  run.file = "e.jsonl";
  run.record = ResultRecord{100.0, 3, 3, false, 0};
  run.latency = SummarizeLatencies(std::move(latenciesUs));
  return run;
}

TEST(ReportOutputTest, LatencyOnALogScaleWhenTheSpreadIsWide) {
  std::vector<RecordedRun> runs = {MakeRun(3, 3)};
  Report report = BuildReport(runs);
  std::string page =
      HtmlReport(report, ReportRequest{}, {},
                 {TimedRun({10000, 11000, 12000}), TimedRun({10500, 120000})}, PageContext{});
  EXPECT_NE(page.find("attempt latency (ms, log scale)"), std::string::npos);
  // 1-2-5 steps from 10 ms to 200 ms.
  EXPECT_NE(page.find(">10</text>"), std::string::npos);
  EXPECT_NE(page.find(">200</text>"), std::string::npos);
  EXPECT_EQ(page.find(">500</text>"), std::string::npos);
  page = HtmlReport(report, ReportRequest{}, {},
                    {TimedRun({10000, 11000}), TimedRun({10500, 14000})}, PageContext{});
  EXPECT_NE(page.find("attempt latency (ms)"), std::string::npos);
  EXPECT_EQ(page.find("log scale"), std::string::npos);
}

}  // namespace
