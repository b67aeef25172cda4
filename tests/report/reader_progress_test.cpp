// What the station knows of a reader, read from the events its tool logs:
// the state, the figures so far, the last marks and the failures by class;
// how the tool's exit settles it; and lines it must not read as events.
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
  EXPECT_EQ(p.state, ReaderState::kReconnecting);
  EXPECT_EQ(p.cause, "cannot open /dev/x: No such file or directory");
  lines.push_back(Event(32, "reconnect", "\"run\":2,\"ok\":false"));
  lines.push_back(Event(33, "stop", "\"reason\":\"reconnection failed\""));
  p = Replay(lines);
  EXPECT_EQ(p.state, ReaderState::kStopping);
  // A tool that lost its R/W ends with status 0, and has still failed.
  ApplyExit(0, &p);
  EXPECT_EQ(p.state, ReaderState::kFailed);
  EXPECT_EQ(p.cause, "reconnection failed");
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
