// The polling loop's figures, order and stop rules, with a scripted reader.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

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
// ('o' = 0, '.' = 2, 'X' = 255), and every call is logged.
class ScriptedReader : public ReaderBinding {
 public:
  explicit ScriptedReader(std::string marks, bool reconnects = true)
      : marks_(std::move(marks)), reconnects_(reconnects) {}
  bool HasSession() const override { return session_; }
  int Poll(std::uint8_t timeSlot, std::uint8_t *) override {
    EXPECT_EQ(timeSlot, 0);
    char mark = marks_[polls_++ % marks_.size()];
    return mark == 'o' ? 0 : mark == '.' ? 2 : 255;
  }
  void SendClose() override { log += "close;"; }
  bool Reconnect() override {
    log += "close;reconnect;";
    session_ = reconnects_;
    return reconnects_;
  }
  void DestroySession() override {
    log += "destroy;";
    session_ = false;
  }
  int polls_ = 0;
  std::string log;

 private:
  std::string marks_;
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

// Runs the loop; a key press shows up after `keyAfter` attempts (-1: never;
// 0: before the first).
std::string RunLoop(ScriptedReader &reader, const PollSettings &poll, int keyAfter = -1) {
  std::uint8_t cardId[16] = {};
  LoopHooks hooks{[&] { return keyAfter >= 0 && reader.polls_ >= keyAfter; },
                  [](int ms) { EXPECT_EQ(ms, 4); }};
  ::testing::internal::CaptureStdout();
  RunPollingLoop(reader, poll, cardId, hooks);
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
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

TEST(PollingLoopTest, FailedReconnectionEndsLoop) {
  ScriptedReader reader("o", false);
  std::string out = RunLoop(reader, Settings());
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  EXPECT_EQ(out, block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n");
  EXPECT_EQ(reader.log, "close;reconnect;");  // nothing left to close
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
TEST(PollingLoopTest, UnwritableResultFileIsReportedOnce) {
  PollSettings poll = Settings();
  std::strcpy(poll.resultPath, "/dev/full");
  ScriptedReader reader("o");
  std::uint8_t cardId[16] = {};
  LoopHooks hooks{[&] { return reader.polls_ >= 250; }, [](int) {}};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  bool written = RunPollingLoop(reader, poll, cardId, hooks);
  std::fflush(stdout);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Result file [/dev/full]: No space left on device\n");
  EXPECT_FALSE(written);
  std::string block = Repeat("o", 50) + "    [ 50/ 50] 100%\n";
  std::string run = block + block + "(TOTAL) [ 100/ 100] ... 100.00%\n\n";
  EXPECT_EQ(out, run + run + block + "(TOTAL) [  50/  50] ... 100.00%\n\n");
  EXPECT_EQ(reader.log, "close;reconnect;close;reconnect;close;destroy;");
}

TEST(PollingLoopTest, UnopenableResultFileStopsBeforePolling) {
  PollSettings poll = Settings();
  std::strcpy(poll.resultPath, "/nonexistent-folder/result.csv");
  ScriptedReader reader("o");
  EXPECT_EQ(RunLoop(reader, poll), "[/nonexistent-folder/result.csv] " + kOpenFailedText);
  EXPECT_EQ(reader.polls_, 0);
  EXPECT_EQ(reader.log, "destroy;");  // no close command
}

}  // namespace
