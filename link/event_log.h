// The event log: one JSON object per line for everything a run does (start,
// port opens, frames, authentication steps, attempts, runs, reconnections,
// the stop and the close), for people who want to know why an attempt
// failed. The tools write it with these definitions (the writing lives in
// event_log_file.cpp); report/log_event.h reads it back, checked against
// the versions and failure classes named here. docs/event-log.md describes
// the format.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace eventlog {

// Written into every event as "v"; raised when a field changes meaning.
constexpr int kFormatVersion = 2;
// The oldest version a reader of the log still understands; readers take
// this one to kFormatVersion and refuse others.
constexpr int kOldestReadableVersion = 1;

// Why an attempt (or a connection step) failed. Readers accept exactly the
// names FailureName gives these, from kNone to kLastFailure.
enum class Failure {
  kNone,             // it succeeded
  kNoCard,           // the R/W answered: no card
  kNoAck,            // no ACK frame after the command
  kNoResponse,       // an ACK, then no response frame (or a second ACK)
  kBadChecksum,      // a frame whose length or data checksum is wrong
  kBadFrame,         // a data frame where the ACK belonged
  kWrongAnswerCode,  // the answer's code is not the command's code plus 1
  kBadMac,           // a sealed answer whose MAC does not match
  kCounterMismatch,  // a sealed answer with the wrong transaction counter
  kWrongAnswer,      // an answer of the wrong form (too short, bad contents)
  kPortError,        // the port failed (gone, I/O error)
  // An ACK and then no answer from the plain R/W: the way it says that no
  // card is in the field, though a silent R/W looks the same.
  kNoCardOrNoAnswer,
  kStopped,  // a wait cut short by a stop request: not the R/W's failure
};
constexpr Failure kLastFailure = Failure::kStopped;
const char *FailureName(Failure failure);

// One event: "v", "t" (microseconds of the monotonic clock) and "ev" first,
// then the fields in the order they were added.
class Event {
 public:
  explicit Event(const char *kind);
  Event &Text(const char *key, std::string_view value);
  Event &Int(const char *key, long long value);
  // A number with a fixed count of decimals (rates, as records print them).
  Event &Fixed(const char *key, double value, int decimals);
  Event &Flag(const char *key, bool value);
  Event &HexBytes(const char *key, const std::uint8_t *bytes, int count);
  // The whole line, newline included, stamped with `timeUs`.
  std::string Line(std::int64_t timeUs) const;

 private:
  void Key(const char *key);
  std::string kind_;
  std::string fields_;
};

// Which frames (tx and rx events) the log keeps: those of connections and
// of the attempts that explain a failure, or every one.
enum class FrameLogging { kFailures, kAll };

// A log file (or standard error for "-"). Outside a batch every event is
// written at once, so that a program that a signal ends at once (while it
// connects or closes) has written all it did. In a batch (the polling
// loop) events are kept and written out when the buffer is large, at least
// once a second, and at Flush, so that logging does not slow the attempts
// and a kill loses at most about a second. A write that the file takes
// only in part is cut back to whole lines.
class Log {
 public:
  Log() = default;
  ~Log();
  Log(const Log &) = delete;
  Log &operator=(const Log &) = delete;
  // Returns false (with errno set) when the file cannot be opened.
  bool Open(const char *path);
  // This log once it is open, nullptr before: what writers are handed, so
  // that with no log asked for their cost is one test of the pointer.
  Log *IfOpen() { return file_ ? this : nullptr; }
  void SetFrameLogging(FrameLogging frames) { frames_ = frames; }
  // Ends a batch with Flush.
  void SetBatching(bool batching);
  void Write(const Event &event);
  // Between BeginAttempt and EndAttempt frames wait for the attempt's
  // outcome: kept (written before the attempt's own event) when it explains
  // a failure or every frame is logged, dropped otherwise.
  void WriteFrame(const Event &event);
  void BeginAttempt() { inAttempt_ = true; }
  void EndAttempt(Failure outcome);
  // Writes the buffer out. Returns false once any write has failed.
  bool Flush();
  // Flush, then the data forced to the disk (a regular file only).
  bool Sync();
  bool Failed() const { return failed_; }
  // The system's reason for the first failed write.
  const std::string &Error() const { return error_; }
  // A partial line was left at the end of the file: it could not be cut.
  bool PartialLineLeft() const { return partialLeft_; }
  const std::string &Path() const { return path_; }

 private:
  void Append(std::string_view lines);
  void NoteFailure(const std::string &reason);
  std::FILE *file_ = nullptr;
  bool ownsFile_ = false;
  bool batching_ = false;
  bool inAttempt_ = false;
  FrameLogging frames_ = FrameLogging::kFailures;
  bool failed_ = false;
  bool partialLeft_ = false;
  std::string error_;
  std::string path_;
  std::string buffer_;
  std::string attemptFrames_;
  std::int64_t lastFlushUs_ = 0;
};

// Whether an attempt that ended so needs its frames to explain it: not
// after a card or "no card".
bool FramesExplain(Failure outcome);

// Microseconds of the monotonic clock, the timestamps of the log.
std::int64_t NowUs();

}  // namespace eventlog
