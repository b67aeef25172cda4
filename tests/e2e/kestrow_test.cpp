// kestrow end to end: the real program against the real secured simulator,
// and the port search over a folder of pseudo-terminals.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/text_files.h"

#include <memory>

#include "tests/e2e/shared_scenarios.h"
#include "tests/support/device_tree.h"
#include "tests/support/end_to_end.h"
#include "tests/support/scratch_dir.h"

#include "link/event_log.h"

#include "tests/support/event_fields.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

namespace {

const std::string kAuthentication = "get reader id,verify reader,confirm session key,";

std::string Kestrow() { return BinDir() + "/kestrow"; }

// Runs whose figures do not depend on the ACK and response time-outs give
// them "at 2000 rt 2000", which a starved simulator cannot overrun.

// Lines of the simulator's trace that show frames from the host.
std::vector<std::string> HostFrames(const std::string &trace) {
  std::vector<std::string> frames;
  std::size_t start = 0;
  while (start < trace.size()) {
    std::size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    if (line.rfind("<- ", 0) == 0) frames.push_back(line.substr(3));
    start = end + 1;
  }
  return frames;
}

// The scenarios the Windows programs pass under Wine too
// (shared_scenarios.cpp).
INSTANTIATE_TEST_SUITE_P(Native, SharedScenarioTest, ::testing::Values(NativeRunner()),
                         RunnerName());

TEST(KestrowTest, PlainModeFramesOnTheWire) {
  SimProcess sim({"--reader=secured", "--des=off", "--card=o.", "--reader-id=0102030405060708",
                  "--session-key=1112131415161718"});
  RunResult r = RunProgram(Kestrow(), {"c", sim.Path(), "t", "2", "kagi", "off", "at", "2000"});
  EXPECT_EQ(r.out, kKestrowBanner + "o.    [  1/  2]  50%\n(TOTAL) [   1/   2] ...  50.00%\n\n");
  std::vector<std::string> frames = HostFrames(sim.StopAndTrace());
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0], "00 00 00  get reader id");
  EXPECT_EQ(frames[1], "02 00 00 01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 00  verify reader");
  EXPECT_EQ(frames[2],
            "04 00 00 01 02 03 04 05 06 07 08 11 12 13 14 15 16 17 18  confirm session key");
  EXPECT_EQ(frames[3], "8C 02 00 00 00 00 00 00 00 01 F4 00 01 06 00 FF FF 00 00  poll");
  EXPECT_EQ(frames[4], "8C 05 00 00 00 00 00 00 00 01 F4 00 01 06 00 FF FF 00 00  poll");
  EXPECT_EQ(frames[5], "06 08 00 00 00 00 00 00 00  close");
}

TEST(KestrowTest, WrongKeysOrModeFailTheConnection) {
  SimProcess sim({"--reader=secured"});
  const std::vector<std::vector<std::string>> cases = {
      {"ka", "0123456789ABCDEF"}, {"kb", "0123456789ABCDEF"}, {"kagi", "off"}};
  for (const auto &extra : cases) {
    std::vector<std::string> args = {"c", sim.Path(), "t", "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = RunProgram(Kestrow(), args);
    EXPECT_EQ(r.out, kKestrowBanner + "Reader/Writer Error !!\n") << extra[0];
    EXPECT_EQ(r.err, "The R/W on " + sim.Path() +
                         " refused the authentication: check the keys (ka, kb) and kagi\n");
    EXPECT_EQ(r.exitCode, 1);
  }
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            "get reader id,verify reader,get reader id,verify reader,get reader id,verify reader");
}

// A first connection that fails says why on standard error, after the fixed
// texts, and fails the exit status.
TEST(KestrowTest, FailedConnectionSaysWhy) {
  SimProcess slow({"--reader=secured", "--baud=9600"});
  RunResult r = RunProgram(Kestrow(), {"c", slow.Path(), "t", "5"});
  EXPECT_EQ(r.out, kKestrowBanner + "Reader/Writer Error !!\n");
  EXPECT_EQ(r.err, "No answer from the R/W on " + slow.Path() +
                       " at 115200 baud: another port, another speed (b), or the R/W is off\n");
  EXPECT_EQ(r.exitCode, 1);

  // A speed the device refuses.
  r = RunProgram(Kestrow(), {"c", slow.Path(), "t", "5", "b", "0"});
  EXPECT_EQ(r.err.rfind(
                "Cannot open " + slow.Path() + ": the device refused the line settings (0 baud", 0),
            0u)
      << r.err;

  SimProcess odd({"--reader=secured", "--fault=wrong-code@c1"});
  r = RunProgram(Kestrow(), {"c", odd.Path(), "t", "5"});
  EXPECT_EQ(r.err, "The R/W on " + odd.Path() +
                       " answered with something unexpected (wrong answer code)\n");

  // Another program holds the port.
  SimProcess busy({"--reader=secured"});
  ChildProcess holder(Kestrow(), {"c", busy.Path()});
  ASSERT_NE(holder.ReadUntil(kKestrowBanner + "o", 30000).find(kKestrowBanner + "o"),
            std::string::npos);
  r = RunProgram(Kestrow(), {"c", busy.Path(), "t", "5"});
  EXPECT_EQ(r.out, kKestrowBanner + "Reader/Writer Error !!\n");
  EXPECT_EQ(r.err.rfind("Cannot open " + busy.Path() + ": in use by another program (", 0), 0u)
      << r.err;
  EXPECT_EQ(r.exitCode, 1);
  holder.WriteInput("\n");
  EXPECT_EQ(holder.Wait(30000), 0);
}

TEST(KestrowTest, CounterMismatchAndFaults) {
  SimProcess sim({"--reader=secured", "--fault=wrong-counter@2", "--fault=wrong-mac@3",
                  "--fault=bad-checksum@4", "--fault=no-ack@5"});
  RunResult r = RunProgram(Kestrow(), {"c", sim.Path(), "t", "6", "at", "2000", "rt", "2000"});
  EXPECT_EQ(r.out, kKestrowBanner +
                       "oIDTR ErrorXXXXo    [  2/  6]  33%\n"
                       "(TOTAL) [   2/   6] ...  33.33%\n\n");
  EXPECT_EQ(r.err, "IDt Error!!\nNow IDtr(Controller): 06 00 Get IDtr(R/W):05 00\nSn:0006\n");
}

TEST(KestrowTest, EventLogTellsWhyEachAttemptFailed) {
  SimProcess sim({"--reader=secured", "--fault=wrong-counter@2", "--fault=wrong-mac@3",
                  "--fault=bad-checksum@4", "--fault=no-ack@5", "--fault=no-response@6"});
  ScratchDir dir;
  std::string log = dir / "events.jsonl";
  RunResult r = RunProgram(
      Kestrow(), {"c", sim.Path(), "t", "7", "at", "2000", "rt", "2000", "log", log, "d", "4"});
  EXPECT_EQ(r.out, kKestrowBanner +
                       "oIDTR ErrorXXXX.o    [  2/  7]  28%\n(TOTAL) [   2/   7] ...  28.57%\n\n");
  EXPECT_EQ(r.exitCode, 0);
  std::vector<EventFields> events = EventsIn(ReadFile(log));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0]["ev"], "start");
  EXPECT_EQ(events[0]["tool"], "kestrow");
  EXPECT_EQ(events[0]["port"], sim.Path());  // as given
  EXPECT_EQ(events[0]["ka_kcv"], "570A39");  // the default keys
  EXPECT_EQ(events[0]["kb_kcv"], "66C4B6");
  EXPECT_EQ(events[0]["frames"], "failures");
  EXPECT_EQ(events[0]["attempts_per_run"], "7");
  EXPECT_EQ(events[0]["tag"], "4");
  std::string kinds, failures, steps;
  int frames = 0, framesBefore = 0;
  for (auto &e : events) {
    const std::string &kind = e["ev"];
    if (kind == "tx" || kind == "rx") {
      ++frames;
      ++framesBefore;
      continue;
    }
    kinds += kind + ",";
    // The frames of an attempt precede it: kept where they explain a failure.
    if (kind == "attempt") {
      failures += e["failure"] + ",";
      if (e["failure"] == "none") {
        EXPECT_EQ(framesBefore, 0) << e["n"];
      } else {
        EXPECT_GE(framesBefore, 2) << e["n"];  // the poll and what came back
      }
    }
    framesBefore = 0;
    if (kind == "auth") steps += e["step"] + "=" + e["result"] + ",";
    if (kind == "open") {
      EXPECT_EQ(e["device"], sim.Path());
    }
    if (kind == "run") {
      EXPECT_EQ(e["record"], " 28.57%,   2,   7,   4,");
    }
  }
  EXPECT_EQ(kinds,
            "start,open,auth,auth,auth,connect," + Repeat("attempt,", 7) + "run,stop,close,");
  EXPECT_EQ(failures, "none,counter mismatch,bad MAC,bad checksum,no ACK,no response,none,");
  EXPECT_EQ(steps, "get reader id=0,verify reader=0,confirm session key=0,");
  // Every frame of the three authentication exchanges, the five failed
  // polls and the close.
  EXPECT_GE(frames, 9 + 5 * 2 + 3);

  // "-" is standard error; the console output stays as it is.
  r = RunProgram(Kestrow(), {"c", sim.Path(), "t", "1", "log", "-"});
  EXPECT_EQ(r.out, kKestrowBanner + "o    [  1/  1] 100%\n(TOTAL) [   1/   1] ... 100.00%\n\n");
  events = EventsIn(r.err);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["ev"], "start");
  EXPECT_EQ(events.back()["ev"], "close");

  r = RunProgram(Kestrow(), {"c", sim.Path(), "log", dir / "no-such-folder/events.jsonl"});
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(r.err, "Cannot open the event log " + (dir / "no-such-folder/events.jsonl") +
                       ": No such file or directory\n");
  EXPECT_EQ(r.exitCode, 1);

  // With standard output closed, the log is not taken for it.
  std::string quiet = dir / "quiet.jsonl";
  r = RunProgram("/bin/sh", {"-c", "exec \"$0\" \"$@\" >&-", Kestrow(), "c", sim.Path(), "t", "2",
                             "log", quiet});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  events = EventsIn(ReadFile(quiet));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["ev"], "start");
  EXPECT_EQ(events.back()["ev"], "close");

  // A log that cannot be written fails the exit status; the run itself stands.
  r = RunProgram(Kestrow(), {"c", sim.Path(), "t", "1", "log", "/dev/full"});
  EXPECT_EQ(r.out, kKestrowBanner + "o    [  1/  1] 100%\n(TOTAL) [   1/   1] ... 100.00%\n\n");
  EXPECT_EQ(r.err, "Cannot write the event log /dev/full: No space left on device\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST(KestrowTest, RepeatingModeReconnectsWithNewAuthentication) {
  SimProcess sim({"--reader=secured"});
  ChildProcess tool(Kestrow(), {"c", sim.Path(), "at", "2000", "rt", "2000"});
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string firstRun = kKestrowBanner + block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  tool.ReadUntil(firstRun + "oo", 30000);
  tool.WriteInput("\n");
  ASSERT_EQ(tool.Wait(30000), 0);
  ASSERT_EQ(tool.Output().substr(0, firstRun.size()), firstRun);
  int marks = static_cast<int>(tool.Output().find('(', firstRun.size()) - firstRun.size());
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), kAuthentication + Repeat("poll,", 100) + "close," +
                                                     kAuthentication + Repeat("poll,", marks) +
                                                     "close");
}

// Runs the test build of kestrow, which finds /dev and /sys in `tree`.
RunResult SearchIn(const DeviceTree &tree, std::vector<std::string> args) {
  setenv("KESTROW_TEST_ROOT", tree.Root().c_str(), 1);
  RunResult r = RunProgram(BinDir() + "/kestrow_testports", args, "", 120000);
  unsetenv("KESTROW_TEST_ROOT");
  return r;
}

ChildProcess *StartIn(const DeviceTree &tree, std::vector<std::string> args) {
  setenv("KESTROW_TEST_ROOT", tree.Root().c_str(), 1);
  auto *tool = new ChildProcess(BinDir() + "/kestrow_testports", args);
  unsetenv("KESTROW_TEST_ROOT");
  return tool;
}

TEST(PortSearchTest, NoReaderAnywhere) {
  DeviceTree tree;
  tree.SetConsoles("tty0");
  tree.AddTty("ttyS0", 4);  // a UART with no /dev node cannot be tried
  RunResult r = SearchIn(tree, {"b", "9600", "kagi", "off"});
  EXPECT_EQ(r.out,
            kKestrowBanner + "--- Trying RW Connection ---\n--- End ---\nReader/Writer Error !!\n");
  EXPECT_EQ(r.err, "No R/W answered on " + tree.Dev("ttyS0") +
                       " (at every baud rate, with and without DES)\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST(PortSearchTest, FirstCombinationWins) {
  SimProcess sim({"--reader=secured", "--baud=115200"});
  DeviceTree tree;
  tree.SetConsoles("tty0");
  tree.AddTty("ttyUSB0", -1, sim.Path());
  RunResult r = SearchIn(tree, {"t", "2", "at", "2000", "rt", "2000"});
  EXPECT_EQ(r.out, kKestrowBanner +
                       "--- Trying RW Connection ---\n--- End ---\n"
                       "oo    [  2/  2] 100%\n(TOTAL) [   2/   2] ... 100.00%\n\n");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), kAuthentication + "poll,poll,close");
}

TEST(PortSearchTest, FindsPlainReaderAt9600AndKeepsSettings) {
  SimProcess sim({"--reader=secured", "--des=off", "--baud=9600"});
  SimProcess other({"--reader=secured", "--baud=19200"});  // later in the search order
  DeviceTree tree;
  tree.SetConsoles("tty0");
  tree.AddTty("ttyUSB1", -1, sim.Path());
  tree.AddTty("ttyACM0", -1, other.Path());
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string firstRun = kKestrowBanner + "--- Trying RW Connection ---\n--- End ---\n" + block +
                         block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  std::unique_ptr<ChildProcess> tool(
      StartIn(tree, {"kagi", "on", "b", "38400", "at", "2000", "rt", "2000"}));
  tool->ReadUntil(firstRun + "o", 60000);
  tool->WriteInput("\n");
  ASSERT_EQ(tool->Wait(30000), 0);
  ASSERT_EQ(tool->Output().substr(0, firstRun.size()), firstRun);
  int marks = static_cast<int>(tool->Output().find('(', firstRun.size()) - firstRun.size());
  // 115200 is ignored on both ports; at 9600 the DES attempt on ttyUSB1
  // fails at its second exchange and the plain one connects. The
  // reconnection after the run uses 9600 and plain mode again.
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            "get reader id,verify reader," + kAuthentication + Repeat("poll,", 100) + "close," +
                kAuthentication + Repeat("poll,", marks) + "close");
  EXPECT_EQ(CommandSequence(other.StopAndTrace()), "");
}

TEST(PortSearchTest, LeavesTheConsoleAndPortsWithoutUartAlone) {
  SimProcess console({"--reader=secured"});
  SimProcess noUart({"--reader=secured"});
  SimProcess uart({"--reader=secured"});
  DeviceTree tree;
  tree.SetConsoles("tty0 ttyS0");
  tree.AddTty("ttyS0", 4, console.Path());
  tree.AddTty("ttyS1", 0, noUart.Path());
  tree.AddTty("ttyS4", 4, uart.Path());
  RunResult r = SearchIn(tree, {"t", "1"});
  EXPECT_EQ(r.out, kKestrowBanner +
                       "--- Trying RW Connection ---\n--- End ---\n"
                       "o    [  1/  1] 100%\n(TOTAL) [   1/   1] ... 100.00%\n\n");
  EXPECT_EQ(CommandSequence(uart.StopAndTrace()), kAuthentication + "poll,close");
  // Not a byte reached the console or the port without hardware.
  EXPECT_EQ(console.StopAndTrace(), "");
  EXPECT_EQ(noUart.StopAndTrace(), "");
  // Named explicitly, COM1 is ttyS0, console or not: the user's choice.
  SimProcess chosen({"--reader=secured"});
  DeviceTree named;
  named.SetConsoles("ttyS0");
  named.AddTty("ttyS0", 4, chosen.Path());
  r = SearchIn(named, {"c", "COM1", "t", "1"});
  EXPECT_EQ(r.out, kKestrowBanner + "o    [  1/  1] 100%\n(TOTAL) [   1/   1] ... 100.00%\n\n");
  EXPECT_EQ(CommandSequence(chosen.StopAndTrace()), kAuthentication + "poll,close");
}

TEST(PortSearchTest, InterruptDuringSearchEndsAtOnce) {
  SimProcess deaf({"--reader=secured", "--baud=1"});  // answers at no speed the search tries
  DeviceTree tree;
  tree.SetConsoles("tty0");
  for (int port = 0; port < 20; ++port)
    tree.AddTty("ttyUSB" + std::to_string(port), -1, deaf.Path());
  std::unique_ptr<ChildProcess> tool(StartIn(tree, {}));
  tool->ReadUntil("--- Trying RW Connection ---\n", 10000);
  tool->Signal(SIGINT);
  EXPECT_EQ(tool->Wait(10000), 128 + SIGINT);
  EXPECT_EQ(tool->Output(), kKestrowBanner + "--- Trying RW Connection ---\n");
}

TEST(LongPathTest, PortAndResultPathsBeyondTheOldLimits) {
  SimProcess sim({"--reader=secured", "--card=o."});
  ScratchDir dir;
  // A stable adapter name as /dev/serial/by-id gives them, 90 characters and more.
  std::string byId =
      dir / "usb-Example_Contactless_Reader_Writer_0123456789ABCDEF-if00-port0-long-name";
  ASSERT_EQ(symlink(sim.Path().c_str(), byId.c_str()), 0);
  ASSERT_GT(byId.size(), 90u);
  // A result file 400 characters deep.
  std::string folder = dir / std::string(200, 'd');
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  folder += "/" + std::string(150, 'e');
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  std::string result = folder + "/result.csv";
  RunResult r =
      RunProgram(Kestrow(), {"c", byId, "t", "2", "f", result, "at", "1000", "rt", "1000"});
  EXPECT_EQ(r.out, kKestrowBanner + "o.    [  1/  2]  50%\n(TOTAL) [   1/   2] ...  50.00%\n\n");
  EXPECT_EQ(ReadFile(result), " 50.00%,   1,   2,");
}

}  // namespace
