// One line of an event log, parsed by a validating JSON reader and checked
// field by field against the log's format (docs/event-log.md): the type and
// range of every documented field of the events rwreport and rwstation
// read, and the format version (eventlog::kOldestReadableVersion to
// eventlog::kFormatVersion).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace logread {

// The longest poll a log may report, one hour: longer is no measurement.
constexpr std::int64_t kMaxAttemptUs = 3600LL * 1000 * 1000;

enum class EventKind {
  kStart,
  kOpen,
  kTx,
  kRx,
  kAuth,
  kConnect,
  kAttempt,
  kRun,
  kReconnect,
  kStop,
  kClose,
  kOther,  // a kind this reader does not know: its common fields only
};

// The fields of one event. Only those of its kind are filled; strings the
// report shows are kept, the others (frames, titles) are only checked.
struct LogEvent {
  int version = 0;
  std::int64_t t = 0;  // microseconds of the monotonic clock
  EventKind kind = EventKind::kOther;

  // start
  std::string tool, toolVersion, port;
  std::string resultFile;        // as the tool's command line named it; empty for none
  bool hasWall = false;          // the tool could not read the clock when false
  std::int64_t wallSeconds = 0;  // `wall` as seconds since 1970-01-01 UTC
  int baud = 0, ackMs = 0, responseMs = 0, attemptsPerRun = 0, tag = -1;
  bool des = false;
  // open, connect
  std::string device;
  bool ok = false;
  std::string error;  // open: why it failed
  // attempt, run, reconnect
  int run = 0, n = 0, result = 0;
  std::int64_t us = 0;
  int failure = 0;  // index into FailureClasses()
  // run
  int successes = 0, attempts = 0;
  double rate = 0;
  // stop
  std::string reason;
};

// The failure class names the tools write, in the order of their enum;
// index 0 is "none".
const std::vector<std::string> &FailureClasses();

// What a line is: an event, or a line refused for its format version (it
// has none, or one this reader does not know), or for anything else.
enum class LineKind { kEvent, kUnknownVersion, kInvalid };

// Parses and checks one line (without its line end). Returns false with the
// reason in `error` (without file and line).
class EventParser {
 public:
  EventParser();
  ~EventParser();
  EventParser(const EventParser &) = delete;
  EventParser &operator=(const EventParser &) = delete;
  bool Parse(std::string_view line, LogEvent *event, std::string *error);
  // The same for a line that may be overwritten: `line[length]` must be a
  // NUL byte. Strings are decoded in place, which is faster.
  bool ParseInPlace(char *line, std::size_t length, LogEvent *event, std::string *error);
  // The same as Parse, saying what kind of line a refused one is.
  LineKind Classify(std::string_view line, LogEvent *event, std::string *error);
  // The "v" of the last line refused for its version, as it was written
  // (a number, a string's text); empty when the line had none.
  const std::string &RefusedVersion() const;

 private:
  LineKind Read(char *line, std::size_t length, LogEvent *event, std::string *error);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace logread
