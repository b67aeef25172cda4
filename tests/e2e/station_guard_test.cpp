// rwstation against a hostile setting: links planted in its session folder,
// terminal escapes in a plan, stations started in the same second, a
// standard output that goes away, too few file descriptors, no PATH, a
// folder named like an option, plans the system could not run, terminals of
// one row or 80 columns.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
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

// A folder holding links named like the station's files is refused, and
// nothing is created where the links point.
TEST(StationGuardTest, LinksInTheSessionFolderAreRefusedNeverFollowed) {
  ScratchDir dir;
  SimProcess sim({}, false);
  std::string folder = dir / "s";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(symlink("../x.log", (folder + "/a.log").c_str()), 0);
  ASSERT_EQ(symlink("../x.txt", (folder + "/a.txt").c_str()), 0);
  RunResult r =
      RunProgram(Station(), {"--session", folder, "--reader", "a brimlet c " + sim.Path() + " t 5"},
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(r.err, "rwstation: " + folder + "/a.txt exists already: give a new session folder\n");
  EXPECT_EQ(ReadFile(dir / "x.log"), "<missing>");
  EXPECT_EQ(ReadFile(dir / "x.txt"), "<missing>");
  // The page's name too.
  std::string other = dir / "t";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(symlink("../page.html", (other + "/report.html").c_str()), 0);
  r = RunProgram(Station(), {"--session", other, "--reader", "a brimlet c " + sim.Path() + " t 5"},
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(ReadFile(dir / "page.html"), "<missing>");
}

// Escapes in a port name retitled the terminal and cleared the screen.
const char kEscapes[] = "\x1b]2;pwned\x07\x1b[2J";

bool HasRawEscape(const std::string &text) {
  return text.find("\x1b]") != std::string::npos || text.find("\x1b[2J") != std::string::npos ||
         text.find('\x07') != std::string::npos;
}

TEST(StationGuardTest, EscapesFromAPlanReachNoTerminal) {
  ScratchDir dir;
  SimProcess sim({}, false);
  std::string port = dir / (std::string("p") + kEscapes + "q");
  std::vector<std::string> args{"--reader", "good brimlet c " + sim.Path() + " t 5", "--reader",
                                "evil brimlet c " + port + " t 5"};
  std::vector<std::string> plain = args;
  plain.insert(plain.begin(), {"--session", dir / "plain"});
  RunResult r = RunProgram(Station(), plain, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_FALSE(HasRawEscape(r.out)) << r.out;
  EXPECT_FALSE(HasRawEscape(r.err)) << r.err;
  // Shown, made visible: the started line, the cause, the final list.
  std::string visible = "p\\x1B]2;pwned\\x07\\x1B[2Jq";
  EXPECT_NE(r.out.find("evil started: brimlet c " + dir.Path() + "/" + visible), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("evil failed (cannot open " + dir.Path() + "/" + visible), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("rwstation: evil failed: cannot open " + dir.Path() + "/" + visible),
            std::string::npos)
      << r.out;
  // The live view.
  std::vector<std::string> terminal = args;
  terminal.insert(terminal.begin(), {"--session", dir / "terminal"});
  TerminalRun run(Station(), terminal);
  ASSERT_GT(run.pid, 0);
  EXPECT_EQ(run.WaitExit(kGenerousMs), 1) << run.screen;
  EXPECT_NE(run.screen.find("failed (cannot open"), std::string::npos) << run.screen;
  EXPECT_FALSE(HasRawEscape(run.screen)) << run.screen;
  // An error message about the plan itself.
  r = RunProgram(Station(), {"--session", dir / "refused", "--reader",
                             std::string("x") + kEscapes + " brimlet c y"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(HasRawEscape(r.err)) << r.err;
  EXPECT_NE(r.err.find("reader name \"x\\x1B]2;pwned"), std::string::npos) << r.err;
}

std::string DefaultFolderName(std::time_t at) {
  char name[64];
  std::strftime(name, sizeof name, "station-%Y%m%d-%H%M%S", std::localtime(&at));
  return name;
}

// The default folder is made by the station itself: a name that exists in
// any form (here a link to nothing, for every second the station may start
// in) is never taken, and stations started at once never share a folder.
TEST(StationGuardTest, TheDefaultFolderIsNeverShared) {
  ScratchDir dir;
  SimProcess sim({}, false);
  std::time_t now = std::time(nullptr);
  for (int s = -2; s <= 60; ++s)
    ASSERT_EQ(symlink("nowhere", (dir / DefaultFolderName(now + s)).c_str()), 0);
  RunResult r = RunProgram(
      "/bin/sh",
      InFolder(dir.Path(), "", Station(), {"--reader", "a brimlet c " + sim.Path() + " t 5"}), "",
      kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string first = r.out.substr(0, r.out.find('\n'));
  ASSERT_EQ(first.rfind("rwstation: session folder station-", 0), 0u) << r.out;
  std::string folder = first.substr(first.rfind(' ') + 1);
  EXPECT_EQ(folder.substr(folder.size() - 2), "-2") << folder;
  EXPECT_NE(ReadFile(dir / (folder + "/report.html")), "<missing>");
  EXPECT_EQ(ReadFile(dir / "nowhere"), "<missing>");
  // Three at once, in a folder of their own.
  ScratchDir together;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::unique_ptr<ChildProcess>> stations;
  for (int i = 0; i < 3; ++i) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{}, false));
    stations.push_back(std::make_unique<ChildProcess>(
        "/bin/sh", InFolder(together.Path(), "", Station(),
                            {"--reader", "a brimlet c " + sims.back()->Path() + " t 5"})));
  }
  std::vector<std::string> folders;
  for (auto &station : stations) {
    EXPECT_EQ(station->Wait(kGenerousMs), 0) << station->Output() << station->Errors();
    std::string line = station->Output().substr(0, station->Output().find('\n'));
    folders.push_back(line.substr(line.rfind(' ') + 1));
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 3; ++j) EXPECT_NE(folders[i], folders[j]);
    std::string log = ReadFile(together / (folders[i] + "/a.log"));
    EXPECT_EQ(CountOf(log, "\"ev\":\"start\""), 1) << folders[i];
    EXPECT_NE(ReadFile(together / (folders[i] + "/report.html")), "<missing>");
  }
}

// A standard output read by `head -1`: the session goes on, the page and
// the report's text are written, and the station says where the verdict
// is, with a failing status.
TEST(StationGuardTest, AStandardOutputThatGoesAwayLosesNoVerdict) {
  ScratchDir dir;
  SimProcess sim({}, false);
  std::string folder = dir / "s";
  RunResult r =
      RunProgram("/bin/bash",
                 {"-c", "\"$@\" | head -1; echo \"status ${PIPESTATUS[0]}\" >&2", "bash", Station(),
                  "--session", folder, "--reader", "a brimlet c " + sim.Path() + " t 100"},
                 "", kGenerousMs);
  EXPECT_EQ(r.out, "rwstation: session folder " + folder + "\n");
  EXPECT_NE(r.err.find("rwstation: cannot write the standard output: Broken pipe; the verdict is "
                       "in " +
                       folder + "/report.txt\nstatus 1\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(ReadFile(folder + "/report.html"), "<missing>");
  EXPECT_NE(ReadFile(folder + "/report.txt").find("\na "), std::string::npos)
      << ReadFile(folder + "/report.txt");
}

// Twelve readers under a limit of twelve descriptors: the station holds none
// of its own while they run, so every reader runs and is judged by what it
// recorded. Under a limit too low to start anything, the message names
// the program that could not start.
TEST(StationGuardTest, FewFileDescriptorsAreEnoughAndTheirLackIsNamed) {
  ScratchDir dir;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> args{"--session", dir / "s"};
  for (int i = 0; i < 12; ++i) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{}, false));
    args.insert(args.end(), {"--reader", "r" + std::to_string(i) + " brimlet c " +
                                             sims.back()->Path() + " t 5"});
  }
  // Only the three standard descriptors, as from a shell: what this test
  // process holds open (the simulators' pipes) is closed first.
  const std::string kOnlyStandard =
      "for fd in $(ls /proc/$$/fd); do [ \"$fd\" -gt 2 ] && eval \"exec $fd>&-\"; done "
      "2>/dev/null; ";
  RunResult r =
      RunProgram("/bin/bash", InFolder(dir.Path(), kOnlyStandard + "ulimit -n 12", Station(), args),
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.out, " stopped (single run done): 1 runs, 5/5,"), 12) << r.out;
  EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
  EXPECT_NE(ReadFile(dir / "s/report.html"), "<missing>");
  args[1] = dir / "starved";
  r = RunProgram("/bin/bash", InFolder(dir.Path(), kOnlyStandard + "ulimit -n 5", Station(), args),
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("r0 failed: cannot start: " + BinDir() + "/brimlet: Too many open files"),
            std::string::npos)
      << r.out;
  EXPECT_EQ((r.out + r.err).find("status -1"), std::string::npos) << r.out << r.err;
}

// A copy of the station in a folder of its own, with brimlet beside it and
// no rwreport; the working folder holds a planted rwreport.
TEST(StationGuardTest, WithoutAPathNothingIsTakenFromTheWorkingFolder) {
  ScratchDir dir;
  std::string bin = dir / "bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  ASSERT_EQ(RunProgram("/bin/cp", {Station(), bin + "/rwstation"}).exitCode, 0);
  ASSERT_EQ(RunProgram("/bin/cp", {BinDir() + "/brimlet", bin + "/brimlet"}).exitCode, 0);
  std::string work = dir / "work";
  ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
  std::FILE *planted = std::fopen((work + "/rwreport").c_str(), "w");
  std::fputs("#!/bin/sh\ntouch \"$(dirname \"$0\")/planted-ran\"\n", planted);
  std::fclose(planted);
  ASSERT_EQ(chmod((work + "/rwreport").c_str(), 0700), 0);
  SimProcess sim({}, false);
  int session = 0;
  for (const char *setup : {"unset PATH", "PATH=.:", "PATH="}) {
    RunResult r = RunProgram("/bin/sh",
                             InFolder(work, setup, bin + "/rwstation",
                                      {"--session", dir / ("s" + std::to_string(++session)),
                                       "--reader", "a brimlet c " + sim.Path() + " t 5"}),
                             "", kGenerousMs);
    EXPECT_EQ(ReadFile(work + "/planted-ran"), "<missing>") << setup << r.out << r.err;
    EXPECT_NE(r.out.find("a stopped (single run done)"), std::string::npos) << r.out;
  }
}

// rwreport must not take a file of a folder named "-s" for an option.
TEST(StationGuardTest, AFolderNamedLikeAnOptionKeepsItsVerdict) {
  ScratchDir dir;
  SimProcess sim({}, false);
  RunResult r =
      RunProgram("/bin/sh",
                 InFolder(dir.Path(), "", Station(),
                          {"--session", "-s", "--reader", "a brimlet c " + sim.Path() + " t 5"}),
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\nfile "), std::string::npos) << r.out;  // rwreport's table
  EXPECT_NE(r.out.find("rwstation: session folder ./-s\n"), std::string::npos) << r.out;
  EXPECT_NE(ReadFile(dir / "-s/report.html"), "<missing>");
}

// Plans the system could not run are refused before anything starts (no
// folder, exit status 2), each mistake naming its line.
TEST(StationGuardTest, PlansTheSystemCouldNotRunAreRefusedBeforehand) {
  ScratchDir dir;
  std::string folder = dir / "s";
  // A line of 1.2 MB.
  std::string longLine = "a brimlet c /dev/x";
  while (longLine.size() < 1200000) longLine += " d 1";
  std::string plan = WritePlan(dir, longLine + "\n");
  RunResult r = RunProgram(Station(), {"--session", folder, plan}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("rwstation: " + plan + " line 1: a line of " +
                            std::to_string(longLine.size()) + " characters (at most 8192)\n",
                        0),
            0u)
      << r.err.substr(0, 200);
  // A NUL byte inside a word.
  plan = dir / "nul-plan";
  std::FILE *file = std::fopen(plan.c_str(), "wb");
  std::string text = std::string("# ok\na brimlet c /dev/x") + '\0' + "y t 5\n";
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  r = RunProgram(Station(), {"--session", folder, plan}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(plan + " line 2: a NUL byte after 18 characters"), std::string::npos)
      << r.err;
  // The report over many readers with long paths, under a small limit of
  // the argument list (a stack of 512 KiB gives 128 KiB).
  std::string longFolder = dir / std::string(250, 'f');
  std::string many;
  for (int i = 0; i < 300; ++i)
    many += "r" + std::to_string(i) + " brimlet c /nonexistent/p" + std::to_string(i) + "\n";
  plan = WritePlan(dir, many, "many-plan");
  r = RunProgram("/bin/sh",
                 InFolder(dir.Path(), "ulimit -s 512", Station(), {"--session", longFolder, plan}),
                 "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err.substr(0, 500);
  EXPECT_NE(r.err.find("rwstation: the report over every reader's files would be too long for one "
                       "command line: an argument list of "),
            std::string::npos)
      << r.err.substr(0, 500);
  EXPECT_EQ(ReadFile(longFolder), "<missing>");
  EXPECT_EQ(ReadFile(folder), "<missing>");
}

// A second device node of the same device (as a bind mount shows it) is the
// same port.
TEST(StationGuardTest, TheSameDeviceUnderASecondNameIsOnePort) {
  ScratchDir dir;
  SimProcess sim({}, false);
  struct stat device {};
  ASSERT_EQ(stat(sim.Path().c_str(), &device), 0);
  std::string twin = dir / "twin";
  if (mknod(twin.c_str(), S_IFCHR | 0600, device.st_rdev) != 0)
    GTEST_SKIP() << "a second device node needs root";
  RunResult r = RunProgram(
      Station(), {"--session", dir / "s", "--reader", "a brimlet c " + sim.Path() + " t 5",
                  "--reader", "b brimlet c " + twin + " t 5"});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(r.err, "rwstation: --reader 2: port " + twin +
                       " already named on --reader 1\n"
                       "rwstation: the plan is refused; no reader was started\n");
  EXPECT_EQ(ReadFile(dir / "s"), "<missing>");
}

// The screen's lines without the view's control sequences.
std::vector<std::string> ScreenLines(const std::string &screen) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < screen.size(); ++i) {
    char c = screen[i];
    if (c == '\x1b') {
      i = screen.find_first_of("ABCDHJK", i);  // the end of a cursor or erase sequence
      if (i == std::string::npos) break;
    } else if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  return lines;
}

// A terminal of one row gets one line per redraw; one of 80 columns gets
// lines of at most 79 characters with every interval whole.
TEST(StationGuardTest, TheViewFitsTheTerminal) {
  ScratchDir dir;
  SimProcess one({}, false), two({"--card=ooo.o"}, false);
  std::vector<std::string> args{"--reader", "alpha brimlet c " + one.Path() + " t 200",
                                "--reader", "beta brimlet c " + two.Path() + " t 200",
                                "--reader", "gamma brimlet c " + dir / "gone"};
  std::vector<std::string> tiny = args;
  tiny.insert(tiny.begin(), {"--session", dir / "tiny"});
  TerminalRun row(Station(), tiny, 1, 80);
  ASSERT_GT(row.pid, 0);
  EXPECT_EQ(row.WaitExit(kGenerousMs), 1) << row.screen;
  EXPECT_NE(row.screen.find("\x1b[1A"), std::string::npos);
  EXPECT_EQ(row.screen.find("\x1b[2A"), std::string::npos) << row.screen;
  std::vector<std::string> wide = args;
  wide.insert(wide.begin(), {"--session", dir / "wide"});
  TerminalRun narrow(Station(), wide, 24, 80);
  ASSERT_GT(narrow.pid, 0);
  EXPECT_EQ(narrow.WaitExit(kGenerousMs), 1) << narrow.screen;
  int rates = 0;
  for (const std::string &line : ScreenLines(narrow.screen)) {
    if (line.rfind("rwstation", 0) == 0 || line.find("  ") == std::string::npos) continue;
    if (line.rfind("file ", 0) == 0) break;  // rwreport's table
    EXPECT_LE(line.size(), 79u) << line;
    if (line.find(" % [") == std::string::npos) continue;
    ++rates;
    EXPECT_NE(line.find(']', line.find(" % [")), std::string::npos) << line;
  }
  EXPECT_GT(rates, 0) << narrow.screen;
}

// The manual names where the example plan is installed.
TEST(StationGuardTest, TheManualPointsToTheInstalledExamplePlan) {
  std::string page = ReadFile(BinDir() + "/man/rwstation.1");
  ASSERT_NE(page, "<missing>");
  EXPECT_NE(page.find("/share/doc/kestrow/station\\-example.plan"), std::string::npos);
}

}  // namespace
