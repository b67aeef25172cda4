// The event log: one JSON object per line for everything a run does (start,
// port opens, frames, authentication steps, attempts, runs, reconnections,
// the stop and the close), for people who want to know why an attempt
// failed. The same definitions write the log (the tools) and read it back
// (rwreport). docs/event-log.md describes the format.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

namespace eventlog {

// Written into every event as "v"; raised when a field changes meaning.
constexpr int kFormatVersion = 1;

// Why an attempt (or a connection step) failed.
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
  kStopped,          // a stop request cut the wait short: not the R/W's failure
};
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

// A log file (or standard error for "-"), buffered: written out when the
// buffer is large, at run ends, at a stop and at exit, so that logging does
// not slow the attempts.
class Log {
 public:
  Log() = default;
  ~Log();
  Log(const Log &) = delete;
  Log &operator=(const Log &) = delete;
  // Returns false (with errno set) when the file cannot be opened.
  bool Open(const char *path);
  void Write(const Event &event);
  // Writes the buffer out. Returns false once any write has failed.
  bool Flush();
  bool Failed() const { return failed_; }
  // The system's reason for the first failed write.
  const std::string &Error() const { return error_; }
  const std::string &Path() const { return path_; }

 private:
  std::FILE *file_ = nullptr;
  bool ownsFile_ = false;
  bool failed_ = false;
  std::string error_;
  std::string path_;
  std::string buffer_;
};

// The log of this process, or nullptr when none was asked for. Every layer
// writes through it; with no log the cost is one test of the pointer.
Log *Current();
void SetCurrent(Log *log);
// Writes `event` to the current log, if any.
void Emit(const Event &event);
// Microseconds of the monotonic clock, the timestamps of the log.
std::int64_t NowUs();

// Reading: the fields of one event line, strings unescaped, numbers, true,
// false and null as their text. Returns false, with a reason, for a line
// that is not one flat JSON object.
using Fields = std::map<std::string, std::string>;
bool ParseLine(std::string_view line, Fields *fields, std::string *error);

}  // namespace eventlog
