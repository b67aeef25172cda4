// The polling loop shared by both tools: marks, block and run figures,
// result records, reconnection between runs, the end summary and closing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/event_log.h"
#include "poll/reader_binding.h"
#include "poll/settings.h"

struct LoopHooks {
  std::function<bool()> keyPressed;  // a key press (or stop request) is waiting
  std::function<void(int)> sleep;    // pause in milliseconds
  // Shows console text at once (marks, block and run figures). Returns 0,
  // or the errno of a failed write: EPIPE when nobody reads it any more.
  std::function<int(const std::string &)> show;
  // The event log that attempts, runs and the stop go to; nullptr for none.
  eventlog::Log *log;
  // Standard error shows where the console text does (one terminal, one
  // file): a line said there while marks are pending on the console's line
  // then starts on a line of its own.
  bool errorSharesOutput = false;
  // A monotonic clock in milliseconds, for a time limit (`runfor`); the
  // platform's when empty.
  std::function<std::int64_t()> clockMs = nullptr;
};

// Key presses and stop signals of the console; the platform's sleep;
// standard output; the tool's event log (nullptr for none); whether
// standard error shares standard output's place.
LoopHooks ConsoleLoopHooks(eventlog::Log *log);

// Opens the result file (if any), polls until a stop condition (a key or
// stop request, the failure limit, the single run's end, a failed
// reconnection, the time limit measured from the start of polling), prints
// the summary and closes the session and the file. Returns false when the
// result file could not be opened, a record could not be written, the
// reader of standard output went away, or a reconnection between runs
// failed (the failure was reported on standard error).
bool RunPollingLoop(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
                    const LoopHooks &hooks);
