// brimlet end to end: the real program against the real simulator.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/text_files.h"

#include "tests/support/end_to_end.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

namespace {

std::string Brimlet() { return BinDir() + "/brimlet"; }

// Runs whose figures do not depend on the ACK and response time-outs give
// them "at 2000 rt 2000", which a starved simulator cannot overrun. Where
// "no card" is a missing response (the plain R/W's way), rt stays short:
// the simulator sends the ACK and the response back to back.

std::string TempPath(const std::string &name) { return ScratchPath(name); }

TEST(BrimletTest, UsageAndVersion) {
  const std::string usage =
      "\nUsage: brimlet [options]\n"
      "Options:\n"
      "  c COM-PORT                 Set port name. c COM1 \n"
      "  rt RESPONSE_PACKET_TIMEOUT Set response packet time-out(millisecond).\n"
      "  h                          Print this message and exit.\n"
      "  v                          Print version information and exit.\n";
  RunResult help = RunProgram(Brimlet(), {"h"});
  EXPECT_EQ(help.out, usage);
  EXPECT_EQ(help.exitCode, 0);
  const struct {
    std::vector<std::string> args;
    std::string refused;
  } bad[] = {{{"x"}, "x (not an option word)"},
             {{"kagi", "On"}, "kagi On (on or off is expected)"},
             {{"c"}, "c (its value is missing)"},
             {{"c", "/dev/nothere", "t", "10", "d", "A"},
              "d A (a decimal number is expected: the digits 0 to 9 only)"}};
  for (const auto &b : bad) {
    RunResult r = RunProgram(Brimlet(), b.args);
    EXPECT_EQ(r.out, usage) << b.args[0];
    EXPECT_EQ(r.err, "Refused: " + b.refused + "\n");
    EXPECT_EQ(r.exitCode, 2) << b.args[0];
  }
  RunResult version = RunProgram(Brimlet(), {"v"});
  EXPECT_EQ(version.out, "\n<< Polling for TQ --- ver 1.062 (C) 2026 The kestrow authors >> \n");
  EXPECT_EQ(version.exitCode, 0);
}

TEST(BrimletTest, SingleRunsWithResultFile) {
  SimProcess sim({"--card=ooo.o"});
  std::string file = TempPath("brimlet_single.csv");
  RunResult r = RunProgram(Brimlet(), {"c", sim.Path(), "t", "30", "f", file, "kagi", "off", "at",
                                       "2000", "rt", "2000"});
  EXPECT_EQ(r.out, kBrimletBanner + Repeat("ooo.o", 6) +
                       "    [ 24/ 30]  80%\n(TOTAL) [  24/  30] ...  80.00%\n\n");
  EXPECT_EQ(r.exitCode, 0);
  r = RunProgram(Brimlet(), {"c", sim.Path(), "t", "120", "f", file, "at", "2000"});
  std::string block = Repeat("ooo.o", 10) + "    [ 40/ 50]  80%\n";
  EXPECT_EQ(r.out, kBrimletBanner + block + block + Repeat("ooo.o", 4) +
                       "    [ 16/ 20]  80%\n(TOTAL) [  96/ 120] ...  80.00%\n\n");
  EXPECT_EQ(ReadFile(file), " 80.00%,  24,  30, 80.00%,  96, 120,");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            "open," + Repeat("poll,", 30) + "close,open," + Repeat("poll,", 120) + "close");
}

TEST(BrimletTest, RecordFormats) {
  SimProcess sim({"--card=always"});
  std::string file = TempPath("brimlet_formats.csv");
  const std::vector<std::vector<std::string>> formats = {
      {}, {"d", "7"}, {"s", "off"}, {"s", "off", "d", "12"}, {"s", "on"}};
  for (const auto &extra : formats) {
    std::vector<std::string> args = {"c",  sim.Path(), "t",    "2",  "f",
                                     file, "at",       "2000", "rt", "2000"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(RunProgram(Brimlet(), args).out,
              kBrimletBanner + "oo    [  2/  2] 100%\n(TOTAL) [   2/   2] ... 100.00%\n\n");
  }
  EXPECT_EQ(ReadFile(file),
            "100.00%,   2,   2,100.00%,   2,   2,   7,100.00%,   2,   2\n"
            "100.00%,   2,   2,  12\n100.00%,   2,   2,");
}

TEST(BrimletTest, FailureLimitWithoutCard) {
  SimProcess sim({"--card=never"});
  std::string file = TempPath("brimlet_limit.csv");
  RunResult r =
      RunProgram(Brimlet(), {"c", sim.Path(), "e", "5", "f", file, "s", "off", "at", "2000"});
  EXPECT_EQ(r.out, kBrimletBanner + ".....(TOTAL) [   0/   5] ...   0.00%\n\n");
  EXPECT_EQ(ReadFile(file), "  0.00%,   0,   5\n");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open," + Repeat("poll,", 5) + "close");
}

TEST(BrimletTest, FaultsAreFailedAttempts) {
  SimProcess sim({"--fault=bad-checksum@2", "--fault=wrong-code@3", "--fault=short@4",
                  "--fault=no-ack@5", "--fault=no-response@6", "--fault=ack-delay=200@7",
                  "--fault=response-delay=300@8", "--fault=response-delay=4000@9"});
  // Pauses within the inactivity time-outs are no failure; a response later
  // than the time-out is a missing one (the last attempt, so that the late
  // frame disturbs no other).
  RunResult r = RunProgram(Brimlet(), {"c", sim.Path(), "t", "9", "at", "1000", "rt", "1000"});
  EXPECT_EQ(r.out,
            kBrimletBanner + "oXXXX.oo.    [  3/  9]  33%\n(TOTAL) [   3/   9] ...  33.33%\n\n");
}

TEST(BrimletTest, ResultFileInMissingFolder) {
  SimProcess sim({});
  RunResult r = RunProgram(Brimlet(), {"c", sim.Path(), "f", "/no/such/folder/r.csv"});
  EXPECT_EQ(r.out, kBrimletBanner + "[/no/such/folder/r.csv] のオープンに作成に失敗しました。\n\n");
  EXPECT_EQ(r.err,
            "Cannot open the result file /no/such/folder/r.csv: No such file or directory\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open");  // no close command
}

// The console stays silent; standard error says why.
TEST(BrimletTest, FailedFirstConnectionIsSilentOnTheConsole) {
  SimProcess wrong({"--fault=wrong-code@c1"});
  RunResult r = RunProgram(Brimlet(), {"c", wrong.Path()});
  EXPECT_EQ(r.out, kBrimletBanner);
  EXPECT_EQ(r.err, "The R/W on " + wrong.Path() +
                       " answered with something unexpected (wrong answer code)\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(CommandSequence(wrong.StopAndTrace()), "open");
  r = RunProgram(Brimlet(), {"c", "/dev/no-such-reader"});
  EXPECT_EQ(r.out, kBrimletBanner);
  EXPECT_EQ(r.err, "Cannot open /dev/no-such-reader: No such file or directory\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST(BrimletTest, RepeatingModeReconnectsAndStopsOnInput) {
  SimProcess sim({});
  std::string file = TempPath("brimlet_repeat.csv");
  ChildProcess tool(Brimlet(), {"c", sim.Path(), "f", file, "at", "2000", "rt", "2000"});
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string firstRun = kBrimletBanner + block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  tool.ReadUntil(firstRun + "ooo", 30000);
  tool.WriteInput("q");
  ASSERT_EQ(tool.Wait(30000), 0);
  const std::string &out = tool.Output();
  ASSERT_EQ(out.substr(0, firstRun.size()), firstRun);
  std::string rest = out.substr(firstRun.size());
  std::size_t marks = rest.find_first_not_of('o');
  ASSERT_GE(marks, 3u);
  ASSERT_LT(marks, 50u);
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4zu/%4zu] ... 100.00%%\n\n", marks, marks);
  EXPECT_EQ(rest.substr(marks), total);
  char record[64];
  std::snprintf(record, sizeof record, "100.00%%,%4zu,%4zu,", marks, marks);
  EXPECT_EQ(ReadFile(file), std::string("100.00%, 100, 100,") + record);
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open," + Repeat("poll,", 100) + "close,open," +
                                                     Repeat("poll,", static_cast<int>(marks)) +
                                                     "close");
}

TEST(BrimletTest, InterruptEndsLoopInOrder) {
  SimProcess sim({});
  std::string file = TempPath("brimlet_interrupt.csv");
  ChildProcess tool(Brimlet(),
                    {"c", sim.Path(), "f", file, "s", "off", "at", "2000", "rt", "2000"});
  tool.ReadUntil(kBrimletBanner + "ooooo", 30000);
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(30000), 0);
  StoppedRun run = ExpectOrderlyEnd(tool.Output(), kBrimletBanner, file, false);
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open," + Repeat("poll,", run.attempts) + "close");
}

}  // namespace
