// rwstation alone for a long session: an R/W unplugged and plugged in
// again (a simulator on a --link path stopped, and a new one started on
// the same path: to the tool exactly what a pulled cable is), a start that
// cannot reach the R/W yet, an R/W that never comes back, and the session
// ended by the clock.
#include <signal.h>

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

// A simulated R/W under a fixed name that can be unplugged and plugged in
// again.
class PluggableRw {
 public:
  PluggableRw(std::string link, std::vector<std::string> args)
      : link_(std::move(link)), args_(std::move(args)) {
    PlugIn();
  }
  const std::string &Path() const { return link_; }
  // The simulator ends and takes its terminal and the link with it.
  void Unplug() {
    sim_->StopAndTrace();
    sim_.reset();
  }
  // Waits until the R/W has been polled `count` times.
  bool WaitForPolls(int count) { return sim_->WaitForCommands("poll", count, kGenerousMs); }
  void PlugIn(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = args_;
    args.push_back("--link=" + link_);
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<SimProcess>(args);
  }

 private:
  std::string link_;
  std::vector<std::string> args_;
  std::unique_ptr<SimProcess> sim_;
};

// What a reader's event log holds, counted line by line.
struct LogCounts {
  int starts = 0, attempts = 0, cards = 0, portErrors = 0, runs = 0;
  std::string lastLine;
  explicit LogCounts(const std::string &log) {
    for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = log.substr(at, end - at);
      starts += CountOf(line, "\"ev\":\"start\"");
      runs += CountOf(line, "\"ev\":\"run\"");
      if (line.find("\"ev\":\"attempt\"") != std::string::npos) {
        ++attempts;
        cards += CountOf(line, "\"mark\":\"o\"");
        portErrors += CountOf(line, "\"failure\":\"port error\"");
      }
      lastLine = line;
    }
  }
};

// The figures of a reader's last plain line: "NAME STATE: R runs, S/A, ...,
// R/W lost Nx D (L)". Returns false when the line is not there.
struct EndFigures {
  long long successes = 0, attempts = 0, lossAttempts = 0;
  std::string state;
};
bool ReadEndLine(const std::string &out, const std::string &name, EndFigures *figures) {
  std::size_t at = out.size();
  std::string line;
  while (line.find(" runs, ") == std::string::npos) {
    at = at == 0 ? std::string::npos : out.rfind("\n" + name + " ", at - 1);
    if (at == std::string::npos) return false;
    line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
  }
  std::size_t colon = line.find("): ");
  if (colon == std::string::npos) return false;
  figures->state = line.substr(name.size() + 1, colon + 1 - name.size() - 1);
  int runs = 0;
  if (std::sscanf(line.c_str() + colon + 3, "%d runs, %lld/%lld", &runs, &figures->successes,
                  &figures->attempts) != 3)
    return false;
  std::size_t lost = line.find("R/W lost ");
  std::size_t open = lost == std::string::npos ? lost : line.find('(', lost);
  if (open != std::string::npos) std::sscanf(line.c_str() + open, "(%lld)", &figures->lossAttempts);
  return true;
}

// The cable is pulled in the middle of the session and put back: the tool
// loses its R/W, its reconnection fails and it ends; the station starts it
// again once the port is there, and the reader polls again. Its attempts
// without the R/W are counted apart, and its card-finding rate is the
// simulator's (4 cards in 5).
TEST(StationSoakTest, UnpluggedAndPluggedInAgainTheReaderPollsAgain) {
  ScratchDir dir;
  PluggableRw rw(dir / "rw", {"--card=oooo."});
  std::string session = dir / "session";
  ChildProcess station(Station(), {"--session", session, "--reader", "a brimlet c " + rw.Path()});
  // Pulled in the middle of the second run.
  ASSERT_TRUE(rw.WaitForPolls(130)) << station.ReadUntil("a run 1:", 0);
  rw.Unplug();
  const std::string &lost = station.ReadUntil("starting it again when", kGenerousMs);
  ASSERT_NE(lost.find("starting it again when " + rw.Path() + " is there, in 1 s at the earliest"),
            std::string::npos)
      << lost;
  // The tool's own cause, and how it ended.
  EXPECT_NE(lost.find("a lost R/W (since "), std::string::npos) << lost;
  EXPECT_NE(lost.find(", 1st time): reconnection failed, exit status "), std::string::npos) << lost;
  rw.PlugIn();
  ASSERT_TRUE(WaitForCount(station, "a run 1:", 2, kGenerousMs)) << station.Output();
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(kGenerousMs), 0) << station.Output() << station.Errors();
  const std::string &out = station.Output();
  EXPECT_NE(out.find("a started again: brimlet c " + rw.Path()), std::string::npos) << out;
  EXPECT_NE(out.find("a has its R/W again after "), std::string::npos) << out;
  EXPECT_NE(out.find("rwstation: a lost its R/W: 1x "), std::string::npos) << out;
  std::string verdict = LastLine(out);
  EXPECT_EQ(verdict.rfind(
                "rwstation: PASS: 1 of 1 reader ran, no rate required; lost their R/W: a 1x ", 0),
            0u)
      << verdict;
  EXPECT_EQ(verdict.find("gone at the end"), std::string::npos) << verdict;
  std::string log = ReadFile(session + "/a.log");
  LogCounts counts(log);
  EXPECT_EQ(counts.starts, 2);
  EXPECT_EQ(CountOf(log, "\"reason\":\"reconnection failed\""), 1);
  EXPECT_EQ(CountOf(log, "\"reason\":\"signal\""), 1);
  EXPECT_EQ(counts.lastLine.find("{\"v\":2,\"t\":"), 0u);
  EXPECT_NE(counts.lastLine.find(",\"ev\":\"close\","), std::string::npos) << counts.lastLine;
  EXPECT_GE(counts.portErrors, 1);
  // The station's last figures: card finding alone, the losses beside.
  EndFigures end;
  ASSERT_TRUE(ReadEndLine(out, "a", &end)) << out;
  EXPECT_EQ(end.state, "stopped (signal)") << out;
  EXPECT_EQ(end.attempts, counts.attempts - counts.portErrors) << out;
  EXPECT_EQ(end.successes, counts.cards) << out;
  EXPECT_EQ(end.lossAttempts, counts.portErrors) << out;
  // Each simulator counts its attempts from 1: over whole patterns 4 in 5,
  // and each of the two (cut) patterns of the tools' ends is off by one at
  // most.
  EXPECT_NEAR(static_cast<double>(end.successes), 0.8 * static_cast<double>(end.attempts), 2.0)
      << end.successes << "/" << end.attempts;
  // Every start appended to the same files.
  EXPECT_EQ(CountOf(ReadFile(session + "/a.txt"), "%,"), counts.runs);
  EXPECT_EQ(CountOf(ReadFile(session + "/a.out"), "(TOTAL)"), counts.runs);
}

// The port is back before the R/W answers: the first start again cannot
// connect, counts as still lost, and the next waits twice as long.
TEST(StationSoakTest, AStartThatCannotReachTheRwIsStillLostAndWaitsLonger) {
  ScratchDir dir;
  PluggableRw rw(dir / "rw", {});
  std::string session = dir / "session";
  ChildProcess station(Station(), {"--session", session, "--reader", "a brimlet c " + rw.Path()});
  ASSERT_NE(station.ReadUntil("a run 1:", kGenerousMs).find("a run 1:"), std::string::npos);
  rw.Unplug();
  station.ReadUntil("in 1 s at the earliest", kGenerousMs);
  rw.PlugIn({"--fault=no-ack@c1"});  // the R/W does not answer its first open command
  const std::string &again = station.ReadUntil("in 2 s at the earliest", kGenerousMs);
  EXPECT_NE(again.find("a lost R/W (since "), std::string::npos) << again;
  EXPECT_NE(again.find(", 1st time): no connection: no ACK, exit status 1; starting it again"),
            std::string::npos)
      << again;
  ASSERT_TRUE(WaitForCount(station, "a run 1:", 2, kGenerousMs)) << station.Output();
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(kGenerousMs), 0) << station.Output() << station.Errors();
  const std::string &out = station.Output();
  EXPECT_EQ(CountOf(out, "a started again: "), 2) << out;
  LogCounts counts(ReadFile(session + "/a.log"));
  EXPECT_EQ(counts.starts, 3);
  EXPECT_NE(out.find("rwstation: a lost its R/W: 1x "), std::string::npos) << out;  // one span
}

// An R/W that never comes back: with --no-retry the reader fails when its
// tool ends; so does a reader of a single run that lost its R/W midway,
// which is never started again. The station fails.
TEST(StationSoakTest, ARwLostForGoodFailsTheStation) {
  ScratchDir dir;
  PluggableRw endless(dir / "rw1", {});
  PluggableRw single(dir / "rw2", {});
  std::string session = dir / "session";
  ChildProcess station(Station(), {"--session", session, "--no-retry", "--reader",
                                   "endless brimlet c " + endless.Path(), "--reader",
                                   "single brimlet c " + single.Path() + " t 1000"});
  ASSERT_NE(station.ReadUntil("endless run 1:", kGenerousMs).find("endless run 1:"),
            std::string::npos);
  endless.Unplug();
  single.Unplug();
  EXPECT_EQ(station.Wait(kGenerousMs), 1) << station.Output() << station.Errors();
  const std::string &out = station.Output();
  EXPECT_EQ(out.find("started again"), std::string::npos) << out;
  EXPECT_NE(out.find("rwstation: endless failed: lost R/W (since "), std::string::npos) << out;
  EXPECT_NE(out.find("rwstation: single failed: lost R/W (since "), std::string::npos) << out;
  EXPECT_EQ(CountOf(ReadFile(session + "/single.log"), "\"reason\":\"single run done\""), 1);
}

// A reader whose R/W is still gone when the session ends has lost it at the
// end: it fails.
TEST(StationSoakTest, ARwGoneWhenTheSessionEndsFailsTheStation) {
  ScratchDir dir;
  PluggableRw rw(dir / "rw", {});
  ChildProcess station(Station(),
                       {"--session", dir / "session", "--reader", "a brimlet c " + rw.Path()});
  station.ReadUntil("a run 1:", kGenerousMs);
  rw.Unplug();
  station.ReadUntil("starting it again when", kGenerousMs);
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(kGenerousMs), 1) << station.Output() << station.Errors();
  const std::string &out = station.Output();
  EXPECT_NE(out.find("a failed (lost R/W (since "), std::string::npos) << out;
  EXPECT_NE(out.find("rwstation: a failed: lost R/W (since "), std::string::npos) << out;
  std::string verdict = LastLine(out);
  EXPECT_EQ(verdict.rfind(
                "rwstation: FAIL: 1 of 1 reader ran, no rate required; failed: a (lost R/W ", 0),
            0u)
      << verdict;
  EXPECT_NE(verdict.find("; lost their R/W: a 1x "), std::string::npos) << verdict;
  EXPECT_NE(verdict.find(" (gone at the end)"), std::string::npos) << verdict;
}

// The clock ends the session: every reader stops in order, as on Ctrl-C.
// (Long enough for three tools to connect on a loaded machine.)
TEST(StationSoakTest, TheDurationStopsEveryReaderInOrder) {
  ScratchDir dir;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> args{"--session", dir / "session", "--duration", "8s"};
  for (const char *name : {"r0", "r1", "r2"}) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--card=p=0.9"}, false));
    args.insert(args.end(), {"--reader", std::string(name) + " brimlet c " + sims.back()->Path()});
  }
  RunResult r = RunProgram(Station(), args, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("rwstation: the session's duration of 8s has passed\n"
                       "rwstation: stopping every reader\n"),
            std::string::npos)
      << r.out;
  for (const char *name : {"r0", "r1", "r2"}) {
    EXPECT_NE(r.out.find(std::string(name) + " stopped (signal):"), std::string::npos) << r.out;
    ExpectOrderlyFiles(dir / "session", name, "signal");
  }
  // Refused durations, before anything starts.
  for (const char *duration : {"0", "5x", "366d", "-1"}) {
    RunResult refused = RunProgram(Station(), {"--session", dir / "never", "--duration", duration,
                                               "--reader", "a brimlet c x"});
    EXPECT_EQ(refused.exitCode, 2) << duration;
    EXPECT_EQ(refused.err.rfind(std::string("rwstation: --duration ") + duration + ": ", 0), 0u)
        << refused.err;
  }
  EXPECT_EQ(ReadFile(dir / "never"), "<missing>");
}

}  // namespace
