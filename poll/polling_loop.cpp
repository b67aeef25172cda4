#include "poll/polling_loop.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/event_log.h"
#include "link/file_append.h"
#include "platform/platform.h"
#include "poll/result_record.h"

namespace {

constexpr int kBlockSize = 50;
constexpr int kPauseAfterAttemptMs = 4;

const char *MarkOf(PollOutcome outcome) {
  return outcome == PollOutcome::kCard ? "o" : outcome == PollOutcome::kNoCard ? "." : "X";
}

// The console shows this when the result file cannot be opened or created.
#ifdef _WIN32
const char kResultFileError[] =
    "[%s] \x82\xCC\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC9\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94\x73"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n\n";
#else
const char kResultFileError[] = "[%s] のオープンに作成に失敗しました。\n\n";
#endif
// Standard error shows this when records cannot be written to the file,
// and what became of the part of a record that the file took.
const char kResultWriteError[] = "Result file [%s]: %s\n";
const char kResultCutBack[] = "Result file [%s]: the incomplete record was removed\n";
// Standard error shows this when the reader of standard output went away.
const char kOutputClosed[] = "Cannot write to standard output: %s\n";
const char kResultCutFailed[] =
    "Result file [%s]: an incomplete record remains at its end (cannot remove it: %s)\n";

std::string Formatted(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char text[512];
  int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < static_cast<int>(sizeof text)) return length < 0 ? "" : text;
  std::string longer(static_cast<std::size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&longer[0], longer.size(), format, args);
  va_end(args);
  longer.resize(static_cast<std::size_t>(length));
  return longer;
}

int ShowOnConsole(const std::string &text) {
  bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  written = std::fflush(stdout) == 0 && written;
  if (written) return 0;
  int error = errno;
  std::clearerr(stdout);
  return error;
}

class PollingLoop {
 public:
  PollingLoop(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
              const LoopHooks &hooks, std::FILE *file)
      : reader_(reader), poll_(poll), cardIdOut_(cardIdOut), hooks_(hooks), file_(file) {}

  void Run() {
    if (poll_.runForSeconds > 0) {
      deadlineMs_ = NowMs() + static_cast<std::int64_t>(poll_.runForSeconds) * 1000;
    }
    if (KeyPressed()) return;
    while (StepBeforeAttempt()) {
      Attempt();
      hooks_.sleep(kPauseAfterAttemptMs);
      if (KeyPressed()) return;
    }
  }

  // Why the loop ended, for the event log.
  const char *StopReason() const { return stopReason_; }

  void Summary() {
    if (!poll_.repeatRuns && (cardSeen_ || !poll_.failureLimitSet)) return;
    if (attemptsInBlock_ == kBlockSize) PrintFullBlock();
    if (attemptsInRun_ != 0) ReportRun(attemptsInRun_ - failuresInRun_, attemptsInRun_);
  }

  // Reports a failed write on standard error when it begins (not again for
  // each record while the file keeps failing, unless a partial record could
  // not be removed). Polling goes on.
  void NoteFileResult(const AppendOutcome &outcome) {
    if (!outcome.written && !fileFailing_) {
      Say(Formatted(kResultWriteError, poll_.resultPath, outcome.error.c_str()));
      if (outcome.cutBack) Say(Formatted(kResultCutBack, poll_.resultPath));
      writeFailed_ = true;
    }
    if (outcome.cutFailed) {
      Say(Formatted(kResultCutFailed, poll_.resultPath, outcome.cutError.c_str()));
    }
    fileFailing_ = !outcome.written;
  }
  bool WriteFailed() const { return writeFailed_; }
  bool OutputBroken() const { return outputBroken_; }
  bool ReconnectionFailed() const { return reconnectionFailed_; }

 private:
  bool KeyPressed() {
    // Nobody reads the marks any more: end in order, as a stop would.
    if (outputBroken_) return Stop("output closed");
    if (hooks_.keyPressed()) return Stop(platform::StopRequested() ? "signal" : "key");
    // The time is up: the run ends as at a key press. The clock is read only
    // with a limit (a library call, no system call where the system keeps
    // the monotonic clock in user space, as Linux and Windows do).
    if (deadlineMs_ >= 0 && NowMs() >= deadlineMs_) return Stop("time up");
    return false;
  }

  std::int64_t NowMs() const {
    if (hooks_.clockMs) return hooks_.clockMs();
    platform::ClockReading now = platform::ReadClock();
    return now.seconds * 1000 + now.milliseconds;
  }

  // Notes why the loop ends; returns true for KeyPressed.
  bool Stop(const char *reason) {
    stopReason_ = reason;
    return true;
  }

  // The checks before each attempt. Returns false when the loop stops.
  bool StepBeforeAttempt() {
    if (!cardSeen_ && poll_.failureLimitSet && totalFailures_ >= poll_.failureLimit) {
      return !Stop("failure limit");
    }
    if (attemptsInBlock_ != 0 && attemptsInBlock_ % kBlockSize == 0) PrintFullBlock();
    if (attemptsInRun_ != 0 && attemptsInRun_ % poll_.attemptsPerRun == 0) {
      if (!EndRun()) return false;
    }
    return reader_.HasSession() || !Stop("no session");
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
    ++run_;
    if (!poll_.repeatRuns) return !Stop("single run done");
    bool connected = reader_.Reconnect();
    if (hooks_.log) {
      hooks_.log->Write(eventlog::Event("reconnect").Int("run", run_).Flag("ok", connected));
    }
    if (connected) return true;
    // A stop request cuts the reconnection's waits short: the stop ended it,
    // not the R/W.
    if (platform::StopRequested()) return !Stop("signal");
    // The R/W is lost: polling cannot go on, and whoever watches the tool
    // (a person, a script, a station) must learn why.
    Say(reader_.ConnectionFailure() + "\n");
    reconnectionFailed_ = true;
    return !Stop("reconnection failed");
  }

  void Attempt() {
    eventlog::Log *log = hooks_.log;
    std::int64_t start = log ? eventlog::NowUs() : 0;
    if (log) log->BeginAttempt();
    PollResult result = reader_.Poll(0, cardIdOut_);
    eventlog::Failure failure = reader_.LastFailure();
    NotePortFailure(failure);
    if (log) {
      log->EndAttempt(failure);
      LogAttempt(result, failure, eventlog::NowUs() - start);
    }
    if (result.outcome == PollOutcome::kCard) {
      cardSeen_ = true;
    } else {
      ++failuresInBlock_;
      ++failuresInRun_;
      ++totalFailures_;
    }
    Show(MarkOf(result.outcome));  // each mark shows when it is made
    ++attemptsInBlock_;
    ++attemptsInRun_;
  }

  // Says once, when it happens, that the port stopped working; again only
  // after it has worked in between.
  void NotePortFailure(eventlog::Failure failure) {
    bool failed = failure == eventlog::Failure::kPortError;
    if (failed && !portFailing_) {
      Say("The R/W on " + reader_.DeviceName() +
          " stopped answering: " + platform::LastPortError() + "\n");
    }
    portFailing_ = failed;
  }

  void LogAttempt(PollResult result, eventlog::Failure failure, std::int64_t durationUs) const {
    hooks_.log->Write(eventlog::Event("attempt")
                          .Int("run", run_)
                          .Int("n", attemptsInRun_ + 1)
                          .Int("result", result.code)
                          .Text("mark", MarkOf(result.outcome))
                          .Int("us", durationUs)
                          .Text("failure", eventlog::FailureName(failure)));
  }

  void PrintFullBlock() {
    int successes = kBlockSize - failuresInBlock_;
    PrintBlock(successes, kBlockSize, successes * 100 / kBlockSize);
    attemptsInBlock_ = 0;
    failuresInBlock_ = 0;
  }

  void PrintBlock(int successes, int attempts, int percent) {
    Show(Formatted("    [%3d/%3d] %3d%%\n", successes, attempts, percent));
  }

  void ReportRun(int successes, int attempts) {
    double rate = static_cast<double>(successes * 100) / static_cast<double>(attempts);
    Show(Formatted("(TOTAL) [%4d/%4d] ... %6.2lf%%\n\n", successes, attempts, rate));
    char record[kMaxRecordText];
    FormatResultRecord(record, rate, successes, attempts, poll_.recordTag, poll_.commaTerminated);
    if (file_) WriteRecord(record);
    if (eventlog::Log *log = hooks_.log) {
      log->Write(eventlog::Event("run")
                     .Int("run", run_)
                     .Int("successes", successes)
                     .Int("attempts", attempts)
                     .Fixed("rate", rate, 2)
                     .Int("tag", poll_.recordTag)
                     .Text("record", record));
      log->Sync();  // a finished run survives a crash of the system too
    }
  }

  void WriteRecord(const char *record) {
    // Written at once, so that a finished run survives a crash or a kill.
    NoteFileResult(AppendWhole(file_, record, std::strlen(record), false));
  }

  // Only a reader that went away (EPIPE) ends polling; other output errors
  // leave the marks unseen but the figures still count.
  void Show(const std::string &text) {
    if (!text.empty()) marksPending_ = text.back() != '\n';
    if (hooks_.show(text) != EPIPE || outputBroken_) return;
    outputBroken_ = true;
    Say(Formatted(kOutputClosed, std::strerror(EPIPE)));  // best effort
  }

  // Writes a line (with its line feed) to standard error. Where standard
  // error shows in the same place as the marks and a line of marks is
  // pending, that line is ended first, on standard error: the line said
  // stands on its own there, and standard output keeps its bytes. Where the
  // two go to different places, each is a file of whole lines anyway.
  void Say(const std::string &line) {
    bool endMarks = hooks_.errorSharesOutput && marksPending_;
    std::string text = (endMarks ? "\n" : "") + line;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    if (hooks_.errorSharesOutput) marksPending_ = false;
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
  int run_ = 1;  // the run in progress, counted from 1
  const char *stopReason_ = "key";
  bool portFailing_ = false;
  bool marksPending_ = false;
  std::int64_t deadlineMs_ = -1;  // when polling ends by the clock; -1 never  // the console's last
                                  // line holds marks without its end
  bool fileFailing_ = false;
  bool writeFailed_ = false;
  bool outputBroken_ = false;
  bool reconnectionFailed_ = false;
};

}  // namespace

LoopHooks ConsoleLoopHooks(eventlog::Log *log) {
  return LoopHooks{[] { return platform::KeyPressed() || platform::StopRequested(); },
                   [](int ms) { platform::Sleep(ms); }, ShowOnConsole, log,
                   platform::ErrorSharesOutput()};
}

bool RunPollingLoop(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
                    const LoopHooks &hooks) {
  std::FILE *file = nullptr;
  if (poll.resultPath[0] != '\0') {
    file = std::fopen(poll.resultPath, "a+");
    // Each record goes out in one write, so a failed one can be cut back.
    if (file) std::setvbuf(file, nullptr, _IONBF, 0);
    if (!file) {
      int error = errno;
      hooks.show(Formatted(kResultFileError, poll.resultPath));
      std::fprintf(stderr, "Cannot open the result file %s: %s\n", poll.resultPath,
                   std::strerror(error));
      reader.DestroySession();
      return false;
    }
  }
  eventlog::Log *log = hooks.log;
  platform::SetStoppable(true);
  // While polling, a stop request ends the loop in order: the log is written
  // in batches.
  if (log) log->SetBatching(true);
  PollingLoop loop(reader, poll, cardIdOut, hooks, file);
  loop.Run();
  loop.Summary();
  if (log) log->Write(eventlog::Event("stop").Text("reason", loop.StopReason()));
  // The close command waits for its answer as usual, also after a stop
  // request; a second Ctrl-C ends the program at once, so everything so far
  // is written out first and the close's events as they come.
  if (log) log->SetBatching(false);
  platform::SetStoppable(false);
  if (reader.HasSession()) {
    int result = reader.SendClose();
    if (log) log->Write(eventlog::Event("close").Int("result", result));
    reader.DestroySession();
  }
  if (log) log->Sync();
  if (file && std::fclose(file) != 0) {
    AppendOutcome closing;
    closing.written = false;
    closing.error = std::strerror(errno);
    loop.NoteFileResult(closing);
  }
  return !loop.WriteFailed() && !loop.OutputBroken() && !loop.ReconnectionFailed();
}
