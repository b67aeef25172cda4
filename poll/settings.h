// The settings of one program run, filled from the command line.
#pragma once

#include <cstdint>

// Room for the longest path of any platform (POSIX allows up to 4095
// characters) with its terminating NUL; the parser applies the platform's
// own limit.
constexpr int kPathCapacity = 4096;

// What the connect routine needs; handed to it by value.
struct ReaderSettings {
  char portPath[5 + kPathCapacity];  // "//.//" and the port name
  std::int32_t baudRate;
  std::uint8_t Ka[8];
  std::uint8_t Kb[8];
  std::int32_t ackTimeoutMs;
  std::int32_t responseTimeoutMs;
  bool desEnabled;
};

// What the polling loop needs.
struct PollSettings {
  std::int32_t attemptsPerRun;
  bool repeatRuns;
  char resultPath[kPathCapacity];
  std::int32_t recordTag;  // -1: records carry no tag
  std::int32_t failureLimit;
  bool failureLimitSet;
  bool commaTerminated;
  bool portGiven;
  char logPath[kPathCapacity];  // event log to append to; "-" standard error; empty none
  bool logAllFrames;            // every frame in the log, not only those of failures
  std::uint32_t runForSeconds;  // polling ends in order after this long; 0 no limit
};

struct RunSettings {
  ReaderSettings reader;
  PollSettings poll;
};

constexpr char kPortPrefix[] = "//.//";
constexpr int kMaxAttemptsPerRun = 1000;
constexpr int kMaxFailureLimit = 1000;
constexpr int kNoRecordTag = -1;
// The longest time to poll for (366 days): a soak, not a service.
constexpr std::uint32_t kMaxRunForSeconds = 366u * 24 * 3600;

// The defaults of both tools. The key defaults are those of the secured R/W.
void SetDefaultReaderSettings(ReaderSettings &reader);
void SetDefaultPollSettings(PollSettings &poll);
