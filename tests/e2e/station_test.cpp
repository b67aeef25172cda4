// rwstation end to end: real tools against several simulators at once, the
// plan check, the plain lines, the view on a terminal, Ctrl-C in the middle,
// a reader without its R/W, and the verdict.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/station_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

TEST(StationPlanCheckTest, EachMistakeRefusedWithItsLineBeforeAnythingStarts) {
  ScratchDir dir;
  SimProcess sim({}, false);
  std::string plan = WritePlan(dir,
                               "# three mistakes\n"
                               "good brimlet c " +
                                   sim.Path() +
                                   " t 5\n"
                                   "typo brimlat c /dev/ttyS7\n"
                                   "twice kestrow c " +
                                   sim.Path() +
                                   "\n"
                                   "\n"
                                   "badword brimlet c /dev/ttyS9 rt fast\n"
                                   "own brimlet c /dev/ttyS10 f mine.txt\n");
  std::string session = dir / "session";
  RunResult r = RunProgram(Station(), {"--session", session, plan}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "rwstation: " + plan +
                       " line 3: unknown tool \"brimlat\" (kestrow or brimlet)\n" +
                       "rwstation: " + plan + " line 4: port " + sim.Path() + " already named on " +
                       plan + " line 2\n" + "rwstation: " + plan +
                       " line 6: the tool refuses \"rt fast\"\n" + "rwstation: " + plan +
                       " line 7: sets the result file (f): the station names it "
                       "in the session folder\n"
                       "rwstation: the plan is refused; no reader was started\n");
  EXPECT_EQ(ReadFile(session), "<missing>");  // no folder made, nothing started
  // The same line on the command line is named by its place there.
  r = RunProgram(Station(),
                 {"--session", session, "--reader", "a brimlet c x", "--reader", "b brimlet c x"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err,
            "rwstation: --reader 2: port x already named on --reader 1\n"
            "rwstation: the plan is refused; no reader was started\n");
  for (std::vector<std::string> words : {std::vector<std::string>{},
                                         {"--require", "abc", plan},
                                         {"--bogus", plan},
                                         {"--stop-wait", "5x", plan},
                                         {"--stop-wait", "0", plan},
                                         {"--stop-wait", "61m", plan},
                                         {"--stop-wait", "+5", plan},
                                         {plan, plan}}) {
    r = RunProgram(Station(), words);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Usage: rwstation"), std::string::npos);
  }
}

// A rate the gate cannot use is refused alike by rwstation, before anything
// starts, and by rwreport, which gives the verdict: both take exactly the
// same rates, and refuse the others for the same reason.
TEST(StationPlanCheckTest, RwstationAndRwreportTakeTheSameRequiredRates) {
  ScratchDir dir;
  std::string results = WritePlan(dir, " 85.00%,  85, 100,   3,", "results.csv");
  const std::vector<std::string> kRates = {
      "0",  "100",   "99.9999", "50",  "1e2", "nan", "inf", " 99", "99%", "0x10",       "",
      "-1", "100.0", "0.0001",  "99.", ".5",  "+50", "50 ", "0.0", "1,5", "99.99999999"};
  std::vector<std::string> reportTakes, stationTakes;
  for (std::size_t i = 0; i < kRates.size(); ++i) {
    const std::string &rate = kRates[i];
    RunResult report = RunProgram(BinDir() + "/rwreport", {"--require", rate, results});
    ASSERT_GE(report.exitCode, 0) << rate;
    if (report.exitCode != 2) reportTakes.push_back(rate);
    std::string session = dir / ("session" + std::to_string(i));
    RunResult station = RunProgram(
        Station(),
        {"--session", session, "--require", rate, "--reader", "a brimlet c " + dir / "no-port"}, "",
        kGenerousMs);
    ASSERT_GE(station.exitCode, 0) << rate;
    if (station.exitCode != 2) {
      stationTakes.push_back(rate);
      continue;
    }
    EXPECT_EQ(ReadFile(session), "<missing>") << "refused after starting: \"" << rate << "\"";
    // The same reason, each program with its own name in front.
    std::string reason = "--require " + rate + ": a rate in percent above 0 and below 100";
    EXPECT_EQ(report.err.rfind("rwreport: " + reason, 0), 0u) << report.err;
    EXPECT_EQ(station.err.rfind("rwstation: " + reason, 0), 0u) << station.err;
  }
  EXPECT_EQ(stationTakes, reportTakes);
  EXPECT_EQ(stationTakes,
            (std::vector<std::string>{"99.9999", "50", "0.0001", "99.", ".5", "99.99999999"}));
}

// Several readers at once, each its own tool against its own simulator: a
// secured one, a plain one with a fault, and one whose port is missing,
// which fails alone.
TEST(StationRunTest, PlainLinesPerRunAndAMissingPortStopsNoOtherReader) {
  ScratchDir dir;
  SimProcess secured({"--reader=secured", "--card=ooo.o"});
  SimProcess plain({"--fault=no-ack@3"});
  std::string session = dir / "session";
  std::string plan = WritePlan(dir, "unit01 kestrow c " + secured.Path() +
                                        " t 20 ka 5A3C960F71E248BD\n"
                                        "unit02 brimlet c " +
                                        plain.Path() +
                                        " t 25 at 500\n"
                                        "unit03 brimlet c " +
                                        dir / "no-such-port" + " t 10\n");
  RunResult r = RunProgram(Station(), {"--session", session, plan}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("unit01 run 1: 16/20; so far 1 runs, 16/20, 80.00 % [58.40, 91.93]; "
                       "failures: no card 4\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("unit02 run 1: 24/25; so far 1 runs, 24/25, 96.00 % [80.46, 99.29]; "
                       "failures: no ACK 1\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("unit01 stopped (single run done): 1 runs, 16/20, 80.00 % [58.40, "
                       "91.93], close command sent\n"),
            std::string::npos);
  // A key given in the plan is used, and not shown.
  EXPECT_NE(r.out.find("unit01 started: kestrow c " + secured.Path() + " t 20 ka (key) f "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("5A3C960F71E248BD"), std::string::npos);
  EXPECT_NE(r.out.find("unit03 failed (cannot open " + dir / "no-such-port"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("rwstation: unit03 failed: cannot open"), std::string::npos);
  ExpectOrderlyFiles(session, "unit01", "single run done");
  ExpectOrderlyFiles(session, "unit02", "single run done");
  EXPECT_EQ(CommandSequence(secured.StopAndTrace()),
            "get reader id,verify reader,confirm session key," + Repeat("poll,", 20) + "close");
}

// Ctrl-C in the middle of endless runs: every tool stops in order, writes
// the record of its run cut short and sends its close command.
TEST(StationRunTest, InterruptStopsEveryReaderInOrder) {
  ScratchDir dir;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::string planText;
  for (int i = 0; i < 3; ++i) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--card=p=0.9"}));
    planText += "r" + std::to_string(i) + " brimlet c " + sims.back()->Path() + "\n";  // endless
  }
  std::string session = dir / "session";
  ChildProcess station(Station(), {"--session", session, WritePlan(dir, planText)});
  for (int i = 0; i < 3; ++i) {
    station.ReadUntil("r" + std::to_string(i) + " run 1:", kGenerousMs);
  }
  station.Signal(SIGINT);
  int status = station.Wait(kGenerousMs);
  const std::string &out = station.Output();
  // Every reader ran and ended in order, and rwreport (no gate) passes them.
  EXPECT_EQ(status, 0) << out << station.Errors();
  EXPECT_EQ(CountOf(out, "rwstation: stopping every reader\n"), 1) << out;
  for (int i = 0; i < 3; ++i) {
    std::string name = "r" + std::to_string(i);
    EXPECT_NE(out.find(name + " stopped (signal):"), std::string::npos) << out;
    ExpectOrderlyFiles(session, name, "signal");
    std::string commands = CommandSequence(sims[i]->StopAndTrace());
    EXPECT_EQ(commands.substr(commands.size() - 6), ",close") << commands;
  }
  EXPECT_EQ(out.find("did not end"), std::string::npos);
}

TEST(StationRunTest, TerminalViewRedrawsStatesAndRatesUntilCtrlC) {
  ScratchDir dir;
  SimProcess always({});
  std::string session = dir / "session";
  TerminalRun run(Station(), {"--session", session, "--reader", "alpha brimlet c " + always.Path(),
                              "--reader", "beta brimlet c " + dir / "gone"});
  ASSERT_GT(run.pid, 0);
  // A run of 100 attempts takes about 1.5 s: a rate shows before it ends.
  EXPECT_TRUE(run.WaitFor({"reader", "alpha", "polling", "100.00 % [", "oooooooooo",
                           "failed (cannot open ", "1 running, 1 failed"},
                          kGenerousMs))
      << run.screen;
  EXPECT_NE(run.screen.find("\x1b[4A"), std::string::npos);  // the table is redrawn in place
  ASSERT_EQ(write(run.master, "\x03", 1), 1);                // Ctrl-C
  EXPECT_EQ(run.WaitExit(kGenerousMs), 1) << run.screen;     // beta failed
  EXPECT_NE(run.screen.find("stopped (signal)"), std::string::npos) << run.screen;
  EXPECT_NE(run.screen.find("0 running, 1 failed"), std::string::npos) << run.screen;
  ExpectOrderlyFiles(session, "alpha", "signal");
}

// The station's verdict from the exit status of the rwreport beside it: a
// copy of the station in a folder of its own, with the real tools and a
// stand-in rwreport that records its words and ends with a chosen status.
TEST(StationVerdictTest, ReportWordsAndItsStatusMakeTheVerdict) {
  ScratchDir dir;
  std::string bin = dir / "bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  ASSERT_EQ(RunProgram("/bin/cp", {Station(), bin + "/rwstation"}).exitCode, 0);
  char *brimlet = realpath((BinDir() + "/brimlet").c_str(), nullptr);
  ASSERT_NE(brimlet, nullptr);
  ASSERT_EQ(symlink(brimlet, (bin + "/brimlet").c_str()), 0);
  free(brimlet);
  std::FILE *script = std::fopen((bin + "/rwreport").c_str(), "w");
  std::fputs(
      "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/words\"\n"
      "echo the report\nexit \"$REPORT_STATUS\"\n",
      script);
  std::fclose(script);
  ASSERT_EQ(chmod((bin + "/rwreport").c_str(), 0700), 0);
  SimProcess first({}, false), second({}, false);
  std::string plan = WritePlan(dir, "require 99.5\na brimlet c " + first.Path() +
                                        " t 5\nb brimlet c " + second.Path() + " t 5\n");
  int session = 0;
  for (auto [reportStatus, expected] : {std::pair{0, 0}, {1, 1}, {2, 1}}) {
    setenv("REPORT_STATUS", std::to_string(reportStatus).c_str(), 1);
    std::string folder = dir / ("s" + std::to_string(++session));
    RunResult r = RunProgram(bin + "/rwstation", {"--session", folder, plan}, "", kGenerousMs);
    EXPECT_EQ(r.exitCode, expected) << reportStatus << r.out << r.err;
    EXPECT_NE(r.out.find("\nthe report\n"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(bin + "/words"), "--by\nfile\n--require\n99.5\n--compare\n--html\n" +
                                            folder + "/report.html\n--junit\n" + folder +
                                            "/junit.xml\n--\n" + folder + "/a.txt\n" + folder +
                                            "/a.log\n" + folder + "/b.txt\n" + folder + "/b.log\n");
    // The verdict line comes last and agrees with the exit status.
    std::string last = LastLine(r.out);
    EXPECT_EQ(last.rfind(expected == 0 ? "rwstation: PASS: " : "rwstation: FAIL: ", 0), 0u) << last;
    if (reportStatus == 2) {
      EXPECT_NE(last.find("; no verdict: rwreport ended with exit status 2"), std::string::npos)
          << last;
    }
  }
  // The page's title, joined to its word: it may begin with "-".
  setenv("REPORT_STATUS", "0", 1);
  std::string folder = dir / "titled";
  RunResult r = RunProgram(bin + "/rwstation",
                           {"--session", folder, "--title", "-Night soak", plan}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(ReadFile(bin + "/words").find("/junit.xml\n--title=-Night soak\n--\n"),
            std::string::npos)
      << ReadFile(bin + "/words");
  unsetenv("REPORT_STATUS");
}

TEST(StationVerdictTest, ExitStatusFollowsTheGate) {
  ScratchDir dir;
  SimProcess good({});
  SimProcess poor({"--card=o...."});
  std::string readers =
      "unit01 brimlet c " + good.Path() + " t 40\nunit02 brimlet c " + poor.Path() + " t 40\n";
  RunResult passed = RunProgram(
      Station(), {"--session", dir / "passed", "--require", "5", WritePlan(dir, readers)}, "",
      kGenerousMs);
  EXPECT_EQ(passed.exitCode, 0) << passed.out << passed.err;
  EXPECT_NE(passed.out.find("unit02"), std::string::npos);
  EXPECT_NE(ReadFile(dir / "passed/report.html"), "<missing>");
  EXPECT_NE(ReadFile(dir / "passed/junit.xml").find("<testsuite"), std::string::npos);
  EXPECT_EQ(LastLine(passed.out), "rwstation: PASS: 2 of 2 readers passed 5.00 %");
  RunResult failed =
      RunProgram(Station(), {"--session", dir / "failed", WritePlan(dir, readers + "require 50\n")},
                 "", kGenerousMs);
  EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;
  // 8 of 40: the 95 % Wilson interval worked out apart is [10.50, 34.76].
  EXPECT_EQ(
      LastLine(failed.out),
      "rwstation: FAIL: 1 of 2 readers passed 50.00 %; below it: unit02 20.00 % [10.50, 34.76]");
}

}  // namespace
