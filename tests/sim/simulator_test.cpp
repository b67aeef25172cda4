// The simulator's frame reading, schedules and fault injection.
#include <gtest/gtest.h>

#include "sim/frame_parser.h"
#include "sim/reader_model.h"
#include "sim/schedule.h"
#include "sim/simulator.h"
#include "tests/support/scripted_rw.h"

namespace {

using sim::Fault;
using sim::Target;

std::vector<sim::ParsedFrame> FeedAll(sim::FrameParser &parser, const Bytes &bytes) {
  return parser.Feed(bytes.data(), bytes.size());
}

TEST(FrameParserTest, ResynchronisesOnNextStartCode) {
  sim::FrameParser parser;
  Bytes stream = {0x13, 0xFF, 0x00, 0x00, 0xFF, 0x03, 0x10};  // garbage, a bad LCS
  Bytes good = FrameOf({0x5C, 0x06});
  stream.insert(stream.end(), good.begin(), good.end());
  auto frames = FeedAll(parser, stream);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].checksumOk);
  EXPECT_EQ(Hex(frames[0].data), "5C 06");
}

TEST(FrameParserTest, FramesSplitAcrossReadsAndBadChecksums) {
  sim::FrameParser parser;
  Bytes frame = FrameOf({0x62, 0x21, 0x25, 0xF0});
  EXPECT_TRUE(FeedAll(parser, Bytes(frame.begin(), frame.begin() + 4)).empty());
  auto frames = FeedAll(parser, Bytes(frame.begin() + 4, frame.end()));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(Hex(frames[0].data), "62 21 25 F0");
  Bytes bad = FrameOf({0x54});
  bad[6] ^= 1;
  Bytes next = FrameOf({0x54});
  bad.insert(bad.end(), next.begin(), next.end());
  frames = FeedAll(parser, bad);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FALSE(frames[0].checksumOk);
  EXPECT_TRUE(frames[1].checksumOk);
  Bytes empty = FrameOf({});
  frames = FeedAll(parser, empty);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].data.empty());
}

TEST(ScheduleTest, CardPatternsAndFaultLists) {
  sim::CardSchedule cards;
  ASSERT_TRUE(cards.Parse("oo."));
  EXPECT_TRUE(cards.Present(1));
  EXPECT_FALSE(cards.Present(3));
  EXPECT_TRUE(cards.Present(4));
  EXPECT_FALSE(cards.Parse("ox"));
  EXPECT_FALSE(cards.Parse("p=1.5"));
  ASSERT_TRUE(cards.Parse("p=0.5"));
  int present = 0;
  for (int i = 1; i <= 1000; ++i) present += cards.Present(i);
  EXPECT_GT(present, 400);
  EXPECT_LT(present, 600);

  sim::FaultPlan plan;
  EXPECT_EQ(plan.Add("no-ack@2,5-6,c1,x3"), "");
  EXPECT_EQ(plan.Add("response-delay=30@5"), "");
  EXPECT_TRUE(plan.For(Target::kPoll, 2).Has(Fault::kNoAck));
  EXPECT_FALSE(plan.For(Target::kPoll, 3).Has(Fault::kNoAck));
  EXPECT_TRUE(plan.For(Target::kPoll, 6).Has(Fault::kNoAck));
  EXPECT_EQ(plan.For(Target::kPoll, 5).responseDelayMs, 30);
  EXPECT_TRUE(plan.For(Target::kConnect, 1).Has(Fault::kNoAck));
  EXPECT_TRUE(plan.For(Target::kClose, 3).Has(Fault::kNoAck));
  EXPECT_FALSE(plan.For(Target::kConnect, 2).Has(Fault::kNoAck));
  EXPECT_NE(plan.Add("lost@1"), "");
  EXPECT_NE(plan.Add("no-ack@0"), "");
  EXPECT_NE(plan.Add("no-ack@3-1"), "");
  EXPECT_NE(plan.Add("no-ack"), "");
}

TEST(SimulatorTest, PlainReaderAnswersAndFaults) {
  const std::uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::uint8_t params[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  sim::PlainReader reader(id, params);
  sim::CardSchedule cards;
  ASSERT_TRUE(cards.Parse("o."));
  sim::FaultPlan plan;
  plan.Add("bad-checksum@3");
  plan.Add("no-ack@c2");
  sim::Simulator simulator(reader, cards, plan, nullptr);
  auto send = [&](const Bytes &data) {
    Bytes wire = FrameOf(data);
    return simulator.OnInput(wire.data(), wire.size());
  };
  auto open = send({0x62, 0x21, 0x25, 0xF0});
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open[0].bytes, kAckFrame);
  EXPECT_EQ(open[1].bytes, FrameOf({0x63, 0x00}));
  auto poll = send({0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00});
  ASSERT_EQ(poll.size(), 2u);
  EXPECT_EQ(Hex(poll[1].bytes),
            Hex(FrameOf({0x5D, 0x12, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9, 9})));
  EXPECT_EQ(send({0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}).size(), 1u);  // no card: ACK only
  auto bad = send({0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00});
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_NE(bad[1].bytes, poll[1].bytes);
  EXPECT_EQ(bad[1].bytes.size(), poll[1].bytes.size());
  EXPECT_TRUE(send({0x62, 0x21, 0x25, 0xF0}).empty());  // second connection: no ACK
  EXPECT_EQ(send({0x33}).size(), 1u);                   // unknown command: ACK only
}

}  // namespace
