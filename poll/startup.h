// The start-up both tools share, up to the connection: idle priority, stop
// handlers, default settings, the empty line, the command line, the event
// log, the banner, and the console made ready for key presses; and what
// both do once connected: poll on the console and end.
#pragma once

#include <cstdint>
#include <optional>

#include "link/event_log.h"
#include "poll/options.h"
#include "poll/reader_binding.h"
#include "poll/settings.h"

// The exit status of a bad word or value on the command line.
constexpr int kUsageErrorStatus = 2;

// Returns nothing when the run goes on; otherwise the exit status of a
// program that ends at once (the usage text or version line asked for: 0;
// an event log that cannot be opened: 1; a command-line error, after the
// usage text: kUsageErrorStatus). Opens `log`, the caller's, when the
// command line asks for an event log.
std::optional<int> StartTool(int argc, char **argv, RunSettings &settings, const ToolTexts &texts,
                             eventlog::Log &log);

// The last step of both tools: writes out the event log (nullptr: none)
// and returns the exit status, 1 instead of `status` when the log could not
// be written (said on standard error).
int EndTool(int status, eventlog::Log *log);

// The steps of both tools once connected: the polling loop on the console,
// then EndTool. Records that could not be written (or a result file that
// could not be opened) fail the exit status: the figures are lost; so does
// a failed reconnection: the R/W was lost.
int PollOnConsole(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
                  eventlog::Log *log);
