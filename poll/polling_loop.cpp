#include "poll/polling_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kBlockSize = 50;
constexpr int kPauseAfterAttemptMs = 4;

// The console shows this when the result file cannot be opened or created.
#ifdef _WIN32
const char kResultFileError[] =
    "[%s] \x82\xCC\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC9\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94\x73"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n\n";
#else
const char kResultFileError[] = "[%s] のオープンに作成に失敗しました。\n\n";
#endif
// Standard error shows this when records cannot be written to the file.
const char kResultWriteError[] = "Result file [%s]: %s\n";

class PollingLoop {
 public:
  PollingLoop(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
              const LoopHooks &hooks, std::FILE *file)
      : reader_(reader), poll_(poll), cardIdOut_(cardIdOut), hooks_(hooks), file_(file) {}

  void Run() {
    if (hooks_.keyPressed()) return;
    while (StepBeforeAttempt()) {
      Attempt();
      hooks_.sleep(kPauseAfterAttemptMs);
      if (hooks_.keyPressed()) return;
    }
  }

  void Summary() {
    if (!poll_.repeatRuns && (cardSeen_ || !poll_.failureLimitSet)) return;
    if (attemptsInBlock_ == kBlockSize) PrintFullBlock();
    if (attemptsInRun_ != 0) ReportRun(attemptsInRun_ - failuresInRun_, attemptsInRun_);
  }

  // Reports a failed write on standard error when it begins (not again for
  // each record while the file keeps failing). Polling goes on.
  void NoteFileResult(bool ok) {
    if (!ok && !fileFailing_) {
      std::fprintf(stderr, kResultWriteError, poll_.resultPath, std::strerror(errno));
      std::fflush(stderr);
      writeFailed_ = true;
    }
    fileFailing_ = !ok;
  }
  bool WriteFailed() const { return writeFailed_; }

 private:
  // The checks before each attempt. Returns false when the loop stops.
  bool StepBeforeAttempt() {
    if (!cardSeen_ && poll_.failureLimitSet && totalFailures_ >= poll_.failureLimit) return false;
    if (attemptsInBlock_ != 0 && attemptsInBlock_ % kBlockSize == 0) PrintFullBlock();
    if (attemptsInRun_ != 0 && attemptsInRun_ % poll_.attemptsPerRun == 0) {
      if (!EndRun()) return false;
    }
    return reader_.HasSession();
  }

  // Returns false when no further run follows.
  bool EndRun() {
    if (poll_.attemptsPerRun % kBlockSize != 0 && attemptsInBlock_ > 0) {
      int successes = attemptsInBlock_ - failuresInBlock_;
      PrintBlock(successes, attemptsInBlock_, successes * 100 / attemptsInBlock_);
    }
    ReportRun(poll_.attemptsPerRun - failuresInRun_, poll_.attemptsPerRun);
    attemptsInRun_ = 0;
    failuresInRun_ = 0;
    if (!poll_.repeatRuns) return false;
    return reader_.Reconnect();
  }

  void Attempt() {
    int result = reader_.Poll(0, cardIdOut_);
    if (result == 0) {
      std::printf("o");
      cardSeen_ = true;
    } else {
      std::printf(result == 2 ? "." : "X");
      ++failuresInBlock_;
      ++failuresInRun_;
      ++totalFailures_;
    }
    std::fflush(stdout);  // each mark shows when it is made
    ++attemptsInBlock_;
    ++attemptsInRun_;
  }

  void PrintFullBlock() {
    int successes = kBlockSize - failuresInBlock_;
    PrintBlock(successes, kBlockSize, successes * 100 / kBlockSize);
    attemptsInBlock_ = 0;
    failuresInBlock_ = 0;
  }

  static void PrintBlock(int successes, int attempts, int percent) {
    std::printf("    [%3d/%3d] %3d%%\n", successes, attempts, percent);
  }

  void ReportRun(int successes, int attempts) {
    double rate = static_cast<double>(successes * 100) / static_cast<double>(attempts);
    std::printf("(TOTAL) [%4d/%4d] ... %6.2lf%%\n\n", successes, attempts, rate);
    std::fflush(stdout);
    if (file_) WriteRecord(rate, successes, attempts);
  }

  void WriteRecord(double rate, int successes, int attempts) {
    bool tagged = poll_.recordTag != kNoRecordTag;
    int written;
    if (poll_.commaTerminated) {
      if (tagged) {
        written = std::fprintf(file_, "%6.2lf%%,%4d,%4d,%4d,", rate, successes, attempts,
                               poll_.recordTag);
      } else {
        written = std::fprintf(file_, "%6.2lf%%,%4d,%4d,", rate, successes, attempts);
      }
    } else if (tagged) {
      written =
          std::fprintf(file_, "%6.2lf%%,%4d,%4d,%4d\n", rate, successes, attempts, poll_.recordTag);
    } else {
      written = std::fprintf(file_, "%6.2lf%%,%4d,%4d\n", rate, successes, attempts);
    }
    // Flushed at once, so that a finished run survives a crash or a kill.
    bool ok = written >= 0 && std::fflush(file_) == 0;
    NoteFileResult(ok);
    if (!ok) std::clearerr(file_);
  }

  ReaderBinding &reader_;
  const PollSettings &poll_;
  std::uint8_t *cardIdOut_;
  const LoopHooks &hooks_;
  std::FILE *file_;
  int attemptsInBlock_ = 0;
  int failuresInBlock_ = 0;
  int attemptsInRun_ = 0;
  int failuresInRun_ = 0;
  int totalFailures_ = 0;
  bool cardSeen_ = false;
  bool fileFailing_ = false;
  bool writeFailed_ = false;
};

}  // namespace

LoopHooks ConsoleLoopHooks() {
  return LoopHooks{[] { return platform::KeyPressed() || platform::StopRequested(); },
                   [](int ms) { platform::Sleep(ms); }};
}

bool RunPollingLoop(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
                    const LoopHooks &hooks) {
  std::FILE *file = nullptr;
  if (poll.resultPath[0] != '\0') {
    file = std::fopen(poll.resultPath, "a+");
    if (!file) {
      std::printf(kResultFileError, poll.resultPath);
      reader.DestroySession();
      return true;
    }
  }
  platform::SetStoppable(true);
  PollingLoop loop(reader, poll, cardIdOut, hooks, file);
  loop.Run();
  loop.Summary();
  // The close command waits for its answer as usual, also after a stop
  // request; a second Ctrl-C ends the program at once.
  platform::SetStoppable(false);
  if (reader.HasSession()) {
    reader.SendClose();
    reader.DestroySession();
  }
  if (file) loop.NoteFileResult(std::fclose(file) == 0);
  return !loop.WriteFailed();
}
