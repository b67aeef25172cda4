// The polling loop's figures, order and stop rules, with a scripted reader.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/event_fields.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

#include "link/event_log.h"
#include "platform/platform.h"
#include "poll/polling_loop.h"

namespace {

// "Opening or creating failed" in Japanese: code page 932 on Windows, whose
// console uses it; UTF-8 elsewhere.
#ifdef _WIN32
const std::string kOpenFailedText =
    "\x82\xCC\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC9\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94\x73"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n\n";
#else
const std::string kOpenFailedText = "のオープンに作成に失敗しました。\n\n";
#endif

// Plays the tool's session slot: poll results come from a pattern of marks
// ('o' = 0, '.' = 2 no card, 'X' = 255 a bad MAC, 'P' = 255 a failed port),
// and every call is logged. Each poll sends a frame to the event log (if
// one is given) that names its mark.
class ScriptedReader : public ReaderBinding {
 public:
  explicit ScriptedReader(std::string marks, bool reconnects = true)
      : marks_(std::move(marks)), reconnects_(reconnects) {}
  bool HasSession() const override { return session_; }
  PollResult Poll(std::uint8_t timeSlot, std::uint8_t *) override {
    EXPECT_EQ(timeSlot, 0);
    mark_ = marks_[polls_++ % marks_.size()];
    if (eventLog) eventLog->WriteFrame(eventlog::Event("tx").Text("mark", std::string(1, mark_)));
    return PollResultOf(mark_ == 'o' ? 0 : mark_ == '.' ? 2 : 255);
  }
  eventlog::Failure LastFailure() const override {
    switch (mark_) {
      case 'o': return eventlog::Failure::kNone;
      case '.': return eventlog::Failure::kNoCard;
      case 'P': return eventlog::Failure::kPortError;
      default: return eventlog::Failure::kBadMac;
    }
  }
  std::string DeviceName() const override { return "/dev/rw-test"; }
  int SendClose() override {
    if (onClose) onClose();
    log += "close;";
    return 0;
  }
  bool Reconnect() override {
    log += "close;reconnect;";
    if (onReconnect) onReconnect();
    session_ = reconnects_;
    return reconnects_;
  }
  std::string ConnectionFailure() const override {
    return "Cannot open /dev/rw-test: No such file or directory";
  }
  void DestroySession() override {
    log += "destroy;";
    session_ = false;
  }
  int polls_ = 0;
  std::string log;
  eventlog::Log *eventLog = nullptr;
  std::function<void()> onClose;
  std::function<void()> onReconnect;

 private:
  std::string marks_;
  char mark_ = 'o';
  bool reconnects_;
  bool session_ = true;
};

PollSettings Settings() {
  PollSettings poll;
  SetDefaultPollSettings(poll);
  return poll;
}

PollSettings SingleRun(int attempts) {
  PollSettings poll = Settings();
  poll.attemptsPerRun = attempts;
  poll.repeatRuns = false;
  return poll;
}

// Collects the console's text; once it holds `closedAfter` characters
// (-1: never), nobody reads it any more.
std::function<int(const std::string &)> Console(std::string *out, int closedAfter = -1) {
  return [out, closedAfter](const std::string &text) {
    if (closedAfter >= 0 && out->size() >= static_cast<std::size_t>(closedAfter)) return EPIPE;
    *out += text;
    return 0;
  };
}

// Runs the loop and returns the console's text; a key press shows up after
// `keyAfter` attempts (-1: never; 0: before the first). `ended` (if given)
// receives the loop's result.
std::string RunLoop(ScriptedReader &reader, const PollSettings &poll, int keyAfter = -1,
                    int closedAfter = -1, bool *ended = nullptr) {
  std::uint8_t cardId[16] = {};
  std::string out;
  LoopHooks hooks{[&] { return keyAfter >= 0 && reader.polls_ >= keyAfter; },
                  [](int ms) { EXPECT_EQ(ms, 4); }, Console(&out, closedAfter), reader.eventLog};
  bool result = RunPollingLoop(reader, poll, cardId, hooks);
  if (ended) *ended = result;
  return out;
}

TEST(PollingLoopTest, SingleRunWithPartialBlock) {
  ScriptedReader reader("o");
  EXPECT_EQ(RunLoop(reader, SingleRun(30)),
            std::string(30, 'o') + "    [ 30/ 30] 100%\n(TOTAL) [  30/  30] ... 100.00%\n\n");
  EXPECT_EQ(reader.log, "close;destroy;");
}

TEST(PollingLoopTest, SingleRunOfOneHundredTwenty) {
  ScriptedReader reader("ooo.o");
  std::string block = Repeat("ooo.o", 10) + "    [ 40/ 50]  80%\n";
  EXPECT_EQ(RunLoop(reader, SingleRun(120)),
            block + block + Repeat("ooo.o", 4) +
                "    [ 16/ 20]  80%\n(TOTAL) [  96/ 120] ...  80.00%\n\n");
}

TEST(PollingLoopTest, RepeatingRunsReconnectAndKeyPressEndsRun) {
  ScriptedReader reader(Repeat("o", 48) + "X.");
  std::string block = Repeat("o", 48) + "X.    [ 48/ 50]  96%\n";
  // Key press during the 173rd attempt: the summary reports 73 attempts.
  std::string out = RunLoop(reader, Settings(), 173);
  std::string expected = block + block + "(TOTAL) [  96/ 100] ...  96.00%\n\n" + block +
                         Repeat("o", 23) + "(TOTAL) [  71/  73] ...  97.26%\n\n";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(reader.log, "close;reconnect;close;destroy;");
}

TEST(PollingLoopTest, FullBlockAtKeyPressIsPrintedBySummary) {
  ScriptedReader reader(".");
  std::string out = RunLoop(reader, Settings(), 50);
  EXPECT_EQ(out, std::string(50, '.') + "    [  0/ 50]   0%\n(TOTAL) [   0/  50] ...   0.00%\n\n");
}

TEST(PollingLoopTest, FailureLimitStopsOnlyWhileNoCardSeen) {
  PollSettings poll = Settings();
  poll.failureLimit = 5;
  poll.failureLimitSet = true;
  ScriptedReader none(".");
  EXPECT_EQ(RunLoop(none, poll), ".....(TOTAL) [   0/   5] ...   0.00%\n\n");
  EXPECT_EQ(none.log, "close;destroy;");

  ScriptedReader firstOnly("o" + std::string(99, 'X'));
  RunLoop(firstOnly, poll, 60);
  EXPECT_EQ(firstOnly.polls_, 60);  // never stopped by the limit

  PollSettings zero = SingleRun(10);
  zero.failureLimit = 0;
  zero.failureLimitSet = true;
  ScriptedReader unused("o");
  EXPECT_EQ(RunLoop(unused, zero), "");
  EXPECT_EQ(unused.polls_, 0);
  EXPECT_EQ(unused.log, "close;destroy;");
}

TEST(PollingLoopTest, SingleRunKeyPressPrintsNoSummary) {
  ScriptedReader reader("o");
  EXPECT_EQ(RunLoop(reader, SingleRun(100), 7), "ooooooo");
  ScriptedReader early("o");
  EXPECT_EQ(RunLoop(early, Settings(), 0), "");
  EXPECT_EQ(early.polls_, 0);
  EXPECT_EQ(early.log, "close;destroy;");
}

// The R/W is lost: the loop ends after the run, says why on standard error
// (the connection's own reason), and reports the failure.
TEST(PollingLoopTest, FailedReconnectionEndsLoopAndFails) {
  ScriptedReader reader("o", false);
  bool ended = true;
  ::testing::internal::CaptureStderr();
  std::string out = RunLoop(reader, Settings(), -1, -1, &ended);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Cannot open /dev/rw-test: No such file or directory\n");
  EXPECT_FALSE(ended);
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  EXPECT_EQ(out, block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n");
  EXPECT_EQ(reader.log, "close;reconnect;");  // nothing left to close

  ScriptedReader reconnecting("o");
  ::testing::internal::CaptureStderr();
  RunLoop(reconnecting, Settings(), 150, -1, &ended);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(ended);
}

TEST(PollingLoopTest, RatesAndRecordFormats) {
  std::string path = ScratchPath("loop_records.csv");
  const struct {
    bool comma;
    int tag;
  } kFormats[] = {{true, -1}, {true, 12}, {false, -1}, {false, 12}};
  for (const auto &format : kFormats) {
    PollSettings poll = SingleRun(7);
    std::strcpy(poll.resultPath, path.c_str());
    poll.commaTerminated = format.comma;
    poll.recordTag = format.tag;
    ScriptedReader reader("oo.o..X");
    EXPECT_EQ(RunLoop(reader, poll),
              "oo.o..X    [  3/  7]  42%\n(TOTAL) [   3/   7] ...  42.86%\n\n");
  }
  EXPECT_EQ(ReadFile(path),
            TextModeBytes(" 42.86%,   3,   7, 42.86%,   3,   7,  12, 42.86%,   3,   "
                          "7\n 42.86%,   3,   7,  12\n"));
}

// Records that cannot be written: one message when the failure begins,
// polling and the console figures go on, and the loop reports the loss.
#ifndef _WIN32  // a full device
TEST(PollingLoopTest, UnwritableResultFileIsReportedOnce) {
  PollSettings poll = Settings();
  std::strcpy(poll.resultPath, "/dev/full");
  ScriptedReader reader("o");
  std::uint8_t cardId[16] = {};
  std::string out;
  LoopHooks hooks{[&] { return reader.polls_ >= 250; }, [](int) {}, Console(&out), nullptr};
  ::testing::internal::CaptureStderr();
  bool written = RunPollingLoop(reader, poll, cardId, hooks);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Result file [/dev/full]: No space left on device\n");
  EXPECT_FALSE(written);
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string run = block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  EXPECT_EQ(out, run + run + block + "(TOTAL) [  50/  50] ... 100.00%\n\n");
  EXPECT_EQ(reader.log, "close;reconnect;close;reconnect;close;destroy;");
}
#endif

// Nobody reads the console any more: the loop ends in order (the partial
// run recorded, the close command sent), says why on standard error once,
// and reports the failure.
TEST(PollingLoopTest, ClosedConsoleEndsTheLoopInOrderAndFails) {
  ScratchDir dir;
  std::string file = dir / "closed_console.csv";
  PollSettings poll = Settings();
  std::strcpy(poll.resultPath, file.c_str());
  ScriptedReader reader("o");
  std::uint8_t cardId[16] = {};
  std::string out;
  LoopHooks hooks{[] { return false; }, [](int) {}, Console(&out, 10), nullptr};
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(RunPollingLoop(reader, poll, cardId, hooks));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Cannot write to standard output: " + std::string(std::strerror(EPIPE)) + "\n");
  EXPECT_EQ(out, Repeat("o", 10));
  EXPECT_EQ(reader.polls_, 11);  // the mark that found the console closed
  EXPECT_EQ(ReadFile(file), "100.00%,  11,  11,");
  EXPECT_EQ(reader.log, "close;destroy;");
}

TEST(PollingLoopTest, UnopenableResultFileStopsBeforePolling) {
  PollSettings poll = Settings();
  std::strcpy(poll.resultPath, "/nonexistent-folder/result.csv");
  ScriptedReader reader("o");
  std::uint8_t cardId[16] = {};
  std::string out;
  LoopHooks hooks{[] { return false; }, [](int) {}, Console(&out), nullptr};
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(RunPollingLoop(reader, poll, cardId, hooks));
  EXPECT_EQ(out, "[/nonexistent-folder/result.csv] " + kOpenFailedText);
  // The reason, in English, on standard error.
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind(
                "Cannot open the result file /nonexistent-folder/result.csv: ", 0),
            0u);
  EXPECT_EQ(reader.polls_, 0);
  EXPECT_EQ(reader.log, "destroy;");  // no close command
}

TEST(PollingLoopTest, PortFailureIsReportedOncePerOutage) {
  ScriptedReader reader("ooPPoPX");
  ::testing::internal::CaptureStderr();
  std::string out = RunLoop(reader, SingleRun(7));
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "ooXXoXX    [  3/  7]  42%\n(TOTAL) [   3/   7] ...  42.86%\n\n");
  const std::string line = "The R/W on /dev/rw-test stopped answering: ";
  std::size_t first = errors.find(line);
  ASSERT_NE(first, std::string::npos) << errors;
  std::size_t second = errors.find(line, first + 1);
  ASSERT_NE(second, std::string::npos) << errors;
  EXPECT_EQ(errors.find(line, second + 1), std::string::npos) << errors;
}

// Where standard error shows with the console (one terminal), a line it
// says while marks are pending starts on a line of its own: the pending
// line is ended on standard error, and the console's text stays as it is.
// Where the two go apart, standard error gets its lines alone.
TEST(PollingLoopTest, LinesOnStandardErrorStandOnTheirOwnAmongTheMarks) {
  const std::string stopped = "The R/W on /dev/rw-test stopped answering: ";
  const std::string lost = "Cannot open /dev/rw-test: No such file or directory\n";
  const std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  const struct {
    const char *name;
    std::string marks;
    int attempts;  // 0: repeating runs, with a reconnection that fails
    bool shared;
    std::string console;
    std::string errors;  // with the port's reason left out
  } kCases[] = {
      {"marks pending, shared", "ooP", 3, true,
       "ooX    [  2/  3]  66%\n(TOTAL) [   2/   3] ...  66.67%\n\n", "\n" + stopped + "\n"},
      {"marks pending, apart", "ooP", 3, false,
       "ooX    [  2/  3]  66%\n(TOTAL) [   2/   3] ...  66.67%\n\n", stopped + "\n"},
      // The block line has just ended the console's line.
      {"at a line's start, shared", Repeat("o", 50) + "P", 51, true,
       block + "X    [  0/  1]   0%\n(TOTAL) [  50/  51] ...  98.04%\n\n", stopped + "\n"},
      // After the run's total line: the reconnection's failure.
      {"after the total, shared", "o", 0, true,
       block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n", lost},
  };
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedReader reader(c.marks, c.attempts != 0);
    PollSettings poll = c.attempts != 0 ? SingleRun(c.attempts) : Settings();
    std::uint8_t cardId[16] = {};
    std::string out;
    LoopHooks hooks{[] { return false; }, [](int) {}, Console(&out), nullptr, c.shared};
    ::testing::internal::CaptureStderr();
    RunPollingLoop(reader, poll, cardId, hooks);
    std::string errors = ::testing::internal::GetCapturedStderr();
    std::string reason = platform::LastPortError();
    std::string expected = c.errors;
    std::size_t at = expected.find(stopped);
    if (at != std::string::npos) expected.insert(at + stopped.size(), reason);
    EXPECT_EQ(out, c.console);
    EXPECT_EQ(errors, expected);
  }
}

// runfor: polling ends in order once the time is up, as at a key press,
// by the clock from the start of polling (reconnections included). The
// test's clock moves 10 ms with every pause after an attempt.
TEST(PollingLoopTest, TimeLimitEndsPollingAsAKeyPressDoes) {
  const std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  const std::string run = block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  const struct {
    const char *name;
    std::uint32_t seconds;
    int attempts;              // 0: repeating runs
    std::int64_t reconnectMs;  // how long each reconnection takes
    std::string console;
    const char *calls;
  } kCases[] = {
      // The time is up right after the 100th attempt: the run's summary
      // comes as at a key press there, without a reconnection.
      {"one run's time", 1, 0, 0, run, "close;destroy;"},
      {"two runs' time", 2, 0, 0, run + run, "close;reconnect;close;destroy;"},
      // The reconnection's 5 s count: one attempt of the second run.
      {"a slow reconnection", 3, 0, 5000, run + "o(TOTAL) [   1/   1] ... 100.00%\n\n",
       "close;reconnect;close;destroy;"},
      // One run: after a card, a stop prints no summary.
      {"a single run", 1, 500, 0, block + Repeat("o", 50), "close;destroy;"},
  };
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.name);
    std::int64_t clock = 86400000;  // the origin is arbitrary
    ScriptedReader reader("o");
    reader.onReconnect = [&] { clock += c.reconnectMs; };
    PollSettings poll = c.attempts != 0 ? SingleRun(c.attempts) : Settings();
    poll.runForSeconds = c.seconds;
    std::uint8_t cardId[16] = {};
    std::string out;
    std::string path = ScratchPath("time_up.jsonl");
    std::remove(path.c_str());
    eventlog::Log log;
    ASSERT_TRUE(log.Open(path.c_str()));
    LoopHooks hooks{[] { return false; }, [&](int) { clock += 10; }, Console(&out), &log, false,
                    [&] { return clock; }};
    EXPECT_TRUE(RunPollingLoop(reader, poll, cardId, hooks));
    EXPECT_EQ(out, c.console);
    EXPECT_EQ(reader.log, c.calls);
    ASSERT_TRUE(log.Flush());
    std::string reason;
    for (auto &e : EventsIn(ReadFile(path))) {
      if (e["ev"] == "stop") reason = e["reason"];
    }
    EXPECT_EQ(reason, "time up");
  }
}

// Without a limit the clock is not even read.
TEST(PollingLoopTest, NoTimeLimitReadsNoClock) {
  ScriptedReader reader("o");
  int reads = 0;
  std::uint8_t cardId[16] = {};
  std::string out;
  LoopHooks hooks{[&] { return reader.polls_ >= 250; },
                  [](int) {},
                  Console(&out),
                  nullptr,
                  false,
                  [&] {
                    ++reads;
                    return std::int64_t{0};
                  }};
  RunPollingLoop(reader, SingleRun(1000), cardId, hooks);
  EXPECT_EQ(reader.polls_, 250);
  EXPECT_EQ(reads, 0);
}

std::string LogPath() { return ScratchPath("loop_events.jsonl"); }

std::vector<EventFields> RunLogged(
    ScriptedReader &reader, const PollSettings &poll, int keyAfter = -1,
    eventlog::FrameLogging frames = eventlog::FrameLogging::kFailures, int closedAfter = -1) {
  std::string path = LogPath();
  std::remove(path.c_str());
  {
    eventlog::Log log;
    EXPECT_TRUE(log.Open(path.c_str()));
    log.SetFrameLogging(frames);
    reader.eventLog = &log;
    RunLoop(reader, poll, keyAfter, closedAfter);
    reader.eventLog = nullptr;
  }
  return EventsIn(ReadFile(path));
}

TEST(PollingLoopTest, EventLogHasEveryAttemptTheRunAndTheStop) {
  ScriptedReader reader("o.X");
  PollSettings poll = SingleRun(7);
  poll.recordTag = 3;
  std::vector<EventFields> events = RunLogged(reader, poll);
  events.erase(
      std::remove_if(events.begin(), events.end(), [](EventFields &e) { return e["ev"] == "tx"; }),
      events.end());
  std::string kinds, marks, failures;
  for (auto &e : events) {
    kinds += e["ev"] + ",";
    if (e["ev"] != "attempt") continue;
    marks += e["mark"];
    failures += e["failure"] + ",";
    EXPECT_EQ(e["run"], "1");
    EXPECT_EQ(e["n"], std::to_string(marks.size()));
    EXPECT_EQ(e["v"], std::to_string(eventlog::kFormatVersion));
  }
  EXPECT_EQ(kinds, Repeat("attempt,", 7) + "run,stop,close,");
  EXPECT_EQ(marks, "o.Xo.Xo");
  EXPECT_EQ(failures, Repeat("none,no card,bad MAC,", 2) + "none,");
  EventFields run = events[7];
  EXPECT_EQ(run["successes"], "3");
  EXPECT_EQ(run["attempts"], "7");
  EXPECT_EQ(run["rate"], "42.86");
  EXPECT_EQ(run["tag"], "3");
  EXPECT_EQ(run["record"], " 42.86%,   3,   7,   3,");
  EXPECT_EQ(events[8]["reason"], "single run done");
  EXPECT_EQ(events[9]["result"], "0");
}

TEST(PollingLoopTest, EventLogSaysWhyTheLoopStopped) {
  PollSettings limited = Settings();
  limited.failureLimit = 2;
  limited.failureLimitSet = true;
  const struct {
    const char *marks;
    PollSettings poll;
    int keyAfter;
    bool reconnects;
    const char *reason;
    const char *reconnections;  // their "ok" fields
    int closedAfter = -1;
  } kCases[] = {
      {"o", Settings(), 130, true, "key", "true,"},
      {".", limited, -1, true, "failure limit", ""},
      {"o", Settings(), -1, false, "reconnection failed", "false,"},
      {"o", Settings(), -1, true, "output closed", "", 20},
  };
  for (const auto &c : kCases) {
    ScriptedReader reader(c.marks, c.reconnects);
    ::testing::internal::CaptureStderr();
    std::vector<EventFields> events =
        RunLogged(reader, c.poll, c.keyAfter, eventlog::FrameLogging::kFailures, c.closedAfter);
    ::testing::internal::GetCapturedStderr();
    std::string reason, reconnects;
    for (auto &e : events) {
      if (e["ev"] == "stop") reason = e["reason"];
      if (e["ev"] == "reconnect") reconnects += e["ok"] + ",";
    }
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(reconnects, c.reconnections) << c.reason;
  }
}

// The marks of the frames and attempts in the log, in order ("tx o", "o").
std::string FramesAndAttempts(std::vector<EventFields> events) {
  std::string seen;
  for (auto &e : events) {
    if (e["ev"] == "tx") seen += "tx " + e["mark"] + ",";
    if (e["ev"] == "attempt") seen += e["mark"] + ",";
  }
  return seen;
}

TEST(PollingLoopTest, FramesAreLoggedWhereTheyExplainAFailure) {
  ScriptedReader some("o.XP");
  ::testing::internal::CaptureStderr();  // the port's failure
  EXPECT_EQ(FramesAndAttempts(RunLogged(some, SingleRun(4))), "o,.,tx X,X,tx P,X,");
  ScriptedReader all("o.XP");
  EXPECT_EQ(FramesAndAttempts(RunLogged(all, SingleRun(4), -1, eventlog::FrameLogging::kAll)),
            "tx o,o,tx .,.,tx X,X,tx P,X,");
  ::testing::internal::GetCapturedStderr();
}

TEST(PollingLoopTest, EverythingIsWrittenBeforeTheCloseCommand) {
  // A second stop request during the close command ends the program at
  // once: what led to the close must be in the file by then.
  // As in the tools, a failed reconnection leaves the new session in the
  // slot, and the close command goes to it.
  struct FailingReconnection : ScriptedReader {
    FailingReconnection() : ScriptedReader("o") {}
    bool Reconnect() override { return !ScriptedReader::Reconnect(); }
  } reader;
  std::string atClose;
  reader.onClose = [&] { atClose = ReadFile(LogPath()); };
  ::testing::internal::CaptureStderr();
  RunLogged(reader, Settings());
  ::testing::internal::GetCapturedStderr();
  EXPECT_NE(atClose.find("\"ev\":\"reconnect\",\"run\":2,\"ok\":false}\n"), std::string::npos)
      << atClose;
  EXPECT_NE(atClose.find("\"ev\":\"stop\",\"reason\":\"reconnection failed\"}\n"),
            std::string::npos);
}

}  // namespace
