// Reading result files and event logs together: the attempts made while a
// reader's R/W was gone count apart from card finding, a log's runs take
// the place of its result file's records without being counted twice, and
// a run made wholly without the R/W enters no rate. Wilson bounds computed
// with Python 3 as in run_stats_test.cpp.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/judgement.h"
#include "report/report_inputs.h"
#include "tests/support/log_lines.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

namespace {

using loglines::Attempt;
using loglines::Connect;
using loglines::Open;
using loglines::Reconnect;

constexpr long long kSecond = 1000000;

// A reader whose cable is pulled twice, logged beside its result file
// unit1.txt: run 1 finds the card in 5 of its first 6 attempts, then its
// port fails for 4; run 2 finds it 10 times; run 3 has no R/W at all, and
// the reconnection after it fails, which ends the tool.
std::string CablePulledLog(const std::string &resultFile) {
  std::string log = loglines::Start(kSecond, "2026-12-07T06:40:00Z", 7, "kestrow", 10, resultFile);
  log += Open(kSecond + 100, true) + Connect(kSecond + 200, true);
  long long t = 2 * kSecond;
  for (int n = 1; n <= 10; ++n, t += kSecond) {
    if (n > 6) {
      log += Attempt(t, 1, n, 2, 1000, "port error");
    } else {
      log += n == 3 ? Attempt(t, 1, n, 2, 12000, "no card") : Attempt(t, 1, n, 0, 9000, "none");
    }
  }
  log += loglines::Run(t, 1, 5, 10, "50.00");
  log += Open(t + 100, true) + Connect(t + 4 * kSecond, true) + Reconnect(t + 4 * kSecond, 2, true);
  t += 5 * kSecond;
  for (int n = 1; n <= 10; ++n, t += kSecond) log += Attempt(t, 2, n, 0, 9000, "none");
  log += loglines::Run(t, 2, 10, 10, "100.00");
  log += Reconnect(t + 100, 3, true);
  t += kSecond;
  for (int n = 1; n <= 10; ++n, t += kSecond) log += Attempt(t, 3, n, 2, 1000, "port error");
  log += loglines::Run(t, 3, 0, 10, "0.00");
  log += Open(t + 100, false) + Reconnect(t + 200, 4, false);
  log += loglines::Event(t + 300, "stop", "\"reason\":\"reconnection failed\"");
  return log;
}

// Its result file: a run from before the log, then runs 1 to 3.
const char kUnit1Records[] =
    " 90.00%,   9,  10,   7,\n 50.00%,   5,  10,   7,\n100.00%,  10,  10,   7,\n"
    "  0.00%,   0,  10,   7,\n";

Report Read(const std::vector<std::string> &files, GroupBy by, ReportInputs *inputs) {
  std::string error;
  EXPECT_TRUE(inputs->Read(InputRequest{files, by, false}, &error)) << error;
  return inputs->Build(by);
}

TEST(ReportInputsTest, AttemptsWithoutTheRwAreLossesNotCardFinding) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir / "unit1.log", CablePulledLog("")));
  ReportInputs inputs;
  Report report = Read({dir / "unit1.log"}, GroupBy::kTag, &inputs);
  ASSERT_EQ(report.tags.size(), 1u);
  const GroupStats &g = report.tags[0];
  EXPECT_EQ(g.runs, 2);  // run 3 found no R/W to poll with
  EXPECT_EQ(g.attempts, 16);
  EXPECT_EQ(g.successes, 15);
  EXPECT_NEAR(g.interval.low, 71.67126242970106, 1e-9);
  EXPECT_NEAR(g.interval.high, 98.88806552353576, 1e-9);
  ASSERT_EQ(g.lossOnlyRuns.size(), 1u);
  EXPECT_EQ(g.lossOnlyRuns[0]->record.attempts, 10);
  EXPECT_EQ(g.losses.spans, 2);
  EXPECT_EQ(g.losses.attempts, 14);
  // From the first failed port to the connection that worked (8 s to
  // 16 s), and from run 3's first failed port to the end of the log (28 s
  // to 38.0003 s).
  EXPECT_NEAR(g.losses.seconds, (16 - 8) + (38.0003 - 28), 1e-6);
  EXPECT_TRUE(g.losses.goneAtEnd);
  // The runs keep their own figures; the first run's rate is 5 of 6.
  EXPECT_NEAR(g.members[0].ratePercent, 500.0 / 6, 1e-9);
  EXPECT_EQ(g.members[0].run->lossAttempts, 4);
  EXPECT_EQ(report.overall.losses.attempts, 14);
  // Nothing is lost when the R/W never went.
  ASSERT_TRUE(WriteFile(dir / "fine.log", loglines::Start(kSecond) + Open(kSecond + 1, true) +
                                              Connect(kSecond + 2, true) +
                                              Attempt(2 * kSecond, 1, 1, 0, 9000, "none") +
                                              loglines::Run(2 * kSecond + 1, 1, 1, 1, "100.00")));
  ReportInputs fine;
  Report fineReport = Read({dir / "fine.log"}, GroupBy::kTag, &fine);
  EXPECT_EQ(fineReport.tags[0].losses.spans, 0);
  EXPECT_FALSE(fineReport.tags[0].losses.goneAtEnd);
}

// rwstation gives each reader's result file and its log: the records
// count once, with what the log tells of the runs they share.
TEST(ReportInputsTest, AResultFileAndItsLogCountEachRunOnce) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir / "unit1.txt", kUnit1Records));
  ASSERT_TRUE(WriteFile(dir / "unit1.log", CablePulledLog("unit1.txt")));
  ReportInputs inputs;
  Report report = Read({dir / "unit1.txt", dir / "unit1.log"}, GroupBy::kTag, &inputs);
  ASSERT_EQ(report.tags.size(), 1u);
  const GroupStats &g = report.tags[0];
  EXPECT_EQ(g.runs, 3);  // the run from before the log, runs 1 and 2
  EXPECT_EQ(g.attempts, 10 + 6 + 10);
  EXPECT_EQ(g.successes, 9 + 5 + 10);
  EXPECT_NEAR(g.interval.low, 75.85844622837095, 1e-9);
  EXPECT_NEAR(g.interval.high, 97.86449115277239, 1e-9);
  EXPECT_EQ(g.lossOnlyRuns.size(), 1u);
  EXPECT_EQ(g.losses.spans, 2);
  EXPECT_EQ(inputs.Counted().size(), 4u);
  // Each counted record points to the run of its log, the first to none.
  EXPECT_EQ(inputs.Counted()[0]->log, nullptr);
  for (int i = 1; i < 4; ++i) {
    ASSERT_NE(inputs.Counted()[i]->log, nullptr);
    EXPECT_EQ(inputs.Counted()[i]->log->run, i);
    EXPECT_EQ(inputs.Counted()[i]->plannedAttempts, 10);
  }
  // The result file alone cannot tell losses from failures.
  ReportInputs alone;
  Report fromRecords = Read({dir / "unit1.txt"}, GroupBy::kTag, &alone);
  EXPECT_EQ(fromRecords.tags[0].attempts, 40);
  EXPECT_EQ(fromRecords.tags[0].successes, 24);
  EXPECT_NEAR(fromRecords.tags[0].interval.low, 44.595893660346185, 1e-9);
  EXPECT_EQ(fromRecords.tags[0].losses.spans, 0);
}

// A log run that its result file lacks (the record could not be written)
// is listed, not counted, and a log that names another file adds nothing.
TEST(ReportInputsTest, LogRunsWithoutARecordAreNotCountedBesideResultFiles) {
  ScratchDir dir;
  // The file lost run 2's record.
  ASSERT_TRUE(WriteFile(dir / "unit1.txt", " 50.00%,   5,  10,   7,\n  0.00%,   0,  10,   7,\n"));
  ASSERT_TRUE(WriteFile(dir / "unit1.log", CablePulledLog("unit1.txt")));
  ASSERT_TRUE(WriteFile(dir / "other.log", CablePulledLog("elsewhere.txt")));
  ReportInputs inputs;
  Report report =
      Read({dir / "unit1.txt", dir / "unit1.log", dir / "other.log"}, GroupBy::kTag, &inputs);
  const GroupStats &g = report.tags[0];
  EXPECT_EQ(g.runs, 1);
  EXPECT_EQ(g.attempts, 6);
  EXPECT_EQ(g.lossOnlyRuns.size(), 1u);
  EXPECT_EQ(g.losses.spans, 2);  // other.log's runs and losses count nowhere
  EXPECT_EQ(inputs.Logged().size(), 6u);
  EXPECT_EQ(inputs.Counted().size(), 2u);
}

// Grouped by file, a log joins the group of the result file its start
// names, and labels tell files of the same name apart by their folders.
TEST(ReportInputsTest, ByFileALogJoinsItsResultFilesGroup) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir / "unit1.txt", kUnit1Records));
  ASSERT_TRUE(WriteFile(dir / "unit1.log", CablePulledLog("unit1.txt")));
  ASSERT_TRUE(WriteFile(dir / "unit2.txt", "100.00%,  10,  10,   7,\n"));
  ReportInputs inputs;
  Report report =
      Read({dir / "unit1.txt", dir / "unit1.log", dir / "unit2.txt"}, GroupBy::kFile, &inputs);
  ASSERT_EQ(report.tags.size(), 2u);
  EXPECT_EQ(report.tags[0].label, "unit1");
  EXPECT_EQ(report.tags[0].attempts, 26);
  EXPECT_EQ(report.tags[0].losses.spans, 2);
  EXPECT_EQ(report.tags[1].label, "unit2");
  EXPECT_EQ(report.tags[1].losses.spans, 0);
}

// Judge gives what rwreport decides, per group: card finding, the gate and
// the losses.
TEST(JudgementTest, GroupsWithTheirVerdictsAndLosses) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir / "unit1.txt", kUnit1Records));
  ASSERT_TRUE(WriteFile(dir / "unit1.log", CablePulledLog("unit1.txt")));
  ASSERT_TRUE(WriteFile(dir / "unit2.txt", Repeat("100.00%, 100, 100,   7,\n", 4)));
  JudgementRequest request;
  request.files = {dir / "unit1.txt", dir / "unit1.log", dir / "unit2.txt"};
  request.by = GroupBy::kFile;
  request.requiredPercent = 99;
  std::string error;
  std::optional<Judgement> judged = Judge(request, &error);
  ASSERT_TRUE(judged) << error;
  ASSERT_EQ(judged->groups.size(), 2u);
  const GroupJudgement &unit1 = judged->groups[0];
  EXPECT_EQ(unit1.label, "unit1");
  EXPECT_EQ(unit1.attempts, 26);
  EXPECT_EQ(unit1.successes, 24);
  EXPECT_EQ(unit1.verdict, Verdict::kFail);  // 75.86 % to 97.86 %
  EXPECT_EQ(unit1.losses.attempts, 14);
  EXPECT_TRUE(unit1.losses.goneAtEnd);
  const GroupJudgement &unit2 = judged->groups[1];
  EXPECT_EQ(unit2.name, "unit2");
  EXPECT_EQ(unit2.attempts, 400);
  EXPECT_EQ(unit2.verdict, Verdict::kPass);  // 400 / (400 + z^2) = 99.05 %
  request.files.push_back(dir / "missing.txt");
  EXPECT_FALSE(Judge(request, &error));
  EXPECT_EQ(error.rfind("cannot open " + (dir / "missing.txt") + ": ", 0), 0u) << error;
}

// A run made wholly without the R/W does not decide the gate: a reader
// whose R/W was gone for every attempt has no verdict to pass.
TEST(JudgementTest, AReaderWithoutCardFindingIsUndecided) {
  ScratchDir dir;
  std::string log = loglines::Start(kSecond, "2026-12-07T06:40:00Z", 3, "kestrow", 3) +
                    Open(kSecond + 1, true) + Connect(kSecond + 2, true);
  for (int n = 1; n <= 3; ++n) log += Attempt(2 * kSecond + n, 1, n, 2, 1000, "port error");
  log += loglines::Run(3 * kSecond, 1, 0, 3, "0.00", 3);
  ASSERT_TRUE(WriteFile(dir / "gone.log", log));
  JudgementRequest request;
  request.files = {dir / "gone.log"};
  request.requiredPercent = 50;
  std::string error;
  std::optional<Judgement> judged = Judge(request, &error);
  ASSERT_TRUE(judged) << error;
  ASSERT_EQ(judged->groups.size(), 1u);
  EXPECT_EQ(judged->groups[0].name, "tag 3");
  EXPECT_EQ(judged->groups[0].attempts, 0);
  EXPECT_EQ(judged->groups[0].runs, 0);
  EXPECT_EQ(judged->groups[0].verdict, Verdict::kUndecided);
  EXPECT_EQ(judged->groups[0].losses.attempts, 3);
}

}  // namespace
