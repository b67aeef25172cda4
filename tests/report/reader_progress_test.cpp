// What the station knows of a reader, read from the events its tool logs:
// the state, the figures so far, the last marks and the failures by class;
// how the tool's exit settles it; and lines it must not read as events.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/log_event.h"
#include "report/reader_progress.h"
#include "tests/support/log_lines.h"

namespace {

using loglines::Event;

// The events must be valid: the progress is built on checked events only.
ReaderProgress Replay(const std::vector<std::string> &lines, int *runEnds = nullptr) {
  logread::EventParser parser;
  ReaderProgress progress;
  for (std::string line : lines) {
    line.pop_back();  // the line feed
    logread::LogEvent event;
    std::string error;
    EXPECT_TRUE(parser.Parse(line, &event, &error)) << line << ": " << error;
    if (ApplyEvent(event, &progress) && runEnds) ++*runEnds;
  }
  return progress;
}

// Result codes of an attempt: a card, no card, no ACK.
constexpr int kCard = 0, kNoCard = 2, kNoAck = 3;

std::string Attempt(int n, int result) {
  const char *failure = result == kCard ? "none" : result == kNoCard ? "no card" : "no ACK";
  return loglines::Attempt(10 + n, 1, n, result, 5, failure);
}

const std::string kOpened = Event(2, "open", "\"device\":\"/dev/x\",\"baud\":115200,\"ok\":true");
const std::string kConnected = Event(3, "connect",
                                     "\"device\":\"/dev/x\",\"baud\":115200,\"des\":true,"
                                     "\"ok\":true,\"result\":0,\"failure\":\"none\"");

TEST(ReaderProgressTest, FollowsStatesFiguresMarksAndFailures) {
  int runEnds = 0;
  std::vector<std::string> lines{loglines::Start(1)};
  ReaderProgress p = Replay(lines);
  EXPECT_EQ(p.state, ReaderState::kConnecting);
  lines.push_back(kOpened);
  lines.push_back(kConnected);
  for (int n = 1; n <= 12; ++n) {
    lines.push_back(Attempt(n, n % 4 == 0 ? kNoAck : n == 5 ? kNoCard : kCard));
  }
  p = Replay(lines);
  EXPECT_EQ(p.state, ReaderState::kPolling);
  EXPECT_EQ(p.attempts, 12);
  EXPECT_EQ(p.successes, 8);
  EXPECT_EQ(p.lastMarks, "oX.ooXoooX");
  EXPECT_EQ(FailureSummary(p), "no ACK 3, no card 1");
  lines.push_back(loglines::Run(30, 1, 8, 12, "66.67"));
  lines.push_back(Event(31, "open",
                        "\"device\":\"/dev/x\",\"baud\":115200,\"ok\":false,"
                        "\"error\":\"No such file or directory\""));
  p = Replay(lines, &runEnds);
  EXPECT_EQ(runEnds, 1);
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.lastRun.successes, 8);
  // The port that opened before does not open again: the R/W went away.
  EXPECT_EQ(p.state, ReaderState::kLost);
  EXPECT_EQ(p.cause, "cannot open /dev/x: No such file or directory");
  lines.push_back(Event(32, "reconnect", "\"run\":2,\"ok\":false"));
  lines.push_back(Event(33, "stop", "\"reason\":\"reconnection failed\""));
  p = Replay(lines);
  EXPECT_EQ(p.state, ReaderState::kStopping);
  // A tool that lost its R/W ends with status 0 (or 1): it is lost, not
  // done, and fails once the station gives it up.
  EXPECT_EQ(ApplyExit(0, &p), ToolEnd::kLost);
  EXPECT_EQ(p.state, ReaderState::kLost);
  GiveUpLost(&p);
  EXPECT_EQ(p.state, ReaderState::kFailed);
  EXPECT_EQ(p.cause, "lost R/W");
}

const std::string kGone = Event(0, "open",
                                "\"device\":\"/dev/x\",\"baud\":115200,\"ok\":false,"
                                "\"error\":\"No such file or directory\"");

std::string At(long long t, std::string line) {
  std::size_t from = line.find("\"t\":") + 4;
  return line.replace(from, line.find(',', from) - from, std::to_string(t));
}

std::string PortError(long long t, int run, int n) {
  return loglines::Attempt(t, run, n, 2, 900, "port error");
}

// A cable pulled during a run: the attempts made meanwhile fail with port
// errors; they are no card finding and are counted apart, the run's figures
// as the tool recorded them keep them.
TEST(ReaderProgressTest, AttemptsWithTheRwGoneAreCountedApartFromCardFinding) {
  int runEnds = 0;
  ReaderProgress p =
      Replay({loglines::Start(1), At(2, kOpened), At(3, kConnected), Attempt(1, kCard),
              Attempt(2, kNoCard), Attempt(3, kCard), PortError(20, 1, 4), PortError(21, 1, 5)},
             &runEnds);
  EXPECT_EQ(p.state, ReaderState::kLost);
  EXPECT_EQ(p.attempts, 3);
  EXPECT_EQ(p.successes, 2);
  EXPECT_EQ(p.losses.LossAttempts(), 2);
  EXPECT_EQ(FailureSummary(p), "no card 1");  // no "port error": that is the loss
  EXPECT_EQ(p.lastMarks, "o.o..");            // the marks as the console showed them
  p = Replay({loglines::Start(1), At(2, kOpened), At(3, kConnected), Attempt(1, kCard),
              Attempt(2, kNoCard), Attempt(3, kCard), PortError(20, 1, 4), PortError(21, 1, 5),
              loglines::Run(22, 1, 2, 5, "40.00"), At(30, kOpened), At(31, kConnected),
              Event(32, "reconnect", "\"run\":2,\"ok\":true"), Attempt(40, kCard)},
             &runEnds);
  EXPECT_EQ(runEnds, 1);
  EXPECT_EQ(p.lastRun.attempts, 5);
  EXPECT_EQ(p.lastRun.lossAttempts, 2);
  EXPECT_EQ(p.state, ReaderState::kPolling);
  EXPECT_EQ(p.attempts, 4);
  EXPECT_EQ(p.successes, 3);
  ASSERT_EQ(p.losses.Episodes().size(), 1u);
  EXPECT_FALSE(p.losses.Lost());
  EXPECT_EQ(LostSinceUs(p), std::nullopt);  // not lost now
}

// The tool ended after its reconnection failed; the station started it
// again while the port was still missing, then once more when it was back.
// The figures go on from where they were.
TEST(ReaderProgressTest, StartsAgainAfterALossGoOnWithTheSameFigures) {
  std::vector<std::string> lines{loglines::Start(1000000),
                                 At(1000010, kOpened),
                                 At(1000020, kConnected),
                                 Attempt(1, kCard),
                                 loglines::Run(1000040, 1, 1, 1, "100.00"),
                                 At(61000000, kGone),
                                 Event(61000010, "reconnect", "\"run\":2,\"ok\":false"),
                                 Event(61000020, "stop", "\"reason\":\"reconnection failed\"")};
  ReaderProgress p = Replay(lines);
  EXPECT_EQ(ApplyExit(1, &p), ToolEnd::kLost);
  // The loss began with the port that would not open again, 60 s after
  // the wall-clock time of the start.
  EXPECT_EQ(LostSinceUs(p), std::optional<std::int64_t>((1796625600LL + 60) * 1000000));
  lines.insert(lines.end(), {loglines::Start(70000000), At(70000010, kGone)});
  p = Replay(lines);
  EXPECT_EQ(p.starts, 2);
  EXPECT_EQ(p.state, ReaderState::kLost);
  EXPECT_EQ(p.cause, "cannot open /dev/x: No such file or directory");
  // A start that cannot reach the R/W is still the same loss.
  EXPECT_EQ(ApplyExit(1, &p), ToolEnd::kLost);
  EXPECT_EQ(p.losses.Episodes().size(), 1u);
  lines.insert(lines.end(), {loglines::Start(90000000), At(90000010, kOpened),
                             At(90000020, kConnected), Attempt(2, kNoCard)});
  p = Replay(lines);
  EXPECT_EQ(p.starts, 3);
  EXPECT_EQ(p.state, ReaderState::kPolling);
  EXPECT_EQ(p.cause, "");
  EXPECT_EQ(p.attempts, 2);
  EXPECT_EQ(p.successes, 1);
  ASSERT_EQ(p.losses.Episodes().size(), 1u);
  EXPECT_DOUBLE_EQ(p.losses.LostSeconds(), (90000020 - 61000000) / 1e6);
}

// The figures the station's HTTP face shows: poll durations by bucket, the
// rate in 10 s bins of wall-clock time (the start's `wall` plus `t`), the
// reconnections that worked and the last attempt's time, all carried on
// through a second start of the tool with a clock of its own. The bucket of
// each duration and the unix times are worked out by hand (2026-12-07
// 06:40:00 UTC is 1796625600).
TEST(ReaderProgressTest, KeepsPollDurationsRecentBinsAndReconnectionsAcrossStarts) {
  const long long wall = 1796625600;
  std::vector<std::string> lines{loglines::Start(1),
                                 At(2, kOpened),
                                 At(3, kConnected),
                                 loglines::Attempt(1000000, 1, 1, kCard, 4000, "none"),
                                 loglines::Attempt(12000000, 1, 2, kCard, 15000, "none"),
                                 loglines::Attempt(13000000, 1, 3, kNoCard, 120000, "no card"),
                                 loglines::Attempt(45000000, 1, 4, kNoAck, 2000000, "no ACK"),
                                 loglines::Run(46000000, 1, 2, 4, "50.00"),
                                 loglines::Reconnect(47000000, 2, true),
                                 loglines::Reconnect(48000000, 3, false),
                                 PortError(50000000, 3, 1)};
  ReaderProgress p = Replay(lines);
  EXPECT_EQ(p.reconnections, 1);
  // 4 ms in the first bucket (up to 5 ms), 15 ms in the third (its bound
  // included), 120 ms in the ninth (100 to 150 ms), 2 s above every bound;
  // the attempt with the R/W gone is no poll of card finding.
  std::array<std::uint64_t, 13> counts{1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(p.pollDurations.counts, counts);
  EXPECT_NEAR(p.pollDurations.sumSeconds, 2.139, 1e-9);
  // Bins at wall+0 (1 attempt, a card), +10 (2, one card), +20 and +30
  // (none), +40 (1, no card).
  EXPECT_EQ(p.recent.newestStart, wall + 40);
  EXPECT_EQ(p.recent.attempts, (std::vector<long long>{1, 2, 0, 0, 1}));
  EXPECT_EQ(p.recent.successes, (std::vector<long long>{1, 1, 0, 0, 0}));
  // The port error's attempt is the last one, 50 s after t = 1 us.
  EXPECT_EQ(p.lastAttemptWallUs, std::optional<std::int64_t>(wall * 1000000 + 50000000 - 1));
  // Started again 90 s after the first start, its clock from zero.
  lines.insert(lines.end(),
               {loglines::Start(5, "2026-12-07T06:41:30Z"), At(6, kOpened), At(7, kConnected),
                loglines::Attempt(1000005, 1, 1, kCard, 20000, "none")});
  p = Replay(lines);
  counts[3] = 1;  // 20 ms: 15 to 20 ms
  EXPECT_EQ(p.pollDurations.counts, counts);
  EXPECT_EQ(p.pollDurations.Count(), 5u);
  EXPECT_EQ(p.recent.newestStart, wall + 90);
  EXPECT_EQ(p.recent.attempts, (std::vector<long long>{1, 2, 0, 0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(p.lastAttemptWallUs, std::optional<std::int64_t>((wall + 91) * 1000000));
  EXPECT_EQ(p.reconnections, 1);
}

TEST(ReaderProgressTest, WhatALossMeansAtTheEnd) {
  std::vector<std::string> lost{loglines::Start(1), At(2, kOpened), At(3, kConnected),
                                Attempt(1, kCard), PortError(20, 1, 2)};
  // Stopped by the station while its R/W was gone: it failed so.
  ReaderProgress stopped = Replay(lost);
  stopped.stopAsked = true;
  EXPECT_EQ(ApplyExit(130, &stopped), ToolEnd::kFailed);
  EXPECT_EQ(stopped.state, ReaderState::kFailed);
  EXPECT_EQ(stopped.cause, "lost R/W");
  // An R/W that never answered is a failed start, not a loss.
  ReaderProgress never = Replay({loglines::Start(1), At(2, kGone)});
  EXPECT_EQ(ApplyExit(1, &never), ToolEnd::kFailed);
  EXPECT_EQ(never.cause, "cannot open /dev/x: No such file or directory, exit status 1");
  // A single run that lost its R/W midway and ended in order has failed,
  // also when the R/W answered again before its end.
  lost.insert(lost.end(), {Attempt(3, kCard), loglines::Run(40, 1, 2, 3, "66.67"),
                           Event(41, "stop", "\"reason\":\"single run done\"")});
  ReaderProgress single = Replay(lost);
  EXPECT_EQ(ApplyExit(0, &single), ToolEnd::kDone);
  JudgeSingleRun(&single);
  EXPECT_EQ(single.state, ReaderState::kFailed);
  EXPECT_EQ(single.cause, "lost R/W during its run");
  ReaderProgress clean = Replay({loglines::Start(1), At(2, kOpened), At(3, kConnected),
                                 Attempt(1, kCard), loglines::Run(40, 1, 1, 1, "100.00")});
  EXPECT_EQ(ApplyExit(0, &clean), ToolEnd::kDone);
  JudgeSingleRun(&clean);
  EXPECT_EQ(clean.state, ReaderState::kEnded);
}

TEST(ReaderProgressTest, AFailedConnectionNamesItsFailureAndTheCloseIsSeen) {
  ReaderProgress p = Replay({loglines::Start(1), kOpened,
                             Event(3, "connect",
                                   "\"device\":\"/dev/x\",\"baud\":115200,\"des\":true,"
                                   "\"ok\":false,\"result\":3,\"failure\":\"no ACK\""),
                             Event(4, "close", "\"result\":3")});
  EXPECT_EQ(p.state, ReaderState::kConnecting);
  EXPECT_FALSE(p.connected);
  EXPECT_EQ(p.cause, "no connection: no ACK");
  EXPECT_TRUE(p.closeSent);
}

TEST(ReaderProgressTest, EventsOfAnUnknownFormatVersionAreNotRead) {
  logread::EventParser parser;
  ReaderProgress p;
  EXPECT_FALSE(ApplyLine("{\"v\":99,\"t\":1,\"ev\":\"run\",\"run\":1}", parser, &p));
  EXPECT_EQ(p.cause, "event log format version 99 not understood");
  EXPECT_FALSE(ApplyLine("{\"t\":1,\"ev\":\"attempt\",\"failure\":\"none\"}", parser, &p));
  EXPECT_EQ(p.runs, 0);
  EXPECT_EQ(p.attempts, 0);
  EXPECT_EQ(p.cause, "event log format version  not understood");
}

TEST(ReaderProgressTest, LinesThatAreNoValidEventArePassedOver) {
  logread::EventParser parser;
  ReaderProgress p;
  std::string run = loglines::Run(30, 1, 8, 12, "66.67");
  run.pop_back();
  EXPECT_TRUE(ApplyLine(run, parser, &p));
  // Cut short, a mark that is not the result's, figures out of range, no
  // JSON at all.
  std::string attempt = Attempt(1, kCard);
  attempt.pop_back();
  std::string wrongMark = attempt;
  wrongMark.replace(wrongMark.find("\"mark\":\"o\""), 10, "\"mark\":\"X\"");
  std::string tooMany = run;
  tooMany.replace(tooMany.find("\"attempts\":12"), 13, "\"attempts\":1001");
  for (const std::string &line :
       {attempt.substr(0, 30), wrongMark, tooMany, std::string("not JSON")}) {
    EXPECT_FALSE(ApplyLine(line, parser, &p)) << line;
  }
  EXPECT_FALSE(ApplyLine(attempt, parser, &p));  // an attempt ends no run
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.attempts, 1);
  EXPECT_EQ(p.lastMarks, "o");
  EXPECT_EQ(p.cause, "");
}

TEST(ReaderProgressTest, EndsAccordingToExitStatusAndRuns) {
  ReaderProgress done;
  done.runs = 2;
  done.cause = "signal";
  ApplyExit(0, &done);
  EXPECT_EQ(done.state, ReaderState::kEnded);
  ReaderProgress noPort;
  noPort.cause = "cannot open /dev/x: No such file or directory";
  ApplyExit(1, &noPort);
  EXPECT_EQ(noPort.state, ReaderState::kFailed);
  EXPECT_EQ(noPort.cause, "cannot open /dev/x: No such file or directory, exit status 1");
  ReaderProgress killed;
  killed.runs = 1;
  ApplyExit(137, &killed);
  EXPECT_EQ(killed.cause, "ended by signal 9");
  ReaderProgress nothing;
  ApplyExit(0, &nothing);
  EXPECT_EQ(nothing.state, ReaderState::kFailed);
  EXPECT_EQ(nothing.cause, "no run");

  // Stopped by the station: before it connected, not a signal's fault; after
  // it did, or when connecting had failed already, the usual cause.
  ReaderProgress connecting;
  connecting.stopAsked = true;
  ApplyExit(130, &connecting);
  EXPECT_EQ(connecting.state, ReaderState::kFailed);
  EXPECT_EQ(connecting.cause, "stopped while connecting");
  ReaderProgress polling;
  polling.stopAsked = true;
  polling.connected = true;
  ApplyExit(130, &polling);
  EXPECT_EQ(polling.cause, "ended by signal 2");
  ReaderProgress refused = noPort;
  refused.state = ReaderState::kConnecting;
  refused.cause = "cannot open /dev/x: No such file or directory";
  refused.stopAsked = true;
  ApplyExit(1, &refused);
  EXPECT_EQ(refused.cause, "cannot open /dev/x: No such file or directory, exit status 1");
}

}  // namespace
