// The Windows programs end to end: kestrow.exe and brimlet.exe under Wine
// against the native simulator. Wine's COM1 to COM20 are pinned to links in
// the folder WINE_COM_DIR names (scripts/test-windows.sh sets it up); a test
// puts a simulator behind one of them with --link. The console output must
// be the Linux build's, with CR LF line ends.
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/shared_scenarios.h"
#include "tests/e2e/station_http_support.h"
#include "tests/support/end_to_end.h"
#include "tests/support/http_client.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"
#include "tests/support/tool_runner.h"

namespace {

const std::string kAuthentication = "get reader id,verify reader,confirm session key,";

const ToolRunner &Wine() { return *WineRunner(); }

std::string Crlf(const std::string &text) { return Wine().Text(text); }

RunResult RunWindows(const std::string &tool, const std::vector<std::string> &args) {
  return Wine().Run(tool, args);
}

// The scenarios the Linux programs pass too (shared_scenarios.cpp).
INSTANTIATE_TEST_SUITE_P(Wine, SharedScenarioTest, ::testing::Values(WineRunner()), RunnerName());

// The suite runs only where the Windows stage has set up Wine and pinned its
// COM ports; a plain run of the native suite skips it.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = Wine().Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }
};

// A private folder for result files, and its files' names as Windows paths
// (Wine's drive Z: is the host's root).
class ResultFolder {
 public:
  std::string Host(const std::string &name) const { return dir_ / name; }
  std::string Windows(const std::string &name) const { return Wine().ToolPath(dir_, name); }

 private:
  ScratchDir dir_;
};

TEST_F(WineTest, KestrowWithoutDesAndBrimlet) {
  std::unique_ptr<SimProcess> plainKestrow =
      Wine().StartSim(4, {"--reader=secured", "--des=off", "--card=o."});
  RunResult r = RunWindows("kestrow", {"c", "COM4", "t", "4", "kagi", "off"});
  EXPECT_EQ(r.out,
            Crlf(kKestrowBanner + "o.o.    [  2/  4]  50%\n(TOTAL) [   2/   4] ...  50.00%\n\n"));
  EXPECT_EQ(CommandSequence(plainKestrow->StopAndTrace()),
            kAuthentication + Repeat("poll,", 4) + "close");

  std::unique_ptr<SimProcess> plain = Wine().StartSim(6, {"--card=oo."});
  ResultFolder folder;
  r = RunWindows("brimlet", {"c", "COM6", "t", "6", "f", folder.Windows("brimlet.csv")});
  EXPECT_EQ(r.out,
            Crlf(kBrimletBanner + "oo.oo.    [  4/  6]  66%\n(TOTAL) [   4/   6] ...  66.67%\n\n"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(folder.Host("brimlet.csv")), " 66.67%,   4,   6,");
  EXPECT_EQ(CommandSequence(plain->StopAndTrace()), "open," + Repeat("poll,", 6) + "close");
}

TEST_F(WineTest, PortSearchFindsReaderAtNineThousandSixHundred) {
  // Wine sets only the common rates; 9600 is one, and it is the second rate
  // the search tries. COM3 is the only pinned port with a device behind it.
  std::unique_ptr<SimProcess> sim =
      Wine().StartSim(3, {"--reader=secured", "--des=off", "--baud=9600"});
  RunResult r = RunWindows("kestrow", {"t", "3"});
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + "--- Trying RW Connection ---\n--- End ---\n" +
                        "ooo    [  3/  3] 100%\n(TOTAL) [   3/   3] ... 100.00%\n\n"));
  EXPECT_EQ(r.exitCode, 0);
  // At 115200 both modes fail on COM3; at 9600 DES fails, plain succeeds.
  std::string sequence = CommandSequence(sim->StopAndTrace());
  EXPECT_EQ(sequence,
            "get reader id,verify reader," + kAuthentication + Repeat("poll,", 3) + "close");
}

// The close command after Ctrl-C waits for its answer the full time, as
// on POSIX: an answer 300 ms late still closes the session.
TEST_F(WineTest, CloseAfterInterruptAwaitsALateAnswer) {
  std::unique_ptr<SimProcess> sim = Wine().StartSim(
      10, {"--reader=secured", "--fault=response-delay=40@1-100", "--fault=response-delay=300@x1"});
  ResultFolder folder;
  std::unique_ptr<ChildProcess> tool =
      Wine().Start("kestrow", {"c", "COM10", "s", "off", "log", folder.Windows("events.log")});
  tool->ReadUntil(Crlf(kKestrowBanner) + "ooo", 60000);
  tool->Signal(SIGINT);
  ASSERT_EQ(tool->Wait(60000), 0);
  std::string log = ReadFile(folder.Host("events.log"));
  EXPECT_NE(log.find("\"reason\":\"signal\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"ev\":\"close\",\"result\":0"), std::string::npos) << log;
  std::string commands = CommandSequence(sim->StopAndTrace());
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
  std::unique_ptr<SimProcess> sim = Wine().StartSim(8, {"--reader=secured"});
  RunResult r =
      RunWindows("kestrow", {"c", "COM8", "t", "5", "f", "Z:\\nonexistent-folder\\r.csv"});
  EXPECT_EQ(r.out, Crlf(kKestrowBanner + "[Z:\\nonexistent-folder\\r.csv] "
                                         "\x82\xCC\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC9\x8D\xEC"
                                         "\x90\xAC\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5"
                                         "\x82\xBD\x81\x42\n\n"));
  EXPECT_EQ(CommandSequence(sim->StopAndTrace()),
            kAuthentication.substr(0, kAuthentication.size() - 1));
}

// rwstation.exe runs the Windows tools, one per reader; Ctrl-C (SIGINT to
// Wine, a console event for the station) reaches them as the key press
// the station passes on through their standard input.
TEST_F(WineTest, StationRunsReadersAndStopsThemInOrder) {
  std::unique_ptr<SimProcess> always = Wine().StartSim(11, {});
  std::unique_ptr<SimProcess> pattern = Wine().StartSim(12, {"--card=ooo.o"});
  ResultFolder folder;
  std::unique_ptr<ChildProcess> station = Wine().Start(
      "rwstation", {"--session", folder.Windows("session"), "--reader", "a brimlet c COM11",
                    "--reader", "b brimlet c COM12", "--reader", "c brimlet c COM13 t 5"});
  station->ReadUntil("a run 1:", 120000);
  station->ReadUntil("b run 1:", 120000);
  station->Signal(SIGINT);
  int status = station->Wait(120000);
  const std::string &out = station->Output();
  EXPECT_EQ(status, 1) << out << station->Errors();  // c failed
  EXPECT_NE(out.find("b run 1: 80/100;"), std::string::npos) << out;
  EXPECT_NE(out.find("c failed (cannot open"), std::string::npos) << out;
  for (const char *name : {"a", "b"}) {
    EXPECT_NE(out.find(std::string(name) + " stopped (key):"), std::string::npos) << out;
    std::string log = ReadFile(folder.Host(std::string("session/") + name + ".log"));
    EXPECT_NE(log.find("\"ev\":\"close\""), std::string::npos) << name;
  }
  EXPECT_EQ(CommandSequence(always->StopAndTrace()).substr(0, 5), "open,");
  std::string sequence = CommandSequence(pattern->StopAndTrace());
  EXPECT_EQ(sequence.substr(sequence.size() - 6), ",close") << sequence;
}

// rwstation.exe starts a reader again once its R/W is back: the simulator
// behind COM14 ends (its link goes) and a new one takes the link again.
TEST_F(WineTest, StationStartsAReaderAgainWhenItsRwIsBack) {
  std::unique_ptr<SimProcess> sim = Wine().StartSim(14, {});
  ResultFolder folder;
  std::unique_ptr<ChildProcess> station = Wine().Start(
      "rwstation", {"--session", folder.Windows("session"), "--reader", "a brimlet c COM14"});
  station->ReadUntil("a run 1:", 120000);
  sim->StopAndTrace();
  station->ReadUntil("starting it again when", 120000);
  sim = Wine().StartSim(14, {});
  std::size_t back = station->ReadUntil("a has its R/W again", 120000).find("a has its R/W again");
  ASSERT_NE(back, std::string::npos) << station->Output();
  for (int i = 0; i < 2400 && station->Output().find("a run 1:", back) == std::string::npos; ++i)
    station->Pump(50);  // a run after the return
  station->Signal(SIGINT);
  int status = station->Wait(120000);
  const std::string &out = station->Output();
  EXPECT_EQ(status, 0) << out << station->Errors();
  EXPECT_NE(out.find("a lost R/W (since "), std::string::npos) << out;
  EXPECT_NE(out.find("a started again: brimlet c COM14"), std::string::npos) << out;
  std::string log = ReadFile(folder.Host("session/a.log"));
  EXPECT_NE(log.find("\"ev\":\"start\""), log.rfind("\"ev\":\"start\"")) << log;  // two starts
}

// rwstation.exe --listen: the Windows station serves its readers' figures
// over Winsock, they equal the ended reader's log, and a port in use is
// refused before any reader starts.
TEST_F(WineTest, StationServesItsFiguresOverHttp) {
  ResultFolder folder;
  unsigned short port = FreePort();
  {
    PortHolder busy(port);
    ASSERT_TRUE(busy.Listening());
    RunResult refused =
        RunWindows("rwstation", {"--listen", std::to_string(port), "--session",
                                 folder.Windows("refused"), "--reader", "a brimlet c COM15"});
    EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("cannot listen on 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(ReadFile(folder.Host("refused")), "<missing>");
  }
  std::unique_ptr<SimProcess> ending = Wine().StartSim(15, {"--card=oooo."});
  std::unique_ptr<SimProcess> keeper = Wine().StartSim(16, {});
  std::unique_ptr<ChildProcess> station = Wine().Start(
      "rwstation", {"--listen", std::to_string(port), "--station", "wine", "--session",
                    folder.Windows("session"), "--reader", "a brimlet c COM15 runfor 3s",
                    "--reader", "keeper brimlet c COM16"});
  ASSERT_NE(station->ReadUntil("rwstation: serving", 120000).find("rwstation: serving"),
            std::string::npos)
      << station->Output() << station->Errors();
  std::vector<MetricSample> samples = ScrapeUntilEnded(port, {"a"});
  ExpectSeriesEqualLog(samples, "a", TallyLog(ReadFile(folder.Host("session/a.log"))));
  EXPECT_GT(SampleValue(samples, "rw_attempts_total", {{"reader", "keeper"}}).value_or(0), 0);
  EXPECT_EQ(HttpGet(port, "/status.json").status, 200);
  station->Signal(SIGINT);
  EXPECT_GE(station->Wait(120000), 0) << station->Output();
}

}  // namespace
