// Which attempts of a reader's log were made while its R/W was gone, and the
// spans it was gone for, over the ways a bench loses an R/W: a cable pulled
// during a run and put back before the next, a reconnection that fails and
// a later start that finds the R/W again, an R/W gone at the end.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/log_event.h"
#include "report/rw_losses.h"
#include "tests/support/log_lines.h"

namespace {

using loglines::Attempt;
using loglines::Connect;
using loglines::Event;
using loglines::Open;
using loglines::Reconnect;
using rwloss::AttemptKind;

std::string Card(long long t, int run, int n) { return Attempt(t, run, n, 0, 9000, "none"); }
std::string PortError(long long t, int run, int n) {
  return Attempt(t, run, n, 2, 1000, "port error");
}

struct Replayed {
  rwloss::LossTracker tracker;
  std::string kinds;                 // one letter per attempt: c card finding, L loss
  std::vector<long long> runLosses;  // per run event
};

Replayed Replay(const std::vector<std::string> &lines) {
  logread::EventParser parser;
  Replayed out;
  for (std::string line : lines) {
    line.pop_back();
    logread::LogEvent event;
    std::string error;
    EXPECT_TRUE(parser.Parse(line, &event, &error)) << line << ": " << error;
    AttemptKind kind = out.tracker.Apply(event);
    if (event.kind == logread::EventKind::kAttempt)
      out.kinds += kind == AttemptKind::kLoss ? 'L' : 'c';
    if (event.kind == logread::EventKind::kRun)
      out.runLosses.push_back(out.tracker.RunLossAttempts());
  }
  return out;
}

TEST(LossTrackerTest, CablePulledDuringARunAndBackForTheNext) {
  Replayed r =
      Replay({loglines::Start(0), Open(100, true), Connect(1000, true), Card(2000, 1, 1),
              Card(3000, 1, 2), PortError(4000, 1, 3), PortError(5000, 1, 4),
              loglines::Run(6000, 1, 2, 4, "50.00"), Open(6400, true), Connect(6500, true),
              Reconnect(6600, 2, true), Card(7000, 2, 1), loglines::Run(8000, 2, 1, 1, "100.00")});
  EXPECT_EQ(r.kinds, "ccLLc");
  EXPECT_EQ(r.runLosses, (std::vector<long long>{2, 0}));
  ASSERT_EQ(r.tracker.Episodes().size(), 1u);
  const rwloss::LossEpisode &lost = r.tracker.Episodes()[0];
  EXPECT_EQ(lost.startUs, 4000);
  EXPECT_EQ(lost.endUs, 6500);  // the connection that brought it back
  EXPECT_TRUE(lost.ended);
  EXPECT_EQ(lost.attempts, 2);
  EXPECT_FALSE(r.tracker.Lost());
  EXPECT_EQ(r.tracker.LossAttempts(), 2);
  EXPECT_DOUBLE_EQ(r.tracker.LostSeconds(), 0.0025);
}

// The tool ends after its reconnection fails; the station starts it again
// while the port is still missing, then once more when it is back.
TEST(LossTrackerTest, FailedReconnectionLastsUntilALaterStartConnects) {
  Replayed r = Replay(
      {loglines::Start(0), Open(10, true), Connect(20, true), Card(30, 1, 1),
       loglines::Run(40, 1, 1, 1, "100.00"), Open(50, false), Reconnect(60, 2, false),
       Event(70, "stop", "\"reason\":\"reconnection failed\""), loglines::Start(2000000),
       Open(2000010, false), loglines::Start(5000000), Open(5000010, true), Connect(5000020, false),
       loglines::Start(9000000), Open(9000010, true), Connect(9500000, true), Card(9600000, 1, 1)});
  EXPECT_EQ(r.kinds, "cc");
  ASSERT_EQ(r.tracker.Episodes().size(), 1u);
  // It began with the port that would not open again after a connection had
  // worked, and lasted through two starts that could not reach it.
  EXPECT_EQ(r.tracker.Episodes()[0].startUs, 50);
  EXPECT_EQ(r.tracker.Episodes()[0].endUs, 9500000);
  EXPECT_EQ(r.tracker.LossAttempts(), 0);
  EXPECT_DOUBLE_EQ(r.tracker.LostSeconds(), 9.49995);
}

TEST(LossTrackerTest, ARwThatNeverAnsweredIsAFailedStartNotALoss) {
  Replayed r = Replay({loglines::Start(0), Open(10, true), Connect(20, false), Open(30, false),
                       Connect(40, false)});
  EXPECT_TRUE(r.tracker.Episodes().empty());
  EXPECT_FALSE(r.tracker.Lost());
}

TEST(LossTrackerTest, GoneAtTheEndStaysOpenUpToTheLastEvent) {
  Replayed r =
      Replay({loglines::Start(0), Open(10, true), Connect(20, true), Card(30, 1, 1),
              PortError(1000, 1, 2), PortError(2000, 1, 3), Attempt(2500, 1, 4, 2, 10, "stopped"),
              Event(3000, "stop", "\"reason\":\"signal\"")});
  EXPECT_EQ(r.kinds, "cLLc");  // the stopped attempt is not a loss, nor does it end one
  ASSERT_EQ(r.tracker.Episodes().size(), 1u);
  EXPECT_TRUE(r.tracker.Lost());
  EXPECT_FALSE(r.tracker.Episodes()[0].ended);
  EXPECT_EQ(r.tracker.Episodes()[0].endUs, 3000);
}

// An R/W that stays silent on a working port is a card-finding failure: the
// cable is in, the R/W did not answer.
TEST(LossTrackerTest, SilenceOnAWorkingPortIsNotALoss) {
  Replayed r = Replay({loglines::Start(0), Open(10, true), Connect(20, true),
                       Attempt(30, 1, 1, 3, 120000, "no ACK"), Attempt(40, 1, 2, 2, 100, "no card"),
                       PortError(50, 1, 3), Attempt(60, 1, 4, 3, 120000, "no ACK")});
  EXPECT_EQ(r.kinds, "ccLc");
  ASSERT_EQ(r.tracker.Episodes().size(), 1u);
  EXPECT_TRUE(r.tracker.Episodes()[0].ended);  // the R/W was reached again
  EXPECT_EQ(r.tracker.Episodes()[0].endUs, 60);
}

// A log carried over a restart of the system: the clock starts again lower.
// The span is not made shorter, nor negative.
TEST(LossTrackerTest, AClockThatGoesBackDoesNotShortenASpan) {
  Replayed r = Replay({loglines::Start(1000000), Open(1000010, true), Connect(1000020, true),
                       PortError(1000030, 1, 1), PortError(4000000, 1, 2), loglines::Start(5),
                       Open(6, true), Connect(7, true)});
  ASSERT_EQ(r.tracker.Episodes().size(), 1u);
  EXPECT_EQ(r.tracker.Episodes()[0].startUs, 1000030);
  EXPECT_EQ(r.tracker.Episodes()[0].endUs, 4000000);
  EXPECT_TRUE(r.tracker.Episodes()[0].ended);
}

}  // namespace
