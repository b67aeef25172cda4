// The fuzzing line and its virtual clock, and the line scripts played on it:
// if these are wrong, the fuzz targets explore less than they claim.
#include <gtest/gtest.h>

#include "fuzz/line_script.h"
#include "link/cmd.h"
#include "platform/platform.h"
#include "platform/platform_fuzz.h"

namespace {

using fuzzline::Bytes;
namespace fz = platform::fuzz;

constexpr platform::CommTimeouts kOneByteWait{platform::kMaxDword, 0, 100, 0, 1000};

class FuzzLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fz::Reset(kStart);
    port = platform::OpenPort("//.//COM1");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(platform::SetTimeouts(port, kOneByteWait));
  }
  void TearDown() override { fz::Reset(0); }

  // One one-byte read: the byte, -1 for none, -2 for a failed read.
  int ReadOne() {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (!platform::ReadPort(port, &byte, 1, &got)) return -2;
    return got == 1 ? byte : -1;
  }
  std::int64_t Elapsed() const { return fz::NowMs() - kStart; }

  static constexpr std::int64_t kStart = 86400123;
  platform::PortHandle port = nullptr;
};

TEST_F(FuzzLineTest, ReadsWaitOnTheVirtualClockAndKeepTheLineInOrder) {
  const std::uint8_t first[] = {0x11};
  const std::uint8_t second[] = {0x22, 0x33};
  fz::Arrive(30, first, 1);
  fz::Arrive(10, second, 2);  // may not overtake the byte before it
  EXPECT_EQ(ReadOne(), 0x11);
  EXPECT_EQ(Elapsed(), 30);
  EXPECT_EQ(ReadOne(), 0x22);
  EXPECT_EQ(ReadOne(), 0x33);
  EXPECT_EQ(Elapsed(), 30);
  EXPECT_EQ(ReadOne(), -1);  // nothing more: the read waits out its time-out
  EXPECT_EQ(Elapsed(), 130);
  platform::ClockReading now = platform::ReadClock();
  EXPECT_EQ(now.seconds, 86400);
  EXPECT_EQ(now.milliseconds, 253);
  platform::Sleep(900);
  EXPECT_EQ(Elapsed(), 1030);
}

TEST_F(FuzzLineTest, AQuietLineGoesAwayEvenForAWaitWithoutLimit) {
  fz::SetQuietLimit(300);
  EXPECT_EQ(ReadOne(), -1);
  EXPECT_EQ(ReadOne(), -1);
  EXPECT_EQ(ReadOne(), -2);
  EXPECT_TRUE(fz::LineHungUp());
  std::uint32_t written = 0;
  EXPECT_FALSE(platform::WritePort(port, "x", 1, &written));

  fz::Reset(0);
  port = platform::OpenPort("//.//COM1");
  ASSERT_TRUE(platform::SetTimeouts(port, {0, 0, 0, 0, 0}));  // no limit
  EXPECT_EQ(ReadOne(), -2);
  EXPECT_EQ(fz::NowMs(), fz::kDefaultQuietLimitMs);
}

TEST_F(FuzzLineTest, WritesReachTheHookUnlessStalled) {
  Bytes seen;
  fz::SetWriteHook([&seen](const std::uint8_t *bytes, std::size_t count) {
    seen.insert(seen.end(), bytes, bytes + count);
  });
  std::uint32_t written = 0;
  fz::StallWrites(1);
  EXPECT_TRUE(platform::WritePort(port, "ab", 2, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Elapsed(), 1000);  // the whole write time-out
  EXPECT_TRUE(platform::WritePort(port, "cd", 2, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(seen, (Bytes{'c', 'd'}));
  EXPECT_EQ(fz::Written(), (Bytes{'c', 'd'}));
}

TEST_F(FuzzLineTest, PurgeDropsOnlyWhatHasArrived) {
  const std::uint8_t now[] = {1, 2};
  const std::uint8_t later[] = {3};
  fz::Arrive(0, now, 2);
  fz::Arrive(40, later, 1);
  EXPECT_TRUE(platform::PurgePort(port, platform::kPurgeRxClear));
  EXPECT_EQ(ReadOne(), 3);
}

TEST_F(FuzzLineTest, PortsOpenOneAtATimeAndStopsComeOnTime) {
  EXPECT_EQ(platform::OpenPort("//.//COM2"), nullptr);
  EXPECT_TRUE(platform::ClosePort(port));
  EXPECT_FALSE(platform::ClosePort(port));
  fz::SetOpenFails(true);
  EXPECT_EQ(platform::OpenPort("//.//COM1"), nullptr);
  fz::SetOpenFails(false);
  port = platform::OpenPort("//.//COM1");
  EXPECT_NE(port, nullptr);

  platform::SetStoppable(true);
  fz::RequestStop(50);
  platform::Sleep(49);
  EXPECT_FALSE(platform::StopRequested());
  platform::Sleep(1);
  EXPECT_TRUE(platform::StopRequested());
}

// The stop rule of every platform: inside the stoppable section a stop ends
// the wait in progress and is reported while the section lasts; outside it
// the program ends at once and nothing is reported.
TEST_F(FuzzLineTest, StopsFollowTheStoppableSection) {
  fz::RequestStop(30);
  platform::Sleep(100);
  EXPECT_EQ(Elapsed(), 100);
  EXPECT_FALSE(platform::StopRequested());
  EXPECT_TRUE(fz::StopEndedProgram());

  fz::Reset(kStart);
  port = platform::OpenPort("//.//COM1");
  ASSERT_TRUE(
      platform::SetTimeouts(port, platform::CommTimeouts{platform::kMaxDword, 0, 400, 0, 0}));
  platform::SetStoppable(true);
  fz::RequestStop(30);
  EXPECT_EQ(ReadOne(), -1);
  EXPECT_EQ(Elapsed(), 30);  // the read's wait ended at the stop
  EXPECT_TRUE(platform::StopRequested());
  platform::Sleep(20);  // a later wait runs its course
  EXPECT_EQ(Elapsed(), 50);
  platform::SetStoppable(false);
  EXPECT_FALSE(platform::StopRequested());  // the close command waits as usual
  EXPECT_FALSE(fz::StopEndedProgram());
}

TEST_F(FuzzLineTest, ScriptRepliesFollowTheWritesWithTheirPauses) {
  fuzzline::ScriptWriter writer;
  writer.Raw({0xEE});  // on the line before anything is written
  writer.NextReply();
  writer.Ack();
  writer.Pause(70);
  writer.Frame({0xD5, 0x03});
  writer.NextReply();
  writer.StallWrite();
  writer.Stop();
  fuzzline::LineScript script(writer.Text().data(), writer.Text().size());
  platform::SetStoppable(true);
  EXPECT_EQ(script.ReplyCount(), 3u);
  script.Attach();
  EXPECT_EQ(ReadOne(), 0xEE);
  EXPECT_EQ(ReadOne(), -1);  // reply 1 waits for a write

  std::uint32_t written = 0;
  ASSERT_TRUE(platform::WritePort(port, "c", 1, &written));
  std::int64_t writeTime = fz::NowMs();
  Bytes got;
  for (int byte = ReadOne(); byte >= 0; byte = ReadOne()) got.push_back(byte);
  EXPECT_EQ(got, (Bytes{0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00,  // ACK
                        0x00, 0x00, 0xFF, 0x02, 0xFE, 0xD5, 0x03, 0x28, 0x00}));
  EXPECT_GE(fz::NowMs(), writeTime + 70);

  ASSERT_TRUE(platform::WritePort(port, "c", 1, &written));  // releases reply 2
  EXPECT_TRUE(platform::StopRequested());
  EXPECT_TRUE(platform::WritePort(port, "c", 1, &written));
  EXPECT_EQ(written, 0u);  // stalled
}

TEST(LineScriptTest, WellFormedFramesBecomeFrameOperationsAndCutScriptsStillDecode) {
  fuzzline::ScriptWriter writer;
  writer.Sent({0x00, 0x00, 0xFF, 0x02, 0xFE, 0xD5, 0x03, 0x28, 0x00});
  writer.Sent({0x00, 0x00, 0xFF, 0x02, 0xFE, 0xD5, 0x03, 0x29, 0x00});  // bad checksum
  writer.Sent({0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00});
  EXPECT_EQ(writer.Text(), (Bytes{fuzzline::kOpFrame, 0x02, 0xD5, 0x03, 0x08, 0x00, 0x00, 0xFF,
                                  0x02, 0xFE, 0xD5, 0x03, 0x29, 0x00, fuzzline::kOpAck}));
  // Operations cut short take what is there.
  for (const Bytes &cut : {Bytes{0x05, 0x01}, Bytes{fuzzline::kOpFrame, 0x09, 0x01},
                           Bytes{fuzzline::kOpPause}, Bytes{fuzzline::kOpFrame}}) {
    fuzzline::LineScript script(cut.data(), cut.size());
    EXPECT_EQ(script.ReplyCount(), 1u);
  }
}

TEST_F(FuzzLineTest, TheExchangeRunsOverTheFuzzingLine) {
  platform::ClosePort(port);
  fuzzline::ScriptWriter writer;
  writer.Raw({0x42, 0x42});  // stale bytes, drained before the command
  writer.NextReply();
  writer.Ack();
  writer.Frame({0xD5, 0x03});
  fuzzline::LineScript script(writer.Text().data(), writer.Text().size());
  script.Attach();
  CCmd cmd("COM1", 115200, 8, 0, 0, 50, 50, 1024);
  const std::uint8_t command[] = {0x03, 0x01, 0x02, 0x03};
  std::uint8_t response[256] = {};
  EXPECT_EQ(cmd.Transceive(command, response), kExchangeOk);
  EXPECT_EQ(Bytes(response, response + 3), (Bytes{0x02, 0xD5, 0x03}));
  EXPECT_EQ(fz::Written(), (Bytes{0x00, 0x00, 0xFF, 0x03, 0xFD, 0x01, 0x02, 0x03, 0xFA, 0x00}));
}

}  // namespace
