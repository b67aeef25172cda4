// What a long soak meets, end to end: brimlet against a simulator whose
// terminal goes away (--unplug) and comes back or not.
//
// When the terminal goes is the simulator's clock's business, where the tool
// is in its run is the scheduler's: the test holds the tool (SIGSTOP) in the
// middle of its first run before the terminal goes, and lets it go on
// (SIGCONT) once the simulator has done what the test is about. The tool
// then meets the failed port in its run, however loaded the machine.
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/end_to_end.h"
#include "tests/support/event_fields.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

constexpr int kGenerousMs = 60000;
// Late enough that the tool has started and polled 30 times on a loaded
// machine; the test fails (it does not pass by chance) when it has not.
constexpr char kUnplugAt[] = "4";
const std::string kGone = "-- the terminal went away (unplug)\n";
const std::string kBack = "-- a new terminal came back";

std::string Brimlet() { return BinDir() + "/brimlet"; }

// Holds the tool in its first run, lets the simulator reach `waitFor` in its
// trace, and lets the tool go on.
void HoldToolWhile(ChildProcess &tool, SimProcess &sim, const std::string &waitFor) {
  ASSERT_TRUE(sim.WaitForCommands("poll", 30, kGenerousMs));
  tool.Signal(SIGSTOP);
  ASSERT_EQ(sim.TraceCount(kGone), 0) << "the tool was too slow to reach its 30th attempt";
  ASSERT_TRUE(sim.WaitForTrace(waitFor, 1, kGenerousMs));
  tool.Signal(SIGCONT);
}

// The console text of a run of 100 attempts whose first `cards` found a
// card and whose port then failed, with standard error's line `said` where
// it shows on one terminal with the marks: on a line of its own.
std::string LostRun(int cards, const std::string &said) {
  std::string text;
  for (int n = 1; n <= 100; ++n) {
    if (n == cards + 1 && !said.empty()) text += (cards % 50 != 0 ? "\n" : "") + said;
    text += n <= cards ? "o" : "X";
    if (n % 50 == 0) {
      int successes = std::max(0, std::min(50, cards - (n - 50)));
      char block[32];
      std::snprintf(block, sizeof block, "    [%3d/ 50] %3d%%\n", successes, successes * 2);
      text += block;
    }
  }
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4d/ 100] ... %6.2f%%\n\n", cards, cards * 1.0);
  return text + total;
}

// The events of one kind in the log.
std::vector<EventFields> EventsOf(const std::string &log, const std::string &kind) {
  std::vector<EventFields> found;
  for (EventFields &event : EventsIn(ReadFile(log))) {
    if (event["ev"] == kind) found.push_back(event);
  }
  return found;
}

// The terminal goes in the middle of a run and is back before its end: the
// rest of the run fails on the port (said once on standard error), and the
// reconnection after it polls the new terminal under the same link.
TEST(SoakTest, UnpluggedReaderThatComesBackIsReconnectedAfterTheRun) {
  ScratchDir dir;
  std::string link = dir / "rw";
  std::string log = dir / "events.log";
  SimProcess sim({"--link=" + link, std::string("--unplug=") + kUnplugAt + ",1"});
  ChildProcess tool(Brimlet(), {"c", link, "log", log, "at", "2000", "rt", "2000"});
  HoldToolWhile(tool, sim, kBack);
  ASSERT_TRUE(sim.WaitForCommands("open", 2, kGenerousMs)) << tool.Errors();
  int polls = sim.TraceCount("  poll\n");
  ASSERT_TRUE(sim.WaitForCommands("poll", polls + 3, kGenerousMs));
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(30000), 0) << tool.Errors();

  const std::string said = "The R/W on " + link + " stopped answering: ";
  ASSERT_EQ(tool.Errors().rfind(said, 0), 0u) << tool.Errors();
  EXPECT_EQ(std::count(tool.Errors().begin(), tool.Errors().end(), '\n'), 1) << tool.Errors();
  const std::string &out = tool.Output();
  std::size_t firstEnd = out.find("\n\n", kBrimletBanner.size()) + 2;
  std::string firstRun = out.substr(kBrimletBanner.size(), firstEnd - kBrimletBanner.size());
  int cards = static_cast<int>(std::count(firstRun.begin(), firstRun.end(), 'o'));
  EXPECT_GE(cards, 29);  // the answer to the 30th poll may be lost with the terminal
  EXPECT_EQ(firstRun, LostRun(cards, "")) << "standard output keeps its bytes";
  EXPECT_EQ(out.substr(firstEnd, 3), "ooo") << out;

  std::vector<EventFields> attempts = EventsOf(log, "attempt");
  ASSERT_GT(attempts.size(), 100u);
  EXPECT_EQ(attempts[cards]["failure"], "port error");
  EXPECT_EQ(attempts[99]["failure"], "port error");
  EXPECT_EQ(attempts[100]["failure"], "none");
  std::vector<EventFields> reconnects = EventsOf(log, "reconnect");
  ASSERT_EQ(reconnects.size(), 1u);
  EXPECT_EQ(reconnects[0]["ok"], "true");
  EXPECT_EQ(EventsOf(log, "stop").at(0)["reason"], "signal");
}

// The terminal stays away past the run's end: the reconnection fails, and
// the tool says why (the connection's own reason) and ends with exit status
// 1. Standard output and error go to one pipe here, as to one terminal: the
// port's failure stands on a line of its own among the marks.
TEST(SoakTest, ReaderThatStaysAwayEndsTheToolWithItsCause) {
  ScratchDir dir;
  std::string link = dir / "rw";
  std::string log = dir / "events.log";
  SimProcess sim({"--link=" + link, std::string("--unplug=") + kUnplugAt + ",600"});
  ChildProcess tool("/bin/sh", {"-c", "exec \"$0\" \"$@\" 2>&1", Brimlet(), "c", link, "log", log,
                                "at", "2000", "rt", "2000"});
  HoldToolWhile(tool, sim, kGone);
  ASSERT_EQ(tool.Wait(kGenerousMs), 1) << tool.Output();

  const std::string &out = tool.Output();
  const std::string said = "The R/W on " + link + " stopped answering: ";
  std::size_t at = out.find(said);
  ASSERT_NE(at, std::string::npos) << out;
  std::string line = out.substr(at, out.find('\n', at) + 1 - at);
  int cards =
      static_cast<int>(std::count(out.begin() + static_cast<std::ptrdiff_t>(kBrimletBanner.size()),
                                  out.begin() + static_cast<std::ptrdiff_t>(at), 'o'));
  EXPECT_EQ(out, kBrimletBanner + LostRun(cards, line) + "Cannot open " + link +
                     ": No such file or directory\n");
  EXPECT_EQ(EventsOf(log, "reconnect").at(0)["ok"], "false");
  EXPECT_EQ(EventsOf(log, "stop").at(0)["reason"], "reconnection failed");
}

}  // namespace
