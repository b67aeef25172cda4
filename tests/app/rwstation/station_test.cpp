// rwstation's parts that need no process: the plan check, the view's lines,
// the arguments of the verdict; and the job its readers run in on Windows.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/rwstation/plan.h"
#include "app/rwstation/verdict.h"
#include "app/rwstation/view.h"
#include "platform/process.h"
#include "tests/support/scratch_dir.h"

namespace {

std::vector<std::string> PlanErrors(const std::string &text, Plan *plan = nullptr) {
  Plan local;
  std::vector<std::string> errors;
  ReadPlan(PlanFileLines(text), plan ? plan : &local, &errors);
  return errors;
}

TEST(StationPlanTest, ReadsReadersRequireAndComments) {
  Plan plan;
  EXPECT_TRUE(PlanErrors("# bench\n"
                         "unit07 kestrow c /dev/ttyUSB3 t 1000 d 7  # the new antenna\n"
                         "\r\n"
                         "  unit08\tbrimlet c /dev/ttyUSB4\r\n"
                         "require 99.5\n",
                         &plan)
                  .empty());
  ASSERT_EQ(plan.readers.size(), 2u);
  EXPECT_EQ(plan.readers[0].name, "unit07");
  EXPECT_EQ(plan.readers[0].tool, "kestrow");
  EXPECT_EQ(plan.readers[0].words,
            (std::vector<std::string>{"c", "/dev/ttyUSB3", "t", "1000", "d", "7"}));
  EXPECT_EQ(plan.readers[0].port, "/dev/ttyUSB3");
  EXPECT_EQ(plan.readers[0].where, "line 2");
  EXPECT_EQ(plan.readers[1].name, "unit08");
  EXPECT_EQ(plan.readers[1].port, "/dev/ttyUSB4");
  EXPECT_EQ(plan.readers[1].where, "line 4");
  EXPECT_EQ(plan.requireRate, "99.5");
}

// Every mistake is named with its line, and all of them at once.
TEST(StationPlanTest, RefusesEachMistakeNamingItsLine) {
  std::vector<std::string> errors = PlanErrors(
      "a kestrow c /dev/ttyUSB0\n"
      "b kestro c /dev/ttyUSB1\n"
      "c brimlet c /dev/ttyUSB0\n"
      "d brimlet c /dev/ttyUSB2 t 0\n"
      "e brimlet c /dev/ttyUSB3 t\n"
      "f brimlet c /dev/ttyUSB4 f out.txt\n"
      "g brimlet c /dev/ttyUSB5 log x.log\n"
      "h kestrow t 10\n"
      "a brimlet c /dev/ttyUSB6\n"
      "../x brimlet c /dev/ttyUSB7\n"
      "i brimlet c /dev/ttyUSB8 v 1\n"
      "j brimlet c /dev/ttyUSB9 zz 1\n"
      "require 101\n"
      "k\n");
  std::vector<std::string> expected{
      "line 2: unknown tool \"kestro\" (kestrow or brimlet)",
      "line 3: port /dev/ttyUSB0 already named on line 1",
      "line 4: the tool refuses \"t 0\"",
      "line 5: option word \"t\" without its value",
      "line 6: sets the result file (f): the station names it in the session folder",
      "line 7: sets the event log (log): the station names it in the session folder",
      "line 8: names no port (c PORT): readers of a station do not search for their R/W",
      "line 9: reader name a already used on line 1",
      "line 10: reader name \"../x\": letters, digits, '-', '_' and '.' only, not first '.', at "
      "most 64, no device name (CON, NUL, COM1...)",
      "line 11: option word \"v\" only prints the tool's version",
      "line 12: the tool refuses \"zz 1\"",
      "line 13: require 101: a rate in percent above 0 and below 100 such as 99 or 99.5 is "
      "expected",
      "line 14: unknown tool \"\" (kestrow or brimlet)",
  };
  EXPECT_EQ(errors, expected);
  // Names that differ only in case name the same files on Windows and macOS.
  EXPECT_EQ(PlanErrors("Unit1 brimlet c x\nunit1 brimlet c y\n"),
            std::vector<std::string>{
                "line 2: reader name unit1 already used on line 1 (as Unit1: names differ in "
                "case only)"});
  for (const char *name : {"nul", "Com3.a", "aux.txt", ".hidden", "a:b"})
    EXPECT_EQ(PlanErrors(std::string(name) + " brimlet c x\n").size(), 1u) << name;
  for (const char *name : {"com10", "console", "unit-07_b.2"})
    EXPECT_TRUE(PlanErrors(std::string(name) + " brimlet c x\n").empty()) << name;
  EXPECT_EQ(PlanErrors("# nothing\n"), std::vector<std::string>{"the plan names no reader"});
  EXPECT_EQ(PlanErrors("a brimlet c x\nrequire 90\nrequire 95\n"),
            std::vector<std::string>{"line 3: require given twice"});
}

// Two names of one device are one port.
TEST(StationPlanTest, SamePortUnderAnotherName) {
  ScratchDir dir;
  std::string target = dir / "tty";
  std::string link = dir / "link";
  std::fclose(std::fopen(target.c_str(), "w"));
#ifndef _WIN32
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(PlanErrors("a brimlet c " + target + "\nb brimlet c " + link + "\n"),
            std::vector<std::string>{"line 2: port " + link + " already named on line 1"});
#endif
}

// The gate's rate as rwreport takes it: 0 would pass every reader, 100 none.
TEST(StationPlanTest, RequireTakesOneRateTheGateCanUse) {
  Plan plan;
  EXPECT_TRUE(PlanErrors("a brimlet c x\nrequire 97.25\n", &plan).empty());
  EXPECT_EQ(plan.requireRate, "97.25");
  for (const char *rate : {"0", "100", "100.5", "1e2", "9..5", "abc", "99%"}) {
    EXPECT_EQ(PlanErrors(std::string("a brimlet c x\nrequire ") + rate + "\n"),
              std::vector<std::string>{std::string("line 2: require ") + rate +
                                       ": a rate in percent above 0 and below 100 such as 99 or "
                                       "99.5 is expected"});
  }
  for (const char *line : {"require", "require 90 95"}) {
    EXPECT_EQ(PlanErrors(std::string("a brimlet c x\n") + line + "\n"),
              std::vector<std::string>{"line 2: require takes one rate in percent"});
  }
}

#ifdef _WIN32
// Children end with the station when it ends abnormally: they run in a job
// that the system closes with it.
TEST(StationProcessTest, ChildrenRunInAJobThatEndsWithTheStation) {
  std::string shell = platform::FindProgram("cmd.exe", "");
  ASSERT_FALSE(shell.empty());
  platform::Child child;
  std::string error;
  ASSERT_TRUE(platform::StartChild(shell, {"/c", "exit", "3"}, "", true, &child, &error)) << error;
  BOOL inJob = FALSE;
  EXPECT_TRUE(IsProcessInJob(reinterpret_cast<HANDLE>(child.handle), nullptr, &inJob));
  EXPECT_TRUE(inJob);
  for (int i = 0; i < 3000 && !platform::ChildEnded(&child); ++i) platform::Pause(10);
  EXPECT_EQ(child.exitStatus, 3);
}
#endif

TEST(StationViewTest, RateLinesAndTable) {
  EXPECT_EQ(RateText(0, 0), "-");
  // 381 attempts without a failure are needed to show 99 %.
  EXPECT_EQ(RateText(381, 381), "100.00 % [99.00, 100.00]");
  PlannedReader reader{"unit07", "kestrow", {}, "/dev/ttyUSB3", "line 1"};
  ReaderProgress p;
  p.state = ReaderState::kPolling;
  p.runs = 2;
  p.attempts = 200;
  p.successes = 190;
  p.lastMarks = "oooX";
  p.failures = {{"no ACK", 10}};
  p.lastRun = RunFigures{2, 96, 100};
  ReaderRow row{&reader, &p};
  EXPECT_EQ(RunLine(row),
            "unit07 run 2: 96/100; so far 2 runs, 190/200, 95.00 % [91.04, 97.26]; failures: no "
            "ACK 10");
  std::vector<std::string> table = TableLines({row}, 0);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1].substr(0, 7), "unit07 ");
  EXPECT_NE(table[1].find("polling"), std::string::npos);
  EXPECT_NE(table[1].find("95.00 % [91.04, 97.26]"), std::string::npos);
  EXPECT_NE(table[1].find("oooX"), std::string::npos);
  EXPECT_NE(table[2].find("1 running, 0 failed"), std::string::npos);
  for (const std::string &line : TableLines({row}, 30)) EXPECT_LE(line.size(), 30u);
  // A table higher than the terminal shows the failed readers first.
  PlannedReader other{"unit08", "kestrow", {}, "/dev/ttyUSB4", "line 2"};
  ReaderProgress broken;
  broken.state = ReaderState::kFailed;
  broken.cause = "cannot open /dev/ttyUSB4";
  std::vector<std::string> short_ = TableLines({row, {&other, &broken}}, 0, 3);
  ASSERT_EQ(short_.size(), 3u);
  EXPECT_EQ(short_[1].substr(0, 7), "unit08 ");
  EXPECT_NE(short_[2].find("1 running, 1 failed, 1 not shown"), std::string::npos);
  EXPECT_EQ(TableLines({row, {&other, &broken}}, 0, 4)[1].substr(0, 7), "unit07 ");
  p.state = ReaderState::kEnded;
  p.cause = "signal";
  p.closeSent = true;
  EXPECT_EQ(EndLine(row),
            "unit07 stopped (signal): 2 runs, 190/200, 95.00 % [91.04, 97.26], close command sent");
}

TEST(StationVerdictTest, ReportArgumentsNameEveryReaderThatRan) {
  ScratchDir dir;
  std::vector<StationReader> readers(3);
  const char *names[] = {"a", "b", "c"};
  for (int i = 0; i < 3; ++i) {
    readers[i].plan.name = names[i];
    readers[i].resultPath = dir / (std::string(names[i]) + ".txt");
    readers[i].logPath = dir / (std::string(names[i]) + ".log");
  }
  std::fclose(std::fopen(readers[0].resultPath.c_str(), "w"));
  readers[0].progress.runs = 1;
  readers[1].progress.runs = 2;  // its result file could not be written
  std::string page = dir.Path() + platform::PathSeparator() + "report.html";
  EXPECT_EQ(
      ReportArguments(readers, "99", dir.Path()),
      (std::vector<std::string>{"--by", "file", "--require", "99", "--compare", "--html", page,
                                readers[0].resultPath, readers[0].logPath, readers[1].logPath}));
  readers[1].progress.runs = 0;
  EXPECT_EQ(ReportArguments(readers, "", dir.Path()),
            (std::vector<std::string>{"--by", "file", "--html", page, readers[0].resultPath,
                                      readers[0].logPath}));
}

}  // namespace
