#include "tests/e2e/shared_scenarios.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/end_to_end.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

const std::string kAuthentication = "get reader id,verify reader,confirm session key,";
const int kGenerousMs = 60000;

// Each scenario's simulator sits behind its own port number, since Wine's
// COM ports are shared by the whole suite.

TEST_P(SharedScenarioTest, KestrowSingleRunWithDesAndRecords) {
  std::unique_ptr<SimProcess> sim = tools().StartSim(12, {"--reader=secured", "--card=ooo.o"});
  ScratchDir dir;
  RunResult r = tools().Run(
      "kestrow", {"c", tools().PortName(*sim, 12), "t", "120", "f", tools().ToolPath(dir, "k.csv"),
                  "s", "off", "d", "7", "at", "2000", "rt", "2000"});
  std::string block = Repeat("ooo.o", 10) + "    [ 40/ 50]  80%\n";
  EXPECT_EQ(r.out, tools().Text(kKestrowBanner + block + block + Repeat("ooo.o", 4) +
                                "    [ 16/ 20]  80%\n(TOTAL) [  96/ 120] ...  80.00%\n\n"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(dir / "k.csv"), tools().Text(" 80.00%,  96, 120,   7\n"));
  EXPECT_EQ(CommandSequence(sim->StopAndTrace()), kAuthentication + Repeat("poll,", 120) + "close");
}

TEST_P(SharedScenarioTest, RepeatingModeReconnectsBetweenRuns) {
  // The third connection fails, so the loop ends after two whole runs; the
  // R/W is lost, which standard error and the exit status say.
  std::unique_ptr<SimProcess> sim =
      tools().StartSim(5, {"--reader=secured", "--fault=wrong-auth@c3"});
  ScratchDir dir;
  RunResult r =
      tools().Run("kestrow", {"c", tools().PortName(*sim, 5), "f",
                              tools().ToolPath(dir, "repeat.csv"), "at", "2000", "rt", "2000"});
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string run = block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  EXPECT_EQ(r.out, tools().Text(kKestrowBanner + run + run));
  const std::string why =
      tools().Text(" refused the authentication: check the keys (ka, kb) and kagi\n");
  EXPECT_EQ(r.err.rfind("The R/W on ", 0), 0u) << r.err;
  ASSERT_GE(r.err.size(), why.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - why.size()), why);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(dir / "repeat.csv"), "100.00%, 100, 100,100.00%, 100, 100,");
  std::string sequence = CommandSequence(sim->StopAndTrace());
  std::string run1 = kAuthentication + Repeat("poll,", 100) + "close,";
  EXPECT_EQ(sequence.substr(0, 2 * run1.size()), run1 + run1);
}

TEST_P(SharedScenarioTest, InterruptDuringPollingEndsRunInOrder) {
  // Slow answers keep the run well within its first 100 attempts until the
  // signal has arrived, however loaded the machine.
  std::unique_ptr<SimProcess> sim =
      tools().StartSim(7, {"--reader=secured", "--fault=response-delay=40@1-100"});
  ScratchDir dir;
  std::unique_ptr<ChildProcess> tool = tools().Start(
      "kestrow", {"c", tools().PortName(*sim, 7), "f", tools().ToolPath(dir, "interrupt.csv"), "s",
                  "off", "at", "2000", "rt", "2000"});
  std::string banner = tools().Text(kKestrowBanner);
  tool->ReadUntil(banner + "ooooo", kGenerousMs);
  tool->Signal(SIGINT);
  ASSERT_EQ(tool->Wait(kGenerousMs), 0);
  std::string rest = tool->Output().substr(banner.size());
  std::size_t marks = rest.find_first_not_of('o');
  ASSERT_LT(marks, 100u);  // still in the first run
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4zu/%4zu] ... 100.00%%\n\n", marks, marks);
  EXPECT_EQ(rest.substr(marks), tools().Text(total));
  char record[64];
  std::snprintf(record, sizeof record, "100.00%%,%4zu,%4zu\n", marks, marks);
  EXPECT_EQ(ReadFile(dir / "interrupt.csv"), tools().Text(record));
  EXPECT_EQ(CommandSequence(sim->StopAndTrace()),
            kAuthentication + Repeat("poll,", static_cast<int>(marks)) + "close");
}

// runfor ends polling in order once the time is up, as a key press does:
// the partial run's total and record, the close command, exit status 0.
// Slow answers keep it within the first run and its first block.
TEST_P(SharedScenarioTest, RunForEndsPollingInOrderWhenTheTimeIsUp) {
  std::unique_ptr<SimProcess> sim =
      tools().StartSim(8, {"--reader=secured", "--fault=response-delay=40@1-1000"});
  ScratchDir dir;
  auto started = std::chrono::steady_clock::now();
  RunResult r =
      tools().Run("kestrow", {"c", tools().PortName(*sim, 8), "runfor", "2", "f",
                              tools().ToolPath(dir, "timed.csv"), "at", "2000", "rt", "2000"});
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::seconds(2));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  std::string banner = tools().Text(kKestrowBanner);
  ASSERT_EQ(r.out.rfind(banner, 0), 0u) << r.out;
  std::string rest = r.out.substr(banner.size());
  std::size_t marks = rest.find_first_not_of('o');
  ASSERT_GT(marks, 0u);
  ASSERT_LT(marks, 50u) << r.out;
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4zu/%4zu] ... 100.00%%\n\n", marks, marks);
  EXPECT_EQ(rest.substr(marks), tools().Text(total));
  char record[64];
  std::snprintf(record, sizeof record, "100.00%%,%4zu,%4zu,", marks, marks);
  EXPECT_EQ(ReadFile(dir / "timed.csv"), record);
  EXPECT_EQ(CommandSequence(sim->StopAndTrace()),
            kAuthentication + Repeat("poll,", static_cast<int>(marks)) + "close");
}

}  // namespace
