// kestrow's reader session against a scripted R/W. Plain mode keeps the
// frames readable; the sealed form is covered by the secure messaging tests
// and the end-to-end runs against the simulator.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "secure/des_card.h"
#include "secure/secure_messaging.h"
#include "tests/support/scripted_rw.h"

namespace {

const Bytes kReaderId = {0x52, 0x57, 0x53, 0x49, 0x4D, 0x00, 0x00, 0x01};
const Bytes kSessionKey = {0x3B, 0x8E, 0x51, 0xD2, 0x6C, 0x07, 0xA9, 0xF4};
const std::uint8_t kKa[8] = {0x5A, 0x3C, 0x96, 0x0F, 0x71, 0xE2, 0x48, 0xBD};
const std::uint8_t kKb[8] = {0xC3, 0x1E, 0x87, 0x64, 0x2B, 0xD9, 0x50, 0xA6};
constexpr std::size_t kAuthFrame = 26;  // 19 data bytes
constexpr std::size_t kPollFrame = 26;
constexpr std::size_t kCloseFrame = 16;
// Time-outs far beyond any answer's delay on a loaded machine; a case that
// waits for a time-out to run out sets a short one for that wait alone.
constexpr int kGenerousMs = 5000;
constexpr int kShortMs = 50;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The plain R/W's answers to the three authentication exchanges.
std::vector<Step> PlainAuthentication() {
  return {{10, {{0, AckAndResponse(Join({{0x01}, kReaderId}))}}},
          {kAuthFrame, {{0, AckAndResponse(Join({{0x03}, Bytes(8, 0), kSessionKey}))}}},
          {kAuthFrame, {{0, AckAndResponse({0x05, 0x00})}}}};
}

// A plain polling answer carrying the counter bytes and, if given, a card.
Bytes PollAnswer(std::uint8_t low, std::uint8_t high, bool card, std::uint8_t cardCode = 0x01) {
  Bytes answer = {0x8D, low, high, 0, 0, 0, 0, 0, 0};
  if (!card) return Join({answer, {0x00}});
  return Join(
      {answer, {0x12, cardCode}, {1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}});
}

class SecuredCardTest : public ::testing::Test {
 protected:
  SecuredCardTest()
      : card(pty.PortPath().c_str(), 115200, 8, 0, 0, kGenerousMs, kGenerousMs, 1024) {}
  void AuthenticatePlain() {
    card.SetPlainMode(true);
    ScriptedRw rw(pty, PlainAuthentication());
    ASSERT_EQ(card.Authenticate(kKa, kKb), 0);
  }
  PtyPair pty;
  secure::CDesCard card;
  std::uint8_t cardIdOut[16] = {};
};

TEST_F(SecuredCardTest, FreshSessionIsZeroAndDesOn) {
  EXPECT_EQ(Hex(Bytes(card.GetTransactionId(), card.GetTransactionId() + 8)), Hex(Bytes(8, 0)));
  EXPECT_EQ(Hex(Bytes(card.GetSessionKey(), card.GetSessionKey() + 8)), Hex(Bytes(8, 0)));
  EXPECT_FALSE(card.IsPlainMode());
}

TEST_F(SecuredCardTest, PlainAuthenticationFrames) {
  card.SetPlainMode(true);
  ScriptedRw rw(pty, PlainAuthentication());
  EXPECT_EQ(card.Authenticate(kKa, kKb), 0);
  Bytes sent = rw.Received();
  Bytes expected = Join({FrameOf({0x00, 0x00, 0x00}),
                         FrameOf(Join({{0x02, 0x00, 0x00}, kReaderId, Bytes(8, 0)})),
                         FrameOf(Join({{0x04, 0x00, 0x00}, kReaderId, kSessionKey}))});
  EXPECT_EQ(Hex(sent), Hex(expected));
  EXPECT_EQ(Hex(Bytes(card.GetSessionKey(), card.GetSessionKey() + 8)), Hex(kSessionKey));
  EXPECT_EQ(card.GetAckTimeout(), kGenerousMs);
  EXPECT_EQ(card.GetResponseTimeout(), kGenerousMs);
}

TEST_F(SecuredCardTest, AuthenticationFailures) {
  card.SetPlainMode(true);
  {
    // A wrong challenge answer: 255, no third exchange, no session key.
    ScriptedRw rw(pty, {{10, {{0, AckAndResponse(Join({{0x01}, kReaderId}))}}},
                        {kAuthFrame,
                         {{0, AckAndResponse(Join({{0x03}, Bytes(7, 0), {0x01}, kSessionKey}))}}}});
    EXPECT_EQ(card.Authenticate(kKa, kKb), 255);
    EXPECT_EQ(Hex(pty.ReadAll(200)), "");
  }
  EXPECT_EQ(Hex(Bytes(card.GetSessionKey(), card.GetSessionKey() + 8)), Hex(Bytes(8, 0)));
  {
    // An identifier answer too short to hold the identifier.
    ScriptedRw rw(pty, {{10, {{0, AckAndResponse({0x01, 0x52, 0x57})}}}});
    EXPECT_EQ(card.Authenticate(kKa, kKb), 255);
  }
  {
    ScriptedRw rw(pty, {{10, {}}});
    EXPECT_EQ(card.Authenticate(kKa, kKb), kExchangeNoAck);
  }
  {
    std::vector<Step> steps = PlainAuthentication();
    steps[2].replies = {{0, AckAndResponse({0x05, 0x01})}};
    ScriptedRw rw(pty, steps);
    EXPECT_EQ(card.Authenticate(kKa, kKb), 255);
    EXPECT_EQ(Hex(Bytes(card.GetSessionKey(), card.GetSessionKey() + 8)), Hex(kSessionKey));
  }
  EXPECT_EQ(card.GetAckTimeout(), kGenerousMs);
  EXPECT_EQ(card.GetResponseTimeout(), kGenerousMs);
}

TEST_F(SecuredCardTest, PlainPollAndCloseFramesFollowTheCounter) {
  AuthenticatePlain();
  // The default response time-out, as the frames carry it. The answers come
  // with their ACK, so the short wait cannot run out.
  card.SetResponseTimeout(50);
  {
    ScopedTimeouts shortAck(card, 50, kShortMs);
    ScriptedRw rw(pty, {{kPollFrame, {}}});  // no ACK: counter 0002h
    EXPECT_EQ(card.PollCard(0, cardIdOut), kExchangeNoAck);
  }
  {
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse(PollAnswer(0x05, 0x00, false))}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 2);  // counter 0005h
  }
  {
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse(PollAnswer(0x08, 0x00, true))}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 0);
    EXPECT_EQ(Hex(rw.Received()),
              "00 00 FF 13 ED 8C 07 00 00 00 00 00 00 00 01 F4 00 01 06 00 FF FF 00 00 73 00");
  }
  EXPECT_EQ(Hex(Bytes(card.GetCardId(), card.GetCardId() + 8)), "01 02 03 04 05 06 07 08");
  EXPECT_EQ(Hex(Bytes(card.GetCardParameters(), card.GetCardParameters() + 8)),
            "09 0A 0B 0C 0D 0E 0F 10");
  EXPECT_EQ(cardIdOut[0], 0);  // this reader keeps the card data itself
  {
    ScriptedRw rw(pty, {{kCloseFrame, {{0, AckAndResponse({0x07, 0x0B, 0x00})}}}});
    EXPECT_EQ(card.CloseSession(), 0);
    EXPECT_EQ(Hex(rw.Received()), "00 00 FF 09 F7 06 0A 00 00 00 00 00 00 00 F0 00");
  }
}

TEST_F(SecuredCardTest, PollAnswersThatFail) {
  AuthenticatePlain();
  {
    // A card that answers with another code: 255, card data untouched.
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse(PollAnswer(0x03, 0x00, true, 0x05))}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);
    EXPECT_EQ(Hex(Bytes(card.GetCardId(), card.GetCardId() + 8)), Hex(Bytes(8, 0)));
  }
  {
    // A short answer that passes the code and counter checks: no card.
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse({0x8D, 0x06, 0x00})}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 2);
  }
  {
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse({0x8E, 0x09, 0x00})}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);
  }
  {
    // The counter one too low (the command carried 0Ah and expects 0Bh):
    // diagnostics, "IDTR Error", 255.
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse(PollAnswer(0x0A, 0x00, true))}}}});
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "IDTR Error");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "IDt Error!!\nNow IDtr(Controller): 0b 00 Get IDtr(R/W):0a 00\nSn:000b\n");
  }
  {
    // The next command is built from the controller's own count, three
    // steps on from the failed one.
    ScopedTimeouts shortAck(card, kGenerousMs, kShortMs);
    ScriptedRw rw(pty, {{kPollFrame, {}}});
    card.PollCard(3, cardIdOut);
    Bytes sent = rw.Received();
    ASSERT_EQ(sent.size(), kPollFrame);
    EXPECT_EQ(sent[6], 0x0D);
    EXPECT_EQ(sent[23], 0x03);  // the time slot
  }
}

// Answers that end before the bytes read from them: wrong answers, never a
// card made of the zero fill. The plain short form of 3 to 9 bytes is the
// one that reads as no card.
TEST_F(SecuredCardTest, TruncatedAnswersAreWrong) {
  AuthenticatePlain();
  Bytes full = PollAnswer(0x03, 0x00, true);
  {
    ScriptedRw rw(pty,
                  {{kPollFrame, {{0, AckAndResponse(Bytes(full.begin(), full.begin() + 12))}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);  // length byte and code, no identifier
  }
  {
    Bytes answer(full.begin(), full.end() - 1);
    answer[1] = 0x06;
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse(answer)}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);  // one parameter byte short
  }
  EXPECT_EQ(Hex(Bytes(card.GetCardId(), card.GetCardId() + 8)), Hex(Bytes(8, 0)));
  {
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse({0x8D, 0x09})}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 255);  // the counter's high byte missing
  }
  {
    ScriptedRw rw(pty, {{kPollFrame, {{0, AckAndResponse({0x8D, 0x0B, 0x00, 0x00})}}}});
    EXPECT_EQ(card.PollCard(0, cardIdOut), 2);  // the short form: no card
  }
  {
    ScriptedRw rw(pty, {{kCloseFrame, {{0, AckAndResponse({0x07, 0x13})}}}});
    EXPECT_EQ(card.CloseSession(), 255);
  }
}

// The same with sealed answers: only the data blocks count, not the MAC.
TEST_F(SecuredCardTest, SealedAnswerWithoutCardDataIsWrong) {
  AuthenticatePlain();
  card.SetPlainMode(false);
  std::uint8_t answer[256] = {};
  Bytes plain = PollAnswer(0x03, 0x00, true);
  plain.resize(19);  // card answer length and code, identifier, no parameters
  answer[0] = static_cast<std::uint8_t>(plain.size());
  std::copy(plain.begin(), plain.end(), answer + 1);
  ASSERT_TRUE(secure::SealMessage(kSessionKey.data(), answer));
  constexpr std::size_t kSealedPollFrame = 40;
  ScriptedRw rw(
      pty, {{kSealedPollFrame, {{0, AckAndResponse(Bytes(answer + 1, answer + 1 + answer[0]))}}}});
  EXPECT_EQ(card.PollCard(0, cardIdOut), 255);
  EXPECT_EQ(Hex(Bytes(card.GetCardId(), card.GetCardId() + 8)), Hex(Bytes(8, 0)));
}

TEST_F(SecuredCardTest, PollCarriesResponseTimeout) {
  AuthenticatePlain();
  const struct {
    int timeoutMs;
    const char *bytes;
  } kCases[] = {{50, "01 F4"}, {100, "03 E8"}, {6554, "00 04"}};
  card.SetAckTimeout(kShortMs);
  for (const auto &c : kCases) {
    card.SetResponseTimeout(c.timeoutMs);
    ScriptedRw rw(pty, {{kPollFrame, {}}});
    card.PollCard(0, cardIdOut);
    Bytes sent = rw.Received();
    ASSERT_EQ(sent.size(), kPollFrame);
    EXPECT_EQ(Hex(Bytes(sent.begin() + 14, sent.begin() + 16)), c.bytes);
  }
}

TEST_F(SecuredCardTest, CloseWithoutAnswerRestoresTimeouts) {
  AuthenticatePlain();
  ScriptedRw rw(pty, {{kCloseFrame, {}}});
  EXPECT_EQ(card.CloseSession(), kExchangeNoAck);
  EXPECT_EQ(card.GetAckTimeout(), kGenerousMs);
  EXPECT_EQ(card.GetResponseTimeout(), kGenerousMs);
}

TEST_F(SecuredCardTest, TransactionCounterCheck) {
  const std::uint8_t one[2] = {0x01, 0x00};
  const std::uint8_t five[2] = {0x05, 0x00};
  EXPECT_EQ(card.CheckTransactionId(one), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(card.CheckTransactionId(five), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "IDt Error!!\nNow IDtr(Controller): 02 00 Get IDtr(R/W):05 00\nSn:0002\n");
  for (int i = 2; i < 0xFFFF; ++i) card.CheckTransactionId(card.GetTransactionId());
  EXPECT_EQ(card.GetTransactionId()[0], 0xFF);
  EXPECT_EQ(card.GetTransactionId()[1], 0xFF);
  const std::uint8_t zero[2] = {0x00, 0x00};
  EXPECT_EQ(card.CheckTransactionId(zero), 1);
}

}  // namespace
