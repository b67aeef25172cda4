// The faults of a long soak by the simulator's clock: the card's drifting
// probability, the flapping line and the terminal's absences, each at times
// the test hands in (no waiting). The expected values are worked out by
// hand in the comments.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/reader_model.h"
#include "sim/schedule.h"
#include "sim/simulator.h"
#include "sim/soak_plan.h"
#include "tests/support/scripted_rw.h"

namespace {

TEST(SoakPlanTest, SecondsAreReadToTheMillisecond) {
  const struct {
    const char *text;
    long long ms;  // -1: refused
  } kCases[] = {
      {"90", 90000},      {"0.5", 500}, {"1.25", 1250}, {"0", 0},      {"31622400", 31622400000},
      {"31622400.1", -1}, {"-1", -1},   {"1e3", -1},    {"", -1},      {"1,5", -1},
      {"12h", -1},        {".25", 250}, {"2.", 2000},   {"1.2.3", -1},
  };
  for (const auto &c : kCases) {
    std::string why;
    std::optional<sim::SimMs> ms = sim::ParseSeconds(c.text, &why);
    EXPECT_EQ(ms ? *ms : -1, c.ms) << c.text;
    EXPECT_EQ(ms.has_value(), why.empty()) << c.text << ": " << why;
  }
}

TEST(SoakPlanTest, DriftMovesTheProbabilityInAStraightLineThenStays) {
  sim::CardSchedule cards;
  ASSERT_TRUE(cards.ParseDrift("0.9,0.5,100"));
  // 0.9 - 0.4 * t / 100 s, then 0.5.
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(0), 0.9);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(25000), 0.8);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(50000), 0.7);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(99000), 0.504);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(100000), 0.5);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(3600000), 0.5);
  // Upwards, over half a second.
  ASSERT_TRUE(cards.ParseDrift("0,1,0.5"));
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(125), 0.25);
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(500), 1.0);
  // --card after --drift replaces it, and the other way round.
  ASSERT_TRUE(cards.Parse("p=0.3"));
  EXPECT_DOUBLE_EQ(cards.ProbabilityAt(125), 0.3);
  ASSERT_TRUE(cards.Parse("oo."));
  EXPECT_LT(cards.ProbabilityAt(0), 0);
  EXPECT_FALSE(cards.Present(3, 500));
  ASSERT_TRUE(cards.ParseDrift("1,1,10"));
  EXPECT_TRUE(cards.Present(3, 500));
}

TEST(SoakPlanTest, DriftRefusesWhatItCannotDo) {
  sim::CardSchedule cards;
  for (const char *text : {"0.9,0.5", "0.9,0.5,100,1", "1.5,0.5,10", "0.9,p=0.5,10", "0.9,0.5,0",
                           "0.9,0.5,-3", "", ",,", "0.9,0.5,10,"}) {
    std::string why;
    EXPECT_FALSE(cards.ParseDrift(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

// The draws follow the probability of the moment, from the seeded
// generator: the same seed and times give the same cards.
TEST(SoakPlanTest, DriftDrawsAtTheProbabilityOfTheMoment) {
  auto cardsAt = [](std::uint32_t seed, sim::SimMs now, int attempts) {
    sim::CardSchedule cards;
    EXPECT_TRUE(cards.ParseDrift("1,0.25,60"));
    cards.Seed(seed);
    std::string seen;
    for (int i = 1; i <= attempts; ++i) seen += cards.Present(i, now) ? 'o' : '.';
    return seen;
  };
  EXPECT_EQ(cardsAt(7, 0, 200), std::string(200, 'o'));
  std::string late = cardsAt(7, 120000, 4000);
  double share = static_cast<double>(std::count(late.begin(), late.end(), 'o')) / 4000;
  // 0.25 with a standard deviation of sqrt(0.25 * 0.75 / 4000) = 0.0068.
  EXPECT_GT(share, 0.22);
  EXPECT_LT(share, 0.28);
  EXPECT_EQ(cardsAt(7, 30000, 500), cardsAt(7, 30000, 500));
  EXPECT_NE(cardsAt(7, 30000, 500), cardsAt(8, 30000, 500));
}

TEST(SoakPlanTest, FlapSilencesTheLastSecondsOfEveryPeriod) {
  sim::FlapPlan flap;
  EXPECT_FALSE(flap.Silent(0));  // no flap asked for
  ASSERT_TRUE(flap.Parse("10,3", nullptr));
  // Silent from 7 s to 10 s, 17 s to 20 s, ...
  const struct {
    sim::SimMs now;
    bool silent;
  } kTimes[] = {{0, false},    {6999, false},          {7000, true},
                {9999, true},  {10000, false},         {16999, false},
                {17000, true}, {3600000 + 8500, true}, {3600000 + 500, false}};
  for (const auto &t : kTimes) EXPECT_EQ(flap.Silent(t.now), t.silent) << t.now;
  ASSERT_TRUE(flap.Parse("1.5,0.25", nullptr));
  EXPECT_FALSE(flap.Silent(1249));
  EXPECT_TRUE(flap.Silent(1250));
  EXPECT_TRUE(flap.Silent(2999));
  EXPECT_FALSE(flap.Silent(3000));
  for (const char *text : {"10,10", "10,0", "10,11", "0,0", "10", "10,3,1", "a,3"}) {
    std::string why;
    sim::FlapPlan refused;
    EXPECT_FALSE(refused.Parse(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

TEST(SoakPlanTest, UnplugWindowsAndTheirEdges) {
  sim::UnplugPlan plan;
  EXPECT_FALSE(plan.Away(0));
  EXPECT_FALSE(plan.NextChange(0).has_value());
  ASSERT_TRUE(plan.Add("20,1", nullptr));
  ASSERT_TRUE(plan.Add("5,2.5", nullptr));
  // Away from 5 s to 7.5 s and from 20 s to 21 s.
  const struct {
    sim::SimMs now;
    bool away;
    sim::SimMs next;  // -1: none
  } kTimes[] = {{0, false, 5000},     {4999, false, 5000},  {5000, true, 7500},
                {7499, true, 7500},   {7500, false, 20000}, {20000, true, 21000},
                {20999, true, 21000}, {21000, false, -1},   {99000, false, -1}};
  for (const auto &t : kTimes) {
    EXPECT_EQ(plan.Away(t.now), t.away) << t.now;
    std::optional<sim::SimMs> next = plan.NextChange(t.now);
    EXPECT_EQ(next ? *next : -1, t.next) << t.now;
  }
  // An overlapping window makes one longer absence: 5 s to 9 s.
  ASSERT_TRUE(plan.Add("6,3", nullptr));
  EXPECT_TRUE(plan.Away(7600));
  EXPECT_TRUE(plan.Away(8999));
  EXPECT_FALSE(plan.Away(9000));
  for (const char *text : {"5,0", "5", "5,1,1", ",1", "5,-1", "x,1"}) {
    std::string why;
    EXPECT_FALSE(plan.Add(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

// The flap silences polls only; opening the R/W and closing it are
// answered, so a tool can reconnect through a flap.
TEST(SoakPlanTest, FlappingReaderIgnoresPollsOnly) {
  const std::uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::uint8_t params[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  sim::PlainReader reader(id, params);
  sim::CardSchedule cards;
  sim::FaultPlan faults;
  sim::FlapPlan flap;
  ASSERT_TRUE(flap.Parse("60,5", nullptr));
  sim::Simulator simulator(reader, cards, faults, nullptr, flap);
  auto send = [&](const Bytes &data, sim::SimMs now) {
    Bytes wire = FrameOf(data);
    return simulator.OnInput(wire.data(), wire.size(), now).size();
  };
  const Bytes poll = {0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  EXPECT_EQ(send({0x62, 0x21, 0x25, 0xF0}, 56000), 2u);  // open: ACK and answer
  EXPECT_EQ(send(poll, 54999), 2u);
  EXPECT_EQ(send(poll, 55000), 0u);  // not even an ACK
  EXPECT_EQ(send(poll, 59999), 0u);
  EXPECT_EQ(send({0x54}, 57000), 2u);  // close
  EXPECT_EQ(send(poll, 60000), 2u);
}

}  // namespace
