// rwstation's parts that need no process: the plan check, the view's lines,
// the arguments of the verdict, the snapshot its HTTP face serves; and the
// job its readers run in on Windows.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/rwstation/plan.h"
#include "app/rwstation/station_publish.h"
#include "app/rwstation/verdict.h"
#include "app/rwstation/view.h"
#include "platform/process.h"
#include "report/station_metrics.h"
#include "tests/support/log_lines.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

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

// Lines that cannot reach a tool whole are refused before their words are
// read: a NUL byte would cut its word short, and a line longer than any
// plan needs is a mistake.
TEST(StationPlanTest, RefusesNulBytesAndOverlongLines) {
  std::string nul = std::string("a brimlet c /dev/x") + '\0' + "y t 5\n";
  EXPECT_EQ(PlanErrors("# first\n" + nul),
            std::vector<std::string>{
                "line 2: a NUL byte after 18 characters: not a word of a command line"});
  std::string longest = "a brimlet c /dev/x";
  longest += " d 1" + std::string(kLongestPlanLine - longest.size() - 4, ' ');
  ASSERT_EQ(longest.size(), kLongestPlanLine);
  Plan plan;
  EXPECT_TRUE(PlanErrors(longest + "\n", &plan).empty());
  EXPECT_EQ(plan.readers.size(), 1u);
  EXPECT_EQ(PlanErrors(longest + " \n"),
            std::vector<std::string>{"line 1: a line of 8193 characters (at most 8192)"});
}

// What the station keeps of a reader's words: the device its port names
// and whether it is a single run.
TEST(StationPlanTest, KnowsTheDeviceAndASingleRun) {
  Plan plan;
  EXPECT_TRUE(PlanErrors("a brimlet c ttyUSB4 t 10\nb kestrow c /dev/ttyACM1\n", &plan).empty());
  ASSERT_EQ(plan.readers.size(), 2u);
  EXPECT_TRUE(plan.readers[0].singleRun);
  EXPECT_FALSE(plan.readers[1].singleRun);
#ifdef _WIN32
  EXPECT_EQ(plan.readers[0].device, "\\\\.\\ttyUSB4");
#else
  EXPECT_EQ(plan.readers[0].device, "/dev/ttyUSB4");
  EXPECT_EQ(plan.readers[1].device, "/dev/ttyACM1");
#endif
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

// Every state of the progress model has its series among the metrics'
// state names, a lost R/W as "lost"; the snapshot of a station before its
// readers start names each reader as the plan does.
TEST(StationSnapshotTest, StatesAndReadersAsTheMetricsNameThem) {
  std::vector<std::string> labels;
  for (ReaderState state : {ReaderState::kStarting, ReaderState::kConnecting, ReaderState::kPolling,
                            ReaderState::kReconnecting, ReaderState::kLost, ReaderState::kStopping,
                            ReaderState::kEnded, ReaderState::kFailed}) {
    labels.push_back(StateLabel(state));
  }
  EXPECT_EQ(labels,
            std::vector<std::string>(std::begin(kReaderStateNames), std::end(kReaderStateNames)));
  Plan plan;
  ASSERT_TRUE(
      PlanErrors("unit07 kestrow c /dev/ttyUSB3\nunit08 brimlet c COM4 t 10\n", &plan).empty());
  SessionSettings settings;
  settings.folder = "soak-monday";
  Station station(plan, settings);
  StationIdentity identity{"bench-3", "9.9", "antennas", 1000.5, 0.995};
  StationSnapshot s = TakeSnapshot(station, identity, 1200.25);
  EXPECT_EQ(s.name, "bench-3");
  EXPECT_EQ(s.session, "soak-monday");
  EXPECT_EQ(s.startTime, 1000.5);
  EXPECT_EQ(s.time, 1200.25);
  EXPECT_EQ(s.requiredRate, 0.995);
  ASSERT_EQ(s.readers.size(), 2u);
  EXPECT_EQ(s.readers[1].name, "unit08");
  EXPECT_EQ(s.readers[1].tool, "brimlet");
  EXPECT_EQ(s.readers[1].port, "COM4");
  EXPECT_EQ(s.readers[1].state, "starting");
  EXPECT_EQ(s.readers[1].attempts, 0);
  EXPECT_FALSE(s.readers[1].lastAttemptTime.has_value());
  EXPECT_FALSE(DefaultStationName().empty());
}

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
  std::vector<std::string> table = TableLines({row}, kNoLimit);
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
  std::vector<std::string> short_ = TableLines({row, {&other, &broken}}, kNoLimit, 3);
  ASSERT_EQ(short_.size(), 3u);
  EXPECT_EQ(short_[1].substr(0, 7), "unit08 ");
  EXPECT_NE(short_[2].find("1 running, 1 failed, 1 not shown"), std::string::npos);
  EXPECT_EQ(TableLines({row, {&other, &broken}}, kNoLimit, 4)[1].substr(0, 7), "unit07 ");
  p.state = ReaderState::kEnded;
  p.cause = "signal";
  p.closeSent = true;
  EXPECT_EQ(EndLine(row),
            "unit07 stopped (signal): 2 runs, 190/200, 95.00 % [91.04, 97.26], close command sent");
}

// A reader's progress from the lines of its log.
ReaderProgress Replayed(const std::vector<std::string> &lines) {
  logread::EventParser parser;
  ReaderProgress progress;
  for (std::string line : lines) {
    line.pop_back();
    ApplyLine(line, parser, &progress);
  }
  return progress;
}

const std::string kOpened =
    loglines::Event(2, "open", "\"device\":\"/dev/x\",\"baud\":115200,\"ok\":true");
const std::string kConnected =
    loglines::Event(3, "connect",
                    "\"device\":\"/dev/x\",\"baud\":115200,\"des\":true,\"ok\":true,"
                    "\"result\":0,\"failure\":\"none\"");

// A reader whose R/W went away 95 s after its start (06:40:00 UTC), having
// made 3 attempts with a card and 2 with its port failing.
std::vector<std::string> LostLog() {
  return {loglines::Start(0),
          kOpened,
          kConnected,
          loglines::Attempt(10, 1, 1, 0, 9000, "none"),
          loglines::Attempt(20, 1, 2, 0, 9000, "none"),
          loglines::Attempt(30, 1, 3, 3, 120000, "no ACK"),
          loglines::Attempt(95000000, 1, 4, 2, 900, "port error"),
          loglines::Attempt(140000000, 1, 5, 2, 900, "port error")};
}

// The local time of day of a UTC time, as the view shows it.
std::string LocalClock(std::time_t unixSeconds) {
  char text[16];
  std::strftime(text, sizeof text, "%H:%M", std::localtime(&unixSeconds));
  return text;
}

TEST(StationViewTest, ALostRwIsShownWithSinceWhenAndHowOften) {
  EXPECT_EQ(ShortDuration(0), "0s");
  EXPECT_EQ(ShortDuration(0.4), "<1s");  // a loss, however short, is not nothing
  EXPECT_EQ(ShortDuration(59.9), "59s");
  EXPECT_EQ(ShortDuration(95), "1m35s");
  EXPECT_EQ(ShortDuration(3600 + 2 * 60 + 5), "1h02m");
  EXPECT_EQ(ShortDuration(2 * 86400 + 3 * 3600 + 59), "2d03h");
  ReaderProgress p = Replayed(LostLog());
  std::string since = LocalClock(1796625600 + 95);
  EXPECT_EQ(StateText(p), "lost R/W (since " + since + ", 1st time)");
  EXPECT_EQ(LossCell(p), "1x 45s (2)");
  EXPECT_EQ(p.attempts, 3);  // card finding only
  PlannedReader reader{"unit07", "brimlet", {}, "/dev/x", "line 1"};
  ReaderRow row{&reader, &p};
  GiveUpLost(&p);
  EXPECT_EQ(EndLine(row), "unit07 failed (lost R/W (since " + since +
                              ", 1st time)): 0 runs, 2/3, 66.67 % [20.77, 93.85], R/W lost 1x "
                              "45s (2)");
  // Back, then lost a second time.
  std::vector<std::string> log = LostLog();
  log.insert(
      log.end(),
      {loglines::Run(150000000, 1, 2, 5, "40.00"),
       loglines::Event(150000010, "open", "\"device\":\"/dev/x\",\"baud\":115200,\"ok\":true"),
       loglines::Event(160000000, "connect",
                       "\"device\":\"/dev/x\",\"baud\":115200,\"des\":true,\"ok\":true,"
                       "\"result\":0,\"failure\":\"none\""),
       loglines::Event(160000010, "reconnect", "\"run\":2,\"ok\":true"),
       loglines::Attempt(160000020, 2, 1, 0, 9000, "none"),
       loglines::Attempt(7200000000, 2, 2, 2, 900, "port error")});
  p = Replayed(log);
  EXPECT_EQ(StateText(p), "lost R/W (since " + LocalClock(1796625600 + 7200) + ", 2nd time)");
  EXPECT_EQ(LossCell(p), "2x 1m05s (3)");
  EXPECT_EQ(RunLine(row),
            "unit07 run 1: 2/5 (2 with the R/W lost); so far 1 runs, 3/4, 75.00 % [30.06, "
            "95.44]; R/W lost 2x 1m05s (3); failures: no ACK 1");
}

// Four readers as a long soak shows them: long port names, several failure
// classes, one that lost its R/W, one that failed.
struct SoakTable {
  std::vector<PlannedReader> readers;
  std::vector<ReaderProgress> progress;
  std::vector<std::vector<std::string>> failures;
  SoakTable() {
    readers = {{"unit01", "kestrow", {}, "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00", "l1"},
               {"unit02", "kestrow", {}, "/dev/ttyUSB1", "l2"},
               {"unit03", "brimlet", {}, "/dev/ttyACM0", "l3"},
               {"unit04", "brimlet", {}, "/dev/ttyUSB9", "l4"}};
    progress.resize(4);
    long long attempts[] = {2874512, 2874480, 2874300, 0};
    long long successes[] = {2808395, 2874479, 2860100, 0};
    for (int i = 0; i < 3; ++i) {
      progress[i].state = ReaderState::kPolling;
      progress[i].runs = static_cast<int>(attempts[i] / 100);
      progress[i].attempts = attempts[i];
      progress[i].successes = successes[i];
      progress[i].lastMarks = "ooooXooo.o";
    }
    progress[0].failures = {{"no ACK", 60000}, {"no card", 5117}, {"bad checksum", 1000}};
    progress[1].failures = {{"no ACK", 1}};
    progress[2].failures = {{"no card or no answer", 14200}};
    progress[2] = Replayed(LostLog());
    progress[2].runs = 28743;
    progress[3].state = ReaderState::kFailed;
    progress[3].cause = "cannot open /dev/ttyUSB9: No such file or directory, exit status 1";
    for (const ReaderProgress &p : progress) {
      std::vector<std::string> items;
      std::string all = FailureSummary(p);
      for (std::size_t at = 0; at < all.size();) {
        std::size_t end = std::min(all.find(", ", at), all.size());
        items.push_back(all.substr(at, end - at));
        at = end + 2;
      }
      failures.push_back(items);
    }
  }
  std::vector<ReaderRow> Rows() const {
    std::vector<ReaderRow> rows;
    for (std::size_t i = 0; i < readers.size(); ++i) rows.push_back({&readers[i], &progress[i]});
    return rows;
  }
};

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// However narrow the terminal, a line never gets wider than it, and a
// figure is shown whole or not at all: whole columns are left out, in a
// fixed order.
TEST(StationViewTest, NarrowTerminalsLoseWholeColumnsNeverPartOfAFigure) {
  SoakTable soak;
  const std::vector<std::string> kDropOrder = {"port",     "marks",    "runs",  "failures",
                                               "R/W lost", "attempts", "state", "rate"};
  long long totalAttempts = 0, totalSuccesses = 0;
  for (const ReaderProgress &p : soak.progress) {
    totalAttempts += p.attempts;
    totalSuccesses += p.successes;
  }
  for (int columns : {400, 160, 120, 100, 80, 79, 60, 40, 30, 20, 7, 1}) {
    std::vector<std::string> lines = TableLines(soak.Rows(), columns);
    ASSERT_EQ(lines.size(), 6u) << columns;
    const std::string &header = lines[0];
    for (const std::string &line : lines) EXPECT_LE(line.size(), std::size_t(columns)) << line;
    // The columns shown are those not yet dropped in the fixed order.
    bool dropped = false;
    for (auto it = kDropOrder.rbegin(); it != kDropOrder.rend(); ++it) {
      bool shown = header.find(*it) != std::string::npos;
      if (dropped) {
        EXPECT_FALSE(shown) << columns << ": " << *it << " in " << header;
      }
      dropped = dropped || !shown;
    }
    bool rates = header.find("rate") != std::string::npos;
    bool counts = header.find("attempts") != std::string::npos;
    for (std::size_t i = 0; i < soak.readers.size(); ++i) {
      const ReaderProgress &p = soak.progress[i];
      const std::string &line = lines[i + 1];
      EXPECT_EQ(line.find(RateText(p.successes, p.attempts)) != std::string::npos, rates) << line;
      if (counts) {
        EXPECT_NE(line.find(" " + std::to_string(p.attempts)), std::string::npos) << line;
      }
      if (header.find("failures") == std::string::npos) continue;
      // The failures: whole classes, then "..." for those left out.
      std::string shown = Trimmed(line.substr(std::min(header.find("failures"), line.size())));
      for (std::size_t at = 0; at < shown.size();) {
        std::size_t end = std::min(shown.find(", ", at), shown.size());
        std::string item = shown.substr(at, end - at);
        bool whole = item == "..." || std::find(soak.failures[i].begin(), soak.failures[i].end(),
                                                item) != soak.failures[i].end();
        EXPECT_TRUE(whole) << columns << ": \"" << item << "\" in " << line;
        at = end + 2;
      }
    }
    EXPECT_EQ(lines[5].find(RateText(totalSuccesses, totalAttempts)) != std::string::npos, rates)
        << lines[5];
  }
  // 80 columns keep the name, the state and the rate.
  std::string header80 = TableLines(soak.Rows(), 80)[0];
  for (const char *title : {"reader", "state", "rate (95 % interval)"})
    EXPECT_NE(header80.find(title), std::string::npos) << header80;
}

// A terminal of one row shows one line, of two the header and the total.
TEST(StationViewTest, ATinyTerminalGetsATinyTable) {
  SoakTable soak;
  std::vector<std::string> one = TableLines(soak.Rows(), kNoLimit, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].rfind("total ", 0), 0u) << one[0];
  EXPECT_NE(one[0].find("4 not shown"), std::string::npos) << one[0];
  std::vector<std::string> two = TableLines(soak.Rows(), kNoLimit, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].rfind("reader ", 0), 0u);
  // Of three lines, the failed reader comes first, then the lost one.
  std::vector<std::string> four = TableLines(soak.Rows(), kNoLimit, 4);
  ASSERT_EQ(four.size(), 4u);
  EXPECT_EQ(four[1].rfind("unit04 ", 0), 0u) << four[1];
  EXPECT_EQ(four[2].rfind("unit03 ", 0), 0u) << four[2];
  EXPECT_NE(four[3].find("2 running, 1 failed, 1 lost R/W, 2 not shown"), std::string::npos)
      << four[3];
  for (const std::string &line : TableLines(soak.Rows(), 1, 1)) EXPECT_LE(line.size(), 1u);
}

// The station makes its readers' files before any tool starts, and a folder
// holding any of the session's names is refused.
TEST(StationFolderTest, TheSessionsFilesAreMadeByTheStationOnly) {
  ScratchDir dir;
  Plan plan;
  ASSERT_TRUE(PlanErrors("a brimlet c x1\nb brimlet c x2\n", &plan).empty());
  SessionSettings settings;
  settings.folder = dir.Path();
  Station station(plan, settings);
  std::string sep(1, platform::PathSeparator());
  std::vector<std::string> names;
  for (const std::string &path : station.SessionFiles())
    names.push_back(path.substr(path.rfind(sep) + 1));
  EXPECT_EQ(names, (std::vector<std::string>{"report.html", "report.txt", "junit.xml", "a.txt",
                                             "a.log", "a.out", "b.txt", "b.log", "b.out"}));
  std::string error;
  EXPECT_TRUE(station.CheckFolder(&error)) << error;
  ASSERT_TRUE(station.CreateReaderFiles(&error)) << error;
  for (const char *name : {"a.txt", "a.log", "a.out", "b.txt", "b.log", "b.out"})
    EXPECT_EQ(ReadFile(dir.Path() + sep + name), "") << name;
  EXPECT_FALSE(station.CheckFolder(&error));
  EXPECT_EQ(error, dir.Path() + sep + "a.txt exists already: give a new session folder");
  EXPECT_FALSE(station.CreateReaderFiles(&error));  // never twice
  ScratchDir other;
  std::fclose(std::fopen((other.Path() + sep + "report.txt").c_str(), "w"));
  settings.folder = other.Path();
  EXPECT_FALSE(Station(plan, settings).CheckFolder(&error));
  EXPECT_EQ(error, other.Path() + sep + "report.txt exists already: give a new session folder");
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
  std::FILE *records = std::fopen(readers[0].resultPath.c_str(), "w");
  std::fputs("100.00%,   5,   5,", records);
  std::fclose(records);
  // The station makes every result file; one its tool could not write to
  // stays empty and is no input.
  std::fclose(std::fopen(readers[1].resultPath.c_str(), "w"));
  readers[0].progress.runs = 1;
  readers[1].progress.runs = 2;
  std::string page = dir.Path() + platform::PathSeparator() + "report.html";
  std::string junit = dir.Path() + platform::PathSeparator() + "junit.xml";
  EXPECT_EQ(ReportArguments(readers, ReportSettings{"99", "", dir.Path()}),
            (std::vector<std::string>{"--by", "file", "--require", "99", "--compare", "--html",
                                      page, "--junit", junit, "--", readers[0].resultPath,
                                      readers[0].logPath, readers[1].logPath}));
  readers[1].progress.runs = 0;
  EXPECT_EQ(
      ReportArguments(readers, ReportSettings{"", "Soak 7", dir.Path()}),
      (std::vector<std::string>{"--by", "file", "--html", page, "--junit", junit, "--title=Soak 7",
                                "--", readers[0].resultPath, readers[0].logPath}));
  // The longest list the session can need: every reader's files.
  std::vector<std::string> all = ReportArguments(readers, ReportSettings{"", "", dir.Path()}, true);
  EXPECT_EQ(
      std::vector<std::string>(all.end() - 6, all.end()),
      (std::vector<std::string>{readers[0].resultPath, readers[0].logPath, readers[1].resultPath,
                                readers[1].logPath, readers[2].resultPath, readers[2].logPath}));
}

}  // namespace
