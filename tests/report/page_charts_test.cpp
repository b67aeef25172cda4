// The page's rate chart: the required rate drawn, the axis kept to the
// intervals and the runs near them, a far outlying run marked at the foot
// instead of flattening the rest, and runs of one rate drawn as one dot.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/page_charts.h"

namespace {

RecordedRun TaggedRun(int successes, int attempts, int tag) {
  RecordedRun run;
  run.file = "r.csv";
  run.record = ResultRecord{100.0 * successes / attempts, successes, attempts, true, tag};
  return run;
}

std::size_t Count(const std::string &text, const std::string &part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(RateChartTest, AnOutlyingRunIsMarkedAtTheFootAndTheRestKeepTheirScale) {
  // Tag 1: 40 runs of 99 or 100 in 100 and one of 2 in 100; tag 2: 98 %.
  std::vector<RecordedRun> runs;
  for (int i = 0; i < 40; ++i) runs.push_back(TaggedRun(i % 2 ? 99 : 100, 100, 1));
  runs.push_back(TaggedRun(2, 100, 1));
  runs.push_back(TaggedRun(980, 1000, 2));
  Report report = BuildReport(runs);
  int below = 0;
  std::string svg = RateChart(report, 99, &below);
  // The lowest interval bound is tag 1's, 96.56 % for 3982 of 4100 (Wilson,
  // with Python as in run_stats_test.cpp): in steps of 0.5 the axis starts
  // at 96.5 %, not at the outlying run's 2 %, which is marked at the foot
  // (in its group; all runs repeat it without counting it again).
  EXPECT_NE(svg.find(">96.5 %</text>"), std::string::npos) << svg;
  EXPECT_EQ(svg.find(">0.0 %</text>"), std::string::npos);
  EXPECT_EQ(below, 1);
  EXPECT_EQ(Count(svg, "class=\"run-below\""), 2u);
  EXPECT_NE(svg.find("r.csv:1:1: 2 of 100</title>"), std::string::npos);
  // 40 runs at two rates make two dots in their group, with their counts.
  EXPECT_NE(svg.find("<title>20 runs at 99.00 %</title>"), std::string::npos);
  EXPECT_NE(svg.find("<title>20 runs at 100.00 %</title>"), std::string::npos);
  // The requirement across the plot, labelled.
  EXPECT_EQ(Count(svg, "class=\"requirement\""), 1u);
  EXPECT_NE(svg.find(">required 99.00 %</text>"), std::string::npos);
  below = -1;
  EXPECT_EQ(RateChart(report, -1, &below).find("requirement"), std::string::npos);
  EXPECT_EQ(below, 1);
}

TEST(RateChartTest, RunsNearTheIntervalsStayOnTheAxis) {
  // 90 of 100 lies within three times the intervals' distance from 100 %:
  // the axis reaches down to it.
  std::vector<RecordedRun> runs = {TaggedRun(99, 100, 1), TaggedRun(100, 100, 1),
                                   TaggedRun(98, 100, 1), TaggedRun(90, 100, 1)};
  int below = 0;
  std::string svg = RateChart(BuildReport(runs), -1, &below);
  EXPECT_EQ(below, 0);
  EXPECT_EQ(svg.find("run-below"), std::string::npos);
}

}  // namespace
