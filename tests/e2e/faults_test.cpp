// Hostile R/Ws, signals and an unwritable result file, end to end: brimlet
// against the simulator (or a pseudo-terminal the test plays), checking the
// exit status, the console, the result file, the close command and the
// terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/end_to_end.h"
#include "tests/support/process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_rw.h"
#include "tests/support/sim_process.h"
#include "tests/support/terminal_session.h"
#include "tests/support/text_files.h"

namespace {

constexpr int kGenerousMs = 60000;

std::string Brimlet() { return BinDir() + "/brimlet"; }

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FaultMatrixTest, BabblingReaderFailsItsAttemptsAndTheRunEnds) {
  SimProcess sim({"--fault=babble@2"});
  std::string file = ScratchPath("babble.csv");
  RunResult r =
      RunProgram(Brimlet(), {"c", sim.Path(), "t", "4", "f", file, "at", "2000", "rt", "2000"}, "",
                 kGenerousMs);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBrimletBanner + "oXXX    [  1/  4]  25%\n(TOTAL) [   1/   4] ...  25.00%\n\n");
  EXPECT_EQ(ReadFile(file), " 25.00%,   1,   4,");
}

// A stop during the babble: the close command goes out at once, its ACK
// wait fails on the noise at once, and the port is closed right after. The
// R/W must still hear the close. Whether it does was a matter of
// microseconds (which side ran first), so one pass proves little: the stop
// is repeated, each on a fresh simulator.
TEST(FaultMatrixTest, CloseCommandReachesABabblingReader) {
  constexpr int kRepetitions = 20;
  int heard = 0;
  for (int i = 0; i < kRepetitions; ++i) {
    SimProcess sim({"--fault=babble@4"});
    ChildProcess tool(Brimlet(), {"c", sim.Path(), "at", "2000", "rt", "2000"});
    ASSERT_TRUE(sim.WaitForCommands("poll", 4, kGenerousMs));
    tool.Signal(SIGINT);
    ASSERT_EQ(tool.Wait(30000), 0);
    // Once the tool has ended, the close is on its way or lost for good.
    if (sim.WaitForCommands("close", 1, 5000)) ++heard;
  }
  EXPECT_EQ(heard, kRepetitions);
}

// At the orderly end the close command goes out to an R/W whose input does
// not fall quiet, after the bounded drain: the R/W may still take it. Here
// the noise is just more than the drain takes, so that the close command's
// ACK wait then finds nothing and the test has the time to read it.
TEST(FaultMatrixTest, CloseCommandGoesOutAfterTheBoundedDrain) {
  PtyPair pty;
  ChildProcess tool(Brimlet(), {"c", pty.SlavePath(), "t", "1", "at", "2000", "rt", "2000"});
  ASSERT_EQ(pty.Read(11, kGenerousMs).size(), 11u);  // the open command
  pty.Write(AckAndResponse({0x63, 0x00}));
  ASSERT_EQ(pty.Read(14, kGenerousMs).size(), 14u);  // the poll
  Bytes answerAndNoise = AckAndResponse({0x5D, 0x00});
  answerAndNoise.insert(answerAndNoise.end(), 4097, 0x55);
  pty.Write(answerAndNoise);
  EXPECT_EQ(Hex(pty.Read(8, kGenerousMs)), Hex(FrameOf({0x54})));
  EXPECT_EQ(tool.Wait(30000), 0);
}

// A stop while the reconnection waits for the R/W's answer is a stop: the
// log names the cut exchange "stopped" and the signal as the reason, and the
// tool ends in order. Without the signal this reconnection succeeds: every
// byte of the trickle comes well within the open command's time-outs.
TEST(FaultMatrixTest, StopDuringReconnectionIsAStopNotAFailure) {
  SimProcess sim({"--fault=trickle=250@c2"});
  std::string log = ScratchPath("reconnect.log");
  std::remove(log.c_str());
  ChildProcess tool(Brimlet(), {"c", sim.Path(), "log", log, "at", "2000", "rt", "2000"});
  ASSERT_TRUE(sim.WaitForCommands("open", 2, kGenerousMs));
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(30000), 0);
  std::string events = ReadFile(log);
  EXPECT_NE(events.find("\"ev\":\"connect\""), std::string::npos) << events;
  std::size_t reconnect = events.rfind("\"ev\":\"connect\"");
  std::string connect = events.substr(reconnect, events.find('\n', reconnect) - reconnect);
  EXPECT_NE(connect.find("\"failure\":\"stopped\""), std::string::npos) << connect;
  EXPECT_NE(events.find("\"ev\":\"stop\",\"reason\":\"signal\""), std::string::npos) << events;
  EXPECT_EQ(events.find("reconnection failed"), std::string::npos) << events;
}

// Answers that go wrong in transit each fail their attempt; the run, its
// record and the close command are unharmed. The late answer comes last so
// that it disturbs no other attempt.
TEST(FaultMatrixTest, SecuredReaderFaultsFailSingleAttempts) {
  SimProcess sim({"--reader=secured", "--fault=garbage@2", "--fault=second-ack@3",
                  "--fault=bad-checksum@4", "--fault=wrong-mac@5",
                  "--fault=response-delay=3000@6"});
  std::string file = ScratchPath("secured.csv");
  RunResult r = RunProgram(BinDir() + "/kestrow",
                           {"c", sim.Path(), "t", "6", "f", file, "at", "2000", "rt", "1000"}, "",
                           kGenerousMs);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            kKestrowBanner + "oXXXX.    [  1/  6]  16%\n(TOTAL) [   1/   6] ...  16.67%\n\n");
  EXPECT_EQ(ReadFile(file), " 16.67%,   1,   6,");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            "get reader id,verify reader,confirm session key,poll,poll,poll,poll,poll,poll,close");
}

// The R/W goes away in the middle of a run and another takes its place:
// the rest of the run fails, its record is written, and the reconnection
// after it polls the new R/W.
TEST(FaultMatrixTest, PortThatGoesAwayAndComesBack) {
  std::string link = ScratchPath("rw");
  auto first = std::make_unique<SimProcess>(std::vector<std::string>{});
  ASSERT_EQ(symlink(first->Path().c_str(), link.c_str()), 0);
  std::string file = ScratchPath("away.csv");
  ChildProcess tool(Brimlet(), {"c", link, "f", file, "at", "2000", "rt", "2000"});
  ASSERT_TRUE(first->WaitForCommands("poll", 5, kGenerousMs));
  SimProcess second({});
  std::string next = ScratchPath("rw.next");
  ASSERT_EQ(symlink(second.Path().c_str(), next.c_str()), 0);
  ASSERT_EQ(rename(next.c_str(), link.c_str()), 0);
  first.reset();
  ASSERT_TRUE(second.WaitForCommands("poll", 3, kGenerousMs));
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(30000), 0);
  std::string out = tool.Output();
  std::size_t firstTotal = out.find("(TOTAL)");
  ASSERT_NE(firstTotal, std::string::npos);
  std::string firstRun = out.substr(kBrimletBanner.size(), firstTotal - kBrimletBanner.size());
  int cards = static_cast<int>(std::count(firstRun.begin(), firstRun.end(), 'o'));
  EXPECT_GE(cards, 4) << out;  // the answer to the fifth may be lost with the R/W
  char firstRecord[64];
  std::snprintf(firstRecord, sizeof firstRecord, "%6.2lf%%,%4d, 100,", cards * 1.0, cards);
  std::size_t secondStart = out.find("\n\n", firstTotal) + 2;
  std::size_t secondTotal = out.find("(TOTAL)", secondStart);
  ASSERT_NE(secondTotal, std::string::npos);
  StoppedRun run{};
  ASSERT_TRUE(ReadStoppedRun(out.substr(secondStart, secondTotal - secondStart), &run)) << out;
  char secondRecord[64];
  std::snprintf(secondRecord, sizeof secondRecord, "%6.2lf%%,%4d,%4d,", run.rate, run.successes,
                run.attempts);
  EXPECT_EQ(ReadFile(file), std::string(firstRecord) + secondRecord);
  std::string commands = CommandSequence(second.StopAndTrace());
  EXPECT_EQ(commands.substr(0, 10), "open,poll,");
  EXPECT_EQ(commands.substr(commands.size() - 6), ",close");
}

// Waits that could last for ever, or for minutes, end at a stop request:
// the attempt fails, the run is reported and recorded, the R/W is closed.
TEST(FaultMatrixTest, StopEndsUnlimitedAndTricklingWaits) {
  const struct {
    const char *name;
    std::vector<std::string> sim;
    std::vector<std::string> tool;
    const char *marks;  // what the stopped attempt may show
  } kCases[] = {
      // Both waits unlimited: a stop in the ACK wait fails the exchange (X),
      // one in the response wait reads as no response, no card (.).
      {"silent after the ACK, at 0 rt 0", {"--fault=no-response@2"}, {"rt", "0", "at", "0"}, ".X"},
      {"no ACK, at 0", {"--fault=no-ack@2"}, {"at", "0", "rt", "5000"}, "X"},
      {"a byte every 3 s", {"--fault=trickle=3000@2"}, {"rt", "10000", "at", "10000"}, "X"},
  };
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(c.sim);
    std::string file = ScratchPath("stop.csv");
    std::remove(file.c_str());
    ChildProcess tool(Brimlet(), Concat({"c", sim.Path(), "f", file}, c.tool));
    ASSERT_TRUE(sim.WaitForCommands("poll", 2, kGenerousMs));
    tool.Signal(SIGINT);
    ASSERT_EQ(tool.Wait(30000), 0);
    const std::string &out = tool.Output();
    const std::string total = "(TOTAL) [   1/   2] ...  50.00%\n\n";
    ASSERT_EQ(out.size(), kBrimletBanner.size() + 2 + total.size()) << out;
    EXPECT_EQ(out.substr(0, kBrimletBanner.size() + 1), kBrimletBanner + "o");
    EXPECT_NE(std::string(c.marks).find(out[kBrimletBanner.size() + 1]), std::string::npos) << out;
    EXPECT_EQ(out.substr(kBrimletBanner.size() + 2), total);
    EXPECT_EQ(ReadFile(file), " 50.00%,   1,   2,");
    EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,poll,poll,close");
  }
}

// A lost terminal, a broken standard output and a termination request all
// end polling in order.
// (A broken standard output is no signal: the tool ignores SIGPIPE and
// sees the failed write, tool_output_test.cpp.)
TEST(SignalTest, HangUpAndTerminationEndPollingInOrder) {
  for (int signalNumber : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(signalNumber);
    SimProcess sim({});
    std::string file = ScratchPath("signal.csv");
    std::remove(file.c_str());
    ChildProcess tool(Brimlet(), {"c", sim.Path(), "f", file, "at", "2000", "rt", "2000"});
    ASSERT_TRUE(sim.WaitForCommands("poll", 2, kGenerousMs));
    tool.Signal(signalNumber);
    ASSERT_EQ(tool.Wait(30000), 0);
    ExpectOrderlyEnd(tool.Output(), kBrimletBanner, file, true);
    std::string commands = CommandSequence(sim.StopAndTrace());
    EXPECT_EQ(commands.substr(commands.size() - 6), ",close");
  }
}

TEST(ResultFileTest, WriteFailureIsReportedOnceAndFailsTheExitStatus) {
  SimProcess sim({});
  RunResult r = RunProgram(
      Brimlet(), {"c", sim.Path(), "t", "3", "f", "/dev/full", "at", "2000", "rt", "2000"}, "",
      kGenerousMs);
  EXPECT_EQ(r.out, kBrimletBanner + "ooo    [  3/  3] 100%\n(TOTAL) [   3/   3] ... 100.00%\n\n");
  EXPECT_EQ(r.err, "Result file [/dev/full]: No space left on device\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,poll,poll,poll,close");
}

// Keeps a read in progress: one byte every 200 ms until stopped.
class Trickler {
 public:
  explicit Trickler(PtyPair &pty)
      : thread_([this, &pty] {
          for (int i = 0; i < 300 && !stop_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pty.Write({0x01});
          }
        }) {}
  ~Trickler() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SignalTest, InterruptWhileConnectingReleasesThePort) {
  PtyPair pty;
  ChildProcess tool(Brimlet(), {"c", pty.SlavePath()});
  ASSERT_EQ(pty.Read(11, kGenerousMs).size(), 11u);  // the open command
  // The ACK, then an answer that keeps coming: the tool is still connecting.
  pty.Write({0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x01});
  Trickler trickle(pty);
  tool.Signal(SIGINT);
  EXPECT_EQ(tool.Wait(30000), 128 + SIGINT);
  int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0) << "the port is still locked";
  int locked = -1;
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &locked), 0);
  EXPECT_EQ(locked, 0);
  close(fd);
}

// A job started in the background polls without touching the terminal, and
// keys typed for the foreground do not stop it.
TEST(TerminalTest, BackgroundJobPollsWithoutTouchingTheTerminal) {
  SimProcess sim({});
  std::string report = RunInTerminal(
      Brimlet(), {"c", sim.Path(), "t", "5", "at", "2000", "rt", "2000"}, false,
      [](TerminalTool &tool) {
        tool.Type("q\n");
        int exit = tool.WaitExit(kGenerousMs);
        if (exit != 0) return "exit " + std::to_string(exit);
        if (tool.KeyMode()) return std::string("terminal changed");
        if (tool.Output() !=
            kBrimletBanner + "ooooo    [  5/  5] 100%\n(TOTAL) [   5/   5] ... 100.00%\n\n") {
          return "output: " + tool.Output();
        }
        return std::string();
      });
  EXPECT_EQ(report, "");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,poll,poll,poll,poll,poll,close");
}

// Ctrl-Z gives the terminal back while the job is stopped; `fg` (SIGCONT)
// takes it again; Ctrl-C then ends polling in order with the terminal back.
TEST(TerminalTest, SuspendAndContinueRestoreAndPrepareTheTerminal) {
  SimProcess sim({});
  std::string report = RunInTerminal(Brimlet(), {"c", sim.Path()}, true, [](TerminalTool &tool) {
    if (!tool.WaitForKeyMode(true, kGenerousMs)) return std::string("key mode never set");
    kill(tool.Pid(), SIGTSTP);
    if (!tool.WaitStopped(kGenerousMs)) return std::string("did not stop");
    if (tool.KeyMode()) return std::string("terminal left in key mode while stopped");
    kill(tool.Pid(), SIGCONT);
    if (!tool.WaitForKeyMode(true, kGenerousMs)) return std::string("key mode not set again");
    if (!tool.WaitForOutput("oo", kGenerousMs)) return std::string("no polling");
    kill(tool.Pid(), SIGINT);
    int exit = tool.WaitExit(kGenerousMs);
    if (exit != 0) return "exit " + std::to_string(exit);
    if (tool.KeyMode()) return std::string("terminal left in key mode");
    return std::string();
  });
  EXPECT_EQ(report, "");
}

TEST(TerminalTest, QuitSignalEndsWithTheTerminalRestored) {
  SimProcess sim({});
  std::string report = RunInTerminal(Brimlet(), {"c", sim.Path()}, true, [](TerminalTool &tool) {
    if (!tool.WaitForKeyMode(true, kGenerousMs)) return std::string("key mode never set");
    kill(tool.Pid(), SIGQUIT);
    int exit = tool.WaitExit(kGenerousMs);
    if (exit != 128 + SIGQUIT) return "exit " + std::to_string(exit);
    if (tool.KeyMode()) return std::string("terminal left in key mode");
    return std::string();
  });
  EXPECT_EQ(report, "");
}

}  // namespace
