// The tests that decide between groups, against values computed
// independently with Python 3:
// - Newcombe's interval: the Wilson limits as in run_stats_test.cpp, then
//   d -/+ math.hypot(...) as in his 1998 paper, whose worked example
//   (56/70 against 48/80: 0.2000, 0.0524 to 0.3339) they reproduce;
// - Fisher's exact test: exact integers, sum of math.comb(r1, x) *
//   math.comb(r2, k - x) over the tables no more probable than the observed
//   one (relative tolerance 1e-7) divided by math.comb(n, k), with
//   fractions.Fraction; [[3, 1], [1, 3]] gives 0.4857 as in textbooks;
// - the chi-square tail for 1 and 3 degrees of freedom in closed form:
//   erfc(sqrt(x/2)) and erfc(sqrt(x/2)) + sqrt(2x/pi) exp(-x/2);
// - the plan by counting n up from 1 until the Wilson lower bound at the
//   rate reaches the requirement, and for large n with mpmath (below);
// - Holm's adjustment by hand.
#include <vector>

#include <gtest/gtest.h>

#include "report/comparisons.h"
#include "report/report_output.h"
#include "report/run_stats.h"

namespace {

TEST(NewcombeDifferenceTest, ReproducesThePublishedExample) {
  Difference d = NewcombeDifference(SuccessCount{56, 70}, SuccessCount{48, 80});
  EXPECT_NEAR(d.estimate, 0.2, 1e-12);
  EXPECT_NEAR(d.low, 0.05243147240236501, 1e-12);
  EXPECT_NEAR(d.high, 0.333872654036906, 1e-12);
  // Swapped, the interval mirrors.
  Difference swapped = NewcombeDifference(SuccessCount{48, 80}, SuccessCount{56, 70});
  EXPECT_NEAR(swapped.low, -d.high, 1e-12);
  EXPECT_NEAR(swapped.high, -d.low, 1e-12);
}

TEST(FisherExactTest, SmallAndLargeTables) {
  EXPECT_NEAR(FisherExactTwoSided(3, 1, 1, 3), 0.4857142857142857, 1e-12);
  EXPECT_NEAR(FisherExactTwoSided(56, 14, 48, 32), 0.012521129749209155, 1e-10);
  // The same table in any orientation.
  EXPECT_NEAR(FisherExactTwoSided(1, 3, 3, 1), 0.4857142857142857, 1e-12);
  EXPECT_NEAR(FisherExactTwoSided(14, 56, 32, 48), 0.012521129749209155, 1e-10);
  // Millions of attempts, few failures: 1000 against 1150 failures in about
  // a million attempts each, and 10 against 25 in three million.
  EXPECT_NEAR(FisherExactTwoSided(999000, 1000, 998850, 1150), 0.0012985124439635959, 1e-8);
  EXPECT_NEAR(FisherExactTwoSided(2999990, 10, 2999975, 25), 0.016673536134271142, 1e-8);
  // No failure anywhere: the only table there is.
  EXPECT_DOUBLE_EQ(FisherExactTwoSided(50, 0, 40, 0), 1.0);
}

TEST(HolmTest, StepsDownCarriesTheMaximumAndCaps) {
  std::vector<double> adjusted = HolmAdjusted({0.01, 0.04, 0.03, 0.005});
  std::vector<double> expected = {0.03, 0.06, 0.06, 0.02};
  ASSERT_EQ(adjusted.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(adjusted[i], expected[i], 1e-15);
  adjusted = HolmAdjusted({0.5, 0.6});
  EXPECT_DOUBLE_EQ(adjusted[0], 1.0);
  EXPECT_DOUBLE_EQ(adjusted[1], 1.0);
  EXPECT_TRUE(HolmAdjusted({}).empty());
}

TEST(HomogeneityTest, ChiSquareOverTheRuns) {
  // 5.5796 with 3 degrees of freedom.
  EXPECT_NEAR(HomogeneityPValue({{87, 100}, {90, 100}, {84, 100}, {30, 40}}).value(),
              0.1339524556686211, 1e-10);
  // 21.645 with 1 degree of freedom: runs that disagree.
  EXPECT_NEAR(HomogeneityPValue({{95, 100}, {70, 100}}).value(), 3.280603545016631e-06, 1e-12);
  // Not defined: no failure, no success (R: NaN), a single run.
  EXPECT_FALSE(HomogeneityPValue({{100, 100}, {50, 50}}).has_value());
  EXPECT_FALSE(HomogeneityPValue({{0, 100}, {0, 50}}).has_value());
  EXPECT_FALSE(HomogeneityPValue({{3, 10}}).has_value());
}

RecordedRun TaggedRun(int successes, int attempts, int tag) {
  RecordedRun run;
  run.file = "r.csv";
  run.record = ResultRecord{100.0 * successes / attempts, successes, attempts, true, tag};
  return run;
}

TEST(HomogeneityTest, FlagsTheGroupWhoseRunsDisagree) {
  std::vector<RecordedRun> runs = {TaggedRun(95, 100, 1), TaggedRun(70, 100, 1),
                                   TaggedRun(87, 100, 2), TaggedRun(90, 100, 2)};
  Report report = BuildReport(runs);
  EXPECT_TRUE(report.tags[0].runsDisagree);
  EXPECT_FALSE(report.tags[1].runsDisagree);
  EXPECT_FALSE(report.overall.homogeneityDefined);
}

// Two runs that agree trivially, every attempt a success or every one a
// failure, give the statistic 0 over 0: R's chisq.test gives NaN for
// matrix(c(100, 100, 0, 0), 2) and for matrix(c(0, 0, 100, 100), 2). No
// p-value is shown, and the runs do not disagree.
TEST(HomogeneityTest, NotDefinedWithoutAFailureOrWithoutASuccess) {
  std::vector<RecordedRun> runs = {TaggedRun(100, 100, 1), TaggedRun(100, 100, 1),
                                   TaggedRun(0, 100, 2),   TaggedRun(0, 100, 2),
                                   TaggedRun(95, 100, 3),  TaggedRun(70, 100, 3)};
  Report report = BuildReport(runs);
  EXPECT_FALSE(report.tags[0].homogeneityDefined);
  EXPECT_FALSE(report.tags[1].homogeneityDefined);
  EXPECT_TRUE(report.tags[2].homogeneityDefined);
  std::string csv = CsvReport(report, ReportRequest{});
  // Wilson bounds 200 / (200 + z^2) and z^2 / (200 + z^2); for tag 3 the
  // p-value of HomogeneityPValue's test above. No R/W losses follow.
  EXPECT_NE(csv.find("\n1,2,200,200,100.00,98.12,100.00,100.00,0.00,100.00,100.00,0,,0,0,0,"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\n2,2,200,0,0.00,0.00,1.88,0.00,0.00,0.00,0.00,0,,0,0,0,"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",3.281e-06,1,0,0,"), std::string::npos) << csv;
}

long long Needed(long long successes, long long attempts, double requiredPercent) {
  AttemptsPlan plan = AttemptsToShow(successes, attempts, requiredPercent);
  EXPECT_EQ(plan.reach, Reach::kAttempts) << successes << "/" << attempts;
  return plan.attempts;
}

TEST(PlanTest, AttemptsToShowARate) {
  EXPECT_EQ(Needed(1, 1, 99), 381);
  EXPECT_EQ(Needed(1, 1, 99.9), 3838);
  EXPECT_EQ(Needed(995, 1000, 99), 1522);
  EXPECT_EQ(Needed(999, 1000, 99.5), 1195);
  EXPECT_EQ(Needed(99, 100, 95), 115);
  // Rates that no double holds exactly count as the decimals they were
  // written as, also close to the requirement (mpmath, as below).
  EXPECT_EQ(Needed(99901, 100000, 99.9), 38376174);
  EXPECT_EQ(Needed(9999001, 10000000, 99.99), 38410746749);
  // Not above: never shown.
  EXPECT_EQ(AttemptsToShow(98, 100, 99).reach, Reach::kNotAbove);
  EXPECT_EQ(AttemptsToShow(99, 100, 99).reach, Reach::kNotAbove);
  EXPECT_EQ(AttemptsToShow(0, 100, 50).reach, Reach::kNotAbove);
}

// A rate barely above the requirement needs more attempts than any test
// runs: the number is given all the same, never a false reason. Exact
// values with Python's mpmath at 60 digits, z = sqrt(2) erfinv(0.95):
// ceil(z^2 r (1 - r) / (p - r)^2), checked as the first n whose Wilson lower
// bound reaches r. 990000001 / 10^9 against 99 %: 38030442324871847. Past
// 2^53 a double holds about 16 digits: the answer is that close.
TEST(PlanTest, RatesBarelyAboveTheRequirementGetTheirNumber) {
  const long long kExact = 38030442324871847;
  std::vector<RecordedRun> runs = {TaggedRun(990000001, 1000000000, 2)};
  Report report = BuildReport(runs);
  GateResult gate = ApplyGate(report.tags[0], 99);
  ASSERT_EQ(gate.toPass.reach, Reach::kAttempts);
  EXPECT_NEAR(static_cast<double>(gate.toPass.attempts), static_cast<double>(kExact),
              kExact * 1e-15);
  EXPECT_EQ(gate.moreAttempts, gate.toPass.attempts - 1000000000);
  ReportRequest request;
  request.requiredPercent = request.planPercent = 99;
  std::string text = TextReport(report, request, {});
  std::string needs = std::to_string(gate.toPass.attempts);
  // The rate with the digits that tell it from the requirement.
  EXPECT_NE(text.find("  tag 2 at its rate of 99.0000001 %: " + needs + " ("), std::string::npos)
      << text;
  EXPECT_NE(text.find("  tag 2: undecided (98.9993832 % to 99.0006166 %); a pass needs " + needs +
                      " attempts at its rate of 99.0000001 %"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("not above"), std::string::npos) << text;
  EXPECT_EQ(text.find("no number of attempts"), std::string::npos) << text;
}

// 2000000001 of 4000000000 against 50 % needs 15365835282776503834 attempts
// (mpmath as above): more than a 64-bit count holds, and said so.
TEST(PlanTest, ANeedBeyondCountingIsSaidToBe) {
  std::vector<RecordedRun> runs = {TaggedRun(1000000001, 2000000000, 5),
                                   TaggedRun(1000000000, 2000000000, 5)};
  Report report = BuildReport(runs);
  ReportRequest request;
  request.requiredPercent = request.planPercent = 50;
  std::string text = TextReport(report, request, {});
  EXPECT_NE(text.find("  tag 5 at its rate of 50.00000002 %: beyond what can be counted (more "
                      "than 9223372036854775807)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("; at its rate of 50.00000002 % a pass needs more attempts than can be "
                      "counted\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("not above"), std::string::npos) << text;
}

TEST(GateTest, VerdictsFromTheInterval) {
  std::vector<RecordedRun> runs = {TaggedRun(381, 381, 1), TaggedRun(380, 380, 2),
                                   TaggedRun(85, 100, 3), TaggedRun(99, 100, 4)};
  Report report = BuildReport(runs);
  // 381/381: lower bound 381 / (381 + z^2) = 0.990018 reaches 99 %.
  EXPECT_EQ(ApplyGate(report.tags[0], 99).verdict, Verdict::kPass);
  GateResult undecided = ApplyGate(report.tags[1], 99);
  EXPECT_EQ(undecided.verdict, Verdict::kUndecided);
  EXPECT_EQ(undecided.toPass.attempts, 381);
  EXPECT_EQ(undecided.moreAttempts, 1);
  EXPECT_EQ(ApplyGate(report.tags[2], 95).verdict, Verdict::kFail);
  // 99/100 against 95: 94.55 % to 99.82 %; at 99 % a pass needs 115.
  GateResult tag4 = ApplyGate(report.tags[3], 95);
  EXPECT_EQ(tag4.verdict, Verdict::kUndecided);
  EXPECT_EQ(tag4.toPass.attempts, 115);
  EXPECT_EQ(tag4.moreAttempts, 15);
}

TEST(CompareGroupsTest, PairsOrBaselineWithHolm) {
  std::vector<RecordedRun> runs = {TaggedRun(56, 70, 1), TaggedRun(48, 80, 2), TaggedRun(3, 4, 3)};
  Report report = BuildReport(runs);
  Comparisons all;
  std::string error;
  ASSERT_TRUE(all.Make(report, "", &error));
  ASSERT_EQ(all.Size(), 3u);  // 1-2, 1-3, 2-3
  EXPECT_NEAR(all[0].differencePercent.estimate, 20.0, 1e-9);
  EXPECT_NEAR(all[0].p, 0.012521129749209155, 1e-10);
  std::vector<double> raw = {all[0].p, all[1].p, all[2].p};
  std::vector<double> holm = HolmAdjusted(raw);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(all[i].pHolm, holm[i]);
  EXPECT_EQ(ComparisonVerdict(all[0], GroupBy::kTag), "tag 2 is lower");
  EXPECT_EQ(ComparisonVerdict(all[2], GroupBy::kTag), "no difference shown");

  Comparisons against;
  ASSERT_TRUE(against.Make(report, "2", &error));
  ASSERT_EQ(against.Size(), 2u);
  for (std::size_t i = 0; i < against.Size(); ++i) EXPECT_EQ(against[i].second->label, "2");
  EXPECT_EQ(against[0].first->label, "1");
  Comparisons none;
  EXPECT_FALSE(none.Make(report, "9", &error));
  EXPECT_EQ(error, "no group 9 to compare with");

  // A group whose every attempt was made without the R/W has no rate to
  // compare: it is left out, and the text says why there is nothing.
  std::vector<RecordedRun> withLoss = {TaggedRun(56, 70, 1), TaggedRun(0, 40, 2)};
  withLoss[1].lossAttempts = 40;
  Report lost = BuildReport(withLoss);
  Comparisons left;
  ASSERT_TRUE(left.Make(lost, "", &error));
  EXPECT_EQ(left.Size(), 0u);
  ReportRequest request;
  request.compare = true;
  EXPECT_NE(TextReport(lost, request, left)
                .find("\ncomparisons: none (fewer than two groups with card-finding attempts)\n"),
            std::string::npos);
}

}  // namespace
