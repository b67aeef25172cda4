// brimlet's reader commands against a scripted R/W.
#include <gtest/gtest.h>

#include "plain/des_card.h"
#include "tests/support/scripted_rw.h"

namespace {

const Bytes kCardId = {0x01, 0x2E, 0x4C, 0x7A, 0x9B, 0xC3, 0xD5, 0xE7};
// Time-outs far beyond any answer's delay on a loaded machine; a case that
// waits for a time-out to run out sets a short one for that wait alone.
constexpr int kGenerousMs = 5000;
constexpr int kShortMs = 50;

class PlainCardTest : public ::testing::Test {
 protected:
  PlainCardTest() : card(pty.PortPath().c_str(), 115200, 8, 0, 0, kGenerousMs, kGenerousMs, 1024) {}
  // The answer of a card to the pass-through poll: `count` data bytes.
  static Bytes PollAnswer(int count, std::uint8_t cardLength) {
    Bytes answer(static_cast<std::size_t>(count), 0xA0);
    answer[0] = 0x5D;
    answer[1] = cardLength;
    answer[2] = 0x01;
    for (std::size_t i = 0; i < kCardId.size() && 3 + i < answer.size(); ++i) {
      answer[3 + i] = kCardId[i];
    }
    return answer;
  }
  PtyPair pty;
  plain::CDesCard card;
  std::uint8_t cardId[16] = {};
};

TEST_F(PlainCardTest, OpenAcceptsOnlyTheExactAnswer) {
  {
    ScriptedRw rw(pty, {{11, {{0, AckAndResponse({0x63, 0x00})}}}});
    EXPECT_EQ(card.OpenReader(), 0);
    EXPECT_EQ(Hex(rw.Received()), "00 00 FF 04 FC 62 21 25 F0 68 00");
  }
  for (const Bytes &wrong : {Bytes{0x63}, Bytes{0x63, 0x00, 0x00}, Bytes{0x64, 0x00}}) {
    ScriptedRw rw(pty, {{11, {{0, AckAndResponse(wrong)}}}});
    EXPECT_EQ(card.OpenReader(), 255) << Hex(wrong);
  }
}

TEST_F(PlainCardTest, CloseIgnoresSecondByteAndRestoresTimeouts) {
  {
    ScriptedRw rw(pty, {{8, {{0, AckAndResponse({0x55, 0xFF})}}}});
    EXPECT_EQ(card.CloseReader(), 0);
    EXPECT_EQ(Hex(rw.Received()), "00 00 FF 01 FF 54 AC 00");
  }
  {
    // The ACK comes after 200 ms: within the command's own 500 ms time-out.
    ScriptedRw rw(pty, {{8, {{200, kAckFrame}, {300, FrameOf({0x55, 0x00})}}}});
    EXPECT_EQ(card.CloseReader(), 0);
  }
  {
    ScriptedRw rw(pty, {{8, {}}});
    EXPECT_EQ(card.CloseReader(), kExchangeNoAck);
  }
  EXPECT_EQ(card.GetAckTimeout(), kGenerousMs);
  EXPECT_EQ(card.GetResponseTimeout(), kGenerousMs);
}

TEST_F(PlainCardTest, PollReturnsCardIdentifier) {
  ScriptedRw rw(pty, {{14, {{0, AckAndResponse(PollAnswer(19, 0x12))}}}});
  EXPECT_EQ(card.PollCard(0x0F, cardId), 0);
  EXPECT_EQ(Hex(Bytes(cardId, cardId + 8)), Hex(kCardId));
  EXPECT_EQ(cardId[8], 0);
  EXPECT_EQ(Hex(rw.Received()), "00 00 FF 07 F9 5C 06 00 FF FF 00 0F 91 00");
}

TEST_F(PlainCardTest, PollRejectsShortOrWrongAnswers) {
  const Bytes answers[] = {PollAnswer(19, 0x11), PollAnswer(18, 0x12),
                           [] {
                             Bytes a = PollAnswer(19, 0x12);
                             a[2] = 0x05;
                             return a;
                           }(),
                           [] {
                             Bytes a = PollAnswer(19, 0x12);
                             a[0] = 0x5E;
                             return a;
                           }()};
  for (const Bytes &answer : answers) {
    ScriptedRw rw(pty, {{14, {{0, AckAndResponse(answer)}}}});
    EXPECT_EQ(card.PollCard(0, cardId), 255) << Hex(answer);
  }
  {
    ScopedTimeouts shortResponse(card, kShortMs, kGenerousMs);
    ScriptedRw rw(pty, {{14, {{0, kAckFrame}}}});
    EXPECT_EQ(card.PollCard(0, cardId), kExchangeTimeout);
  }
  EXPECT_EQ(cardId[0], 0);  // never written by a failed poll
}

}  // namespace
