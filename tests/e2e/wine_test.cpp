// The Windows programs end to end: kestrow.exe and brimlet.exe under Wine
// against the native simulator. Wine's COM1 to COM20 are pinned to links in
// the folder WINE_COM_DIR names (scripts/test-windows.sh sets it up); a test
// puts a simulator behind one of them with --link. The console output must
// be the Linux build's, with CR LF line ends.
#include <stdlib.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/end_to_end.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

const std::string kAuthentication = "get reader id,verify reader,confirm session key,";

std::string RequiredEnv(const char *name) {
  const char *value = std::getenv(name);
  if (!value || !*value) {
    ADD_FAILURE() << name << " is not set: run these tests through scripts/test-windows.sh";
    return "/nonexistent";
  }
  return value;
}

// Windows text mode stores every line feed as CR LF.
std::string Crlf(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The link a simulator makes for Wine's COMn.
std::string ComLink(int n) { return RequiredEnv("WINE_COM_DIR") + "/com" + std::to_string(n); }

// A simulator behind Wine's COMn.
std::vector<std::string> SimOn(int n, std::vector<std::string> args) {
  args.push_back("--link=" + ComLink(n));
  return args;
}

std::vector<std::string> WineArgs(const std::string &tool, const std::vector<std::string> &args) {
  std::vector<std::string> all = {RequiredEnv("WINDOWS_BIN_DIR") + "/" + tool + ".exe"};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

RunResult RunWindows(const std::string &tool, const std::vector<std::string> &args) {
  return RunProgram(RequiredEnv("WINE"), WineArgs(tool, args), "", 120000);
}

// The suite runs only where the Windows stage has set up Wine and pinned its
// COM ports; a plain run of the native suite skips it.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *comDir = std::getenv("WINE_COM_DIR");
    if (!comDir || !*comDir) GTEST_SKIP() << "WINE_COM_DIR is not set";
  }
};

// A private folder for result files, and its files' names as Windows paths
// (Wine's drive Z: is the host's root).
class ResultFolder {
 public:
  std::string Host(const std::string &name) const { return dir_ / name; }
  std::string Windows(const std::string &name) const {
    std::string path = "Z:" + Host(name);
    for (char &c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

 private:
  ScratchDir dir_;
};

TEST_F(WineTest, KestrowSingleRunWithDesAndRecords) {
  SimProcess sim(SimOn(12, {"--reader=secured", "--card=ooo.o"}));
  ResultFolder folder;
  std::string file = folder.Windows("kestrow.csv");
  RunResult r = RunWindows("kestrow", {"c", "COM12", "t", "120", "f", file, "s", "off", "d", "7"});
  std::string block = Repeat("ooo.o", 10) + "    [ 40/ 50]  80%\n";
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + block + block + Repeat("ooo.o", 4) +
                        "    [ 16/ 20]  80%\n(TOTAL) [  96/ 120] ...  80.00%\n\n"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(folder.Host("kestrow.csv")), " 80.00%,  96, 120,   7\r\n");
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), kAuthentication + Repeat("poll,", 120) + "close");
}

TEST_F(WineTest, KestrowWithoutDesAndBrimlet) {
  SimProcess plainKestrow(SimOn(4, {"--reader=secured", "--des=off", "--card=o."}));
  RunResult r = RunWindows("kestrow", {"c", "COM4", "t", "4", "kagi", "off"});
  EXPECT_EQ(r.out,
            Crlf(kKestrowBanner + "o.o.    [  2/  4]  50%\n(TOTAL) [   2/   4] ...  50.00%\n\n"));
  EXPECT_EQ(CommandSequence(plainKestrow.StopAndTrace()),
            kAuthentication + Repeat("poll,", 4) + "close");

  SimProcess plain(SimOn(6, {"--card=oo."}));
  ResultFolder folder;
  r = RunWindows("brimlet", {"c", "COM6", "t", "6", "f", folder.Windows("brimlet.csv")});
  EXPECT_EQ(r.out,
            Crlf(kBrimletBanner + "oo.oo.    [  4/  6]  66%\n(TOTAL) [   4/   6] ...  66.67%\n\n"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(folder.Host("brimlet.csv")), " 66.67%,   4,   6,");
  EXPECT_EQ(CommandSequence(plain.StopAndTrace()), "open," + Repeat("poll,", 6) + "close");
}

TEST_F(WineTest, RepeatingModeReconnectsBetweenRuns) {
  // The third connection fails, so the loop ends after two whole runs.
  SimProcess sim(SimOn(5, {"--reader=secured", "--fault=wrong-auth@c3"}));
  ResultFolder folder;
  std::string file = folder.Windows("repeat.csv");
  RunResult r = RunWindows("kestrow", {"c", "COM5", "f", file});
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string run = block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + run + run));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(folder.Host("repeat.csv")), "100.00%, 100, 100,100.00%, 100, 100,");
  std::string sequence = CommandSequence(sim.StopAndTrace());
  std::string run1 = kAuthentication + Repeat("poll,", 100) + "close,";
  EXPECT_EQ(sequence.substr(0, 2 * run1.size()), run1 + run1);
}

TEST_F(WineTest, PortSearchFindsReaderAtNineThousandSixHundred) {
  // Wine sets only the common rates; 9600 is one, and it is the second rate
  // the search tries. COM3 is the only pinned port with a device behind it.
  SimProcess sim(SimOn(3, {"--reader=secured", "--des=off", "--baud=9600"}));
  RunResult r = RunWindows("kestrow", {"t", "3"});
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + "--- Trying RW Connection ---\n--- End ---\n" +
                        "ooo    [  3/  3] 100%\n(TOTAL) [   3/   3] ... 100.00%\n\n"));
  EXPECT_EQ(r.exitCode, 0);
  // At 115200 both modes fail on COM3; at 9600 DES fails, plain succeeds.
  std::string sequence = CommandSequence(sim.StopAndTrace());
  EXPECT_EQ(sequence,
            "get reader id,verify reader," + kAuthentication + Repeat("poll,", 3) + "close");
}

TEST_F(WineTest, InterruptDuringPollingEndsRunInOrder) {
  // Slow answers keep the run well within its first 100 attempts until the
  // signal has arrived, however loaded the machine.
  SimProcess sim(SimOn(7, {"--reader=secured", "--fault=response-delay=40@1-100"}));
  ResultFolder folder;
  std::string file = folder.Windows("interrupt.csv");
  ChildProcess tool(RequiredEnv("WINE"), WineArgs("kestrow", {"c", "COM7", "f", file, "s", "off"}));
  std::string banner = Crlf(kKestrowBanner);
  tool.ReadUntil(banner + "ooooo", 60000);
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(60000), 0);
  std::string rest = tool.Output().substr(banner.size());
  std::size_t marks = rest.find_first_not_of('o');
  ASSERT_LT(marks, 100u);  // still in the first run
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4zu/%4zu] ... 100.00%%\n\n", marks, marks);
  EXPECT_EQ(rest.substr(marks), Crlf(total));
  char record[64];
  std::snprintf(record, sizeof record, "100.00%%,%4zu,%4zu\r\n", marks, marks);
  EXPECT_EQ(ReadFile(folder.Host("interrupt.csv")), record);
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            kAuthentication + Repeat("poll,", static_cast<int>(marks)) + "close");
}

// The close command after Ctrl-C waits for its answer the full time, as
// on POSIX: an answer 300 ms late still closes the session.
TEST_F(WineTest, CloseAfterInterruptAwaitsALateAnswer) {
  SimProcess sim(SimOn(10, {"--reader=secured", "--fault=response-delay=40@1-100",
                            "--fault=response-delay=300@x1"}));
  ResultFolder folder;
  ChildProcess tool(RequiredEnv("WINE"), WineArgs("kestrow", {"c", "COM10", "s", "off", "log",
                                                              folder.Windows("events.log")}));
  tool.ReadUntil(Crlf(kKestrowBanner) + "ooo", 60000);
  tool.Signal(SIGINT);
  ASSERT_EQ(tool.Wait(60000), 0);
  std::string log = ReadFile(folder.Host("events.log"));
  EXPECT_NE(log.find("\"reason\":\"signal\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"ev\":\"close\",\"result\":0"), std::string::npos) << log;
  std::string commands = CommandSequence(sim.StopAndTrace());
  EXPECT_EQ(commands.substr(commands.size() - 6), ",close");
}

TEST_F(WineTest, MissingPort) {
  RunResult r = RunWindows("kestrow", {"c", "COM9", "t", "5"});
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + "Reader/Writer Error !!\n"));
  EXPECT_EQ(r.err.rfind("Cannot open \\\\.\\COM9: ", 0), 0u) << r.err;
  EXPECT_EQ(r.exitCode, 1);
  r = RunWindows("brimlet", {"c", "COM9", "t", "5"});
  EXPECT_EQ(r.out, Crlf(kBrimletBanner));
  EXPECT_EQ(r.exitCode, 1);
}

TEST_F(WineTest, UnopenableResultFileGivesCodePage932Message) {
  SimProcess sim(SimOn(8, {"--reader=secured"}));
  RunResult r =
      RunWindows("kestrow", {"c", "COM8", "t", "5", "f", "Z:\\nonexistent-folder\\r.csv"});
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + "[Z:\\nonexistent-folder\\r.csv] "
                                         "\x82\xCC\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC9\x8D\xEC"
                                         "\x90\xAC\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5"
                                         "\x82\xBD\x81\x42\n\n"));
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()),
            kAuthentication.substr(0, kAuthentication.size() - 1));
}

// rwstation.exe runs the Windows tools, one per reader; Ctrl-C (SIGINT to
// Wine, a console event for the station) reaches them as the key press
// the station passes on through their standard input.
TEST_F(WineTest, StationRunsReadersAndStopsThemInOrder) {
  SimProcess always(SimOn(11, {}));
  SimProcess pattern(SimOn(12, {"--card=ooo.o"}));
  ResultFolder folder;
  ChildProcess station(RequiredEnv("WINE"),
                       WineArgs("rwstation", {"--session", folder.Windows("session"), "--reader",
                                              "a brimlet c COM11", "--reader", "b brimlet c COM12",
                                              "--reader", "c brimlet c COM13 t 5"}));
  station.ReadUntil("a run 1:", 120000);
  station.ReadUntil("b run 1:", 120000);
  station.Signal(SIGINT);
  int status = station.Wait(120000);
  const std::string &out = station.Output();
  EXPECT_EQ(status, 1) << out << station.Errors();  // c failed
  EXPECT_NE(out.find("b run 1: 80/100;"), std::string::npos) << out;
  EXPECT_NE(out.find("c failed (cannot open"), std::string::npos) << out;
  for (const char *name : {"a", "b"}) {
    EXPECT_NE(out.find(std::string(name) + " stopped (key):"), std::string::npos) << out;
    std::string log = ReadFile(folder.Host(std::string("session/") + name + ".log"));
    EXPECT_NE(log.find("\"ev\":\"close\""), std::string::npos) << name;
  }
  EXPECT_EQ(CommandSequence(always.StopAndTrace()).substr(0, 5), "open,");
  std::string sequence = CommandSequence(pattern.StopAndTrace());
  EXPECT_EQ(sequence.substr(sequence.size() - 6), ",close") << sequence;
}

}  // namespace
