// Byte transfers, frames and exchanges, with the test playing the R/W on the
// master side of a pseudo-terminal.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "link/cmd.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_rw.h"

namespace {

const Bytes kResponse = {0x00, 0x00, 0xFF, 0x02, 0xFE, 0xD5, 0x03, 0x28, 0x00};
const std::uint8_t kCommand[] = {0x03, 0x01, 0x02, 0x03};

// Time-outs far beyond any answer's delay on a loaded machine; a case that
// waits for a time-out to run out sets a short one for that wait alone.
constexpr int kGenerousMs = 5000;
constexpr int kShortMs = 50;

class CCmdTest : public ::testing::Test {
 protected:
  CCmdTest() : cmd(pty.PortPath().c_str(), 115200, 8, 0, 0, kGenerousMs, kGenerousMs, 1024) {}
  PtyPair pty;
  CCmd cmd;
  std::uint8_t response[256] = {};
};

TEST(FrameTest, EncodesWorkedFrames) {
  std::uint8_t out[frame::kMaxFrame];
  const std::uint8_t data[] = {0x01, 0x02, 0x03};
  int n = frame::Encode(data, 3, out);
  EXPECT_EQ(Hex(Bytes(out, out + n)), "00 00 FF 03 FD 01 02 03 FA 00");
  n = frame::Encode(data, 0, out);
  EXPECT_EQ(Hex(Bytes(out, out + n)), "00 00 FF 00 00 00 00");
}

TEST_F(CCmdTest, SendsFramesInBothForms) {
  EXPECT_TRUE(cmd.SendFrame(kCommand));
  EXPECT_EQ(Hex(pty.Read(10, 1000)), "00 00 FF 03 FD 01 02 03 FA 00");
  const std::uint8_t data[] = {0x54};
  EXPECT_TRUE(cmd.SendFrame(data, 0x101));  // only the low 8 bits count
  EXPECT_EQ(Hex(pty.Read(8, 1000)), "00 00 FF 01 FF 54 AC 00");
}

TEST_F(CCmdTest, ExchangeReturnsGoodResponse) {
  Bytes reply = kAckFrame;
  reply.insert(reply.end(), kResponse.begin(), kResponse.end());
  ScriptedRw rw(pty, {{10, {{0, reply}}}});
  EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeOk);
  EXPECT_EQ(Hex(Bytes(response, response + 3)), "02 D5 03");
  EXPECT_EQ(Hex(rw.Received()), "00 00 FF 03 FD 01 02 03 FA 00");
}

TEST_F(CCmdTest, PointerAndCountExchangeMatches) {
  ScriptedRw rw(pty, {{10, {{0, kAckFrame}, {5, kResponse}}}});
  EXPECT_EQ(cmd.Transceive(kCommand + 1, 3, response), kExchangeOk);
  EXPECT_EQ(Hex(Bytes(response, response + 3)), "02 D5 03");
}

TEST_F(CCmdTest, ExchangeFailures) {
  {
    ScopedTimeouts shortAck(cmd, kGenerousMs, kShortMs);
    ScriptedRw rw(pty, {{10, {}}});
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeNoAck);
  }
  {
    ScopedTimeouts shortResponse(cmd, kShortMs, kGenerousMs);
    ScriptedRw rw(pty, {{10, {{0, kAckFrame}}}});
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeTimeout);
  }
  {
    Bytes twoAcks = kAckFrame;
    twoAcks.insert(twoAcks.end(), kAckFrame.begin(), kAckFrame.end());
    ScriptedRw rw(pty, {{10, {{0, twoAcks}}}});
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeGotAck);
  }
  {
    Bytes bad = kResponse;
    bad[7] ^= 1;  // data checksum off by one
    ScriptedRw rw(pty, {{10, {{0, kAckFrame}, {0, bad}}}});
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeBadFrame);
  }
  {
    ScriptedRw rw(pty, {{10, {{0, kResponse}}}});  // data frame where the ACK belongs
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeNoAck);
  }
  {
    ScriptedRw rw(
        pty, {{10, {{0, kAckFrame}, {0, {0x00, 0x00, 0xFF, 0x03, 0xFB}}}}});  // LEN + LCS = FEh
    EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeBadFrame);
  }
}

TEST_F(CCmdTest, ReceiveFrameReadsLengthChecksumAsAck) {
  pty.Write({0x00, 0x00, 0xFF, 0x05, 0xFA, 0x00});
  EXPECT_EQ(cmd.ReceiveFrame(response, 200), kExchangeGotAck);
  pty.Write({0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00});
  EXPECT_EQ(cmd.ReceiveFrame(response, 200), kExchangeGotAck);
  // The three leading bytes are not examined.
  pty.Write({0x11, 0x22, 0x33, 0x03, 0xFD, 0x01, 0x02, 0x03, 0xFA, 0x00});
  EXPECT_EQ(cmd.ReceiveFrame(response, 200), kExchangeOk);
  EXPECT_EQ(Hex(Bytes(response, response + 4)), "03 01 02 03");
}

TEST_F(CCmdTest, ReceivesLongestFrame) {
  Bytes data(255);
  for (int i = 0; i < 255; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::uint8_t wire[frame::kMaxFrame];
  int n = frame::Encode(data.data(), 255, wire);
  pty.Write(Bytes(wire, wire + n));
  EXPECT_EQ(cmd.ReceiveFrame(response, 200), kExchangeOk);
  EXPECT_EQ(response[0], 0xFF);
  EXPECT_EQ(Bytes(response + 1, response + 256), data);
}

TEST_F(CCmdTest, StaleInputIsDrainedBeforeTheCommand) {
  pty.Write({0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x13, 0x37});  // a late ACK and noise
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ScriptedRw rw(pty, {{10, {{0, kAckFrame}, {0, kResponse}}}});
  EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeOk);
  EXPECT_EQ(response[1], 0xD5);
}

TEST_F(CCmdTest, SlowBytesWithinInactivityTimeoutSucceed) {
  std::vector<std::pair<int, Bytes>> pieces;
  for (std::uint8_t b : kResponse) pieces.push_back({400, {b}});
  ScriptedRw rw(pty, {{0, pieces}});
  // The whole frame takes well over the time-out; each byte comes within it.
  EXPECT_EQ(cmd.ReceiveFrame(response, 2000), kExchangeOk);
  EXPECT_EQ(Hex(Bytes(response, response + 3)), "02 D5 03");
}

TEST_F(CCmdTest, ReadBytesWithoutLimitWaitsForAllBytes) {
  ScriptedRw rw(pty, {{0, {{300, {0xAA}}, {300, {0xBB}}}}});
  std::uint8_t buffer[2];
  std::uint32_t received = 0;
  EXPECT_TRUE(cmd.ReadBytes(buffer, 2, received, 0));
  EXPECT_EQ(received, 2u);
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(buffer[1], 0xBB);
}

TEST_F(CCmdTest, ReadFailsWhenTheFarEndGoesAway) {
  std::uint8_t buffer[4];
  std::uint32_t received = 0;
  auto *far = new PtyPair;
  CCmd gone(far->PortPath().c_str(), 115200, 8, 0, 0, 50, 50, 1024);
  delete far;
  EXPECT_FALSE(gone.ReadBytes(buffer, 4, received, 0));  // must not wait for ever
  EXPECT_EQ(gone.Transceive(kCommand, response), kExchangeNoAck);
}

// An R/W that never stops sending, seen as more input waiting than the
// drain takes: it gives up after a bounded amount, the exchange fails as a
// bad one and nothing is sent.
TEST_F(CCmdTest, BabblingInputFailsTheExchange) {
  pty.Write(Bytes(8192, 0x55));
  EXPECT_EQ(cmd.Transceive(kCommand, response), kExchangeBadFrame);
  Bytes sent = pty.ReadAll(200);
  EXPECT_EQ(Hex(sent), "");
}

// The close command is the last the R/W hears: it goes out after the same
// bounded drain, even into the noise, and the exchange fails without an ACK.
TEST_F(CCmdTest, CloseCommandGoesOutToABabblingReader) {
  pty.Write(Bytes(8192, 0x55));
  EXPECT_EQ(cmd.TransceiveClose(kCommand + 1, kCommand[0], response), kExchangeNoAck);
  EXPECT_EQ(Hex(pty.ReadAll(200)), "00 00 FF 03 FD 01 02 03 FA 00");
}

TEST_F(CCmdTest, AccessorsAndScopedTimeouts) {
  cmd.SetAckTimeout(50);
  cmd.SetResponseTimeout(60);
  EXPECT_EQ(cmd.GetAckTimeout(), 50);
  EXPECT_EQ(cmd.GetResponseTimeout(), 60);
  {
    ScopedTimeouts scoped(cmd, 1000, 500);
    EXPECT_EQ(cmd.GetResponseTimeout(), 1000);
    EXPECT_EQ(cmd.GetAckTimeout(), 500);
  }
  EXPECT_EQ(cmd.GetResponseTimeout(), 60);
  EXPECT_EQ(cmd.GetAckTimeout(), 50);
  std::uint32_t count = 0;
  EXPECT_FALSE(cmd.ReadBytes(nullptr, 1, count, 10));
  EXPECT_FALSE(cmd.WriteBytes(nullptr, 1, count, 10));
}

}  // namespace
